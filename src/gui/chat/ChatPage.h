#pragma once

#include <QWidget>
#include <array>
#include <functional>

#include "chat/Transcript.h"
#include "protocol/PeerMessages.h"

class QLabel;
class QMenu;
class QPushButton;
class QTextEdit;

namespace tvx {

struct Session;

// The chat page that both chat windows show: the transcript, the input box with its text
// style, the send and leave buttons, the elapsed-time label and the three picture buttons
// (text colour, font menu, peer info). The window decides what sending, leaving and the peer
// info mean; the page looks after the styling, the menus and the clock itself.
class ChatPage : public QWidget {
    Q_OBJECT

public:
    static constexpr int kInputLimit = kMaxChatTextLength;

    // inputColour is the input box's starting text colour as 0x00BBGGRR; menuPrefix is
    // "mnuCS" or "mnuCR", the names of the window's two menus.
    ChatPage(Session& session, quint32 inputColour, const QString& menuPrefix,
             QWidget* parent = nullptr);

    QTextEdit* rtxChat() const { return m_rtxChat; }

    // The input box's text as typed, with "\r\n" line ends.
    QString InputText() const;
    // Style code of the input box followed by its text: what a chat text carries.
    QString StyledInput() const;
    void ClearInput();
    void FocusInput();
    // What "发送" does in either window: nothing goes out once the peer has left (the user is
    // told so) or when the input holds only blanks; otherwise send gets the styled input and,
    // when it went out, the text is written into the transcript under the user's nickname.
    void SendInput(bool peerPresent, const std::function<bool(const QString&)>& send);

    // The elapsed-time label: the chat's length in seconds as "hh:mm:ss".
    void ShowElapsed(qint64 seconds);
    // Whether the chat's connection is encrypted, with the peer's fingerprint code.
    void ShowSecurity(bool encrypted, const QByteArray& peerFingerprint);

    // Picture buttons: 1 the colour dialog, 2 the font menu at the button.
    void ChooseColourClicked();
    void PopUpFontMenu();

signals:
    void SendClicked();
    void LeaveClicked();
    void PeerInfoClicked();

protected:
    // Ctrl+Enter in the input box sends as the send button does; Enter alone starts a new line.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void LimitInput();

    Session& m_session;
    QTextEdit* m_rtxChat;
    QTextEdit* m_txtChatText;
    std::array<QPushButton*, 3> m_cmdChatDo{};
    QLabel* m_lblChat;
    QLabel* m_lblSecurity;
    std::array<ImageButton*, 4> m_chatButton{};
    QMenu* m_fontMenu;
    QMenu* m_transcriptMenu;
    bool m_limiting = false;
};

}  // namespace tvx

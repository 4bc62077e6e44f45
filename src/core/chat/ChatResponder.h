#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <optional>

#include "common/Messages.h"
#include "protocol/PeerLink.h"

namespace tvx {

struct Session;

// What the user of the answering side is to hear of; the front ends make the words
// (texts/ReceiveTexts.h).
struct ChatAnswerOutcome {
    enum class Kind {
        ConnectionLost,     // socketError; peerName: the caller
        NetworkError,       // socketError: any other failure of the connection
        HistoryNotWritten,  // systemError: the records' own report
    };
    Kind kind = Kind::ConnectionLost;
    SocketError socketError = SocketError::None;
    QString peerName;
    QString systemError;
};

// The answering side of a chat: listens on 9170 of the local address through the shared link
// (handshake, admission with the chat code and the block list, introduction), shows an incoming
// invitation with its 60-second count-down or accepts it at once (automatic chat), and carries
// the chat. One caller at a time; every way out ends in ResetResponder, which listens again.
// There is one per program, made at start-up; the chat accept window shows it.
//
// The chat settings are read from the session at the moment of use, so that the options
// dialog's changes apply to the next caller.
class ChatResponder : public QObject {
    Q_OBJECT

public:
    enum class Phase {
        Listening,   // no caller (or a caller not yet introduced)
        Introduced,  // a caller is introduced; no invitation yet
        Invited,     // the invitation waits for the user (InvitationPending)
        Answered,    // refused (by the user or the count-down); the caller is to close
        Chatting,    // ChatInProgress
    };

    static constexpr int kCountDownSeconds = 60;
    // After a refusal or the user's leave the caller is to close; one that does not is dropped
    // after this long, so that it cannot keep other callers out.
    static constexpr int kCloseGraceMs = 5000;

    explicit ChatResponder(Session& session, QObject* parent = nullptr);
    ~ChatResponder() override;

    // The window's load step: reads the chat settings into the session (LoadChatSettings) and
    // starts listening. False when listening failed; ListenerFailed has then been emitted.
    bool Load();
    // As the program ends: stops listening for good, no signal follows.
    void Shutdown();

    // ---- Decisions ----

    // The user accepts: sends 13 1D and enters the chat.
    void Accept();
    // The user refuses (or closes the invitation): sends 1E 12 with the note trimmed of spaces.
    // The window hides itself; the caller's close then resets.
    void Refuse(const QString& note);
    // The refusal note box's text as typed, sent untrimmed when the count-down runs out. The
    // window keeps it current (for example on every change of the box).
    void SetRefusalNote(const QString& note) { m_refusalNote = note; }
    // The automatic refusal box: the count-down runs exactly while it is ticked; ticking again
    // resumes from the seconds left.
    void SetCountDownRunning(bool on);
    // Sends the styled text (style code + text as typed). True when it went out. False when no
    // chat is in progress (the window warns that the caller has left) or when the send failed
    // (reported by Reported, the responder has reset).
    bool SendChatText(const QString& styledText);
    // The user leaves (after saying Yes): sends 0B 15 when a chat is in progress and marks the
    // leave as the user's, so that the caller's close that follows is not reported as it leaving.
    void Leave();
    // Closes the connection, clears the state and listens again.
    void ResetResponder();
    // The user has seen the waiting invitation (the window came up): it no longer calls for
    // attention, though it still waits for an answer.
    void InvitationSeen();

    // ---- State the window reads ----

    Phase phase() const { return m_phase; }
    bool chatting() const;
    bool invitationWaiting() const;
    // The caller's introduction: TVX address, nickname, sex code, age, phone, e-mail, home page,
    // address, other info. Kept until the next introduction replaces it.
    QStringList peerFields() const { return m_peerFields; }
    // Once introduced: whether the chat runs inside TLS, and the peer's certificate.
    bool encrypted() const { return m_link.encrypted(); }
    QByteArray peerFingerprint() const { return m_link.peerFingerprint(); }
    QString peerNickName() const { return m_peerFields.value(1); }
    QString invitationText() const { return m_invitationText; }
    int countDown() const { return m_countDown; }
    bool countDownRunning() const { return m_timCRAutoRefu.isActive(); }
    int chatKey() const { return m_chatKey; }

    // ---- Seams for tests and the benchmark ----

    PeerLink& link() { return m_link; }
    void SetCloseGraceMs(int milliseconds) { m_timCloseGrace.setInterval(milliseconds); }
    // One tick of the count-down (1000 ms).
    void SetCountDownTickMs(int milliseconds) { m_timCRAutoRefu.setInterval(milliseconds); }

signals:
    // A caller was turned away for its encryption: a plain one where encryption is required or
    // where it was met encrypted before, or one with a certificate other than the pinned one.
    void CallerRejected(tvx::LinkRefusal refusal, const QString& address);
    // An invitation waits for the user: the window shows its invitation page with the caller's
    // card from peerFields() and the text, the automatic refusal ticked. The first
    // CountDown(60) follows; the window is not brought forward (the tray blinks).
    void InvitationReceived(const QString& text, const QString& timestamp);
    // Seconds left of the count-down, as the automatic refusal box shows them.
    void CountDown(int secondsLeft);
    // The count-down ran out and 11 16 went out: the window hides itself.
    void CountDownExpired();
    // The waiting invitation is to be announced on the desktop (the tray icon blinks by the
    // session's activity, which says an invitation waits).
    void BlinkWanted();
    // The chat begins: the window shows its chat page, the elapsed time from zero, the input
    // emptied and the line that the caller entered. Automatically the title names the
    // invitation's time and the window comes forward, the transcript is kept; by hand it is
    // emptied first.
    void ChatEntered(bool automatically, const QString& timestamp);
    // Seconds since the chat began, every second (FormatClock for lblChat).
    void ChatSeconds(qint64 seconds);
    // A chat text from the caller, unscrambled: an 11-character style code and the text. It
    // has at least the style code's length (a shorter one is padded with spaces) and at most
    // kMaxChatTextLength characters of text (a longer one is cut).
    void TextReceived(const QString& styledText);
    // The caller left or closed while the chat was in progress and the user had not left:
    // the window says so and comes forward. ResetDone follows.
    void PeerLeftChat();
    // The connection failed during the chat: the window notes the caller's unexpected leave.
    // Reported follows.
    void ConnectionLost();
    // Something the user is to hear of: a connection that failed after the invitation came,
    // or a history entry not written.
    void Reported(const tvx::ChatAnswerOutcome& outcome);
    // ResetResponder ran: the window hides itself unless keepWindow (a chat ran on it).
    void ResetDone(bool keepWindow);
    // Listening failed (error): the program ends after telling the user. Nothing listens any
    // more.
    void ListenerFailed(SocketError error);

private:
    void OnLinkSocketError(SocketError error);
    void OnLinkReset();
    void OnIntroduced(const QString& addressCode, const QStringList& card);
    void OnMessage(char16_t code, const QString& payload);
    void TakeInvitation(const QString& payload);
    void ShowInvitation();
    void EnterChat(bool automatically);
    // The caller left (19 14) or closed; the link resets itself after a close.
    void PeerLeft(bool linkResetsItself);
    void WriteReceivedInvitationLog();
    bool SendOrFail(const QString& body);
    void HandleConnectionError(SocketError error);
    void CountDownToRefusal();
    void ReportChatTime();
    qint64 Uptime() const;
    QString Timestamp() const;

    Session& m_session;
    PeerLink m_link;
    QTimer m_timCRAutoRefu;
    QTimer m_timCRChat;
    QTimer m_timCloseGrace;

    Phase m_phase = Phase::Listening;
    QStringList m_peerFields;
    QString m_invitationText;
    QString m_refusalNote;
    int m_chatKey = 0;
    int m_countDown = kCountDownSeconds;
    bool m_invitationReceived = false;
    bool m_leftByUser = false;
    bool m_keepWindow = false;
    qint64 m_chatStart = 0;
    // Reported after the reset that follows a connection error.
    std::optional<ChatAnswerOutcome> m_pending;
    SocketError m_listenError = SocketError::None;
    bool m_loaded = false;
    bool m_shuttingDown = false;
};

}  // namespace tvx

#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "chat/InviteFailure.h"
#include "common/Messages.h"
#include "protocol/CallerLink.h"
#include "protocol/PeerLink.h"

namespace tvx {

struct Session;

// The inviting side of a chat: connects to the peer's chat listener (9170), runs the
// handshake, admission and introduction through the shared link, sends the invitation with a
// fresh key, waits for the answer and then carries the chat. It retries a failed connection
// when asked to and gives up on a peer that does not finish the handshake in 20 seconds.
// There is one per program; the chat window shows it.
//
// Everything the window shows comes by signal; every user decision is a call. The window
// checks the address (CheckTargetAddress), saves "Address2"/"Message2" and runs the timed send
// itself, then calls StartInvitation.
class ChatInviter : public QObject {
    Q_OBJECT

public:
    // What the user is shown of the invitation: the input, the progress of connecting and
    // inviting, the chat, or a refusal that stays until the next invitation.
    enum class Stage { Input, Progress, Chat, Refused, AutoRefused };

    enum class Phase {
        Idle,        // nothing open (the input, or a stage kept after an outcome)
        Connecting,  // connection, handshake, admission, introduction
        Inviting,    // the invitation is out; the peer's user decides
        Chatting,    // accepted: texts go both ways (ChatActive)
    };

    // One invitation as the user asked for it.
    struct Request {
        QString peerAddress;       // dotted, as CheckTargetAddress resolved it
        QString shownAddress;      // the address box's text upper-cased; names the peer
        QString typedAddress;      // the address box's text as typed (history log); empty: shown
        QString note;              // the invitation text, line breaks as "\r\n"
        QString verificationCode;  // the typed code; empty when the code box is off or blank
        bool autoRetry = false;    // automatic retry ticked
        int retryLimit = 99;       // the count box's value: attempts in all
        // The user agreed: a known peer's new certificate is taken, a known peer's plain wire
        // is accepted.
        bool acceptNewIdentity = false;
        bool allowPlain = false;
    };

    static constexpr int kProgressPauseMs = 500;

    explicit ChatInviter(Session& session, QObject* parent = nullptr);
    ~ChatInviter() override;

    // ---- Decisions ----

    // Send invitation, after the address check: progress page, step 1, connect. A chat or attempt
    // still open is closed first.
    void StartInvitation(const Request& request);
    // Cancel during the progress (and the close box then): closes and shows the input.
    void Cancel();
    // Send: sends the styled text (style code + text as typed). True when it went out: the
    // window then appends its own chat line. False when no chat is active (the window warns
    // that the peer has left) or when the send failed (reported by Failed). The window
    // tests for an empty text (TrimLines) before calling.
    bool SendChatText(const QString& styledText);
    // Leave, after the user said Yes: input page; when the chat is active, sends 19 14 and marks
    // the leave as the user's, so the close that follows is not reported as the peer leaving.
    void Leave();
    // Closes the connection and clears the state of the chat (ChatActive, AutoReplyText). The
    // stage goes back to the input unless an outcome is being kept.
    void CloseChat();

    // ---- State the window reads ----

    Phase phase() const { return m_phase; }
    Stage stage() const { return m_stage; }
    bool chatting() const;
    // The responder's card: nickname, sex code, age, phone, e-mail, home page, address, other.
    QStringList peerFields() const { return m_peerFields; }
    QString peerNickName() const { return m_peerFields.value(0); }
    // Once introduced: whether the chat runs inside TLS, and the peer's certificate.
    bool encrypted() const { return m_link.encrypted(); }
    QByteArray peerFingerprint() const { return m_link.peerFingerprint(); }
    QString shownAddress() const { return m_request.shownAddress; }
    // The last invitation as the user asked for it.
    const Request& request() const { return m_request; }
    bool acceptedAutomatically() const { return m_acceptedAutomatically; }
    QString autoReplyText() const { return m_autoReplyText; }
    int retryCount() const { return m_caller.retryCount(); }
    int chatKey() const { return m_chatKey; }

    // ---- Seams for tests and the benchmark ----

    void SetPauseMs(int milliseconds) { m_pauseMs = milliseconds; }
    // The texts the peer sent before it saw the user's leave still come by TextReceived until
    // the connection closes (a terminal prints them; the window has closed its chat page).
    void SetTextsAfterLeave(bool on) { m_textsAfterLeave = on; }
    void SetHandshakeTimeout(int milliseconds) { m_link.SetHandshakeTimeout(milliseconds); }
    PeerLink& link() { return m_link; }

signals:
    // The stage to show. Chat, Refused and AutoRefused follow Accepted, Refused and
    // AutoRefused, which carry what is shown; entering the chat (empty transcript and input
    // box, the line of entering, bringing the window up) is the window's on Stage::Chat.
    void StageChanged(tvx::ChatInviter::Stage stage);
    // Progress step 1, 2 or 3 (the marker and the bold label); steps 2 and 3 come after the
    // 500 ms pause. Step 1's label names shownAddress().
    void StepChanged(int step);
    // Seconds since the invitation: 0 with step 3, then every second while waiting for the
    // answer.
    void WaitSeconds(qint64 seconds);
    // An automatic retry is about to connect again; count is 1 for the first retry.
    void Retrying(int count);
    // Seconds since the chat began, every second of the chat (FormatClock for lblChat).
    void ChatSeconds(qint64 seconds);

    // The peer's user accepted (automatically: with its auto-reply text). StageChanged(Chat)
    // follows at once.
    void Accepted(bool automatically, const QString& autoReplyText);
    // Refused by the peer's user with the note (trimmed by the peer); StageChanged(Refused)
    // follows.
    void Refused(const QString& note);
    // Refused by the peer's count-down (the note that came with it is not shown: the page
    // says the peer's user may be away); StageChanged(AutoRefused) follows.
    void AutoRefused(const QString& note);
    // A chat text from the peer, unscrambled: an 11-character style code and the text. It has
    // at least the style code's length (a shorter one is padded with spaces) and at most
    // kMaxChatTextLength characters of text (a longer one is cut).
    void TextReceived(const QString& styledText);
    // The peer left the chat or closed the connection while the chat was active and the user
    // had not left: the status and the line that the peer left, ActivateWindow. The chat
    // page stays (Phase::Idle, chatting() false).
    void PeerLeftChat();
    // The connection failed during the active chat: the line of the peer's unexpected leave.
    // Failed follows.
    void ConnectionLost();
    // The invitation or the chat was closed for this reason; the state has already been
    // closed when it comes.
    void Failed(const tvx::InviteFailure& failure);
    // The history log could not take the invitation; the invitation stands. The warning.
    void LogWriteFailed(const QString& warning);
    // The chat state was cleared (CloseChat); chatting() is now false.
    void ChatClosed();

private:
    void ConnectToPeer();
    void OnLinkReset();
    void OnIntroduced(const QStringList& peerCard);
    void SendInvitation();
    void BeginWaiting();
    void OnMessage(char16_t code, const QString& payload);
    void EnterChat(bool automatically, const QString& autoReplyText);
    void ShowOutcome(Stage stage);
    void PeerLeft();
    void HandleConnectionError(SocketError error);
    InviteFailure FailureOf(InviteFailure::Kind kind) const;
    void WriteInvitationLog();
    void ShowStage(Stage stage);
    void CloseAndReport(const InviteFailure& failure);
    void OnHandshakeTimedOut();
    void ReportWaiting();
    void ReportChatTime();
    qint64 Uptime() const;
    void After(int milliseconds, void (ChatInviter::*step)());

    Session& m_session;
    CallerLink m_caller;
    PeerLink& m_link;
    QTimer m_timWait;
    QTimer m_timCSChat;

    Request m_request;
    Phase m_phase = Phase::Idle;
    Stage m_stage = Stage::Input;
    QStringList m_peerFields;
    int m_chatKey = 0;
    bool m_acceptedAutomatically = false;
    QString m_autoReplyText;
    bool m_keepStage = false;
    bool m_leftByUser = false;
    qint64 m_waitStart = 0;
    qint64 m_chatStart = 0;

    // Each close starts a new generation; a paused step of an older one does nothing.
    quint64 m_generation = 0;
    bool m_closing = false;
    int m_pauseMs = kProgressPauseMs;
    bool m_textsAfterLeave = false;
};

}  // namespace tvx

#include "chat/ChatResponder.h"

#include "common/Format.h"
#include "common/Messages.h"
#include "platform/SocketErrors.h"
#include "protocol/Codes.h"
#include "protocol/PeerMessages.h"
#include "protocol/Wire.h"
#include "records/AddressFiles.h"
#include "records/HistoryLog.h"
#include "records/Settings.h"
#include "session/Session.h"
#include "texts/ReceiveTexts.h"
#include "texts/SecurityTexts.h"

namespace tvx {

namespace {

using C = ProtocolCodes;

bool IsBrokenConnection(SocketError error) {
    return error == SocketError::ConnectionAborted || error == SocketError::ConnectionReset ||
           error == SocketError::WrongState;
}

}  // namespace

ChatResponder::ChatResponder(Session& session, QObject* parent)
    : QObject(parent), m_session(session), m_link(PeerRole::ChatResponder, session.linkContext) {
    m_timCRAutoRefu.setInterval(1000);
    m_timCRChat.setInterval(1000);
    m_timCloseGrace.setInterval(kCloseGraceMs);
    m_timCloseGrace.setSingleShot(true);
    connect(&m_timCRAutoRefu, &QTimer::timeout, this, &ChatResponder::CountDownToRefusal);
    connect(&m_timCRChat, &QTimer::timeout, this, &ChatResponder::ReportChatTime);
    connect(&m_timCloseGrace, &QTimer::timeout, this, &ChatResponder::ResetResponder);

    connect(&m_link, &PeerLink::SocketFailed, this, &ChatResponder::OnLinkSocketError);
    connect(&m_link, &PeerLink::ResetDone, this, &ChatResponder::OnLinkReset);
    connect(&m_link, &PeerLink::CallerRejected, this, &ChatResponder::CallerRejected);
    connect(&m_link, &PeerLink::Introduced, this, &ChatResponder::OnIntroduced);
    connect(&m_link, &PeerLink::MessageReceived, this, &ChatResponder::OnMessage);
    connect(&m_link, &PeerLink::PeerClosed, this, [this] { PeerLeft(true); });
}

ChatResponder::~ChatResponder() {
    Shutdown();
}

bool ChatResponder::chatting() const {
    return m_phase == Phase::Chatting;
}

bool ChatResponder::invitationWaiting() const {
    return m_phase == Phase::Invited;
}

qint64 ChatResponder::Uptime() const {
    return UptimeSeconds(m_session.system().UptimeMs());
}

QString ChatResponder::Timestamp() const {
    return ChatTimestamp(m_session.system().Now());
}

// ---- Listening and reset ----

bool ChatResponder::Load() {
    LoadChatSettings(m_session.store(), m_session.settings);
    m_loaded = true;
    m_shuttingDown = false;
    const SocketError error = m_link.Listen();
    if (error == SocketError::None)
        return true;
    emit ListenerFailed(error);
    return false;
}

void ChatResponder::Shutdown() {
    m_shuttingDown = true;
    m_timCRAutoRefu.stop();
    m_timCRChat.stop();
    m_timCloseGrace.stop();
    m_link.Stop();
    if (m_phase == Phase::Chatting)
        m_session.activity.SetAcceptWindowChatting(false);
    if (m_phase == Phase::Invited)
        m_session.activity.SetInvitationWaiting(false);
    m_phase = Phase::Listening;
}

void ChatResponder::InvitationSeen() {
    m_session.activity.SetInvitationWaiting(false);
}

void ChatResponder::ResetResponder() {
    m_link.Reset();
}

// Runs after every reset of the link, whoever started it; the link listens again by itself.
void ChatResponder::OnLinkReset() {
    m_timCRAutoRefu.stop();
    m_timCRChat.stop();
    m_timCloseGrace.stop();
    if (m_phase == Phase::Chatting)
        m_session.activity.SetAcceptWindowChatting(false);
    if (m_phase == Phase::Invited)
        m_session.activity.SetInvitationWaiting(false);
    m_phase = Phase::Listening;
    m_leftByUser = false;
    m_invitationReceived = false;
    if (m_shuttingDown)
        return;
    const bool keepWindow = m_keepWindow;
    m_keepWindow = false;
    emit ResetDone(keepWindow);

    if (m_loaded && m_link.state() != PeerLink::State::Listening) {
        const SocketError error =
            m_listenError != SocketError::None ? m_listenError : SocketError::WrongState;
        m_listenError = SocketError::None;
        m_pending.reset();
        emit ListenerFailed(error);
        return;
    }
    if (m_pending) {
        const ChatAnswerOutcome outcome = *m_pending;
        m_pending.reset();
        emit Reported(outcome);
    }
}

void ChatResponder::OnLinkSocketError(SocketError error) {
    // Listening again after a reset failed: the reset that is under way reports it.
    if (m_link.state() == PeerLink::State::Idle) {
        m_listenError = error;
        return;
    }
    // A connection's error; the link resets right after this.
    HandleConnectionError(error);
}

void ChatResponder::HandleConnectionError(SocketError error) {
    if (m_leftByUser || m_phase == Phase::Answered)
        return;  // the user has left or refused; the end of the connection is no news
    if (chatting() && IsBrokenConnection(error))
        emit ConnectionLost();
    // Errors before an invitation are not reported.
    if (!m_invitationReceived)
        return;
    ChatAnswerOutcome outcome;
    outcome.kind = IsBrokenConnection(error) ? ChatAnswerOutcome::Kind::ConnectionLost
                                             : ChatAnswerOutcome::Kind::NetworkError;
    outcome.socketError = error;
    outcome.peerName = peerNickName();
    m_pending = outcome;
}

bool ChatResponder::SendOrFail(const QString& body) {
    const SocketError error = m_link.Send(body);
    if (error == SocketError::None)
        return true;
    HandleConnectionError(error);
    ResetResponder();
    return false;
}

// ---- The caller ----

void ChatResponder::OnIntroduced(const QString& addressCode, const QStringList& card) {
    m_peerFields = QStringList{addressCode} + card;
    m_phase = Phase::Introduced;
}

void ChatResponder::OnMessage(char16_t code, const QString& payload) {
    switch (code) {
        case C::ChatInvitation:
            // One invitation per connection.
            if (m_phase != Phase::Introduced)
                break;
            TakeInvitation(payload);
            return;
        case C::InitiatorText:
            if (m_phase != Phase::Chatting)
                break;
            // After the user's leave the texts still on their way have nowhere to go.
            if (!m_leftByUser)
                emit TextReceived(ReceivedChatText(payload, m_chatKey));
            return;
        case C::InitiatorLeaves:
            PeerLeft(false);
            return;
        default:
            break;
    }
    ResetResponder();
}

void ChatResponder::TakeInvitation(const QString& payload) {
    // A key that is not a whole number from 1 to 254 cannot be a real invitation.
    const std::optional<ChatInvitation> invitation = ParseInvitation(payload);
    if (!invitation) {
        ResetResponder();
        return;
    }
    m_invitationReceived = true;
    m_invitationText = invitation->text;
    m_chatKey = invitation->key;
    if (!m_session.settings.autoChat) {
        ShowInvitation();
        return;
    }
    QString reply = m_session.settings.autoChatTip;
    if (reply.isEmpty())
        reply = kDefaultAutoChatTip;
    if (!SendOrFail(BuildInvitationAcceptedAuto(reply)))
        return;
    EnterChat(true);
    WriteReceivedInvitationLog();
}

void ChatResponder::ShowInvitation() {
    m_phase = Phase::Invited;
    m_countDown = kCountDownSeconds;
    m_session.activity.SetInvitationWaiting(true);
    emit InvitationReceived(m_invitationText, Timestamp());
    emit CountDown(m_countDown);
    m_timCRAutoRefu.start();
    WriteReceivedInvitationLog();
    if (m_phase == Phase::Invited)
        emit BlinkWanted();
}

void ChatResponder::WriteReceivedInvitationLog() {
    const QString note = m_invitationText.isEmpty() ? EmptyNoteText() : m_invitationText;
    const QString warning = AppendLogEntryQuietly(
        m_session, LogEvent::ChatReceived, {m_peerFields.value(1), m_peerFields.value(0), note},
        encrypted() ? EncryptionLine(true, peerFingerprint()) : QString());
    if (!warning.isEmpty()) {
        ChatAnswerOutcome outcome;
        outcome.kind = ChatAnswerOutcome::Kind::HistoryNotWritten;
        outcome.peerName = peerNickName();
        outcome.systemError = warning;
        emit Reported(outcome);
    }
}

// ---- The user's answer ----

void ChatResponder::SetCountDownRunning(bool on) {
    if (m_phase != Phase::Invited)
        return;
    if (on && !m_timCRAutoRefu.isActive()) {
        m_timCRAutoRefu.start();
    } else if (!on) {
        m_timCRAutoRefu.stop();
    }
}

void ChatResponder::CountDownToRefusal() {
    if (m_phase != Phase::Invited) {
        m_timCRAutoRefu.stop();
        return;
    }
    --m_countDown;
    emit CountDown(m_countDown);
    if (m_countDown > 0)
        return;
    m_timCRAutoRefu.stop();
    m_phase = Phase::Answered;
    m_session.activity.SetInvitationWaiting(false);
    emit CountDownExpired();
    if (SendOrFail(BuildInvitationRefusedAuto(m_refusalNote)))
        m_timCloseGrace.start();
}

void ChatResponder::Accept() {
    if (m_phase != Phase::Invited)
        return;
    m_session.activity.SetInvitationWaiting(false);
    m_timCRAutoRefu.stop();
    if (SendOrFail(BuildInvitationAccepted()))
        EnterChat(false);
}

void ChatResponder::Refuse(const QString& note) {
    if (m_phase != Phase::Invited)
        return;
    m_timCRAutoRefu.stop();
    m_phase = Phase::Answered;
    m_session.activity.SetInvitationWaiting(false);
    if (SendOrFail(BuildInvitationRefused(note)))
        m_timCloseGrace.start();
}

void ChatResponder::EnterChat(bool automatically) {
    m_timCRAutoRefu.stop();
    m_phase = Phase::Chatting;
    m_session.activity.SetInvitationWaiting(false);
    m_session.activity.SetAcceptWindowChatting(true);
    m_keepWindow = true;
    m_chatStart = Uptime();
    m_timCRChat.start();
    emit ChatEntered(automatically, Timestamp());
}

// ---- Chat ----

bool ChatResponder::SendChatText(const QString& styledText) {
    if (!chatting() || m_leftByUser)
        return false;
    return SendOrFail(MessageBody(C::ResponderText, ScrambleChatText(styledText, m_chatKey)));
}

void ChatResponder::ReportChatTime() {
    emit ChatSeconds(Uptime() - m_chatStart);
}

void ChatResponder::Leave() {
    if (!chatting() || m_leftByUser)
        return;
    m_leftByUser = true;
    if (SendOrFail(BuildResponderLeaves()))
        m_timCloseGrace.start();
}

void ChatResponder::PeerLeft(bool linkResetsItself) {
    if (chatting() && !m_leftByUser)
        emit PeerLeftChat();
    if (!linkResetsItself)
        ResetResponder();
}

}  // namespace tvx

#include "chat/ChatInviter.h"

#include "common/Format.h"
#include "common/Handshake.h"
#include "common/Messages.h"
#include "platform/SocketErrors.h"
#include "protocol/Codes.h"
#include "protocol/PeerMessages.h"
#include "protocol/Wire.h"
#include "records/HistoryLog.h"
#include "session/Session.h"
#include "texts/SecurityTexts.h"

namespace tvx {

namespace {

using C = ProtocolCodes;

}  // namespace

ChatInviter::ChatInviter(Session& session, QObject* parent)
    : QObject(parent),
      m_session(session),
      m_caller(PeerRole::ChatInitiator, session.linkContext),
      m_link(m_caller.link()) {
    // Every message of the link goes to the window by Failure.
    m_timWait.setInterval(1000);
    m_timCSChat.setInterval(1000);
    connect(&m_timWait, &QTimer::timeout, this, &ChatInviter::ReportWaiting);
    connect(&m_timCSChat, &QTimer::timeout, this, &ChatInviter::ReportChatTime);

    connect(&m_link, &PeerLink::ResetDone, this, &ChatInviter::OnLinkReset);
    connect(&m_link, &PeerLink::Refused, this, [this](LinkRefusal refusal, const QString& note) {
        InviteFailure failure = FailureOf(InviteFailure::Kind::LinkRefused);
        failure.refusal = refusal;
        failure.note = note;
        failure.peerFingerprint = m_link.peerFingerprint();
        failure.pinnedFingerprint = m_link.pinnedFingerprint();
        CloseAndReport(failure);
    });
    connect(&m_link, &PeerLink::ConnectionBroken, this,
            [this] { CloseAndReport(FailureOf(InviteFailure::Kind::ProtocolBroken)); });
    connect(&m_caller, &CallerLink::HandshakeTimedOut, this, &ChatInviter::OnHandshakeTimedOut);
    connect(&m_caller, &CallerLink::RetryDue, this, [this](int attempt) {
        emit Retrying(attempt);
        ConnectToPeer();
    });
    connect(&m_caller, &CallerLink::RetriesUsedUp, this, [this] {
        m_keepStage = false;
        CloseAndReport(FailureOf(InviteFailure::Kind::RetriesUsedUp));
    });
    connect(&m_link, &PeerLink::Introduced, this,
            [this](const QString&, const QStringList& card) { OnIntroduced(card); });
    connect(&m_link, &PeerLink::MessageReceived, this, &ChatInviter::OnMessage);
    connect(&m_link, &PeerLink::PeerClosed, this, [this] { PeerLeft(); });
    connect(&m_link, &PeerLink::SocketFailed, this, &ChatInviter::HandleConnectionError);
}

ChatInviter::~ChatInviter() {
    m_closing = true;
    m_link.Reset();
    if (m_phase == Phase::Chatting)
        m_session.activity.SetInviteWindowChatting(false);
}

bool ChatInviter::chatting() const {
    return m_phase == Phase::Chatting;
}

qint64 ChatInviter::Uptime() const {
    return UptimeSeconds(m_session.system().UptimeMs());
}

void ChatInviter::After(int milliseconds, void (ChatInviter::*step)()) {
    const quint64 generation = m_generation;
    QTimer::singleShot(milliseconds, this, [this, generation, step] {
        if (generation == m_generation)
            (this->*step)();
    });
}

void ChatInviter::ShowStage(Stage stage) {
    m_stage = stage;
    emit StageChanged(stage);
}

// ---- Starting ----

void ChatInviter::StartInvitation(const Request& request) {
    if (m_phase != Phase::Idle) {
        m_keepStage = false;
        CloseChat();
    }
    m_request = request;
    if (m_request.typedAddress.isEmpty())
        m_request.typedAddress = m_request.shownAddress;
    m_caller.RestartCount();
    m_caller.SetRetryPolicy(m_request.autoRetry, m_request.retryLimit);
    emit StepChanged(1);
    ShowStage(Stage::Progress);
    ConnectToPeer();
}

void ChatInviter::ConnectToPeer() {
    ++m_generation;
    m_closing = true;
    m_link.Reset();
    m_closing = false;
    m_peerFields.clear();
    m_phase = Phase::Connecting;
    m_link.SetTrust(m_request.acceptNewIdentity, m_request.allowPlain);
    const SocketError error = m_caller.Dial(m_request.peerAddress, m_request.verificationCode);
    if (error != SocketError::None)
        HandleConnectionError(error);
}

void ChatInviter::OnLinkReset() {
    // The link gives up silently on a failed handshake or introduction; the chat follows it.
    // Closes made here, and a retry about to start, are not followed.
    if (m_closing || m_caller.retryPending() || m_phase == Phase::Idle)
        return;
    CloseChat();
}

void ChatInviter::OnHandshakeTimedOut() {
    if (m_phase != Phase::Connecting)
        return;
    CloseAndReport(FailureOf(InviteFailure::Kind::HandshakeTimedOut));
}

// ---- The invitation ----

void ChatInviter::OnIntroduced(const QStringList& peerCard) {
    if (m_phase != Phase::Connecting)
        return;
    m_peerFields = peerCard;
    After(m_pauseMs, &ChatInviter::SendInvitation);
}

void ChatInviter::SendInvitation() {
    if (m_phase != Phase::Connecting || m_link.state() != PeerLink::State::Introduced)
        return;
    emit StepChanged(2);
    m_chatKey = DrawScrambleKey();
    const SocketError error = m_link.Send(BuildInvitation({m_request.note, m_chatKey}));
    if (error != SocketError::None) {
        HandleConnectionError(error);
        return;
    }
    m_phase = Phase::Inviting;
    After(m_pauseMs, &ChatInviter::BeginWaiting);
    WriteInvitationLog();
}

void ChatInviter::BeginWaiting() {
    if (m_phase != Phase::Inviting)
        return;
    emit StepChanged(3);
    emit WaitSeconds(0);
    m_waitStart = Uptime();
    m_timWait.start();
}

void ChatInviter::ReportWaiting() {
    emit WaitSeconds(Uptime() - m_waitStart);
}

void ChatInviter::WriteInvitationLog() {
    // The invitation stays sent whether or not the entry could be written.
    const QString warning = AppendLogEntryQuietly(
        m_session, LogEvent::ChatSent, {m_request.typedAddress, m_request.note},
        encrypted() ? EncryptionLine(true, peerFingerprint()) : QString());
    if (!warning.isEmpty())
        emit LogWriteFailed(warning);
}

// ---- Answers and chat ----

void ChatInviter::OnMessage(char16_t code, const QString& payload) {
    switch (code) {
        case C::InvitationAccepted:
        case C::InvitationAcceptedAuto:
            if (m_phase != Phase::Inviting)
                break;
            EnterChat(code == C::InvitationAcceptedAuto,
                      code == C::InvitationAcceptedAuto ? payload : QString());
            return;
        case C::InvitationRefused:
            if (m_phase != Phase::Inviting)
                break;
            emit Refused(payload);
            ShowOutcome(Stage::Refused);
            return;
        case C::InvitationRefusedAuto:
            if (m_phase != Phase::Inviting)
                break;
            emit AutoRefused(payload);
            ShowOutcome(Stage::AutoRefused);
            return;
        case C::ResponderText:
            if (m_phase != Phase::Chatting)
                break;
            // After the user's leave the texts still on their way have nowhere to go, unless
            // the owner asked for them.
            if (!m_leftByUser || m_textsAfterLeave)
                emit TextReceived(ReceivedChatText(payload, m_chatKey));
            return;
        case C::ResponderLeaves:
            PeerLeft();
            return;
        default:
            break;
    }
    // An answer out of its place: the peer does not follow the conversation.
    CloseAndReport(FailureOf(InviteFailure::Kind::ProtocolBroken));
}

void ChatInviter::EnterChat(bool automatically, const QString& autoReplyText) {
    m_timWait.stop();
    m_acceptedAutomatically = automatically;
    m_autoReplyText = autoReplyText;
    m_phase = Phase::Chatting;
    m_session.activity.SetInviteWindowChatting(true);
    m_keepStage = true;
    m_chatStart = Uptime();
    m_timCSChat.start();
    emit Accepted(automatically, autoReplyText);
    ShowStage(Stage::Chat);
}

void ChatInviter::ShowOutcome(Stage stage) {
    m_keepStage = true;
    CloseChat();
    ShowStage(stage);
}

bool ChatInviter::SendChatText(const QString& styledText) {
    if (m_phase != Phase::Chatting || !chatting() || m_leftByUser)
        return false;
    const SocketError error =
        m_link.Send(MessageBody(C::InitiatorText, ScrambleChatText(styledText, m_chatKey)));
    if (error != SocketError::None) {
        HandleConnectionError(error);
        return false;
    }
    return true;
}

void ChatInviter::ReportChatTime() {
    emit ChatSeconds(Uptime() - m_chatStart);
}

// ---- Leaving ----

void ChatInviter::Leave() {
    ShowStage(Stage::Input);
    if (m_phase != Phase::Chatting || !chatting() || m_leftByUser)
        return;
    // The responder closes the connection on 19 14; that close is not the peer leaving.
    m_leftByUser = true;
    const SocketError error = m_link.Send(BuildInitiatorLeaves());
    if (error != SocketError::None)
        HandleConnectionError(error);
}

void ChatInviter::PeerLeft() {
    if (m_phase == Phase::Idle)
        return;
    if (m_phase == Phase::Chatting && chatting() && !m_leftByUser)
        emit PeerLeftChat();
    CloseChat();
}

void ChatInviter::Cancel() {
    m_keepStage = false;
    CloseChat();
}

void ChatInviter::CloseChat() {
    ++m_generation;
    m_closing = true;
    m_caller.Reset();
    m_closing = false;
    m_timWait.stop();
    m_timCSChat.stop();
    if (m_keepStage) {
        m_keepStage = false;
    } else if (m_stage != Stage::Input) {
        ShowStage(Stage::Input);
    }
    const bool wasOpen = m_phase != Phase::Idle;
    m_phase = Phase::Idle;
    m_leftByUser = false;
    m_acceptedAutomatically = false;
    m_autoReplyText.clear();
    m_session.activity.SetInviteWindowChatting(false);
    if (wasOpen)
        emit ChatClosed();
}

void ChatInviter::CloseAndReport(const InviteFailure& failure) {
    CloseChat();
    emit Failed(failure);
}

// ---- Connection errors and retries ----

void ChatInviter::HandleConnectionError(SocketError error) {
    if (m_phase == Phase::Idle || m_caller.retryPending())
        return;
    if (ClassifyCallerError(error) == CallerFailure::Broken) {
        if (m_leftByUser) {
            // The user has left; the end of the connection is no news.
            CloseChat();
            return;
        }
        if (m_phase == Phase::Chatting && chatting())
            emit ConnectionLost();
    }
    // Only a connection that never got as far as the invitation is tried again.
    if (m_phase == Phase::Connecting && m_caller.RetryAfter(error))
        return;
    InviteFailure failure = FailureOf(InviteFailure::Kind::NetworkError);
    failure.error = error;
    CloseAndReport(failure);
}

InviteFailure ChatInviter::FailureOf(InviteFailure::Kind kind) const {
    InviteFailure failure;
    failure.kind = kind;
    failure.peer = m_request.shownAddress;
    failure.attempts = m_caller.retryCount();
    return failure;
}

}  // namespace tvx

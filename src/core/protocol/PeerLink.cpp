#include "protocol/PeerLink.h"

#include <QMessageAuthenticationCode>

#include "platform/SocketErrors.h"
#include "protocol/BatchMessages.h"
#include "protocol/Codes.h"
#include "protocol/HandshakeSteps.h"
#include "protocol/PeerMessages.h"
#include "protocol/Wire.h"
#include "protocol/WrongCodeLimit.h"

namespace tvx {

using C = ProtocolCodes;

namespace {

// The label under which both ends export keying material for the admission digest.
constexpr char kAdmissionLabel[] = "EXPORTER-Tolvex-admission";
constexpr int kAdmissionKeyBytes = 32;

// The admission digest on an encrypted connection: the code's digest bound to this TLS session,
// so that a digest relayed into another session is worth nothing.
QString BoundDigest(const QString& codeDigest, const QByteArray& keyingMaterial) {
    return QString::fromLatin1(QMessageAuthenticationCode::hash(codeDigest.toUtf8(), keyingMaterial,
                                                                QCryptographicHash::Sha256)
                                   .toHex());
}

}  // namespace

RoleConfig RoleConfig::For(PeerRole role) {
    RoleConfig config;
    config.role = role;
    switch (role) {
        case PeerRole::FileReceiver:
            config.listens = true;
            config.port = kFileControlPort;
            config.reservedFieldInReply = true;
            config.opensDataListener = true;
            // A batch's list must be complete within the business time-out, as an offer must.
            config.codesAfterIntroduction = {C::FileOffer, C::SenderCancel, BatchCodes::Offer,
                                             BatchCodes::Entries, BatchCodes::ListEnd};
            config.businessCodes = {C::FileOffer, BatchCodes::ListEnd};
            break;
        case PeerRole::FileSender:
            config.port = kFileControlPort;
            config.versionInFirstField = true;
            config.codesAfterIntroduction = {
                C::OfferAccepted, C::OfferRefused,  C::OfferRefusedAuto,  C::ReceiverCancel,
                C::FileComplete,  BatchCodes::Plan, BatchCodes::Accepted, BatchCodes::Stopped};
            break;
        case PeerRole::ChatInitiator:
            config.port = kChatPort;
            config.codesAfterIntroduction = {C::InvitationAccepted, C::InvitationAcceptedAuto,
                                             C::InvitationRefused,  C::InvitationRefusedAuto,
                                             C::ResponderText,      C::ResponderLeaves};
            break;
        case PeerRole::ChatResponder:
            config.listens = true;
            config.port = kChatPort;
            config.codesAfterIntroduction = {C::ChatInvitation, C::InitiatorText,
                                             C::InitiatorLeaves};
            config.businessCodes = {C::ChatInvitation};
            break;
    }
    return config;
}

PeerLink::PeerLink(PeerRole role, LinkContext& context, QObject* parent)
    : QObject(parent),
      context_(context),
      config_(RoleConfig::For(role)),
      version_(QChar(C::Version)),
      announced_(config_.reservedFieldInReply ? OwnFeatureField() : QString()) {
    handshakeTimer_.setSingleShot(true);
    handshakeTimer_.setInterval(kHandshakeTimeoutMs);
    connect(&handshakeTimer_, &QTimer::timeout, this, &PeerLink::OnHandshakeTimeout);
    // An answerer holds its port for one caller at a time: one that sits idle after the
    // handshake would shut everybody else out. Whichever path hands the owner its business,
    // the deadline stops before the owner sees it.
    businessTimer_.setSingleShot(true);
    businessTimer_.setInterval(kBusinessTimeoutMs);
    connect(&businessTimer_, &QTimer::timeout, this, &PeerLink::OnBusinessTimeout);
    connect(this, &PeerLink::MessageReceived, this, [this](char16_t code) {
        if (config_.businessCodes.contains(code))
            businessTimer_.stop();
    });
    connect(&socket_, &Socket::ConnectionRequest, this, &PeerLink::OnConnectionRequest);
    connect(&socket_, &Socket::Connected, this, &PeerLink::OnConnected);
    connect(&socket_, &Socket::DataArrival, this, &PeerLink::OnDataArrival);
    connect(&socket_, &Socket::Closed, this, &PeerLink::OnClosed);
    connect(&socket_, &Socket::Error, this, &PeerLink::OnSocketError);
    connect(&socket_, &Socket::Encrypted, this, &PeerLink::OnEncrypted);

    // What can begin a message once verified: admission and introduction, then the role's own
    // codes. Anything else after a terminator belongs to the message before it.
    QList<char16_t> starts = config_.listens ? QList<char16_t>{C::AdmissionRequest, C::Introduction}
                                             : QList<char16_t>{C::RefusedCode, C::RefusedBlocked,
                                                               C::Admitted, C::Introduction};
    starts += config_.codesAfterIntroduction;
    buffer_.SetMessageStarts(starts);
}

SocketError PeerLink::Listen() {
    if (!config_.listens || state_ != State::Idle)
        return SocketError::WrongState;
    const SocketError error = StartListening();
    keepListening_ = error == SocketError::None;
    return error;
}

SocketError PeerLink::StartListening() {
    SocketError error = socket_.Bind(context_.LocalAddress(), config_.port);
    if (error == SocketError::None)
        error = socket_.Listen();
    if (error != SocketError::None) {
        socket_.Close();
        return error;
    }
    state_ = State::Listening;
    return SocketError::None;
}

void PeerLink::Stop() {
    keepListening_ = false;
    Reset();
}

SocketError PeerLink::Connect(const QString& peerDottedAddress) {
    if (config_.listens || state_ != State::Idle)
        return SocketError::WrongState;
    const SocketError error =
        socket_.Connect(peerDottedAddress, config_.port, context_.LocalAddress());
    if (error != SocketError::None)
        return error;
    remoteAddress_ = peerDottedAddress;
    peerMarked_ = false;
    peerFingerprint_.clear();
    pinnedFingerprint_.clear();
    state_ = State::Connecting;
    return SocketError::None;
}

void PeerLink::ResetExplained() {
    resetExplained_ = true;
    Reset();
    resetExplained_ = false;
}

void PeerLink::Reset() {
    handshakeTimer_.stop();
    businessTimer_.stop();
    socket_.Close();
    buffer_.Reset();
    challenge_.clear();
    remoteAddress_.clear();
    peerAddressCode_.clear();
    peerCard_.clear();
    peerVerifiedRest_.clear();
    state_ = State::Idle;
    if (keepListening_) {
        const SocketError error = StartListening();
        if (error != SocketError::None) {
            keepListening_ = false;
            emit SocketFailed(error);
        }
    }
    emit ResetDone();
}

SocketError PeerLink::Send(const QString& body) {
    return SendControlMessage(socket_, body);
}

bool PeerLink::SendInternal(const QString& body) {
    const SocketError error = SendControlMessage(socket_, body);
    if (error == SocketError::None)
        return true;
    emit SocketFailed(error);
    Reset();
    return false;
}

void PeerLink::OnConnectionRequest() {
    if (socket_.Accept() != SocketError::None)
        return;
    remoteAddress_ = socket_.RemoteHostIP();
    peerMarked_ = false;
    peerFingerprint_.clear();
    pinnedFingerprint_.clear();
    state_ = State::Handshaking;
    handshakeTimer_.start();
    if (!config_.businessCodes.isEmpty())
        businessTimer_.start();
}

void PeerLink::OnConnected() {
    state_ = State::Handshaking;
    handshakeTimer_.start();
    challenge_ = DrawChallenge(context_.Identity() != nullptr);
    SendInternal(challenge_);
}

void PeerLink::OnDataArrival() {
    // Every message of the arrival in order; a reset on the way empties the buffer and ends it.
    buffer_.Feed(socket_.Read());
    for (;;) {
        QString message;
        switch (buffer_.Next(message)) {
            case ReceiveBuffer::Outcome::Waiting:
                return;
            case ReceiveBuffer::Outcome::Overflow:
                Reset();
                return;
            case ReceiveBuffer::Outcome::Message:
                Handle(message);
                // What follows the verified reply is TLS, read by the socket itself.
                if (state_ == State::Securing)
                    return;
                break;
        }
    }
}

void PeerLink::OnClosed() {
    const State stateAtClose = state_;
    if (stateAtClose == State::Securing && !config_.listens) {
        TurnAway(LinkRefusal::SecureFailed);
        return;
    }
    emit PeerClosed(stateAtClose);
    Reset();
}

void PeerLink::OnSocketError(SocketError error) {
    if (state_ == State::Securing && !config_.listens) {
        TurnAway(LinkRefusal::SecureFailed);
        return;
    }
    emit SocketFailed(error);
    Reset();
}

void PeerLink::OnHandshakeTimeout() {
    if (buffer_.verified() && state_ != State::Securing)
        return;
    emit HandshakeTimedOut();
    // The caller's owner decides what follows; an answerer just starts over.
    if (config_.listens)
        Reset();
}

void PeerLink::OnBusinessTimeout() {
    emit BusinessTimedOut();
    Reset();
}

void PeerLink::Handle(const QString& message) {
    if (!buffer_.verified()) {
        HandleHandshake(message);
    } else if (config_.listens) {
        HandleAtAnswerer(message);
    } else {
        HandleAtCaller(message);
    }
}

void PeerLink::HandleHandshake(const QString& message) {
    const int counter = buffer_.counter();
    // The peer's challenge tells whether it turns the connection into TLS once verified; an
    // answerer that can says so in its own challenge.
    if (counter == (config_.listens ? 1 : 2))
        peerMarked_ = IsMarkedChallenge(message);
    const bool markOwn = peerMarked_ && context_.Identity();
    const HandshakeStep step = config_.listens
                                   ? AnswererHandshakeStep(counter, message, challenge_, markOwn)
                                   : CallerHandshakeStep(counter, message, challenge_);
    switch (step.kind) {
        case HandshakeStep::Kind::Fail:
            Reset();
            return;
        case HandshakeStep::Kind::Reply:
            SendInternal(step.text);
            return;
        case HandshakeStep::Kind::Verified:
            break;
    }
    handshakeTimer_.stop();
    buffer_.SetVerified();
    state_ = State::Verified;
    if (config_.listens) {
        const bool secure = peerMarked_ && context_.Identity();
        if (!secure && RefusePlain())
            return;
        if (SendInternal(BuildVerifiedReply(version_, config_.reservedFieldInReply, announced_))) {
            if (secure)
                Secure();
            else
                emit Verified();
        }
        return;
    }
    peerVerifiedRest_ = step.text;
    const QString peerVersion = PeerVersionOf(step.text, config_.versionInFirstField);
    const VersionVerdict verdict = CheckVersion(version_, peerVersion);
    if (verdict != VersionVerdict::Equal) {
        ResetExplained();
        emit Refused(verdict == VersionVerdict::OwnOlder ? LinkRefusal::OwnVersionTooLow
                                                         : LinkRefusal::PeerVersionTooLow,
                     QString());
        return;
    }
    if (peerMarked_ && context_.Identity() && IsMarkedChallenge(challenge_)) {
        Secure();
        return;
    }
    if (RefusePlain())
        return;
    emit Verified();
    if (state_ == State::Verified)
        SendInternal(BuildAdmissionRequest(verificationDigest_));
}

// A peer on the plain wire is turned away when encryption is required, or when it was met
// encrypted before (a downgrade) and the user has not agreed to the plain wire.
bool PeerLink::RefusePlain() {
    LinkRefusal refusal = LinkRefusal::PlainPeer;
    if (!context_.RequireEncryption()) {
        if (!context_.Identity())
            return false;
        pinnedFingerprint_ = context_.PinnedFingerprint(remoteAddress_);
        if (pinnedFingerprint_.isEmpty() || allowPlain_ || context_.AllowPlainFromPinned())
            return false;
        refusal = LinkRefusal::Downgrade;
    }
    TurnAway(refusal);
    return true;
}

// Ends a connection for its encryption: an answerer tells its owner whom it turned away, a
// caller why.
void PeerLink::TurnAway(LinkRefusal refusal) {
    if (config_.listens) {
        const QString address = remoteAddress_;
        Reset();
        // A handshake that breaks is a stranger's noise, not news for the user.
        if (refusal != LinkRefusal::SecureFailed)
            emit CallerRejected(refusal, address);
    } else {
        ResetExplained();
        emit Refused(refusal, QString());
    }
}

// Both ends marked their challenges: TLS begins right after the verified reply, with the
// answerer as the server. Nothing plain may follow the reply.
void PeerLink::Secure() {
    state_ = State::Securing;
    handshakeTimer_.start();
    if (buffer_.empty() &&
        socket_.StartTls(*context_.Identity(), config_.listens) == SocketError::None)
        return;
    TurnAway(LinkRefusal::SecureFailed);
}

// The TLS handshake is done: the peer's certificate is checked against the one pinned for its
// address, and admission follows inside TLS.
void PeerLink::OnEncrypted() {
    if (state_ != State::Securing)
        return;
    handshakeTimer_.stop();
    peerFingerprint_ = socket_.PeerFingerprint();
    pinnedFingerprint_ = context_.PinnedFingerprint(remoteAddress_);
    const bool changed = !pinnedFingerprint_.isEmpty() && pinnedFingerprint_ != peerFingerprint_;
    if (peerFingerprint_.isEmpty() ||
        (changed && !acceptChangedIdentity_ && !context_.AcceptChangedIdentity())) {
        TurnAway(peerFingerprint_.isEmpty() ? LinkRefusal::SecureFailed
                                            : LinkRefusal::IdentityChanged);
        return;
    }
    // A caller pins whom it chose to call; an answerer pins a caller once it is admitted, so a
    // stranger turned away leaves nothing behind.
    if (!config_.listens && pinnedFingerprint_ != peerFingerprint_)
        context_.PinFingerprint(remoteAddress_, peerFingerprint_);
    state_ = State::Verified;
    emit Verified();
    if (config_.listens || state_ != State::Verified)
        return;
    const QString digest =
        verificationDigest_.isEmpty()
            ? QString()
            : BoundDigest(verificationDigest_,
                          socket_.ExportKey(kAdmissionLabel, kAdmissionKeyBytes));
    SendInternal(BuildAdmissionRequest(digest));
}

void PeerLink::HandleAtAnswerer(const QString& message) {
    const std::optional<CodedMessage> coded = SplitCode(message);
    if (!coded) {
        Reset();
        return;
    }
    if (state_ == State::Introduced) {
        if (config_.codesAfterIntroduction.contains(coded->code)) {
            emit MessageReceived(coded->code, coded->payload);
        } else {
            Reset();
        }
        return;
    }
    // Admission and introduction come in this order only; nothing else is taken before them,
    // so a caller cannot skip the verification code or the block list.
    const int counter = buffer_.counter();
    if (counter == 4 && coded->code == C::AdmissionRequest && state_ == State::Verified) {
        Admit(coded->payload);
    } else if (counter == 5 && coded->code == C::Introduction && state_ == State::Admitted) {
        TakeIntroduction(coded->payload);
    } else {
        Reset();
    }
}

void PeerLink::Admit(const QString& digest) {
    const QString stored = context_.StoredCodeDigest(config_.role);
    if (!stored.isEmpty()) {
        // A caller that keeps guessing is refused without a look at what it sends.
        WrongCodeLimit& wrongCodes = context_.WrongCodes();
        const qint64 now = context_.UptimeMs();
        if (wrongCodes.IsShutOut(remoteAddress_, now)) {
            SendInternal(BuildRefusedCode());
            return;
        }
        const QString expected =
            socket_.encrypted()
                ? BoundDigest(stored, socket_.ExportKey(kAdmissionLabel, kAdmissionKeyBytes))
                : stored;
        if (expected != digest) {
            wrongCodes.CountWrong(remoteAddress_, now);
            SendInternal(BuildRefusedCode());
            return;
        }
        wrongCodes.CountRight(remoteAddress_);
    }
    if (context_.IsBlocked(remoteAddress_)) {
        SendInternal(BuildRefusedBlocked(context_.BlockNote()));
        return;
    }
    if (socket_.encrypted() && pinnedFingerprint_ != peerFingerprint_)
        context_.PinFingerprint(remoteAddress_, peerFingerprint_);
    if (!SendInternal(BuildAdmitted()))
        return;
    state_ = State::Admitted;
    emit Admitted();
}

void PeerLink::TakeIntroduction(const QString& payload) {
    const CallerIdentity identity = ParseCallerIntroduction(payload);
    peerAddressCode_ = identity.addressCode;
    peerCard_ = identity.card;
    state_ = State::Introduced;
    if (config_.opensDataListener)
        emit DataListenerDue();
    if (state_ != State::Introduced)
        return;
    if (SendInternal(BuildAnswererIntroduction(context_.LocalCard()))) {
        emit Introduced(peerAddressCode_, peerCard_);
    }
}

void PeerLink::HandleAtCaller(const QString& message) {
    const std::optional<CodedMessage> coded = SplitCode(message);
    if (!coded) {
        ResetExplained();
        emit ConnectionBroken();
        return;
    }
    const int counter = buffer_.counter();
    switch (coded->code) {
        case C::RefusedCode:
        case C::RefusedBlocked: {
            const LinkRefusal refusal =
                coded->code == C::RefusedCode ? LinkRefusal::WrongCode : LinkRefusal::Blocked;
            const QString note = refusal == LinkRefusal::Blocked ? coded->payload : QString();
            ResetExplained();
            emit Refused(refusal, note);
            return;
        }
        case C::Admitted:
            if (counter != 4 || state_ != State::Verified) {
                Reset();
                return;
            }
            state_ = State::Admitted;
            emit Admitted();
            if (state_ == State::Admitted) {
                SendInternal(
                    BuildCallerIntroduction(context_.LocalAddressCode(), context_.LocalCard()));
            }
            return;
        case C::Introduction:
            if (counter != 5 || state_ != State::Admitted) {
                Reset();
                return;
            }
            peerCard_ = ParseAnswererIntroduction(coded->payload);
            state_ = State::Introduced;
            emit Introduced(QString(), peerCard_);
            return;
        default:
            break;
    }
    if (state_ == State::Introduced && config_.codesAfterIntroduction.contains(coded->code)) {
        emit MessageReceived(coded->code, coded->payload);
        return;
    }
    ResetExplained();
    emit ConnectionBroken();
}

}  // namespace tvx

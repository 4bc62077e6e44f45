#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "platform/Socket.h"
#include "protocol/LinkContext.h"
#include "protocol/ReceiveBuffer.h"

namespace tvx {

// Why an answerer turned a caller away in the handshake or admission.
enum class LinkRefusal {
    WrongCode,         // 1A 12: no verification code or a wrong one
    Blocked,           // 1A 13 with the block note
    OwnVersionTooLow,  // the answerer speaks a newer version
    PeerVersionTooLow,
    // Encryption (this program's own; design peers never see these):
    PlainPeer,        // the peer speaks only the plain wire and encryption is required
    Downgrade,        // a peer met encrypted before now speaks only the plain wire
    IdentityChanged,  // a peer met encrypted before shows another certificate
    SecureFailed,     // the TLS handshake failed
};

// What tells the four roles apart on a control or chat connection.
struct RoleConfig {
    PeerRole role = PeerRole::FileReceiver;
    bool listens = false;  // answerer (listens) or caller (connects)
    quint16 port = 0;
    bool reservedFieldInReply = false;       // the file receiver's verified reply ends in 03 04
    bool versionInFirstField = false;        // the file sender reads the version up to 03 04
    bool opensDataListener = false;          // the file receiver listens on 8511 once introduced
    QList<char16_t> codesAfterIntroduction;  // handed to the owner once introduced
    // Answerer: what the caller has come for (the offer, the invitation). A caller that has
    // not sent one of these within the business time-out of connecting is dropped.
    QList<char16_t> businessCodes;

    static RoleConfig For(PeerRole role);
};

// One control (file) or chat connection end: listening or connecting, the handshake, the
// version check, admission and the introduction. Once introduced, every message whose code
// the role expects goes to the owner through MessageReceived; anything else resets.
//
// Every failure ends in Reset(): the socket closes, the buffer empties, the counter goes back
// to 0 and the verified flag to false; an answerer then listens again. Refusals, a version
// that differs and an unexpected code at a caller come to the owner by signal as what
// happened; the link shows nothing itself. Every message of an arrival is handled
// in turn, in arrival order.
class PeerLink : public QObject {
    Q_OBJECT

public:
    // Securing: verified, the connection turning into TLS before admission.
    enum class State {
        Idle,
        Listening,
        Connecting,
        Handshaking,
        Securing,
        Verified,
        Admitted,
        Introduced
    };
    Q_ENUM(State)

    static constexpr int kHandshakeTimeoutMs = 20000;
    static constexpr int kBusinessTimeoutMs = 30000;

    PeerLink(PeerRole role, LinkContext& context, QObject* parent = nullptr);

    const RoleConfig& config() const { return config_; }
    void SetHandshakeTimeout(int milliseconds) { handshakeTimer_.setInterval(milliseconds); }
    void SetBusinessTimeout(int milliseconds) { businessTimer_.setInterval(milliseconds); }
    // The caller's admission digest: the digest of the typed code, or empty for none.
    void SetVerificationDigest(const QString& digest) { verificationDigest_ = digest; }
    // The version sent or checked in the handshake; the protocol's own by default.
    void SetProtocolVersion(const QString& version) { version_ = version; }
    // File receiver: what its verified reply announces in the reserved field (this program's
    // features by default; empty as a peer that knows none).
    void SetAnnouncedFeatures(const QString& features) { announced_ = features; }
    // Caller: what the user agreed to for this call, on top of the context's: a known peer's
    // new certificate is taken (and pinned), a known peer's plain wire is accepted.
    void SetTrust(bool acceptChangedIdentity, bool allowPlain) {
        acceptChangedIdentity_ = acceptChangedIdentity;
        allowPlain_ = allowPlain;
    }

    // Answerer: binds LocalAddress and the role's port and listens; SocketError::None or what
    // failed.
    SocketError Listen();
    // Answerer: stops listening for good (a reset no longer listens again).
    void Stop();
    // Caller: connects from local port 0 to the peer's dotted address on the role's port.
    SocketError Connect(const QString& peerDottedAddress);
    void Reset();

    // Sends one control message body; SocketError::None or what failed.
    SocketError Send(const QString& body);

    State state() const { return state_; }
    int counter() const { return buffer_.counter(); }
    bool verified() const { return buffer_.verified(); }
    // During ResetDone: a Refused or ConnectionBroken follows at once and tells why.
    bool resetExplained() const { return resetExplained_; }
    Socket& socket() { return socket_; }
    // The peer's dotted address as this end's socket sees it (answerer) or as dialled (caller).
    QString remoteAddress() const { return remoteAddress_; }
    // The caller's TVX address, known to the answerer only.
    QString peerAddressCode() const { return peerAddressCode_; }
    QStringList peerCard() const { return peerCard_; }
    // Caller: the answerer's verified reply after 55 AA (its version and reserved field).
    QString peerVerifiedRest() const { return peerVerifiedRest_; }
    // Whether this connection runs inside TLS.
    bool encrypted() const { return socket_.encrypted(); }
    const TlsIdentity* identity() const { return context_.Identity(); }
    // The certificate the peer showed on this connection, and the one pinned for it before;
    // both stay after a refusal for its report, until the next connection begins.
    QByteArray peerFingerprint() const { return peerFingerprint_; }
    QByteArray pinnedFingerprint() const { return pinnedFingerprint_; }

signals:
    void Verified();
    void Admitted();
    void Introduced(const QString& peerAddressCode, const QStringList& peerCard);
    // File receiver: re-open the data listener now, before the reply goes out.
    void DataListenerDue();
    // Caller: admission refused or versions differ; the link has reset. The note is the
    // answerer's block note (Blocked only).
    void Refused(tvx::LinkRefusal refusal, const QString& note);
    // Caller: an unexpected code; the link has reset.
    void ConnectionBroken();
    void MessageReceived(char16_t code, const QString& payload);
    void HandshakeTimedOut();
    // Answerer: the caller sent nothing it came for in time; the link resets after this.
    void BusinessTimedOut();
    // Answerer: a caller was turned away for want of encryption or for its certificate; the
    // link has reset.
    void CallerRejected(tvx::LinkRefusal refusal, const QString& remoteAddress);
    void PeerClosed(PeerLink::State stateAtClose);
    void SocketFailed(tvx::SocketError error);
    void ResetDone();

private:
    SocketError StartListening();
    void OnConnectionRequest();
    void OnConnected();
    void OnDataArrival();
    void OnClosed();
    void OnSocketError(SocketError error);
    void OnHandshakeTimeout();
    void OnBusinessTimeout();

    void OnEncrypted();
    void Secure();
    bool RefusePlain();
    void TurnAway(LinkRefusal refusal);
    void Handle(const QString& message);
    void HandleHandshake(const QString& message);
    void HandleAtAnswerer(const QString& message);
    void HandleAtCaller(const QString& message);
    void Admit(const QString& digest);
    void TakeIntroduction(const QString& payload);
    bool SendInternal(const QString& body);
    // A reset that Refused or ConnectionBroken explains right after.
    void ResetExplained();

    LinkContext& context_;
    RoleConfig config_;
    QString verificationDigest_;
    QString version_;
    QString announced_;
    QString peerVerifiedRest_;
    bool acceptChangedIdentity_ = false;
    bool allowPlain_ = false;
    bool peerMarked_ = false;  // the peer's challenge carried the sign for TLS
    QByteArray peerFingerprint_;
    QByteArray pinnedFingerprint_;

    Socket socket_;
    ReceiveBuffer buffer_;
    QTimer handshakeTimer_;
    QTimer businessTimer_;
    State state_ = State::Idle;
    bool keepListening_ = false;
    QString challenge_;
    QString remoteAddress_;
    QString peerAddressCode_;
    QStringList peerCard_;
    bool resetExplained_ = false;
};

}  // namespace tvx

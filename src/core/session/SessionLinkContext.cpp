#include "session/SessionLinkContext.h"

#include "common/Text.h"
#include "records/AddressFiles.h"
#include "session/Session.h"

namespace tvx {

QString SessionLinkContext::LocalAddress() const {
    return session_.localAddress;
}

QString SessionLinkContext::LocalAddressCode() const {
    return session_.localAddressCode;
}

QStringList SessionLinkContext::LocalCard() const {
    return session_.personalInfo.Fields();
}

QString SessionLinkContext::StoredCodeDigest(PeerRole role) const {
    return role == PeerRole::FileReceiver ? session_.settings.passWord1
                                          : session_.settings.passWord2;
}

WrongCodeLimit& SessionLinkContext::WrongCodes() {
    return session_.wrongCodes;
}

qint64 SessionLinkContext::UptimeMs() const {
    return session_.system().UptimeMs();
}

bool SessionLinkContext::IsBlocked(const QString& remoteDottedAddress) const {
    return tvx::IsBlocked(session_.blockList, remoteDottedAddress);
}

QString SessionLinkContext::BlockNote() const {
    return TrimSpaces(session_.settings.blockText);
}

const TlsIdentity* SessionLinkContext::Identity() const {
    return session_.identity.get();
}

QByteArray SessionLinkContext::PinnedFingerprint(const QString& dottedAddress) {
    return session_.knownPeers.Pinned(dottedAddress);
}

void SessionLinkContext::PinFingerprint(const QString& dottedAddress,
                                        const QByteArray& fingerprint) {
    session_.knownPeers.Pin(dottedAddress, fingerprint);
}

bool SessionLinkContext::RequireEncryption() const {
    return session_.settings.requireEncryption;
}

bool SessionLinkContext::AcceptChangedIdentity() const {
    return session_.acceptChangedIdentity;
}

bool SessionLinkContext::AllowPlainFromPinned() const {
    return session_.allowPlainFromPinned;
}

// Reads or makes this copy's identity and the known peers in the data folder. Without an
// identity the copy speaks the plain wire only; `error` says why.
bool LoadSecurity(Session& session, QString* error) {
    session.knownPeers = KnownPeers(session.appFolder + KnownPeers::FileName());
    session.identity = TlsIdentity::LoadOrCreate(session.appFolder, error);
    return session.identity != nullptr;
}

}  // namespace tvx

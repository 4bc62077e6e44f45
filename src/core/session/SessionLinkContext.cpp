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

}  // namespace tvx

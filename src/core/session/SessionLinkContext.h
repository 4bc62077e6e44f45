#pragma once

#include "protocol/LinkContext.h"

namespace tvx {

struct Session;

// The links' view of a running copy: its address, TVX address and card, the stored codes
// (file receiving: PassWord1, chat: PassWord2), the block list with its note, and the shared
// wrong-code table.
class SessionLinkContext : public LinkContext {
public:
    explicit SessionLinkContext(Session& session) : session_(session) {}

    QString LocalAddress() const override;
    QString LocalAddressCode() const override;
    QStringList LocalCard() const override;
    QString StoredCodeDigest(PeerRole role) const override;
    WrongCodeLimit& WrongCodes() override;
    qint64 UptimeMs() const override;
    bool IsBlocked(const QString& remoteDottedAddress) const override;
    QString BlockNote() const override;

private:
    Session& session_;
};

}  // namespace tvx

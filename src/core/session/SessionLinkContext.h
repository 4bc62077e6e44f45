#pragma once

#include "protocol/LinkContext.h"

namespace tvx {

struct Session;

// Reads or makes this copy's identity and the known peers in the session's data folder. False,
// with `error` set, when there is no identity: the copy then speaks the plain wire only.
bool LoadSecurity(Session& session, QString* error);

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
    const TlsIdentity* Identity() const override;
    QByteArray PinnedFingerprint(const QString& dottedAddress) override;
    void PinFingerprint(const QString& dottedAddress, const QByteArray& fingerprint) override;
    bool RequireEncryption() const override;
    bool AcceptChangedIdentity() const override;
    bool AllowPlainFromPinned() const override;

private:
    Session& session_;
};

}  // namespace tvx

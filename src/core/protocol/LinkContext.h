#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tvx {

class TlsIdentity;
class WrongCodeLimit;

enum class PeerRole { FileReceiver, FileSender, ChatInitiator, ChatResponder };

// What a link takes from the program: this end as the peer gets to know it, and whom an
// answerer admits. Every value is read when the link needs it, so a change the user makes
// meanwhile (the card, a code, the block list) counts from the next caller on.
class LinkContext {
public:
    virtual ~LinkContext() = default;

    // ---- This end ----

    // Dotted; listeners bind to it and callers dial from it.
    virtual QString LocalAddress() const = 0;
    // The TVX address a caller introduces itself with.
    virtual QString LocalAddressCode() const = 0;
    // The card sent in the introduction: nickname, sex code, age, phone, e-mail, home page,
    // address, other.
    virtual QStringList LocalCard() const = 0;

    // ---- Admission at an answerer ----

    // The digest of the verification code a caller of the role must give; empty: none asked.
    virtual QString StoredCodeDigest(PeerRole role) const = 0;
    // Wrong codes per caller, shared by every answerer of this end.
    virtual WrongCodeLimit& WrongCodes() = 0;
    // The clock the wrong-code window runs on: milliseconds, never going back.
    virtual qint64 UptimeMs() const = 0;
    // True when the caller's dotted address is on the block list.
    virtual bool IsBlocked(const QString& remoteDottedAddress) const = 0;
    // The note a blocked caller is told, trimmed.
    virtual QString BlockNote() const = 0;

    // ---- Encryption (none by default: the plain wire only) ----

    // This copy's key and certificate; null: it speaks the plain wire only.
    virtual const TlsIdentity* Identity() const { return nullptr; }
    // The fingerprint pinned for a peer's dotted address; empty when the peer is new.
    virtual QByteArray PinnedFingerprint(const QString& /*dottedAddress*/) { return {}; }
    virtual void PinFingerprint(const QString& /*dottedAddress*/, const QByteArray& /*fp*/) {}
    // Plain peers are refused both ways.
    virtual bool RequireEncryption() const { return false; }
    // What the user agreed to ahead for every connection (command-line flags): a pinned peer
    // that shows another certificate, or that speaks only the plain wire.
    virtual bool AcceptChangedIdentity() const { return false; }
    virtual bool AllowPlainFromPinned() const { return false; }
};

}  // namespace tvx

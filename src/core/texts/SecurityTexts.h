#pragma once

#include <QByteArray>
#include <QString>

#include "protocol/PeerLink.h"

namespace tvx {

// Whether a connection is encrypted, with the peer's fingerprint code, as the windows and the
// command line show it.
QString EncryptionLine(bool encrypted, const QByteArray& peerFingerprint);
// This copy's own fingerprint code line; the "no key" line without one.
QString OwnFingerprintLine(const QByteArray& fingerprint);

// Desktop: the question after a refusal the user may overrule (a known peer's new certificate,
// a known peer on the plain wire); empty for every other refusal.
QString TrustQuestion(LinkRefusal refusal);
// Command line: the flag that overrules such a refusal, in a sentence; empty for the others.
QString TrustFlagHint(LinkRefusal refusal);

// An answerer's notice of a caller it turned away for its encryption, and its title.
QString CallerRejectedText(LinkRefusal refusal, const QString& address);
QString CallerRejectedSummary();

}  // namespace tvx

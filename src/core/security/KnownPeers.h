#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

namespace tvx {

// The peers this copy has met encrypted, each with the fingerprint of the certificate it
// showed the first time (trust on first use). The file in the data folder has one line per
// peer: its dotted address, its TVX address and the fingerprint in hexadecimal, separated by
// spaces; lines starting with '#' are comments.
class KnownPeers {
public:
    static QString FileName() { return QStringLiteral("known-peers"); }
    // Bounds on what is read, so that a damaged file cannot fill memory.
    static constexpr qint64 kMaxFileBytes = 1024 * 1024;
    static constexpr int kMaxPeers = 10000;

    // Fingerprints by dotted address, from the file's text; lines that are not entries are
    // skipped.
    static QHash<QString, QByteArray> Parse(const QByteArray& text);

    // No file: pins live in memory only.
    KnownPeers() = default;
    explicit KnownPeers(const QString& path) : path_(path) {}

    // The fingerprint pinned for the address; empty when the peer is not known. The file is read
    // again when it changed, so a pin made by another copy of this user counts.
    QByteArray Pinned(const QString& dottedAddress);
    // Pins the fingerprint for the address, replacing an older one, and writes the file. False
    // when the file could not be written (the pin still holds in memory).
    bool Pin(const QString& dottedAddress, const QByteArray& fingerprint);

private:
    void Reload();

    QString path_;
    QHash<QString, QByteArray> pins_;
    qint64 loadedStamp_ = -1;  // modification time of the file last read, in ms
};

}  // namespace tvx

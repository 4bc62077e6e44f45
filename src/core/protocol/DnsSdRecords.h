#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

#include "protocol/PresenceMessages.h"

namespace tvx {

// How a copy shows itself through DNS-SD (mDNS) where the desktop's service discovery runs:
// the service type, its instance name and its TXT records. Pure building and parsing; the
// records are described byte by byte in docs/protocol.md.
inline constexpr char kDnsSdServiceType[] = "_tolvex._tcp";
constexpr int kDnsSdTxtVersion = 1;
constexpr int kMaxDnsSdTxtRecords = 16;         // a service with more records is not taken
constexpr int kMaxDnsSdTxtRecordBytes = 255;    // a DNS character-string's limit
constexpr int kMaxDnsSdInstanceNameBytes = 63;  // a DNS label's limit

// What the TXT records of a copy say.
struct DnsSdRecord {
    QString addressCode;  // ten upper-case code letters
    QString nickName;     // at most kMaxPresenceNickNameBytes of UTF-8, no control characters
    PresencePorts ports;

    bool operator==(const DnsSdRecord& other) const {
        return addressCode == other.addressCode && nickName == other.nickName &&
               ports == other.ports;
    }
    bool operator!=(const DnsSdRecord& other) const { return !(*this == other); }
};

// "txtvers=1", "tvx=...", "nick=..." and "ports=A,B,C", in this order; the nickname is cut
// and cleaned as in an announcement datagram.
QList<QByteArray> BuildDnsSdTxt(const DnsSdRecord& record);

// The instance name the copy asks for: its nickname without control characters, cut at a
// whole character within a DNS label; "Tolvex" and the TVX address when that leaves nothing.
QString DnsSdInstanceName(const QString& nickName, const QString& addressCode);

// The record a service's TXT strings describe, or nothing when they cannot be taken: too many
// strings or a string too long, a txtvers other than 1, no valid "tvx" or "ports", a nickname
// that is not clean UTF-8 within its bound. Strings without "=", with an empty or non-ASCII
// key, unknown keys and repeated keys (only the first counts) are ignored; keys are matched
// without regard to case.
std::optional<DnsSdRecord> ParseDnsSdTxt(const QList<QByteArray>& strings);

}  // namespace tvx

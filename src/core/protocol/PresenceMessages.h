#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace tvx {

// The presence datagrams on UDP port 9171, by which running copies on one network find each
// other. Pure building and parsing; the byte layout is described in docs/protocol.md.
constexpr quint16 kPresencePort = 9171;
constexpr quint8 kPresenceVersion = 1;
constexpr int kPresenceHeaderBytes = 6;         // magic, version, kind
constexpr int kMaxPresenceDatagram = 1024;      // anything longer is dropped unread
constexpr int kMaxPresenceNickNameBytes = 150;  // fifty characters of any script
constexpr int kAddressCodeLength = 10;

enum class PresenceKind : quint8 {
    Announce = 1,  // "here I am", sent to the destinations and as the answer to a query
    Query = 2,     // "who is there", answered once by every copy that hears it
    Goodbye = 3,   // "I am leaving"
};

// The TCP ports a copy serves; 0 for one it does not serve.
struct PresencePorts {
    quint16 fileControl = 0;
    quint16 fileData = 0;
    quint16 chat = 0;

    bool operator==(const PresencePorts& other) const {
        return fileControl == other.fileControl && fileData == other.fileData && chat == other.chat;
    }
};

// A datagram as it was read; which fields hold depends on the kind.
struct PresenceMessage {
    PresenceKind kind = PresenceKind::Query;
    QString addressCode;  // Announce, Goodbye: ten upper-case code letters
    QString nickName;     // Announce
    PresencePorts ports;  // Announce
};

QByteArray BuildPresenceAnnounce(const QString& addressCode, const QString& nickName,
                                 const PresencePorts& ports);
QByteArray BuildPresenceQuery();
QByteArray BuildPresenceGoodbye(const QString& addressCode);

// The longest start of the nickname whose UTF-8 form fits the bound, never splitting a
// character; control characters become spaces so that what is sent is what a parser takes.
QByteArray PresenceNickNameBytes(const QString& nickName);

// The message of a whole datagram, or nothing when anything about it is wrong: the size, the
// magic, the version, the kind, a length, a code letter, the UTF-8 of the nickname, a control
// character in it, or bytes left over. The sender's address is checked by the caller.
std::optional<PresenceMessage> ParsePresenceDatagram(const QByteArray& datagram);

}  // namespace tvx

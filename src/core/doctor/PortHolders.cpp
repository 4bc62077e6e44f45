#include "doctor/PortHolders.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QSet>

namespace tvx {

namespace {

// Bounds on what is read of /proc: the listings, the processes and descriptors looked at.
constexpr qint64 kMaxListingBytes = 16 * 1024 * 1024;
constexpr int kMaxProcesses = 32768;
constexpr int kMaxDescriptorsInAll = 1000000;
constexpr qint64 kMaxCommBytes = 64;

// Whether a bind to the address and port would succeed now. TCP binds as the program's
// listeners do (reusing an address that only closed connections still name).
bool CanBind(quint32 address, quint16 port, bool udp) {
    const int descriptor = ::socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return true;  // cannot tell: nothing to report
    if (!udp) {
        const int reuse = 1;
        ::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    local.sin_port = htons(port);
    const bool bound = ::bind(descriptor, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    ::close(descriptor);
    return bound;
}

QByteArray ReadSmallFile(const QString& path, qint64 limit) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(limit);
}

}  // namespace

QList<quint64> PortInodes(const QByteArray& listing, quint32 address, quint16 port, bool udp) {
    QList<quint64> inodes;
    const QList<QByteArray> lines = listing.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {  // the first line names the columns
        const QList<QByteArray> columns = lines[i].simplified().split(' ');
        if (columns.size() < 10)
            continue;
        const QList<QByteArray> local = columns[1].split(':');
        if (local.size() != 2 || local[0].size() != 8)
            continue;
        bool okAddress = false;
        bool okPort = false;
        bool okState = false;
        bool okInode = false;
        // The kernel prints the address as the integer its network-order bytes make here.
        const quint32 boundTo = ntohl(local[0].toUInt(&okAddress, 16));
        const uint boundPort = local[1].toUInt(&okPort, 16);
        const uint state = columns[3].toUInt(&okState, 16);
        const quint64 inode = columns[9].toULongLong(&okInode);
        if (!okAddress || !okPort || !okState || !okInode || inode == 0)
            continue;
        constexpr uint kListen = 0x0A;
        if (boundPort != port || (!udp && state != kListen))
            continue;
        if (boundTo == address || boundTo == 0)
            inodes << inode;
    }
    return inodes;
}

PortHolder FindPortHolder(const QString& localAddress, quint16 port, bool udp,
                          const QString& ownProgram) {
    PortHolder holder;
    const quint32 address = QHostAddress(localAddress).toIPv4Address();
    if (CanBind(address, port, udp))
        return holder;
    holder.state = Finding::PortState::HeldUnseen;

    const QByteArray listing = ReadSmallFile(
        udp ? QStringLiteral("/proc/net/udp") : QStringLiteral("/proc/net/tcp"), kMaxListingBytes);
    const QList<quint64> inodes = PortInodes(listing, address, port, udp);
    if (inodes.isEmpty())
        return holder;
    QSet<QByteArray> links;
    for (quint64 inode : inodes)
        links.insert("socket:[" + QByteArray::number(inode) + ']');

    const QStringList processes =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    int processesSeen = 0;
    int descriptorsSeen = 0;
    for (const QString& name : processes) {
        bool numeric = false;
        const qint64 pid = name.toLongLong(&numeric);
        if (!numeric)
            continue;
        if (++processesSeen > kMaxProcesses)
            break;
        const QString fdFolder = QStringLiteral("/proc/") + name + QStringLiteral("/fd");
        const QStringList descriptors =
            QDir(fdFolder).entryList(QDir::System | QDir::NoDotAndDotDot);
        for (const QString& descriptor : descriptors) {
            if (++descriptorsSeen > kMaxDescriptorsInAll)
                return holder;
            char target[64];
            const QByteArray path = QFile::encodeName(fdFolder + QLatin1Char('/') + descriptor);
            const ssize_t length = ::readlink(path.constData(), target, sizeof target - 1);
            if (length <= 0 || !links.contains(QByteArray(target, int(length))))
                continue;
            holder.pid = pid;
            holder.program = QString::fromUtf8(
                ReadSmallFile(QStringLiteral("/proc/") + name + QStringLiteral("/comm"),
                              kMaxCommBytes)
                    .trimmed());
            // A name from the system, shown to the user: printable characters only.
            for (QChar& ch : holder.program) {
                if (!ch.isPrint())
                    ch = QLatin1Char('?');
            }
            holder.state = holder.program == ownProgram ? Finding::PortState::HeldByTolvex
                                                        : Finding::PortState::HeldByOther;
            return holder;
        }
    }
    return holder;
}

}  // namespace tvx

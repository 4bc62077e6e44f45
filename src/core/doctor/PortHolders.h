#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "doctor/Finding.h"

namespace tvx {

// Who holds a local port, as far as the system says.
struct PortHolder {
    Finding::PortState state = Finding::PortState::Free;  // Free, HeldBy...
    QString program;                                      // HeldByTolvex, HeldByOther
    qint64 pid = 0;
};

// Whether the port on the local address (IPv4, dotted) could be taken now, and by whom it is
// held when not: a trial bind says whether it is free; /proc/net/tcp or /proc/net/udp and the
// processes' descriptors say who holds it (only those of the processes this user may look
// into). A holder whose name is `ownProgram` is a copy of this program.
PortHolder FindPortHolder(const QString& localAddress, quint16 port, bool udp,
                          const QString& ownProgram);

// The socket inodes in a /proc/net/tcp or /proc/net/udp listing that hold the port on the
// address (host order) or on every address: listening TCP sockets, bound UDP ones.
QList<quint64> PortInodes(const QByteArray& listing, quint32 address, quint16 port, bool udp);

}  // namespace tvx

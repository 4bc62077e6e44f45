#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <QStringList>

#include "address/AddressCode.h"
#include "platform/Socket.h"
#include "protocol/ReceiveBuffer.h"
#include "protocol/Wire.h"
#include "session/Session.h"
#include "support/Fakes.h"
#include "support/Wait.h"

namespace tvx::test {

// Two peers on one machine: each has its own loopback address and the fixed ports.
inline const QString kCallerAddress = QStringLiteral("127.0.0.2");
inline const QString kAnswererAddress = QStringLiteral("127.0.0.3");

// The presence port of this test process, in place of the usual one, so that the copies a
// test starts hear only each other and never a program running on the machine (or another
// run of the tests). The system picks a free port on an address no test uses, and the port
// stays held there until the process ends, so no other run is given the same one.
inline quint16 PresencePort() {
    static const quint16 port = [] {
        const int reservation = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(0x7F0000FE);  // 127.0.0.254
        socklen_t length = sizeof address;
        if (reservation < 0 ||
            ::bind(reservation, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::getsockname(reservation, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            qFatal("no free port for the presence tests");
        return ntohs(address.sin_port);
    }();
    return port;
}

// One running copy: its stand-in platform and its session with a local address and card.
struct LoopbackPeer {
    LoopbackPeer(const QString& address, const QString& nickName) : session(fake.platform) {
        session.localAddress = address;
        session.localAddressCode = EncodeAddressCode(address);
        session.personalInfo.nickName = nickName;
        session.personalInfo.sex = QStringLiteral("2");
        session.personalInfo.otherInfo = nickName + QStringLiteral(" 的附注");
    }
    FakePlatform fake;
    Session session;
};

// A bare connection end that records every framed message it receives.
struct RawEnd {
    RawEnd() {
        QObject::connect(&socket, &Socket::DataArrival, &socket, [this] {
            QString message;
            if (buffer.Append(socket.Read(), message) == ReceiveBuffer::Outcome::Message) {
                messages << message;
            }
        });
        QObject::connect(&socket, &Socket::Closed, &socket, [this] { closed = true; });
        QObject::connect(&socket, &Socket::ConnectionRequest, &socket, [this] { socket.Accept(); });
    }
    bool Receive(int count) {
        return WaitUntil([&] { return messages.size() >= count; });
    }
    void SendBody(const QString& body) { SendControlMessage(socket, body); }

    Socket socket;
    ReceiveBuffer buffer;
    QStringList messages;
    bool closed = false;
};

}  // namespace tvx::test

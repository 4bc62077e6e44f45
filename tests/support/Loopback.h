#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QStringList>
#include <functional>

#include "address/AddressCode.h"
#include "platform/Socket.h"
#include "protocol/ReceiveBuffer.h"
#include "protocol/Wire.h"
#include "session/Session.h"
#include "support/Fakes.h"

namespace tvx::test {

// Two peers on one machine: each has its own loopback address and the fixed ports.
inline const QString kCallerAddress = QStringLiteral("127.0.0.2");
inline const QString kAnswererAddress = QStringLiteral("127.0.0.3");

// Runs events until the condition holds or the time is up; returns the condition.
inline bool WaitUntil(const std::function<bool()>& done, int milliseconds = 5000) {
    QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
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

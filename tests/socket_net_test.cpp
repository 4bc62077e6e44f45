#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "platform/Socket.h"
#include "platform/SocketErrors.h"
#include "support/Loopback.h"

namespace tvx::test {
namespace {

// Records the error numbers and the other events of one socket.
struct Events {
    explicit Events(Socket& socket) {
        QObject::connect(&socket, &Socket::Error, &socket, [this](SocketError e) { errors << e; });
        QObject::connect(&socket, &Socket::Connected, &socket, [this] { ++connected; });
        QObject::connect(&socket, &Socket::ConnectionRequest, &socket, [this] { ++requests; });
        QObject::connect(&socket, &Socket::Closed, &socket, [this] { ++closed; });
        QObject::connect(&socket, &Socket::SendComplete, &socket, [this] { ++complete; });
    }
    QList<SocketError> errors;
    int connected = 0;
    int requests = 0;
    int closed = 0;
    int complete = 0;
};

// A listener on the answerer's address that takes one writer from the caller's.
struct ConnectedPair {
    bool Connect() {
        if (listener.Bind(kAnswererAddress, 8511) != SocketError::None ||
            listener.Listen() != SocketError::None)
            return false;
        QObject::connect(&listener, &Socket::ConnectionRequest, &listener,
                         [this] { listener.Accept(); });
        writer.Connect(kAnswererAddress, 8511, kCallerAddress);
        return WaitUntil([&] {
            return writerEvents.connected > 0 && listener.state() == Socket::State::Connected;
        });
    }

    Socket listener;
    Events listenerEvents{listener};
    Socket writer;
    Events writerEvents{writer};
};

TEST(SocketErrorsNet, NumbersFromRealEvents) {
    // Nobody listens on 127.0.0.3:8511.
    Socket caller;
    Events callerEvents(caller);
    ASSERT_EQ(caller.Connect(kAnswererAddress, 8511, kCallerAddress), SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return !callerEvents.errors.isEmpty(); }));
    EXPECT_EQ(callerEvents.errors, QList<SocketError>{SocketError::ConnectionRefused});
    EXPECT_EQ(caller.state(), Socket::State::Failed);

    Socket listener;
    ASSERT_EQ(listener.Bind(kCallerAddress, 8510), SocketError::None);
    ASSERT_EQ(listener.Listen(), SocketError::None);
    Socket second;
    EXPECT_EQ(second.Bind(kCallerAddress, 8510), SocketError::AddressInUse);
    EXPECT_EQ(second.state(), Socket::State::Closed);

    // TEST-NET is never a local address; it is only bound, never dialled.
    EXPECT_EQ(second.Bind(QStringLiteral("192.0.2.1"), 8510), SocketError::AddressNotAvailable);

    // Calls in the wrong state.
    EXPECT_EQ(second.Listen(), SocketError::WrongState);
    EXPECT_EQ(second.Send(QByteArray("x")), SocketError::WrongState);
    EXPECT_EQ(listener.Accept(), SocketError::WrongState);  // no request waiting
    EXPECT_EQ(listener.Bind(kCallerAddress, 8511), SocketError::WrongState);
}

TEST(SocketNet, ListenerTakesOneCallerAndRefusesTheNext) {
    Socket listener;
    Events listenerEvents(listener);
    ASSERT_EQ(listener.Bind(kAnswererAddress, 9170), SocketError::None);
    EXPECT_EQ(listener.LocalPort(), 9170);
    // Bound but not listening: callers are refused.
    Socket early;
    Events earlyEvents(early);
    early.Connect(kAnswererAddress, 9170, kCallerAddress);
    ASSERT_TRUE(WaitUntil([&] { return !earlyEvents.errors.isEmpty(); }));
    EXPECT_EQ(earlyEvents.errors.front(), SocketError::ConnectionRefused);

    ASSERT_EQ(listener.Listen(), SocketError::None);
    Socket first;
    Events firstEvents(first);
    ASSERT_EQ(first.Connect(kAnswererAddress, 9170, kCallerAddress), SocketError::None);
    ASSERT_TRUE(
        WaitUntil([&] { return listenerEvents.requests > 0 && firstEvents.connected > 0; }));
    ASSERT_EQ(listener.Accept(), SocketError::None);
    EXPECT_EQ(listener.state(), Socket::State::Connected);
    EXPECT_EQ(listener.RemoteHostIP(), kCallerAddress);
    EXPECT_EQ(listener.RemotePort(), first.LocalPort());
    EXPECT_EQ(first.RemotePort(), 9170);
    EXPECT_EQ(first.RemoteHost(), kAnswererAddress);
    // Both ends send each message at once, without waiting for the other's acknowledgement.
    for (Socket* end : {&listener, &first}) {
        const DescriptorLease lease = end->LendForWriting();
        int noDelay = 0;
        socklen_t length = sizeof noDelay;
        ASSERT_EQ(::getsockopt(lease.descriptor(), IPPROTO_TCP, TCP_NODELAY, &noDelay, &length), 0);
        EXPECT_NE(noDelay, 0);
    }

    Socket next;
    Events nextEvents(next);
    next.Connect(kAnswererAddress, 9170, kCallerAddress);
    ASSERT_TRUE(WaitUntil([&] { return !nextEvents.errors.isEmpty(); }));
    EXPECT_EQ(nextEvents.errors.front(), SocketError::ConnectionRefused);
    EXPECT_EQ(nextEvents.connected, 0);

    // The owner resets and listens again: a new caller gets through.
    listener.Close();
    ASSERT_EQ(listener.Bind(kAnswererAddress, 9170), SocketError::None);
    ASSERT_EQ(listener.Listen(), SocketError::None);
    Socket again;
    Events againEvents(again);
    again.Connect(kAnswererAddress, 9170, kCallerAddress);
    EXPECT_TRUE(WaitUntil([&] { return againEvents.connected > 0; }));
}

TEST(SocketNet, BigSendArrivesWholeThenPeerCloseShutsSending) {
    Socket listener;
    Events listenerEvents(listener);
    ASSERT_EQ(listener.Bind(kAnswererAddress, 8511), SocketError::None);
    ASSERT_EQ(listener.Listen(), SocketError::None);
    QObject::connect(&listener, &Socket::ConnectionRequest, &listener, [&] { listener.Accept(); });
    QByteArray received;
    qint64 announced = 0;
    QObject::connect(&listener, &Socket::DataArrival, &listener, [&](qint64 count) {
        announced += count;
        received += listener.Read();
    });

    Socket sender;
    Events senderEvents(sender);
    qint64 progressed = 0;
    QObject::connect(&sender, &Socket::SendProgress, &sender,
                     [&](qint64 sent, qint64) { progressed += sent; });
    sender.Connect(kAnswererAddress, 8511, kCallerAddress);
    ASSERT_TRUE(WaitUntil([&] { return senderEvents.connected > 0; }));

    QByteArray chunk(4 * 1024 * 1024, Qt::Uninitialized);
    for (int k = 0; k < chunk.size(); ++k)
        chunk[k] = char(k * 7);
    ASSERT_EQ(sender.Send(chunk), SocketError::None);
    ASSERT_TRUE(WaitUntil([&] { return received.size() == chunk.size(); }, 30000));
    EXPECT_EQ(received, chunk);
    EXPECT_EQ(announced, chunk.size());
    ASSERT_TRUE(WaitUntil([&] { return senderEvents.complete > 0; }));
    EXPECT_EQ(progressed, chunk.size());
    EXPECT_EQ(sender.BytesToWrite(), 0);

    sender.Close();
    ASSERT_TRUE(WaitUntil([&] { return listenerEvents.closed > 0; }));
    EXPECT_EQ(listener.state(), Socket::State::PeerClosed);
    EXPECT_EQ(listener.Send(QByteArray("late")), SocketError::ShutDown);
    EXPECT_EQ(senderEvents.closed, 0);  // closing one's own end raises no event
    EXPECT_TRUE(listenerEvents.errors.isEmpty());
}

// An owner that leaves bytes unread holds the peer back instead of letting the socket take in
// all it writes; the bytes are not lost but wait in the system until the owner reads, and the
// peer's close is heard after them.
TEST(SocketNet, UnreadBytesStayWithinTheBoundAndHoldThePeerBack) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect());
    Socket& listener = pair.listener;
    Socket& writer = pair.writer;
    Events& listenerEvents = pair.listenerEvents;

    // Far more than the system's buffers of both ends hold.
    QByteArray block(4093, Qt::Uninitialized);
    for (int k = 0; k < block.size(); ++k)
        block[k] = char(k * 13);
    const QByteArray flood = block.repeated(32 * 256);
    ASSERT_EQ(writer.Send(flood), SocketError::None);
    const qint64 bound = Socket::kDefaultReadBufferSize;
    ASSERT_TRUE(WaitUntil([&] { return listener.BytesBuffered() >= bound; }));
    EXPECT_FALSE(WaitUntil([&] { return listener.BytesBuffered() > bound; }, 500));
    EXPECT_EQ(listener.BytesBuffered(), bound);
    EXPECT_GT(writer.BytesToWrite(), 0);

    QByteArray received = listener.Read();
    QObject::connect(&listener, &Socket::DataArrival, &listener,
                     [&] { received += listener.Read(); });
    ASSERT_TRUE(WaitUntil([&] { return received.size() == flood.size(); }, 30000));
    EXPECT_TRUE(received == flood);
    writer.Close();
    ASSERT_TRUE(WaitUntil([&] { return listenerEvents.closed > 0; }));
    EXPECT_TRUE(listenerEvents.errors.isEmpty());
}

TEST(SocketNet, ALentDescriptorIsTheLeasesUntilItComesBack) {
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect());
    Socket& listener = pair.listener;
    Socket& writer = pair.writer;
    Events& writerEvents = pair.writerEvents;
    int arrivals = 0;
    QObject::connect(&listener, &Socket::DataArrival, &listener, [&] { ++arrivals; });

    // While lent for reading the socket neither reads nor tells of bytes.
    QByteArray taken;
    DescriptorLease lease = listener.LendForReading(&taken);
    ASSERT_TRUE(lease);
    EXPECT_FALSE(listener.LendForReading(&taken));  // one lease at a time
    ASSERT_EQ(writer.Send("abc"), SocketError::None);
    EXPECT_FALSE(WaitUntil([&] { return arrivals > 0; }, 300));
    EXPECT_TRUE(listener.Read().isEmpty());
    char byte = 0;
    EXPECT_EQ(listener.ReadInto(&byte, 1), 0);
    // Given back, the socket reads again what waited.
    lease.Return();
    EXPECT_FALSE(lease);
    ASSERT_TRUE(WaitUntil([&] { return arrivals > 0; }));
    EXPECT_EQ(listener.Read(), QByteArray("abc"));

    // Closed while lent, the socket leaves the descriptor open for the lease's holder, and
    // the lease closes it when it comes back.
    lease = listener.LendForReading(&taken);
    const int descriptor = lease.descriptor();
    listener.Close();
    EXPECT_NE(::fcntl(descriptor, F_GETFD), -1);
    lease = DescriptorLease();
    EXPECT_EQ(::fcntl(descriptor, F_GETFD), -1);
    ASSERT_TRUE(
        WaitUntil([&] { return writerEvents.closed > 0 || !writerEvents.errors.isEmpty(); }));
}

}  // namespace
}  // namespace tvx::test

#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <deque>
#include <memory>

#include "platform/SocketErrors.h"

class QSocketNotifier;

namespace tvx {

class Socket;
class TlsChannel;
class TlsIdentity;

// A socket's connected descriptor, lent to a worker of the owner's on another thread
// (Socket::LendForReading, Socket::LendForWriting). While it is out, the socket leaves alone
// what was lent; when the socket is closed meanwhile, the descriptor is the lease's to close.
// It goes back when the lease is returned or destroyed, so a worker that holds its lease in a
// member declared before its thread has stopped before the descriptor goes back.
class DescriptorLease {
public:
    DescriptorLease() = default;
    DescriptorLease(DescriptorLease&& other) noexcept { *this = std::move(other); }
    DescriptorLease& operator=(DescriptorLease&& other) noexcept;
    DescriptorLease(const DescriptorLease&) = delete;
    DescriptorLease& operator=(const DescriptorLease&) = delete;
    ~DescriptorLease() { Return(); }

    // -1 when nothing is lent.
    int descriptor() const { return descriptor_; }
    explicit operator bool() const { return descriptor_ >= 0; }
    void Return();

    // As recv and send on the descriptor (non-blocking), through TLS on an encrypted
    // connection. Before waiting for the descriptor to be ready, read until EAGAIN: TLS may
    // hold bytes that the descriptor no longer shows.
    ssize_t Receive(void* data, size_t size);
    ssize_t Transmit(const void* data, size_t size, int flags);

private:
    friend class Socket;

    QPointer<Socket> socket_;
    int descriptor_ = -1;
    bool writing_ = false;
    quint64 generation_ = 0;  // the socket's, so a lease outlasting a Close closes the descriptor
    std::shared_ptr<TlsChannel> tls_;
};

// One TCP connection end with the operations and events every window works with. A socket
// either listens (bind, listen, then accept one request on itself) or connects. Operations
// return SocketError::None or what failed; failures that happen later arrive as Error.
//
// The socket works on the system's descriptor itself: received bytes stay with the system
// until the owner reads them, straight into the owner's buffer, and queued arrays go to the
// system from where they are. Only bytes the owner leaves unread after DataArrival are taken
// into a buffer of the socket's own, so the event is not repeated for them. That buffer is
// always bounded (SetReadBufferSize): a peer that writes what nobody reads is held back by the
// system instead of filling memory.
class Socket : public QObject {
    Q_OBJECT

public:
    // What the socket takes in ahead of the owner's reads unless the owner says otherwise.
    static constexpr qint64 kDefaultReadBufferSize = 1024 * 1024;

    enum class State {
        Closed,
        Bound,  // holds its local address and port, not listening
        Listening,
        Connecting,
        Connected,
        PeerClosed,  // the peer closed its end; the owner still has to Close()
        Failed,      // an error was reported; the owner still has to Close()
    };
    Q_ENUM(State)

    explicit Socket(QObject* parent = nullptr);
    ~Socket() override;

    // Closes the connection or listener and forgets everything; no Closed event follows.
    // Bytes still queued go out before the system closes the connection. A lent descriptor is
    // left to its lease.
    void Close();

    // Takes the local address and port now, so a port in use fails here (AddressInUse,
    // AddressNotAvailable).
    SocketError Bind(const QString& localAddress, quint16 localPort);
    SocketError Listen();
    // Accepts the pending connection request on this same socket: listening stops, and later
    // callers are refused by the system until the owner closes and listens again.
    SocketError Accept();
    // As Accept, but only a request from the dotted remote address is taken; requests from
    // anywhere else are closed at once. False when none came from there: the socket then
    // keeps listening.
    bool AcceptFrom(const QString& remoteAddress);
    // Connects to a dotted address from local port 0; with a local address the connection
    // leaves from it.
    SocketError Connect(const QString& remoteHost, quint16 remotePort,
                        const QString& localAddress = QString());

    // Turns the connection into a TLS 1.3 one with this copy's identity, as the server (the
    // end that answered) or the client. Bytes queued before go out plainly first; bytes taken in
    // before must have been read. Encrypted follows when the handshake is done, or Error
    // (Other) when it fails; meanwhile nothing can be sent, read or lent.
    SocketError StartTls(const TlsIdentity& identity, bool server);
    bool encrypted() const { return tls_ != nullptr && !tlsHandshaking_; }
    // SHA-256 of the peer's certificate once encrypted; empty otherwise.
    QByteArray PeerFingerprint() const;
    // Keying material of the TLS session (RFC 5705); empty when not encrypted.
    QByteArray ExportKey(const char* label, int size) const;

    // Queues the bytes for sending. The socket shares the array, it does not copy it.
    SocketError Send(const QByteArray& bytes);
    // Every byte available now (none while the descriptor is lent for reading).
    QByteArray Read();
    // Bounds what the socket takes in ahead of the owner's reads (0 or less: the default). The
    // system holds back the rest, so a slow reader does not fill memory. While the buffer is
    // full the socket hears nothing more, not even the peer's close, until the owner reads.
    void SetReadBufferSize(qint64 bytes);
    // Up to maxSize available bytes into data; the count read (0 when none).
    qint64 ReadInto(char* data, qint64 maxSize);
    // Lends the connected descriptor to a reader on another thread: while the lease is out the
    // socket neither reads nor tells of bytes or of the peer's close. Bytes the socket had
    // taken in go to `taken`. An empty lease without a connection.
    DescriptorLease LendForReading(QByteArray* taken);
    // Lends the connected descriptor to a writer on another thread: while the lease is out
    // nothing is sent through the socket, which still reads and tells of the peer's close. An
    // empty lease without a connection or with bytes still queued.
    DescriptorLease LendForWriting();

    State state() const { return state_; }
    // Bytes that can be read now: those taken in and those the system holds.
    qint64 BytesAvailable() const;
    qint64 BytesToWrite() const { return bytesToWrite_; }
    // Bytes the socket has taken in ahead of the owner's reads.
    qint64 BytesBuffered() const { return Buffered(); }
    quint16 LocalPort() const;
    QString RemoteHost() const;
    quint16 RemotePort() const;
    // The peer's dotted address.
    QString RemoteHostIP() const;

signals:
    void ConnectionRequest();
    void Connected();
    void DataArrival(qint64 bytesTotal);
    void SendProgress(qint64 bytesSent, qint64 bytesRemaining);
    void SendComplete();
    void Closed();
    void Error(tvx::SocketError error);
    void Encrypted();

private:
    class Lingering;
    friend class DescriptorLease;

    DescriptorLease Lend(bool writing);
    void TakeBack(bool writing);
    void Watch(int descriptor);
    void Unwatch();
    void UpdateNotifiers();
    void OnReadable();
    void OnWritable();
    void AcceptRequests();
    void TakeRequest(int descriptor);
    int StartConnecting();  // 0 or errno
    void FinishConnecting();
    void ConnectionUp();
    qint64 KernelBytes() const;
    qint64 Buffered() const { return readBuffer_.size() - readStart_; }
    qint64 TakeFromBuffer(char* data, qint64 maxSize);
    qint64 FillReadBuffer(bool* closed, int* failure);
    void ReadFailed(int errnoValue);
    void ReportLater(int errnoValue);
    void PeerClosedNow();
    void Fail(SocketError error);
    void DropConnection();
    void TlsStep();
    void OnReadableTls();

    State state_ = State::Closed;
    int descriptor_ = -1;  // bound, listening or connected
    QSocketNotifier* reader_;
    QSocketNotifier* writer_;
    std::deque<int> requests_;  // accepted connection requests waiting for Accept
    quint64 generation_ = 0;    // grows with every Close, so late steps of an old one stop
    quint16 boundPort_ = 0;
    QString remoteHost_;
    quint32 remoteAddress_ = 0;  // dialled, in host order
    quint16 remotePort_ = 0;
    bool refusedBefore_ = false;
    QString peerAddress_;
    quint16 peerPort_ = 0;

    // Bytes taken in but not yet read by the owner, from readStart_ on.
    QByteArray readBuffer_;
    qsizetype readStart_ = 0;
    qint64 readLimit_ = kDefaultReadBufferSize;
    quint64 reads_ = 0;  // owner reads that took bytes, to tell whether DataArrival was answered
    bool lent_ = false;  // for reading
    bool writeLent_ = false;  // for writing

    std::shared_ptr<TlsChannel> tls_;
    bool tlsHandshaking_ = false;  // includes the wait for plain bytes queued before
    bool tlsWantsWrite_ = false;
    bool tlsReadQueued_ = false;

    std::deque<QByteArray> writeQueue_;
    qint64 writeOffset_ = 0;  // into the first queued array
    qint64 bytesToWrite_ = 0;
};

}  // namespace tvx

#include "platform/Socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostAddress>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <utility>

#include "platform/SocketErrors.h"
#include "security/TlsChannel.h"
#include "security/TlsIdentity.h"

namespace tvx {

namespace {

// Connection requests held for the owner beyond this are refused at once, as a listener that
// nobody serves should not collect descriptors for a stranger.
constexpr size_t kMaxWaitingRequests = 30;
// What the socket takes in at a time when the owner leaves bytes unread.
constexpr qint64 kFillStep = 64 * 1024;
// Bytes still arriving that a closing socket reads away, so the system ends the connection
// with a close rather than a reset and the bytes queued before it still reach the peer.
constexpr qint64 kDiscardOnClose = 4 * 1024 * 1024;
constexpr int kConnectTimeoutMs = 30000;

bool WouldBlock(int errnoValue) {
    return errnoValue == EAGAIN || errnoValue == EWOULDBLOCK;
}

// The IPv4 address of dotted text, in host order.
bool ParseIPv4(const QString& text, quint32* address) {
    bool ok = false;
    *address = QHostAddress(text).toIPv4Address(&ok);
    return ok;
}

sockaddr_in SocketAddress(quint32 address, quint16 port) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = htonl(address);
    return where;
}

// Sends from the front of the queue until it is empty or the system takes no more, through
// TLS when there is a channel. The count sent, or -1 with errno set when the connection failed.
qint64 WriteQueued(int descriptor, TlsChannel* tls, std::deque<QByteArray>& queue, qint64& offset) {
    qint64 sent = 0;
    while (!queue.empty()) {
        const QByteArray& front = queue.front();
        const char* bytes = front.constData() + offset;
        const size_t size = size_t(front.size() - offset);
        const ssize_t n =
            tls ? tls->Transmit(bytes, size) : ::send(descriptor, bytes, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (WouldBlock(errno))
                break;
            return -1;
        }
        sent += n;
        offset += n;
        if (offset == front.size()) {
            queue.pop_front();
            offset = 0;
        }
    }
    return sent;
}

// Reads away what has arrived, up to a limit.
void Discard(int descriptor, qint64 limit) {
    char scratch[16384];
    while (limit > 0) {
        const ssize_t n = ::recv(descriptor, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n <= 0 && !(n < 0 && errno == EINTR))
            return;
        limit -= qMax<ssize_t>(n, 0);
    }
}

}  // namespace

// A closed connection whose queued bytes have not all gone out yet: it sends them and then
// closes the descriptor. It belongs to the socket, so it goes at the latest with it.
class Socket::Lingering : public QObject {
public:
    Lingering(QObject* parent, int descriptor, std::shared_ptr<TlsChannel> tls,
              std::deque<QByteArray> queue, qint64 offset)
        : QObject(parent),
          descriptor_(descriptor),
          tls_(std::move(tls)),
          queue_(std::move(queue)),
          offset_(offset),
          notifier_(descriptor, QSocketNotifier::Write) {
        connect(&notifier_, &QSocketNotifier::activated, this, [this] {
            if (WriteQueued(descriptor_, tls_.get(), queue_, offset_) < 0 || queue_.empty()) {
                notifier_.setEnabled(false);
                deleteLater();
            }
        });
    }
    ~Lingering() override {
        notifier_.setEnabled(false);
        ::close(descriptor_);
    }

private:
    const int descriptor_;
    std::shared_ptr<TlsChannel> tls_;
    std::deque<QByteArray> queue_;
    qint64 offset_;
    QSocketNotifier notifier_;
};

Socket::Socket(QObject* parent)
    : QObject(parent),
      reader_(new QSocketNotifier(QSocketNotifier::Read, this)),
      writer_(new QSocketNotifier(QSocketNotifier::Write, this)) {
    connect(reader_, &QSocketNotifier::activated, this, &Socket::OnReadable);
    connect(writer_, &QSocketNotifier::activated, this, &Socket::OnWritable);
}

Socket::~Socket() {
    Close();
}

void Socket::Watch(int descriptor) {
    reader_->setSocket(descriptor);
    writer_->setSocket(descriptor);
    UpdateNotifiers();
}

void Socket::Unwatch() {
    reader_->setEnabled(false);
    writer_->setEnabled(false);
}

// Listens for what the state waits for: requests, the end of connecting, bytes while there
// is room for them, and room to send while bytes are queued.
void Socket::UpdateNotifiers() {
    if (descriptor_ < 0) {
        Unwatch();
        return;
    }
    bool reading = state_ == State::Listening ||
                   (state_ == State::Connected && !lent_ && Buffered() < readLimit_);
    bool writing =
        state_ == State::Connecting ||
        ((state_ == State::Connected || state_ == State::PeerClosed) && !writeQueue_.empty());
    if (tlsHandshaking_ && state_ == State::Connected) {
        // Plain bytes queued before the handshake leave first; then it waits for what it needs.
        reading = writeQueue_.empty() && !tlsWantsWrite_;
        writing = !writeQueue_.empty() || tlsWantsWrite_;
    } else if (tls_ && reading && state_ == State::Connected && !tlsReadQueued_ &&
               tls_->PendingBytes() > 0) {
        // Decrypted bytes wait inside TLS, where the descriptor does not show them.
        tlsReadQueued_ = true;
        const quint64 generation = generation_;
        QTimer::singleShot(0, this, [this, generation] {
            if (generation != generation_)
                return;
            tlsReadQueued_ = false;
            if (tls_ && !tlsHandshaking_ && state_ == State::Connected && !lent_)
                OnReadableTls();
        });
    }
    if (reader_->isEnabled() != reading)
        reader_->setEnabled(reading);
    if (writer_->isEnabled() != writing)
        writer_->setEnabled(writing);
}

void Socket::Close() {
    ++generation_;
    Unwatch();
    if (lent_ || writeLent_) {
        // The worker may still use it: its lease closes it when it comes back.
        writeQueue_.clear();
        writeOffset_ = 0;
        bytesToWrite_ = 0;
        descriptor_ = -1;
    }
    DropConnection();
    for (const int request : requests_)
        ::close(request);
    requests_.clear();
    if (descriptor_ >= 0)
        ::close(descriptor_);
    descriptor_ = -1;
    boundPort_ = 0;
    remoteHost_.clear();
    peerAddress_.clear();
    peerPort_ = 0;
    readBuffer_.clear();
    readStart_ = 0;
    lent_ = false;
    writeLent_ = false;
    tls_.reset();
    tlsHandshaking_ = false;
    tlsWantsWrite_ = false;
    tlsReadQueued_ = false;
    state_ = State::Closed;
}

void Socket::DropConnection() {
    const bool connection = state_ == State::Connected || state_ == State::PeerClosed;
    if (connection && descriptor_ >= 0) {
        Discard(descriptor_, kDiscardOnClose);
        TlsChannel* tls = tlsHandshaking_ ? nullptr : tls_.get();
        if (tlsHandshaking_ && tls_)
            writeQueue_.clear();  // nothing may leave plainly once TLS has been asked for
        if (!writeQueue_.empty() && WriteQueued(descriptor_, tls, writeQueue_, writeOffset_) >= 0 &&
            !writeQueue_.empty()) {
            new Lingering(this, descriptor_, tls ? tls_ : nullptr, std::move(writeQueue_),
                          writeOffset_);
            descriptor_ = -1;
        }
    }
    writeQueue_.clear();
    writeOffset_ = 0;
    bytesToWrite_ = 0;
}

SocketError Socket::Bind(const QString& localAddress, quint16 localPort) {
    if (state_ != State::Closed)
        return SocketError::WrongState;
    quint32 address = 0;
    if (!ParseIPv4(localAddress, &address))
        return SocketError::AddressNotAvailable;

    const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (descriptor < 0)
        return SocketErrorOfErrno(errno);
    // As every listener on this system does, so a port left in TIME_WAIT can be bound again.
    const int reuse = 1;
    ::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    const sockaddr_in where = SocketAddress(address, localPort);
    if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
        const int failure = errno;
        ::close(descriptor);
        return SocketErrorOfErrno(failure);
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&bound), &length);
    descriptor_ = descriptor;
    boundPort_ = ntohs(bound.sin_port);
    state_ = State::Bound;
    Watch(descriptor_);
    return SocketError::None;
}

SocketError Socket::Listen() {
    if (state_ != State::Bound)
        return SocketError::WrongState;
    if (::listen(descriptor_, 5) != 0)
        return SocketErrorOfErrno(errno);
    state_ = State::Listening;
    UpdateNotifiers();
    return SocketError::None;
}

// Takes every waiting request from the system and tells the owner of each.
void Socket::AcceptRequests() {
    int taken = 0;
    for (;;) {
        const int request = ::accept4(descriptor_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (request < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (!WouldBlock(errno)) {
                // Out of descriptors or the like: pause instead of spinning on the request.
                reader_->setEnabled(false);
                const quint64 generation = generation_;
                QTimer::singleShot(100, this, [this, generation] {
                    if (generation == generation_)
                        UpdateNotifiers();
                });
            }
            break;
        }
        if (requests_.size() >= kMaxWaitingRequests) {
            ::close(request);
            continue;
        }
        requests_.push_back(request);
        ++taken;
    }
    const QPointer<Socket> alive(this);
    for (int k = 0; k < taken; ++k) {
        emit ConnectionRequest();
        if (!alive || state_ != State::Listening)
            return;
    }
}

SocketError Socket::Accept() {
    if (state_ != State::Listening || requests_.empty())
        return SocketError::WrongState;
    const int request = requests_.front();
    requests_.pop_front();
    TakeRequest(request);
    return SocketError::None;
}

bool Socket::AcceptFrom(const QString& remoteAddress) {
    if (state_ != State::Listening)
        return false;
    while (!requests_.empty()) {
        const int request = requests_.front();
        requests_.pop_front();
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(request, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
            QHostAddress(ntohl(peer.sin_addr.s_addr)).toString() == remoteAddress) {
            TakeRequest(request);
            return true;
        }
        ::close(request);
    }
    return false;
}

// Keeps the accepted request as this socket's connection and stops listening.
void Socket::TakeRequest(int request) {
    for (const int extra : requests_)
        ::close(extra);
    requests_.clear();
    Unwatch();
    ::close(descriptor_);
    descriptor_ = request;
    boundPort_ = 0;
    state_ = State::Connected;
    ConnectionUp();
}

SocketError Socket::Connect(const QString& remoteHost, quint16 remotePort,
                            const QString& localAddress) {
    if (state_ != State::Closed)
        return SocketError::WrongState;
    quint32 local = 0;
    if (!localAddress.isEmpty() && !ParseIPv4(localAddress, &local))
        return SocketError::AddressNotAvailable;
    const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (descriptor < 0)
        return SocketErrorOfErrno(errno);
    if (!localAddress.isEmpty()) {
        const sockaddr_in from = SocketAddress(local, 0);
        if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
            const int failure = errno;
            ::close(descriptor);
            return SocketErrorOfErrno(failure);
        }
    }
    descriptor_ = descriptor;
    remoteHost_ = remoteHost;
    state_ = State::Connecting;
    quint32 remote = 0;
    if (!ParseIPv4(remoteHost, &remote)) {
        // Names are not looked up: every caller dials a dotted address.
        const quint64 generation = generation_;
        QTimer::singleShot(0, this, [this, generation] {
            if (generation == generation_ && state_ == State::Connecting)
                Fail(SocketError::HostNotFound);
        });
        return SocketError::None;
    }
    remoteAddress_ = remote;
    remotePort_ = remotePort;
    refusedBefore_ = false;
    const int failure = StartConnecting();
    if (failure != 0) {
        // The failure is told as an event, as one found later would be.
        ReportLater(failure);
        return SocketError::None;
    }
    // Writable once connected or failed; a connection made at once is told the same way.
    Watch(descriptor_);
    // A host that never answers is given up after a while, not after the system's minutes.
    const quint64 generation = generation_;
    QTimer::singleShot(kConnectTimeoutMs, this, [this, generation] {
        if (generation == generation_ && state_ == State::Connecting)
            Fail(SocketError::TimedOut);
    });
    return SocketError::None;
}

// One connection attempt to the remote address; 0 when it is under way or made.
int Socket::StartConnecting() {
    const sockaddr_in where = SocketAddress(remoteAddress_, remotePort_);
    int result;
    do {
        result = ::connect(descriptor_, reinterpret_cast<const sockaddr*>(&where), sizeof where);
    } while (result != 0 && errno == EINTR);
    return result == 0 || errno == EINPROGRESS ? 0 : errno;
}

void Socket::FinishConnecting() {
    int failure = 0;
    socklen_t length = sizeof failure;
    if (::getsockopt(descriptor_, SOL_SOCKET, SO_ERROR, &failure, &length) != 0)
        failure = errno;
    if (failure == EINPROGRESS || failure == EALREADY)
        return;
    if (failure == ECONNREFUSED && !refusedBefore_) {
        // The listener may be just coming back after its previous caller: one more attempt
        // a moment later, on the same descriptor and local address.
        refusedBefore_ = true;
        // The first call only reports the failed attempt and readies the socket again.
        if (StartConnecting() == 0 || StartConnecting() == 0)
            return;
    }
    if (failure != 0) {
        Fail(SocketErrorOfErrno(failure));
        return;
    }
    state_ = State::Connected;
    ConnectionUp();
    emit Connected();
}

void Socket::ConnectionUp() {
    // Each message leaves as soon as it is written. With the system's wait for small writes, a
    // reply such as the receiver's completion could sit until the peer's delayed
    // acknowledgement of the previous message, tens of milliseconds.
    const int noDelay = 1;
    ::setsockopt(descriptor_, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(descriptor_, reinterpret_cast<sockaddr*>(&peer), &length) == 0) {
        peerAddress_ = QHostAddress(ntohl(peer.sin_addr.s_addr)).toString();
        peerPort_ = ntohs(peer.sin_port);
    }
    Watch(descriptor_);
}

SocketError Socket::StartTls(const TlsIdentity& identity, bool server) {
    if (state_ != State::Connected || lent_ || writeLent_ || tls_ || Buffered() > 0)
        return SocketError::WrongState;
    auto channel = std::make_shared<TlsChannel>(identity.context(), descriptor_, server);
    if (!channel->valid())
        return SocketError::Other;
    tls_ = std::move(channel);
    tlsHandshaking_ = true;
    tlsWantsWrite_ = !server;  // the client speaks first
    UpdateNotifiers();
    return SocketError::None;
}

void Socket::TlsStep() {
    if (!writeQueue_.empty()) {
        UpdateNotifiers();
        return;
    }
    switch (tls_->Handshake()) {
        case TlsChannel::Step::Done: {
            tlsHandshaking_ = false;
            tlsWantsWrite_ = false;
            UpdateNotifiers();
            emit Encrypted();
            return;
        }
        case TlsChannel::Step::WantRead:
            tlsWantsWrite_ = false;
            UpdateNotifiers();
            return;
        case TlsChannel::Step::WantWrite:
            tlsWantsWrite_ = true;
            UpdateNotifiers();
            return;
        case TlsChannel::Step::Failed:
            Fail(SocketError::Other);
            return;
    }
}

QByteArray Socket::PeerFingerprint() const {
    return encrypted() ? tls_->PeerFingerprint() : QByteArray();
}

QByteArray Socket::ExportKey(const char* label, int size) const {
    return encrypted() ? tls_->ExportKey(label, size) : QByteArray();
}

SocketError Socket::Send(const QByteArray& bytes) {
    if (state_ == State::PeerClosed)
        return SocketError::ShutDown;
    if (state_ != State::Connected || writeLent_ || tlsHandshaking_)
        return SocketError::WrongState;
    if (bytes.isEmpty())
        return SocketError::None;
    writeQueue_.push_back(bytes);
    bytesToWrite_ += bytes.size();
    UpdateNotifiers();
    return SocketError::None;
}

void Socket::OnWritable() {
    if (state_ == State::Connecting) {
        FinishConnecting();
        return;
    }
    if (tlsHandshaking_ && state_ == State::Connected) {
        if (!writeQueue_.empty()) {
            const qint64 sent = WriteQueued(descriptor_, nullptr, writeQueue_, writeOffset_);
            if (sent < 0) {
                Fail(ConnectionError(errno));
                return;
            }
            bytesToWrite_ -= sent;
            if (!writeQueue_.empty())
                return;
        }
        TlsStep();
        return;
    }
    const qint64 sent =
        WriteQueued(descriptor_, encrypted() ? tls_.get() : nullptr, writeQueue_, writeOffset_);
    if (sent < 0) {
        const int failure = errno;
        writeQueue_.clear();
        writeOffset_ = 0;
        bytesToWrite_ = 0;
        UpdateNotifiers();
        // Bytes that can no longer leave: the peer reset the connection. After the peer's
        // close the owner has heard all there is to hear.
        if (state_ == State::Connected)
            Fail(ConnectionError(failure));
        return;
    }
    bytesToWrite_ -= sent;
    UpdateNotifiers();
    if (sent == 0)
        return;
    const QPointer<Socket> alive(this);
    const quint64 generation = generation_;
    emit SendProgress(sent, bytesToWrite_);
    if (alive && generation == generation_ && bytesToWrite_ == 0)
        emit SendComplete();
}

qint64 Socket::KernelBytes() const {
    if (descriptor_ < 0 || (state_ != State::Connected && state_ != State::PeerClosed))
        return 0;
    if (tls_)
        return tlsHandshaking_ ? 0 : tls_->PendingBytes();
    int count = 0;
    return ::ioctl(descriptor_, FIONREAD, &count) == 0 ? count : 0;
}

qint64 Socket::BytesAvailable() const {
    return Buffered() + KernelBytes();
}

void Socket::OnReadable() {
    if (state_ == State::Listening) {
        AcceptRequests();
        return;
    }
    if (state_ != State::Connected) {
        UpdateNotifiers();
        return;
    }
    if (tlsHandshaking_) {
        TlsStep();
        return;
    }
    if (tls_) {
        OnReadableTls();
        return;
    }
    if (KernelBytes() == 0) {
        // Readable with nothing to read: the peer closed its end, or the connection failed.
        char probe;
        const ssize_t n = ::recv(descriptor_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0) {
            PeerClosedNow();
            return;
        }
        if (n < 0) {
            if (!WouldBlock(errno) && errno != EINTR)
                ReadFailed(errno);
            return;
        }
    }
    const QPointer<Socket> alive(this);
    const quint64 generation = generation_;
    for (;;) {
        const quint64 reads = reads_;
        emit DataArrival(BytesAvailable());
        if (!alive || generation != generation_ || state_ != State::Connected)
            return;
        // Bytes the owner leaves for later are taken in, so that this event does not repeat
        // for them until more arrive; the owner hears of what was added.
        if (reads_ != reads || lent_)
            break;
        // The close itself is noticed when nothing is left to read.
        bool closed = false;
        int failure = 0;
        const qint64 added = FillReadBuffer(&closed, &failure);
        if (failure != 0)
            ReportLater(failure);
        if (added == 0)
            break;
    }
    UpdateNotifiers();
}

// Takes what has arrived (decrypted, on an encrypted connection) into the socket's buffer, as
// far as there is room. `closed`: the peer's close was met; `failure`: the errno of a failed read.
qint64 Socket::FillReadBuffer(bool* closed, int* failure) {
    qint64 added = 0;
    for (;;) {
        const qint64 room = qMin(kFillStep, readLimit_ - Buffered());
        if (room <= 0)
            break;
        if (readStart_ > 0) {
            readBuffer_.remove(0, readStart_);
            readStart_ = 0;
        }
        const qsizetype end = readBuffer_.size();
        readBuffer_.resize(end + room);
        char* into = readBuffer_.data() + end;
        const ssize_t n =
            tls_ ? tls_->Receive(into, size_t(room)) : ::recv(descriptor_, into, size_t(room), 0);
        readBuffer_.resize(end + qMax<ssize_t>(n, 0));
        if (n > 0) {
            added += n;
            continue;
        }
        if (n == 0)
            *closed = true;
        else if (errno == EINTR)
            continue;
        else if (!WouldBlock(errno))
            *failure = errno;
        break;
    }
    return added;
}

// As OnReadable, for an encrypted connection: every decrypted byte goes through the socket's
// buffer, and the owner hears of it for as long as it keeps reading.
void Socket::OnReadableTls() {
    const QPointer<Socket> alive(this);
    const quint64 generation = generation_;
    bool closed = false;
    int failure = 0;
    FillReadBuffer(&closed, &failure);
    while (Buffered() > 0 && !lent_) {
        const quint64 reads = reads_;
        emit DataArrival(BytesAvailable());
        if (!alive || generation != generation_ || state_ != State::Connected)
            return;
        if (reads_ == reads)
            break;  // left for later
        if (!closed && failure == 0)
            FillReadBuffer(&closed, &failure);
    }
    if (closed) {
        PeerClosedNow();
        return;
    }
    if (failure != 0) {
        ReadFailed(failure);
        return;
    }
    UpdateNotifiers();
}

qint64 Socket::TakeFromBuffer(char* data, qint64 maxSize) {
    const qint64 count = qMin(Buffered(), maxSize);
    if (count <= 0)
        return 0;
    memcpy(data, readBuffer_.constData() + readStart_, size_t(count));
    readStart_ += count;
    if (readStart_ == readBuffer_.size()) {
        readBuffer_.resize(0);
        readStart_ = 0;
    }
    return count;
}

DescriptorLease Socket::Lend(bool writing) {
    DescriptorLease lease;
    lease.socket_ = this;
    lease.descriptor_ = descriptor_;
    lease.writing_ = writing;
    lease.generation_ = generation_;
    lease.tls_ = tls_;
    (writing ? writeLent_ : lent_) = true;
    UpdateNotifiers();
    return lease;
}

void Socket::TakeBack(bool writing) {
    (writing ? writeLent_ : lent_) = false;
    UpdateNotifiers();
}

DescriptorLease Socket::LendForReading(QByteArray* taken) {
    if (state_ != State::Connected || descriptor_ < 0 || lent_ || tlsHandshaking_)
        return {};
    *taken = readBuffer_.mid(readStart_);
    readBuffer_.clear();
    readStart_ = 0;
    return Lend(false);
}

DescriptorLease Socket::LendForWriting() {
    if (state_ != State::Connected || descriptor_ < 0 || writeLent_ || !writeQueue_.empty() ||
        tlsHandshaking_)
        return {};
    return Lend(true);
}

DescriptorLease& DescriptorLease::operator=(DescriptorLease&& other) noexcept {
    if (this != &other) {
        Return();
        socket_ = other.socket_;
        descriptor_ = std::exchange(other.descriptor_, -1);
        writing_ = other.writing_;
        generation_ = other.generation_;
        tls_ = std::move(other.tls_);
        other.socket_.clear();
    }
    return *this;
}

void DescriptorLease::Return() {
    if (descriptor_ < 0)
        return;
    if (socket_ && socket_->generation_ == generation_)
        socket_->TakeBack(writing_);
    else
        ::close(descriptor_);  // the socket was closed while the descriptor was out
    descriptor_ = -1;
    socket_.clear();
    tls_.reset();
}

ssize_t DescriptorLease::Receive(void* data, size_t size) {
    return tls_ ? tls_->Receive(data, size) : ::recv(descriptor_, data, size, 0);
}

ssize_t DescriptorLease::Transmit(const void* data, size_t size, int flags) {
    return tls_ ? tls_->Transmit(data, size) : ::send(descriptor_, data, size, flags);
}

QByteArray Socket::Read() {
    if (lent_ || tlsHandshaking_)
        return QByteArray();
    if (tls_) {
        // What TLS has decrypted and what has arrived, up to the socket's own bound; the close
        // is noticed with the next event.
        bool closed = false;
        int failure = 0;
        FillReadBuffer(&closed, &failure);
        if (failure != 0)
            ReportLater(failure);
    }
    QByteArray bytes = readBuffer_.mid(readStart_);
    readBuffer_.clear();
    readStart_ = 0;
    const qint64 waiting = tls_ ? 0 : KernelBytes();
    if (waiting > 0) {
        const qsizetype end = bytes.size();
        bytes.resize(end + waiting);
        ssize_t n;
        do {
            n = ::recv(descriptor_, bytes.data() + end, size_t(waiting), 0);
        } while (n < 0 && errno == EINTR);
        bytes.resize(end + qMax<ssize_t>(n, 0));
        if (n < 0 && !WouldBlock(errno))
            ReportLater(errno);
    }
    if (!bytes.isEmpty())
        ++reads_;
    UpdateNotifiers();
    return bytes;
}

qint64 Socket::ReadInto(char* data, qint64 maxSize) {
    if (lent_ || tlsHandshaking_)
        return 0;
    qint64 count = TakeFromBuffer(data, maxSize);
    if (count < maxSize && Buffered() == 0 && descriptor_ >= 0 &&
        (state_ == State::Connected || state_ == State::PeerClosed)) {
        ssize_t n;
        do {
            n = tls_ ? tls_->Receive(data + count, size_t(maxSize - count))
                     : ::recv(descriptor_, data + count, size_t(maxSize - count), 0);
        } while (n < 0 && errno == EINTR);
        if (n > 0)
            count += n;
        else if (n < 0 && !WouldBlock(errno))
            ReportLater(errno);
    }
    if (count > 0)
        ++reads_;
    UpdateNotifiers();
    return count;
}

void Socket::SetReadBufferSize(qint64 bytes) {
    readLimit_ = bytes > 0 ? bytes : kDefaultReadBufferSize;
    UpdateNotifiers();
}

// A failure met while reading: a reset counts as the peer's close unless bytes are still
// waiting to leave, as with the close the owner needs nothing more to tell them apart.
void Socket::ReadFailed(int errnoValue) {
    if (state_ != State::Connected && state_ != State::Connecting)
        return;
    if (state_ == State::Connected && IsConnectionReset(errnoValue) && bytesToWrite_ == 0) {
        PeerClosedNow();
        return;
    }
    Fail(ConnectionError(errnoValue));
}

// Reports a failure met inside a call as the later event it is.
void Socket::ReportLater(int errnoValue) {
    const quint64 generation = generation_;
    QTimer::singleShot(0, this, [this, generation, errnoValue] {
        if (generation == generation_)
            ReadFailed(errnoValue);
    });
}

void Socket::PeerClosedNow() {
    state_ = State::PeerClosed;
    UpdateNotifiers();
    emit Closed();
}

void Socket::Fail(SocketError error) {
    if (state_ == State::Closed || state_ == State::Failed)
        return;
    state_ = State::Failed;
    UpdateNotifiers();
    emit Error(error);
}

quint16 Socket::LocalPort() const {
    if (state_ == State::Bound || state_ == State::Listening)
        return boundPort_;
    if (descriptor_ < 0)
        return 0;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(descriptor_, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

QString Socket::RemoteHost() const {
    if (peerAddress_.isEmpty())
        return QString();
    return remoteHost_.isEmpty() ? peerAddress_ : remoteHost_;
}

quint16 Socket::RemotePort() const {
    return peerPort_;
}

QString Socket::RemoteHostIP() const {
    return peerAddress_;
}

}  // namespace tvx

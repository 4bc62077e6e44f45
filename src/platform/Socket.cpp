#include "platform/Socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <cerrno>

#include "platform/SocketErrors.h"

namespace tvx {

namespace {

int ErrnoNumber(int errnoValue) {
    return SocketErrorNumberOf(SocketErrorOfErrno(errnoValue));
}

QString DottedAddressOf(const QHostAddress& address) {
    bool ok = false;
    const quint32 ipv4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(ipv4).toString() : address.toString();
}

void Drop(QTcpSocket* request) {
    request->abort();
    request->deleteLater();
}

}  // namespace

Socket::Socket(QObject* parent) : QObject(parent), server_(new QTcpServer(this)) {
    connect(server_, &QTcpServer::newConnection, this, &Socket::OnNewConnection);
}

Socket::~Socket() {
    Close();
}

void Socket::Close() {
    DropConnection();
    if (server_->isListening()) {
        while (QTcpSocket* waiting = server_->nextPendingConnection()) {
            waiting->abort();
            waiting->deleteLater();
        }
        server_->close();
    }
    if (boundDescriptor_ >= 0) {
        ::close(boundDescriptor_);
        boundDescriptor_ = -1;
    }
    boundPort_ = 0;
    remoteHost_.clear();
    state_ = State::Closed;
}

void Socket::DropConnection() {
    if (!connection_)
        return;
    QTcpSocket* connection = connection_;
    connection_ = nullptr;
    disconnect(connection, nullptr, this, nullptr);
    // Bytes still queued go out before the close; the object goes when it is done.
    connection->disconnectFromHost();
    if (connection->state() == QAbstractSocket::UnconnectedState) {
        connection->deleteLater();
    } else {
        connect(connection, &QTcpSocket::disconnected, connection, &QObject::deleteLater);
        connect(connection, &QTcpSocket::errorOccurred, connection, &QObject::deleteLater);
    }
}

int Socket::Bind(const QString& localAddress, quint16 localPort) {
    if (state_ != State::Closed)
        return kErrWrongState;
    bool ok = false;
    const quint32 address = QHostAddress(localAddress).toIPv4Address(&ok);
    if (!ok)
        return kErrAddressNotAvailable;

    const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (descriptor < 0)
        return ErrnoNumber(errno);
    // As every listener on this system does, so a port left in TIME_WAIT can be bound again.
    const int reuse = 1;
    ::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(localPort);
    where.sin_addr.s_addr = htonl(address);
    if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
        const int failure = errno;
        ::close(descriptor);
        return ErrnoNumber(failure);
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&bound), &length);
    boundDescriptor_ = descriptor;
    boundPort_ = ntohs(bound.sin_port);
    state_ = State::Bound;
    return 0;
}

int Socket::Listen() {
    if (state_ != State::Bound)
        return kErrWrongState;
    if (::listen(boundDescriptor_, 5) != 0)
        return ErrnoNumber(errno);
    if (!server_->setSocketDescriptor(boundDescriptor_)) {
        return SocketErrorNumberOf(server_->serverError());
    }
    boundDescriptor_ = -1;  // the server owns it now
    state_ = State::Listening;
    return 0;
}

void Socket::OnNewConnection() {
    if (state_ == State::Listening)
        emit ConnectionRequest();
}

int Socket::Accept() {
    if (state_ != State::Listening || !server_->hasPendingConnections())
        return kErrWrongState;
    TakeRequest(server_->nextPendingConnection());
    return 0;
}

bool Socket::AcceptFrom(const QString& remoteAddress) {
    if (state_ != State::Listening)
        return false;
    while (QTcpSocket* request = server_->nextPendingConnection()) {
        if (DottedAddressOf(request->peerAddress()) == remoteAddress) {
            TakeRequest(request);
            return true;
        }
        Drop(request);
    }
    return false;
}

// Keeps the accepted request as this socket's connection and stops listening.
void Socket::TakeRequest(QTcpSocket* accepted) {
    while (QTcpSocket* extra = server_->nextPendingConnection())
        Drop(extra);
    server_->close();
    Adopt(accepted);
    state_ = State::Connected;
}

int Socket::Connect(const QString& remoteHost, quint16 remotePort, const QString& localAddress) {
    if (state_ != State::Closed)
        return kErrWrongState;
    auto* connection = new QTcpSocket(this);
    if (!localAddress.isEmpty() && !connection->bind(QHostAddress(localAddress), 0)) {
        const int number = SocketErrorNumberOf(connection->error());
        delete connection;
        return number;
    }
    Adopt(connection);
    remoteHost_ = remoteHost;
    state_ = State::Connecting;
    connection->connectToHost(remoteHost, remotePort);
    return 0;
}

void Socket::Adopt(QTcpSocket* connection) {
    connection->setParent(this);
    connection_ = connection;
    connect(connection, &QTcpSocket::connected, this, &Socket::OnConnected);
    connect(connection, &QTcpSocket::readyRead, this, &Socket::OnReadyRead);
    connect(connection, &QTcpSocket::bytesWritten, this, &Socket::OnBytesWritten);
    connect(connection, &QTcpSocket::disconnected, this, &Socket::OnDisconnected);
    connect(connection, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) { OnErrorOccurred(int(error)); });
}

int Socket::Send(const QByteArray& bytes) {
    if (state_ == State::PeerClosed)
        return kErrShutDown;
    if (state_ != State::Connected || !connection_)
        return kErrWrongState;
    if (bytes.isEmpty())
        return 0;
    if (connection_->write(bytes) != bytes.size()) {
        return SocketErrorNumberOf(connection_->error());
    }
    return 0;
}

QByteArray Socket::Read() {
    return connection_ ? connection_->readAll() : QByteArray();
}

void Socket::SetReadBufferSize(qint64 bytes) {
    if (connection_) connection_->setReadBufferSize(bytes);
}

qint64 Socket::ReadInto(char* data, qint64 maxSize) {
    if (!connection_) return 0;
    const qint64 count = connection_->read(data, maxSize);
    return count > 0 ? count : 0;
}

qint64 Socket::BytesAvailable() const {
    return connection_ ? connection_->bytesAvailable() : 0;
}

qint64 Socket::BytesToWrite() const {
    return connection_ ? connection_->bytesToWrite() : 0;
}

quint16 Socket::LocalPort() const {
    if (connection_)
        return connection_->localPort();
    if (server_->isListening())
        return server_->serverPort();
    return boundPort_;
}

QString Socket::RemoteHost() const {
    if (!connection_)
        return QString();
    return remoteHost_.isEmpty() ? RemoteHostIP() : remoteHost_;
}

quint16 Socket::RemotePort() const {
    return connection_ ? connection_->peerPort() : 0;
}

QString Socket::RemoteHostIP() const {
    return connection_ ? DottedAddressOf(connection_->peerAddress()) : QString();
}

void Socket::OnConnected() {
    state_ = State::Connected;
    emit Connected();
}

void Socket::OnReadyRead() {
    if (connection_)
        emit DataArrival(connection_->bytesAvailable());
}

void Socket::OnBytesWritten(qint64 bytes) {
    if (!connection_)
        return;
    const qint64 remaining = connection_->bytesToWrite();
    emit SendProgress(bytes, remaining);
    if (remaining == 0 && connection_)
        emit SendComplete();
}

void Socket::OnDisconnected() {
    if (state_ != State::Connected)
        return;
    state_ = State::PeerClosed;
    emit Closed();
}

void Socket::OnErrorOccurred(int error) {
    const auto socketError = QAbstractSocket::SocketError(error);
    if (socketError == QAbstractSocket::RemoteHostClosedError) {
        // Qt reports the peer's close and its reset alike; only bytes that can no longer
        // leave tell a reset apart. A plain close arrives as Closed.
        if (!connection_ || connection_->bytesToWrite() == 0)
            return;
    }
    if (state_ == State::Closed || state_ == State::Failed)
        return;
    state_ = State::Failed;
    emit Error(SocketErrorNumberOf(socketError));
}

}  // namespace tvx

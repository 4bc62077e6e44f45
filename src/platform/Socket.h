#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class QTcpServer;
class QTcpSocket;

namespace tvx {

// One TCP connection end with the operations and events every window works with. A socket
// either listens (bind, listen, then accept one request on itself) or connects. Operations
// return 0 or an error number (SocketErrors.h); failures that happen later arrive as Error.
class Socket : public QObject {
    Q_OBJECT

public:
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
    void Close();

    // Takes the local address and port now, so a port in use fails here (10048, 10049).
    int Bind(const QString& localAddress, quint16 localPort);
    int Listen();
    // Accepts the pending connection request on this same socket: listening stops, and later
    // callers are refused by the system until the owner closes and listens again.
    int Accept();
    // As Accept, but only a request from the dotted remote address is taken; requests from
    // anywhere else are closed at once. False when none came from there: the socket then
    // keeps listening.
    bool AcceptFrom(const QString& remoteAddress);
    // Connects from local port 0; with a local address the connection leaves from it.
    int Connect(const QString& remoteHost, quint16 remotePort,
                const QString& localAddress = QString());

    // Queues the bytes for sending. The socket shares the array, it does not copy it.
    int Send(const QByteArray& bytes);
    // Every byte available now.
    QByteArray Read();
    // Bounds what the connection takes in ahead of the owner's reads (0: no bound). The
    // system holds back the rest, so a slow reader does not fill memory.
    void SetReadBufferSize(qint64 bytes);
    // Up to maxSize available bytes into data; the count read (0 when none).
    qint64 ReadInto(char* data, qint64 maxSize);

    State state() const { return state_; }
    qint64 BytesAvailable() const;
    qint64 BytesToWrite() const;
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
    void Error(int number);

private:
    void Adopt(QTcpSocket* connection);
    void TakeRequest(QTcpSocket* accepted);
    void DropConnection();
    void OnConnected();
    void OnReadyRead();
    void OnBytesWritten(qint64 bytes);
    void OnDisconnected();
    void OnErrorOccurred(int error);
    void OnNewConnection();

    State state_ = State::Closed;
    QTcpServer* server_;
    QPointer<QTcpSocket> connection_;
    int boundDescriptor_ = -1;
    quint16 boundPort_ = 0;
    QString remoteHost_;
};

}  // namespace tvx

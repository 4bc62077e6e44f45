#pragma once

#include <QObject>
#include <QString>
#include <QVector>
#include <memory>

namespace tvx {

struct Session;
class WebServerCore;

// A file offered on the page for download. The page names it by its id, never by a path.
struct WebShare {
    quint32 id = 0;
    QString path;  // where it is read from here
    QString name;  // the name the browser saves it under
    qint64 size = 0;
};

// What happened on the page, for the window's list and the command's lines.
struct WebEvent {
    enum class Kind {
        Arrived,          // a file came in complete: name as saved, path, size
        Fetched,          // an offered file went out whole: name, size
        UploadCut,        // an upload ended early; its temporary file is gone: name, size so far
        UploadFailed,     // a file could not be written: name, path (folder), systemError
        AddressLockedOut  // five wrong codes from an address within a minute
    };
    Kind kind = Kind::Arrived;
    QString name;
    QString path;
    qint64 size = 0;
    QString address;  // the browser's address
    QString systemError;
};

// The page for browsers without Tolvex: a phone or another computer sends files into the
// receive folder and fetches the offered files, after typing the code shown here. Served over
// plain HTTP on the local address only while the window or command that started it runs, to
// the addresses of the local address's subnet. The HTTP work runs on the server library's
// threads; what the user is to see comes back to this object's thread as signals.
class WebServer : public QObject {
    Q_OBJECT

public:
    static constexpr quint16 kDefaultPort = 8530;
    // Connections open at once, in all and from one address; beyond them a new connection is
    // closed at once, so one browser (or one stranger) cannot take every place.
    static constexpr int kMaxConnections = 256;
    static constexpr int kMaxConnectionsPerAddress = 24;
    // A connection that sends nothing for this long is closed; the request line and headers
    // must be complete within kHeaderDeadlineMs of the connection's start (slow clients).
    static constexpr int kIdleTimeoutSeconds = 20;
    static constexpr int kHeaderDeadlineMs = 15000;

    enum class Phase { Stopped, Serving };
    enum class StartFailure {
        None,
        PortInUse,           // another program holds the port
        AddressUnavailable,  // the local address is not this computer's (any more)
        FolderMissing,       // the receive folder does not exist
        Failed,              // the server could not start for another reason
    };

    explicit WebServer(Session& session, QObject* parent = nullptr);
    ~WebServer() override;

    // Starts serving on the session's local address with a new six-digit code. Uploads go into
    // receiveFolder under the received files' name rules ("ExistFile" from the settings).
    StartFailure Start(const QString& receiveFolder, quint16 port = kDefaultPort);
    // Ends the page: open connections are closed, unfinished uploads removed. The sessions
    // and the code end with it.
    void Stop();

    Phase phase() const { return m_phase; }
    QString Url() const;  // "http://ADDRESS:PORT/"
    QString Code() const { return m_code; }
    quint16 Port() const { return m_port; }

    QString ReceiveFolder() const;
    // Uploads that begin after this go into the folder; false when it does not exist.
    bool SetReceiveFolder(const QString& folder);

    // Offers a regular readable file for download; its id, or 0 when it cannot be offered.
    quint32 Share(const QString& path);
    void Unshare(quint32 id);
    QVector<WebShare> Shares() const;

    // Tests: the addresses served (base and prefix length) instead of the local subnet, and
    // shorter limits for slow clients.
    void SetServedNetwork(const QString& base, int prefixLength);
    void SetTimeouts(int idleSeconds, int headerDeadlineMs);

signals:
    void PhaseChanged(tvx::WebServer::Phase phase);
    void Happened(const tvx::WebEvent& event);

private:
    Session& m_session;
    Phase m_phase = Phase::Stopped;
    QString m_code;
    quint16 m_port = 0;
    std::unique_ptr<WebServerCore> m_core;
    QString m_servedBase;
    int m_servedPrefix = -1;
    int m_idleSeconds = kIdleTimeoutSeconds;
    int m_headerDeadlineMs = kHeaderDeadlineMs;
};

}  // namespace tvx

Q_DECLARE_METATYPE(tvx::WebEvent)

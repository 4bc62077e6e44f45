#include "web/WebServer.h"

#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QUrlQuery>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "common/Paths.h"
#include "platform/FileSystem.h"
#include "platform/NetworkCards.h"
#include "protocol/WrongCodeLimit.h"
#include "session/Session.h"
#include "transfer/ReceiveRules.h"
#include "web/MultipartReader.h"
#include "web/WebUpload.h"

namespace tvx {

namespace {

constexpr int kMaxUrlBytes = 2048;
constexpr int kMaxHeaderBytes = 8 * 1024;
constexpr int kMaxHeaderLines = 64;
constexpr int kMaxLoginBytes = 256;
constexpr int kMaxSessions = 64;
constexpr int kThreads = 4;
// Room for one connection's request and its reading buffer. Requests beyond our own header
// bounds are answered before this fills; the rest is read buffer for uploads.
constexpr size_t kConnectionMemory = 256 * 1024;
const char kCookieName[] = "tvx-session";
const char kLoginCookieName[] = "tvx-login";

qint64 NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool SameSecret(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size() || a.isEmpty())
        return false;
    unsigned char difference = 0;
    for (int i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

// The prefix length of the local address's subnet: the netmask of the card that holds it
// (8 on loopback), else the address alone.
int SubnetPrefixOf(const QHostAddress& local) {
    const std::optional<NetworkCard> card = CardHolding(local);
    return card && card->prefixLength >= 0 ? card->prefixLength : 32;
}

// Content-Disposition for a download: an ASCII name for old clients and the UTF-8 name
// (RFC 6266, RFC 5987).
QByteArray AttachmentHeader(const QString& name) {
    QByteArray ascii;
    for (const QChar c : name)
        ascii += (c.unicode() >= 0x20 && c.unicode() < 0x7F && c != u'"' && c != u'\\')
                     ? char(c.unicode())
                     : '_';
    return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" +
           name.toUtf8().toPercentEncoding();
}

// Cookies handed out, each with the token its posts must carry; beyond the bound the oldest
// makes way.
class CookieTable {
public:
    explicit CookieTable(int bound) : m_bound(bound) {}

    // The cookie's token; empty when the cookie is not one of ours.
    QByteArray TokenOf(const QByteArray& cookie) const {
        return cookie.isEmpty() ? QByteArray() : m_tokens.value(cookie);
    }
    // A new cookie (128 random bits) and its token.
    QPair<QByteArray, QByteArray> Issue() {
        const QByteArray cookie = RandomHex(16);
        const QByteArray token = RandomHex(16);
        if (m_order.size() >= m_bound)
            m_tokens.remove(m_order.takeFirst());
        m_tokens.insert(cookie, token);
        m_order.append(cookie);
        return {cookie, token};
    }
    void Clear() {
        m_tokens.clear();
        m_order.clear();
    }

private:
    int m_bound;
    QHash<QByteArray, QByteArray> m_tokens;
    QList<QByteArray> m_order;
};

// A login cookie as this server makes them: 32 lower-case hex digits.
bool IsLoginCookie(const QByteArray& cookie) {
    return cookie.size() == 32 && std::all_of(cookie.begin(), cookie.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

QByteArray CookieHeader(const char* name, const QByteArray& value) {
    return QByteArray(name) + '=' + value + "; Path=/; HttpOnly; SameSite=Strict";
}

}  // namespace

// Everything the server library's threads share with the owner, under one lock.
class WebServerCore {
public:
    WebServerCore(Session& session, WebReporter reporter)
        : m_session(session), m_report(std::move(reporter)) {}
    ~WebServerCore() { Stop(); }

    WebServer::StartFailure Start(const QString& address, quint16 port, const QString& folder,
                                  const QByteArray& code, quint32 servedBase, int servedPrefix,
                                  int idleSeconds, int headerDeadlineMs);
    void Stop();
    quint16 port() const { return m_port; }

    QString Folder() const {
        std::lock_guard lock(m_mutex);
        return m_folder;
    }
    void SetFolder(const QString& folder) {
        std::lock_guard lock(m_mutex);
        m_folder = folder;
    }
    quint32 Share(const QString& path);
    void Unshare(quint32 id);
    QVector<WebShare> Shares() const {
        std::lock_guard lock(m_mutex);
        return m_shares;
    }

private:
    // Closes connections that have not finished their request's headers in time, on a thread
    // of its own so that a busy owner does not hold it up.
    void CloseSlowConnections();
    void Watch();

    struct Connection {
        int fd = -1;
        qint64 startMs = 0;
        bool requestBegun = false;
        bool shut = false;
    };
    struct Request;

    static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url,
                                const char* method, const char* version, const char* uploadData,
                                size_t* uploadSize, void** context);
    static void OnCompleted(void* cls, MHD_Connection* connection, void** context,
                            MHD_RequestTerminationCode code);
    static void OnConnection(void* cls, MHD_Connection* connection, void** socketContext,
                             MHD_ConnectionNotificationCode code);

    MHD_Result Handle(MHD_Connection* connection, const QByteArray& url, const QByteArray& method,
                      const char* uploadData, size_t* uploadSize, void** context);
    MHD_Result Begin(MHD_Connection* connection, const QByteArray& url, const QByteArray& method,
                     const QString& address, void** context);
    MHD_Result Login(MHD_Connection* connection, Request& request);
    MHD_Result State(MHD_Connection* connection);
    MHD_Result Download(MHD_Connection* connection, const QByteArray& idText, Request& request);
    MHD_Result Static(MHD_Connection* connection, const QByteArray& url);
    bool ValidSession(MHD_Connection* connection, QByteArray* token = nullptr) const;
    // The token a login with this cookie must carry; empty for anything but a cookie of ours.
    QByteArray LoginToken(const QByteArray& cookie) const;
    bool ServesAddress(const sockaddr* address) const;

    Session& m_session;
    WebReporter m_report;
    mutable std::mutex m_mutex;
    MHD_Daemon* m_daemon = nullptr;
    quint16 m_port = 0;
    QByteArray m_code;
    QByteArray m_host;  // "ADDRESS:PORT": the only Host the page answers to
    quint32 m_servedBase = 0;
    quint32 m_servedMask = 0;
    int m_headerDeadlineMs = 0;
    QString m_folder;
    bool m_replace = false;
    QVector<WebShare> m_shares;
    quint32 m_nextShare = 1;
    CookieTable m_sessions{kMaxSessions};  // after the code: uploads, the list, downloads
    // Before it, the login's token is a keyed digest of its cookie: nothing is kept per
    // browser, so nobody can crowd a browser's pair out.
    QByteArray m_loginKey;
    WrongCodeLimit m_wrongCodes;
    QHash<MHD_Connection*, Connection> m_connections;
    QHash<QByteArray, QByteArray> m_page;  // path -> bytes
    std::thread m_watcher;
    std::condition_variable m_watchWake;
    bool m_watching = false;
};

// One request, from its first call to its end.
struct WebServerCore::Request {
    enum class Kind { Answered, Login, Upload, Download };
    Kind kind = Kind::Answered;
    QString address;
    QByteArray body;  // the login form
    bool tooLarge = false;
    std::unique_ptr<MultipartReader> reader;
    std::unique_ptr<WebUpload> upload;
    bool readFailed = false;
    QString fileName;  // download
    qint64 fileSize = 0;
};

namespace {

// What every response carries: no script or style from elsewhere, no guessing of types, no
// address of the page handed on, nothing kept in a cache.
void AddCommonHeaders(MHD_Response* response) {
    MHD_add_response_header(response, "Content-Security-Policy",
                            "default-src 'none'; script-src 'self'; style-src 'self'; "
                            "img-src 'self'; connect-src 'self'; form-action 'self'; "
                            "frame-ancestors 'none'; base-uri 'none'");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(response, "Cache-Control", "no-store");
}

MHD_Result Answer(MHD_Connection* connection, unsigned status, const QByteArray& body,
                  const char* type, const QList<QPair<QByteArray, QByteArray>>& headers = {}) {
    MHD_Response* response = MHD_create_response_from_buffer(
        size_t(body.size()), const_cast<char*>(body.constData()), MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, "Content-Type", type);
    for (const auto& [name, value] : headers)
        MHD_add_response_header(response, name.constData(), value.constData());
    AddCommonHeaders(response);
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result AnswerJson(MHD_Connection* connection, unsigned status, const QJsonObject& object,
                      const QList<QPair<QByteArray, QByteArray>>& headers = {}) {
    return Answer(connection, status, QJsonDocument(object).toJson(QJsonDocument::Compact),
                  "application/json; charset=utf-8", headers);
}

MHD_Result AnswerError(MHD_Connection* connection, unsigned status, const char* error) {
    return AnswerJson(connection, status, QJsonObject{{QStringLiteral("error"), error}});
}

struct HeaderTally {
    int bytes = 0;
    int lines = 0;
};

MHD_Result CountHeader(void* cls, MHD_ValueKind, const char* key, const char* value) {
    auto* tally = static_cast<HeaderTally*>(cls);
    tally->bytes += int(std::strlen(key)) + (value ? int(std::strlen(value)) : 0) + 4;
    ++tally->lines;
    return MHD_YES;
}

QByteArray HeaderValue(MHD_Connection* connection, MHD_ValueKind kind, const char* name) {
    const char* value = MHD_lookup_connection_value(connection, kind, name);
    return value ? QByteArray(value) : QByteArray();
}

}  // namespace

WebServer::StartFailure WebServerCore::Start(const QString& address, quint16 port,
                                             const QString& folder, const QByteArray& code,
                                             quint32 servedBase, int servedPrefix, int idleSeconds,
                                             int headerDeadlineMs) {
    const QHostAddress local(address);
    bool isV4 = false;
    const quint32 localV4 = local.toIPv4Address(&isV4);
    if (!isV4)
        return WebServer::StartFailure::AddressUnavailable;
    for (const char* path : {"index.html", "page.js", "page.css"}) {
        QFile file(QStringLiteral(":/web/") + QLatin1String(path));
        if (!file.open(QIODevice::ReadOnly))
            return WebServer::StartFailure::Failed;
        m_page.insert(path, file.readAll());
    }

    // Our own listening socket, so that a port in use is told apart from other failures.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return WebServer::StartFailure::Failed;
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(port);
    bound.sin_addr.s_addr = htonl(localV4);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0 ||
        ::listen(listener, 64) != 0) {
        const int error = errno;
        ::close(listener);
        if (error == EADDRINUSE || error == EACCES)
            return WebServer::StartFailure::PortInUse;
        if (error == EADDRNOTAVAIL)
            return WebServer::StartFailure::AddressUnavailable;
        return WebServer::StartFailure::Failed;
    }
    socklen_t length = sizeof bound;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length);

    {
        std::lock_guard lock(m_mutex);
        m_port = ntohs(bound.sin_port);
        m_code = code;
        m_host = (address + QLatin1Char(':') + QString::number(m_port)).toLatin1();
        m_folder = folder;
        m_replace = m_session.settings.existFile;
        const int prefix = servedPrefix >= 0 ? servedPrefix : SubnetPrefixOf(local);
        m_servedMask = prefix <= 0 ? 0 : quint32(0xFFFFFFFFu << (32 - std::min(prefix, 32)));
        m_servedBase = (servedPrefix >= 0 ? servedBase : localV4) & m_servedMask;
        m_headerDeadlineMs = headerDeadlineMs;
        m_sessions.Clear();
        m_loginKey = RandomHex(32);
        m_wrongCodes = WrongCodeLimit();
    }

    // The library's threads take this thread's signal mask: with SIGPIPE blocked there, a
    // browser that goes away during sendfile gives EPIPE instead of ending the program.
    sigset_t pipe;
    sigset_t previous;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &previous);
    // poll, not epoll: the library's edge-triggered reading can miss a client's end that
    // arrives together with its last bytes, and a cut upload would then wait for the idle
    // timeout before its temporary file goes.
    m_daemon = MHD_start_daemon(
        MHD_USE_POLL_INTERNAL_THREAD | MHD_USE_TURBO, 0, nullptr, nullptr, &OnRequest, this,
        MHD_OPTION_LISTEN_SOCKET, listener, MHD_OPTION_THREAD_POOL_SIZE, unsigned(kThreads),
        MHD_OPTION_CONNECTION_LIMIT, unsigned(WebServer::kMaxConnections),
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, unsigned(WebServer::kMaxConnectionsPerAddress),
        MHD_OPTION_CONNECTION_TIMEOUT, unsigned(idleSeconds), MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        kConnectionMemory, MHD_OPTION_NOTIFY_COMPLETED, &OnCompleted, this,
        MHD_OPTION_NOTIFY_CONNECTION, &OnConnection, this, MHD_OPTION_END);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (!m_daemon) {
        ::close(listener);
        return WebServer::StartFailure::Failed;
    }
    m_watching = true;
    m_watcher = std::thread([this] { Watch(); });
    return WebServer::StartFailure::None;
}

void WebServerCore::Watch() {
    std::unique_lock lock(m_mutex);
    while (m_watching) {
        m_watchWake.wait_for(lock, std::chrono::milliseconds(200));
        lock.unlock();
        CloseSlowConnections();
        lock.lock();
    }
}

void WebServerCore::Stop() {
    if (m_watcher.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_watching = false;
        }
        m_watchWake.notify_all();
        m_watcher.join();
    }
    if (m_daemon) {
        MHD_stop_daemon(m_daemon);  // ends every request first (OnCompleted)
        m_daemon = nullptr;
    }
    std::lock_guard lock(m_mutex);
    m_sessions.Clear();
    m_loginKey.clear();
    m_connections.clear();
    m_code.clear();
}

quint32 WebServerCore::Share(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return 0;
    std::lock_guard lock(m_mutex);
    for (const WebShare& share : std::as_const(m_shares)) {
        if (share.path == info.absoluteFilePath())
            return share.id;
    }
    WebShare share;
    share.id = m_nextShare++;
    share.path = info.absoluteFilePath();
    share.name = info.fileName();
    share.size = info.size();
    m_shares.append(share);
    return share.id;
}

void WebServerCore::Unshare(quint32 id) {
    std::lock_guard lock(m_mutex);
    m_shares.removeIf([id](const WebShare& share) { return share.id == id; });
}

void WebServerCore::CloseSlowConnections() {
    const qint64 now = NowMs();
    std::lock_guard lock(m_mutex);
    for (Connection& connection : m_connections) {
        if (!connection.requestBegun && !connection.shut &&
            now - connection.startMs > m_headerDeadlineMs) {
            // The library closes it at its next turn; the entry goes when it does.
            ::shutdown(connection.fd, SHUT_RDWR);
            connection.shut = true;
        }
    }
}

void WebServerCore::OnConnection(void* cls, MHD_Connection* connection, void**,
                                 MHD_ConnectionNotificationCode code) {
    auto* core = static_cast<WebServerCore*>(cls);
    std::lock_guard lock(core->m_mutex);
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
        core->m_connections.remove(connection);
        return;
    }
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info)
        core->m_connections.insert(connection, Connection{info->connect_fd, NowMs(), false, false});
}

bool WebServerCore::ServesAddress(const sockaddr* address) const {
    if (!address || address->sa_family != AF_INET)
        return false;
    const quint32 peer = ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
    return (peer & m_servedMask) == m_servedBase;
}

bool WebServerCore::ValidSession(MHD_Connection* connection, QByteArray* token) const {
    const QByteArray cookie = HeaderValue(connection, MHD_COOKIE_KIND, kCookieName);
    std::lock_guard lock(m_mutex);
    const QByteArray known = m_sessions.TokenOf(cookie);
    if (token)
        *token = known;
    return !known.isEmpty();
}

QByteArray WebServerCore::LoginToken(const QByteArray& cookie) const {
    if (!IsLoginCookie(cookie))
        return {};
    std::lock_guard lock(m_mutex);
    return QMessageAuthenticationCode::hash(cookie, m_loginKey, QCryptographicHash::Sha256)
        .toHex()
        .left(32);
}

MHD_Result WebServerCore::OnRequest(void* cls, MHD_Connection* connection, const char* url,
                                    const char* method, const char*, const char* uploadData,
                                    size_t* uploadSize, void** context) {
    return static_cast<WebServerCore*>(cls)->Handle(connection, QByteArray(url), QByteArray(method),
                                                    uploadData, uploadSize, context);
}

MHD_Result WebServerCore::Handle(MHD_Connection* connection, const QByteArray& url,
                                 const QByteArray& method, const char* uploadData,
                                 size_t* uploadSize, void** context) {
    if (!*context) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        const sockaddr* peer = info ? info->client_addr : nullptr;
        QString address;
        if (peer && peer->sa_family == AF_INET)
            address = QHostAddress(peer).toString();
        {
            std::lock_guard lock(m_mutex);
            const auto found = m_connections.find(connection);
            if (found != m_connections.end())
                found->requestBegun = true;
        }
        if (!ServesAddress(peer)) {
            *context = new Request;
            return Answer(connection, MHD_HTTP_FORBIDDEN,
                          QStringLiteral("<!DOCTYPE html><meta charset=\"utf-8\"><title>Tolvex"
                                         "</title><p>此网页只对本机所在网络中的计算机开放。")
                              .toUtf8(),
                          "text/html; charset=utf-8");
        }
        return Begin(connection, url, method, address, context);
    }

    Request& request = *static_cast<Request*>(*context);
    if (request.kind == Request::Kind::Login) {
        if (*uploadSize > 0) {
            if (request.body.size() + qsizetype(*uploadSize) > kMaxLoginBytes)
                request.tooLarge = true;
            else
                request.body.append(uploadData, qsizetype(*uploadSize));
            *uploadSize = 0;
            return MHD_YES;
        }
        return Login(connection, request);
    }
    if (request.kind == Request::Kind::Upload) {
        if (*uploadSize > 0) {
            // After a failure the rest is read and dropped, so the browser gets its answer.
            if (!request.readFailed &&
                !request.reader->Feed(uploadData, *uploadSize, *request.upload))
                request.readFailed = true;
            *uploadSize = 0;
            return MHD_YES;
        }
        WebUpload& upload = *request.upload;
        if (!upload.error.isEmpty()) {
            WebEvent event;
            event.kind = WebEvent::Kind::UploadFailed;
            event.name = upload.name;
            event.path = Folder();
            event.address = request.address;
            event.systemError = upload.error;
            m_report(event);
            upload.Abort();
            return AnswerJson(connection, MHD_HTTP_INTERNAL_SERVER_ERROR,
                              QJsonObject{{QStringLiteral("error"), "write-failed"},
                                          {QStringLiteral("saved"), upload.saved}});
        }
        if (request.readFailed || !request.reader->finished()) {
            upload.Abort();
            return AnswerJson(connection, MHD_HTTP_BAD_REQUEST,
                              QJsonObject{{QStringLiteral("error"), "bad-request"},
                                          {QStringLiteral("saved"), upload.saved}});
        }
        return AnswerJson(connection, MHD_HTTP_OK,
                          QJsonObject{{QStringLiteral("saved"), upload.saved}});
    }
    // A request that was answered at once: whatever body it brings is dropped.
    *uploadSize = 0;
    return MHD_YES;
}

MHD_Result WebServerCore::Begin(MHD_Connection* connection, const QByteArray& url,
                                const QByteArray& method, const QString& address, void** context) {
    auto* request = new Request;
    request->address = address;
    *context = request;

    HeaderTally tally;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &CountHeader, &tally);
    HeaderTally arguments;
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &CountHeader, &arguments);
    if (url.size() + arguments.bytes > kMaxUrlBytes)
        return AnswerError(connection, MHD_HTTP_URI_TOO_LONG, "too-long");
    if (tally.bytes > kMaxHeaderBytes || tally.lines > kMaxHeaderLines)
        return AnswerError(connection, MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE, "too-large");

    // A page reached under another name is another site's: a name of the attacker's that
    // resolves to this address (DNS rebinding) gets nothing, not even the page.
    const QByteArray host = HeaderValue(connection, MHD_HEADER_KIND, "Host");
    bool ourHost = false;
    {
        std::lock_guard lock(m_mutex);
        ourHost = host == m_host || (m_port == 80 && host + ":80" == m_host);
    }
    if (!ourHost)
        return AnswerError(connection, MHD_HTTP_MISDIRECTED_REQUEST, "bad-host");

    const bool get = method == MHD_HTTP_METHOD_GET || method == MHD_HTTP_METHOD_HEAD;
    const bool post = method == MHD_HTTP_METHOD_POST;
    if (url == "/" || url == "/page.js" || url == "/page.css") {
        if (!get)
            return AnswerError(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "method");
        return Static(connection, url);
    }
    if (url == "/api/state") {
        if (!get)
            return AnswerError(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "method");
        return State(connection);
    }
    if (url.startsWith("/api/file/")) {
        if (!get)
            return AnswerError(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "method");
        const MHD_Result answered = Download(connection, url.mid(10), *request);
        if (method == MHD_HTTP_METHOD_HEAD)
            request->kind = Request::Kind::Answered;  // nothing was fetched
        return answered;
    }
    if (url != "/api/login" && url != "/api/upload")
        return AnswerError(connection, MHD_HTTP_NOT_FOUND, "not-found");
    if (!post)
        return AnswerError(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "method");

    // A form posted from another site's page is refused, the login too.
    const QByteArray origin = HeaderValue(connection, MHD_HEADER_KIND, "Origin");
    if (!origin.isEmpty() && origin != "http://" + HeaderValue(connection, MHD_HEADER_KIND, "Host"))
        return AnswerError(connection, MHD_HTTP_FORBIDDEN, "bad-origin");

    if (url == "/api/login") {
        // The login is a form post too: it carries the token handed out with its cookie by
        // the state request that found no session.
        const QByteArray loginCookie = HeaderValue(connection, MHD_COOKIE_KIND, kLoginCookieName);
        if (!SameSecret(HeaderValue(connection, MHD_HEADER_KIND, "X-Tolvex-Token"),
                        LoginToken(loginCookie)))
            return AnswerError(connection, MHD_HTTP_FORBIDDEN, "bad-token");
        request->kind = Request::Kind::Login;
        return MHD_YES;
    }
    QByteArray token;
    if (!ValidSession(connection, &token))
        return AnswerError(connection, MHD_HTTP_UNAUTHORIZED, "no-session");
    if (!SameSecret(HeaderValue(connection, MHD_HEADER_KIND, "X-Tolvex-Token"), token))
        return AnswerError(connection, MHD_HTTP_FORBIDDEN, "bad-token");
    const QByteArray boundary =
        MultipartReader::BoundaryOf(HeaderValue(connection, MHD_HEADER_KIND, "Content-Type"));
    if (boundary.isEmpty())
        return AnswerError(connection, MHD_HTTP_BAD_REQUEST, "bad-request");
    bool replace = false;
    QString folder;
    {
        std::lock_guard lock(m_mutex);
        replace = m_replace;
        folder = m_folder;
    }
    request->kind = Request::Kind::Upload;
    request->reader = std::make_unique<MultipartReader>(boundary);
    request->upload = std::make_unique<WebUpload>(folder, replace, address, m_report);
    return MHD_YES;
}

MHD_Result WebServerCore::Login(MHD_Connection* connection, Request& request) {
    request.kind = Request::Kind::Answered;
    if (request.tooLarge)
        return AnswerError(connection, MHD_HTTP_CONTENT_TOO_LARGE, "too-large");
    const QByteArray typed =
        QUrlQuery(QString::fromUtf8(request.body)).queryItemValue(QStringLiteral("code")).toUtf8();
    const qint64 now = NowMs();
    std::unique_lock lock(m_mutex);
    const auto lockedAnswer = [&] {
        lock.unlock();
        return AnswerJson(
            connection, MHD_HTTP_TOO_MANY_REQUESTS,
            QJsonObject{{QStringLiteral("error"), "locked"},
                        {QStringLiteral("seconds"), int(WrongCodeLimit::kWindowMs / 1000)}});
    };
    if (m_wrongCodes.IsShutOut(request.address, now))
        return lockedAnswer();
    if (!SameSecret(typed, m_code)) {
        m_wrongCodes.CountWrong(request.address, now);
        if (m_wrongCodes.IsShutOut(request.address, now)) {
            WebEvent event;
            event.kind = WebEvent::Kind::AddressLockedOut;
            event.address = request.address;
            m_report(event);
            return lockedAnswer();
        }
        lock.unlock();
        return AnswerError(connection, MHD_HTTP_FORBIDDEN, "wrong-code");
    }
    m_wrongCodes.CountRight(request.address);
    const auto [cookie, token] = m_sessions.Issue();
    lock.unlock();
    return AnswerJson(connection, MHD_HTTP_OK,
                      QJsonObject{{QStringLiteral("token"), QString::fromLatin1(token)}},
                      {{"Set-Cookie", CookieHeader(kCookieName, cookie)}});
}

MHD_Result WebServerCore::State(MHD_Connection* connection) {
    QByteArray token;
    if (!ValidSession(connection, &token)) {
        // Not logged in: the token the login must carry, with its cookie (the one the browser
        // holds already, when it is still ours).
        QByteArray cookie = HeaderValue(connection, MHD_COOKIE_KIND, kLoginCookieName);
        if (!IsLoginCookie(cookie))
            cookie = RandomHex(16);
        const QByteArray loginToken = LoginToken(cookie);
        return AnswerJson(connection, MHD_HTTP_UNAUTHORIZED,
                          QJsonObject{{QStringLiteral("error"), "no-session"},
                                      {QStringLiteral("login"), QString::fromLatin1(loginToken)}},
                          {{"Set-Cookie", CookieHeader(kLoginCookieName, cookie)}});
    }
    QJsonArray files;
    for (const WebShare& share : Shares()) {
        files.append(QJsonObject{{QStringLiteral("id"), double(share.id)},
                                 {QStringLiteral("name"), share.name},
                                 {QStringLiteral("size"), double(share.size)}});
    }
    return AnswerJson(connection, MHD_HTTP_OK,
                      QJsonObject{{QStringLiteral("token"), QString::fromLatin1(token)},
                                  {QStringLiteral("files"), files}});
}

MHD_Result WebServerCore::Download(MHD_Connection* connection, const QByteArray& idText,
                                   Request& request) {
    if (!ValidSession(connection))
        return AnswerError(connection, MHD_HTTP_UNAUTHORIZED, "no-session");
    bool ok = false;
    const quint32 id = idText.toUInt(&ok);
    WebShare share;
    {
        std::lock_guard lock(m_mutex);
        for (const WebShare& offered : std::as_const(m_shares)) {
            if (ok && offered.id == id)
                share = offered;
        }
    }
    if (share.id == 0)
        return AnswerError(connection, MHD_HTTP_NOT_FOUND, "not-found");
    const int fd = ::open(QFile::encodeName(share.path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        return AnswerError(connection, MHD_HTTP_NOT_FOUND, "not-found");
    }
    MHD_Response* response = MHD_create_response_from_fd64(uint64_t(info.st_size), fd);
    if (!response) {
        ::close(fd);
        return MHD_NO;
    }
    MHD_add_response_header(response, "Content-Type", "application/octet-stream");
    MHD_add_response_header(response, "Content-Disposition",
                            AttachmentHeader(share.name).constData());
    AddCommonHeaders(response);
    request.kind = Request::Kind::Download;
    request.fileName = share.name;
    request.fileSize = qint64(info.st_size);
    const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result WebServerCore::Static(MHD_Connection* connection, const QByteArray& url) {
    if (url == "/page.js")
        return Answer(connection, MHD_HTTP_OK, m_page.value("page.js"),
                      "text/javascript; charset=utf-8");
    if (url == "/page.css")
        return Answer(connection, MHD_HTTP_OK, m_page.value("page.css"), "text/css; charset=utf-8");
    return Answer(connection, MHD_HTTP_OK, m_page.value("index.html"), "text/html; charset=utf-8");
}

void WebServerCore::OnCompleted(void* cls, MHD_Connection* connection, void** context,
                                MHD_RequestTerminationCode code) {
    auto* core = static_cast<WebServerCore*>(cls);
    {
        // The next request on the connection has the header deadline again.
        std::lock_guard lock(core->m_mutex);
        const auto found = core->m_connections.find(connection);
        if (found != core->m_connections.end()) {
            found->requestBegun = false;
            found->startMs = NowMs();
        }
    }
    std::unique_ptr<Request> request(static_cast<Request*>(*context));
    *context = nullptr;
    if (!request)
        return;
    WebEvent event;
    event.address = request->address;
    if (request->kind == Request::Kind::Upload && request->upload) {
        WebUpload& upload = *request->upload;
        event.name = upload.name;
        event.size = upload.written;
        if (upload.Abort()) {
            event.kind = WebEvent::Kind::UploadCut;
            core->m_report(event);
        }
    } else if (request->kind == Request::Kind::Download &&
               code == MHD_REQUEST_TERMINATED_COMPLETED_OK) {
        event.kind = WebEvent::Kind::Fetched;
        event.name = request->fileName;
        event.size = request->fileSize;
        core->m_report(event);
    }
}

// ---- WebServer

WebServer::WebServer(Session& session, QObject* parent)
    : QObject(parent),
      m_session(session),
      m_core(std::make_unique<WebServerCore>(session, [this](const WebEvent& event) {
          QMetaObject::invokeMethod(
              this, [this, event] { emit Happened(event); }, Qt::QueuedConnection);
      })) {
    qRegisterMetaType<WebEvent>();
}

WebServer::~WebServer() {
    Stop();
    m_core.reset();
}

WebServer::StartFailure WebServer::Start(const QString& receiveFolder, quint16 port) {
    Stop();
    if (!FolderExists(receiveFolder))
        return StartFailure::FolderMissing;
    m_code = QString::number(QRandomGenerator::system()->bounded(1000000))
                 .rightJustified(6, QLatin1Char('0'));
    quint32 base = 0;
    if (m_servedPrefix >= 0)
        base = QHostAddress(m_servedBase).toIPv4Address();
    const StartFailure failure =
        m_core->Start(m_session.localAddress, port, receiveFolder, m_code.toLatin1(), base,
                      m_servedPrefix, m_idleSeconds, m_headerDeadlineMs);
    if (failure != StartFailure::None) {
        m_code.clear();
        return failure;
    }
    m_port = m_core->port();
    m_phase = Phase::Serving;
    emit PhaseChanged(m_phase);
    return StartFailure::None;
}

void WebServer::Stop() {
    if (m_phase == Phase::Stopped)
        return;
    m_core->Stop();
    m_code.clear();
    m_phase = Phase::Stopped;
    emit PhaseChanged(m_phase);
}

QString WebServer::Url() const {
    if (m_phase != Phase::Serving)
        return QString();
    return QStringLiteral("http://%1:%2/").arg(m_session.localAddress).arg(m_port);
}

QString WebServer::ReceiveFolder() const {
    return m_core->Folder();
}

bool WebServer::SetReceiveFolder(const QString& folder) {
    if (!FolderExists(folder))
        return false;
    m_core->SetFolder(folder);
    return true;
}

quint32 WebServer::Share(const QString& path) {
    return m_core->Share(path);
}

void WebServer::Unshare(quint32 id) {
    m_core->Unshare(id);
}

QVector<WebShare> WebServer::Shares() const {
    return m_core->Shares();
}

void WebServer::SetServedNetwork(const QString& base, int prefixLength) {
    m_servedBase = base;
    m_servedPrefix = prefixLength;
}

void WebServer::SetTimeouts(int idleSeconds, int headerDeadlineMs) {
    m_idleSeconds = idleSeconds;
    m_headerDeadlineMs = headerDeadlineMs;
}

}  // namespace tvx

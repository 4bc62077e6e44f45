// The web page's server as strangers on the network meet it, with raw requests from their own
// loopback addresses: who is served, the code and its lockout, the session and the token, names
// that try to leave the folder, uploads cut short, and clients that hold connections open. After
// each attack the next client is still served.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

#include "session/Session.h"
#include "support/Fakes.h"
#include "support/Wait.h"
#include "web/WebServer.h"

namespace tvx::test {
namespace {

const QString kServerAddress = QStringLiteral("127.0.0.2");

// A TCP connection from the given loopback address, with blocking calls bounded in time.
class RawClient {
public:
    RawClient(const char* from, quint16 port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &local.sin_addr);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(port);
        ::inet_pton(AF_INET, kServerAddress.toLatin1().constData(), &server.sin_addr);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    }
    ~RawClient() { ::close(m_fd); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return m_connected; }
    bool Send(const QByteArray& bytes) {
        return ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) ==
               ssize_t(bytes.size());
    }
    // Everything until the server closes, or what came within the time.
    QByteArray ReadUntilClosed(int milliseconds = 5000) {
        QByteArray all;
        QDeadlineTimer deadline(milliseconds);
        while (!deadline.hasExpired()) {
            pollfd ready{m_fd, POLLIN, 0};
            if (::poll(&ready, 1, int(std::max<qint64>(1, deadline.remainingTime()))) <= 0)
                break;
            char buffer[65536];
            const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                m_closed = true;
                break;
            }
            all.append(buffer, got);
        }
        return all;
    }
    bool closedByServer() const { return m_closed; }

private:
    int m_fd = -1;
    bool m_connected = false;
    bool m_closed = false;
};

struct Reply {
    int status = 0;
    QByteArray head;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QByteArray Header(const QByteArray& name) const {
        for (const QByteArray& line : head.split('\n')) {
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        }
        return {};
    }
};

Reply Parse(const QByteArray& raw) {
    Reply reply;
    const int end = raw.indexOf("\r\n\r\n");
    reply.head = raw.left(end);
    reply.body = end < 0 ? QByteArray() : raw.mid(end + 4);
    reply.status = reply.head.mid(9, 3).toInt();
    return reply;
}

class WebServerTest : public ::testing::Test {
protected:
    WebServerTest() : fake(config.path()), session(fake.platform) {
        session.localAddress = kServerAddress;
        session.appFolder = data.path() + QLatin1Char('/');
        server = std::make_unique<WebServer>(session);
        QObject::connect(server.get(), &WebServer::Happened,
                         [this](const WebEvent& event) { events.append(event); });
        // 127.0.0.0/24 is the subnet; 127.0.1.x stands for the rest of the world.
        server->SetServedNetwork(QStringLiteral("127.0.0.0"), 24);
    }

    void Start() { ASSERT_EQ(server->Start(folder.path(), 0), WebServer::StartFailure::None); }

    QByteArray Host() const {
        return kServerAddress.toLatin1() + ':' + QByteArray::number(server->Port());
    }

    // One request on a connection of its own, from the given address.
    Reply Ask(const char* from, const QByteArray& method, const QByteArray& path,
              const QByteArray& headers = {}, const QByteArray& body = {}) {
        RawClient client(from, server->Port());
        client.Send(method + ' ' + path + " HTTP/1.1\r\nHost: " + kServerAddress.toLatin1() + ':' +
                    QByteArray::number(server->Port()) + "\r\nConnection: close\r\n" + headers +
                    (body.isEmpty() && method == "GET"
                         ? QByteArray()
                         : "Content-Length: " + QByteArray::number(body.size()) + "\r\n") +
                    "\r\n" + body);
        return Parse(client.ReadUntilClosed());
    }

    // What a login from the address carries: the login cookie and token the state request
    // hands out while there is no session.
    QByteArray LoginHeaders(const char* from) {
        const Reply state = Ask(from, "GET", "/api/state");
        EXPECT_EQ(state.status, 401);
        return "Cookie: " + state.Header("Set-Cookie").split(';').first() +
               "\r\nX-Tolvex-Token: " + state.json().value("login").toString().toLatin1() + "\r\n";
    }
    Reply PostCode(const char* from, const QByteArray& code) {
        return Ask(from, "POST", "/api/login", LoginHeaders(from), "code=" + code);
    }

    // Logs in from the address: the cookie header line and the token.
    QPair<QByteArray, QByteArray> LogIn(const char* from) {
        const Reply reply = PostCode(from, server->Code().toLatin1());
        EXPECT_EQ(reply.status, 200);
        const QByteArray cookie = reply.Header("Set-Cookie").split(';').first();
        return {"Cookie: " + cookie + "\r\n", reply.json().value("token").toString().toLatin1()};
    }

    static QByteArray FilePart(const QByteArray& boundary, const QByteArray& name,
                               const QByteArray& bytes) {
        return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
               name + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + bytes + "\r\n";
    }

    Reply Upload(const char* from, const QPair<QByteArray, QByteArray>& login,
                 const QByteArray& body) {
        return Ask(from, "POST", "/api/upload",
                   login.first + "X-Tolvex-Token: " + login.second +
                       "\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n",
                   body);
    }

    bool Served(const char* from) { return Ask(from, "GET", "/").status == 200; }

    QStringList FolderEntries() const {
        return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir config;
    QTemporaryDir data;
    QTemporaryDir folder;
    FakePlatform fake;
    Session session;
    std::unique_ptr<WebServer> server;
    QList<WebEvent> events;
};

TEST_F(WebServerTest, ServesTheSubnetOnlyAndTheCodeOpensASession) {
    QTemporaryDir shared;
    const QString sharedPath = shared.path() + QStringLiteral("/报告 \"终\".txt");
    QFile file(sharedPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(100000, 'r'));
    file.close();
    const quint32 id = server->Share(sharedPath);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(server->Share(shared.path()), 0u);  // a folder is never offered
    Start();
    EXPECT_EQ(server->Url(), QStringLiteral("http://127.0.0.2:%1/").arg(server->Port()));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9]{6}$")).match(server->Code()).hasMatch());

    // Outside the subnet nothing is served, not even the page.
    for (const QByteArray path : {"/", "/api/state", "/api/file/1"})
        EXPECT_EQ(Ask("127.0.1.9", "GET", path).status, 403) << path.constData();
    EXPECT_EQ(
        Ask("127.0.1.9", "POST", "/api/login", {}, "code=" + server->Code().toLatin1()).status,
        403);

    const Reply page = Ask("127.0.0.9", "GET", "/");
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.Header("Content-Security-Policy").contains("script-src 'self'"));
    EXPECT_EQ(page.Header("X-Content-Type-Options"), "nosniff");
    // The login is a form post with a token too: without it even the right code is refused,
    // and nothing is counted against the address.
    for (int attempt = 0; attempt < 6; ++attempt) {
        const Reply bare =
            Ask("127.0.0.9", "POST", "/api/login", {}, "code=" + server->Code().toLatin1());
        EXPECT_EQ(bare.status, 403);
        EXPECT_EQ(bare.json().value("error").toString(), QStringLiteral("bad-token"));
    }
    const Reply noSession = Ask("127.0.0.9", "GET", "/api/state");
    EXPECT_EQ(noSession.status, 401);
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral("^tvx-login=[0-9a-f]{32}; Path=/; HttpOnly; SameSite=Strict$"))
                    .match(QString::fromLatin1(noSession.Header("Set-Cookie")))
                    .hasMatch());
    EXPECT_EQ(Ask("127.0.0.9", "GET", "/etc/passwd").status, 404);
    // Under any name but its address (a name that was made to resolve to it), nothing.
    {
        RawClient rebound("127.0.0.9", server->Port());
        rebound.Send("GET / HTTP/1.1\r\nHost: evil.example:" + QByteArray::number(server->Port()) +
                     "\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(Parse(rebound.ReadUntilClosed()).status, 421);
    }

    // Five wrong codes shut the address out for the minute, the right code too; others are
    // not affected.
    const QByteArray wrong = server->Code() == QLatin1String("000000") ? "111111" : "000000";
    for (int attempt = 1; attempt <= 5; ++attempt) {
        const Reply reply = PostCode("127.0.0.9", wrong);
        EXPECT_EQ(reply.status, attempt < 5 ? 403 : 429) << attempt;
    }
    EXPECT_EQ(PostCode("127.0.0.9", server->Code().toLatin1()).status, 429);
    ASSERT_TRUE(WaitUntil([&] { return !events.isEmpty(); }));
    EXPECT_EQ(events.last().kind, WebEvent::Kind::AddressLockedOut);
    EXPECT_EQ(PostCode("127.0.0.10", QByteArray(300, '1')).status, 413);

    const Reply login = PostCode("127.0.0.10", server->Code().toLatin1());
    ASSERT_EQ(login.status, 200);
    const QByteArray setCookie = login.Header("Set-Cookie");
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral("^tvx-session=[0-9a-f]{32}; Path=/; HttpOnly; SameSite=Strict$"))
                    .match(QString::fromLatin1(setCookie))
                    .hasMatch())
        << setCookie.constData();
    const QByteArray cookie = "Cookie: " + setCookie.split(';').first() + "\r\n";
    const QByteArray token = login.json().value("token").toString().toLatin1();
    EXPECT_EQ(token.size(), 32);

    const Reply state = Ask("127.0.0.10", "GET", "/api/state", cookie);
    EXPECT_EQ(state.status, 200);
    EXPECT_EQ(state.json().value("token").toString().toLatin1(), token);
    EXPECT_EQ(state.json().value("files").toArray().first().toObject().value("name").toString(),
              QStringLiteral("报告 \"终\".txt"));

    // Downloads by id only, with the name for the browser in both forms.
    const Reply download = Ask("127.0.0.10", "GET", "/api/file/" + QByteArray::number(id), cookie);
    EXPECT_EQ(download.status, 200);
    EXPECT_EQ(download.body, QByteArray(100000, 'r'));
    EXPECT_EQ(download.Header("Content-Disposition"),
              "attachment; filename=\"__ ___.txt\"; "
              "filename*=UTF-8''%E6%8A%A5%E5%91%8A%20%22%E7%BB%88%22.txt");
    for (const Reply& reply : {page, download})
        EXPECT_EQ(reply.Header("Referrer-Policy"), "no-referrer");
    EXPECT_EQ(Ask("127.0.0.10", "GET", "/api/file/1", {}).status, 401);
    EXPECT_EQ(Ask("127.0.0.10", "GET", "/api/file/99", cookie).status, 404);
    EXPECT_EQ(Ask("127.0.0.10", "GET", "/api/file/..%2F..%2Fetc%2Fpasswd", cookie).status, 404);
    ASSERT_TRUE(WaitUntil([&] { return events.last().kind == WebEvent::Kind::Fetched; }));

    // An upload needs the cookie, the token and a page of this server.
    const QByteArray body = FilePart("XyZ", "a.txt", "abc") + "--XyZ--\r\n";
    const QByteArray multipart = "Content-Type: multipart/form-data; boundary=XyZ\r\n";
    EXPECT_EQ(Ask("127.0.0.10", "POST", "/api/upload",
                  "X-Tolvex-Token: " + token + "\r\n" + multipart, body)
                  .status,
              401);
    EXPECT_EQ(Ask("127.0.0.10", "POST", "/api/upload", cookie + multipart, body).status, 403);
    EXPECT_EQ(Ask("127.0.0.10", "POST", "/api/upload",
                  cookie + "X-Tolvex-Token: " + QByteArray(32, 'f') + "\r\n" + multipart, body)
                  .status,
              403);
    EXPECT_EQ(
        Ask("127.0.0.10", "POST", "/api/upload",
            cookie + "X-Tolvex-Token: " + token + "\r\nOrigin: http://evil.example\r\n" + multipart,
            body)
            .status,
        403);
    EXPECT_TRUE(FolderEntries().isEmpty());
    EXPECT_EQ(Upload("127.0.0.10", {cookie, token}, body).status, 200);
    EXPECT_EQ(FolderEntries(), QStringList{QStringLiteral("a.txt")});

    // The page stops with its sessions.
    server->Stop();
    EXPECT_TRUE(server->Url().isEmpty());
    Start();
    EXPECT_EQ(Ask("127.0.0.10", "GET", "/api/state", cookie).status, 401);
}

TEST_F(WebServerTest, UploadsKeepToTheFolderAndLeaveNothingWhenCut) {
    Start();
    const auto login = LogIn("127.0.0.11");
    QFile existing(folder.path() + QStringLiteral("/a_b.txt"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old");
    existing.close();

    const QByteArray big(300000, 'z');
    const QByteArray body = FilePart("XyZ", "../../escape.txt", "one") +
                            FilePart("XyZ",
                                     "a\x01"
                                     "b.txt",
                                     "two") +
                            FilePart("XyZ", "C:\\Windows\\..", "three") +
                            FilePart("XyZ", "大文件.bin", big) + "--XyZ--\r\n";
    const Reply reply = Upload("127.0.0.11", login, body);
    ASSERT_EQ(reply.status, 200) << reply.body.constData();
    const QJsonArray saved = reply.json().value("saved").toArray();
    ASSERT_EQ(saved.size(), 4);
    EXPECT_EQ(saved[1].toObject().value("name").toString(), QStringLiteral("a_b(1).txt"));
    QStringList expected{QStringLiteral("escape.txt"), QStringLiteral("a_b.txt"),
                         QStringLiteral("a_b(1).txt"), QStringLiteral("file"),
                         QStringLiteral("大文件.bin")};
    expected.sort();
    EXPECT_EQ(FolderEntries(), expected);
    QFile arrived(folder.path() + QStringLiteral("/大文件.bin"));
    ASSERT_TRUE(arrived.open(QIODevice::ReadOnly));
    EXPECT_EQ(arrived.readAll(), big);
    EXPECT_FALSE(
        QFile::exists(QDir(folder.path()).absoluteFilePath(QStringLiteral("../escape.txt"))));
    ASSERT_TRUE(WaitUntil([&] { return events.size() == 4; }));
    EXPECT_EQ(events[3].kind, WebEvent::Kind::Arrived);
    EXPECT_EQ(events[3].path, folder.path() + QStringLiteral("/大文件.bin"));
    EXPECT_EQ(events[3].size, big.size());
    EXPECT_EQ(events[3].address, QStringLiteral("127.0.0.11"));

    // Cut in the middle of its second file: the first stays, the second leaves nothing.
    {
        RawClient client("127.0.0.11", server->Port());
        const QByteArray start = FilePart("XyZ", "whole.txt", "complete") + "--XyZ\r\n" +
                                 "Content-Disposition: form-data; name=\"f\"; "
                                 "filename=\"half.bin\"\r\n\r\n" +
                                 QByteArray(200000, 'h');
        client.Send("POST /api/upload HTTP/1.1\r\nHost: " + Host() + "\r\n" + login.first +
                    "X-Tolvex-Token: " + login.second +
                    "\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n"
                    "Content-Length: 10000000\r\n\r\n" +
                    start);
        ASSERT_TRUE(WaitUntil([&] {
            return QDir(folder.path())
                       .entryList({QStringLiteral(".tolvex-web-*")}, QDir::Files | QDir::Hidden)
                       .size() == 1;
        }));
    }
    ASSERT_TRUE(WaitUntil([&] { return events.last().kind == WebEvent::Kind::UploadCut; }));
    EXPECT_EQ(events.last().name, QStringLiteral("half.bin"));
    expected << QStringLiteral("whole.txt");
    expected.sort();
    EXPECT_EQ(FolderEntries(), expected);

    // A body that breaks the rules is answered and leaves nothing either.
    const Reply broken = Upload("127.0.0.11", login,
                                "--XyZ\r\nContent-Disposition: form-data; name=\"f\"; "
                                "filename=\"x.bin\"\r\n\r\nbytes without an end");
    EXPECT_EQ(broken.status, 400);
    EXPECT_EQ(FolderEntries(), expected);
    EXPECT_EQ(
        Upload("127.0.0.11", login, "--XyZ\r\nX: " + QByteArray(5000, 'h') + "\r\n\r\n").status,
        400);
    EXPECT_TRUE(Served("127.0.0.12"));

    // With "ExistFile" on, a name that stands there is replaced, not numbered.
    session.settings.existFile = true;
    Start();
    EXPECT_EQ(
        Upload("127.0.0.12", LogIn("127.0.0.12"), FilePart("XyZ", "a_b.txt", "new") + "--XyZ--\r\n")
            .status,
        200);
    EXPECT_EQ(FolderEntries(), expected);
    QFile replaced(folder.path() + QStringLiteral("/a_b.txt"));
    ASSERT_TRUE(replaced.open(QIODevice::ReadOnly));
    EXPECT_EQ(replaced.readAll(), "new");
}

TEST_F(WebServerTest, OversizedAndSlowClientsDoNotShutOthersOut) {
    server->SetTimeouts(3, 800);
    Start();
    EXPECT_EQ(Ask("127.0.0.13", "GET", "/", "X-Big: " + QByteArray(9000, 'a') + "\r\n").status,
              431);
    QByteArray many;
    for (int i = 0; i < 70; ++i)
        many += "X-" + QByteArray::number(i) + ": 1\r\n";
    EXPECT_EQ(Ask("127.0.0.13", "GET", "/", many).status, 431);
    EXPECT_EQ(Ask("127.0.0.13", "GET", "/" + QByteArray(3000, 'p')).status, 414);
    // Beyond what a connection may hold at all: refused by the library, the server goes on.
    const Reply huge = Ask("127.0.0.13", "GET", "/", "X-Huge: " + QByteArray(400000, 'a') + "\r\n");
    EXPECT_TRUE(huge.status == 431 || huge.status == 0) << huge.status;
    EXPECT_TRUE(Served("127.0.0.14"));

    // A slow client trickles its headers on more connections than one address may hold.
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < WebServer::kMaxConnectionsPerAddress + 6; ++i) {
        slow.push_back(std::make_unique<RawClient>("127.0.0.15", server->Port()));
        slow.back()->Send("GET / HTTP/1.1\r\nHost: x\r\n");
    }
    EXPECT_TRUE(Served("127.0.0.16"));
    int refused = 0;
    for (auto& client : slow) {
        client->Send("X-More: 1\r\n");
        if (client->ReadUntilClosed(3000).isEmpty() && client->closedByServer())
            ++refused;
    }
    // Every one of them was closed: those beyond the limit at once, the rest at the deadline.
    EXPECT_EQ(refused, int(slow.size()));

    // 200 connections from 200 addresses at once, none saying anything.
    std::vector<std::unique_ptr<RawClient>> crowd;
    for (int i = 0; i < 200; ++i) {
        const QByteArray from = "127.0.0." + QByteArray::number(30 + i);
        crowd.push_back(std::make_unique<RawClient>(from.constData(), server->Port()));
        EXPECT_TRUE(crowd.back()->connected());
    }
    EXPECT_TRUE(Served("127.0.0.17"));
    for (auto& client : crowd)
        client->ReadUntilClosed(3000);
    for (auto& client : crowd)
        EXPECT_TRUE(client->closedByServer());
    EXPECT_TRUE(Served("127.0.0.17"));
}

TEST_F(WebServerTest, StartFailuresAreTold) {
    EXPECT_EQ(server->Start(folder.path() + QStringLiteral("/missing"), 0),
              WebServer::StartFailure::FolderMissing);
    Start();
    WebServer second(session);
    EXPECT_EQ(second.Start(folder.path(), server->Port()), WebServer::StartFailure::PortInUse);
    session.localAddress = QStringLiteral("192.0.2.1");
    EXPECT_EQ(second.Start(folder.path(), 0), WebServer::StartFailure::AddressUnavailable);
    EXPECT_EQ(second.phase(), WebServer::Phase::Stopped);
}

}  // namespace
}  // namespace tvx::test

#include <gtest/gtest.h>

#include <QDir>
#include <QHttpMultiPart>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>
#include <memory>

#include "common/Messages.h"
#include "support/Clicks.h"
#include "support/Fakes.h"
#include "support/Files.h"
#include "support/Render.h"
#include "support/Wait.h"
#include "texts/WebTexts.h"
#include "web/QrCode.h"
#include "web/WebWindow.h"

// The web page's window against the real server on a loopback address of its own; the port is
// the system's choice, so that runs beside each other do not meet.
namespace tvx::test {
namespace {

const QString kAddress = QStringLiteral("127.0.0.26");
constexpr quint16 kAnyPort = 0;

class WebWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("in")));
        session.localAddress = kAddress;
        session.appFolder = folder.path() + QLatin1Char('/');
        // Automatic receiving on, into a folder that exists: the page takes it without asking.
        session.settings.autoRecvFile = true;
        session.settings.autoSavePath = InFolder();
    }

    QString InFolder() const { return folder.path() + QStringLiteral("/in/"); }

    QString MakeFile(const QString& name, const QByteArray& bytes) {
        const QString path = folder.path() + QLatin1Char('/') + name;
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }

    // Opens a window that serves, or fails the test.
    std::unique_ptr<WebWindow> OpenServing() {
        auto window = std::make_unique<WebWindow>(session, kAnyPort);
        EXPECT_TRUE(window->Open());
        EXPECT_TRUE(window->Serving());
        return window;
    }

    QStringList Lines(const WebWindow& window, const char* list) const {
        QStringList lines;
        const auto* box = Find<QListWidget>(&window, list);
        for (int row = 0; row < box->count(); ++row)
            lines << box->item(row)->text();
        return lines;
    }

    QTemporaryDir folder;
    FakePlatform fake;
    Session session{fake.platform};
};

// A browser's two steps: the code for a session (the cookie stays in the manager's jar), then
// the files as a form sends them.
struct Browser {
    explicit Browser(const QString& url) : base(url) {}

    QNetworkReply* Wait(QNetworkReply* reply) {
        EXPECT_TRUE(WaitUntil([reply] { return reply->isFinished(); }, 15000));
        reply->deleteLater();
        return reply;
    }
    bool Login(const QString& code) {
        // The login's own token comes with the state request that finds no session.
        QNetworkReply* state =
            Wait(http.get(QNetworkRequest(QUrl(base + QStringLiteral("api/state")))));
        const QString login =
            QJsonDocument::fromJson(state->readAll()).object().value("login").toString();
        QNetworkRequest request(QUrl(base + QStringLiteral("api/login")));
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QStringLiteral("application/x-www-form-urlencoded"));
        request.setRawHeader("X-Tolvex-Token", login.toLatin1());
        QNetworkReply* reply = Wait(http.post(request, "code=" + code.toLatin1()));
        token = QJsonDocument::fromJson(reply->readAll()).object().value("token").toString();
        return reply->error() == QNetworkReply::NoError && !token.isEmpty();
    }
    int Upload(const QList<QPair<QString, QByteArray>>& files) {
        auto* form = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        for (const auto& [name, bytes] : files) {
            QHttpPart part;
            // Raw UTF-8 in the name, as browsers send it.
            part.setRawHeader(
                "Content-Disposition",
                QStringLiteral("form-data; name=\"file\"; filename=\"%1\"").arg(name).toUtf8());
            part.setHeader(QNetworkRequest::ContentTypeHeader,
                           QStringLiteral("application/octet-stream"));
            part.setBody(bytes);
            form->append(part);
        }
        QNetworkRequest request(QUrl(base + QStringLiteral("api/upload")));
        request.setRawHeader("X-Tolvex-Token", token.toLatin1());
        QNetworkReply* reply = Wait(http.post(request, form));
        form->setParent(reply);
        return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    }

    QString base;
    QNetworkAccessManager http;
    QString token;
};

TEST_F(WebWindowTest, OpeningServesTheAddressCodeAndQrCodeIntoTheReceiveFolder) {
    auto window = OpenServing();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(fake.dialogs->requests.isEmpty());
    const QString url = window->Server().Url();
    EXPECT_TRUE(url.startsWith(QStringLiteral("http://127.0.0.26:"))) << url.toStdString();
    EXPECT_EQ(Find<QLabel>(window.get(), "lblAddress")->text(), url);
    const QString code = Find<QLabel>(window.get(), "lblCode")->text();
    EXPECT_EQ(code, window->Server().Code());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9]{6}$")).match(code).hasMatch());
    EXPECT_EQ(Find<QLineEdit>(window.get(), "txtReceiveFolder")->text(), InFolder());
    EXPECT_EQ(window->Server().ReceiveFolder(), InFolder());

    // Whole pixels per module inside a white quiet zone of four: the top left finder pattern's
    // corner is the first dark pixel along the diagonal.
    const QrMatrix qr = EncodeQr(url.toUtf8());
    ASSERT_FALSE(qr.isEmpty());
    const QImage image = Find<QLabel>(window.get(), "picQr")->pixmap().toImage();
    ASSERT_FALSE(image.isNull());
    const int modules = qr.size + 2 * WebWindow::kQrQuietZone;
    ASSERT_EQ(image.width() % modules, 0);
    ASSERT_EQ(image.width(), image.height());
    const int module = image.width() / modules;
    EXPECT_GE(module, 2);
    const int edge = WebWindow::kQrQuietZone * module;
    for (int i = 0; i < edge; ++i)
        ASSERT_EQ(image.pixel(i, i), qRgb(255, 255, 255)) << i;
    for (int y = 0; y < qr.size; ++y) {
        for (int x = 0; x < qr.size; ++x) {
            const QRgb expected = qr.IsDark(x, y) ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
            ASSERT_EQ(image.pixel(edge + x * module + module - 1, edge + y * module), expected)
                << x << "," << y;
        }
    }
}

TEST_F(WebWindowTest, WithoutAutomaticReceivingTheUserPicksTheFolderOrThePageStaysOff) {
    session.settings.autoRecvFile = false;
    {
        WebWindow window(session, kAnyPort);
        EXPECT_FALSE(window.Open());  // the folder dialog cancelled
        EXPECT_FALSE(window.Serving());
        EXPECT_FALSE(window.isVisible());
        ASSERT_EQ(fake.dialogs->requests.size(), 1);
        EXPECT_EQ(fake.dialogs->requests[0].kind, QStringLiteral("folder"));
        EXPECT_EQ(fake.dialogs->requests[0].title, WebReceiveFolderTitle());
        EXPECT_TRUE(fake.messageBox->shown.isEmpty());
    }
    const QString chosen = folder.path();
    fake.dialogs->paths.enqueue(chosen);
    WebWindow window(session, kAnyPort);
    ASSERT_TRUE(window.Open());
    EXPECT_EQ(window.Server().ReceiveFolder(), chosen);
    EXPECT_EQ(Find<QLineEdit>(&window, "txtReceiveFolder")->text(), chosen);

    // The folder changes while the page runs.
    fake.dialogs->paths.enqueue(InFolder());
    ClickButton(&window, QStringLiteral("cmdBrowseFolder"));
    EXPECT_EQ(window.Server().ReceiveFolder(), InFolder());
    EXPECT_EQ(Find<QLineEdit>(&window, "txtReceiveFolder")->text(), InFolder());
}

TEST_F(WebWindowTest, SharesAddedByButtonOrDropAndRemovedReachTheServer) {
    auto window = OpenServing();
    const QString a = MakeFile(QStringLiteral("甲.txt"), "aaaa");
    const QString b = MakeFile(QStringLiteral("b.bin"), Pattern(3000));
    const QString c = MakeFile(QStringLiteral("c.txt"), "c");
    const auto sharedPaths = [&] {
        QStringList paths;
        for (const WebShare& share : window->Server().Shares())
            paths << share.path;
        return paths;
    };

    // Several files at once; a folder among them is not offered and is named.
    fake.dialogs->paths.enqueue(a + QLatin1Char('\n') + folder.path() + QLatin1Char('\n') + b);
    ClickButton(window.get(), QStringLiteral("cmdAddShare"));
    EXPECT_EQ(fake.dialogs->requests.last().kind, QStringLiteral("open files"));
    EXPECT_EQ(sharedPaths(), QStringList({a, b}));
    EXPECT_EQ(Lines(*window, "lstShared").size(), 2);
    ASSERT_EQ(fake.messageBox->Texts(), QStringList{WebShareRefusedText({folder.path()})});

    // A drop: files are offered, a folder is not.
    QMimeData drop;
    drop.setUrls({QUrl::fromLocalFile(c), QUrl::fromLocalFile(InFolder())});
    EXPECT_TRUE(window->FilesDropped(&drop));
    EXPECT_EQ(sharedPaths(), QStringList({a, b, c}));
    EXPECT_EQ(fake.messageBox->shown.size(), 2);

    auto* remove = Find<QPushButton>(window.get(), "cmdRemoveShare");
    EXPECT_FALSE(remove->isEnabled());
    auto* list = Find<QListWidget>(window.get(), "lstShared");
    list->item(0)->setSelected(true);
    list->item(2)->setSelected(true);
    EXPECT_TRUE(remove->isEnabled());
    ClickButton(window.get(), QStringLiteral("cmdRemoveShare"));
    EXPECT_EQ(sharedPaths(), QStringList{b});
    EXPECT_EQ(Lines(*window, "lstShared"), QStringList{QStringLiteral("b.bin  (2 KB)")});
}

TEST_F(WebWindowTest, UploadsArriveInTheListWithOneNotificationAtATime) {
    auto window = OpenServing();
    fake.dialogs->paths.enqueue(MakeFile(QStringLiteral("说明.txt"), "offered"));
    ClickButton(window.get(), QStringLiteral("cmdAddShare"));

    Browser browser(window->Server().Url());
    ASSERT_TRUE(browser.Login(window->Server().Code()));
    const QByteArray first = Pattern(200000, 1);
    const QByteArray second = Pattern(5000, 2);
    ASSERT_EQ(
        browser.Upload({{QStringLiteral("照片.jpg"), first}, {QStringLiteral("b.txt"), second}}),
        200);
    ASSERT_TRUE(WaitUntil([&] { return Lines(*window, "lstActivity").size() == 2; }));
    EXPECT_EQ(ReadAll(InFolder() + QStringLiteral("照片.jpg")), first);
    EXPECT_EQ(ReadAll(InFolder() + QStringLiteral("b.txt")), second);

    const QStringList lines = Lines(*window, "lstActivity");
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("收到 照片.jpg"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("收到 b.txt"))) << lines[1].toStdString();
    // The second arrival came within the first notice's gap: it waits for the next notice.
    ASSERT_EQ(fake.notifications->raised.size(), 1);
    EXPECT_EQ(fake.notifications->raised[0].kind, NotifyKind::WebArrived);
    EXPECT_EQ(fake.notifications->raised[0].summary, WebArrivedSummary());
    EXPECT_TRUE(fake.notifications->raised[0].body.startsWith(QStringLiteral("照片.jpg")));

    window->resize(640, 620);
    EXPECT_TRUE(RenderToPng(*window, QStringLiteral("web_window")));
}

TEST_F(WebWindowTest, StopOrTheCloseBoxEndsThePage) {
    for (const bool byButton : {true, false}) {
        auto window = OpenServing();
        const QUrl url(window->Server().Url());
        if (byButton)
            ClickButton(window.get(), QStringLiteral("cmdStop"));
        else
            window->close();
        EXPECT_FALSE(window->Serving()) << byButton;
        EXPECT_FALSE(window->isVisible()) << byButton;
        QTcpSocket probe;
        probe.connectToHost(kAddress, quint16(url.port()));
        EXPECT_FALSE(probe.waitForConnected(3000)) << byButton;
    }
}

TEST_F(WebWindowTest, AStartFailureIsToldAndNoWindowStays) {
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress(kAddress), 0));
    WebWindow window(session, holder.serverPort());
    EXPECT_FALSE(window.Open());
    EXPECT_FALSE(window.Serving());
    EXPECT_FALSE(window.isVisible());
    ASSERT_EQ(fake.messageBox->shown.size(), 1);
    EXPECT_EQ(
        fake.messageBox->shown[0].text,
        WebStartFailureText(WebServer::StartFailure::PortInUse, holder.serverPort(), InFolder()));
    EXPECT_EQ(fake.messageBox->shown[0].style, MessageStyleOf(MessageKind::Error));
}

}  // namespace
}  // namespace tvx::test

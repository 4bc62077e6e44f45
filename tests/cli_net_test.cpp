// The command line as its users run it: the built program in its own process on one loopback
// address, against a complete copy in this process (the desktop program) or against another
// command-line process on another address.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QUdpSocket>
#include <memory>

#include "address/AddressCode.h"
#include "chat/ChatAcceptWindow.h"
#include "common/Controls.h"
#include "common/Handshake.h"
#include "presence/PresenceService.h"
#include "protocol/Codes.h"
#include "protocol/PeerLink.h"
#include "protocol/PeerMessages.h"
#include "protocol/PresenceMessages.h"
#include "protocol/Wire.h"
#include "support/Clicks.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/TestPeer.h"
#include "support/Trees.h"
#include "transfer/ReceiverPage.h"

namespace tvx::test {
namespace {

// One run of the program, with its own home (settings, card, data folder) and its output
// gathered as it comes.
class Cli {
public:
    Cli(const QString& home, const QStringList& arguments, bool desktop = false) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        if (desktop)
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(home);
        QObject::connect(&m_process, &QProcess::readyReadStandardError, &m_process,
                         [this] { m_err += m_process.readAllStandardError(); });
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
                         [this] { m_out += m_process.readAllStandardOutput(); });
        m_process.start(QStringLiteral(TOLVEX_BINARY), arguments);
        EXPECT_TRUE(m_process.waitForStarted(10000));
    }
    ~Cli() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Waits for the end; the exit status, or -1 when it did not end in time or crashed.
    int Finish(int milliseconds = 30000) {
        if (!WaitUntil([&] { return m_process.state() == QProcess::NotRunning; }, milliseconds))
            return -1;
        m_err += m_process.readAllStandardError();
        m_out += m_process.readAllStandardOutput();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    bool ErrorSays(const QString& text, int milliseconds = 15000) {
        return WaitUntil([&] { return Err().contains(text); }, milliseconds);
    }
    QString Err() const { return QString::fromUtf8(m_err); }
    QByteArray OutBytes() const { return m_out; }
    QString Out() const { return QString::fromUtf8(m_out); }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QByteArray m_err;
    QByteArray m_out;
};

// The fields each --json event always carries, with their JSON types: the one list that the
// events of the runs below and the manual page are held to (doctor's runs are in
// doctor_net_test, which checks the same fields).
struct JsonEventFields {
    QString command;
    QString event;
    QList<QPair<QString, QJsonValue::Type>> fields;
};

const QList<JsonEventFields>& JsonEventTable() {
    constexpr auto S = QJsonValue::String;
    constexpr auto D = QJsonValue::Double;
    constexpr auto B = QJsonValue::Bool;
    constexpr auto A = QJsonValue::Array;
    constexpr auto O = QJsonValue::Object;
    static const QList<JsonEventFields> table = {
        {"send", "started", {{"peer", S}, {"files", A}, {"count", D}, {"bytes", D}}},
        {"send", "progress", {{"bytes", D}, {"total", D}, {"speed", D}}},
        {"send", "file-done", {{"name", S}, {"size", D}}},
        {"send", "end", {{"outcome", S}, {"status", D}, {"sent", D}, {"size", D}}},
        {"receive", "listening", {{"address", S}, {"tvx", S}, {"folder", S}}},
        {"receive",
         "offer",
         {{"peer", S},
          {"tvx", S},
          {"nick", S},
          {"batch", B},
          {"names", A},
          {"folders", D},
          {"count", D},
          {"bytes", D},
          {"note", S}}},
        {"receive",
         "started",
         {{"peer", S},
          {"tvx", S},
          {"nick", S},
          {"files", A},
          {"count", D},
          {"bytes", D},
          {"position", D}}},
        {"receive", "progress", {{"bytes", D}, {"total", D}, {"speed", D}}},
        {"receive", "file-done", {{"name", S}, {"size", D}, {"path", S}}},
        {"receive", "transfer-end", {{"outcome", S}, {"peer", S}, {"tvx", S}, {"nick", S}}},
        {"receive", "warning", {{"outcome", S}}},
        {"receive", "rejected", {{"peer", S}, {"refusal", S}}},
        {"receive", "end", {{"outcome", S}, {"status", D}}},
        {"chat", "connected", {{"peer", S}, {"nick", S}, {"automatic", B}}},
        {"chat", "line", {{"from", S}, {"nick", S}, {"text", S}}},
        {"chat", "end", {{"outcome", S}, {"status", D}}},
        {"peers", "peer", {{"address", S}, {"tvx", S}, {"nick", S}, {"ports", O}}},
        {"peers", "end", {{"outcome", S}, {"status", D}, {"count", D}}},
        {"web", "serving", {{"url", S}, {"code", S}, {"folder", S}, {"shares", A}}},
        {"web", "arrived", {{"name", S}, {"size", D}, {"path", S}, {"address", S}}},
        {"web", "fetched", {{"name", S}, {"size", D}, {"address", S}}},
        {"web", "upload-cut", {{"name", S}, {"size", D}, {"address", S}}},
        {"web",
         "upload-failed",
         {{"name", S}, {"size", D}, {"path", S}, {"systemError", S}, {"address", S}}},
        {"web", "address-locked-out", {{"address", S}}},
        {"web", "end", {{"outcome", S}, {"status", D}}},
        {"doctor", "finding", {{"kind", S}, {"verdict", S}, {"side", S}, {"text", S}}},
        {"doctor", "end", {{"outcome", S}, {"status", D}}},
    };
    return table;
}

// A command's standard output under --json: every line one object of a known event with its
// fields, and not one byte that a terminal would act on (no control or C1 character, valid
// UTF-8).
QList<QJsonObject> JsonEvents(const QString& command, const QByteArray& out) {
    QList<QJsonObject> events;
    EXPECT_TRUE(out.isEmpty() || out.endsWith('\n'));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(out);
    EXPECT_FALSE(utf8.hasError());
    for (const QChar ch : text) {
        EXPECT_TRUE(ch == QLatin1Char('\n') ||
                    (ch.category() != QChar::Other_Control && ch.category() != QChar::Other_Format))
            << ch.unicode();
    }
    const QRegularExpression time(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)"));
    for (const QByteArray& line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        EXPECT_TRUE(error.error == QJsonParseError::NoError && document.isObject())
            << line.constData();
        const QJsonObject event = document.object();
        EXPECT_TRUE(time.match(event.value("time").toString()).hasMatch()) << line.constData();
        const auto known = std::find_if(
            JsonEventTable().begin(), JsonEventTable().end(), [&](const JsonEventFields& entry) {
                return entry.command == command && entry.event == event.value("event").toString();
            });
        EXPECT_NE(known, JsonEventTable().end()) << line.constData();
        if (known != JsonEventTable().end()) {
            for (const auto& [name, type] : known->fields)
                EXPECT_EQ(event.value(name).type(), type) << qPrintable(name) << line.constData();
        }
        events << event;
    }
    return events;
}

// The events named `name`, in order.
QList<QJsonObject> Named(const QList<QJsonObject>& events, const QString& name) {
    QList<QJsonObject> found;
    for (const QJsonObject& event : events) {
        if (event.value("event").toString() == name)
            found << event;
    }
    return found;
}

QStringList EventNames(const QList<QJsonObject>& events) {
    QStringList names;
    for (const QJsonObject& event : events) {
        const QString name = event.value("event").toString();
        if (name != QLatin1String("progress") && (names.isEmpty() || names.last() != name))
            names << name;
    }
    return names;
}

TEST(JsonOutputManual, NamesEveryEventAndField) {
    QFile page(QStringLiteral(TOLVEX_SOURCE_DIR "/data/tolvex.1"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(page.readAll());
    const qsizetype begin = text.indexOf(QStringLiteral("\n.SH JSON OUTPUT\n"));
    ASSERT_GE(begin, 0);
    const QString section =
        text.mid(begin, text.indexOf(QStringLiteral("\n.SH "), begin + 1) - begin);
    const auto roff = [](QString word) {
        return QRegularExpression::escape(word.replace(QLatin1Char('-'), QStringLiteral("\\-")));
    };
    for (const JsonEventFields& entry : JsonEventTable()) {
        const QRegularExpression named(QStringLiteral(R"((^\.BR? |\\fB|" ))") + roff(entry.event) +
                                           QStringLiteral(R"((\\fR|$| ))"),
                                       QRegularExpression::MultilineOption);
        EXPECT_TRUE(named.match(section).hasMatch()) << qPrintable(entry.event);
        for (const auto& field : entry.fields) {
            EXPECT_TRUE(
                section.contains(QStringLiteral("\\fB") + field.first + QStringLiteral("\\fR")))
                << qPrintable(entry.event + QLatin1Char(' ') + field.first);
        }
    }
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid() && files.isValid() && received.isValid());
        // The card of the command line's user, as the desktop program keeps it.
        QSettings ini(home.path() + QStringLiteral("/config/Kestrane/Kestrane.ini"),
                      QSettings::IniFormat);
        ini.beginGroup(QStringLiteral("Settings"));
        ini.setValue(QStringLiteral("NickName"), QStringLiteral("小刚"));
    }

    QString MakeFile(const QString& name, const QByteArray& content) {
        const QString path = files.path() + QLatin1Char('/') + name;
        EXPECT_TRUE(WriteFile(path, content));
        return path;
    }
    std::unique_ptr<Cli> Run(const QString& address, const QStringList& arguments) {
        return std::make_unique<Cli>(home.path(),
                                     QStringList{QStringLiteral("--address"), address} + arguments);
    }
    QString Received(const QString& name) const {
        return received.path() + QLatin1Char('/') + name;
    }

    QTemporaryDir home;
    QTemporaryDir files;
    QTemporaryDir received;
};

TEST_F(CommandLine, SendsToTheDesktopCopyWhichAcceptsRefusesOrAsksForItsCode) {
    TestPeer desktop{kAnswererAddress, QStringLiteral("小红")};
    ASSERT_TRUE(desktop.Start());
    const QByteArray content = Pattern(3 * 1024 * 1024 + 17);
    const QString path = MakeFile(QStringLiteral("a.bin"), content);
    auto offerShown = [&] {
        return WaitUntil([&] { return desktop.session.activity.offerWaiting(); }, 15000);
    };

    // By IPv4, with a note, accepted by the desktop's user.
    {
        auto send = Run(kCallerAddress, {QStringLiteral("send"), kAnswererAddress, path,
                                         QStringLiteral("--note"), QStringLiteral("看看这个")});
        ASSERT_TRUE(offerShown());
        EXPECT_EQ(ControlText(&desktop.receiver(), QStringLiteral("lblOfferNote")),
                  QStringLiteral("看看这个"));
        desktop.fake.dialogs->paths.enqueue(desktop.DownloadFolder() + QStringLiteral("a.bin"));
        desktop.receiver().findChild<QPushButton*>(QStringLiteral("cmdAccept"))->click();
        ASSERT_EQ(send->Finish(), 0) << qPrintable(send->Err());
        EXPECT_EQ(ReadAll(desktop.DownloadFolder() + QStringLiteral("a.bin")), content);
        const QString err = send->Err();
        EXPECT_TRUE(err.contains(QStringLiteral("文件已成功发送到 127.0.0.3 。")))
            << qPrintable(err);
        // Not a terminal: one line for the file, no bar redrawn in place.
        EXPECT_FALSE(err.contains(QLatin1Char('\r')));
        EXPECT_TRUE(err.contains(QStringLiteral("\na.bin  100%  3.0 MB / 3.0 MB  用时 ")))
            << qPrintable(err);
        EXPECT_TRUE(send->Out().isEmpty());
    }
    ASSERT_TRUE(WaitUntil(
        [&] { return desktop.receiver().ControlLink().state() == PeerLink::State::Listening; }));

    // Refused by the desktop's user with a note.
    {
        auto send = Run(kCallerAddress, {QStringLiteral("send"), kAnswererAddress, path});
        ASSERT_TRUE(offerShown());
        desktop.receiver()
            .findChild<QPlainTextEdit*>(QStringLiteral("txtRefuseNote"))
            ->setPlainText(QStringLiteral("不需要"));
        desktop.receiver().findChild<QPushButton*>(QStringLiteral("cmdRefuse"))->click();
        ASSERT_EQ(send->Finish(), 1) << qPrintable(send->Err());
        EXPECT_TRUE(send->Err().contains(
            QStringLiteral("对方用户 127.0.0.3 拒绝接收文件\"a.bin\"。\n附言:不需要\n")))
            << qPrintable(send->Err());
    }
    ASSERT_TRUE(WaitUntil(
        [&] { return desktop.receiver().ControlLink().state() == PeerLink::State::Listening; }));

    // The desktop asks for a code: a wrong one is refused with the sender's message.
    desktop.session.settings.passWord1 = Digest(QStringLiteral("芝麻开门"));
    {
        auto send = Run(kCallerAddress, {QStringLiteral("send"), kAnswererAddress, path,
                                         QStringLiteral("--code"), QStringLiteral("芝麻关门")});
        ASSERT_EQ(send->Finish(), 1) << qPrintable(send->Err());
        EXPECT_TRUE(send->Err().endsWith(
            QStringLiteral("发送连接请求失败:验证码无效。\n-没有使用验证码或验证码错误\n")))
            << qPrintable(send->Err());
        EXPECT_FALSE(desktop.session.activity.offerWaiting());
    }

    // By TVX address with the right code, received automatically by the desktop.
    desktop.session.settings.autoRecvFile = true;
    desktop.session.settings.autoSavePath = received.path();
    {
        auto send =
            Run(kCallerAddress, {QStringLiteral("send"), EncodeAddressCode(kAnswererAddress), path,
                                 QStringLiteral("--code=芝麻开门")});
        ASSERT_EQ(send->Finish(), 0) << qPrintable(send->Err());
        ASSERT_TRUE(WaitUntil([&] { return QFile::exists(Received(QStringLiteral("a.bin"))); }));
        EXPECT_EQ(ReadAll(Received(QStringLiteral("a.bin"))), content);
    }
}

TEST_F(CommandLine, BadUsageBadAddressMissingFileAndNobodyListening) {
    const QString path = MakeFile(QStringLiteral("x.bin"), Pattern(1000));

    auto bad = Run(kCallerAddress, {QStringLiteral("send"), QStringLiteral("300.1.2.3"), path});
    EXPECT_EQ(bad->Finish(), 2);
    EXPECT_EQ(bad->Err(), QStringLiteral("无效的IP或TVX地址:300.1.2.3\n"));

    auto missing = Run(kCallerAddress, {QStringLiteral("send"), kAnswererAddress,
                                        files.path() + QStringLiteral("/none.bin")});
    EXPECT_EQ(missing->Finish(), 4);
    EXPECT_TRUE(missing->Err().startsWith(QStringLiteral("发送的文件不存在。\n")));

    auto nobody = Run(kCallerAddress, {QStringLiteral("send"), kAnswererAddress, path,
                                       QStringLiteral("--retry"), QStringLiteral("2")});
    EXPECT_EQ(nobody->Finish(), 3);
    EXPECT_TRUE(nobody->Err().contains(QStringLiteral("(已尝试连接 2 次)\n")));
    EXPECT_FALSE(nobody->Err().contains(QStringLiteral("(已尝试连接 3 次)")));
    EXPECT_TRUE(
        nobody->Err().endsWith(QStringLiteral("Tolvex已尝试连接对方指定次数,但并未成功。\n")))
        << qPrintable(nobody->Err());

    auto noFolder = Run(kAnswererAddress, {QStringLiteral("receive"), QStringLiteral("--to"),
                                           files.path() + QStringLiteral("/none")});
    EXPECT_EQ(noFolder->Finish(), 4);

    for (const QStringList& usage :
         {QStringList{QStringLiteral("send"), kAnswererAddress},
          QStringList{QStringLiteral("sned"), kAnswererAddress, path},
          QStringList{QStringLiteral("peers"), QStringLiteral("--wait"), QStringLiteral("x")},
          QStringList{QStringLiteral("receive"), QStringLiteral("--note"), QStringLiteral("x")}}) {
        auto wrong = Run(kCallerAddress, usage);
        EXPECT_EQ(wrong->Finish(), 2) << qPrintable(usage.join(' '));
        EXPECT_EQ(wrong->Err().count(QLatin1Char('\n')), 1) << qPrintable(wrong->Err());
    }

    Cli help(home.path(), {QStringLiteral("--help")});
    EXPECT_EQ(help.Finish(), 0);
    EXPECT_TRUE(help.Out().contains(QStringLiteral("send ADDRESS PATH...")));
    Cli version(home.path(), {QStringLiteral("--version")});
    EXPECT_EQ(version.Finish(), 0);
    EXPECT_TRUE(version.Out().startsWith(QStringLiteral("tolvex ")));
}

// --json between two command-line copies (a file with a hostile name, then a folder), a refusal
// by the desktop copy, and a send where nobody listens.
TEST_F(CommandLine, JsonEventsOfSendsTheirReceiverARefusalAndNobodyListening) {
    const QStringList json{QStringLiteral("--json")};
    auto receive =
        Run(kAnswererAddress,
            QStringList{QStringLiteral("receive"), QStringLiteral("--to"), received.path()} + json);
    ASSERT_TRUE(WaitUntil([&] { return receive->Out().contains("\"listening\""); }, 15000))
        << qPrintable(receive->Err());

    const QString hostile = QStringLiteral("名\"字\x01\x1b[31m\x7f") + QChar(0x85) + QChar(0x9b) +
                            QChar(0x202e) + QStringLiteral("gpj.bin");
    const QByteArray content = Pattern(3 * 1024 * 1024 + 5, 2);
    const QString path = MakeFile(hostile, content);
    {
        auto send =
            Run(kCallerAddress, QStringList{QStringLiteral("send"), kAnswererAddress, path} + json);
        ASSERT_EQ(send->Finish(), 0) << qPrintable(send->Err());
        // The messages stay, on standard error.
        EXPECT_TRUE(send->Err().contains(QStringLiteral("文件已成功发送到 127.0.0.3 。")));
        const QList<QJsonObject> events = JsonEvents("send", send->OutBytes());
        EXPECT_EQ(EventNames(events), (QStringList{"started", "file-done", "end"}))
            << send->OutBytes().constData();
        ASSERT_EQ(Named(events, "started").size(), 1);
        const QJsonObject started = Named(events, "started")[0];
        EXPECT_EQ(started.value("peer").toString(), kAnswererAddress);
        EXPECT_EQ(started.value("files").toArray(),
                  (QJsonArray{QJsonObject{{"name", hostile}, {"size", content.size()}}}));
        EXPECT_EQ(started.value("bytes").toInteger(), content.size());
        const QList<QJsonObject> progress = Named(events, "progress");
        ASSERT_FALSE(progress.isEmpty());
        EXPECT_EQ(progress.last().value("bytes").toInteger(), content.size());
        EXPECT_EQ(progress.last().value("total").toInteger(), content.size());
        EXPECT_EQ(Named(events, "file-done")[0].value("name").toString(), hostile);
        const QJsonObject end = events.last();
        EXPECT_EQ(end.value("outcome").toString(), QStringLiteral("done"));
        EXPECT_EQ(end.value("status").toInt(), 0);
        EXPECT_EQ(end.value("sent").toInteger(), content.size());
    }
    ASSERT_TRUE(WaitUntil([&] { return receive->Out().contains("\"transfer-end\""); }))
        << qPrintable(receive->Err());
    {
        const QList<QJsonObject> events = JsonEvents("receive", receive->OutBytes());
        EXPECT_EQ(EventNames(events),
                  (QStringList{"listening", "offer", "started", "file-done", "transfer-end"}));
        const QJsonObject offer = Named(events, "offer").value(0);
        EXPECT_EQ(offer.value("peer").toString(), kCallerAddress);
        EXPECT_EQ(offer.value("nick").toString(), QStringLiteral("小刚"));
        EXPECT_EQ(offer.value("names").toArray(), QJsonArray{hostile});
        EXPECT_FALSE(offer.value("batch").toBool());
        const QJsonObject done = Named(events, "file-done").value(0);
        EXPECT_EQ(done.value("name").toString(), hostile);
        EXPECT_EQ(ReadAll(done.value("path").toString()), content);
        EXPECT_EQ(Named(events, "transfer-end")[0].value("outcome").toString(),
                  QStringLiteral("done"));
    }

    // A folder: each file is named as it is done, on both sides.
    const QString folder = files.path() + QStringLiteral("/夹");
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/下")));
    ASSERT_TRUE(WriteFile(folder + QStringLiteral("/a.txt"), Pattern(70000, 1)));
    ASSERT_TRUE(WriteFile(folder + QStringLiteral("/下/b.txt"), Pattern(900, 3)));
    const qsizetype receivedBefore = receive->OutBytes().size();
    {
        auto send = Run(kCallerAddress,
                        QStringList{QStringLiteral("send"), kAnswererAddress, folder} + json);
        ASSERT_EQ(send->Finish(), 0) << qPrintable(send->Err());
        const QList<QJsonObject> events = JsonEvents("send", send->OutBytes());
        QStringList done;
        for (const QJsonObject& event : Named(events, "file-done"))
            done << event.value("name").toString();
        done.sort();
        EXPECT_EQ(done, (QStringList{"夹/a.txt", "夹/下/b.txt"})) << send->OutBytes().constData();
        EXPECT_EQ(Named(events, "started")[0].value("count").toInt(), 2);
        EXPECT_EQ(Named(events, "progress").last().value("filesDone").toInt(), 2);
        EXPECT_EQ(events.last().value("files").toInt(), 2);
    }
    ASSERT_TRUE(WaitUntil([&] {
        return receive->OutBytes().mid(receivedBefore).contains("\"transfer-end\"");
    })) << qPrintable(receive->Err());
    {
        const QList<QJsonObject> events =
            JsonEvents("receive", receive->OutBytes().mid(receivedBefore));
        const QList<QJsonObject> done = Named(events, "file-done");
        ASSERT_EQ(done.size(), 2) << receive->OutBytes().mid(receivedBefore).constData();
        for (const QJsonObject& file : done) {
            EXPECT_EQ(QFileInfo(file.value("path").toString()).size(),
                      file.value("size").toInteger());
            EXPECT_TRUE(file.value("path").toString().endsWith(file.value("name").toString()));
        }
        EXPECT_TRUE(Named(events, "offer").value(0).value("batch").toBool());
    }
    receive->process().terminate();
    EXPECT_EQ(receive->Finish(), 0);
    const QList<QJsonObject> last = JsonEvents("receive", receive->OutBytes());
    EXPECT_EQ(last.last().value("event").toString(), QStringLiteral("end"));
    EXPECT_EQ(last.last().value("outcome").toString(), QStringLiteral("stopped"));

    {
        // Refused by the desktop's user with a note (a copy without encryption on the address
        // met encrypted above).
        TestPeer desktop{kAnswererAddress, QStringLiteral("小红")};
        ASSERT_TRUE(desktop.Start());
        auto send = Run(kCallerAddress, QStringList{QStringLiteral("send"), kAnswererAddress, path,
                                                    QStringLiteral("--allow-plain")} +
                                            json);
        ASSERT_TRUE(WaitUntil([&] { return desktop.session.activity.offerWaiting(); }, 15000))
            << qPrintable(send->Err());
        desktop.receiver()
            .findChild<QPlainTextEdit*>(QStringLiteral("txtRefuseNote"))
            ->setPlainText(QStringLiteral("不需要"));
        desktop.receiver().findChild<QPushButton*>(QStringLiteral("cmdRefuse"))->click();
        ASSERT_EQ(send->Finish(), 1) << qPrintable(send->Err());
        const QList<QJsonObject> events = JsonEvents("send", send->OutBytes());
        EXPECT_EQ(EventNames(events), QStringList{"end"});
        EXPECT_EQ(events.last().value("outcome").toString(), QStringLiteral("refused"));
        EXPECT_EQ(events.last().value("note").toString(), QStringLiteral("不需要"));
        EXPECT_EQ(events.last().value("status").toInt(), 1);
    }

    // Nobody listens any more.
    auto nobody =
        Run(kCallerAddress, QStringList{QStringLiteral("send"), kAnswererAddress, path} + json);
    ASSERT_EQ(nobody->Finish(), 3) << qPrintable(nobody->Err());
    const QList<QJsonObject> events = JsonEvents("send", nobody->OutBytes());
    ASSERT_EQ(events.size(), 1) << nobody->OutBytes().constData();
    EXPECT_EQ(events[0].value("outcome").toString(), QStringLiteral("network-error"));
    EXPECT_EQ(events[0].value("error").toString(), QStringLiteral("connection-refused"));
    EXPECT_EQ(events[0].value("status").toInt(), 3);
    EXPECT_FALSE(nobody->Err().isEmpty());
}

TEST_F(CommandLine, ReceiverResumesAfterTheSenderWasKilledAndNumbersRepeatedNames) {
    auto receive =
        Run(kAnswererAddress, {QStringLiteral("receive"), QStringLiteral("--to"), received.path()});
    ASSERT_TRUE(receive->ErrorSays(QStringLiteral("正在等待接收文件")))
        << qPrintable(receive->Err());

    const qint64 size = 48 * 1024 * 1024;
    const QByteArray content = Pattern(size, 3);
    const QString path = MakeFile(QStringLiteral("big.bin"), content);
    const QString held = Received(QStringLiteral("big.bin.tvx"));
    {
        auto send = Run(kCallerAddress, {QStringLiteral("send"), kAnswererAddress, path});
        // Stopped as soon as the first bytes are down, then killed: no goodbye of any kind.
        ASSERT_TRUE(WaitUntil([&] { return QFileInfo(held).size() > 0; }, 20000));
        ::kill(pid_t(send->process().processId()), SIGSTOP);
        send->process().kill();
        send->process().waitForFinished(5000);
    }
    ASSERT_TRUE(receive->ErrorSays(QStringLiteral("取消发送文件\"big.bin\"")))
        << qPrintable(receive->Err());
    const qint64 kept = QFileInfo(held).size();
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, size);

    {
        auto send = Run(kCallerAddress, {QStringLiteral("send"), kAnswererAddress, path});
        ASSERT_EQ(send->Finish(60000), 0) << qPrintable(send->Err());
        EXPECT_TRUE(send->Err().contains(QStringLiteral("\nbig.bin  100%")));
    }
    ASSERT_TRUE(
        receive->ErrorSays(QStringLiteral("保存到 ") + Received(QStringLiteral("big.bin"))));
    EXPECT_TRUE(receive->Err().contains(QStringLiteral("当前位置文件已接收 ")));
    EXPECT_TRUE(receive->Err().contains(QStringLiteral("\nbig.bin  100%")));
    EXPECT_EQ(ReadAll(Received(QStringLiteral("big.bin"))), content);
    EXPECT_FALSE(QFile::exists(held));

    // The same name again is numbered; the first file stays.
    const QByteArray small = Pattern(5000, 9);
    const QString smallPath = MakeFile(QStringLiteral("big.bin"), small);
    {
        auto send = Run(kCallerAddress,
                        {QStringLiteral("send"), EncodeAddressCode(kAnswererAddress), smallPath});
        ASSERT_EQ(send->Finish(), 0) << qPrintable(send->Err());
    }
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(Received(QStringLiteral("big(1).bin"))); }));
    EXPECT_EQ(ReadAll(Received(QStringLiteral("big(1).bin"))), small);
    EXPECT_EQ(QFileInfo(Received(QStringLiteral("big.bin"))).size(), size);

    // SIGTERM ends it cleanly.
    receive->process().terminate();
    EXPECT_EQ(receive->Finish(), 0);
}

// Ctrl-C says what became of the transfer: the sender that it cancelled, the receiver that it
// kept the temporary file for a resume. Each is stopped while the other side is frozen, so
// the transfer is under way whatever the machine's speed.
TEST_F(CommandLine, CtrlCSaysTheSendWasCancelledOrThePartialFileKept) {
    auto receive =
        Run(kAnswererAddress, {QStringLiteral("receive"), QStringLiteral("--to"), received.path()});
    ASSERT_TRUE(receive->ErrorSays(QStringLiteral("正在等待接收文件")));
    const QString path = MakeFile(QStringLiteral("big.bin"), Pattern(32 * 1024 * 1024, 7));
    const QString held = Received(QStringLiteral("big.bin.tvx"));
    const auto pid = [](Cli& cli) { return pid_t(cli.process().processId()); };
    {
        auto send = Run(kCallerAddress, {QStringLiteral("send"), kAnswererAddress, path});
        ASSERT_TRUE(WaitUntil([&] { return QFile::exists(held); }, 20000))
            << qPrintable(send->Err());
        ::kill(pid(*receive), SIGSTOP);
        ::kill(pid(*send), SIGINT);
        EXPECT_EQ(send->Finish(), 1) << qPrintable(send->Err());
        ::kill(pid(*receive), SIGCONT);
        EXPECT_TRUE(send->Err().contains(QStringLiteral("\n已取消发送文件\"big.bin\",目前已发送 ")))
            << qPrintable(send->Err());
    }
    ASSERT_TRUE(receive->ErrorSays(QStringLiteral("取消发送文件\"big.bin\"")))
        << qPrintable(receive->Err());

    auto send = Run(kCallerAddress, {QStringLiteral("send"), kAnswererAddress, path});
    ASSERT_TRUE(receive->ErrorSays(QStringLiteral("当前位置文件已接收 ")))
        << qPrintable(receive->Err());
    ::kill(pid(*send), SIGSTOP);
    ::kill(pid(*receive), SIGINT);
    EXPECT_EQ(receive->Finish(), 0) << qPrintable(receive->Err());
    EXPECT_TRUE(receive->Err().contains(QStringLiteral("\n已停止接收文件\"big.bin\",目前已接收 ")))
        << qPrintable(receive->Err());
    EXPECT_TRUE(receive->Err().contains(QStringLiteral("\n临时文件已保留:") + held + "\n"));
    EXPECT_TRUE(QFile::exists(held));
    send->process().kill();
}

// Folders between two command-line copies: asked once, the tree arrives exact (nested and empty
// folders, an empty file, Chinese names and one that only GBK, not GB2312, holds). Links and
// pipes inside a folder do not go; the sender names them and ends with 4 while the rest arrives.
TEST_F(CommandLine, SendsFoldersWithTheirTreeAndSkipsLinksAndPipes) {
    auto receive =
        Run(kAnswererAddress, {QStringLiteral("receive"), QStringLiteral("--to"), received.path()});
    ASSERT_TRUE(receive->ErrorSays(QStringLiteral("正在等待接收文件")));
    const auto make = [](const QString& path, const QByteArray& content) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        ASSERT_TRUE(WriteFile(path, content));
    };

    // The folder is named relative to the sender's working folder, which is `home`.
    const QString photos = home.path() + QStringLiteral("/照片");
    make(photos + QStringLiteral("/2026/春节/a.bin"), Pattern(3 * 1024 * 1024 + 5, 1));
    make(photos + QStringLiteral("/2026/春节/喆堃.txt"), QByteArray("gbk"));
    make(photos + QStringLiteral("/b 空格.txt"), Pattern(70000, 2));
    make(photos + QStringLiteral("/空文件"), QByteArray());
    ASSERT_TRUE(QDir().mkpath(photos + QStringLiteral("/2026/空")));
    ASSERT_TRUE(QDir().mkpath(photos + QStringLiteral("/空的")));
    const QString single = MakeFile(QStringLiteral("说明.txt"), Pattern(1000, 3));
    {
        auto send = Run(kCallerAddress, {QStringLiteral("send"), kAnswererAddress,
                                         QStringLiteral("照片/"), single});
        ASSERT_EQ(send->Finish(60000), 0) << qPrintable(send->Err());
        const QString summary = QStringLiteral("5 个文件夹, 5 个文件, 共 3.1 MB");
        EXPECT_TRUE(send->Err().startsWith(summary + QLatin1Char('\n'))) << qPrintable(send->Err());
        EXPECT_TRUE(send->Err().contains(QStringLiteral("5 个文件已成功发送到 127.0.0.3 。")))
            << qPrintable(send->Err());
        ASSERT_TRUE(receive->ErrorSays(QStringLiteral("已从 小刚 接收 5 个文件 (共 3.1 MB) 到 ") +
                                       received.path()))
            << qPrintable(receive->Err());
        EXPECT_EQ(receive->Err().count(summary), 1) << qPrintable(receive->Err());
    }
    EXPECT_EQ(TreeListing(Received(QStringLiteral("照片"))), TreeListing(photos));
    EXPECT_EQ(ReadAll(Received(QStringLiteral("说明.txt"))), Pattern(1000, 3));

    const QString papers = files.path() + QStringLiteral("/资料");
    make(papers + QStringLiteral("/ok.txt"), Pattern(5000, 4));
    make(papers + QStringLiteral("/下/深.txt"), Pattern(6000, 5));
    ASSERT_EQ(::symlink("ok.txt", QFile::encodeName(papers + QStringLiteral("/link")).constData()),
              0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(papers + QStringLiteral("/下/fifo")).constData(), 0600),
              0);
    {
        auto send = Run(kCallerAddress, {QStringLiteral("send"), kAnswererAddress, papers});
        EXPECT_EQ(send->Finish(60000), 4) << qPrintable(send->Err());
        const QString err = send->Err();
        EXPECT_TRUE(err.contains(papers + QStringLiteral("/link (符号链接, 未发送)\n")))
            << qPrintable(err);
        EXPECT_TRUE(err.contains(papers + QStringLiteral("/下/fifo (不是普通文件, 未发送)\n")))
            << qPrintable(err);
        EXPECT_TRUE(err.contains(QStringLiteral("2 个文件已成功发送到 127.0.0.3 。")))
            << qPrintable(err);
        EXPECT_TRUE(err.endsWith(QStringLiteral("下列 2 项未发送:\n") + papers +
                                 QStringLiteral("/link\n") + papers + QStringLiteral("/下/fifo\n")))
            << qPrintable(err);
    }
    ASSERT_TRUE(receive->ErrorSays(QStringLiteral("已从 小刚 接收 2 个文件")))
        << qPrintable(receive->Err());
    QTemporaryDir expected;
    make(expected.filePath(QStringLiteral("ok.txt")), Pattern(5000, 4));
    make(expected.filePath(QStringLiteral("下/深.txt")), Pattern(6000, 5));
    EXPECT_EQ(TreeListing(Received(QStringLiteral("资料"))), TreeListing(expected.path()));
    receive->process().terminate();
    EXPECT_EQ(receive->Finish(), 0);
}

TEST_F(CommandLine, ReceiveNeedsThePortsAndRefusesAWrongCode) {
    {
        // A folder that is not there is a local file's failure, before any port is taken.
        auto receive = Run(kAnswererAddress, {QStringLiteral("receive"), QStringLiteral("--to"),
                                              received.filePath(QStringLiteral("none"))});
        EXPECT_EQ(receive->Finish(), 4);
        EXPECT_EQ(receive->Err(), QStringLiteral("无法自动接收文件:保存文件的位置不存在。\n"));
    }
    {
        TestPeer desktop{kAnswererAddress, QStringLiteral("小红")};
        ASSERT_TRUE(desktop.Start());
        auto receive = Run(kAnswererAddress, {QStringLiteral("receive")});
        EXPECT_EQ(receive->Finish(), 3);
        EXPECT_EQ(receive->Err(), QStringLiteral("Tolvex不能运行:端口已被其它程序使用。\n"));
    }

    auto receive =
        Run(kAnswererAddress, {QStringLiteral("receive"), QStringLiteral("--to"), received.path(),
                               QStringLiteral("--code"), QStringLiteral("芝麻开门")});
    ASSERT_TRUE(receive->ErrorSays(QStringLiteral("正在等待接收文件")));
    const QString path = MakeFile(QStringLiteral("c.bin"), Pattern(2000));
    auto wrong = Run(kCallerAddress, {QStringLiteral("send"), kAnswererAddress, path});
    EXPECT_EQ(wrong->Finish(), 1);
    EXPECT_TRUE(wrong->Err().contains(QStringLiteral("发送连接请求失败:验证码无效。")));
    auto right = Run(kCallerAddress, {QStringLiteral("send"), kAnswererAddress, path,
                                      QStringLiteral("--code"), QStringLiteral("芝麻开门")});
    EXPECT_EQ(right->Finish(), 0) << qPrintable(right->Err());
    EXPECT_EQ(ReadAll(Received(QStringLiteral("c.bin"))), Pattern(2000));
    receive->process().terminate();
    EXPECT_EQ(receive->Finish(), 0);
}

TEST_F(CommandLine, ChatsWithTheDesktopCopyUntilTheEndOfInput) {
    TestPeer desktop{kAnswererAddress, QStringLiteral("小红")};
    ASSERT_TRUE(desktop.Start());
    ChatAcceptWindow* accept = desktop.mainWindow->AcceptWindow();
    ASSERT_NE(accept, nullptr);

    auto chat = Run(kCallerAddress, {QStringLiteral("chat"), kAnswererAddress});
    ASSERT_TRUE(WaitUntil([&] { return desktop.session.activity.invitationWaiting(); }, 15000))
        << qPrintable(chat->Err());
    ClickButton(accept, QStringLiteral("cmdRecvQuery1"));
    ASSERT_TRUE(chat->ErrorSays(QStringLiteral("小红 进入聊天室...["))) << qPrintable(chat->Err());

    auto* input = accept->findChild<QTextEdit*>(QStringLiteral("txtChatText"));
    ASSERT_NE(input, nullptr);
    for (const QChar c : QStringLiteral("你好,小刚"))
        QTest::sendKeyEvent(QTest::Click, input, Qt::Key_unknown, QString(c), Qt::NoModifier);
    ClickButton(accept, QStringLiteral("cmdChatDo1"));
    ASSERT_TRUE(WaitUntil([&] { return chat->Out().contains(QStringLiteral("你好,小刚\n")); }))
        << qPrintable(chat->Out());
    EXPECT_TRUE(chat->Out().startsWith(QStringLiteral("小红 ")));

    chat->process().write(QStringLiteral("第一行\n\n第二行\n").toUtf8());
    auto* transcript = accept->findChild<QTextEdit*>(QStringLiteral("rtxChat"));
    ASSERT_NE(transcript, nullptr);
    ASSERT_TRUE(
        WaitUntil([&] { return transcript->toPlainText().contains(QStringLiteral("第二行")); }));
    EXPECT_TRUE(transcript->toPlainText().contains(QStringLiteral("小刚 ")));
    EXPECT_TRUE(transcript->toPlainText().contains(QStringLiteral("第一行")));

    chat->process().closeWriteChannel();
    EXPECT_EQ(chat->Finish(), 0) << qPrintable(chat->Err());
    ASSERT_TRUE(WaitUntil(
        [&] { return transcript->toPlainText().contains(QStringLiteral("小刚 已经离开聊天室")); }));
}

// A chat peer reduced to the protocol: its acceptance and first text leave in one write, and
// each line it receives is answered at once; the leave is answered by closing. Input that ends
// at once leaves while those answers are still on their way: all of them are printed.
TEST_F(CommandLine, ChatPrintsWhatArrivedBeforeItsInputEndedAndAWrongCodeIsARefusal) {
    LoopbackPeer answerer{kAnswererAddress, QStringLiteral("小红")};
    answerer.session.appFolder = files.path() + QLatin1Char('/');
    PeerLink link(PeerRole::ChatResponder, answerer.session.linkContext);
    const QString style = QStringLiteral("000000000") + QStringLiteral("9 ");
    int key = 0;
    QList<qsizetype> lengths;  // of the texts that came
    QObject::connect(
        &link, &PeerLink::MessageReceived, &link, [&](char16_t code, const QString& payload) {
            if (code == ProtocolCodes::ChatInvitation) {
                key = ParseInvitation(payload).value_or(ChatInvitation{}).key;
                link.socket().Send(
                    FrameControlMessage(BuildInvitationAccepted()) +
                    FrameControlMessage(BuildChatText(ProtocolCodes::ResponderText,
                                                      {style, QStringLiteral("随接受而来")}, key)));
            } else if (code == ProtocolCodes::InitiatorText) {
                const auto text = ParseChatText(payload, key);
                lengths << (text ? text->text.size() : -1);
                if (lengths.size() > 2)
                    return;
                link.Send(BuildChatText(
                    ProtocolCodes::ResponderText,
                    {style, QStringLiteral("回复 ") + (text ? text->text : QString())}, key));
            } else if (code == ProtocolCodes::InitiatorLeaves) {
                link.Reset();
            }
        });
    ASSERT_EQ(link.Listen(), SocketError::None);

    auto chat = Run(kCallerAddress, {QStringLiteral("chat"), kAnswererAddress});
    // A line longer than the peer's input box holds goes as several texts.
    chat->process().write("a\nb\n" + QByteArray(5000, 'x') + "\n");
    chat->process().closeWriteChannel();
    ASSERT_EQ(chat->Finish(), 0) << qPrintable(chat->Err());
    const QString out = chat->Out();
    EXPECT_TRUE(out.contains(QStringLiteral("\n随接受而来\n"))) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("\n回复 a\n"))) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("\n回复 b\n"))) << qPrintable(out);
    EXPECT_TRUE(chat->Err().contains(QStringLiteral("小红 进入聊天室...[")));
    EXPECT_EQ(lengths, (QList<qsizetype>{1, 1, kMaxChatTextLength, 5000 - kMaxChatTextLength}));

    // A copy that asks for a code: none, or a wrong one, is refused as with send.
    answerer.session.settings.passWord2 = Digest(QStringLiteral("芝麻开门"));
    for (const QStringList& code :
         {QStringList{}, QStringList{QStringLiteral("--code"), QStringLiteral("芝麻关门")}}) {
        auto refused =
            Run(kCallerAddress, QStringList{QStringLiteral("chat"), kAnswererAddress} + code);
        EXPECT_EQ(refused->Finish(), 1) << qPrintable(refused->Err());
        EXPECT_TRUE(refused->Err().contains(QStringLiteral("验证码无效")))
            << qPrintable(refused->Err());
    }
}

// A peer's chat text with quotes, backslashes, control and format characters and half a
// surrogate pair stays one line of JSON text; this side's lines are events too.
TEST_F(CommandLine, JsonChatKeepsThePeersTextAsTextOnOneLine) {
    LoopbackPeer answerer{kAnswererAddress, QStringLiteral("小红")};
    answerer.session.appFolder = files.path() + QLatin1Char('/');
    PeerLink link(PeerRole::ChatResponder, answerer.session.linkContext);
    const QString style = QStringLiteral("000000000") + QStringLiteral("9 ");
    const QChar lone(0xd800);
    const QString hostile = QStringLiteral("\"引号\" \\反斜杠\\ \x01\x1b[2J\x7f") + QChar(0x85) +
                            QChar(0x9b) + QChar(0x202e) + QStringLiteral("txt.exe") +
                            QChar(0x2028) + QStringLiteral("下一行") + lone;
    int key = 0;
    QObject::connect(
        &link, &PeerLink::MessageReceived, &link, [&](char16_t code, const QString& payload) {
            if (code == ProtocolCodes::ChatInvitation) {
                key = ParseInvitation(payload).value_or(ChatInvitation{}).key;
                link.socket().Send(FrameControlMessage(BuildInvitationAccepted()) +
                                   FrameControlMessage(BuildChatText(ProtocolCodes::ResponderText,
                                                                     {style, hostile}, key)));
            } else if (code == ProtocolCodes::InitiatorLeaves) {
                link.Reset();
            }
        });
    ASSERT_EQ(link.Listen(), SocketError::None);

    auto chat =
        Run(kCallerAddress, {QStringLiteral("chat"), kAnswererAddress, QStringLiteral("--json")});
    ASSERT_TRUE(WaitUntil([&] { return chat->Out().contains("\"peer\",\"nick\""); }))
        << qPrintable(chat->Err());
    chat->process().write(QStringLiteral("你好\n").toUtf8());
    chat->process().closeWriteChannel();
    ASSERT_EQ(chat->Finish(), 0) << qPrintable(chat->Err());
    const QList<QJsonObject> events = JsonEvents("chat", chat->OutBytes());
    EXPECT_EQ(EventNames(events), (QStringList{"connected", "line", "end"}))
        << chat->OutBytes().constData();
    EXPECT_EQ(chat->OutBytes().count('\n'), events.size());
    EXPECT_EQ(Named(events, "connected").value(0).value("nick").toString(), QStringLiteral("小红"));
    const QList<QJsonObject> lines = Named(events, "line");
    ASSERT_EQ(lines.size(), 2) << chat->OutBytes().constData();
    EXPECT_EQ(lines[0].value("from").toString(), QStringLiteral("peer"));
    EXPECT_EQ(lines[0].value("nick").toString(), QStringLiteral("小红"));
    QString shown = hostile;
    shown.back() = QChar::ReplacementCharacter;
    EXPECT_EQ(lines[0].value("text").toString(), shown);
    EXPECT_EQ(lines[1].value("from").toString(), QStringLiteral("me"));
    EXPECT_EQ(lines[1].value("nick").toString(), QStringLiteral("小刚"));
    EXPECT_EQ(lines[1].value("text").toString(), QStringLiteral("你好"));
    EXPECT_EQ(events.last().value("outcome").toString(), QStringLiteral("left"));
    EXPECT_EQ(events.last().value("status").toInt(), 0);
    // The human lines are on standard error, the peer's text there made harmless.
    EXPECT_TRUE(chat->Err().contains(QStringLiteral("小红 进入聊天室...[")));
}

TEST_F(CommandLine, PeersListsTheOtherCopiesBesideADesktopCopyOnItsOwnAddress) {
    TestPeer same{kCallerAddress, QStringLiteral("同址")};
    TestPeer second{kAnswererAddress, QStringLiteral("小红")};
    TestPeer third{QStringLiteral("127.0.0.4"), QStringLiteral("小兰")};
    for (TestPeer* copy : {&same, &second, &third}) {
        copy->session.presenceDestinations = PresenceDestinations(copy->session.localAddress);
        ASSERT_TRUE(copy->Start());
    }
    auto peers = Run(kCallerAddress,
                     {QStringLiteral("peers"), QStringLiteral("--wait"), QStringLiteral("1.5")});
    ASSERT_EQ(peers->Finish(), 0) << qPrintable(peers->Err());
    const QStringList lines = peers->Out().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << qPrintable(peers->Out());
    EXPECT_EQ(lines[0].section(QLatin1Char('\t'), 0, 0), QStringLiteral("小红"));
    EXPECT_EQ(lines[0].section(QLatin1Char('\t'), 2), QStringLiteral("127.0.0.3"));
    EXPECT_EQ(DecodeAddressCode(lines[0].section(QLatin1Char('\t'), 1, 1)),
              QStringLiteral("127.0.0.3"));
    EXPECT_EQ(lines[1].section(QLatin1Char('\t'), 0, 0), QStringLiteral("小兰"));
    EXPECT_EQ(lines[1].section(QLatin1Char('\t'), 2), QStringLiteral("127.0.0.4"));

    // It only asks: a fresh home (settings, data folder) and a given data folder stay empty.
    QTemporaryDir fresh;
    for (const QStringList& data :
         {QStringList{}, QStringList{QStringLiteral("--data-dir"), fresh.path() + "/data-dir"}}) {
        Cli asker(fresh.path(), QStringList{QStringLiteral("--address"), kCallerAddress} + data +
                                    QStringList{QStringLiteral("peers"), QStringLiteral("--wait"),
                                                QStringLiteral("0.2")});
        EXPECT_EQ(asker.Finish(), 0) << qPrintable(asker.Err());
        EXPECT_EQ(
            QDir(fresh.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList());
    }
}

TEST_F(CommandLine, PeersJsonGivesOneObjectPerPeerAndTheCount) {
    TestPeer second{kAnswererAddress, QStringLiteral("小红")};
    TestPeer third{QStringLiteral("127.0.0.4"), QStringLiteral("小兰")};
    for (TestPeer* copy : {&second, &third}) {
        copy->session.presenceDestinations = PresenceDestinations(copy->session.localAddress);
        ASSERT_TRUE(copy->Start());
    }
    auto json = Run(kCallerAddress, {QStringLiteral("peers"), QStringLiteral("--wait"),
                                     QStringLiteral("1.5"), QStringLiteral("--json")});
    ASSERT_EQ(json->Finish(), 0) << qPrintable(json->Err());
    const QList<QJsonObject> events = JsonEvents("peers", json->OutBytes());
    ASSERT_EQ(events.size(), 3) << json->OutBytes().constData();
    EXPECT_EQ(events[0].value("nick").toString(), QStringLiteral("小红"));
    EXPECT_EQ(events[0].value("address").toString(), QStringLiteral("127.0.0.3"));
    EXPECT_EQ(DecodeAddressCode(events[0].value("tvx").toString()), QStringLiteral("127.0.0.3"));
    for (const char* port : {"fileControl", "fileData", "chat"})
        EXPECT_TRUE(events[0].value("ports").toObject().value(port).isDouble()) << port;
    EXPECT_EQ(events[1].value("address").toString(), QStringLiteral("127.0.0.4"));
    EXPECT_EQ(events[2].value("event").toString(), QStringLiteral("end"));
    EXPECT_EQ(events[2].value("count").toInt(), 2);
}

// The desktop program (no command word) ends on SIGTERM as "退出" does: status 0, its goodbye on
// the presence port, and the file it was receiving automatically keeps its temporary file.
TEST_F(CommandLine, TheDesktopProgramEndsOnSigtermWithItsGoodbye) {
    QUdpSocket listener;
    ASSERT_TRUE(listener.bind(QHostAddress(kAnswererAddress), PresencePort()));
    QList<PresenceKind> heard;
    QObject::connect(&listener, &QUdpSocket::readyRead, &listener, [&] {
        while (listener.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = listener.receiveDatagram(4096);
            const auto message = ParsePresenceDatagram(datagram.data());
            if (message && datagram.senderAddress() == QHostAddress(kCallerAddress))
                heard << message->kind;
        }
    });
    {
        QSettings ini(home.path() + QStringLiteral("/config/Kestrane/Kestrane.ini"),
                      QSettings::IniFormat);
        ini.beginGroup(QStringLiteral("Settings"));
        ini.setValue(QStringLiteral("AutoRecvFile"), QStringLiteral("1"));
        ini.setValue(QStringLiteral("AutoSavePath"), received.path());
    }
    Cli desktop(home.path(),
                {QStringLiteral("--address"), kCallerAddress, QStringLiteral("--data-dir"),
                 home.path() + QStringLiteral("/data-dir")},
                true);
    ASSERT_TRUE(WaitUntil([&] { return heard.contains(PresenceKind::Announce); }, 20000))
        << qPrintable(desktop.Err());

    // A file on its way in, its sender frozen halfway.
    const QString path = MakeFile(QStringLiteral("big.bin"), Pattern(32 * 1024 * 1024, 5));
    const QString held = Received(QStringLiteral("big.bin.tvx"));
    Cli send(files.path(), {QStringLiteral("--address"), kAnswererAddress, QStringLiteral("send"),
                            kCallerAddress, path});
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(held); }, 20000)) << qPrintable(send.Err());
    ::kill(pid_t(send.process().processId()), SIGSTOP);

    desktop.process().terminate();
    EXPECT_EQ(desktop.Finish(10000), 0) << qPrintable(desktop.Err());
    EXPECT_TRUE(WaitUntil([&] { return heard.contains(PresenceKind::Goodbye); }, 2000));
    EXPECT_TRUE(QFile::exists(held));
    send.process().kill();
}

// A terminal, where the bar is redrawn in place: the sender runs in a tmux pane and the pane
// keeps a single bar line that ends at 100%.
TEST_F(CommandLine, OnATerminalTheBarIsOneLineRedrawnInPlace) {
    const QString tmux = QStandardPaths::findExecutable(QStringLiteral("tmux"));
    if (tmux.isEmpty())
        GTEST_SKIP() << "tmux is not installed";
    auto receive =
        Run(kAnswererAddress, {QStringLiteral("receive"), QStringLiteral("--to"), received.path()});
    ASSERT_TRUE(receive->ErrorSays(QStringLiteral("正在等待接收文件")));
    const QString path = MakeFile(QStringLiteral("tty.bin"), Pattern(24 * 1024 * 1024, 1));

    const QString server =
        QStringLiteral("tolvex-cli-test-%1").arg(QCoreApplication::applicationPid());
    const QString done = files.path() + QStringLiteral("/done");
    auto tmuxRun = [&](const QStringList& arguments) {
        QProcess process;
        process.start(tmux, QStringList{QStringLiteral("-L"), server} + arguments);
        EXPECT_TRUE(process.waitForFinished(10000));
        return QString::fromUtf8(process.readAllStandardOutput());
    };
    const QString command =
        QStringLiteral(
            "HOME=%1 XDG_CONFIG_HOME=%1/config XDG_DATA_HOME=%1/data LANG=C.UTF-8 "
            "'%2' --address 127.0.0.2 send 127.0.0.3 '%3'; echo $? > '%4'; sleep 60")
            .arg(home.path(), QStringLiteral(TOLVEX_BINARY), path, done);
    tmuxRun({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-x"),
             QStringLiteral("150"), QStringLiteral("-y"), QStringLiteral("20"), command});
    const bool ended =
        WaitUntil([&] { return QFile::exists(done) && QFileInfo(done).size() > 0; }, 60000);
    const QString screen = tmuxRun({QStringLiteral("capture-pane"), QStringLiteral("-p")});
    tmuxRun({QStringLiteral("kill-server")});
    ASSERT_TRUE(ended) << qPrintable(screen);
    EXPECT_EQ(ReadAll(done).trimmed(), QByteArray("0"));
    const QStringList bars = screen.split(QLatin1Char('\n')).filter(QStringLiteral("tty.bin ["));
    ASSERT_EQ(bars.size(), 1) << qPrintable(screen);
    EXPECT_TRUE(
        bars[0].startsWith(QStringLiteral("tty.bin [########################] 100%  24.0 MB")))
        << qPrintable(screen);
    EXPECT_TRUE(screen.contains(QStringLiteral("文件已成功发送到 127.0.0.3 。")));
    receive->process().terminate();
    EXPECT_EQ(receive->Finish(), 0);
}

}  // namespace
}  // namespace tvx::test

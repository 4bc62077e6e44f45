#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <csignal>

#include "platform/System.h"
#include "records/HistoryLog.h"
#include "session/Session.h"
#include "support/Fakes.h"

namespace tvx::test {
namespace {

// The log's pieces, written out here on their own so that a slip in the program's copy shows.
const QString kHeader = QStringLiteral(
    "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
    "charset=gb2312\">\r\n<title>Tolvex历史记录</title>\r\n<style type=\"text/css\">\r\nbody "
    "{background-color: #666666;}\r\n.CS1 {font-size: 9pt;letter-spacing: "
    "2px;}\r\n</style></head>\r\n<body>\r\n");
const QString kOpening = QStringLiteral(
    "<table width=\"90%\" align=\"center\" border=\"0\" cellpadding=\"0\" "
    "cellspacing=\"0\">\r\n    <tr>\r\n    <td height=4 colspan=\"2\" "
    "bgcolor=\"COLOUR\"></td>\r\n    </tr>\r\n  <tr>\r\n    <td align=\"center\"><table "
    "width=\"100%\" border=\"0\" cellpadding=\"6\" cellspacing=\"1\" bgcolor=\"#CCCCCC\" "
    "class=\"CS1\">\r\n");
const QString kRowHead = QStringLiteral(
    "  <tr>\r\n    <td width=\"20%\" bgcolor=\"#F2F2F2\" align=\"center\"><table "
    "width=\"120\" border=\"0\" align=\"center\" cellpadding=\"0\" cellspacing=\"0\" "
    "class=\"CS1\">\r\n      <tr>\r\n        <td align=\"center\">");
const QString kShortEnd = QStringLiteral(
    "</td>\r\n      </tr></table></td>\r\n    <td width=\"80%\" bgcolor=\"#FFFFFF\">");
const QString kLongEnd = QStringLiteral(
    "</td>\r\n      </tr>\r\n    </table></td>\r\n    <td width=\"80%\" bgcolor=\"#FFFFFF\">");
const QString kRowTail = QStringLiteral("</td>\r\n  </tr>\r\n");
const QString kClosing = QStringLiteral("</table>\r\n</td>\r\n  </tr>\r\n</table><br>");
const QString kWarning =
    QStringLiteral("本地写入历史文件时发生错误,此次连接事件不会被记录。\r\n\r\n");

const QString kBlue = QStringLiteral("#0080FF");
const QString kOrange = QStringLiteral("#FF8000");

// An entry from alternating labels and values.
QString Expected(const QString& colour, const QStringList& cells) {
    QString text = QString(kOpening).replace(QStringLiteral("COLOUR"), colour);
    for (int i = 0; i + 1 < cells.size(); i += 2) {
        text += kRowHead + cells[i] + (i < 4 ? kShortEnd : kLongEnd) + cells[i + 1] + kRowTail;
    }
    return text + kClosing;
}

const QString kNow = QStringLiteral("2007/3/5 8:04:09");
const QStringList kSentValues = {
    "192.168.1.20", "报告.doc", "Word 文档", "1.5 MB (1,572,864 字节)", "2007-03-05 08:04:09", ""};

QString SentEntry(const QString& now) {
    return Expected(
        kBlue, {"事件类型", "发送文件", "发送时间", now, "接收地址", "192.168.1.20", "文件名称",
                "<strong>报告.doc</strong>", "文件类型", "Word 文档", "文件大小",
                "1.5 MB (1,572,864 字节)", "修改时间", "2007-03-05 08:04:09", "附言", ""});
}

TEST(LogEntryText, EachKindIsAssembledFromThePiecesInRowOrder) {
    EXPECT_EQ(BuildLogEntry(LogEvent::FileSent, kNow, kSentValues), SentEntry(kNow));
    // A received note of spaces and an empty invitation text show as "(无)".
    EXPECT_EQ(
        BuildLogEntry(LogEvent::FileReceived, kNow,
                      {"小明", "NVSSWFDSEN", "a.txt", "文本文档", "512 字节", "3月5日", "  "}),
        Expected(kOrange,
                 {"事件类型", "收到文件", "到达时间", kNow, "发送用户", "小明", "发送地址",
                  "NVSSWFDSEN", "文件名称", "<strong>a.txt</strong>", "文件类型", "文本文档",
                  "文件大小", "512 字节", "修改时间", "3月5日", "附言", "(无)"}));
    EXPECT_EQ(BuildLogEntry(LogEvent::ChatSent, kNow, {"nvsswfdsen", "你好"}),
              Expected(kBlue, {"事件类型", "发送邀请", "发送时间", kNow, "接收地址", "nvsswfdsen",
                               "附言", "你好"}));
    EXPECT_EQ(BuildLogEntry(LogEvent::ChatReceived, kNow, {"Bob", "XXEEEXEEEF", ""}),
              Expected(kOrange, {"事件类型", "收到邀请", "到达时间", kNow, "发送用户", "Bob",
                                 "发送地址", "XXEEEXEEEF", "附言", "(无)"}));
}

TEST(LogEntryText, ValuesGoInAsTheyAre) {
    // Readers of the log rely on the values standing unescaped, as the old files have them.
    const QString entry =
        BuildLogEntry(LogEvent::ChatReceived, kNow, {"<b>小明</b>", "XXEEEXEEEF", "a & b <i>"});
    EXPECT_TRUE(entry.contains(QStringLiteral("<b>小明</b>")));
    EXPECT_TRUE(entry.contains(QStringLiteral("a & b <i>")));
}

TEST(LogEntryText, TimeIsShortDateAndLongTimeWithoutZone) {
    const QDateTime now(QDate(2007, 3, 5), QTime(8, 4, 9));
    EXPECT_EQ(LogTimeText(now, QLocale(QStringLiteral("zh_CN"))),
              QStringLiteral("2007/3/5 08:04:09"));
    EXPECT_EQ(LogTimeText(now, QLocale(QStringLiteral("en_US"))),
              QStringLiteral("3/5/07 8:04:09 AM"));
}

class HistoryLog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        session.appFolder = dir.path() + QLatin1Char('/');
        session.settings.useLogFile = true;
        session.settings.logFileSize = 1;
    }

    QString LogPath() const { return session.appFolder + kLogFileName; }
    QByteArray LogBytes() const {
        QFile file(LogPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void WriteLog(const QByteArray& bytes) {
        QFile file(LogPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QByteArray EntryBytes() const {
        return ToAnsi(SentEntry(LogTimeText(fake.system->now)) + QStringLiteral("\r\n"));
    }
    bool Append() { return AppendLogEntry(session, &owner, LogEvent::FileSent, kSentValues); }

    QTemporaryDir dir;
    FakePlatform fake;
    Session session{fake.platform};
    QWidget owner;
};

TEST_F(HistoryLog, FirstEntryCarriesTheHeaderAndLaterOnesDoNot) {
    ASSERT_TRUE(Append());
    const QByteArray first = ToAnsi(kHeader) + EntryBytes();
    EXPECT_EQ(LogBytes(), first);

    ASSERT_TRUE(Append());
    EXPECT_EQ(LogBytes(), first + EntryBytes());
    EXPECT_TRUE(fake.messageBox->shown.isEmpty());
}

TEST_F(HistoryLog, EmptyOrFullFilesStartAfreshOthersAreAppendedTo) {
    WriteLog(QByteArray());
    ASSERT_TRUE(Append());
    EXPECT_EQ(LogBytes(), ToAnsi(kHeader) + EntryBytes());

    WriteLog(QByteArray(1048575, 'x'));
    ASSERT_TRUE(Append());
    EXPECT_EQ(LogBytes(), QByteArray(1048575, 'x') + EntryBytes());

    WriteLog(QByteArray(1048576, 'x'));
    ASSERT_TRUE(Append());
    EXPECT_EQ(LogBytes(), ToAnsi(kHeader) + EntryBytes());
}

TEST_F(HistoryLog, SwitchedOffItTouchesNothing) {
    session.settings.useLogFile = false;
    ASSERT_TRUE(Append());
    EXPECT_FALSE(QFile::exists(LogPath()));

    WriteLog(QByteArray(1048576, 'x'));
    ASSERT_TRUE(Append());
    EXPECT_EQ(LogBytes(), QByteArray(1048576, 'x'));
}

// The tests run as root, whom file permissions do not stop; a folder in the log's place makes
// the open fail the same way a read-only log would.
TEST_F(HistoryLog, AnUnwritableLogWarnsAndTheEventGoesOn) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(kLogFileName));
    EXPECT_FALSE(Append());
    ASSERT_EQ(fake.messageBox->shown.size(), 1);
    const auto& box = fake.messageBox->shown.first();
    EXPECT_TRUE(box.text.startsWith(kWarning));
    EXPECT_GT(box.text.size(), kWarning.size());  // the platform's description follows
    EXPECT_EQ(box.title, QStringLiteral("警告"));
    EXPECT_EQ(box.owner, &owner);
    EXPECT_EQ(box.style, MessageStyleOf(MessageKind::Warning));
}

// A write that stops part-way (here at the file-size limit of the process) must not leave half
// an entry behind.
TEST_F(HistoryLog, AWriteCutShortLeavesTheLogAsItWas) {
    const QByteArray before = ToAnsi(kHeader) + EntryBytes();
    WriteLog(before);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(before.size() + 100);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    const bool written = Append();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(LogBytes(), before);
    ASSERT_EQ(fake.messageBox->shown.size(), 1);
    EXPECT_TRUE(fake.messageBox->shown.first().text.startsWith(kWarning));
}

TEST_F(HistoryLog, ViewingOpensTheLogOrSaysThereIsNone) {
    ViewHistoryLog(session, &owner);
    ASSERT_EQ(fake.messageBox->shown.size(), 1);
    EXPECT_EQ(fake.messageBox->shown.first().text, QStringLiteral("暂时没有历史记录。"));
    EXPECT_EQ(fake.messageBox->shown.first().style, MessageStyleOf(MessageKind::Info));
    EXPECT_TRUE(fake.shell->opened.isEmpty());

    ASSERT_TRUE(Append());
    ViewHistoryLog(session, &owner);
    EXPECT_EQ(fake.shell->opened, QStringList{LogPath()});
    EXPECT_EQ(fake.messageBox->shown.size(), 1);
}

}  // namespace
}  // namespace tvx::test

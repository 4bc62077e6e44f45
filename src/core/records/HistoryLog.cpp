#include "records/HistoryLog.h"

#include <QFile>
#include <QFileInfo>
#include <limits>

#include "common/Format.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "common/ShellRoutines.h"
#include "common/Text.h"
#include "platform/System.h"
#include "session/Session.h"
#include "texts/BatchTexts.h"

namespace tvx {

const QString kLogFileName = QStringLiteral("LogFile.htm");

namespace {

const QString kWriteFailed = QStringLiteral("本地写入历史文件时发生错误,此次连接事件不会被记录。");

// The pieces every entry is assembled from.
const QString kOpeningTemplate = QStringLiteral(
    "<table width=\"90%\" align=\"center\" border=\"0\" cellpadding=\"0\" cellspacing=\"0\">\r\n"
    "    <tr>\r\n"
    "    <td height=4 colspan=\"2\" bgcolor=\"%COLOUR%\"></td>\r\n"
    "    </tr>\r\n"
    "  <tr>\r\n"
    "    <td align=\"center\"><table width=\"100%\" border=\"0\" cellpadding=\"6\" "
    "cellspacing=\"1\" bgcolor=\"#CCCCCC\" class=\"CS1\">\r\n");
const QString kBlue = QStringLiteral("#0080FF");
const QString kOrange = QStringLiteral("#FF8000");
const QString kRowHead = QStringLiteral(
    "  <tr>\r\n"
    "    <td width=\"20%\" bgcolor=\"#F2F2F2\" align=\"center\"><table width=\"120\" "
    "border=\"0\" align=\"center\" cellpadding=\"0\" cellspacing=\"0\" class=\"CS1\">\r\n"
    "      <tr>\r\n"
    "        <td align=\"center\">");
const QString kLabelEndShort = QStringLiteral(
    "</td>\r\n"
    "      </tr></table></td>\r\n"
    "    <td width=\"80%\" bgcolor=\"#FFFFFF\">");
const QString kLabelEndLong = QStringLiteral(
    "</td>\r\n"
    "      </tr>\r\n"
    "    </table></td>\r\n"
    "    <td width=\"80%\" bgcolor=\"#FFFFFF\">");
const QString kRowTail = QStringLiteral("</td>\r\n  </tr>\r\n");
const QString kClosing = QStringLiteral("</table>\r\n</td>\r\n  </tr>\r\n</table><br>");

// When a note row shows "(无)" instead of its value.
enum class NoteRule { AsTyped, EmptyIsNone, BlankIsNone };

struct EntryLayout {
    QString colour;
    QString eventName;
    QString timeLabel;
    QStringList labels;  // rows after the time
    int fileNameRow;     // index into labels, or -1
    int noteRow;         // index into labels
    NoteRule noteRule;
};

EntryLayout LayoutOf(LogEvent kind) {
    const QString sentAt = QStringLiteral("发送时间");
    const QString arrivedAt = QStringLiteral("到达时间");
    const QString target = QStringLiteral("接收地址");
    const QString user = QStringLiteral("发送用户");
    const QString sender = QStringLiteral("发送地址");
    const QString note = QStringLiteral("附言");
    const QStringList fileRows = {QStringLiteral("文件名称"), QStringLiteral("文件类型"),
                                  QStringLiteral("文件大小"), QStringLiteral("修改时间")};
    switch (kind) {
        case LogEvent::FileSent:
            return {kBlue,
                    QStringLiteral("发送文件"),
                    sentAt,
                    QStringList{target} + fileRows + QStringList{note},
                    1,
                    5,
                    NoteRule::AsTyped};
        case LogEvent::FileReceived:
            return {kOrange,
                    QStringLiteral("收到文件"),
                    arrivedAt,
                    QStringList{user, sender} + fileRows + QStringList{note},
                    2,
                    6,
                    NoteRule::BlankIsNone};
        case LogEvent::ChatSent:
            return {kBlue, QStringLiteral("发送邀请"), sentAt, {target, note}, -1,
                    1,     NoteRule::AsTyped};
        case LogEvent::ChatReceived:
            break;
    }
    return {kOrange, QStringLiteral("收到邀请"), arrivedAt, {user, sender, note}, -1,
            2,       NoteRule::EmptyIsNone};
}

QString Row(int number, const QString& label, const QString& value) {
    return kRowHead + label + (number <= 2 ? kLabelEndShort : kLabelEndLong) + value + kRowTail;
}

// Writes the bytes at the end of the file. A write that fails part-way is cut off again, so
// that the log never keeps half an entry.
bool AppendBytes(const QString& path, const QByteArray& bytes, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    const qint64 before = file.size();
    if (file.write(bytes) == bytes.size())
        return true;
    *error = file.errorString();
    file.resize(before);
    return false;
}

}  // namespace

QString LogFileHeader() {
    return QStringLiteral(
        "<html>\r\n"
        "<head>\r\n"
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\r\n"
        "<title>Tolvex历史记录</title>\r\n"
        "<style type=\"text/css\">\r\n"
        "body {background-color: #666666;}\r\n"
        ".CS1 {font-size: 9pt;letter-spacing: 2px;}\r\n"
        "</style></head>\r\n"
        "<body>\r\n");
}

QString BuildLogEntry(LogEvent kind, const QString& now, const QStringList& values,
                      const QString& connection) {
    const EntryLayout layout = LayoutOf(kind);
    QString entry = QString(kOpeningTemplate).replace(QStringLiteral("%COLOUR%"), layout.colour);
    entry += Row(1, QStringLiteral("事件类型"), layout.eventName);
    entry += Row(2, layout.timeLabel, now);
    for (int i = 0; i < layout.labels.size(); ++i) {
        QString value = values.value(i);
        if (i == layout.noteRow) {
            const bool none =
                (layout.noteRule == NoteRule::EmptyIsNone && value.isEmpty()) ||
                (layout.noteRule == NoteRule::BlankIsNone && TrimSpaces(value).isEmpty());
            if (none)
                value = QStringLiteral("(无)");
        }
        if (i == layout.fileNameRow) {
            value = QStringLiteral("<strong>") + value + QStringLiteral("</strong>");
        }
        entry += Row(i + 3, layout.labels[i], value);
    }
    if (!connection.isEmpty())
        entry += Row(int(layout.labels.size()) + 3, QStringLiteral("连接"), connection);
    return entry + kClosing;
}

QStringList EscapedLogValues(const QStringList& values) {
    QStringList escaped;
    escaped.reserve(values.size());
    for (const QString& value : values)
        escaped << value.toHtmlEscaped();
    return escaped;
}

QString LogTimeText(const QDateTime& now, const QLocale& locale) {
    // Drop the zone letters ("t") outside quoted literals, then the space they leave.
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString timeFormat;
    bool quoted = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        timeFormat += c;
    }
    timeFormat = timeFormat.simplified();
    return locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(now.time(), timeFormat);
}

QString LogHeaderFor(const QString& path, int logFileSizeMb, QString* error) {
    if (error)
        error->clear();
    QFileInfo info(path);
    if (!info.exists() || !info.isFile() || info.size() == 0)
        return LogFileHeader();
    if (info.size() < qint64(logFileSizeMb) * 1048576)
        return QString();
    // The log has reached its limit: the whole file goes and the next entry starts afresh.
    QFile file(path);
    if (file.remove())
        return LogFileHeader();
    if (error)
        *error = file.errorString();
    return QString();
}

QString AppendLogEntryQuietly(Session& session, LogEvent kind, const QStringList& values,
                              const QString& connection) {
    if (!session.settings.useLogFile)
        return QString();
    const QString path = session.appFolder + kLogFileName;
    const QString entry = BuildLogEntry(kind, LogTimeText(session.system().Now()),
                                        EscapedLogValues(values), connection.toHtmlEscaped());
    QString error;
    const QString start = LogHeaderFor(path, session.settings.logFileSize, &error);
    if (error.isEmpty() &&
        AppendBytes(path, ToAnsi(start + entry + QStringLiteral("\r\n")), &error)) {
        return QString();
    }
    return kWriteFailed + QStringLiteral("\r\n\r\n") + error;
}

bool AppendLogEntry(Session& session, QWidget* owner, LogEvent kind, const QStringList& values) {
    const QString warning = AppendLogEntryQuietly(session, kind, values);
    if (warning.isEmpty())
        return true;
    ShowMessage(session.messageBox(), owner, warning, MessageKind::Warning, false);
    return false;
}

QStringList FileSentLogValues(ShellService& shell, const QString& targetAddress,
                              const QString& filePath, const QString& note) {
    // The sender refuses files above 2147483647 bytes; the clamp only keeps the cast sound.
    const qint64 length = QFileInfo(filePath).size();
    const qint32 size = qint32(qMin<qint64>(length, std::numeric_limits<qint32>::max()));
    return {targetAddress,
            FileNameOf(filePath),
            GetFileTypeName(shell, filePath),
            FormatSizeWithBytes(size),
            FileTimeText(filePath),
            note};
}

QStringList BatchLogValues(const QStringList& peer, const QStringList& topNames, qint64 folders,
                           qint64 files, qint64 totalBytes, const QDateTime& when,
                           const QString& note) {
    return peer +
           QStringList{
               BatchTopNamesLine(topNames),
               BatchSummaryLine(folders, files, totalBytes).section(QStringLiteral(", 共 "), 0, 0),
               BatchSizeText(totalBytes) + QStringLiteral(" (") + GroupThousands(totalBytes) +
                   QStringLiteral(" 字节)"),
               when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), note};
}

void ViewHistoryLog(Session& session, QWidget* owner) {
    const QString path = session.appFolder + kLogFileName;
    if (FileExists(path)) {
        OpenOrWarn(session.shell(), session.messageBox(), owner, path);
        return;
    }
    ShowMessage(session.messageBox(), owner, QStringLiteral("暂时没有历史记录。"),
                MessageKind::Info, false);
}

}  // namespace tvx

#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

class QWidget;

namespace tvx {

class ShellService;
struct Session;

// The HTML history log in the program's folder: one entry per offer and invitation.
extern const QString kLogFileName;  // "LogFile.htm"

// The four kinds of entry. The values of an entry are its rows after the time, in row order:
//   FileSent:     target address as typed, file name, type name, size text, modified time, note
//   FileReceived: nickname, sender's TVX address, file name, type name, size text,
//                 modified time, note
//   ChatSent:     target address as typed, note
//   ChatReceived: nickname, inviter's TVX address, invitation text
// A missing value counts as empty; extra values are ignored.
enum class LogEvent { FileSent, FileReceived, ChatSent, ChatReceived };

// Written once at the start of every fresh log file.
QString LogFileHeader();

// The entry's text without the line break that follows it in the file. `now` fills the
// time row; values go in as they are given (AppendLogEntry gives them escaped). A connection
// line (an encrypted connection's, with the peer's fingerprint code) adds a last row "连接";
// entries of plain connections stay as they always were.
QString BuildLogEntry(LogEvent kind, const QString& now, const QStringList& values,
                      const QString& connection = QString());

// The values with "&", "<", ">" and '"' escaped for HTML: names, addresses, notes and file
// names come from peers and files, and must show as text in the browser, never run in it.
QStringList EscapedLogValues(const QStringList& values);

// Short date, a space and the long time of the locale, without the time zone that Qt's long
// time format carries (the log has always shown wall-clock time only).
QString LogTimeText(const QDateTime& now, const QLocale& locale = QLocale::system());

// The text to write before the next entry: the header when the file is missing or empty, or
// when it has reached logFileSizeMb MB (the file is then deleted); empty otherwise. When
// the file cannot be deleted, returns empty and sets error.
QString LogHeaderFor(const QString& path, int logFileSizeMb, QString* error = nullptr);

// Adds one entry, its values escaped, when UseLogFile is on. A failed write is reported to the
// user, owned by the writing window, and leaves the file as it was; the caller's event goes on in
// every case. False only after such a failure.
bool AppendLogEntry(Session& session, QWidget* owner, LogEvent kind, const QStringList& values);
// The same for owners without a window: the warning to show after a failed write, or empty.
QString AppendLogEntryQuietly(Session& session, LogEvent kind, const QStringList& values,
                              const QString& connection = QString());

// The values of a sent file offer, taken from the file itself.
QStringList FileSentLogValues(ShellService& shell, const QString& targetAddress,
                              const QString& filePath, const QString& note);

// The values of a batch, sent or received, as one entry: the peer (address typed, or nickname
// and TVX address), the top names, what it holds, its size, the time and the note.
QStringList BatchLogValues(const QStringList& peer, const QStringList& topNames, qint64 folders,
                           qint64 files, qint64 totalBytes, const QDateTime& when,
                           const QString& note);

// Opens the log with the program associated with ".htm", or says there is none yet.
void ViewHistoryLog(Session& session, QWidget* owner);

}  // namespace tvx

#pragma once

#include <QElapsedTimer>
#include <QString>

#include "transfer/SendOutcome.h"
#include "transfer/TransferProgress.h"

namespace tvx {

// What the command line writes: the program's messages on standard error, results (chat
// lines, the peers found) on standard output. A progress line left open on a terminal is
// ended before a message, so a message never lands in the middle of the bar.
class TerminalOutput {
public:
    TerminalOutput();

    // Standard error is a terminal: progress is a bar redrawn in place.
    bool ErrorIsTerminal() const { return m_errorIsTerminal; }

    // A message with its "\r\n" line breaks, on its own line(s) of standard error.
    void Message(const QString& text);
    // A line of standard output.
    void Result(const QString& text);
    // Lines of standard output drawn by this program itself (the QR code), with its own colour
    // sequences: never text from a peer.
    void Picture(const QString& text);

    // --json: standard output carries only JSON lines (Json); results and pictures go to
    // standard error.
    void SetJson(bool on) { m_json = on; }
    // A JSON line, as JsonLine made it.
    void Json(const QByteArray& line);

    // Redraws the progress line in place (terminal only).
    void DrawProgressLine(const QString& text);
    // Ends an open progress line.
    void EndProgressLine();

private:
    void WriteError(const QByteArray& bytes);

    bool m_errorIsTerminal = false;
    bool m_progressLineOpen = false;
    bool m_json = false;
};

// One file's or one batch's progress on standard error. On a terminal a one-line bar
// (percentage, bytes of the total, speed, time left) is redrawn at most ten times a second and
// left standing at the end; otherwise one line is written when the transfer ends. A batch's
// bar begins with the file count and the file on its way, and counts the whole batch's bytes.
class TerminalProgress {
public:
    static constexpr int kRedrawMs = 100;
    static constexpr int kBarCells = 24;
    // Speed ticks in a row without a byte after which the bar shows no time left ("-").
    static constexpr int kStalledTicks = 3;

    explicit TerminalProgress(TerminalOutput& output) : m_output(output) {}

    void Begin(const QString& fileName);
    void Update(const TransferProgress& progress);
    void BeginBatch(const BatchProgress& batch);
    void Update(const TransferProgress& progress, const BatchProgress& batch);
    // The transfer ended, complete or not, where the last update left it; nothing when no
    // file had begun. (The engines reset their progress before they report the end.)
    void End();
    bool Active() const { return m_active; }

    // The bar's text for a file at the given progress.
    static QString BarLine(const QString& fileName, const TransferProgress& progress);
    // The bar's text for a batch: the count, the file on its way and the batch's bytes.
    static QString BatchBarLine(const BatchProgress& batch, const TransferProgress& progress);
    // The one line written per file when standard error is not a terminal.
    static QString SummaryLine(const QString& fileName, const TransferProgress& progress,
                               qint64 elapsedMs);

private:
    static QString Bar(const QString& label, const TransferProgress& progress);
    QString Line(const TransferProgress& progress) const;

    TerminalOutput& m_output;
    QString m_fileName;
    bool m_batch = false;
    BatchProgress m_lastBatch;
    bool m_active = false;
    QElapsedTimer m_started;
    QElapsedTimer m_drawn;
    TransferProgress m_last;
};

}  // namespace tvx

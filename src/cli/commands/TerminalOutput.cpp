#include "commands/TerminalOutput.h"

#include <unistd.h>

#include <cstdio>

#include "common/Format.h"
#include "texts/BatchTexts.h"

namespace tvx {

namespace {

// Names, notes and chat texts come from the peer: a control character among them could move
// the cursor or recolour the terminal, so each shows as "?". Line breaks and tabs stay.
QString Printable(const QString& text) {
    QString shown = text;
    for (QChar& ch : shown) {
        const char16_t code = ch.unicode();
        if ((code < 0x20 && code != u'\n' && code != u'\t') || (code >= 0x7F && code < 0xA0))
            ch = QLatin1Char('?');
    }
    return shown;
}

QByteArray LocalLines(const QString& text) {
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // The windows' blank lines between parts of a message are not kept on a terminal.
    while (lines.contains(QStringLiteral("\n\n")))
        lines.replace(QStringLiteral("\n\n"), QStringLiteral("\n"));
    return Printable(lines).toLocal8Bit();
}

// The name as the bar shows it: long names keep their beginning and end.
QString ShortName(const QString& name) {
    constexpr int kMax = 24;
    if (name.size() <= kMax)
        return name;
    return name.left(kMax / 2 - 1) + QStringLiteral("...") + name.right(kMax / 2 - 2);
}

// "72.4 MB / 286.1 MB": the bytes moved and the size of the file or the batch, which may pass
// 2 GB.
QString BytesOfTotal(const TransferProgress& progress) {
    return BatchSizeText(progress.Position()) + QStringLiteral(" / ") +
           BatchSizeText(progress.Total());
}

// The count and the file on its way, with the path shortened as a file's name is.
QString BatchLabel(const BatchProgress& batch) {
    BatchProgress shown = batch;
    shown.currentPath = ShortName(batch.currentPath);
    return BatchFileLine(shown);
}

}  // namespace

TerminalOutput::TerminalOutput() : m_errorIsTerminal(isatty(STDERR_FILENO) == 1) {}

void TerminalOutput::WriteError(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void TerminalOutput::Message(const QString& text) {
    EndProgressLine();
    WriteError(LocalLines(text) + '\n');
}

void TerminalOutput::Result(const QString& text) {
    if (m_json) {
        Message(text);
        return;
    }
    const QByteArray bytes = LocalLines(text) + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void TerminalOutput::Picture(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    if (m_json) {
        EndProgressLine();
        WriteError(bytes);
        return;
    }
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void TerminalOutput::Json(const QByteArray& line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

void TerminalOutput::DrawProgressLine(const QString& text) {
    // Back to the line's start, the new text, and the rest of the old one wiped.
    QString line = Printable(text);
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    WriteError('\r' + line.toLocal8Bit() + "\x1b[K");
    m_progressLineOpen = true;
}

void TerminalOutput::EndProgressLine() {
    if (!m_progressLineOpen)
        return;
    m_progressLineOpen = false;
    WriteError("\n");
}

QString TerminalProgress::BarLine(const QString& fileName, const TransferProgress& progress) {
    return Bar(ShortName(fileName), progress);
}

QString TerminalProgress::BatchBarLine(const BatchProgress& batch,
                                       const TransferProgress& progress) {
    return Bar(BatchLabel(batch), progress);
}

QString TerminalProgress::Bar(const QString& label, const TransferProgress& progress) {
    const int filled = qBound(0, int(progress.Fraction() * kBarCells), kBarCells);
    // The engines keep their last estimate through a stall; the bar shows none once nothing
    // has moved for a while, and nothing left at the end.
    const bool done = progress.Total() > 0 && progress.Position() >= progress.Total();
    const bool stalled = progress.StallTicks() >= kStalledTicks;
    const QString bar =
        QString(filled, QLatin1Char('#')) + QString(kBarCells - filled, QLatin1Char('-'));
    return label + QStringLiteral(" [") + bar + QStringLiteral("] ") +
           progress.PercentText().rightJustified(4) + QStringLiteral("  ") +
           BytesOfTotal(progress) + QStringLiteral("  ") + progress.SpeedText() +
           QStringLiteral("  剩余 ") +
           (done      ? FormatDuration(0)
            : stalled ? QStringLiteral("-")
                      : progress.RemainingText());
}

QString TerminalProgress::SummaryLine(const QString& fileName, const TransferProgress& progress,
                                      qint64 elapsedMs) {
    return fileName + QStringLiteral("  ") + progress.PercentText() + QStringLiteral("  ") +
           BytesOfTotal(progress) + QStringLiteral("  用时 ") +
           FormatDuration(qint32(elapsedMs / 1000));
}

QString TerminalProgress::Line(const TransferProgress& progress) const {
    return m_batch ? BatchBarLine(m_lastBatch, progress) : BarLine(m_fileName, progress);
}

void TerminalProgress::Begin(const QString& fileName) {
    m_fileName = fileName;
    m_batch = false;
    m_active = true;
    m_started.start();
    m_drawn.invalidate();
    m_last = TransferProgress();
}

void TerminalProgress::BeginBatch(const BatchProgress& batch) {
    // Files sent one by one each begin anew: the batch's bar and clock go on.
    m_lastBatch = batch;
    if (m_active && m_batch)
        return;
    Begin(QString());
    m_batch = true;
}

void TerminalProgress::Update(const TransferProgress& progress, const BatchProgress& batch) {
    if (m_active && m_batch)
        m_lastBatch = batch;
    Update(progress);
}

void TerminalProgress::Update(const TransferProgress& progress) {
    if (!m_active)
        return;
    m_last = progress;
    if (!m_output.ErrorIsTerminal())
        return;
    if (m_drawn.isValid() && m_drawn.elapsed() < kRedrawMs)
        return;
    m_drawn.start();
    m_output.DrawProgressLine(Line(progress));
}

void TerminalProgress::End() {
    if (!m_active)
        return;
    m_active = false;
    if (m_output.ErrorIsTerminal()) {
        m_output.DrawProgressLine(Line(m_last));
        m_output.EndProgressLine();
    } else {
        const QString name = m_batch ? BatchFileLine(m_lastBatch) : m_fileName;
        m_output.Message(SummaryLine(name, m_last, m_started.elapsed()));
    }
}

}  // namespace tvx

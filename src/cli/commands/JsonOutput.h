#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <functional>

#include "transfer/SendOutcome.h"
#include "transfer/TransferProgress.h"

namespace tvx {

class TerminalOutput;

// One object as one compact line of JSON, "\n" ended. Peers' text stays text: beyond JSON's
// own escapes, every control and format character (C1 controls, bidirectional overrides...)
// and U+2028/U+2029 are written as \uXXXX, and text that is not valid UTF-16 comes out as
// U+FFFD, so the line is valid UTF-8 with nothing in it a terminal would act on.
QByteArray JsonLine(const QJsonObject& object);

// The --json events of a command on standard output, each with "event" and "time" (UTC, in
// milliseconds). Off, it writes nothing.
class JsonEvents {
public:
    JsonEvents(TerminalOutput& output, bool on, std::function<QDateTime()> now)
        : m_output(output), m_on(on), m_now(std::move(now)) {}

    bool on() const { return m_on; }
    void Emit(const QString& event, QJsonObject fields = {}) const;

private:
    TerminalOutput& m_output;
    bool m_on;
    std::function<QDateTime()> m_now;
};

// [{"name": ..., "size": ...}] for files or a batch's files (folders left out).
QJsonArray FileList(const QList<BatchEntry>& entries);
QJsonObject FileObject(const QString& name, qint64 size);

// A transfer's "progress" events: at most one a second, and one when every byte is there.
class JsonProgress {
public:
    static constexpr int kIntervalMs = 1000;

    explicit JsonProgress(const JsonEvents& events) : m_events(events) {}

    // A transfer (or a batch) begins; once per transfer, not per retry.
    void Begin(qint64 position);
    void Update(const TransferProgress& progress);
    void Update(const TransferProgress& progress, const BatchProgress& batch);

private:
    void Emit(const TransferProgress& progress, const BatchProgress* batch);

    const JsonEvents& m_events;
    QElapsedTimer m_since;
    qint64 m_lastBytes = 0;
    bool m_fullTold = false;
};

}  // namespace tvx

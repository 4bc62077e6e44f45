#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "platform/Platform.h"

namespace tvx {

// The services of a copy that runs without a display, as the command line does: messages go
// to a text sink instead of a box, the shell only names types, and the window-only services
// (dialogs, tray, screen, notifications, start-up list) are absent. Settings and the machine's
// own facts are the desktop program's. Service discovery is the one the factory makes (the
// program hands in the desktop's), none without a factory.
using MessageSink = std::function<void(const QString& text)>;
std::unique_ptr<Platform> CreateHeadlessPlatform(MessageSink sink,
                                                 const ServiceDiscoveryFactory& discovery = {});

// Turns SIGINT and SIGTERM into a Qt signal, so that a long-running command ends through its
// event loop. Construct it before any thread starts: the two signals are blocked in this
// thread (and so in the threads started later) and read from a signalfd instead.
class StopSignals : public QObject {
    Q_OBJECT

public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;
    // Blocks the two signals in this thread and in the threads it starts later. A program
    // whose libraries start threads before it can construct StopSignals (the GUI) calls this
    // first thing; a signal that comes in between waits for the signalfd. (Programs started
    // through QProcess, as the desktop opens files, begin with an empty mask again.)
    static bool Block();
    bool IsWatching() const { return m_fd >= 0; }

signals:
    void StopRequested(int signalNumber);

private:
    int m_fd = -1;
};

}  // namespace tvx

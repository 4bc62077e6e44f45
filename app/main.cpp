#include <QApplication>
#include <QIcon>
#include <cstdio>

#include "commands/CommandLine.h"
#include "platform/AvahiDiscovery.h"
#include "platform/DesktopEntry.h"
#include "platform/DesktopPlatform.h"
#include "platform/Headless.h"
#include "session/Session.h"
#include "shell/MainWindow.h"
#include "shell/TrayPictures.h"
#include "startup/Language.h"
#include "startup/Startup.h"

int main(int argc, char** argv) {
    // Options are checked before anything opens a window or a display connection.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QString error;
    // A command (send, receive, chat, peers) runs without a display; none starts the desktop.
    tvx::CommandRequest command;
    if (!tvx::ParseCommandLine(arguments, command, error)) {
        std::fprintf(stderr, "tolvex: %s\n", qPrintable(error));
        return 2;
    }
    // The command line cannot name the desktop's service discovery; it is handed in here.
    if (command.kind != tvx::CommandRequest::Kind::Desktop)
        return tvx::RunCommand(command, argc, argv, [] {
            return std::unique_ptr<tvx::ServiceDiscovery>(
                std::make_unique<tvx::AvahiServiceDiscovery>());
        });

    const tvx::StartupOptions& options = command.startup;

    // Log-out, shutdown and kill send SIGTERM, a terminal's Ctrl-C SIGINT: either ends the
    // program as "退出" does. Blocked before Qt starts its threads, read through a signalfd.
    tvx::StopSignals::Block();

    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    app.setQuitOnLastWindowClosed(false);
    // Ties the windows and notifications to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(tvx::DesktopEntryId());
    QApplication::setWindowIcon(QIcon::fromTheme(tvx::DesktopEntryIcon(), tvx::TrayPicture(1)));
    tvx::UseChineseLanguage(app);

    tvx::StopSignals stop;
    // During start-up a stop closes the dialog or message shown and the program ends there.
    bool stopped = false;
    const QMetaObject::Connection duringStartup =
        QObject::connect(&stop, &tvx::StopSignals::StopRequested, &app, [&stopped] {
            stopped = true;
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        });

    auto platform = tvx::CreateDesktopPlatform();
    tvx::Session session(*platform);
    tvx::InstanceLock lock;
    tvx::StartupOutcome outcome = tvx::RunStartup(session, options, lock);
    if (outcome == tvx::StartupOutcome::UserExit)
        return 0;
    if (outcome != tvx::StartupOutcome::Running)
        return 1;
    if (stopped)
        return 0;
    QObject::disconnect(duringStartup);

    tvx::MainWindow mainWindow(session);
    QObject::connect(&mainWindow, &tvx::MainWindow::ProgramEnded, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    QObject::connect(&stop, &tvx::StopSignals::StopRequested, &mainWindow,
                     &tvx::MainWindow::EndProgram);
    if (!mainWindow.Start())
        return 1;
    return app.exec();
}

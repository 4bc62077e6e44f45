#pragma once

#include <QString>
#include <QStringList>

#include "platform/ServiceDiscovery.h"
#include "startup/Options.h"

namespace tvx {

// What a command reports as the process's exit status.
enum CommandStatus {
    StatusDone = 0,       // sent, received, the chat ended normally
    StatusRefused = 1,    // refused, cancelled or stopped by the peer
    StatusUsage = 2,      // bad usage or a bad address
    StatusNetwork = 3,    // no connection, time-out, port in use, connection lost
    StatusLocalFile = 4,  // a local file could not be read or written
};

// The command line as parsed: no command runs the desktop program with its own options.
struct CommandRequest {
    enum class Kind { Desktop, Help, Version, Send, Receive, Chat, Peers, Web, Doctor };
    Kind kind = Kind::Desktop;
    StartupOptions startup;  // --address and --data-dir, for every command

    QString peerAddress;  // send, chat, doctor: as typed
    QStringList paths;    // send: the files and folders, as typed
    QString note;         // send --note
    QString code;         // send, receive, chat --code
    bool codeGiven = false;
    int retries = 0;         // send --retry: further attempts after the first
    QString folder;          // receive, web --to (empty: the current folder)
    bool overwrite = false;  // receive --overwrite
    int waitMs = 2000;       // peers --wait
    QStringList shares;      // web --share FILE and further words: the files offered
    int port = 0;            // web --port (0: the page's own port)
    // send, receive, chat: --require-encryption, --accept-new-identity, --allow-plain
    bool requireEncryption = false;
    bool acceptNewIdentity = false;
    bool allowPlain = false;
    bool json = false;  // send, receive, chat, peers, web, doctor --json: events as JSON lines
};

// Parses the arguments after the program name, the desktop program's too (Kind::Desktop with
// its start-up options); false with a one-line reason on bad usage.
bool ParseCommandLine(const QStringList& arguments, CommandRequest& request, QString& error);

QString HelpText();
QString VersionText();

// Runs a command under a QCoreApplication (made here; no display is needed) and returns the
// exit status. argc and argv are the process's own.
int RunCommand(const CommandRequest& request, int argc, char** argv,
               const ServiceDiscoveryFactory& discovery = {});

}  // namespace tvx

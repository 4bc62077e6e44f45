#pragma once

#include "startup/CommandLine.h"

namespace tvx {

class StopSignals;
class TerminalOutput;
struct Session;

// What every command runs with: the headless session of the local address (the desktop
// program's card and settings), the output and the stop signals.
struct CommandContext {
    Session& session;
    TerminalOutput& output;
    StopSignals& stop;
};

int RunSendCommand(CommandContext& context, const CommandRequest& request);
int RunReceiveCommand(CommandContext& context, const CommandRequest& request);
int RunChatCommand(CommandContext& context, const CommandRequest& request);
int RunPeersCommand(CommandContext& context, const CommandRequest& request);

// The peer's dotted address for a typed IPv4 or TVX address, or empty after the message that
// the address box would have shown.
QString CheckCommandAddress(CommandContext& context, const QString& typed);

}  // namespace tvx

#pragma once

#include <QEventLoop>
#include <functional>
#include <utility>

#include "commands/CommandLine.h"

namespace tvx {

class JsonEvents;
class StopSignals;
class TerminalOutput;
struct Session;

// What every command runs with: the headless session of the local address (the desktop
// program's card and settings), the output and the stop signals.
struct CommandContext {
    Session& session;
    TerminalOutput& output;
    StopSignals& stop;
    const JsonEvents& json;  // --json events; off without the option
};

// The event loop a command waits in: the first Finish sets the exit status, runs the
// command's last step (the progress line's end) and ends the loop.
class CommandLoop : public QEventLoop {
public:
    explicit CommandLoop(int status, std::function<void()> lastStep = {})
        : status_(status), lastStep_(std::move(lastStep)) {}

    void Finish(int status) {
        if (finished_)
            return;
        finished_ = true;
        status_ = status;
        if (lastStep_)
            lastStep_();
        exit(status);
    }
    bool finished() const { return finished_; }
    // Waits unless the command has finished already; the exit status.
    int Run() {
        if (!finished_)
            exec();
        return status_;
    }

private:
    int status_;
    std::function<void()> lastStep_;
    bool finished_ = false;
};

int RunSendCommand(CommandContext& context, const CommandRequest& request);
int RunReceiveCommand(CommandContext& context, const CommandRequest& request);
int RunChatCommand(CommandContext& context, const CommandRequest& request);
int RunPeersCommand(CommandContext& context, const CommandRequest& request);
int RunWebCommand(CommandContext& context, const CommandRequest& request);
int RunDoctorCommand(CommandContext& context, const CommandRequest& request);

// The peer's dotted address for a typed IPv4 or TVX address, or empty after the message that
// the address box would have shown, with the address as typed in place of "请重新输入".
QString CheckCommandAddress(CommandContext& context, const QString& typed);
// "无效的IP或TVX地址:" and the address as typed.
QString BadAddressMessage(const QString& typed);

}  // namespace tvx

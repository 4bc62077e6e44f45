// The transfer benchmark: one random file sent over loopback from 127.0.0.2 to 127.0.0.3,
// alternating with a plain loopback copy of the same file, five times each, for four rows:
//
//   engines default   the sending and the receiving engine, each in a child process of this
//                     program, with the default buffers (512 KiB chunks);
//   engines 4 MB      the same with 4 MB send and receive buffers;
//   cli default       `tolvex send` to `tolvex receive --to` with the default buffers;
//   cli 4 MB          the same with 4 MB buffers.
//
// Each row prints the median speed of the transfers and of the plain copies, the ratio of the
// two medians, the highest peak resident memory (VmHWM) of the sender and of the receiver
// with its growth over the idle program, their CPU time and whether every copy was exact.
// The plain copy reads, sends, receives and writes with the same buffer size in two threads,
// with page-aligned buffers as the engines use: the floor that any transfer over loopback TCP
// pays. With --scrambling each alternation also times that copy scrambling on both sides as
// the engines do (the floor for any transfer that keeps this wire format), and each row gets
// a line with its median and the transfer's ratio to it.
//
// The batch rows (RunBatchRows) send folders with `tolvex send` to `tolvex receive`: many
// small files against `tar | socat` to `socat | tar`, four large files against the plain copy,
// and the peak memory of a batch of 100,000 entries.
//
//   tolvex_bench [--size BYTES|NNNM|NNNG] [--runs N] [--dir FOLDER] [--tolvex PROGRAM]
//                [--rows engines|cli|batch|all] [--scrambling]
//
// The command-line rows run PROGRAM; they are skipped with a line saying so when it does not
// take the send and receive commands (the batch rows also when socat or tar is missing).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "address/AddressCode.h"
#include "common/PageBuffer.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"
#include "platform/SettingsStore.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "protocol/PeerMessages.h"
#include "session/Session.h"
#include "texts/BatchTexts.h"
#include "texts/ReceiveTexts.h"
#include "texts/SendTexts.h"
#include "transfer/FileReceiveEngine.h"
#include "transfer/FileSendEngine.h"

extern char** environ;

namespace {

const QString kSenderAddress = QStringLiteral("127.0.0.2");
const QString kReceiverAddress = QStringLiteral("127.0.0.3");
constexpr qint64 kMegabyte = 1048576;
constexpr int kChildTimeoutMs = 300000;

// ---- Small helpers ----

// A "VmHWM:" or "VmRSS:" figure of a process, in KiB; -1 when it cannot be read.
qint64 StatusKiB(qint64 pid, const char* field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').front().toLongLong();
    }
    return -1;
}

// User plus system CPU seconds a process has used so far.
double CpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in brackets and may hold spaces.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return (fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

qint64 OwnPeakKiB() {
    return StatusKiB(QCoreApplication::applicationPid(), "VmHWM:");
}

double OwnCpu() {
    return CpuSeconds(QCoreApplication::applicationPid());
}

qint64 ParseSize(const QString& text) {
    const QString t = text.trimmed().toUpper();
    qint64 factor = 1;
    QString digits = t;
    if (t.endsWith(QLatin1Char('G'))) {
        factor = 1LL << 30;
        digits.chop(1);
    } else if (t.endsWith(QLatin1Char('M'))) {
        factor = 1LL << 20;
        digits.chop(1);
    } else if (t.endsWith(QLatin1Char('K'))) {
        factor = 1LL << 10;
        digits.chop(1);
    }
    bool ok = false;
    const qint64 value = digits.toLongLong(&ok);
    return ok ? value * factor : -1;
}

bool MakeRandomFile(const QString& path, qint64 size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    std::vector<quint32> block(1 << 20);  // 4 MiB
    qint64 left = size;
    while (left > 0) {
        QRandomGenerator::global()->fillRange(block.data(), qsizetype(block.size()));
        const qint64 n = qMin<qint64>(left, qint64(block.size() * sizeof(quint32)));
        if (file.write(reinterpret_cast<const char*>(block.data()), n) != n)
            return false;
        left -= n;
    }
    return true;
}

// Brings the file into the page cache and lets the system write out what is still waiting
// (the random file itself, the copies just removed), so that no write-back runs beside a
// measurement.
void Warm(const QString& path) {
    ::sync();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    while (!file.atEnd() && !file.read(1 << 22).isEmpty()) {
    }
}

bool SameContent(const QString& a, const QString& b) {
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd()) {
        if (fa.read(1 << 22) != fb.read(1 << 22))
            return false;
    }
    return true;
}

// True once something listens on address:port (read from the kernel's table, so that no
// connection disturbs the listener, which serves one caller at a time).
bool Listening(const QString& address, quint16 port) {
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    in_addr parsed{};
    inet_pton(AF_INET, address.toLatin1().constData(), &parsed);
    const QByteArray local =
        QByteArray::number(quint32(parsed.s_addr), 16).toUpper().rightJustified(8, '0') + ':' +
        QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1] == local && fields[3] == "0A")
            return true;
    }
    return false;
}

bool WaitFor(const std::function<bool()>& done, int milliseconds, int stepUs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QThread::usleep(stepUs);
    }
    return true;
}

double Median(std::vector<double> values) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// ---- The plain copy: the floor that any transfer over loopback TCP pays ----

// User and system time together.
double CpuSeconds(const rusage& usage) {
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return CpuSeconds(usage);
}

struct PlainCopy {
    double seconds = -1;
    double senderCpu = 0, receiverCpu = 0;
};

// With a `scramblingKey` both sides scramble what they read, as the engines do. Several files
// go one after another over the one connection, each written to its own target.
PlainCopy PlainCopyRun(const QStringList& sources, const QStringList& targets, qint64 bufferBytes,
                       int scramblingKey = 0) {
    PlainCopy result;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.3", &where.sin_addr);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(listener, 1) != 0) {
        ::close(listener);
        return result;
    }
    socklen_t length = sizeof where;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&where), &length);

    std::vector<qint64> sizes;
    for (const QString& source : sources)
        sizes.push_back(QFileInfo(source).size());
    bool received = false;
    // The receiving side reads as much at a time as the receiving engine's thread does.
    const qint64 receiveBytes = qMax(bufferBytes, tvx::FileReceiveEngine::kReadSliceBytes);
    std::thread receiver([&] {
        const double cpuAtStart = ThreadCpuSeconds();
        const int connection = ::accept(listener, nullptr, nullptr);
        tvx::PageBuffer buffer{size_t(receiveBytes)};
        ssize_t n = 0;
        bool ok = connection >= 0;
        for (qsizetype file = 0; ok && file < targets.size(); ++file) {
            const int out = ::open(targets[file].toLocal8Bit().constData(),
                                   O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            ok = out >= 0;
            // The last file takes the rest up to the end of the connection.
            const bool last = file + 1 == targets.size();
            qint64 left = last ? std::numeric_limits<qint64>::max() : sizes[file];
            while (ok && left > 0 &&
                   (n = ::recv(connection, buffer.data(), size_t(qMin<qint64>(left, buffer.size())),
                               0)) > 0) {
                if (scramblingKey != 0)
                    tvx::ScrambleBytes(buffer.data(), n, scramblingKey);
                // Written in the pieces the receiving engine writes in.
                for (ssize_t written = 0; ok && written < n;) {
                    const ssize_t part =
                        qMin<ssize_t>(n - written, tvx::FileReceiveEngine::kWriteSliceBytes);
                    ok = ::write(out, buffer.data() + written, part) == part;
                    written += part;
                }
                left -= n;
            }
            ok = ok && (last ? n == 0 : left == 0);
            if (out >= 0)
                ::close(out);
        }
        ::close(connection);
        received = ok;
        result.receiverCpu = ThreadCpuSeconds() - cpuAtStart;
    });

    QElapsedTimer clock;
    clock.start();
    const double cpuAtStart = ThreadCpuSeconds();
    const int connection = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.2", &from.sin_addr);
    bool ok = ::bind(connection, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
              ::connect(connection, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
    tvx::PageBuffer buffer{size_t(bufferBytes)};
    for (const QString& source : sources) {
        const int in = ::open(source.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
        ok = ok && in >= 0;
        ssize_t n = 0;
        while (ok && (n = ::read(in, buffer.data(), buffer.size())) > 0) {
            if (scramblingKey != 0)
                tvx::ScrambleBytes(buffer.data(), n, scramblingKey);
            for (ssize_t sent = 0; ok && sent < n;) {
                const ssize_t s = ::send(connection, buffer.data() + sent, n - sent, 0);
                ok = s > 0;
                sent += s;
            }
        }
        ok = ok && n == 0;
        if (in >= 0)
            ::close(in);
    }
    ::close(connection);
    result.senderCpu = ThreadCpuSeconds() - cpuAtStart;
    receiver.join();
    const double seconds = clock.nsecsElapsed() / 1e9;
    ::close(listener);
    if (ok && received)
        result.seconds = seconds;
    return result;
}

// ---- The engine children: one peer each, without a desktop ----

class PrintingMessageBox : public tvx::MessageBoxService {
public:
    tvx::MessageAnswer Show(QWidget*, const QString& text, const QString& title,
                            tvx::MessageStyle) override {
        std::fprintf(stderr, "message [%s] %s\n", qPrintable(title), qPrintable(text));
        return tvx::MessageAnswer::Ok;
    }
};

class QuietShell : public tvx::ShellService {
public:
    bool Open(const QString&) override { return true; }
    QString TypeName(const QString&) override { return QString(); }
    QStringList IconNames(const QString&) override { return {}; }
    void SetClipboardText(const QString&) override {}
    QString ClipboardText() override { return QString(); }
};

struct BenchPeer {
    BenchPeer(const QString& address, int bufferMb) : session(MakePlatform()) {
        session.localAddress = address;
        session.localAddressCode = tvx::EncodeAddressCode(address);
        session.personalInfo.nickName = QStringLiteral("bench");
        tvx::SettingsRecord& s = session.settings;
        if (bufferMb > 0) {
            s.useSendBuffer = true;
            s.sendBufferSize = bufferMb;
            s.sendBufferBytes = bufferMb * kMegabyte;
            s.useRecvBuffer = true;
            s.recvBufferSize = bufferMb;
            s.recvBufferBytes = bufferMb * kMegabyte;
        }
    }
    tvx::Platform& MakePlatform() {
        platform.messageBox = std::make_unique<PrintingMessageBox>();
        platform.shell = std::make_unique<QuietShell>();
        // The settings in a throw-away file, so that the user's own stay untouched.
        platform.settings = std::make_unique<tvx::IniSettingsStore>(
            settingsFolder.filePath(QStringLiteral("Kestrane.ini")));
        platform.system = std::make_unique<tvx::HostSystemInfo>();
        return platform;
    }
    QTemporaryDir settingsFolder;
    tvx::Platform platform;
    tvx::Session session;
};

// --child-send FILE MB: sends FILE to 127.0.0.3 and prints
// "RESULT seconds idleKiB peakKiB chunkBytes cpuSeconds". The clock runs from the receiver's
// acceptance to its completion message.
int RunSender(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    BenchPeer peer(kSenderAddress, args.value(3).toInt());
    tvx::FileSendEngine engine(peer.session);
    engine.SetPauseMs(0);

    tvx::FileSendEngine::Request request;
    request.peerAddress = request.shownAddress = request.typedAddress = kReceiverAddress;
    request.filePath = args.value(2);
    QCoreApplication::processEvents();
    const qint64 idle = OwnPeakKiB();

    QElapsedTimer clock;
    double seconds = -1, cpuAtStart = 0;
    int outcome = -1;
    QObject::connect(&engine, &tvx::FileSendEngine::SendingStarted, &app, [&] {
        clock.start();
        cpuAtStart = OwnCpu();
    });
    QObject::connect(&engine, &tvx::FileSendEngine::Ended, &app,
                     [&](const tvx::SendOutcome& ended) {
                         seconds = clock.isValid() ? clock.nsecsElapsed() / 1e9 : -1;
                         outcome = int(ended.kind);
                         const tvx::UserMessage failure = tvx::SendFailureMessage(ended);
                         if (!failure.isEmpty())
                             std::fprintf(stderr, "sender: %s\n", qPrintable(failure.text));
                         app.quit();
                     });
    QTimer::singleShot(kChildTimeoutMs, &app, [&] { app.exit(1); });
    engine.Start(request);
    app.exec();
    std::printf("RESULT %.6f %lld %lld %lld %.3f\n", seconds, idle, OwnPeakKiB(),
                peer.session.settings.sendBufferBytes, OwnCpu() - cpuAtStart);
    return outcome == int(tvx::SendOutcome::Kind::Completed) ? 0 : 1;
}

// --child-receive FOLDER MB: receives one file automatically into FOLDER and prints
// "RESULT idleKiB peakKiB cpuSeconds".
int RunReceiver(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    BenchPeer peer(kReceiverAddress, args.value(3).toInt());
    peer.session.settings.autoRecvFile = true;
    peer.session.settings.autoSavePath = args.value(2);
    peer.session.settings.existFile = true;
    tvx::FileReceiveEngine engine(peer.session);
    bool received = false;
    // The completion message is to reach the sender before this process ends: the sender
    // closes when it has it.
    QObject::connect(&engine, &tvx::FileReceiveEngine::AutoReceived, &app, [&] {
        received = true;
        QTimer::singleShot(5000, &app, [&] { app.quit(); });
    });
    QObject::connect(&engine, &tvx::FileReceiveEngine::ResetDone, &app, [&] {
        if (received)
            app.quit();
    });
    QObject::connect(
        &engine, &tvx::FileReceiveEngine::Reported, &app, [&](const tvx::ReceiveOutcome& outcome) {
            if (outcome.kind == tvx::ReceiveOutcome::Kind::HistoryNotWritten)
                return;
            std::fprintf(stderr, "receiver: %s\n", qPrintable(tvx::ReceiveMessage(outcome).text));
            app.exit(1);
        });
    QTimer::singleShot(kChildTimeoutMs, &app, [&] { app.exit(1); });
    if (!engine.StartFileListener())
        return 1;
    QCoreApplication::processEvents();
    const qint64 idle = OwnPeakKiB();
    const double cpuAtStart = OwnCpu();
    app.exec();
    std::printf("RESULT %lld %lld %.3f\n", idle, OwnPeakKiB(), OwnCpu() - cpuAtStart);
    return received ? 0 : 1;
}

// ---- One transfer of a row ----

struct Run {
    double seconds = -1;
    qint64 senderIdle = -1, senderPeak = -1;
    qint64 receiverIdle = -1, receiverPeak = -1;
    double senderCpu = -1, receiverCpu = -1;
    bool exact = false;
};

QList<QByteArray> ResultFields(QProcess& process) {
    const QList<QByteArray> lines = process.readAllStandardOutput().trimmed().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("RESULT "))
            return line.split(' ');
    }
    return {};
}

bool EngineRun(const QString& program, const QString& source, const QString& downloads,
               int bufferMb, Run& run) {
    QProcess receiver;
    receiver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    receiver.start(program,
                   {QStringLiteral("--child-receive"), downloads, QString::number(bufferMb)});
    if (!receiver.waitForStarted(5000) ||
        !WaitFor([] { return Listening(kReceiverAddress, 8510); }, 10000)) {
        receiver.kill();
        receiver.waitForFinished(5000);
        return false;
    }
    QProcess sender;
    sender.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sender.start(program, {QStringLiteral("--child-send"), source, QString::number(bufferMb)});
    const bool sent = sender.waitForFinished(kChildTimeoutMs) && sender.exitCode() == 0;
    const bool received = receiver.waitForFinished(sent ? 30000 : 1000) && receiver.exitCode() == 0;
    if (receiver.state() != QProcess::NotRunning) {
        receiver.kill();
        receiver.waitForFinished(5000);
    }
    const QList<QByteArray> s = ResultFields(sender);
    const QList<QByteArray> r = ResultFields(receiver);
    if (!sent || !received || s.size() < 6 || r.size() < 4)
        return false;
    run.seconds = s[1].toDouble();
    run.senderIdle = s[2].toLongLong();
    run.senderPeak = s[3].toLongLong();
    run.senderCpu = s[5].toDouble();
    run.receiverIdle = r[1].toLongLong();
    run.receiverPeak = r[2].toLongLong();
    run.receiverCpu = r[3].toDouble();
    return true;
}

// A program started without Qt in between. Its peak memory is read from /proc while it runs:
// the peak that wait4 gives also holds this program's own, which posix_spawn's child shares
// until it starts the program.
struct Spawned {
    pid_t pid = -1;
    rusage usage{};
    int status = -1;
    bool ended = false;
    qint64 peakKiB = -1;

    int errorFd = -1;  // the read end of the program's standard error, when it is gathered
    QByteArray error;

    ~Spawned() {
        if (errorFd >= 0)
            ::close(errorFd);
    }

    // With `gatherError` the program's standard error comes into `error` (ReadError); a pipe,
    // not a terminal, so the command line writes no bar.
    bool Start(const QString& program, const QStringList& arguments,
               const QByteArrayList& environment, bool gatherError = false) {
        std::vector<QByteArray> owned{program.toLocal8Bit()};
        for (const QString& a : arguments)
            owned.push_back(a.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& a : owned)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        QByteArrayList env = environment;
        std::vector<char*> envp;
        for (QByteArray& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        int pipeEnds[2] = {-1, -1};
        if (gatherError) {
            if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
                return false;
            posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
        }
        const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (gatherError) {
            ::close(pipeEnds[1]);
            errorFd = pipeEnds[0];
            ::fcntl(errorFd, F_SETFL, O_NONBLOCK);
        }
        return failed == 0;
    }
    void ReadError() {
        char bytes[4096];
        ssize_t n = 0;
        while (errorFd >= 0 && (n = ::read(errorFd, bytes, sizeof bytes)) > 0)
            error.append(bytes, n);
    }
    bool Poll() {
        if (!ended && pid > 0 && ::wait4(pid, &status, WNOHANG, &usage) == pid)
            ended = true;
        return ended;
    }
    // Read while the program still runs; VmHWM only grows.
    void NotePeak() {
        if (!ended && pid > 0)
            peakKiB = qMax(peakKiB, StatusKiB(pid, "VmHWM:"));
    }
    bool Wait(int milliseconds) {
        return WaitFor(
            [this] {
                NotePeak();
                return Poll();
            },
            milliseconds, 2000);
    }
    void Kill() {
        if (pid > 0 && !Poll()) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            ended = true;
        }
    }
    bool Succeeded() const { return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0; }
};

// A folder's new and renamed files, heard rather than polled: on a small machine a poll every
// few hundred microseconds takes processor time from the transfer it measures.
class FolderWatch {
public:
    explicit FolderWatch(const QString& folder) : m_fd(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
        if (m_fd >= 0 && ::inotify_add_watch(m_fd, folder.toLocal8Bit().constData(),
                                             IN_CREATE | IN_MOVED_TO) < 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~FolderWatch() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Until `done` holds: checked after each change in the folder and at least every 100 ms.
    bool WaitFor(const std::function<bool()>& done, int milliseconds) {
        if (m_fd < 0)
            return ::WaitFor(done, milliseconds, 500);
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            const qint64 left = milliseconds - clock.elapsed();
            if (left <= 0)
                return false;
            pollfd wait{m_fd, POLLIN, 0};
            if (::poll(&wait, 1, int(qMin<qint64>(left, 100))) > 0) {
                char events[4096];
                while (::read(m_fd, events, sizeof events) > 0) {
                }
            }
        }
        return true;
    }

private:
    int m_fd;
};

// Whether the program takes the command-line send and receive commands (with `batches`, send
// of several paths); the reason when not.
QString CliProblem(const QString& tolvex, bool batches = false) {
    if (!QFileInfo(tolvex).isExecutable())
        return QStringLiteral("%1 is not an executable program").arg(tolvex);
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    probe.setProcessEnvironment(environment);
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start(tolvex, {QStringLiteral("--help")});
    if (!probe.waitForFinished(10000)) {
        probe.kill();
        probe.waitForFinished(2000);
        return QStringLiteral("%1 --help did not answer").arg(tolvex);
    }
    const QString help = QString::fromLocal8Bit(probe.readAll());
    if (!help.contains(QStringLiteral("send")) || !help.contains(QStringLiteral("receive")) ||
        !help.contains(QStringLiteral("--to")))
        return QStringLiteral("%1 lacks the `send ADDRESS FILE` and `receive --to DIR` commands")
            .arg(tolvex);
    if (batches && !help.contains(QStringLiteral("PATH...")))
        return QStringLiteral("%1 lacks `send ADDRESS PATH...`").arg(tolvex);
    if (batches && (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty() ||
                    QStandardPaths::findExecutable(QStringLiteral("tar")).isEmpty()))
        return QStringLiteral("socat or tar is not installed");
    return QString();
}

// The environment of the command-line programs: a settings file of their own that holds the
// buffers; empty when it cannot be written.
QByteArrayList CliEnvironment(const QString& work, int bufferMb) {
    const QString config = work + QStringLiteral("/config");
    QDir().mkpath(config + QStringLiteral("/Kestrane"));
    {
        QFile ini(config + QStringLiteral("/Kestrane/Kestrane.ini"));
        if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        QTextStream out(&ini);
        out << "[Settings]\nExistFile=1\n";
        if (bufferMb > 0) {
            out << "UseSendBuffer=1\nSendBufferSize=" << bufferMb << "\nUseRecvBuffer=1\n"
                << "RecvBufferSize=" << bufferMb << "\n";
        }
    }
    QByteArrayList environment;
    for (char** e = environ; *e; ++e) {
        if (!QByteArray(*e).startsWith("XDG_CONFIG_HOME=") &&
            !QByteArray(*e).startsWith("QT_QPA_PLATFORM="))
            environment << QByteArray(*e);
    }
    environment << "XDG_CONFIG_HOME=" + config.toLocal8Bit() << "QT_QPA_PLATFORM=offscreen";
    for (const char* data : {"/data-receive", "/data-send"})
        QDir().mkpath(work + QLatin1String(data));
    return environment;
}

// `tolvex send` to `tolvex receive --to`. The settings file holds the buffers; the clock runs
// from the moment the receiver's temporary file appears to the moment the finished file does.
bool CliRun(const QString& tolvex, const QString& work, const QString& source,
            const QString& downloads, int bufferMb, Run& run) {
    const QByteArrayList environment = CliEnvironment(work, bufferMb);
    if (environment.isEmpty())
        return false;
    const QString dataFor[] = {work + QStringLiteral("/data-receive"),
                               work + QStringLiteral("/data-send")};

    Spawned receiver;
    if (!receiver.Start(
            tolvex,
            {QStringLiteral("--address"), kReceiverAddress, QStringLiteral("--data-dir"),
             dataFor[0], QStringLiteral("receive"), QStringLiteral("--to"), downloads},
            environment) ||
        !WaitFor([] { return Listening(kReceiverAddress, 8510); }, 10000)) {
        receiver.Kill();
        return false;
    }
    // No pause here: an idle machine runs the next measurement slower.
    run.receiverIdle = StatusKiB(receiver.pid, "VmHWM:");
    const double receiverCpuBefore = CpuSeconds(receiver.pid);

    const QString target = downloads + QLatin1Char('/') + QFileInfo(source).fileName();
    const QString temporary = target + QStringLiteral(".tvx");
    FolderWatch watch(downloads);
    Spawned sender;
    if (!sender.Start(tolvex,
                      {QStringLiteral("--address"), kSenderAddress, QStringLiteral("--data-dir"),
                       dataFor[1], QStringLiteral("send"), kReceiverAddress, source},
                      environment)) {
        receiver.Kill();
        return false;
    }
    QElapsedTimer clock;
    const bool started = watch.WaitFor(
        [&] { return QFile::exists(temporary) || QFile::exists(target) || sender.Poll(); },
        kChildTimeoutMs);
    clock.start();
    const bool finished =
        started && watch.WaitFor(
                       [&] {
                           return (QFile::exists(target) && !QFile::exists(temporary)) ||
                                  (sender.Poll() && !sender.Succeeded());
                       },
                       kChildTimeoutMs);
    run.seconds = clock.nsecsElapsed() / 1e9;
    sender.NotePeak();  // the file is complete; the sender waits for the receiver's word
    // The sender ends with the receiver's completion message; the receiver, which stays for
    // more files, is ended right then, so that no idle pause comes before the next
    // measurement here and not in the other rows.
    const bool sent = sender.Wait(30000) && sender.Succeeded();
    run.receiverCpu = CpuSeconds(receiver.pid) - receiverCpuBefore;
    receiver.NotePeak();
    receiver.Kill();
    sender.Kill();
    run.senderIdle = run.receiverIdle;  // the same program before any transfer
    run.senderPeak = sender.peakKiB;
    run.receiverPeak = receiver.peakKiB;
    run.senderCpu = CpuSeconds(sender.usage);
    if (run.receiverCpu < 0)
        run.receiverCpu = CpuSeconds(receiver.usage);
    return finished && sent && QFile::exists(target);
}

// ---- A row: five alternations ----

struct Row {
    QString name;
    bool cli = false;
    int bufferMb = 0;
};

void PrintRowHeader() {
    std::printf("%-16s %5s %11s %11s %6s %17s %17s %8s %8s %9s %6s\n", "row", "runs", "send MB/s",
                "plain MB/s", "ratio", "sender peak MiB", "recv peak MiB", "send cpu", "recv cpu",
                "plain cpu", "exact");
}

bool RunRow(const Row& row, const QString& program, const QString& tolvex, const QString& work,
            const QString& source, qint64 size, int runs, bool scrambling) {
    const QString downloads = work + QStringLiteral("/downloads");
    QDir().mkpath(downloads);
    const QString target = downloads + QLatin1Char('/') + QFileInfo(source).fileName();
    const QString copy = work + QStringLiteral("/plain-copy.bin");
    const qint64 chunk = row.bufferMb > 0 ? row.bufferMb * kMegabyte : 524288;
    std::vector<double> sendSeconds, plainSeconds, scrambledSeconds;
    // One plain copy from a warm page cache; with a key it scrambles both ways.
    const auto copyOnce = [&](int scramblingKey) {
        Warm(source);
        const PlainCopy result = PlainCopyRun({source}, {copy}, chunk, scramblingKey);
        QFile::remove(copy);
        return result;
    };
    Run worst;
    double senderCpu = 0, receiverCpu = 0, plainCpu = 0;
    bool exact = true;
    int failures = 0;
    for (int k = 0; k < runs; ++k) {
        Warm(source);
        Run run;
        const bool ok = row.cli ? CliRun(tolvex, work, source, downloads, row.bufferMb, run)
                                : EngineRun(program, source, downloads, row.bufferMb, run);
        if (ok && run.seconds > 0) {
            sendSeconds.push_back(run.seconds);
            exact = exact && SameContent(source, target);
            if (run.senderPeak - run.senderIdle > worst.senderPeak - worst.senderIdle) {
                worst.senderPeak = run.senderPeak;
                worst.senderIdle = run.senderIdle;
            }
            if (run.receiverPeak - run.receiverIdle > worst.receiverPeak - worst.receiverIdle) {
                worst.receiverPeak = run.receiverPeak;
                worst.receiverIdle = run.receiverIdle;
            }
            senderCpu += run.senderCpu;
            receiverCpu += run.receiverCpu;
        } else {
            ++failures;
        }
        QFile::remove(target);
        QFile::remove(target + QStringLiteral(".tvx"));

        const PlainCopy plain = copyOnce(0);
        if (plain.seconds > 0) {
            plainSeconds.push_back(plain.seconds);
            plainCpu += plain.senderCpu + plain.receiverCpu;
        }
        double scrambled = -1;
        if (scrambling) {
            scrambled = copyOnce(0x5a).seconds;  // any key from 1 to 254 costs the same
            if (scrambled > 0)
                scrambledSeconds.push_back(scrambled);
        }
        // Each alternation on its own line, so that the spread behind the medians shows.
        std::printf("  %s %d: %.1f MB/s, plain %.1f MB/s", qPrintable(row.name), k + 1,
                    ok && run.seconds > 0 ? size / 1e6 / run.seconds : 0.0,
                    plain.seconds > 0 ? size / 1e6 / plain.seconds : 0.0);
        if (scrambling)
            std::printf(", scrambling %.1f MB/s", scrambled > 0 ? size / 1e6 / scrambled : 0.0);
        std::printf("\n");
        std::fflush(stdout);
    }
    const double mb = size / 1e6;
    const double send = Median(sendSeconds), plain = Median(plainSeconds);
    if (sendSeconds.empty() || plainSeconds.empty()) {
        std::printf("%-16s all runs failed\n", qPrintable(row.name));
        std::fflush(stdout);
        return false;
    }
    const int n = int(sendSeconds.size());
    std::printf(
        "%-16s %2d/%-2d %11.1f %11.1f %6.2f %7.1f (+%6.1f) %7.1f (+%6.1f) %7.2fs %7.2fs %8.2fs "
        "%6s\n",
        qPrintable(row.name), n, runs, mb / send, mb / plain, plain / send,
        worst.senderPeak / 1024.0, (worst.senderPeak - worst.senderIdle) / 1024.0,
        worst.receiverPeak / 1024.0, (worst.receiverPeak - worst.receiverIdle) / 1024.0,
        senderCpu / n, receiverCpu / n, plainCpu / qMax<size_t>(plainSeconds.size(), 1),
        exact ? "yes" : "NO");
    if (!scrambledSeconds.empty()) {
        const double floor = Median(scrambledSeconds);
        std::printf("%-16s scrambling copy %.1f MB/s (%.2f of the plain copy), ratio to it %.2f\n",
                    qPrintable(row.name), mb / floor, plain / floor, floor / send);
    }
    std::fflush(stdout);
    return failures == 0 && exact;
}

// ---- Batches: a folder of many small files, a folder of a few large ones ----

constexpr quint16 kTarPort = 8600;

// A folder of `folders` folders of `perFolder` random files of `fileBytes` each (a multiple
// of 4), and `loose` more such files at its top.
bool MakeTree(const QString& root, int folders, int perFolder, int loose, qint64 fileBytes) {
    QByteArray bytes(fileBytes, Qt::Uninitialized);
    const auto write = [&](const QString& path) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()),
                                              bytes.size() / 4);
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    if (!QDir().mkpath(root))
        return false;
    for (int d = 0; d < folders; ++d) {
        const QString folder = root + QStringLiteral("/d%1").arg(d, 3, 10, QLatin1Char('0'));
        if (!QDir().mkpath(folder))
            return false;
        for (int f = 0; f < perFolder; ++f) {
            if (!write(folder + QStringLiteral("/f%1.bin").arg(f, 4, 10, QLatin1Char('0'))))
                return false;
        }
    }
    for (int f = 0; f < loose; ++f) {
        if (!write(root + QStringLiteral("/loose%1.bin").arg(f)))
            return false;
    }
    return true;
}

// The folders and files under `root`, relative to it, sorted.
QStringList EntriesUnder(const QString& root) {
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << it.next().mid(root.size() + 1);
    entries.sort();
    return entries;
}

// The same folders and files, each file with the same bytes.
bool SameTree(const QString& a, const QString& b) {
    const QStringList entries = EntriesUnder(a);
    if (entries != EntriesUnder(b))
        return false;
    return std::all_of(entries.begin(), entries.end(), [&](const QString& entry) {
        const QString path = a + QLatin1Char('/') + entry;
        return QFileInfo(path).isDir() || SameContent(path, b + QLatin1Char('/') + entry);
    });
}

// As Warm, for every file under `root`.
void WarmTree(const QString& root) {
    ::sync();
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly)) {
            while (!file.atEnd() && !file.read(1 << 22).isEmpty()) {
            }
        }
    }
}

void EmptyFolder(const QString& folder) {
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
}

// Until `done` holds, gathering what the programs write to standard error and their peak
// memory; woken by their output, and at least every 2 ms.
bool WatchUntil(const std::vector<Spawned*>& programs, const std::function<bool()>& done,
                int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    std::vector<pollfd> wait;
    for (Spawned* program : programs) {
        if (program->errorFd >= 0)
            wait.push_back({program->errorFd, POLLIN, 0});
    }
    for (;;) {
        for (Spawned* program : programs) {
            program->ReadError();
            program->NotePeak();
        }
        if (done())
            return true;
        if (clock.elapsed() > milliseconds)
            return false;
        ::poll(wait.data(), nfds_t(wait.size()), 2);
    }
}

QByteArrayList OwnEnvironment() {
    QByteArrayList environment;
    for (char** e = environ; *e; ++e)
        environment << QByteArray(*e);
    return environment;
}

// `tar -cf - DIR | socat` to `socat | tar -xf -` over the same loopback addresses and the same
// kind of TCP connection; the clock runs from the start of the sending pipeline to the end of
// the receiving one, when every file is written.
bool TarRun(const QString& folder, const QString& downloads, double& seconds) {
    const QFileInfo source(folder);
    Spawned receiver;
    if (!receiver.Start(QStringLiteral("/bin/sh"),
                        {QStringLiteral("-c"),
                         QStringLiteral("socat -u TCP-LISTEN:%1,bind=%2,reuseaddr STDOUT | "
                                        "tar -xf - -C '%3'")
                             .arg(kTarPort)
                             .arg(kReceiverAddress, downloads)},
                        OwnEnvironment()) ||
        !WaitFor([] { return Listening(kReceiverAddress, kTarPort); }, 10000)) {
        receiver.Kill();
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    Spawned sender;
    if (!sender.Start(QStringLiteral("/bin/sh"),
                      {QStringLiteral("-c"),
                       QStringLiteral("tar -cf - -C '%1' '%2' | socat -u STDIN TCP:%3:%4,bind=%5")
                           .arg(source.path(), source.fileName(), kReceiverAddress)
                           .arg(kTarPort)
                           .arg(kSenderAddress)},
                      OwnEnvironment())) {
        receiver.Kill();
        return false;
    }
    const bool received = receiver.Wait(kChildTimeoutMs) && receiver.Succeeded();
    seconds = clock.nsecsElapsed() / 1e9;
    const bool sent = sender.Wait(10000) && sender.Succeeded();
    receiver.Kill();
    sender.Kill();
    return received && sent;
}

// `tolvex send FOLDER` to `tolvex receive --to`. The clock runs from the sender's start (with
// `fromStart`, as the tar pipeline's does) or from the receiver's first folder of the batch (its
// acceptance, as the file rows' clock starts with the temporary file) to the receiver's line
// that the batch is complete. Each program's standard error is gathered; `said` holds both
// when the run failed.
bool CliBatchRun(const QString& tolvex, const QString& work, const QString& folder, qint64 files,
                 qint64 bytes, const QString& downloads, bool fromStart, Run& run,
                 QByteArray& said) {
    const QByteArrayList environment = CliEnvironment(work, 0);
    if (environment.isEmpty())
        return false;
    Spawned receiver;
    if (!receiver.Start(tolvex,
                        {QStringLiteral("--address"), kReceiverAddress,
                         QStringLiteral("--data-dir"), work + QStringLiteral("/data-receive"),
                         QStringLiteral("receive"), QStringLiteral("--to"), downloads},
                        environment, true) ||
        !WaitFor([] { return Listening(kReceiverAddress, 8510); }, 10000)) {
        receiver.Kill();
        return false;
    }
    run.receiverIdle = StatusKiB(receiver.pid, "VmHWM:");
    const double receiverCpuBefore = CpuSeconds(receiver.pid);
    // The end of the receiver's line for this batch, whoever the sender is.
    const QString line = tvx::BatchReceivedLine(QStringLiteral("\x01"), files, bytes, downloads);
    const QByteArray complete = line.mid(line.indexOf(QLatin1Char('\x01')) + 1).toUtf8();

    FolderWatch watch(downloads);
    QElapsedTimer clock;
    clock.start();
    Spawned sender;
    if (!sender.Start(
            tolvex,
            {QStringLiteral("--address"), kSenderAddress, QStringLiteral("--data-dir"),
             work + QStringLiteral("/data-send"), QStringLiteral("send"), kReceiverAddress, folder},
            environment, true)) {
        receiver.Kill();
        return false;
    }
    const QString top = downloads + QLatin1Char('/') + QFileInfo(folder).fileName();
    bool started = true;
    if (!fromStart) {
        started =
            watch.WaitFor([&] { return QFileInfo::exists(top) || sender.Poll(); }, kChildTimeoutMs);
        clock.start();
    }
    const bool finished =
        started &&
        WatchUntil(
            {&receiver, &sender},
            [&] {
                return receiver.error.contains(complete) || (sender.Poll() && !sender.Succeeded());
            },
            kChildTimeoutMs) &&
        receiver.error.contains(complete);
    run.seconds = clock.nsecsElapsed() / 1e9;
    const bool sent = WatchUntil(
                          {&sender}, [&] { return sender.Poll(); }, 30000) &&
                      sender.Succeeded();
    run.receiverCpu = CpuSeconds(receiver.pid) - receiverCpuBefore;
    receiver.NotePeak();
    receiver.Kill();
    sender.Kill();
    receiver.ReadError();
    sender.ReadError();
    run.senderIdle = run.receiverIdle;  // the same program before any transfer
    run.senderPeak = sender.peakKiB;
    run.receiverPeak = receiver.peakKiB;
    run.senderCpu = CpuSeconds(sender.usage);
    if (!(finished && sent))
        said = "sender:\n" + sender.error + "receiver:\n" + receiver.error;
    return finished && sent;
}

QString MiB(qint64 peakKiB, qint64 idleKiB) {
    return QStringLiteral("%1 (+%2)")
        .arg(peakKiB / 1024.0, 7, 'f', 1)
        .arg((peakKiB - idleKiB) / 1024.0, 6, 'f', 1);
}

// `plain` 0 when the row has no plain counterpart; `worst` also holds the average CPU times.
void PrintBatchRow(const QString& name, int done, int runs, double tolvex, double plain,
                   const Run& worst, bool exact) {
    const QString plainText = plain > 0 ? QString::number(plain, 'f', 1) : QStringLiteral("-");
    const QString ratio = plain > 0 ? QString::number(tolvex / plain, 'f', 2) : QStringLiteral("-");
    std::printf("%-22s %2d/%-2d %12.1f %12s %6s %20s %20s %6s %7.2fs %7.2fs\n", qPrintable(name),
                done, runs, tolvex, qPrintable(plainText), qPrintable(ratio),
                qPrintable(MiB(worst.senderPeak, worst.senderIdle)),
                qPrintable(MiB(worst.receiverPeak, worst.receiverIdle)), exact ? "yes" : "NO",
                worst.senderCpu, worst.receiverCpu);
    std::fflush(stdout);
}

void KeepWorst(const Run& run, Run& worst) {
    if (run.senderPeak - run.senderIdle > worst.senderPeak - worst.senderIdle) {
        worst.senderPeak = run.senderPeak;
        worst.senderIdle = run.senderIdle;
    }
    if (run.receiverPeak - run.receiverIdle > worst.receiverPeak - worst.receiverIdle) {
        worst.receiverPeak = run.receiverPeak;
        worst.receiverIdle = run.receiverIdle;
    }
}

// The three batch rows, each Tolvex run alternating with its plain counterpart:
//   cli 10,000 files   100 folders of 100 files of 4 KiB, against tar and socat (files/s);
//   cli 4 x 256 MiB    a folder of four random files, against the plain copy of the same
//                      bytes over one connection (MB/s);
//   cli 100,000 files  one batch of 100,000 entries (99,900 files of 1 KiB in 100 folders):
//                      the peak memory of both sides (one run, files/s for information).
bool RunBatchRows(const QString& tolvex, const QString& work, int runs) {
    const QString downloads = work + QStringLiteral("/batch-downloads");
    QByteArray said;
    int failures = 0;
    std::printf("%-22s %5s %12s %12s %6s %20s %20s %6s %8s %8s\n", "batch row", "runs", "Tolvex",
                "plain", "ratio", "sender peak MiB", "recv peak MiB", "exact", "send cpu",
                "recv cpu");
    std::fflush(stdout);

    const auto row = [&](const QString& name, const QString& folder, qint64 files, qint64 bytes,
                         bool small, int alternations, bool withPlain) {
        std::vector<double> own, plain;
        double senderCpu = 0, receiverCpu = 0;
        Run worst;
        bool exact = true;
        const QString target = downloads + QLatin1Char('/') + QFileInfo(folder).fileName();
        const QStringList sources = [&] {
            QStringList paths;
            for (const QString& entry : EntriesUnder(folder))
                paths << folder + QLatin1Char('/') + entry;
            return paths;
        }();
        for (int k = 0; k < alternations; ++k) {
            EmptyFolder(downloads);
            WarmTree(folder);
            Run run;
            const bool ok =
                CliBatchRun(tolvex, work, folder, files, bytes, downloads, small, run, said);
            if (ok) {
                own.push_back(run.seconds);
                exact = exact && SameTree(folder, target);
                KeepWorst(run, worst);
                senderCpu += run.senderCpu;
                receiverCpu += run.receiverCpu;
            } else {
                ++failures;
                std::printf("  %s %d failed:\n%s", qPrintable(name), k + 1, said.constData());
            }
            EmptyFolder(downloads);
            double seconds = -1;
            if (withPlain) {
                WarmTree(folder);
                if (small) {
                    if (TarRun(folder, downloads, seconds))
                        exact = exact && SameTree(folder, target);
                    else
                        seconds = -1;
                } else {
                    QStringList targets;
                    for (const QString& source : sources)
                        targets << downloads + QLatin1Char('/') + QFileInfo(source).fileName();
                    seconds = PlainCopyRun(sources, targets, 524288).seconds;
                }
                if (seconds > 0)
                    plain.push_back(seconds);
            }
            const double scale = small ? double(files) : bytes / 1e6;
            std::printf("  %s %d: %.1f %s, %s %.1f\n", qPrintable(name), k + 1,
                        ok ? scale / run.seconds : 0.0, small ? "files/s" : "MB/s",
                        small ? "tar|socat" : "plain", seconds > 0 ? scale / seconds : 0.0);
            std::fflush(stdout);
        }
        EmptyFolder(downloads);
        if (own.empty()) {
            std::printf("%-22s all runs failed\n", qPrintable(name));
            return;
        }
        const double scale = small ? double(files) : bytes / 1e6;
        worst.senderCpu = senderCpu / double(own.size());
        worst.receiverCpu = receiverCpu / double(own.size());
        PrintBatchRow(name, int(own.size()), alternations, scale / Median(own),
                      plain.empty() ? 0.0 : scale / Median(plain), worst, exact);
        if (!exact)
            ++failures;
    };

    const QString smallFiles = work + QStringLiteral("/small");
    const QString largeFiles = work + QStringLiteral("/large");
    const QString manyFiles = work + QStringLiteral("/many");
    if (!MakeTree(smallFiles, 100, 100, 0, 4096)) {
        std::fprintf(stderr, "tolvex_bench: cannot make %s\n", qPrintable(smallFiles));
        return false;
    }
    row(QStringLiteral("cli 10,000 files/s"), smallFiles, 10000, 10000 * 4096, true, runs, true);
    QDir(smallFiles).removeRecursively();

    QDir().mkpath(largeFiles);
    for (int f = 0; f < 4; ++f) {
        if (!MakeRandomFile(largeFiles + QStringLiteral("/part%1.bin").arg(f), 256 * kMegabyte)) {
            std::fprintf(stderr, "tolvex_bench: cannot make %s\n", qPrintable(largeFiles));
            return false;
        }
    }
    row(QStringLiteral("cli 4 x 256 MiB MB/s"), largeFiles, 4, 4 * 256 * kMegabyte, false, runs,
        true);
    QDir(largeFiles).removeRecursively();

    if (!MakeTree(manyFiles, 99, 1009, 9, 1024)) {
        std::fprintf(stderr, "tolvex_bench: cannot make %s\n", qPrintable(manyFiles));
        return false;
    }
    row(QStringLiteral("cli 100,000 files/s"), manyFiles, 99900, 99900 * 1024, true, 1, false);
    QDir(manyFiles).removeRecursively();
    return failures == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && qstrcmp(argv[1], "--child-send") == 0)
        return RunSender(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--child-receive") == 0)
        return RunReceiver(argc, argv);

    QCoreApplication app(argc, argv);
    qint64 size = 1LL << 30;
    int runs = 5;
    QString folder = QDir::tempPath();
    QString tolvex = QStringLiteral(TOLVEX_BINARY);
    QString rows = QStringLiteral("all");
    bool scrambling = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--size") && i + 1 < args.size()) {
            size = ParseSize(args[++i]);
        } else if (args[i] == QStringLiteral("--runs") && i + 1 < args.size()) {
            runs = args[++i].toInt();
        } else if (args[i] == QStringLiteral("--dir") && i + 1 < args.size()) {
            folder = args[++i];
        } else if (args[i] == QStringLiteral("--tolvex") && i + 1 < args.size()) {
            tolvex = args[++i];
        } else if (args[i] == QStringLiteral("--rows") && i + 1 < args.size()) {
            rows = args[++i];
        } else if (args[i] == QStringLiteral("--scrambling")) {
            scrambling = true;
        } else {
            std::fprintf(stderr,
                         "usage: tolvex_bench [--size BYTES|NNNM|NNNG] [--runs N] [--dir FOLDER] "
                         "[--tolvex PROGRAM] [--rows engines|cli|batch|all] [--scrambling]\n");
            return 2;
        }
    }
    if (size <= 0 || size > 2147483647LL || runs < 1) {
        // The sender refuses files of 2 GiB and more.
        std::fprintf(stderr, "tolvex_bench: the size must be 1 to 2147483647 bytes, runs >= 1\n");
        return 2;
    }

    QTemporaryDir work(folder + QStringLiteral("/tolvex-bench-XXXXXX"));
    if (!work.isValid())
        return 1;
    int failures = 0;
    const bool all = rows == QStringLiteral("all");
    if (all || rows == QStringLiteral("batch")) {
        const QString problem = CliProblem(tolvex, true);
        if (!problem.isEmpty()) {
            std::printf("batch rows skipped: %s\n", qPrintable(problem));
        } else if (!RunBatchRows(tolvex, work.path(), runs)) {
            ++failures;
        }
        if (!all)
            return failures == 0 ? 0 : 1;
    }
    const QString source = work.path() + QStringLiteral("/source.bin");
    if (!MakeRandomFile(source, size)) {
        std::fprintf(stderr, "tolvex_bench: cannot make %s\n", qPrintable(source));
        return 1;
    }
    std::printf("file: %lld random bytes; %d alternations per row, medians; cpus: %d, load: %s\n",
                size, runs, QThread::idealThreadCount(), qPrintable(QString::fromLatin1([] {
                    QFile load(QStringLiteral("/proc/loadavg"));
                    return load.open(QIODevice::ReadOnly) ? load.readAll().trimmed()
                                                          : QByteArray("?");
                }())));
    PrintRowHeader();
    std::fflush(stdout);
    if (rows != QStringLiteral("cli")) {
        for (const Row& row : {Row{QStringLiteral("engines default"), false, 0},
                               Row{QStringLiteral("engines 4 MB"), false, 4}}) {
            if (!RunRow(row, app.applicationFilePath(), tolvex, work.path(), source, size, runs,
                        scrambling))
                ++failures;
        }
    }
    if (rows != QStringLiteral("engines")) {
        const QString problem = CliProblem(tolvex);
        if (!problem.isEmpty()) {
            std::printf("cli rows skipped: %s\n", qPrintable(problem));
        } else {
            for (const Row& row : {Row{QStringLiteral("cli default"), true, 0},
                                   Row{QStringLiteral("cli 4 MB"), true, 4}}) {
                if (!RunRow(row, app.applicationFilePath(), tolvex, work.path(), source, size, runs,
                            scrambling))
                    ++failures;
            }
        }
    }
    return failures == 0 ? 0 : 1;
}

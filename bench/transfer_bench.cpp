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
// The tls row (RunTlsRow) times `tolvex send` to `tolvex receive` encrypted against a plain
// TLS 1.3 copy with socat, against the plain copy and against the same programs without key
// pairs, with the handshake's time and the encrypted programs' peak memory.
//
// The web row (RunWebRow) uploads the file with `curl -F` to `tolvex web` and downloads it
// from there with curl, each against the plain copy, with the page program's peak memory.
//
// The batch rows (RunBatchRows) send folders with `tolvex send` to `tolvex receive`: many
// small files against `tar | socat` to `socat | tar`, four large files against the plain copy,
// and the peak memory of a batch of 100,000 entries.
//
//   tolvex_bench [--size BYTES|NNNM|NNNG] [--runs N] [--dir FOLDER] [--tolvex PROGRAM]
//                [--rows engines|cli|batch|tls|web|all] [--scrambling]
//
// The command-line rows run PROGRAM; they are skipped with a line saying so when it does not
// take the send and receive commands (the batch rows also when socat or tar is missing, the
// tls row when socat is, the web row when it lacks the web command or curl is missing).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
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
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
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
#include "security/TlsIdentity.h"
#include "session/Session.h"
#include "texts/BatchTexts.h"
#include "texts/ReceiveTexts.h"
#include "texts/SecurityTexts.h"
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

// Whether b holds the bytes of a (with an `offset`, from there on, with more after them).
bool SameContent(const QString& a, const QString& b, qint64 offset = 0) {
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) ||
        (offset == 0 && fa.size() != fb.size()) || !fb.seek(offset) ||
        fb.size() - offset < fa.size())
        return false;
    while (!fa.atEnd()) {
        const QByteArray chunk = fa.read(1 << 22);
        if (chunk.isEmpty() || chunk != fb.read(chunk.size()))
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

// A listener on the receiving address at a port the system picks, which `where` then names;
// -1 when none can be had.
int ListenOnReceiver(sockaddr_in* where) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    where->sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.3", &where->sin_addr);
    if (::bind(listener, reinterpret_cast<sockaddr*>(where), sizeof *where) != 0 ||
        ::listen(listener, 1) != 0) {
        ::close(listener);
        return -1;
    }
    socklen_t length = sizeof *where;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(where), &length);
    return listener;
}

// Writes the bytes in the pieces the receiving engine writes in; false when a write fails.
bool WriteInSlices(int out, const char* data, qint64 size) {
    for (qint64 written = 0; written < size;) {
        const qint64 part = qMin<qint64>(size - written, tvx::FileReceiveEngine::kWriteSliceBytes);
        if (::write(out, data + written, size_t(part)) != part)
            return false;
        written += part;
    }
    return true;
}

// A connection from the sender's address to `where`; -1 when it cannot be made.
int ConnectFromSender(const sockaddr_in& where) {
    const int connection = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.2", &from.sin_addr);
    if (::bind(connection, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(connection, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
        ::close(connection);
        return -1;
    }
    return connection;
}

// With a `scramblingKey` both sides scramble what they read, as the engines do. Several files
// go one after another over the one connection, each written to its own target.
PlainCopy PlainCopyRun(const QStringList& sources, const QStringList& targets, qint64 bufferBytes,
                       int scramblingKey = 0) {
    PlainCopy result;
    sockaddr_in where{};
    const int listener = ListenOnReceiver(&where);
    if (listener < 0)
        return result;

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
                ok = WriteInSlices(out, buffer.data(), n);
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
    const int connection = ConnectFromSender(where);
    bool ok = connection >= 0;
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
    // not a terminal, so the command line writes no bar. With `gatherOutput` its standard
    // output comes there too.
    bool Start(const QString& program, const QStringList& arguments,
               const QByteArrayList& environment, bool gatherError = false,
               bool gatherOutput = false) {
        gatherError = gatherError || gatherOutput;
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
        int pipeEnds[2] = {-1, -1};
        if (gatherError && ::pipe2(pipeEnds, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (gatherOutput)
            posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (gatherError)
            posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
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

// The program's `--help`; empty with the reason in `problem` when it gives none.
QString ProgramHelp(const QString& tolvex, QString& problem) {
    if (!QFileInfo(tolvex).isExecutable()) {
        problem = QStringLiteral("%1 is not an executable program").arg(tolvex);
        return QString();
    }
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    probe.setProcessEnvironment(environment);
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start(tolvex, {QStringLiteral("--help")});
    if (!probe.waitForFinished(10000)) {
        probe.kill();
        probe.waitForFinished(2000);
        problem = QStringLiteral("%1 --help did not answer").arg(tolvex);
        return QString();
    }
    return QString::fromLocal8Bit(probe.readAll());
}

// Whether the program takes the command-line send and receive commands (with `batches`, send
// of several paths); the reason when not.
QString CliProblem(const QString& tolvex, bool batches = false) {
    QString problem;
    const QString help = ProgramHelp(tolvex, problem);
    if (help.isEmpty())
        return problem;
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

// What the encrypted row also asks of a command-line run: its own data folders, a line both
// programs must print, and the handshake's time.
struct CliCheck {
    QString dataSuffix;  // after "data-receive" and "data-send"
    QByteArray mustSay;  // else the run fails, whatever arrived
    double handshakeSeconds = -1;
    QByteArray said;  // both programs' output when the run failed
};

// The suffix of the data folders ("/data-receive", "/data-send") whose programs have no key
// pair and speak the plain wire: a folder stands where the key file would be, so it can be
// neither read nor made. Made on first use.
QString KeylessData(const QString& work) {
    const QString suffix = QStringLiteral("-keyless");
    for (const QString& side : {QStringLiteral("/data-receive"), QStringLiteral("/data-send")})
        QDir().mkpath(work + side + suffix + QLatin1Char('/') + tvx::TlsIdentity::FileName());
    return suffix;
}

// `tolvex send` to `tolvex receive --to`. The settings file holds the buffers; the clock runs
// from the moment the receiver's temporary file appears to the moment the finished file does.
// With a `check` both programs' standard error is gathered, and the handshake is timed from
// the sender's line that it connects to the receiver's offer line: both connections, their
// handshakes and the offer.
bool CliRun(const QString& tolvex, const QString& work, const QString& source,
            const QString& downloads, int bufferMb, Run& run, CliCheck* check = nullptr) {
    const QByteArrayList environment = CliEnvironment(work, bufferMb);
    if (environment.isEmpty())
        return false;
    // The engines and cli rows time the unencrypted engine against the plain copy, as they always
    // have: their programs get data folders where no key pair can be made (see KeylessData).
    const QString suffix = check ? check->dataSuffix : KeylessData(work);
    const QString dataFor[] = {work + QStringLiteral("/data-receive") + suffix,
                               work + QStringLiteral("/data-send") + suffix};
    const bool gather = check != nullptr;

    Spawned receiver;
    if (!receiver.Start(
            tolvex,
            {QStringLiteral("--address"), kReceiverAddress, QStringLiteral("--data-dir"),
             dataFor[0], QStringLiteral("receive"), QStringLiteral("--to"), downloads},
            environment, gather) ||
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
                      environment, gather)) {
        receiver.Kill();
        return false;
    }
    bool offered = true;
    if (check) {
        const QByteArray connecting = tvx::SendConnectingLine(kReceiverAddress).toUtf8();
        // Only the offer line names the file in quotes.
        const QByteArray offer = ('"' + QFileInfo(source).fileName() + '"').toUtf8();
        QElapsedTimer handshake;
        offered = WatchUntil(
                      {&receiver, &sender},
                      [&] {
                          if (!handshake.isValid() && sender.error.contains(connecting))
                              handshake.start();
                          return receiver.error.contains(offer) || sender.Poll() || receiver.Poll();
                      },
                      kChildTimeoutMs) &&
                  handshake.isValid() && receiver.error.contains(offer);
        if (offered)
            check->handshakeSeconds = handshake.nsecsElapsed() / 1e9;
    }
    QElapsedTimer clock;
    const bool started =
        offered &&
        watch.WaitFor(
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
    bool said = true;
    if (check) {
        receiver.ReadError();
        sender.ReadError();
        said = receiver.error.contains(check->mustSay) && sender.error.contains(check->mustSay);
        check->said = "sender:\n" + sender.error + "receiver:\n" + receiver.error;
    }
    return finished && sent && said && QFile::exists(target);
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
    if (!receiver.Start(
            tolvex,
            {QStringLiteral("--address"), kReceiverAddress, QStringLiteral("--data-dir"),
             work + QStringLiteral("/data-receive") + KeylessData(work), QStringLiteral("receive"),
             QStringLiteral("--to"), downloads},
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
    if (!sender.Start(tolvex,
                      {QStringLiteral("--address"), kSenderAddress, QStringLiteral("--data-dir"),
                       work + QStringLiteral("/data-send") + KeylessData(work),
                       QStringLiteral("send"), kReceiverAddress, folder},
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

// ---- Encrypted transfers: two copies with key pairs against a plain TLS 1.3 copy ----

constexpr quint16 kTlsCopyPort = 8601;

// The cipher suite two copies of the program agree on: a handshake in memory between two
// fresh identities, whose contexts hold every TLS setting the connections use.
QString ProgramSuite() {
    const std::unique_ptr<tvx::TlsIdentity> one = tvx::TlsIdentity::CreateTransient();
    const std::unique_ptr<tvx::TlsIdentity> other = tvx::TlsIdentity::CreateTransient();
    if (!one || !other)
        return QStringLiteral("?");
    SSL* client = SSL_new(one->context());
    SSL* server = SSL_new(other->context());
    BIO* clientEnd = nullptr;
    BIO* serverEnd = nullptr;
    QString suite = QStringLiteral("?");
    if (client && server && BIO_new_bio_pair(&clientEnd, 0, &serverEnd, 0) == 1) {
        SSL_set_bio(client, clientEnd, clientEnd);
        SSL_set_bio(server, serverEnd, serverEnd);
        SSL_set_connect_state(client);
        SSL_set_accept_state(server);
        bool done = false;
        for (int k = 0; k < 20 && !done; ++k) {
            const int fromClient = SSL_do_handshake(client);
            const int fromServer = SSL_do_handshake(server);
            done = fromClient == 1 && fromServer == 1;
        }
        if (done)
            suite = QString::fromLatin1(SSL_get_cipher_name(client));
    }
    SSL_free(client);
    SSL_free(server);
    return suite;
}

// The benchmark's own TLS copy: the plain copy's two threads, the connection inside TLS 1.3
// with two fresh identities of the program's kind, so with every setting its connections use.
// The sender reads 512 KB and writes them to TLS at once; the receiver gathers 2 MB, as
// much as the receiving engine takes at a time, from TLS and writes them in 512 KB pieces.
// Blocking descriptors: the floor for any transfer inside TLS over loopback.
PlainCopy OwnTlsCopyRun(const QString& source, const QString& target) {
    PlainCopy result;
    const std::unique_ptr<tvx::TlsIdentity> clientIdentity = tvx::TlsIdentity::CreateTransient();
    const std::unique_ptr<tvx::TlsIdentity> serverIdentity = tvx::TlsIdentity::CreateTransient();
    if (!clientIdentity || !serverIdentity)
        return result;
    sockaddr_in where{};
    const int listener = ListenOnReceiver(&where);
    if (listener < 0)
        return result;

    bool received = false;
    QElapsedTimer clock;
    std::thread receiver([&] {
        const double cpuAtStart = ThreadCpuSeconds();
        const int connection = ::accept(listener, nullptr, nullptr);
        SSL* tls = SSL_new(serverIdentity->context());
        bool ok =
            connection >= 0 && tls && SSL_set_fd(tls, connection) == 1 && SSL_accept(tls) == 1;
        const int out = ::open(target.toLocal8Bit().constData(),
                               O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ok = ok && out >= 0;
        // As the other copies' clocks: from the receiver's file to its end.
        clock.start();
        tvx::PageBuffer buffer{size_t(tvx::FileReceiveEngine::kReadSliceBytes)};
        bool end = false;
        while (ok && !end) {
            size_t filled = 0;
            while (filled < buffer.size()) {
                size_t n = 0;
                if (SSL_read_ex(tls, buffer.data() + filled, buffer.size() - filled, &n) != 1) {
                    end = SSL_get_error(tls, 0) == SSL_ERROR_ZERO_RETURN;
                    ok = end;
                    break;
                }
                filled += n;
            }
            ok = ok && WriteInSlices(out, buffer.data(), qint64(filled));
        }
        if (out >= 0)
            ::close(out);
        SSL_free(tls);
        if (connection >= 0)
            ::close(connection);
        received = ok;
        result.receiverCpu = ThreadCpuSeconds() - cpuAtStart;
    });

    const double cpuAtStart = ThreadCpuSeconds();
    const int connection = ConnectFromSender(where);
    SSL* tls = SSL_new(clientIdentity->context());
    bool ok = tls && connection >= 0 && SSL_set_fd(tls, connection) == 1 && SSL_connect(tls) == 1;
    const int in = ::open(source.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    ok = ok && in >= 0;
    tvx::PageBuffer buffer{524288};
    ssize_t n = 0;
    while (ok && (n = ::read(in, buffer.data(), buffer.size())) > 0) {
        // The program's contexts allow partial writes.
        for (size_t sent = 0, part = 0; ok && sent < size_t(n); sent += part)
            ok = SSL_write_ex(tls, buffer.data() + sent, size_t(n) - sent, &part) == 1;
    }
    ok = ok && n == 0;
    if (in >= 0)
        ::close(in);
    // The receiver's end of the stream; on failure a receiver still waiting for the caller is
    // woken.
    if (ok)
        SSL_shutdown(tls);
    else
        ::shutdown(listener, SHUT_RDWR);
    SSL_free(tls);
    ::close(connection);
    result.senderCpu = ThreadCpuSeconds() - cpuAtStart;
    receiver.join();
    const double seconds = clock.nsecsElapsed() / 1e9;
    ::close(listener);
    if (ok && received)
        result.seconds = seconds;
    return result;
}

struct TlsCopy {
    double seconds = -1;
    QString suite;  // as the receiving socat reports it
    QByteArray said;
};

// The plain TLS 1.3 copy: `socat OPENSSL:` reading the file 512 KB at a time into
// `socat OPENSSL-LISTEN:` that reads as much at a time as the receiving engine (2 MB) and
// writes the file, neither checking the other's certificate, OpenSSL's default suites. The
// clock runs from the moment the receiving socat creates the file (after the TLS handshake)
// to its end.
bool SocatTlsRun(const QString& socat, const QString& pem, const QString& source,
                 const QString& target, TlsCopy& copy) {
    const QString tls = QStringLiteral("verify=0,openssl-min-proto-version=TLS1.3");
    Spawned receiver;
    if (!receiver.Start(
            socat,
            {QStringLiteral("-d"), QStringLiteral("-d"), QStringLiteral("-u"), QStringLiteral("-b"),
             QString::number(tvx::FileReceiveEngine::kReadSliceBytes),
             QStringLiteral("OPENSSL-LISTEN:%1,bind=%2,reuseaddr,cert=%3,%4")
                 .arg(kTlsCopyPort)
                 .arg(kReceiverAddress, pem, tls),
             QStringLiteral("CREATE:") + target},
            OwnEnvironment(), true) ||
        !WaitFor([] { return Listening(kReceiverAddress, kTlsCopyPort); }, 10000)) {
        receiver.Kill();
        return false;
    }
    FolderWatch watch(QFileInfo(target).path());
    Spawned sender;
    if (!sender.Start(socat,
                      {QStringLiteral("-u"), QStringLiteral("-b"), QStringLiteral("524288"),
                       QStringLiteral("OPEN:") + source,
                       QStringLiteral("OPENSSL:%1:%2,bind=%3,%4")
                           .arg(kReceiverAddress)
                           .arg(kTlsCopyPort)
                           .arg(kSenderAddress, tls)},
                      OwnEnvironment(), true)) {
        receiver.Kill();
        return false;
    }
    QElapsedTimer clock;
    const bool started = watch.WaitFor(
        [&] { return QFile::exists(target) || receiver.Poll() || sender.Poll(); }, kChildTimeoutMs);
    clock.start();
    // Woken by the end of the receiver's standard error.
    const bool received = started &&
                          WatchUntil(
                              {&receiver}, [&] { return receiver.Poll(); }, kChildTimeoutMs) &&
                          receiver.Succeeded();
    copy.seconds = clock.nsecsElapsed() / 1e9;
    const bool sent = sender.Wait(10000) && sender.Succeeded();
    receiver.Kill();
    sender.Kill();
    receiver.ReadError();
    sender.ReadError();
    const QByteArray using_ = "SSL connection using ";
    const qsizetype at = receiver.error.indexOf(using_);
    if (at >= 0) {
        const qsizetype from = at + using_.size();
        copy.suite = QString::fromLatin1(
            receiver.error.mid(from, receiver.error.indexOf('\n', from) - from).trimmed());
    }
    copy.said = "sender:\n" + sender.error + "receiver:\n" + receiver.error;
    return received && sent;
}

// The encrypted row, five alternations (`runs`) of five transfers of the file:
//   encrypted   `tolvex send` to `tolvex receive`, both with key pairs made at their first
//               start in data folders kept from run to run (so from the second run on each
//               has pinned the other); each program must print that the connection is
//               encrypted, else the run fails;
//   socat TLS   socat to socat over TLS 1.3 (SocatTlsRun);
//   own TLS     the benchmark's own TLS copy (OwnTlsCopyRun);
//   keyless     the same two commands with data folders where a folder takes the key file's
//               name, so that neither can make a key pair and both speak the plain wire; each
//               must print that the connection is not encrypted;
//   plain copy  the plain copy of the file rows, 512 KB buffers (no encryption).
// It prints the medians, the encrypted transfer's ratio to the socat TLS copy (target: at
// least 0.8), to the benchmark's own, to the plain copy and to the keyless transfer, the
// handshakes' medians, and the peak memory of the encrypted programs over the idle program (target:
// at most 32 MiB above it).
bool RunTlsRow(const QString& tolvex, const QString& work, const QString& source, qint64 size,
               int runs) {
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty()) {
        std::printf("tls row skipped: socat is not installed\n");
        return true;
    }
    const QString keyless = KeylessData(work);
    // The TLS copy's throw-away certificate: a key pair of the program's own kind (P-256), key
    // and certificate in one file.
    const QString copyFolder = work + QStringLiteral("/tls-copy");
    QString error;
    if (!tvx::TlsIdentity::LoadOrCreate(copyFolder, &error)) {
        std::printf("tls row: cannot make a certificate: %s\n", qPrintable(error));
        return false;
    }
    const QString pem = copyFolder + QLatin1Char('/') + tvx::TlsIdentity::FileName();
    const QString downloads = work + QStringLiteral("/downloads");
    QDir().mkpath(downloads);
    const QString target = downloads + QLatin1Char('/') + QFileInfo(source).fileName();
    const QString copyTarget = work + QStringLiteral("/tls-copy.bin");
    const QString plainTarget = work + QStringLiteral("/plain-copy.bin");
    const QByteArray encryptedLine = tvx::EncryptionLine(true, QByteArray()).toUtf8();
    const QByteArray plainLine = tvx::EncryptionLine(false, QByteArray()).toUtf8();

    std::vector<double> encrypted, tlsCopy, ownTlsCopy, keylessSeconds, plain;
    std::vector<double> encryptedHandshake, keylessHandshake;
    double encryptedCpu[2] = {0, 0}, keylessCpu[2] = {0, 0}, ownCpu[2] = {0, 0};
    Run worst;
    bool exact = true;
    int failures = 0;
    QString copySuite;
    // One Tolvex transfer; false when it failed or did not say what it must.
    const auto tolvexOnce = [&](const QString& suffix, const QByteArray& mustSay, int k,
                                std::vector<double>& seconds, std::vector<double>& handshakes,
                                double cpu[2]) {
        Warm(source);
        Run run;
        CliCheck check;
        check.dataSuffix = suffix;
        check.mustSay = mustSay;
        const bool ok = CliRun(tolvex, work, source, downloads, 0, run, &check) && run.seconds > 0;
        if (ok) {
            seconds.push_back(run.seconds);
            handshakes.push_back(check.handshakeSeconds);
            exact = exact && SameContent(source, target);
            cpu[0] += run.senderCpu;
            cpu[1] += run.receiverCpu;
            if (suffix != keyless)
                KeepWorst(run, worst);
        } else {
            ++failures;
            std::printf("  tls %d: the %s transfer FAILED%s; what the programs said:\n%s", k + 1,
                        suffix == keyless ? "keyless" : "encrypted",
                        check.said.contains(mustSay)
                            ? ""
                            : qPrintable(QStringLiteral(": a program did not print \"%1\"")
                                             .arg(QString::fromUtf8(mustSay))),
                        check.said.constData());
        }
        QFile::remove(target);
        QFile::remove(target + QStringLiteral(".tvx"));
        return ok ? size / 1e6 / run.seconds : 0.0;
    };
    for (int k = 0; k < runs; ++k) {
        const double encryptedSpeed = tolvexOnce(QStringLiteral("-tls"), encryptedLine, k,
                                                 encrypted, encryptedHandshake, encryptedCpu);
        Warm(source);
        TlsCopy copy;
        if (SocatTlsRun(socat, pem, source, copyTarget, copy) && copy.seconds > 0) {
            tlsCopy.push_back(copy.seconds);
            exact = exact && SameContent(source, copyTarget);
            copySuite = copy.suite;
        } else {
            copy.seconds = -1;
            std::printf("  tls %d: the TLS copy failed:\n%s", k + 1, copy.said.constData());
        }
        QFile::remove(copyTarget);
        Warm(source);
        const PlainCopy own = OwnTlsCopyRun(source, copyTarget);
        const double ownCopy = own.seconds;
        if (ownCopy > 0) {
            ownTlsCopy.push_back(ownCopy);
            ownCpu[0] += own.senderCpu;
            ownCpu[1] += own.receiverCpu;
            exact = exact && SameContent(source, copyTarget);
        } else {
            std::printf("  tls %d: the benchmark's own TLS copy failed\n", k + 1);
        }
        QFile::remove(copyTarget);
        const double keylessSpeed =
            tolvexOnce(keyless, plainLine, k, keylessSeconds, keylessHandshake, keylessCpu);
        Warm(source);
        const PlainCopy plainCopy = PlainCopyRun({source}, {plainTarget}, 524288);
        if (plainCopy.seconds > 0)
            plain.push_back(plainCopy.seconds);
        QFile::remove(plainTarget);
        std::printf(
            "  tls %d: encrypted %.1f MB/s (handshake %.1f ms), socat TLS %.1f MB/s, own TLS "
            "%.1f MB/s, keyless %.1f MB/s (handshake %.1f ms), plain %.1f MB/s\n",
            k + 1, encryptedSpeed, encryptedSpeed > 0 ? encryptedHandshake.back() * 1e3 : 0.0,
            copy.seconds > 0 ? size / 1e6 / copy.seconds : 0.0,
            ownCopy > 0 ? size / 1e6 / ownCopy : 0.0, keylessSpeed,
            keylessSpeed > 0 ? keylessHandshake.back() * 1e3 : 0.0,
            plainCopy.seconds > 0 ? size / 1e6 / plainCopy.seconds : 0.0);
        std::fflush(stdout);
    }
    if (encrypted.empty() || tlsCopy.empty() || plain.empty()) {
        std::printf("tls row: all runs failed\n");
        std::fflush(stdout);
        return false;
    }
    const double mb = size / 1e6;
    const double own = Median(encrypted);
    const auto ratio = [&](const std::vector<double>& other) {
        return other.empty() ? 0.0 : Median(other) / own;
    };
    const auto speed = [&](const std::vector<double>& seconds) {
        return seconds.empty() ? 0.0 : mb / Median(seconds);
    };
    const int n = int(encrypted.size());
    std::printf("tls row, %d/%d encrypted runs, medians; every file exact: %s\n", n, runs,
                exact ? "yes" : "NO");
    std::printf("  %-30s %8.1f MB/s\n", "encrypted Tolvex", mb / own);
    std::printf("  %-30s %8.1f MB/s, ratio %.2f (target >= 0.8)\n", "TLS 1.3 copy, socat",
                speed(tlsCopy), ratio(tlsCopy));
    std::printf("  %-30s %8.1f MB/s, ratio %.2f\n", "TLS 1.3 copy, the benchmark's",
                speed(ownTlsCopy), ratio(ownTlsCopy));
    std::printf("  %-30s %8.1f MB/s, ratio %.2f\n", "plain copy, unencrypted", speed(plain),
                ratio(plain));
    std::printf("  %-30s %8.1f MB/s, ratio %.2f\n", "keyless Tolvex, plain wire",
                speed(keylessSeconds), ratio(keylessSeconds));
    std::printf("  handshake, connect to offer shown: encrypted %.1f ms, keyless %.1f ms\n",
                Median(encryptedHandshake) * 1e3,
                keylessHandshake.empty() ? 0.0 : Median(keylessHandshake) * 1e3);
    const auto memory = [](qint64 peakKiB, qint64 idleKiB) {
        return QStringLiteral("%1 MiB (+%2)")
            .arg(peakKiB / 1024.0, 0, 'f', 1)
            .arg((peakKiB - idleKiB) / 1024.0, 0, 'f', 1);
    };
    std::printf("  peak memory, encrypted: sender %s, receiver %s (target: at most +32)\n",
                qPrintable(memory(worst.senderPeak, worst.senderIdle)),
                qPrintable(memory(worst.receiverPeak, worst.receiverIdle)));
    const auto average = [](double sum, const std::vector<double>& runsDone) {
        return runsDone.empty() ? 0.0 : sum / double(runsDone.size());
    };
    std::printf(
        "  cpu per transfer, sender / receiver: encrypted %.2f / %.2f s, keyless %.2f / %.2f s, "
        "own TLS copy %.2f / %.2f s\n",
        encryptedCpu[0] / n, encryptedCpu[1] / n, average(keylessCpu[0], keylessSeconds),
        average(keylessCpu[1], keylessSeconds), average(ownCpu[0], ownTlsCopy),
        average(ownCpu[1], ownTlsCopy));
    std::printf("  cipher suite: Tolvex %s, TLS copy %s\n", qPrintable(ProgramSuite()),
                qPrintable(copySuite.isEmpty() ? QStringLiteral("?") : copySuite));
    std::fflush(stdout);
    return failures == 0 && exact;
}

// ---- The web page: curl against `tolvex web` ----

constexpr quint16 kWebFirstPort = 8530;

// Whether the program takes the `web` command with offered files, and curl is here; the
// reason when not.
QString WebProblem(const QString& tolvex) {
    QString problem;
    const QString help = ProgramHelp(tolvex, problem);
    if (help.isEmpty())
        return problem;
    if (!help.contains(QStringLiteral("web")) || !help.contains(QStringLiteral("--share")))
        return QStringLiteral("%1 lacks the `web --share FILE` command").arg(tolvex);
    if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty())
        return QStringLiteral("curl is not installed");
    return QString();
}

// One `tolvex web` on the receiving address, offering the random file and saving uploads into
// a folder, logged in as a browser would be: the page's address, the cookie jar and token of
// the session, the offered file's id, and the program's peak memory once it serves (idle).
struct WebPage {
    Spawned program;
    QString url;  // "http://127.0.0.3:PORT/"
    QString cookieJar;
    QString token;
    qint64 fileId = -1;
    qint64 idleKiB = -1;
    QByteArray said;  // why the start failed, with the program's output

    ~WebPage() { Stop(); }
    // As a user ends the command: interrupted; killed when it does not end.
    void Stop() {
        if (program.pid > 0 && !program.Poll()) {
            ::kill(program.pid, SIGINT);
            if (!WaitFor([this] { return program.Poll(); }, 5000, 2000))
                program.Kill();
        }
    }
};

// curl from the sending address with `arguments`; its standard output, or a null array when
// it failed.
QByteArray CurlOutput(const QString& curl, const QStringList& arguments) {
    QProcess process;
    process.start(
        curl, QStringList{QStringLiteral("-sS"), QStringLiteral("--interface"), kSenderAddress} +
                  arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(2000);
        return QByteArray();
    }
    const QByteArray output = process.readAllStandardOutput();
    return output.isNull() ? QByteArray("") : output;
}

// Starts `tolvex web` on `port` and logs in with the code it prints: GET /api/state for the
// login's token, POST /api/login, then GET /api/state for the offered file's id.
bool StartWebPage(const QString& tolvex, const QString& curl, const QString& work,
                  const QString& source, const QString& received, quint16 port, WebPage& page) {
    const QByteArrayList environment = CliEnvironment(work, 0);
    if (environment.isEmpty())
        return false;
    QDir().mkpath(work + QStringLiteral("/data-web"));
    if (!page.program.Start(
            tolvex,
            {QStringLiteral("--address"), kReceiverAddress, QStringLiteral("--data-dir"),
             work + QStringLiteral("/data-web"), QStringLiteral("web"), QStringLiteral("--to"),
             received, QStringLiteral("--share"), source, QStringLiteral("--port"),
             QString::number(port)},
            environment, true, true)) {
        page.said = "cannot start " + tolvex.toLocal8Bit() + '\n';
        return false;
    }
    // The address line and the code line, whatever punctuation stands between word and value.
    const QRegularExpression urlPattern(QStringLiteral("(http://[0-9.]+:[0-9]+/)"));
    const QRegularExpression codePattern(QStringLiteral("代码\\D{0,3}([0-9]{6})\\b"));
    QRegularExpressionMatch urlMatch, codeMatch;
    const bool serving = WatchUntil(
        {&page.program},
        [&] {
            const QString said = QString::fromUtf8(page.program.error);
            urlMatch = urlPattern.match(said);
            codeMatch = codePattern.match(said);
            return (urlMatch.hasMatch() && codeMatch.hasMatch() &&
                    Listening(kReceiverAddress, port)) ||
                   page.program.Poll();
        },
        10000);
    if (!serving || page.program.Poll()) {
        page.said = "the page did not start; the program said:\n" + page.program.error;
        return false;
    }
    page.url = urlMatch.captured(1);
    page.cookieJar = work + QStringLiteral("/web-cookies.txt");
    QFile::remove(page.cookieJar);
    // The state request without a session hands out the login's cookie and token.
    const QByteArray loginState =
        CurlOutput(curl, {QStringLiteral("-c"), page.cookieJar, QStringLiteral("-b"),
                          page.cookieJar, page.url + QStringLiteral("api/state")});
    const QString loginToken =
        QJsonDocument::fromJson(loginState).object().value(QStringLiteral("login")).toString();
    const QByteArray login = CurlOutput(
        curl, {QStringLiteral("-c"), page.cookieJar, QStringLiteral("-b"), page.cookieJar,
               QStringLiteral("-H"), QStringLiteral("X-Tolvex-Token: ") + loginToken,
               QStringLiteral("-d"), QStringLiteral("code=") + codeMatch.captured(1),
               page.url + QStringLiteral("api/login")});
    page.token = QJsonDocument::fromJson(login).object().value(QStringLiteral("token")).toString();
    const QByteArray state = CurlOutput(
        curl, {QStringLiteral("-b"), page.cookieJar, page.url + QStringLiteral("api/state")});
    const QJsonArray files =
        QJsonDocument::fromJson(state).object().value(QStringLiteral("files")).toArray();
    for (const QJsonValue& file : files) {
        if (file.toObject().value(QStringLiteral("name")).toString() ==
            QFileInfo(source).fileName())
            page.fileId = file.toObject().value(QStringLiteral("id")).toInteger(-1);
    }
    page.program.ReadError();
    if (page.token.isEmpty() || page.fileId < 0) {
        page.said =
            "login " + login + ", state " + state + "; the program said:\n" + page.program.error;
        return false;
    }
    page.idleKiB = StatusKiB(page.program.pid, "VmHWM:");
    return page.idleKiB > 0;
}

// One timed curl against the page: the clock runs from curl's start to its end (the upload's
// answer comes once the file is complete under its name; the download's last byte is
// written). `run` gets the page program's idle and peak memory and its processor time during
// the transfer as the receiver's or the sender's (`upload`), curl's as the other side's.
bool WebCurlRun(const QString& curl, WebPage& page, const QStringList& arguments, bool upload,
                Run& run, QByteArray& answer) {
    const double pageCpuBefore = CpuSeconds(page.program.pid);
    Spawned client;
    QElapsedTimer clock;
    clock.start();
    if (!client.Start(
            curl,
            QStringList{QStringLiteral("-sS"), QStringLiteral("--interface"), kSenderAddress} +
                arguments,
            OwnEnvironment(), true, true))
        return false;
    // VmHWM only grows and the page still runs afterwards, so one reading at the end holds
    // its peak; only curl's end is waited for here.
    const bool ended = WatchUntil(
                           {&client}, [&] { return client.Poll(); }, kChildTimeoutMs) &&
                       client.Succeeded();
    run.seconds = clock.nsecsElapsed() / 1e9;
    client.Kill();
    client.ReadError();
    answer = client.error;
    const double pageCpu = CpuSeconds(page.program.pid) - pageCpuBefore;
    const qint64 peak = StatusKiB(page.program.pid, "VmHWM:");
    (upload ? run.receiverIdle : run.senderIdle) = page.idleKiB;
    (upload ? run.receiverPeak : run.senderPeak) = peak;
    (upload ? run.receiverCpu : run.senderCpu) = pageCpu;
    (upload ? run.senderCpu : run.receiverCpu) = CpuSeconds(client.usage);
    return ended && !page.program.Poll();
}

// The floor curl itself sets: the same curl command against a bare HTTP end in this program
// (one thread, one connection) that takes the upload's body as it comes, up to 2 MB at a time,
// and writes it to a file in 512 KB pieces without looking into it, or sends the file read
// 512 KB at a time after a bare header. It answers "100 Continue" when curl asks for it, as
// an HTTP/1.1 server does. The speed any page can reach with curl over loopback.
class BareHttpEnd {
public:
    // Serves one request on the receiving address at `port`: the upload's body goes to
    // `target`, or `source` is sent as the answer.
    BareHttpEnd(quint16 port, const QString& source, const QString& target)
        : m_listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(port);
        inet_pton(AF_INET, "127.0.0.3", &where.sin_addr);
        const int on = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
            ::listen(m_listener, 4) != 0)
            return;
        m_thread = std::thread([this, source, target] { Serve(source, target); });
    }
    ~BareHttpEnd() {
        ::shutdown(m_listener, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listener);
    }
    BareHttpEnd(const BareHttpEnd&) = delete;
    BareHttpEnd& operator=(const BareHttpEnd&) = delete;

    bool listening() const { return m_thread.joinable(); }
    // Whether the request was served whole; only once curl has ended after connecting.
    bool Served() {
        if (m_thread.joinable())
            m_thread.join();
        return m_served;
    }

private:
    void Serve(const QString& source, const QString& target) {
        const int connection = ::accept(m_listener, nullptr, nullptr);
        if (connection < 0)
            return;
        tvx::PageBuffer buffer{size_t(tvx::FileReceiveEngine::kReadSliceBytes)};
        QByteArray head;
        qsizetype end = -1;
        ssize_t n = 0;
        while ((end = head.indexOf("\r\n\r\n")) < 0 && head.size() < 65536 &&
               (n = ::recv(connection, buffer.data(), 4096, 0)) > 0)
            head.append(buffer.data(), n);
        const auto sendAll = [&](const char* bytes, qint64 size) {
            for (qint64 sent = 0; sent < size;) {
                const ssize_t s = ::send(connection, bytes + sent, size_t(size - sent), 0);
                if (s <= 0)
                    return false;
                sent += s;
            }
            return true;
        };
        bool ok = end >= 0;
        if (ok && head.startsWith("POST ")) {
            const QByteArray lower = head.left(end).toLower();
            const qsizetype at = lower.indexOf("\r\ncontent-length:");
            qint64 left =
                at < 0 ? -1 : lower.mid(at + 17, 24).split('\r').front().trimmed().toLongLong();
            if (lower.contains("\r\nexpect: 100-continue"))
                ok = sendAll("HTTP/1.1 100 Continue\r\n\r\n", 25);
            const int out = ::open(target.toLocal8Bit().constData(),
                                   O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            ok = ok && out >= 0 && left >= 0;
            // What came with the header belongs to the body.
            const QByteArray early = head.mid(end + 4);
            ok = ok && ::write(out, early.constData(), size_t(early.size())) == early.size();
            left -= early.size();
            while (ok && left > 0 &&
                   (n = ::recv(connection, buffer.data(), size_t(qMin<qint64>(left, buffer.size())),
                               0)) > 0) {
                ok = WriteInSlices(out, buffer.data(), n);
                left -= n;
            }
            if (out >= 0)
                ::close(out);
            const char answer[] =
                "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            ok = ok && left == 0 && sendAll(answer, qstrlen(answer));
        } else if (ok) {
            const int in = ::open(source.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
            const QByteArray answer =
                "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                "Content-Length: " +
                QByteArray::number(QFileInfo(source).size()) + "\r\nConnection: close\r\n\r\n";
            ok = in >= 0 && sendAll(answer.constData(), answer.size());
            while (ok && (n = ::read(in, buffer.data(), 524288)) > 0)
                ok = sendAll(buffer.data(), n);
            ok = ok && n == 0;
            if (in >= 0)
                ::close(in);
        }
        ::shutdown(connection, SHUT_WR);
        ::close(connection);
        m_served = ok;
    }

    int m_listener;
    std::thread m_thread;
    bool m_served = false;
};

// The web row, `runs` alternations of six copies of the random file:
//   upload       `curl -F file=@FILE` with the session's cookie and token to POST /api/upload
//                of a fresh `tolvex web`, which saves it into an empty folder (multipart, as a
//                browser's form sends it);
//   curl floor   the same curl command against BareHttpEnd;
//   plain        the plain copy of the file rows, 512 KB buffers;
//   download     `curl -o OUT` of GET /api/file/ID, the same file offered by a fresh `tolvex
//                web`; then its curl floor and a plain copy again.
// Each transfer has a page program of its own, started and logged in before the clock: its
// peak memory (VmHWM) after the transfer over its idle figure once it serves. It prints each
// way's median, the plain copies' median beside it and the ratio (target: at least 0.7), the
// curl floor's median and the ratio to it, the page program's peak memory over idle (target:
// at most 32 MiB above it), the processor time of the page program, of curl and of the plain
// copy, and whether every file was exact.
bool RunWebRow(const QString& tolvex, const QString& work, const QString& source, qint64 size,
               int runs) {
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    const QString received = work + QStringLiteral("/web-received");
    const QString arrived = received + QLatin1Char('/') + QFileInfo(source).fileName();
    const QString fetched = work + QStringLiteral("/web-fetched.bin");
    const QString plainTarget = work + QStringLiteral("/plain-copy.bin");
    struct Way {
        QString name;
        std::vector<double> seconds, plain, floor;
        qint64 peakKiB = -1, idleKiB = -1;  // the page program's, in the run that grew most
        double pageCpu = 0, curlCpu = 0, plainCpu = 0;
    };
    Way up, down;
    up.name = QStringLiteral("web upload");
    down.name = QStringLiteral("web download");
    bool exact = true;
    int failures = 0;
    quint16 port = kWebFirstPort;
    const auto plainOnce = [&](Way& way) {
        Warm(source);
        const PlainCopy plain = PlainCopyRun({source}, {plainTarget}, 524288);
        QFile::remove(plainTarget);
        if (plain.seconds > 0) {
            way.plain.push_back(plain.seconds);
            way.plainCpu += plain.senderCpu + plain.receiverCpu;
        }
        return plain.seconds > 0 ? size / 1e6 / plain.seconds : 0.0;
    };
    // curl against the bare end; the upload's body must hold the file's bytes right after the
    // part's header.
    const auto floorOnce = [&](Way& way, bool upload) {
        QFile::remove(fetched);
        Warm(source);
        const quint16 floorPort = port++;
        BareHttpEnd end(floorPort, source, fetched);
        const QString url = QStringLiteral("http://%1:%2/").arg(kReceiverAddress).arg(floorPort);
        const QStringList arguments =
            upload ? QStringList{QStringLiteral("-F"), QStringLiteral("file=@") + source,
                                 url + QStringLiteral("upload")}
                   : QStringList{QStringLiteral("-o"), fetched, url + QStringLiteral("file")};
        Spawned client;
        QElapsedTimer clock;
        clock.start();
        bool ok = end.listening() &&
                  client.Start(curl,
                               QStringList{QStringLiteral("-sS"), QStringLiteral("--interface"),
                                           kSenderAddress} +
                                   arguments,
                               OwnEnvironment(), true, true) &&
                  WatchUntil(
                      {&client}, [&] { return client.Poll(); }, kChildTimeoutMs) &&
                  client.Succeeded();
        const double seconds = clock.nsecsElapsed() / 1e9;
        client.Kill();
        ok = ok && end.Served();  // a curl that never came leaves it to the destructor
        qint64 offset = 0;
        if (ok && upload) {
            QFile body(fetched);
            offset = body.open(QIODevice::ReadOnly) ? body.read(4096).indexOf("\r\n\r\n") : -1;
            ok = offset >= 0;
            offset += 4;
        }
        ok = ok && SameContent(source, fetched, offset);
        QFile::remove(fetched);
        if (ok)
            way.floor.push_back(seconds);
        else
            std::printf("  %s: the curl floor FAILED\n%s", qPrintable(way.name),
                        client.error.constData());
        return ok ? size / 1e6 / seconds : 0.0;
    };
    // One transfer of a way; its speed, 0 when it failed.
    const auto webOnce = [&](Way& way, bool upload, int k) {
        EmptyFolder(received);
        QFile::remove(fetched);
        Warm(source);
        WebPage page;
        // A port of its own each time, so that no connection left from the last page matters.
        const quint16 pagePort = port++;
        Run run;
        QByteArray answer;
        bool ok = StartWebPage(tolvex, curl, work, source, received, pagePort, page);
        if (ok) {
            const QStringList arguments =
                upload ? QStringList{QStringLiteral("-F"),
                                     QStringLiteral("file=@") + source,
                                     QStringLiteral("-H"),
                                     QStringLiteral("X-Tolvex-Token: ") + page.token,
                                     QStringLiteral("-b"),
                                     page.cookieJar,
                                     page.url + QStringLiteral("api/upload")}
                       : QStringList{QStringLiteral("-b"), page.cookieJar, QStringLiteral("-o"),
                                     fetched,
                                     page.url + QStringLiteral("api/file/%1").arg(page.fileId)};
            ok = WebCurlRun(curl, page, arguments, upload, run, answer) && run.seconds > 0 &&
                 (!upload || answer.contains("\"saved\""));
        }
        page.Stop();
        page.program.ReadError();
        if (ok) {
            way.seconds.push_back(run.seconds);
            exact = exact && SameContent(source, upload ? arrived : fetched);
            // The run with the highest growth, the first one even when it has none.
            const qint64 peak = upload ? run.receiverPeak : run.senderPeak;
            const qint64 idle = upload ? run.receiverIdle : run.senderIdle;
            if (way.peakKiB < 0 || peak - idle > way.peakKiB - way.idleKiB) {
                way.peakKiB = peak;
                way.idleKiB = idle;
            }
            way.pageCpu += upload ? run.receiverCpu : run.senderCpu;
            way.curlCpu += upload ? run.senderCpu : run.receiverCpu;
        } else {
            ++failures;
            std::printf("  %s %d FAILED; curl said:\n%s\n%s", qPrintable(way.name), k + 1,
                        answer.constData(),
                        page.said.isEmpty()
                            ? ("the program said:\n" + page.program.error).constData()
                            : page.said.constData());
        }
        EmptyFolder(received);
        QFile::remove(fetched);
        return ok ? size / 1e6 / run.seconds : 0.0;
    };
    for (int k = 0; k < runs; ++k) {
        const double upSpeed = webOnce(up, true, k);
        const double upFloor = floorOnce(up, true);
        const double upPlain = plainOnce(up);
        const double downSpeed = webOnce(down, false, k);
        const double downFloor = floorOnce(down, false);
        const double downPlain = plainOnce(down);
        std::printf(
            "  web %d: upload %.1f MB/s, curl floor %.1f MB/s, plain %.1f MB/s; download "
            "%.1f MB/s, curl floor %.1f MB/s, plain %.1f MB/s\n",
            k + 1, upSpeed, upFloor, upPlain, downSpeed, downFloor, downPlain);
        std::fflush(stdout);
    }
    QDir(received).removeRecursively();
    const double mb = size / 1e6;
    std::printf("%-16s %5s %11s %11s %6s %11s %6s %20s %10s %8s %9s %6s\n", "web row", "runs",
                "Tolvex MB/s", "plain MB/s", "ratio", "floor MB/s", "ratio", "Tolvex peak MiB",
                "Tolvex cpu", "curl cpu", "plain cpu", "exact");
    for (const Way* way : {&up, &down}) {
        if (way->seconds.empty() || way->plain.empty()) {
            std::printf("%-16s all runs failed\n", qPrintable(way->name));
            continue;
        }
        const double own = Median(way->seconds), plain = Median(way->plain);
        const int n = int(way->seconds.size());
        const double floor = way->floor.empty() ? -1 : Median(way->floor);
        std::printf(
            "%-16s %2d/%-2d %11.1f %11.1f %6.2f %11.1f %6.2f %20s %9.2fs %7.2fs %8.2fs %6s\n",
            qPrintable(way->name), n, runs, mb / own, mb / plain, plain / own,
            floor > 0 ? mb / floor : 0.0, floor > 0 ? floor / own : 0.0,
            qPrintable(MiB(way->peakKiB, way->idleKiB)), way->pageCpu / n, way->curlCpu / n,
            way->plainCpu / double(way->plain.size()), exact ? "yes" : "NO");
    }
    std::printf("targets: ratio at least 0.7 each way, peak at most 32 MiB above the idle page\n");
    std::fflush(stdout);
    return failures == 0 && exact;
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
        } else if (args[i] == QStringLiteral("--rows") && i + 1 < args.size() &&
                   QStringList{QStringLiteral("engines"), QStringLiteral("cli"),
                               QStringLiteral("batch"), QStringLiteral("tls"),
                               QStringLiteral("web"), QStringLiteral("all")}
                       .contains(args[i + 1])) {
            rows = args[++i];
        } else if (args[i] == QStringLiteral("--scrambling")) {
            scrambling = true;
        } else {
            std::fprintf(
                stderr,
                "usage: tolvex_bench [--size BYTES|NNNM|NNNG] [--runs N] [--dir FOLDER] "
                "[--tolvex PROGRAM] [--rows engines|cli|batch|tls|web|all] [--scrambling]\n");
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
    if (all || rows == QStringLiteral("engines") || rows == QStringLiteral("cli"))
        PrintRowHeader();
    std::fflush(stdout);
    if (all || rows == QStringLiteral("engines")) {
        for (const Row& row : {Row{QStringLiteral("engines default"), false, 0},
                               Row{QStringLiteral("engines 4 MB"), false, 4}}) {
            if (!RunRow(row, app.applicationFilePath(), tolvex, work.path(), source, size, runs,
                        scrambling))
                ++failures;
        }
    }
    if (all || rows == QStringLiteral("cli")) {
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
    if (all || rows == QStringLiteral("tls")) {
        const QString problem = CliProblem(tolvex);
        if (!problem.isEmpty())
            std::printf("tls row skipped: %s\n", qPrintable(problem));
        else if (!RunTlsRow(tolvex, work.path(), source, size, runs))
            ++failures;
    }
    if (all || rows == QStringLiteral("web")) {
        const QString problem = WebProblem(tolvex);
        if (!problem.isEmpty())
            std::printf("web row skipped: %s\n", qPrintable(problem));
        else if (!RunWebRow(tolvex, work.path(), source, size, runs))
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}

// Sends one file from the send window to a running copy of the program that receives it
// automatically, both on loopback, and copies the same file over a plain loopback TCP
// connection in the same run. Prints the throughput of both, their ratio and the peak resident
// memory of the sending and the receiving process, once with the default buffers and once with
// 4 MB buffers.
//
//   tolvex_bench [--size BYTES|NNNM|NNNG] [--random] [--dir FOLDER] [--tolvex PROGRAM]
//
// The sender runs in a child process of this program (--child-send), so that its memory is
// its own; the receiver is the program itself, started with --address 127.0.0.3.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <thread>
#include <vector>

#include "address/AddressCode.h"
#include "common/Session.h"
#include "platform/MessageBox.h"
#include "platform/SettingsStore.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "records/Settings.h"
#include "transfer/SendWindow.h"

namespace {

const QString kSenderAddress = QStringLiteral("127.0.0.2");
const QString kReceiverAddress = QStringLiteral("127.0.0.3");

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

double MiB(qint64 kib) {
    return kib / 1024.0;
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

bool MakeSourceFile(const QString& path, qint64 size, bool random) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (!random)
        return file.resize(size);         // sparse: reads give zeros
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

// Reads the file once so that both copies start from the page cache.
void Warm(const QString& path) {
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

// ---- The plain copy: the floor that any transfer over loopback TCP pays ----

double PlainCopySeconds(const QString& source, const QString& target, qint64 bufferBytes) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.3", &where.sin_addr);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(listener, 1) != 0) {
        ::close(listener);
        return -1;
    }
    socklen_t length = sizeof where;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&where), &length);

    bool received = false;
    std::thread receiver([&] {
        const int connection = ::accept(listener, nullptr, nullptr);
        const int out =
            ::open(target.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char> buffer(bufferBytes);
        ssize_t n = 0;
        bool ok = connection >= 0 && out >= 0;
        while (ok && (n = ::recv(connection, buffer.data(), buffer.size(), 0)) > 0)
            ok = ::write(out, buffer.data(), n) == n;
        ::close(out);
        ::close(connection);
        received = ok && n == 0;
    });

    QElapsedTimer clock;
    clock.start();
    const int connection = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.2", &from.sin_addr);
    bool ok = ::bind(connection, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
              ::connect(connection, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
    const int in = ::open(source.toLocal8Bit().constData(), O_RDONLY);
    std::vector<char> buffer(bufferBytes);
    ssize_t n = 0;
    while (ok && (n = ::read(in, buffer.data(), buffer.size())) > 0) {
        for (ssize_t sent = 0; ok && sent < n;) {
            const ssize_t s = ::send(connection, buffer.data() + sent, n - sent, 0);
            ok = s > 0;
            sent += s;
        }
    }
    ::close(in);
    ::close(connection);
    receiver.join();
    const double seconds = clock.nsecsElapsed() / 1e9;
    ::close(listener);
    return ok && received ? seconds : -1;
}

// ---- The sending child: the send window on 127.0.0.2 ----

class PrintingMessageBox : public tvx::MessageBoxService {
public:
    tvx::MessageAnswer Show(QWidget*, const QString& text, const QString& title,
                            tvx::MessageStyle) override {
        std::fprintf(stderr, "message [%s] %s\n", qPrintable(title), qPrintable(text));
        ++shown;
        return tvx::MessageAnswer::Ok;
    }
    int shown = 0;
};

class QuietShell : public tvx::ShellService {
public:
    bool Open(const QString&) override { return true; }
    QString TypeName(const QString&) override { return QString(); }
    QStringList IconNames(const QString&) override { return {}; }
    void SetClipboardText(const QString&) override {}
    QString ClipboardText() override { return QString(); }
};

int RunSender(int argc, char** argv) {
    // --child-send FILE 0|4
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString file = args.value(2);
    const int bufferMb = args.value(3).toInt();

    tvx::Platform platform;
    auto box = std::make_unique<PrintingMessageBox>();
    PrintingMessageBox* messages = box.get();
    platform.messageBox = std::move(box);
    platform.shell = std::make_unique<QuietShell>();
    // The settings in a throw-away file, so that the user's own stay untouched.
    QTemporaryDir settingsFolder;
    auto store = std::make_unique<tvx::IniSettingsStore>(
        settingsFolder.filePath(QStringLiteral("Kestrane.ini")));
    if (bufferMb > 0) {
        store->Write(QStringLiteral("UseSendBuffer"), QStringLiteral("1"));
        store->Write(QStringLiteral("SendBufferSize"), QString::number(bufferMb));
    }
    platform.settings = std::move(store);
    platform.system = std::make_unique<tvx::HostSystemInfo>();

    tvx::Session session(platform);
    session.localAddress = kSenderAddress;
    session.localAddressCode = tvx::EncodeAddressCode(kSenderAddress);
    session.personalInfo.nickName = QStringLiteral("bench");
    tvx::LoadMainSettings(session.store(), session.settings);

    tvx::SendWindow window(session);
    window.SetPauseMs(0);
    window.ShowSendWindow();
    window.txtFSInfo(1)->setText(kReceiverAddress);
    window.txtFSInfo(2)->setText(file);
    QCoreApplication::processEvents();
    const qint64 idle = StatusKiB(QCoreApplication::applicationPid(), "VmHWM:");

    QElapsedTimer clock;
    double cpuAtStart = 0;
    QObject::connect(&window, &tvx::SendWindow::ChunkSent, &window, [&clock, &cpuAtStart] {
        if (!clock.isValid()) {
            clock.start();
            cpuAtStart = CpuSeconds(QCoreApplication::applicationPid());
        }
    });
    QTimer poll;
    poll.setInterval(2);
    int outcome = -1;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        const int page = window.CurrentPage();
        if (page >= tvx::SendWindow::PageFinished ||
            (page == tvx::SendWindow::PageInput && messages->shown > 0)) {
            outcome = page;
            app.quit();
        }
    });
    poll.start();
    window.SendClicked();
    app.exec();
    const double seconds = clock.isValid() ? clock.nsecsElapsed() / 1e9 : -1;
    const qint64 peak = StatusKiB(QCoreApplication::applicationPid(), "VmHWM:");
    const double cpu = CpuSeconds(QCoreApplication::applicationPid()) - cpuAtStart;
    std::printf("RESULT %d %.6f %lld %lld %lld %.3f\n", outcome, seconds, idle, peak,
                session.settings.sendBufferBytes, cpu);
    return outcome == tvx::SendWindow::PageFinished ? 0 : 1;
}

// ---- The orchestration ----

struct Figures {
    double transferSeconds = -1;
    double plainSeconds = -1;
    qint64 senderIdle = -1, senderPeak = -1;
    qint64 receiverIdle = -1, receiverPeak = -1;
    qint64 chunk = 0;
    double senderCpu = -1, receiverCpu = -1;
    bool exact = false;
};

bool RunOnce(const QString& program, const QString& tolvex, const QString& work,
             const QString& source, int bufferMb, Figures& figures) {
    const QString config = work + QStringLiteral("/config");
    const QString data = work + QStringLiteral("/data");
    const QString downloads = work + QStringLiteral("/downloads");
    for (const QString& folder : {config + QStringLiteral("/Kestrane"), data, downloads})
        QDir().mkpath(folder);
    {
        QFile ini(config + QStringLiteral("/Kestrane/Kestrane.ini"));
        if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        QTextStream out(&ini);
        out << "[Settings]\nAutoRecvFile=1\nAutoSavePath=" << downloads << "\nExistFile=1\n";
        if (bufferMb > 0) {
            out << "UseSendBuffer=1\nSendBufferSize=" << bufferMb << "\nUseRecvBuffer=1\n"
                << "RecvBufferSize=" << bufferMb << "\n";
        }
    }

    QProcess receiver;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    receiver.setProcessEnvironment(environment);
    receiver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    receiver.start(tolvex, {QStringLiteral("--address"), kReceiverAddress,
                            QStringLiteral("--data-dir"), data});
    if (!receiver.waitForStarted(5000))
        return false;
    QElapsedTimer wait;
    wait.start();
    while (!Listening(kReceiverAddress, 8510) && wait.elapsed() < 10000)
        QThread::msleep(20);
    QThread::msleep(300);
    figures.receiverIdle = StatusKiB(receiver.processId(), "VmHWM:");
    const double receiverCpuBefore = CpuSeconds(receiver.processId());

    Warm(source);
    QProcess sender;
    sender.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sender.start(program, {QStringLiteral("--child-send"), source, QString::number(bufferMb)});
    sender.waitForFinished(-1);
    const QList<QByteArray> result = sender.readAllStandardOutput().trimmed().split(' ');
    // The receiver writes its last bytes and renames the file around the completion message.
    const QString target = downloads + QLatin1Char('/') + QFileInfo(source).fileName();
    wait.restart();
    while (!QFile::exists(target) && wait.elapsed() < 10000)
        QThread::msleep(20);
    figures.receiverPeak = StatusKiB(receiver.processId(), "VmHWM:");
    figures.receiverCpu = CpuSeconds(receiver.processId()) - receiverCpuBefore;
    receiver.kill();
    receiver.waitForFinished(5000);
    if (result.size() < 7 || result[0] != "RESULT" ||
        result[1].toInt() != tvx::SendWindow::PageFinished)
        return false;
    figures.transferSeconds = result[2].toDouble();
    figures.senderIdle = result[3].toLongLong();
    figures.senderPeak = result[4].toLongLong();
    figures.chunk = result[5].toLongLong();
    figures.senderCpu = result[6].toDouble();
    figures.exact = SameContent(source, target);
    QFile::remove(target);

    const QString copy = work + QStringLiteral("/plain-copy.bin");
    Warm(source);
    figures.plainSeconds = PlainCopySeconds(source, copy, figures.chunk);
    QFile::remove(copy);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && qstrcmp(argv[1], "--child-send") == 0)
        return RunSender(argc, argv);

    QCoreApplication app(argc, argv);
    qint64 size = 1LL << 30;
    bool random = false;
    QString folder = QDir::tempPath();
    QString tolvex = QStringLiteral(TOLVEX_BINARY);
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--size") && i + 1 < args.size()) {
            size = ParseSize(args[++i]);
        } else if (args[i] == QStringLiteral("--random")) {
            random = true;
        } else if (args[i] == QStringLiteral("--dir") && i + 1 < args.size()) {
            folder = args[++i];
        } else if (args[i] == QStringLiteral("--tolvex") && i + 1 < args.size()) {
            tolvex = args[++i];
        } else {
            std::fprintf(stderr,
                         "usage: tolvex_bench [--size BYTES|NNNM|NNNG] [--random] [--dir FOLDER] "
                         "[--tolvex PROGRAM]\n");
            return 2;
        }
    }
    if (size <= 0 || size > 2147483647LL) {
        // The send window refuses files of 2 GiB and more.
        std::fprintf(stderr, "tolvex_bench: the size must be 1 to 2147483647 bytes\n");
        return 2;
    }

    QTemporaryDir work(folder + QStringLiteral("/tolvex-bench-XXXXXX"));
    if (!work.isValid())
        return 1;
    const QString source = work.path() + QStringLiteral("/source.bin");
    if (!MakeSourceFile(source, size, random)) {
        std::fprintf(stderr, "tolvex_bench: cannot make %s\n", qPrintable(source));
        return 1;
    }
    std::printf("file: %lld bytes (%s), receiver: %s\n", size, random ? "random" : "sparse",
                qPrintable(tolvex));
    std::printf("%-9s %8s %10s %10s %6s %17s %17s %8s %8s %6s\n", "buffers", "chunk", "send MB/s",
                "plain MB/s", "ratio", "sender peak MiB", "recv peak MiB", "send cpu", "recv cpu",
                "exact");
    int failures = 0;
    for (int bufferMb : {0, 4}) {
        Figures f;
        if (!RunOnce(app.applicationFilePath(), tolvex, work.path(), source, bufferMb, f)) {
            std::printf("%-9s run failed\n", bufferMb ? "4 MB" : "default");
            ++failures;
            continue;
        }
        const double mb = size / 1e6;
        const double sendRate = mb / f.transferSeconds;
        const double plainRate = mb / f.plainSeconds;
        std::printf(
            "%-9s %8lld %10.1f %10.1f %6.2f %7.1f (+%6.1f) %7.1f (+%6.1f) %7.2fs %7.2fs %6s\n",
            bufferMb ? "4 MB" : "default", f.chunk, sendRate, plainRate, sendRate / plainRate,
            MiB(f.senderPeak), MiB(f.senderPeak - f.senderIdle), MiB(f.receiverPeak),
            MiB(f.receiverPeak - f.receiverIdle), f.senderCpu, f.receiverCpu,
            f.exact ? "yes" : "NO");
        std::fflush(stdout);
        if (!f.exact)
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}

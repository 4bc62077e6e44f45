#include "platform/Headless.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QMimeDatabase>
#include <QSocketNotifier>

namespace tvx {

namespace {

// Writes what a message box would show; a question gets the answer that changes nothing.
class TerminalMessageBox : public MessageBoxService {
public:
    explicit TerminalMessageBox(MessageSink sink) : m_sink(std::move(sink)) {}

    MessageAnswer Show(QWidget*, const QString& text, const QString&, MessageStyle style) override {
        m_sink(text);
        switch (style.buttons) {
            case MessageButtons::YesNo:
                return MessageAnswer::No;
            case MessageButtons::YesNoCancel:
                return MessageAnswer::Cancel;
            case MessageButtons::Ok:
                break;
        }
        return MessageAnswer::Ok;
    }

private:
    MessageSink m_sink;
};

// Type names from the shared MIME database, as the desktop shell gives them; nothing opens.
class HeadlessShellService : public ShellService {
public:
    bool Open(const QString&) override { return false; }
    QString TypeName(const QString& path) override {
        const QMimeType mime = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
        return mime.isValid() && !mime.isDefault() ? mime.comment() : QString();
    }
    QStringList IconNames(const QString&) override { return {}; }
    void SetClipboardText(const QString&) override {}
    QString ClipboardText() override { return QString(); }
};

}  // namespace

std::unique_ptr<Platform> CreateHeadlessPlatform(MessageSink sink,
                                                 const ServiceDiscoveryFactory& discovery) {
    auto platform = std::make_unique<Platform>();
    platform->messageBox = std::make_unique<TerminalMessageBox>(std::move(sink));
    platform->shell = std::make_unique<HeadlessShellService>();
    platform->settings = std::make_unique<IniSettingsStore>();
    platform->system = std::make_unique<HostSystemInfo>();
    if (discovery)
        platform->discovery = discovery();
    if (!platform->discovery)
        platform->discovery = std::make_unique<NullServiceDiscovery>();
    return platform;
}

namespace {

sigset_t StopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

bool StopSignals::Block() {
    const sigset_t set = StopSignalSet();
    return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    const sigset_t set = StopSignalSet();
    if (!Block())
        return;
    m_fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd < 0) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    auto* notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo info;
        while (read(m_fd, &info, sizeof info) == ssize_t(sizeof info))
            emit StopRequested(int(info.ssi_signo));
    });
}

StopSignals::~StopSignals() {
    if (m_fd >= 0)
        close(m_fd);
}

}  // namespace tvx

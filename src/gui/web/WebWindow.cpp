#include "web/WebWindow.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "common/Messages.h"
#include "common/Paths.h"
#include "common/ShellRoutines.h"
#include "common/Text.h"
#include "common/Windows.h"
#include "session/Session.h"
#include "texts/BatchTexts.h"
#include "texts/WebTexts.h"
#include "web/QrCode.h"

namespace tvx {

namespace {

// The code drawn with whole pixels per module (a scaled code blurs and reads badly), with its
// white quiet zone, about `side` logical pixels wide.
QPixmap QrPixmap(const QrMatrix& code, int side, qreal pixelRatio) {
    if (code.isEmpty())
        return QPixmap();
    const int modules = code.size + 2 * WebWindow::kQrQuietZone;
    const int module = qMax(1, int(side * pixelRatio) / modules);
    QImage image(modules * module, modules * module, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QRgb dark = qRgb(0, 0, 0);
    for (int y = 0; y < code.size; ++y) {
        for (int x = 0; x < code.size; ++x) {
            if (!code.IsDark(x, y))
                continue;
            const int left = (x + WebWindow::kQrQuietZone) * module;
            const int top = (y + WebWindow::kQrQuietZone) * module;
            for (int row = top; row < top + module; ++row) {
                auto* line = reinterpret_cast<QRgb*>(image.scanLine(row));
                std::fill(line + left, line + left + module, dark);
            }
        }
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(pixelRatio);
    return pixmap;
}

QLabel* Caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

}  // namespace

WebWindow::WebWindow(Session& session, quint16 port, QWidget* parent)
    : QWidget(parent),
      m_session(session),
      m_port(port),
      m_server(session),
      m_lblAddress(new QLabel(this)),
      m_picQr(new QLabel(this)),
      m_lblCode(new QLabel(this)),
      m_txtReceiveFolder(new QLineEdit(this)),
      m_lstShared(new QListWidget(this)),
      m_cmdRemoveShare(new QPushButton(QStringLiteral("移除"), this)),
      m_lstActivity(new QListWidget(this)) {
    setObjectName(QStringLiteral("frmWeb"));
    setWindowTitle(QStringLiteral("网页传输"));
    setAcceptDrops(true);

    m_picQr->setObjectName(QStringLiteral("picQr"));
    m_picQr->setAlignment(Qt::AlignCenter);
    m_picQr->setMinimumSize(kQrSide, kQrSide);
    m_picQr->setStyleSheet(QStringLiteral("background: white;"));

    m_lblAddress->setObjectName(QStringLiteral("lblAddress"));
    m_lblAddress->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QFont addressFont = m_lblAddress->font();
    addressFont.setPointSizeF(addressFont.pointSizeF() * 1.3);
    addressFont.setBold(true);
    m_lblAddress->setFont(addressFont);

    m_lblCode->setObjectName(QStringLiteral("lblCode"));
    m_lblCode->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont codeFont = m_lblCode->font();
    codeFont.setPointSizeF(codeFont.pointSizeF() * 3);
    codeFont.setBold(true);
    codeFont.setLetterSpacing(QFont::AbsoluteSpacing, 4);
    m_lblCode->setFont(codeFont);
    m_lblCode->setStyleSheet(QStringLiteral("color: #0050C0;"));

    auto* lblHint = new QLabel(WebScanHint(), this);
    lblHint->setObjectName(QStringLiteral("lblHint"));
    lblHint->setWordWrap(true);
    auto* lblNote = new QLabel(WebPlainHttpNote(), this);
    lblNote->setObjectName(QStringLiteral("lblPlainHttp"));
    lblNote->setWordWrap(true);
    lblNote->setStyleSheet(QStringLiteral("color: #A04000;"));

    auto* facts = new QVBoxLayout;
    facts->addWidget(Caption(QStringLiteral("网页地址:"), this));
    facts->addWidget(m_lblAddress);
    facts->addSpacing(6);
    facts->addWidget(Caption(QStringLiteral("代码:"), this));
    facts->addWidget(m_lblCode);
    facts->addSpacing(6);
    facts->addWidget(lblHint);
    facts->addWidget(lblNote);
    facts->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(m_picQr, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(facts, 1);

    m_txtReceiveFolder->setObjectName(QStringLiteral("txtReceiveFolder"));
    m_txtReceiveFolder->setReadOnly(true);
    auto* cmdBrowseFolder = new QPushButton(QStringLiteral("浏览..."), this);
    cmdBrowseFolder->setObjectName(QStringLiteral("cmdBrowseFolder"));
    connect(cmdBrowseFolder, &QPushButton::clicked, this, &WebWindow::BrowseFolderClicked);

    m_lstShared->setObjectName(QStringLiteral("lstShared"));
    m_lstShared->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* cmdAddShare = new QPushButton(QStringLiteral("添加文件..."), this);
    cmdAddShare->setObjectName(QStringLiteral("cmdAddShare"));
    connect(cmdAddShare, &QPushButton::clicked, this, &WebWindow::AddShareClicked);
    m_cmdRemoveShare->setObjectName(QStringLiteral("cmdRemoveShare"));
    m_cmdRemoveShare->setEnabled(false);
    connect(m_cmdRemoveShare, &QPushButton::clicked, this, &WebWindow::RemoveShareClicked);
    connect(m_lstShared, &QListWidget::itemSelectionChanged, this,
            [this] { m_cmdRemoveShare->setEnabled(!m_lstShared->selectedItems().isEmpty()); });

    m_lstActivity->setObjectName(QStringLiteral("lstActivity"));
    m_lstActivity->setSelectionMode(QAbstractItemView::NoSelection);
    m_lstActivity->setWordWrap(true);

    auto* cmdStop = new QPushButton(QStringLiteral("停止"), this);
    cmdStop->setObjectName(QStringLiteral("cmdStop"));
    connect(cmdStop, &QPushButton::clicked, this, &QWidget::close);

    auto* grid = new QGridLayout;
    grid->addWidget(Caption(QStringLiteral("接收文件夹:"), this), 0, 0);
    grid->addWidget(m_txtReceiveFolder, 0, 1);
    grid->addWidget(cmdBrowseFolder, 0, 2);
    grid->addWidget(Caption(QStringLiteral("提供下载的文件(可拖放到窗口):"), this), 1, 0, 1, 3);
    grid->addWidget(m_lstShared, 2, 0, 3, 2);
    grid->addWidget(cmdAddShare, 2, 2);
    grid->addWidget(m_cmdRemoveShare, 3, 2);
    grid->addWidget(Caption(QStringLiteral("传输记录:"), this), 5, 0, 1, 3);
    grid->addWidget(m_lstActivity, 6, 0, 1, 3);
    grid->setRowStretch(4, 1);
    grid->setRowStretch(6, 2);
    grid->setColumnStretch(1, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(cmdStop);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addLayout(grid, 1);
    layout->addLayout(bottom);
    resize(640, 620);

    m_timNotice.setSingleShot(true);
    m_timNotice.setInterval(kNoticeGapMs);
    connect(&m_timNotice, &QTimer::timeout, this, &WebWindow::NoticeGapEnded);
    connect(&m_server, &WebServer::Happened, this, &WebWindow::ShowEvent);
    connect(&m_server, &WebServer::PhaseChanged, this, &WebWindow::PhaseChanged);
}

WebWindow::~WebWindow() {
    m_closing = true;
    m_server.Stop();
}

QString WebWindow::DefaultReceiveFolder() const {
    const SettingsRecord& settings = m_session.settings;
    if (settings.autoRecvFile && !settings.autoSavePath.isEmpty() &&
        FolderExists(settings.autoSavePath))
        return settings.autoSavePath;
    return QString();
}

bool WebWindow::Open() {
    QString folder = DefaultReceiveFolder();
    if (folder.isEmpty())
        folder = CutAtNul(m_session.dialogs().BrowseFolder(nullptr, WebReceiveFolderTitle()));
    if (folder.isEmpty()) {
        close();
        return false;
    }
    const WebServer::StartFailure failure = m_server.Start(folder, m_port);
    if (failure != WebServer::StartFailure::None) {
        ShowMessage(m_session.messageBox(), nullptr, WebStartFailureText(failure, m_port, folder),
                    MessageKind::Error, false);
        close();
        return false;
    }
    m_txtReceiveFolder->setText(folder);
    m_txtReceiveFolder->setToolTip(folder);
    ShowAddress();
    ShowShares();
    CenterForm(m_session.display, this);
    BringForward(this);
    return true;
}

void WebWindow::ShowAddress() {
    const QString url = m_server.Url();
    m_lblAddress->setText(url);
    m_lblCode->setText(m_server.Code());
    m_picQr->setPixmap(QrPixmap(EncodeQr(url.toUtf8()), kQrSide, devicePixelRatioF()));
}

void WebWindow::BrowseFolderClicked() {
    const QString folder =
        CutAtNul(m_session.dialogs().BrowseFolder(this, WebReceiveFolderTitle()));
    if (folder.isEmpty() || !m_server.SetReceiveFolder(folder))
        return;
    m_txtReceiveFolder->setText(folder);
    m_txtReceiveFolder->setToolTip(folder);
}

void WebWindow::AddShareClicked() {
    QStringList paths = m_session.dialogs().OpenFiles(this, QStringLiteral("选择提供下载的文件"),
                                                      kAllFilesFilter, kOpenFileOptions);
    for (QString& path : paths)
        path = CutAtNul(path);
    paths.removeAll(QString());
    AddShares(paths);
}

bool WebWindow::FilesDropped(const QMimeData* data) {
    if (!data || !data->hasUrls())
        return false;
    QStringList paths;
    for (const QUrl& url : data->urls()) {
        const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
        if (!path.isEmpty() && !paths.contains(path))
            paths.append(path);
    }
    if (paths.isEmpty())
        return false;
    AddShares(paths);
    return true;
}

void WebWindow::AddShares(const QStringList& paths) {
    QStringList refused;
    for (const QString& path : paths) {
        // Folders are not offered: the page names single files.
        if (!QFileInfo(path).isFile() || m_server.Share(path) == 0)
            refused << path;
    }
    ShowShares();
    if (!refused.isEmpty())
        ShowMessage(m_session.messageBox(), this, WebShareRefusedText(refused),
                    MessageKind::Warning, false);
}

void WebWindow::RemoveShareClicked() {
    const QList<QListWidgetItem*> chosen = m_lstShared->selectedItems();
    for (const QListWidgetItem* item : chosen)
        m_server.Unshare(item->data(Qt::UserRole).toUInt());
    ShowShares();
}

void WebWindow::ShowShares() {
    m_lstShared->clear();
    for (const WebShare& share : m_server.Shares()) {
        auto* item = new QListWidgetItem(
            share.name + QStringLiteral("  (") + BatchSizeText(share.size) + QLatin1Char(')'),
            m_lstShared);
        item->setData(Qt::UserRole, share.id);
        item->setToolTip(share.path);
    }
    m_cmdRemoveShare->setEnabled(false);
}

void WebWindow::ShowEvent(const WebEvent& event) {
    m_lstActivity->addItem(WebEventLine(event));
    while (m_lstActivity->count() > kMaxActivityLines)
        delete m_lstActivity->takeItem(0);
    m_lstActivity->scrollToBottom();
    if (event.kind == WebEvent::Kind::Arrived)
        NoticeArrival(event);
}

void WebWindow::NoticeArrival(const WebEvent& event) {
    // One notification at a time: a phone that sends a hundred photos does not bury the
    // desktop under a hundred notices; those that come meanwhile are counted in the next one.
    if (m_timNotice.isActive()) {
        ++m_unannounced;
        return;
    }
    m_session.notifications().Notify(NotifyKind::WebArrived, WebArrivedSummary(),
                                     WebArrivedNotice(event));
    m_timNotice.start();
}

void WebWindow::NoticeGapEnded() {
    if (m_unannounced == 0)
        return;
    m_session.notifications().Notify(NotifyKind::WebArrived, WebArrivedSummary(),
                                     WebArrivedMoreNotice(m_unannounced));
    m_unannounced = 0;
    m_timNotice.start();
}

void WebWindow::PhaseChanged(WebServer::Phase phase) {
    // A page that ended by itself leaves no window showing a dead address.
    if (phase == WebServer::Phase::Stopped && !m_closing)
        close();
}

void WebWindow::closeEvent(QCloseEvent* event) {
    m_closing = true;
    m_timNotice.stop();
    m_unannounced = 0;
    m_server.Stop();
    m_session.notifications().Withdraw(NotifyKind::WebArrived);
    event->accept();
}

void WebWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void WebWindow::dropEvent(QDropEvent* event) {
    FilesDropped(event->mimeData());
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

}  // namespace tvx

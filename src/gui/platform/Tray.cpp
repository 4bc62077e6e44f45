#include "platform/Tray.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLockFile>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <algorithm>

namespace tvx {

namespace {

// The notification area's tips use "\r" between lines; widgets want "\n".
QString TipText(const QString& tip) {
    return QString(tip).replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

// A small always-available window that stands in for the notification-area icon.
class TrayStandIn : public QWidget {
public:
    TrayStandIn(TrayIcon& owner, QLabel*& picture) : m_owner(owner) {
        setObjectName(QStringLiteral("frmTray"));
        setWindowTitle(QStringLiteral("Tolvex"));
        setWindowFlag(Qt::Tool, true);
        picture = new QLabel(this);
        picture->setObjectName(QStringLiteral("picTray"));
        picture->setFixedSize(32, 32);
        m_tip = new QLabel(this);
        m_tip->setObjectName(QStringLiteral("lblTip"));
        auto* menu = new QPushButton(QStringLiteral("菜单"), this);
        menu->setObjectName(QStringLiteral("cmdMenu"));
        connect(menu, &QPushButton::clicked, this,
                [this] { emit m_owner.Clicked(TrayClick::Right); });
        auto* row = new QHBoxLayout;
        row->addWidget(picture);
        row->addWidget(m_tip, 1);
        auto* layout = new QVBoxLayout(this);
        layout->addLayout(row);
        layout->addWidget(menu);
    }
    void SetTip(const QString& tip) {
        m_tip->setText(TipText(tip));
        setToolTip(TipText(tip));
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton)
            emit m_owner.Clicked(TrayClick::Left);
        if (event->button() == Qt::RightButton)
            emit m_owner.Clicked(TrayClick::Right);
    }
    void closeEvent(QCloseEvent* event) override {
        // Without it nothing would be left on screen to reach the program: ask to end instead.
        event->ignore();
        emit m_owner.CloseRequested();
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton)
            emit m_owner.Clicked(TrayClick::Double);
    }

private:
    TrayIcon& m_owner;
    QLabel* m_tip;
};

constexpr int kStandInMargin = 8;
constexpr int kStandInSlots = 16;

// The first free place among the running copies of this user; the lock keeps it taken.
std::unique_ptr<QLockFile> TakeStandInSlot(int& slot) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    for (slot = 0; slot < kStandInSlots; ++slot) {
        auto lock =
            std::make_unique<QLockFile>(folder + QStringLiteral("/tolvex-tray-%1.lock").arg(slot));
        if (lock->tryLock(0))
            return lock;
    }
    slot = 0;
    return nullptr;
}

}  // namespace

QPoint StandInPosition(const QRect& available, const QSize& size, int slot) {
    const int x = available.x() + available.width() - size.width() - kStandInMargin;
    int y = available.y() + available.height() - size.height() - kStandInMargin -
            slot * (size.height() + kStandInMargin);
    y = std::max(y, available.y());
    return QPoint(std::max(x, available.x()), y);
}

DesktopTrayIcon::DesktopTrayIcon() = default;

DesktopTrayIcon::~DesktopTrayIcon() = default;

bool DesktopTrayIcon::Add(const QIcon& icon, const QString& tip) {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = std::make_unique<QSystemTrayIcon>(icon);
        m_tray->setToolTip(TipText(tip));
        connect(m_tray.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    switch (reason) {
                        case QSystemTrayIcon::Trigger:
                            emit Clicked(TrayClick::Left);
                            break;
                        case QSystemTrayIcon::DoubleClick:
                            emit Clicked(TrayClick::Double);
                            break;
                        case QSystemTrayIcon::Context:
                            emit Clicked(TrayClick::Right);
                            break;
                        default:
                            break;
                    }
                });
        m_tray->show();
        return true;
    }
    auto* standIn = new TrayStandIn(*this, m_picture);
    m_standIn.reset(standIn);
    standIn->SetTip(tip);
    m_picture->setPixmap(icon.pixmap(32, 32));
    standIn->setWindowIcon(icon);
    standIn->adjustSize();
    int slot = 0;
    m_slot = TakeStandInSlot(slot);
    // Room for a window manager's title bar, which the window's own size does not count.
    const QSize frame =
        standIn->size() +
        QSize(0, standIn->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, standIn));
    if (QScreen* screen = QGuiApplication::primaryScreen())
        standIn->move(StandInPosition(screen->availableGeometry(), frame, slot));
    standIn->show();
    return true;
}

void DesktopTrayIcon::Modify(const QIcon& icon) {
    if (m_tray)
        m_tray->setIcon(icon);
    if (m_standIn) {
        m_picture->setPixmap(icon.pixmap(32, 32));
        m_standIn->setWindowIcon(icon);
    }
}

void DesktopTrayIcon::Remove() {
    if (m_tray)
        m_tray->hide();
    m_tray.reset();
    if (m_standIn) {
        // It may be removed from inside its own event handler: delete it afterwards.
        m_standIn->hide();
        m_standIn.release()->deleteLater();
    }
    m_slot.reset();
    m_picture = nullptr;
}

bool DesktopTrayIcon::IsShown() const {
    return m_tray || m_standIn;
}

QRect DesktopTrayIcon::StandInFrame() const {
    return m_standIn && m_standIn->isVisible() ? m_standIn->frameGeometry() : QRect();
}

QWidget* DesktopTrayIcon::StandInWindow() const {
    return m_standIn.get();
}

}  // namespace tvx

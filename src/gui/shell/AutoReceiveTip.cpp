#include "shell/AutoReceiveTip.h"

#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>

#include "common/Format.h"
#include "common/Paths.h"
#include "common/ShellRoutines.h"
#include "session/Session.h"

namespace tvx {

namespace {

// Between the tip and the stand-in window below it.
constexpr int kStandInGap = 8;

}  // namespace

AutoReceiveTip::AutoReceiveTip(Session& session, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus),
      m_session(session),
      m_lblTip(new QLabel(this)),
      m_lblOpenFolder(new QLabel(QStringLiteral("打开接收目录"), this)),
      m_picClose(new QLabel(QStringLiteral("×"), this)) {
    setObjectName(QStringLiteral("frmTip"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(200, 130);

    m_lblTip->setObjectName(QStringLiteral("lblTip"));
    m_lblTip->setGeometry(12, 22, 180, 80);
    m_lblTip->setWordWrap(true);
    m_lblTip->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_lblOpenFolder->setObjectName(QStringLiteral("lblOpenFolder"));
    m_lblOpenFolder->setGeometry(12, 104, 120, 18);
    m_lblOpenFolder->setStyleSheet(QStringLiteral("color: #0050C0; text-decoration: underline;"));
    m_lblOpenFolder->setCursor(Qt::PointingHandCursor);
    m_lblOpenFolder->installEventFilter(this);

    m_picClose->setObjectName(QStringLiteral("picClose"));
    m_picClose->setGeometry(178, 2, 18, 18);
    m_picClose->setAlignment(Qt::AlignCenter);
    m_picClose->setStyleSheet(QStringLiteral("color: white; font-weight: bold;"));
    m_picClose->setCursor(Qt::PointingHandCursor);
    m_picClose->installEventFilter(this);

    m_timSlide.setInterval(10);
    connect(&m_timSlide, &QTimer::timeout, this, &AutoReceiveTip::SlideUp);
}

void AutoReceiveTip::Show(const QString& targetPath) {
    ++m_session.autoReceivedCount;
    m_session.display.screen = CaptureScreenMetrics(*m_session.platform.screen);
    m_lblTip->setText(QStringLiteral("已自动接收 ") + QString::number(m_session.autoReceivedCount) +
                      QStringLiteral(" 次文件") + QStringLiteral("\n\n") +
                      QStringLiteral("最后文件:") + FileNameOf(targetPath) +
                      QStringLiteral("\n\n") + QStringLiteral("最后时间:") +
                      ChatTimestamp(m_session.system().Now()));
    const ScreenMetrics& screen = m_session.display.screen;
    move(screen.width - width(), screen.height);
    show();
    m_timSlide.start();
}

QString AutoReceiveTip::Text() const {
    return m_lblTip->text().replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

void AutoReceiveTip::SlideUp() {
    if (y() > RestingY())
        move(x(), y() - 1);
    else
        m_timSlide.stop();
}

int AutoReceiveTip::RestingY() const {
    // The bottom edge meets the top of the task bar area.
    const ScreenMetrics& screen = m_session.display.screen;
    int top = screen.fullScreenHeight - height() + screen.captionHeight;
    // The stand-in is the only way into the program without a tray: never cover it.
    const QRect standIn = m_session.tray().StandInFrame();
    const bool sameColumn = standIn.left() < x() + width() && standIn.right() >= x();
    if (!standIn.isEmpty() && sameColumn && standIn.top() < top + height())
        top = qMax(0, qMin(top, standIn.top() - height() - kStandInGap));
    return top;
}

void AutoReceiveTip::CloseTip() {
    m_session.autoReceivedCount = 0;
    m_timSlide.stop();
    hide();
    emit Closed();
}

void AutoReceiveTip::OpenSaveFolder() {
    OpenOrWarn(m_session.shell(), m_session.messageBox(), this, m_session.settings.autoSavePath);
    CloseTip();
}

bool AutoReceiveTip::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == m_picClose) {
            CloseTip();
            return true;
        }
        if (watched == m_lblOpenFolder) {
            OpenSaveFolder();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void AutoReceiveTip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient background(0, 0, 0, height());
    background.setColorAt(0, QColor(0xE8, 0xF2, 0xFF));
    background.setColorAt(1, QColor(0xC4, 0xDC, 0xF8));
    painter.fillRect(rect(), background);
    painter.fillRect(QRect(0, 0, width(), 20), QColor(0x00, 0x80, 0xFF));
    painter.setPen(Qt::white);
    painter.drawText(QRect(8, 0, width() - 30, 20), Qt::AlignVCenter, QStringLiteral("Tolvex"));
    painter.setPen(QColor(0x00, 0x50, 0xA0));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void AutoReceiveTip::resizeEvent(QResizeEvent* event) {
    // Rounded corners: an 11 x 11 corner ellipse.
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, width() + 1, height() + 1), 5.5, 5.5);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
    QWidget::resizeEvent(event);
}

}  // namespace tvx

#include "transfer/FileInfoTip.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <limits>

#include "common/FileIcons.h"
#include "common/Format.h"
#include "common/Paths.h"
#include "common/ShellRoutines.h"
#include "session/Session.h"

namespace tvx {

QPixmap GenericFilePicture(int size) {
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal left = size * 0.18, right = size * 0.82, top = size * 0.06, bottom = size * 0.94;
    const qreal fold = size * 0.25;
    QPainterPath sheet;
    sheet.moveTo(left, top);
    sheet.lineTo(right - fold, top);
    sheet.lineTo(right, top + fold);
    sheet.lineTo(right, bottom);
    sheet.lineTo(left, bottom);
    sheet.closeSubpath();
    painter.setPen(QPen(QColor(0x70, 0x70, 0x70), qMax(1.0, size / 16.0)));
    painter.setBrush(Qt::white);
    painter.drawPath(sheet);
    QPainterPath corner;
    corner.moveTo(right - fold, top);
    corner.lineTo(right - fold, top + fold);
    corner.lineTo(right, top + fold);
    painter.setBrush(QColor(0xD8, 0xD8, 0xD8));
    painter.drawPath(corner);
    return picture;
}

FileInfoTip::FileInfoTip(Session& session)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_session(session),
      m_icon(new QLabel(this)) {
    setObjectName(QStringLiteral("FileInfoTip"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(0xFF, 0xFF, 0xE1));
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);

    m_icon->setFixedSize(36, 36);
    m_icon->setAlignment(Qt::AlignCenter);
    auto* text = new QVBoxLayout;
    text->setSpacing(1);
    for (int index = 1; index <= 3; ++index) {
        m_lines[index] = new QLabel(this);
        m_lines[index]->setObjectName(QStringLiteral("lblTipLine%1").arg(index));
        text->addWidget(m_lines[index]);
    }
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->addWidget(m_icon, 0, Qt::AlignTop);
    layout->addLayout(text);
}

void FileInfoTip::Prepare(const QString& path) {
    const QIcon icon = GetFileIcon(m_session.shell(), path, IconLarge);
    m_icon->setPixmap(icon.isNull() ? GenericFilePicture(32) : icon.pixmap(32, 32));
    const qint64 length = QFileInfo(path).size();
    const qint32 size = qint32(qMin<qint64>(length, std::numeric_limits<qint32>::max()));
    m_lines[1]->setText(QStringLiteral("类型: ") + GetFileTypeName(m_session.shell(), path));
    m_lines[2]->setText(QStringLiteral("大小: ") + FormatSizeWithBytes(size));
    m_lines[3]->setText(QStringLiteral("修改时间: ") + FileTimeText(path));
    int widest = 0;
    for (int index = 1; index <= 3; ++index)
        widest =
            qMax(widest, m_lines[index]->fontMetrics().horizontalAdvance(m_lines[index]->text()));
    // The widest line plus room for the icon; never narrower than the layout needs.
    const QSize wanted = sizeHint();
    setFixedSize(qMax(widest + m_session.display.PixelsX(975), wanted.width()), wanted.height());
}

}  // namespace tvx

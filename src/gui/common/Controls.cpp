#include "common/Controls.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

#include "common/Text.h"

namespace tvx {

NumberBox::NumberBox(QWidget* parent, const QString& name, int low, int high) : QSpinBox(parent) {
    setObjectName(name);
    // Plain digits whatever the desktop's language.
    setLocale(QLocale::c());
    setRange(low, high);
    setFixedWidth(54);
}

void NumberBox::SetIfInRange(int value) {
    if (value >= minimum() && value <= maximum())
        setValue(value);
}

QValidator::State NumberBox::validate(QString& text, int& position) const {
    for (QChar character : text) {
        if (character < QLatin1Char('0') || character > QLatin1Char('9'))
            return QValidator::Invalid;
    }
    return QSpinBox::validate(text, position);
}

QProgressBar* NewProgressBar(QWidget* parent, const QString& name, int fullWidth,
                             const QString& borderColour, const QString& fillColour) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(name);
    bar->setRange(0, fullWidth);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFixedSize(fullWidth + 2, 14);
    bar->setStyleSheet(
        QStringLiteral("QProgressBar { border: 1px solid %1; background: transparent; }"
                       " QProgressBar::chunk { background: %2; }")
            .arg(borderColour, fillColour));
    return bar;
}

namespace {

// The right-pointing marker beside the current step.
QPixmap PointerPicture() {
    QPixmap picture(12, 12);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x20, 0x60, 0xC0));
    const QPointF points[] = {{2, 1}, {11, 6}, {2, 11}};
    painter.drawPolygon(points, 3);
    return picture;
}

}  // namespace

ConnectingPage::ConnectingPage(const QString& step2, const QString& step3, QPushButton* cancel,
                               QWidget* parent)
    : QWidget(parent), m_grid(new QGridLayout) {
    const QString texts[] = {QString(), QString(), step2, step3, QString()};
    m_grid->setColumnMinimumWidth(0, 16);
    for (int index = 1; index <= 4; ++index) {
        m_lblLinkInfo[index] = new QLabel(texts[index], this);
        m_lblLinkInfo[index]->setObjectName(QStringLiteral("lblLinkInfo%1").arg(index));
        m_grid->addWidget(m_lblLinkInfo[index], index - 1, 1);
    }
    m_imgPro = new QLabel(this);
    m_imgPro->setObjectName(QStringLiteral("imgPro"));
    m_imgPro->setPixmap(PointerPicture());
    m_grid->addWidget(m_imgPro, 0, 0);
    m_grid->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 0, 0);
    layout->addLayout(m_grid);
    layout->addStretch();
    layout->addLayout(buttons);
}

void ConnectingPage::SetStep(int step) {
    for (int index = 1; index <= 3; ++index) {
        QFont font = m_lblLinkInfo[index]->font();
        font.setBold(index == step);
        m_lblLinkInfo[index]->setFont(font);
        m_lblLinkInfo[index]->setVisible(index <= step);
    }
    m_grid->removeWidget(m_imgPro);
    m_grid->addWidget(m_imgPro, step - 1, 0);
}

CodeRow::CodeRow(const QString& checkName, const QString& boxName, Look look, QWidget* parent)
    : QWidget(parent),
      m_check(new QCheckBox(QStringLiteral("使用验证码"), this)),
      m_box(new QLineEdit(this)) {
    m_check->setObjectName(checkName);
    m_box->setObjectName(boxName);
    m_box->setMaxLength(15);
    m_box->setEchoMode(QLineEdit::Password);
    m_box->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_box->setVisible(false);
    const QString tip = QStringLiteral("勾选并在这里输入对方设置的验证码");
    m_check->setToolTip(tip);
    if (look == Look::Yellow) {
        m_box->setStyleSheet(
            QStringLiteral("lineedit-password-character: 42; background-color: #FFFFE1;"));
        const QMargins margins = m_box->textMargins();
        m_box->setTextMargins(2, margins.top(), margins.right(), margins.bottom());
    } else {
        m_box->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
        m_box->setToolTip(tip);
    }
    connect(m_check, &QCheckBox::toggled, this, [this](bool on) {
        m_box->setVisible(on);
        if (on)
            m_box->setFocus();
    });

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_check);
    row->addWidget(m_box);
    row->addStretch();
}

bool CodeRow::ticked() const {
    return m_check->isChecked();
}

QString CodeRow::code() const {
    return m_box->text();
}

void LimitLength(QPlainTextEdit* box, int limit) {
    QObject::connect(box, &QPlainTextEdit::textChanged, box, [box, limit] {
        if (box->toPlainText().size() > limit) {
            box->setPlainText(box->toPlainText().left(limit));
            box->moveCursor(QTextCursor::End);
        }
    });
}

void TrimLineBox(QLineEdit* box) {
    const QString trimmed = TrimLines(box->text());
    if (trimmed != box->text())
        box->setText(trimmed);
}

void TrimNoteBox(QPlainTextEdit* box) {
    const QString trimmed = FromWireText(TrimLines(ToWireText(box->toPlainText())));
    if (trimmed != box->toPlainText())
        box->setPlainText(trimmed);
}

QString ControlText(const QWidget* window, const QString& objectName) {
    QObject* control = window->findChild<QObject*>(objectName);
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    if (auto* line = qobject_cast<QLineEdit*>(control))
        return line->text();
    if (auto* number = qobject_cast<QSpinBox*>(control))
        return number->text();
    if (auto* text = qobject_cast<QPlainTextEdit*>(control))
        return ToWireText(text->toPlainText());
    if (auto* rich = qobject_cast<QTextEdit*>(control))
        return ToWireText(rich->toPlainText());
    if (auto* button = qobject_cast<QPushButton*>(control))
        return button->text();
    if (auto* check = qobject_cast<QCheckBox*>(control))
        return check->text();
    return QString();
}

}  // namespace tvx

#include <QMessageBox>
#include <QPushButton>

#include "platform/DesktopPlatform.h"

namespace tvx {

MessageAnswer QtMessageBoxService::Show(QWidget* owner, const QString& text, const QString& title,
                                        MessageStyle style) {
    QMessageBox box(owner);
    box.setWindowTitle(title);
    // The texts use "\r\n" line breaks; the box wants plain "\n".
    box.setText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    box.setTextFormat(Qt::PlainText);

    switch (style.icon) {
        case MessageIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
    }

    QMessageBox::StandardButton escape = QMessageBox::Ok;
    switch (style.buttons) {
        case MessageButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            escape = QMessageBox::No;
            break;
        case MessageButtons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Yes);
            escape = QMessageBox::Cancel;
            break;
        case MessageButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
    }
    box.setEscapeButton(escape);
    QPushButton* action = nullptr;
    if (!style.actionButton.isEmpty())
        action = box.addButton(style.actionButton, QMessageBox::ActionRole);
    if (QAbstractButton* yes = box.button(QMessageBox::Yes))
        yes->setText(QStringLiteral("是(&Y)"));
    if (QAbstractButton* no = box.button(QMessageBox::No))
        no->setText(QStringLiteral("否(&N)"));
    if (QAbstractButton* ok = box.button(QMessageBox::Ok))
        ok->setText(QStringLiteral("确定"));
    if (QAbstractButton* cancel = box.button(QMessageBox::Cancel))
        cancel->setText(QStringLiteral("取消"));

    // A system-modal box must not hide behind other windows.
    if (style.systemModal) {
        box.setWindowModality(Qt::ApplicationModal);
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }

    const int pressed = box.exec();
    if (action && box.clickedButton() == action)
        return MessageAnswer::Action;
    switch (pressed) {
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        case QMessageBox::Cancel:
            return MessageAnswer::Cancel;
        default:
            return MessageAnswer::Ok;
    }
}

}  // namespace tvx

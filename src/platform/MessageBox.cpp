#include "platform/MessageBox.h"

#include <QMessageBox>
#include <QPushButton>

namespace tvx {

int QtMessageBoxService::Show(QWidget* owner, const QString& text, const QString& title,
                              int style) {
    QMessageBox box(owner);
    box.setWindowTitle(title);
    // The texts use "\r\n" line breaks; the box wants plain "\n".
    box.setText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    box.setTextFormat(Qt::PlainText);

    switch (style & 0xF0) {
        case StyleIconStop:
            box.setIcon(QMessageBox::Critical);
            break;
        case StyleIconQuestion:
            box.setIcon(QMessageBox::Question);
            break;
        case StyleIconExclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case StyleIconInformation:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            box.setIcon(QMessageBox::NoIcon);
            break;
    }

    QMessageBox::StandardButton escape = QMessageBox::Ok;
    switch (style & 0x0F) {
        case StyleYesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            escape = QMessageBox::No;
            break;
        case StyleYesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Yes);
            escape = QMessageBox::Cancel;
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
            break;
    }
    box.setEscapeButton(escape);
    if (QAbstractButton* yes = box.button(QMessageBox::Yes))
        yes->setText(QStringLiteral("是(&Y)"));
    if (QAbstractButton* no = box.button(QMessageBox::No))
        no->setText(QStringLiteral("否(&N)"));
    if (QAbstractButton* ok = box.button(QMessageBox::Ok))
        ok->setText(QStringLiteral("确定"));
    if (QAbstractButton* cancel = box.button(QMessageBox::Cancel))
        cancel->setText(QStringLiteral("取消"));

    // A system-modal box must not hide behind other windows.
    if (style & StyleSystemModal) {
        box.setWindowModality(Qt::ApplicationModal);
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }

    switch (box.exec()) {
        case QMessageBox::Yes:
            return AnswerYes;
        case QMessageBox::No:
            return AnswerNo;
        case QMessageBox::Cancel:
            return AnswerCancel;
        default:
            return AnswerOk;
    }
}

}  // namespace tvx

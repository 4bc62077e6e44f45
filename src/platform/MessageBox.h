#pragma once

#include <QString>

class QWidget;

namespace tvx {

// Button answers, as the message box reports them.
enum MessageAnswer { AnswerOk = 1, AnswerCancel = 2, AnswerYes = 6, AnswerNo = 7 };

// Style bits of a message box: the low nibble picks the buttons, the next the icon.
enum MessageStyle {
    StyleOk = 0x00,
    StyleYesNoCancel = 0x03,
    StyleYesNo = 0x04,
    StyleIconStop = 0x10,
    StyleIconQuestion = 0x20,
    StyleIconExclamation = 0x30,
    StyleIconInformation = 0x40,
    StyleSystemModal = 0x1000,
};

// The one way any window shows a message box; tests replace it with scripted answers.
class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    virtual int Show(QWidget* owner, const QString& text, const QString& title, int style) = 0;
};

class QtMessageBoxService : public MessageBoxService {
public:
    int Show(QWidget* owner, const QString& text, const QString& title, int style) override;
};

}  // namespace tvx

#pragma once

#include <QString>

class QWidget;

namespace tvx {

// The buttons a message box offers.
enum class MessageButtons { Ok, YesNo, YesNoCancel };

// The picture beside a message box's text.
enum class MessageIcon { None, Error, Question, Warning, Information };

// The button the user pressed; closing the box counts as its escape button. Action is the
// style's further button.
enum class MessageAnswer { Ok, Cancel, Yes, No, Action };

// How a message box looks. A system-modal box stays above every window of the desktop.
struct MessageStyle {
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
    bool systemModal = false;
    // A further button beside the others with this text (none when empty), which opens
    // something more rather than answering the box.
    QString actionButton{};

    friend bool operator==(const MessageStyle& a, const MessageStyle& b) {
        return a.buttons == b.buttons && a.icon == b.icon && a.systemModal == b.systemModal &&
               a.actionButton == b.actionButton;
    }
    friend bool operator!=(const MessageStyle& a, const MessageStyle& b) { return !(a == b); }
};

// The one way any window shows a message box; tests replace it with scripted answers.
class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    virtual MessageAnswer Show(QWidget* owner, const QString& text, const QString& title,
                               MessageStyle style) = 0;
};

}  // namespace tvx

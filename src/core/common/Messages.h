#pragma once

#include <QString>

#include "platform/MessageBox.h"

class QWidget;

namespace tvx {

// The kinds of message box; None gives a box without title or icon.
enum class MessageKind {
    None,
    Ask,  // Yes and No
    Info,
    Warning,
    Error,
    AskCancel,  // Yes, No and Cancel
    Product,    // information under the program's name
};

// Title and look of a message kind.
QString MessageTitle(MessageKind kind);
MessageStyle MessageStyleOf(MessageKind kind, bool systemModal = false);

// Shows a message box of the given kind and returns the button answer.
MessageAnswer ShowMessage(MessageBoxService& box, QWidget* owner, const QString& text,
                          MessageKind kind, bool systemModal);

// An Error box: text, ":", two line breaks, then the detail.
void ShowErrorWithDetail(MessageBoxService& box, QWidget* owner, const QString& text,
                         const QString& detail);

}  // namespace tvx

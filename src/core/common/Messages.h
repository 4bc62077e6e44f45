#pragma once

#include <QString>

#include "platform/MessageBox.h"

class QWidget;

namespace tvx {

// The six kinds of message box; any other value gives a box without title or icon.
enum MessageKind : qint16 {
    KindAsk = 1,
    KindInfo = 2,
    KindWarning = 3,
    KindError = 4,
    KindAskCancel = 5,
    KindProduct = 6,
};

// Title and look of a message kind.
QString MessageTitle(int kind);
MessageStyle MessageStyleOf(int kind, bool systemModal = false);

// Shows a message box of the given kind and returns the button answer.
MessageAnswer ShowMessage(MessageBoxService& box, QWidget* owner, const QString& text, int kind,
                          bool systemModal);

// An Error box: text, ":", two line breaks, then the detail.
void ShowErrorWithDetail(MessageBoxService& box, QWidget* owner, const QString& text,
                         const QString& detail);

}  // namespace tvx

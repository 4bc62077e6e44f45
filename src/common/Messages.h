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

// Title and platform style of a message kind.
QString MessageTitle(int kind);
int MessageStyleOf(int kind);

// Shows a message box of the given kind and returns the button answer (1, 2, 6 or 7).
int ShowMessage(MessageBoxService& box, QWidget* owner, const QString& text, int kind,
                bool systemModal);

// An Error box: text, ":", two line breaks, then the detail.
void ShowErrorWithDetail(MessageBoxService& box, QWidget* owner, const QString& text,
                         const QString& detail);

}  // namespace tvx

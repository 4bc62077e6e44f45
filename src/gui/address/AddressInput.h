#pragma once

#include <QString>

class QLineEdit;
class QWidget;

namespace tvx {

class MessageBoxService;

// Checks the text of a send or chat window's address box before connecting. Returns the
// peer's dotted address, or an empty text after telling the user why and focusing the box.
QString CheckTargetAddress(MessageBoxService& box, QWidget* owner, QLineEdit* addressBox,
                           const QString& localAddress);

}  // namespace tvx

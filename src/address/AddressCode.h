#pragma once

#include <QString>

#include "platform/MessageBox.h"

class QLineEdit;
class QWidget;

namespace tvx {

// TVX address: ten code letters standing for an IPv4 address and a random mask byte.
QString EncodeAddressCode(const QString& dottedAddress);
QString EncodeAddressCode(const QString& dottedAddress, int mask);
QString DecodeAddressCode(const QString& code);

bool IsDottedAddress(const QString& text);
bool IsAddressCode(const QString& text);
QString NormalizeDottedAddress(const QString& dottedAddress);

// The normalised dotted address of a dotted address or a TVX address; empty for anything else.
QString ResolvePeerAddress(const QString& text);

// Checks the text of a send or chat window's address box before connecting. Returns the
// peer's dotted address, or an empty text after telling the user why and focusing the box.
QString CheckTargetAddress(MessageBoxService& box, QWidget* owner, QLineEdit* addressBox,
                           const QString& localAddress);

}  // namespace tvx

#pragma once

#include <QString>

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

}  // namespace tvx

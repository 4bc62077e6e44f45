#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "platform/SocketErrors.h"

namespace tvx {

class Socket;

// Text on the wire: UTF-16LE, two bytes per character, no mark, no length, no NUL.
QByteArray ToWire(const QString& text);
// Two bytes to a character, low byte first; an odd last byte is left out.
QString FromWire(const QByteArray& bytes);

// A payload's fields joined by the separator 03 04 (nothing is escaped), and split again.
QString JoinFields(const QStringList& fields);
QStringList SplitFields(const QString& payload);

// A message body: the code, then the payload.
QString MessageBody(char16_t code, const QString& payload = QString());

// The bytes of a control message: the body's UTF-16LE bytes and the terminator 02 05.
QByteArray FrameControlMessage(const QString& body);

// Sends one control message in one send call; returns SocketError::None or what failed.
SocketError SendControlMessage(Socket& connection, const QString& body);

}  // namespace tvx

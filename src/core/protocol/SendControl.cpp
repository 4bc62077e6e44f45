#include "platform/Socket.h"
#include "protocol/Wire.h"

namespace tvx {

// Kept apart from the rest of the wire routines so they need nothing but Qt Core.
SocketError SendControlMessage(Socket& connection, const QString& body) {
    return connection.Send(FrameControlMessage(body));
}

}  // namespace tvx

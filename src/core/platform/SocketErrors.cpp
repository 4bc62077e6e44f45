#include "platform/SocketErrors.h"

#include <cerrno>

namespace tvx {

SocketError SocketErrorOfErrno(int errnoValue) {
    switch (errnoValue) {
        case EADDRINUSE:
            return SocketError::AddressInUse;
        case EADDRNOTAVAIL:
            return SocketError::AddressNotAvailable;
        case EINVAL:
            return SocketError::WrongState;
        case ECONNREFUSED:
            return SocketError::ConnectionRefused;
        case ETIMEDOUT:
            return SocketError::TimedOut;
        case ECONNRESET:
        case EPIPE:
        case ECONNABORTED:
            return SocketError::ConnectionReset;
        case ENETUNREACH:
        case EHOSTUNREACH:
        case ENETDOWN:
            return SocketError::ConnectionAborted;
        default:
            return SocketError::Other;
    }
}

bool IsConnectionReset(int errnoValue) {
    return errnoValue == ECONNRESET || errnoValue == EPIPE || errnoValue == ECONNABORTED;
}

SocketError ConnectionError(int errnoValue) {
    return IsConnectionReset(errnoValue) ? SocketError::ConnectionReset
                                         : SocketErrorOfErrno(errnoValue);
}

}  // namespace tvx

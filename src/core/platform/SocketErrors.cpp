#include "platform/SocketErrors.h"

#include <cerrno>

namespace tvx {

int SocketErrorNumberOf(QAbstractSocket::SocketError error) {
    switch (error) {
        case QAbstractSocket::AddressInUseError:
            return kErrAddressInUse;
        case QAbstractSocket::SocketAddressNotAvailableError:
            return kErrAddressNotAvailable;
        case QAbstractSocket::NetworkError:
            return kErrConnectionAborted;
        case QAbstractSocket::RemoteHostClosedError:
            return kErrConnectionReset;
        case QAbstractSocket::SocketTimeoutError:
            return kErrTimedOut;
        case QAbstractSocket::ConnectionRefusedError:
            return kErrConnectionRefused;
        case QAbstractSocket::HostNotFoundError:
            return kErrHostNotFound;
        case QAbstractSocket::OperationError:
            return kErrWrongState;
        default:
            return kOtherSocketErrorBase + int(error);
    }
}

QAbstractSocket::SocketError SocketErrorOfErrno(int errnoValue) {
    switch (errnoValue) {
        case EADDRINUSE:
            return QAbstractSocket::AddressInUseError;
        case EADDRNOTAVAIL:
            return QAbstractSocket::SocketAddressNotAvailableError;
        case EACCES:
        case EPERM:
            return QAbstractSocket::SocketAccessError;
        case ENOBUFS:
        case ENOMEM:
        case EMFILE:
        case ENFILE:
            return QAbstractSocket::SocketResourceError;
        case EINVAL:
            return QAbstractSocket::OperationError;
        case ECONNREFUSED:
            return QAbstractSocket::ConnectionRefusedError;
        case ETIMEDOUT:
            return QAbstractSocket::SocketTimeoutError;
        case ECONNRESET:
        case EPIPE:
        case ECONNABORTED:
            return QAbstractSocket::RemoteHostClosedError;
        case ENETUNREACH:
        case EHOSTUNREACH:
        case ENETDOWN:
            return QAbstractSocket::NetworkError;
        default:
            return QAbstractSocket::UnknownSocketError;
    }
}

bool IsConnectionReset(int errnoValue) {
    return errnoValue == ECONNRESET || errnoValue == EPIPE || errnoValue == ECONNABORTED;
}

int ConnectionErrorNumber(int errnoValue) {
    return IsConnectionReset(errnoValue) ? kErrConnectionReset
                                         : SocketErrorNumberOf(SocketErrorOfErrno(errnoValue));
}

}  // namespace tvx

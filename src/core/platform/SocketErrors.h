#pragma once

#include <QAbstractSocket>

namespace tvx {

// Error numbers that the windows tell apart. Every other failure keeps a number of its own
// (kOtherSocketErrorBase plus the Qt error value) that no window distinguishes.
//
//   Qt socket error / event (errno)              number  meaning
//   AddressInUseError (EADDRINUSE on bind)       10048   address and port already in use
//   SocketAddressNotAvailableError (bind)        10049   the address is not a local one
//   NetworkError (unreachable, network down)     10053   connection aborted on this side
//   RemoteHostClosedError with bytes unsent      10054   connection reset by the peer
//     (ECONNRESET, EPIPE)
//   Send after the peer closed its end           10058   the connection was shut down
//   SocketTimeoutError (ETIMEDOUT)               10060   timed out
//   ConnectionRefusedError (ECONNREFUSED)        10061   nobody listens there
//   HostNotFoundError                            11004   the name did not resolve
//   OperationError / call in the wrong state     40006   wrong state for the request
enum SocketErrorNumber {
    kErrAddressInUse = 10048,
    kErrAddressNotAvailable = 10049,
    kErrConnectionAborted = 10053,
    kErrConnectionReset = 10054,
    kErrShutDown = 10058,
    kErrTimedOut = 10060,
    kErrConnectionRefused = 10061,
    kErrHostNotFound = 11004,
    kErrWrongState = 40006,
    kOtherSocketErrorBase = 50000,
};

// The number of a Qt socket error, from the table above.
int SocketErrorNumberOf(QAbstractSocket::SocketError error);

// The Qt socket error of a failed system call's errno (bind, connect, send, receive).
QAbstractSocket::SocketError SocketErrorOfErrno(int errnoValue);

// Whether a failed receive or send means the peer reset the connection.
bool IsConnectionReset(int errnoValue);

// The number of a failed send or receive on a connection: a reset is 10054.
int ConnectionErrorNumber(int errnoValue);

}  // namespace tvx

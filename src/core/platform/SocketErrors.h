#pragma once

namespace tvx {

// What went wrong with a socket, in the words the engines tell apart; every other failure is
// Other. The numbers are the Windows socket errors of the same failures.
enum class SocketError {
    None,                 // no failure
    AddressInUse,         // 10048: the local address and port are taken
    AddressNotAvailable,  // 10049: the address is not a local one, or not a dotted address
    ConnectionAborted,    // 10053: the network went away under the connection
    ConnectionReset,      // 10054: the peer reset the connection
    ShutDown,             // 10058: a send after the connection was shut down
    TimedOut,             // 10060: connecting took too long
    ConnectionRefused,    // 10061: nobody listens there
    HostNotFound,         // 11004: the name did not resolve
    WrongState,           // 40006: a request in the wrong state
    Other,
};

// The socket error of a failed system call's errno (bind, connect, send, receive).
SocketError SocketErrorOfErrno(int errnoValue);

// Whether a failed receive or send means the peer reset the connection.
bool IsConnectionReset(int errnoValue);

// The error of a failed send or receive on a connection: a reset is ConnectionReset.
SocketError ConnectionError(int errnoValue);

}  // namespace tvx

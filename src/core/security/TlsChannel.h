#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <mutex>

struct ssl_st;
struct ssl_ctx_st;

namespace tvx {

// TLS on one connected, non-blocking descriptor. The socket that owns the connection and a
// transfer thread it lends the descriptor to may both use it (one reads while the other
// writes), so every call takes the channel's lock; none of them blocks.
class TlsChannel {
public:
    enum class Step { Done, WantRead, WantWrite, Failed };

    TlsChannel(ssl_ctx_st* context, int descriptor, bool server);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    bool valid() const { return ssl_ != nullptr; }
    // One step of the handshake.
    Step Handshake();
    // As recv and send: the count moved, 0 when the peer has closed (Receive), or -1 with errno
    // set; EAGAIN when the call is to be repeated once the descriptor is ready.
    ssize_t Receive(void* data, size_t size);
    ssize_t Transmit(const void* data, size_t size);
    // Decrypted bytes, or bytes of a record begun, that wait inside the channel.
    bool HasPending();
    qint64 PendingBytes();

    // SHA-256 of the peer's certificate, once the handshake is done; empty without one.
    QByteArray PeerFingerprint();
    // Keying material exported from this session (RFC 5705) under `label`, no context.
    QByteArray ExportKey(const char* label, int size);

private:
    ssl_st* ssl_ = nullptr;
    std::mutex mutex_;
};

}  // namespace tvx

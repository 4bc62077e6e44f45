#include "security/TlsChannel.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstring>

#include "security/TlsIdentity.h"

namespace tvx {

TlsChannel::TlsChannel(ssl_ctx_st* context, int descriptor, bool server) {
    ssl_ = SSL_new(context);
    if (!ssl_)
        return;
    if (SSL_set_fd(ssl_, descriptor) != 1) {
        SSL_free(ssl_);
        ssl_ = nullptr;
        return;
    }
    if (server)
        SSL_set_accept_state(ssl_);
    else
        SSL_set_connect_state(ssl_);
}

TlsChannel::~TlsChannel() {
    SSL_free(ssl_);
}

TlsChannel::Step TlsChannel::Handshake() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ssl_)
        return Step::Failed;
    ERR_clear_error();
    const int result = SSL_do_handshake(ssl_);
    if (result == 1)
        return Step::Done;
    switch (SSL_get_error(ssl_, result)) {
        case SSL_ERROR_WANT_READ:
            return Step::WantRead;
        case SSL_ERROR_WANT_WRITE:
            return Step::WantWrite;
        default:
            ERR_clear_error();
            return Step::Failed;
    }
}

namespace {

// errno for a call that did not move bytes.
ssize_t Failed(SSL* ssl, int result) {
    const int error = SSL_get_error(ssl, result);
    const int saved = errno;
    ERR_clear_error();
    switch (error) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            errno = EAGAIN;
            return -1;
        case SSL_ERROR_ZERO_RETURN:
            return 0;
        case SSL_ERROR_SYSCALL:
            errno = saved != 0 ? saved : ECONNRESET;
            return -1;
        default:
            // A record that does not decrypt or a broken protocol: the connection is over.
            errno = EPROTO;
            return -1;
    }
}

}  // namespace

ssize_t TlsChannel::Receive(void* data, size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ssl_) {
        errno = EBADF;
        return -1;
    }
    // Record after record while they fill the buffer, as one recv would take all that has
    // arrived: a reader then writes its file in pieces as large as a plain connection's. What
    // stops the loop after some bytes (nothing more yet, the close, an error) is met again by the
    // next call.
    size_t total = 0;
    for (;;) {
        size_t count = 0;
        ERR_clear_error();
        errno = 0;
        const int result =
            SSL_read_ex(ssl_, static_cast<char*>(data) + total, size - total, &count);
        if (result != 1)
            return total > 0 ? ssize_t(total) : Failed(ssl_, result);
        total += count;
        if (total == size)
            return ssize_t(total);
    }
}

ssize_t TlsChannel::Transmit(const void* data, size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ssl_) {
        errno = EBADF;
        return -1;
    }
    if (size == 0)
        return 0;
    size_t count = 0;
    ERR_clear_error();
    errno = 0;
    const int result = SSL_write_ex(ssl_, data, size, &count);
    if (result == 1)
        return ssize_t(count);
    const ssize_t failed = Failed(ssl_, result);
    if (failed == 0) {
        // The peer's close_notify while sending: the connection is shut down.
        errno = EPIPE;
        return -1;
    }
    return failed;
}

bool TlsChannel::HasPending() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ssl_ && SSL_has_pending(ssl_) == 1;
}

qint64 TlsChannel::PendingBytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ssl_ ? SSL_pending(ssl_) : 0;
}

QByteArray TlsChannel::PeerFingerprint() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ssl_)
        return QByteArray();
    X509* certificate = SSL_get1_peer_certificate(ssl_);
    if (!certificate)
        return QByteArray();
    const QByteArray fingerprint = CertificateFingerprint(certificate);
    X509_free(certificate);
    return fingerprint;
}

QByteArray TlsChannel::ExportKey(const char* label, int size) {
    std::lock_guard<std::mutex> lock(mutex_);
    QByteArray key(size, '\0');
    if (!ssl_ || SSL_export_keying_material(ssl_, reinterpret_cast<unsigned char*>(key.data()),
                                            size_t(size), label, strlen(label), nullptr, 0, 0) != 1)
        return QByteArray();
    return key;
}

}  // namespace tvx

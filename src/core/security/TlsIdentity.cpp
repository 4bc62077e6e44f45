#include "security/TlsIdentity.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>

namespace tvx {

namespace {

constexpr long kCertificateDays = 20 * 365;

struct Deleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(X509* certificate) const { X509_free(certificate); }
    void operator()(BIO* bio) const { BIO_free(bio); }
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
template <typename T>
using Owned = std::unique_ptr<T, Deleter>;

// Every peer certificate is taken at this stage: self-signed ones are the rule, and a peer is
// recognised by its fingerprint once the handshake is done.
int AcceptAnyCertificate(int, X509_STORE_CTX*) {
    return 1;
}

Owned<X509> MakeCertificate(EVP_PKEY* key) {
    Owned<X509> certificate(X509_new());
    if (!certificate)
        return nullptr;
    X509_set_version(certificate.get(), 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -24 * 3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), kCertificateDays * 24 * 3600);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Tolvex"), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    if (X509_set_pubkey(certificate.get(), key) != 1 ||
        X509_sign(certificate.get(), key, EVP_sha256()) == 0)
        return nullptr;
    return certificate;
}

// A new key and its certificate as PEM text, key first.
QByteArray MakePem() {
    Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
    if (!key)
        return QByteArray();
    Owned<X509> certificate = MakeCertificate(key.get());
    Owned<BIO> out(BIO_new(BIO_s_mem()));
    if (!certificate || !out ||
        PEM_write_bio_PrivateKey(out.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1 ||
        PEM_write_bio_X509(out.get(), certificate.get()) != 1)
        return QByteArray();
    char* data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    return QByteArray(data, int(size));
}

}  // namespace

std::unique_ptr<TlsIdentity> TlsIdentity::FromPem(const QByteArray& pem) {
    Owned<BIO> in(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    if (!in)
        return nullptr;
    Owned<EVP_PKEY> key(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr));
    Owned<X509> certificate(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
    if (!key || !certificate || X509_check_private_key(certificate.get(), key.get()) != 1)
        return nullptr;
    Owned<SSL_CTX> context(SSL_CTX_new(TLS_method()));
    if (!context || SSL_CTX_set_min_proto_version(context.get(), TLS1_3_VERSION) != 1 ||
        SSL_CTX_use_certificate(context.get(), certificate.get()) != 1 ||
        SSL_CTX_use_PrivateKey(context.get(), key.get()) != 1)
        return nullptr;
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT,
                       AcceptAnyCertificate);
    SSL_CTX_set_num_tickets(context.get(), 0);
    SSL_CTX_set_session_cache_mode(context.get(), SSL_SESS_CACHE_OFF);
    // A peer that closes without a close_notify has closed: every message and file says
    // where it ends inside the stream itself.
    SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(context.get(),
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    std::unique_ptr<TlsIdentity> identity(new TlsIdentity);
    identity->fingerprint_ = CertificateFingerprint(certificate.get());
    if (identity->fingerprint_.isEmpty())
        return nullptr;
    identity->context_ = context.release();
    return identity;
}

std::unique_ptr<TlsIdentity> TlsIdentity::LoadOrCreate(const QString& folder, QString* error) {
    const QString path = QDir(folder).filePath(FileName());
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly)) {
        // Nothing larger is an identity of ours.
        const QByteArray pem = existing.read(64 * 1024);
        if (std::unique_ptr<TlsIdentity> identity = FromPem(pem))
            return identity;
    }
    // None yet, or one that cannot be used: a new one takes its place, so peers that pinned
    // the old one will be told that this copy's identity changed.
    const QByteArray pem = MakePem();
    std::unique_ptr<TlsIdentity> identity = FromPem(pem);
    if (!identity) {
        *error = QStringLiteral("cannot make a key pair");
        return nullptr;
    }
    QDir().mkpath(folder);
    // Readable by the owner only from its first byte on, and in place whole or not at all.
    const QByteArray temporary = QFile::encodeName(path + QStringLiteral(".new"));
    ::unlink(temporary.constData());
    const int descriptor =
        ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool written = descriptor >= 0 &&
                   ::write(descriptor, pem.constData(), size_t(pem.size())) == ssize_t(pem.size());
    written = descriptor >= 0 && ::fsync(descriptor) == 0 && written;
    if (descriptor >= 0)
        ::close(descriptor);
    if (!written || ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        *error = QString::fromLocal8Bit(strerror(errno));
        ::unlink(temporary.constData());
        return nullptr;
    }
    return identity;
}

std::unique_ptr<TlsIdentity> TlsIdentity::CreateTransient() {
    return FromPem(MakePem());
}

TlsIdentity::~TlsIdentity() {
    SSL_CTX_free(context_);
}

QByteArray CertificateFingerprint(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(digest), int(length));
}

QString FingerprintCode(const QByteArray& fingerprint) {
    if (fingerprint.size() < 10)
        return QString();
    unsigned __int128 number = 0;
    for (int k = 0; k < 10; ++k)
        number = (number << 8) | quint8(fingerprint[k]);
    QString digits(20, QLatin1Char('0'));
    for (int k = 19; k >= 0; --k) {
        digits[k] = QLatin1Char(char('0' + int(number % 10)));
        number /= 10;
    }
    return digits.mid(0, 5) + QLatin1Char(' ') + digits.mid(5, 5) + QLatin1Char(' ') +
           digits.mid(10, 5) + QLatin1Char(' ') + digits.mid(15, 5);
}

}  // namespace tvx

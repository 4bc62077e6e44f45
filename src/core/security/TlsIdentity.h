#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

struct ssl_ctx_st;
struct x509_st;

namespace tvx {

// This copy's key pair and self-signed certificate, kept in the data folder, and the TLS
// settings every encrypted connection of this copy uses: TLS 1.3 only, a certificate asked of
// both ends and accepted whatever signed it (peers are recognised by their fingerprint, see
// KnownPeers), no session tickets.
//
// OpenSSL is used directly rather than through Qt Network: Qt can neither make keys and
// certificates nor export keying material (RFC 5705), which binds the verification code to the
// session, and the transfer threads write on a connection's descriptor outside any event loop.
// It is the same library Qt Network's TLS loads.
class TlsIdentity {
public:
    // The file in the data folder that holds the key and the certificate (owner only).
    static QString FileName() { return QStringLiteral("identity.pem"); }

    // Reads the identity from `folder`, or makes one and stores it there when there is none or
    // it cannot be read. Null, with `error` set, when no identity can be had.
    static std::unique_ptr<TlsIdentity> LoadOrCreate(const QString& folder, QString* error);
    // A fresh identity that is not stored (benchmarks, tests).
    static std::unique_ptr<TlsIdentity> CreateTransient();

    ~TlsIdentity();
    TlsIdentity(const TlsIdentity&) = delete;
    TlsIdentity& operator=(const TlsIdentity&) = delete;

    // SHA-256 of the certificate (DER), 32 bytes.
    QByteArray fingerprint() const { return fingerprint_; }
    ssl_ctx_st* context() const { return context_; }

private:
    TlsIdentity() = default;
    static std::unique_ptr<TlsIdentity> FromPem(const QByteArray& pem);

    ssl_ctx_st* context_ = nullptr;
    QByteArray fingerprint_;
};

// SHA-256 of a certificate (DER), 32 bytes; empty when it cannot be taken.
QByteArray CertificateFingerprint(x509_st* certificate);

// The fingerprint as people read it aloud: 20 digits in four groups of five, made from its
// first 80 bits ("04823 19930 55710 26841").
QString FingerprintCode(const QByteArray& fingerprint);

}  // namespace tvx

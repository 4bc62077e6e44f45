#include "texts/SecurityTexts.h"

#include "security/TlsIdentity.h"

namespace tvx {

QString EncryptionLine(bool encrypted, const QByteArray& peerFingerprint) {
    if (!encrypted)
        return QStringLiteral("连接未加密");
    return QStringLiteral("连接已加密,对方指纹:") + FingerprintCode(peerFingerprint);
}

QString OwnFingerprintLine(const QByteArray& fingerprint) {
    if (fingerprint.isEmpty())
        return QStringLiteral("本机没有密钥,连接不加密");
    return QStringLiteral("本机指纹:") + FingerprintCode(fingerprint);
}

QString TrustQuestion(LinkRefusal refusal) {
    switch (refusal) {
        case LinkRefusal::IdentityChanged:
            return QStringLiteral("已与对方核对过这次的指纹,接受对方的新证书并继续吗?");
        case LinkRefusal::Downgrade:
            return QStringLiteral("确认对方现在使用的是不支持加密的程序,这次不加密地继续吗?");
        default:
            return QString();
    }
}

QString TrustFlagHint(LinkRefusal refusal) {
    switch (refusal) {
        case LinkRefusal::IdentityChanged:
            return QStringLiteral("核对无误后,加上 --accept-new-identity 再执行一次即接受新证书。");
        case LinkRefusal::Downgrade:
            return QStringLiteral("确认无误后,加上 --allow-plain 再执行一次即不加密地继续。");
        default:
            return QString();
    }
}

namespace {

// How a receiving user takes a known peer as it is now.
QString ForgetHint() {
    return QStringLiteral("与对方核对无误后,在数据目录的 known-peers 文件中删去它的那一行即可。");
}

}  // namespace

QString CallerRejectedText(LinkRefusal refusal, const QString& address) {
    switch (refusal) {
        case LinkRefusal::PlainPeer:
            return QStringLiteral("已拒绝 ") + address +
                   QStringLiteral(" 的未加密连接(本机设置为只与加密的对方连接)。");
        case LinkRefusal::Downgrade:
            return QStringLiteral("已拒绝 ") + address +
                   QStringLiteral(" 的未加密连接:以前与它的连接是加密的。") + ForgetHint();
        case LinkRefusal::IdentityChanged:
            return QStringLiteral("已拒绝 ") + address +
                   QStringLiteral(" 的连接:它的证书与上次不同。") + ForgetHint();
        default:
            return QStringLiteral("已拒绝 ") + address + QStringLiteral(" 的连接:加密失败。");
    }
}

QString CallerRejectedSummary() {
    return QStringLiteral("已拒绝连接");
}

}  // namespace tvx

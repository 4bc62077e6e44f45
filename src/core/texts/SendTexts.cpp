#include "texts/SendTexts.h"

#include "common/Format.h"
#include "protocol/CallerLink.h"
#include "protocol/PeerMessages.h"
#include "security/TlsIdentity.h"
#include "texts/BatchTexts.h"
#include "transfer/TransferProgress.h"

namespace tvx {

namespace {

using Kind = SendOutcome::Kind;

UserMessage Shown(MessageKind kind, const QString& text, bool systemModal) {
    UserMessage message;
    message.kind = kind;
    message.text = text;
    message.systemModal = systemModal;
    return message;
}

// What a caller says when its connection failed; `broken` ends the sentence of a connection
// that ended midway.
QString NetworkErrorText(SocketError error, const QString& a, const QString& broken) {
    switch (error) {
        case SocketError::AddressInUse:
            return QStringLiteral("无法向 ") + a +
                   QStringLiteral(
                       " 发出请求,原因可能是:\r\n\r\n-对方正在使用Tolvex\r\n-"
                       "其它程序正在使用端口");
        case SocketError::AddressNotAvailable:
        case SocketError::HostNotFound:
            return QStringLiteral("无效的IP或TVX地址,请重新输入。");
        case SocketError::ConnectionAborted:
        case SocketError::ConnectionReset:
            return broken + ConnectionLostReasons();
        case SocketError::ShutDown:
        case SocketError::TimedOut:
            return QStringLiteral("无法连接 ") + a +
                   QStringLiteral(
                       " ,原因可能是:\r\n\r\n-对方没有登陆网络\r\n-防火墙阻止了连接\r\n-"
                       "双方处于不同的网络中");
        case SocketError::ConnectionRefused:
            return QStringLiteral("无法连接 ") + a +
                   QStringLiteral(" ,原因可能是:\r\n\r\n-对方没有运行Tolvex");
        case SocketError::WrongState:
            return QStringLiteral("无法继续:网络连接发生错误。");
        default:
            return QStringLiteral("网络连接发生未知错误而断开。");
    }
}

UserMessage CallerMessage(InviteFailure::Kind kind, const InviteFailure& data,
                          const QString& broken) {
    switch (kind) {
        case InviteFailure::Kind::LinkRefused:
            return Shown(MessageKind::Error,
                         LinkRefusalText(data.refusal, data.note, data.pinnedFingerprint,
                                         data.peerFingerprint),
                         true);
        case InviteFailure::Kind::ProtocolBroken:
            return Shown(MessageKind::Error, ConnectionBrokenText(), true);
        case InviteFailure::Kind::HandshakeTimedOut:
            return Shown(MessageKind::Warning, QStringLiteral("连接超时,请尝试重新连接。"), true);
        case InviteFailure::Kind::NetworkError: {
            const bool badAddress = ClassifyCallerError(data.error) == CallerFailure::BadAddress;
            return Shown(MessageKind::Error, NetworkErrorText(data.error, data.peer, broken),
                         !badAddress);
        }
        case InviteFailure::Kind::RetriesUsedUp:
            return Shown(MessageKind::Error,
                         QStringLiteral("Tolvex已尝试连接对方指定次数,但并未成功。"), false);
    }
    return UserMessage();
}

}  // namespace

QString LinkRefusalText(LinkRefusal refusal, const QString& note, const QByteArray& pinned,
                        const QByteArray& shown) {
    switch (refusal) {
        case LinkRefusal::WrongCode:
            return QStringLiteral(
                "发送连接请求失败:验证码无效。\r\n\r\n-没有使用验证码或验证码错误");
        case LinkRefusal::Blocked:
            return QStringLiteral("发送连接请求失败:当前IP不在对方允许连接的范围内。") +
                   NoteBlock(note);
        case LinkRefusal::OwnVersionTooLow:
            return QStringLiteral("无法继续:本地使用的版本太低,请升级后重试。");
        case LinkRefusal::PeerVersionTooLow:
            return QStringLiteral("无法继续:对方使用的版本太低,请通知对方升级后重试。");
        case LinkRefusal::PlainPeer:
            return QStringLiteral("无法继续:对方不支持加密连接,而本机设置为只与加密的对方连接。");
        case LinkRefusal::Downgrade:
            return QStringLiteral(
                "无法继续:以前与对方的连接是加密的,这次对方却只提供未加密的连接,"
                "可能有人在冒充对方或阻断了加密。");
        case LinkRefusal::IdentityChanged:
            return QStringLiteral(
                       "无法继续:对方的证书与上次不同,可能有人在冒充对方。\r\n\r\n"
                       "上次的指纹:") +
                   FingerprintCode(pinned) + QStringLiteral("\r\n这次的指纹:") +
                   FingerprintCode(shown) +
                   QStringLiteral("\r\n\r\n请与对方核对本次显示的指纹(对方可在“个人信息”中看到)。");
        case LinkRefusal::SecureFailed:
            return QStringLiteral("无法继续:与对方建立加密连接失败。");
    }
    return QString();
}

QString ConnectionBrokenText() {
    return QStringLiteral("与对方连接异常导致断开。");
}

UserMessage FileProblemMessage(FileProblem problem, const QString& path) {
    switch (problem) {
        case FileProblem::None:
            break;
        case FileProblem::NotChosen:
            return Shown(MessageKind::Info, QStringLiteral("必须选择一个文件。"), false);
        case FileProblem::Missing:
            return Shown(MessageKind::Warning,
                         QStringLiteral("发送的文件不存在。") + QStringLiteral("\r\n\r\n") + path,
                         false);
        case FileProblem::Empty:
            return Shown(MessageKind::Warning, QStringLiteral("发送的文件必须大于0字节。"), false);
        case FileProblem::TooLarge:
            return Shown(MessageKind::Warning, QStringLiteral("发送的文件大小不能超过2G。"), false);
    }
    return UserMessage();
}

UserMessage InviteFailureMessage(const InviteFailure& failure) {
    return CallerMessage(failure.kind, failure,
                         QStringLiteral("无法与 ") + failure.peer + QStringLiteral(" 继续交流"));
}

UserMessage SendFailureMessage(const SendOutcome& outcome) {
    const QString& a = outcome.peer;
    InviteFailure caller;
    caller.peer = a;
    caller.refusal = outcome.refusal;
    caller.note = outcome.note;
    caller.error = outcome.error;
    caller.peerFingerprint = outcome.peerFingerprint;
    caller.pinnedFingerprint = outcome.pinnedFingerprint;
    const QString broken = QStringLiteral("无法向 ") + a + QStringLiteral(" 继续发送");
    switch (outcome.kind) {
        case Kind::Completed:
        case Kind::Refused:
        case Kind::AutoRefused:
        case Kind::PeerCancelled:
        case Kind::Cancelled:
        case Kind::Dropped:
            break;
        case Kind::LinkRefused:
            return CallerMessage(InviteFailure::Kind::LinkRefused, caller, broken);
        case Kind::ProtocolBroken:
            return CallerMessage(InviteFailure::Kind::ProtocolBroken, caller, broken);
        case Kind::HandshakeTimedOut:
            return CallerMessage(InviteFailure::Kind::HandshakeTimedOut, caller, broken);
        case Kind::NetworkError:
            return CallerMessage(InviteFailure::Kind::NetworkError, caller, broken);
        case Kind::FileProblem:
            return FileProblemMessage(outcome.fileProblem, outcome.filePath);
        case Kind::ReadFailed:
            return Shown(MessageKind::Error, QStringLiteral("无法继续发送:读取文件时发生错误。"),
                         true);
        case Kind::RetriesUsedUp:
            return CallerMessage(InviteFailure::Kind::RetriesUsedUp, caller, broken);
        case Kind::Stalled:
            return Shown(MessageKind::Error,
                         QStringLiteral("超时:无法向 ") + a + QStringLiteral(" 继续发送") +
                             ConnectionLostReasons(),
                         true);
        case Kind::BatchStopped:
            return Shown(MessageKind::Error, BatchStopText(outcome.stop), true);
    }
    return UserMessage();
}

// A batch's end as its page says it: what arrived, or who refused or cancelled it.
QString BatchOutcomeLine(const SendOutcome& outcome) {
    const QString& a = outcome.peer;
    const QString what = GroupThousands(outcome.files) + QStringLiteral(" 个文件");
    switch (outcome.kind) {
        case Kind::Completed: {
            QString line = GroupThousands(outcome.filesDone) +
                           QStringLiteral(" 个文件已成功发送到 ") + a + QStringLiteral(" 。");
            if (outcome.filesThere > 0)
                line += QStringLiteral("(其中 ") + GroupThousands(outcome.filesThere) +
                        QStringLiteral(" 个对方已有)");
            if (!outcome.refused.isEmpty())
                line += QStringLiteral("\r\n\r\n对方拒绝了 ") +
                        GroupThousands(outcome.refused.size()) + QStringLiteral(" 个文件。");
            line += QStringLiteral("\r\n\r\n") + QStringLiteral("完成时间 ") +
                    outcome.finishedAt.toString(QStringLiteral("H:mm:ss")) +
                    QStringLiteral(" ,用时 ") + FormatDuration(qint32(outcome.seconds)) +
                    QStringLiteral("。");
            return line;
        }
        case Kind::Refused:
            return QStringLiteral("对方用户 ") + a + QStringLiteral(" 拒绝接收 ") + what +
                   QStringLiteral("。");
        case Kind::AutoRefused:
            return QStringLiteral("对方用户 ") + a + QStringLiteral(" 自动拒绝接收 ") + what +
                   QStringLiteral("。");
        case Kind::PeerCancelled: {
            const double fraction =
                outcome.size > 0 ? double(outcome.sent) / double(outcome.size) : 0.0;
            return QStringLiteral("对方用户 ") + a + QStringLiteral(" 取消接收 ") + what +
                   QStringLiteral(",目前已发送 ") + TransferProgress::PercentText(fraction) +
                   QStringLiteral(" 。");
        }
        default:
            return QString();
    }
}

QString SendOutcomeLine(const SendOutcome& outcome) {
    const QString& a = outcome.peer;
    if (outcome.batch)
        return BatchOutcomeLine(outcome);
    switch (outcome.kind) {
        case Kind::Completed:
            return QStringLiteral("文件已成功发送到 ") + a + QStringLiteral(" 。") +
                   QStringLiteral("\r\n\r\n") + QStringLiteral("源文件 ") + outcome.filePath +
                   QStringLiteral("\r\n\r\n") + QStringLiteral("完成时间 ") +
                   outcome.finishedAt.toString(QStringLiteral("H:mm:ss")) +
                   QStringLiteral(" ,用时 ") + FormatDuration(qint32(outcome.seconds)) +
                   QStringLiteral("。");
        case Kind::Refused:
            return QStringLiteral("对方用户 ") + a + QStringLiteral(" 拒绝接收文件\"") +
                   outcome.fileName + QStringLiteral("\"。");
        case Kind::AutoRefused:
            return QStringLiteral("对方用户 ") + a + QStringLiteral(" 自动拒绝接收文件\"") +
                   outcome.fileName + QStringLiteral("\"。");
        case Kind::PeerCancelled: {
            const double fraction =
                outcome.size > 0 ? double(outcome.sent) / double(outcome.size) : 0.0;
            return QStringLiteral("对方用户 ") + a + QStringLiteral(" 取消接收文件\"") +
                   outcome.fileName + QStringLiteral("\",目前已发送 ") +
                   TransferProgress::PercentText(fraction) + QStringLiteral(" 。");
        }
        default:
            return QString();
    }
}

QString SendOutcomeNote(const SendOutcome& outcome) {
    switch (outcome.kind) {
        case Kind::Refused:
        case Kind::PeerCancelled:
            return outcome.note.isEmpty() ? QStringLiteral("(无)") : outcome.note;
        case Kind::AutoRefused:
            return QStringLiteral("(对方用户可能不在计算机前)");
        default:
            return QString();
    }
}

QString SendConnectingLine(const QString& peer) {
    return QStringLiteral("正在连接用户 ") + peer + QStringLiteral(" ...");
}

QString SendWaitingForAnswerLine() {
    return QStringLiteral("对方已收到请求,正在等待其回应...");
}

QString InviteWaitingForAnswerLine() {
    return QStringLiteral("对方已收到邀请,正在等待其回应...");
}

QString InviteRefusedLine(const QString& peer) {
    return QStringLiteral("对方用户 ") + peer + QStringLiteral(" 拒绝接受邀请。");
}

QString InviteAutoRefusedLine(const QString& peer) {
    return QStringLiteral("对方用户 ") + peer + QStringLiteral(" 自动拒绝接受邀请。");
}

QString InviteAutoRefusedNote() {
    return QStringLiteral("(对方用户可能不在计算机前)");
}

QString PeerLeftCannotSendText() {
    return QStringLiteral("无法发送,对方已离开聊天室。");
}

QString SendWaitedLine(qint64 seconds) {
    return QStringLiteral("(已等待 ") + FormatDuration(qint32(seconds)) + QStringLiteral(")");
}

QString SendTriedLine(int attempts) {
    return QStringLiteral("(已尝试连接 ") + QString::number(attempts) + QStringLiteral(" 次)");
}

}  // namespace tvx

#include "texts/ReceiveTexts.h"

#include "common/Format.h"
#include "common/Text.h"
#include "texts/BatchTexts.h"
#include "transfer/ReceiveRules.h"

namespace tvx {

namespace {

const QString kParagraph = QStringLiteral("\r\n\r\n");

UserMessage Error(const QString& text) {
    return UserMessage{MessageKind::Error, text, true};
}

QString WriteErrorText(const QString& reason) {
    const QString text = QStringLiteral("无法继续接收:写入文件时发生错误。");
    return reason.isEmpty() ? text : text + kParagraph + reason;
}

QString UnknownNetworkErrorText() {
    return QStringLiteral("网络连接发生未知错误而断开。");
}

}  // namespace

UserMessage ReceiveMessage(const ReceiveOutcome& outcome) {
    using K = ReceiveOutcome::Kind;
    switch (outcome.kind) {
        case K::SenderCancelled:
            return UserMessage{};
        case K::WriteFailed:
            return Error(WriteErrorText(outcome.systemError));
        case K::TooManyBytes:
        case K::RenameFailed:
            return Error(WriteErrorText(QString()));
        case K::ReplaceFailedRenamed:
            return UserMessage{MessageKind::Warning,
                               QStringLiteral("覆盖下列文件时发生错误,接收的文件将自动更名...") +
                                   kParagraph + outcome.path,
                               true};
        case K::TempFileNotReplaced:
            return Error(QStringLiteral("覆盖下列临时tvx文件时发生错误。") + kParagraph +
                         outcome.path);
        case K::AutoSaveFolderMissing:
            return Error(QStringLiteral("无法自动接收文件:保存文件的位置不存在。"));
        case K::ConnectionLost:
            return Error(QStringLiteral("无法与 ") + outcome.peerName +
                         QStringLiteral(" 继续接收") + ConnectionLostReasons());
        case K::NetworkError:
            return Error(UnknownNetworkErrorText());
        case K::Stalled:
            return Error(QStringLiteral("超时:无法与'") + outcome.peerName +
                         QStringLiteral("'继续接收") + ConnectionLostReasons());
        case K::ListenerFailed:
            return ListenerFailureMessage(outcome.socketError);
        case K::HistoryNotWritten:
            return UserMessage{MessageKind::Warning, outcome.systemError, false};
        case K::BatchRefused:
        case K::NoSpace:
            return BatchRefusedHereMessage(outcome);
    }
    return UserMessage{};
}

UserMessage ChatAnswerMessage(const ChatAnswerOutcome& outcome) {
    using K = ChatAnswerOutcome::Kind;
    switch (outcome.kind) {
        case K::ConnectionLost:
            return Error(QStringLiteral("无法与 ") + outcome.peerName +
                         QStringLiteral(" 继续交流") + ConnectionLostReasons());
        case K::NetworkError:
            return Error(UnknownNetworkErrorText());
        case K::HistoryNotWritten:
            return UserMessage{MessageKind::Warning, outcome.systemError, false};
    }
    return UserMessage{};
}

UserMessage ListenerFailureMessage(SocketError error) {
    return Error(error == SocketError::AddressInUse
                     ? QStringLiteral("Tolvex不能运行:端口已被其它程序使用。")
                     : QStringLiteral("错误:Tolvex无法初始化网络。"));
}

QString SenderCancelledLine(const QString& peerName, const QString& fileName, double share) {
    return QStringLiteral("对方用户 ") + peerName + QStringLiteral(" 取消发送文件") +
           QLatin1Char('"') + fileName + QLatin1Char('"') + QStringLiteral(",目前已接收 ") +
           PercentText(share) + QStringLiteral(" 。");
}

QString ReceivedText(const QString& peerName, const QString& path, const QString& finishTime,
                     qint64 elapsedSeconds, const QString& lineBreak) {
    return QStringLiteral("文件已成功从 ") + peerName + QStringLiteral(" 接收。") + lineBreak +
           QStringLiteral("保存到 ") + path + lineBreak + QStringLiteral("完成时间 ") + finishTime +
           QStringLiteral(" ,用时 ") + FormatDuration(qint32(elapsedSeconds)) +
           QStringLiteral("。");
}

QString NoteOrNone(const QString& note) {
    return TrimSpaces(note).isEmpty() ? EmptyNoteText() : note;
}

QString OfferArrivedText(const QDateTime& when) {
    return QStringLiteral("收到文件 (") + ChatTimestamp(when) + QLatin1Char(')');
}

QString HeldShareText(double share) {
    return QStringLiteral("当前位置文件已接收 ") + PercentText(share) + QStringLiteral(" 内容");
}

}  // namespace tvx

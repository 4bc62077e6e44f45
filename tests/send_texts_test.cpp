#include <gtest/gtest.h>

#include "texts/SendTexts.h"

namespace tvx::test {
namespace {

using Kind = SendOutcome::Kind;

SendOutcome Outcome(Kind kind) {
    SendOutcome outcome;
    outcome.kind = kind;
    outcome.peer = QStringLiteral("127.0.0.3");
    outcome.fileName = QStringLiteral("a.bin");
    outcome.filePath = QStringLiteral("/tmp/a.bin");
    return outcome;
}

// The send window's and the command's boxes: each failure's text, box and modality.
TEST(SendTexts, FailuresReadAsTheirBoxes) {
    struct Case {
        SendOutcome outcome;
        MessageKind kind;
        QString text;
        bool systemModal;
    };
    SendOutcome refused = Outcome(Kind::NetworkError);
    refused.error = SocketError::ConnectionRefused;
    SendOutcome badAddress = Outcome(Kind::NetworkError);
    badAddress.error = SocketError::HostNotFound;
    SendOutcome reset = Outcome(Kind::NetworkError);
    reset.error = SocketError::ConnectionReset;
    SendOutcome blocked = Outcome(Kind::LinkRefused);
    blocked.refusal = LinkRefusal::Blocked;
    blocked.note = QStringLiteral("请勿打扰");
    SendOutcome missing = Outcome(Kind::FileProblem);
    missing.fileProblem = FileProblem::Missing;
    const QString lost = QStringLiteral(
        ",原因可能是:\r\n\r\n-网络突然断开\r\n-对方中途退出Tolvex\r\n-其它意外原因导致连接中断");
    const Case cases[] = {
        {refused, MessageKind::Error,
         QStringLiteral("无法连接 127.0.0.3 ,原因可能是:\r\n\r\n-对方没有运行Tolvex"), true},
        {badAddress, MessageKind::Error, QStringLiteral("无效的IP或TVX地址,请重新输入。"), false},
        {reset, MessageKind::Error, QStringLiteral("无法向 127.0.0.3 继续发送") + lost, true},
        {blocked, MessageKind::Error,
         QStringLiteral("发送连接请求失败:当前IP不在对方允许连接的范围内。\r\n\r\n附言:请勿打扰"),
         true},
        {Outcome(Kind::ProtocolBroken), MessageKind::Error,
         QStringLiteral("与对方连接异常导致断开。"), true},
        {Outcome(Kind::HandshakeTimedOut), MessageKind::Warning,
         QStringLiteral("连接超时,请尝试重新连接。"), true},
        {Outcome(Kind::ReadFailed), MessageKind::Error,
         QStringLiteral("无法继续发送:读取文件时发生错误。"), true},
        {Outcome(Kind::RetriesUsedUp), MessageKind::Error,
         QStringLiteral("Tolvex已尝试连接对方指定次数,但并未成功。"), false},
        {Outcome(Kind::Stalled), MessageKind::Error,
         QStringLiteral("超时:无法向 127.0.0.3 继续发送") + lost, true},
        {missing, MessageKind::Warning, QStringLiteral("发送的文件不存在。\r\n\r\n/tmp/a.bin"),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const UserMessage message = SendFailureMessage(c.outcome);
        EXPECT_EQ(message.text, c.text);
        EXPECT_EQ(message.kind, c.kind);
        EXPECT_EQ(message.systemModal, c.systemModal);
    }
    // The pages' outcomes and the silent ends have no box.
    for (Kind kind :
         {Kind::Completed, Kind::Refused, Kind::PeerCancelled, Kind::Cancelled, Kind::Dropped})
        EXPECT_TRUE(SendFailureMessage(Outcome(kind)).isEmpty());

    // The chat's broken connection speaks of the conversation.
    InviteFailure chat;
    chat.kind = InviteFailure::Kind::NetworkError;
    chat.peer = QStringLiteral("127.0.0.3");
    chat.error = SocketError::ConnectionAborted;
    EXPECT_EQ(InviteFailureMessage(chat).text, QStringLiteral("无法与 127.0.0.3 继续交流") + lost);
}

// The result pages: the line and the note, "(无)" for a refusal without one.
TEST(SendTexts, PagesTellTheOutcomeWithItsNote) {
    SendOutcome done = Outcome(Kind::Completed);
    done.finishedAt = QTime(8, 4, 9);
    done.seconds = 65;
    EXPECT_EQ(SendOutcomeLine(done),
              QStringLiteral("文件已成功发送到 127.0.0.3 。\r\n\r\n源文件 /tmp/a.bin\r\n\r\n"
                             "完成时间 8:04:09 ,用时 1 分 5 秒。"));
    SendOutcome refused = Outcome(Kind::Refused);
    EXPECT_EQ(SendOutcomeLine(refused),
              QStringLiteral("对方用户 127.0.0.3 拒绝接收文件\"a.bin\"。"));
    EXPECT_EQ(SendOutcomeNote(refused), QStringLiteral("(无)"));
    SendOutcome automatic = Outcome(Kind::AutoRefused);
    automatic.note = QStringLiteral("x");
    EXPECT_EQ(SendOutcomeNote(automatic), QStringLiteral("(对方用户可能不在计算机前)"));
    SendOutcome cancelled = Outcome(Kind::PeerCancelled);
    cancelled.note = QStringLiteral("满了");
    cancelled.sent = 250;
    cancelled.size = 1000;
    EXPECT_EQ(SendOutcomeLine(cancelled),
              QStringLiteral("对方用户 127.0.0.3 取消接收文件\"a.bin\",目前已发送 25% 。"));
    EXPECT_EQ(SendOutcomeNote(cancelled), QStringLiteral("满了"));
}

}  // namespace
}  // namespace tvx::test

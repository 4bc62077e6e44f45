#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include "chat/ChatAcceptWindow.h"
#include "chat/ChatInviteWindow.h"
#include "chat/ChatResponder.h"
#include "common/Controls.h"
#include "security/TlsIdentity.h"
#include "support/Clicks.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/Render.h"
#include "support/TestPeer.h"
#include "texts/SecurityTexts.h"
#include "transfer/ReceiverPage.h"
#include "transfer/SendWindow.h"

// What the desktop shows of encrypted connections between two complete copies in one process,
// on 127.0.0.2 and 127.0.0.3: the codes on the transfer and chat pages, the question after a
// refusal the user may overrule, and the notice of a caller turned away.
namespace tvx::test {
namespace {

class EncryptionWindows : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(files.isValid());
        from.session.identity = TlsIdentity::CreateTransient();
        to.session.identity = TlsIdentity::CreateTransient();
        content = Pattern(200000, 7);
        path = files.filePath(QStringLiteral("报告.bin"));
        ASSERT_TRUE(WriteFile(path, content));
    }

    void Start() {
        ASSERT_TRUE(from.Start());
        ASSERT_TRUE(to.Start());
        window = std::make_unique<SendWindow>(from.session);
        window->SetPauseMs(0);
        window->SetCloseGraceMs(200);
        window->ShowSendWindow();
        Find<QLineEdit>(window.get(), "txtFSInfo1")->setText(to.session.localAddress);
        Find<QLineEdit>(window.get(), "txtFSInfo2")->setText(path);
    }

    QString Text(QWidget* window, const char* name) {
        return ControlText(window, QString::fromLatin1(name));
    }
    QByteArray FromCode() const { return from.session.identity->fingerprint(); }
    QByteArray ToCode() const { return to.session.identity->fingerprint(); }

    QTemporaryDir files;
    QByteArray content;
    QString path;
    TestPeer from{kCallerAddress, QStringLiteral("小明")};
    TestPeer to{kAnswererAddress, QStringLiteral("小红")};
    std::unique_ptr<SendWindow> window;
};

TEST_F(EncryptionWindows, TransferPagesShowTheCodesAndAChangedCertificateIsTakenOnYes) {
    Start();
    QString sendingLine;
    QString receivingLine;
    QObject::connect(&window->Engine(), &FileSendEngine::ProgressChanged, window.get(), [&] {
        if (!sendingLine.isEmpty() || window->CurrentPage() != SendWindow::PageSending)
            return;
        sendingLine = Text(window.get(), "lblSecurity");
        EXPECT_TRUE(RenderToPng(*window, QStringLiteral("send-window-encrypted")));
    });
    QObject::connect(
        &to.receiver().Engine(), &FileReceiveEngine::ProgressChanged, window.get(), [&] {
            if (!receivingLine.isEmpty())
                return;
            receivingLine = Text(&to.receiver(), "lblRecvSecurity");
            EXPECT_TRUE(RenderToPng(*to.mainWindow, QStringLiteral("receive-encrypted")));
        });

    // The first contact: each side shows the other's code.
    window->SendClicked();
    ASSERT_TRUE(WaitUntil([&] { return to.session.activity.offerWaiting(); }));
    EXPECT_EQ(Text(&to.receiver(), "lblOfferSecurity"), EncryptionLine(true, FromCode()));
    EXPECT_TRUE(RenderToPng(*to.mainWindow, QStringLiteral("receive-offer-encrypted")));
    const QString kept = to.DownloadFolder() + QStringLiteral("by-hand.bin");
    to.fake.dialogs->paths.enqueue(kept);
    ClickButton(&to.receiver(), QStringLiteral("cmdAccept"));
    ASSERT_TRUE(WaitUntil([&] { return window->CurrentPage() == SendWindow::PageFinished; }));
    EXPECT_EQ(ReadAll(kept), content);
    EXPECT_EQ(sendingLine, EncryptionLine(true, ToCode()));
    EXPECT_EQ(receivingLine, EncryptionLine(true, FromCode()));
    EXPECT_TRUE(from.fake.messageBox->shown.isEmpty());

    // The receiver comes back with another certificate: the error names both codes, the
    // question follows, and Yes sends the same file again, taking the new certificate.
    const QByteArray first = ToCode();
    to.session.identity = TlsIdentity::CreateTransient();
    to.session.settings.autoRecvFile = true;
    to.session.settings.autoSavePath = to.DownloadFolder();
    window->ResultConfirmed();
    window->SendClicked();
    ASSERT_TRUE(WaitUntil(
        [&] { return ReadAll(to.DownloadFolder() + QStringLiteral("报告.bin")) == content; }));
    const QStringList boxes = from.fake.messageBox->Texts();
    ASSERT_EQ(boxes.size(), 2);
    EXPECT_TRUE(boxes[0].contains(FingerprintCode(first))) << boxes[0].toStdString();
    EXPECT_TRUE(boxes[0].contains(FingerprintCode(ToCode()))) << boxes[0].toStdString();
    EXPECT_EQ(boxes[1], TrustQuestion(LinkRefusal::IdentityChanged));
    EXPECT_EQ(from.fake.messageBox->shown[1].style.buttons, MessageButtons::YesNo);
    EXPECT_EQ(from.session.knownPeers.Pinned(kAnswererAddress), ToCode());
    ASSERT_TRUE(WaitUntil([&] { return window->CurrentPage() == SendWindow::PageFinished; }));
}

TEST_F(EncryptionWindows, NoLeavesTheRefusalStanding) {
    Start();
    to.session.settings.autoRecvFile = true;
    to.session.settings.autoSavePath = to.DownloadFolder();
    window->SendClicked();
    ASSERT_TRUE(WaitUntil([&] { return window->CurrentPage() == SendWindow::PageFinished; }));

    // A known peer that now speaks only the plain wire: refused, and the user says no.
    to.session.identity.reset();
    QFile::remove(to.DownloadFolder() + QStringLiteral("报告.bin"));
    from.fake.messageBox->answers << MessageAnswer::Ok << MessageAnswer::No;
    window->ResultConfirmed();
    window->SendClicked();
    ASSERT_TRUE(WaitUntil([&] { return from.fake.messageBox->shown.size() == 2; }));
    EXPECT_EQ(from.fake.messageBox->Texts()[1], TrustQuestion(LinkRefusal::Downgrade));
    // Nothing more happens: no second attempt, nothing arrives.
    EXPECT_FALSE(WaitUntil([&] { return window->CurrentPage() != SendWindow::PageInput; }, 500));
    EXPECT_EQ(window->phase(), FileSendEngine::Phase::Idle);
    EXPECT_FALSE(QFile::exists(to.DownloadFolder() + QStringLiteral("报告.bin")));
}

TEST_F(EncryptionWindows, ChatPagesShowTheCodesAndADowngradeIsAcceptedOnYes) {
    Start();
    from.mainWindow->MenuEntry(2)->trigger();
    ChatInviteWindow* invite = from.mainWindow->ChatWindow();
    invite->Inviter().SetPauseMs(0);
    ChatAcceptWindow* accept = to.mainWindow->AcceptWindow();
    Find<QLineEdit>(invite, "txtCSInfo1")->setText(to.session.localAddress);

    ClickButton(invite, QStringLiteral("cmdCSDo2"));
    ASSERT_TRUE(WaitUntil([&] { return to.session.activity.invitationWaiting(); }));
    EXPECT_EQ(Text(accept, "lblCRSecurity"), EncryptionLine(true, FromCode()));
    EXPECT_TRUE(RenderToPng(*accept, QStringLiteral("chat-accept-encrypted-invitation")));
    accept->AcceptInvitation();
    ASSERT_TRUE(WaitUntil([&] { return invite->CurrentPage() == ChatInviteWindow::PageChat; }));
    ASSERT_EQ(accept->CurrentPage(), ChatAcceptWindow::PageChat);
    EXPECT_EQ(Text(invite, "lblSecurity"), EncryptionLine(true, ToCode()));
    EXPECT_EQ(Text(accept, "lblSecurity"), EncryptionLine(true, FromCode()));
    EXPECT_TRUE(RenderToPng(*invite, QStringLiteral("chat-invite-encrypted")));
    EXPECT_TRUE(RenderToPng(*accept, QStringLiteral("chat-accept-encrypted")));
    invite->Inviter().Leave();
    invite->BackToInput();
    ASSERT_TRUE(WaitUntil([&] {
        return invite->Inviter().phase() == ChatInviter::Phase::Idle &&
               accept->Responder().phase() == ChatResponder::Phase::Listening;
    }));

    // The peer comes back on the plain wire only: a downgrade, then the question; Yes invites
    // again without encryption, and the chat page says so.
    to.session.identity.reset();
    to.session.settings.autoChat = true;
    from.fake.messageBox->shown.clear();
    ClickButton(invite, QStringLiteral("cmdCSDo2"));
    ASSERT_TRUE(WaitUntil([&] { return invite->CurrentPage() == ChatInviteWindow::PageChat; }));
    ASSERT_EQ(from.fake.messageBox->Texts().size(), 2);
    EXPECT_EQ(from.fake.messageBox->Texts()[1], TrustQuestion(LinkRefusal::Downgrade));
    EXPECT_EQ(Text(invite, "lblSecurity"), EncryptionLine(false, {}));
    EXPECT_FALSE(invite->Inviter().encrypted());
}

TEST_F(EncryptionWindows, CallersTurnedAwayAreAnnouncedOnTheDesktop) {
    Start();
    to.session.settings.requireEncryption = true;
    from.session.identity.reset();
    from.fake.messageBox->answers << MessageAnswer::Ok;
    window->SendClicked();
    ASSERT_TRUE(WaitUntil([&] { return !to.fake.notifications->raised.isEmpty(); }));

    // The same caller again within the minute is not announced again: a stranger who keeps
    // calling cannot flood the desktop.
    from.mainWindow->MenuEntry(2)->trigger();
    ChatInviteWindow* invite = from.mainWindow->ChatWindow();
    invite->Inviter().SetPauseMs(0);
    Find<QLineEdit>(invite, "txtCSInfo1")->setText(to.session.localAddress);
    ClickButton(invite, QStringLiteral("cmdCSDo2"));
    ASSERT_TRUE(WaitUntil([&] { return invite->Inviter().phase() == ChatInviter::Phase::Idle; }));
    EXPECT_EQ(to.fake.notifications->raised.size(), 1);
    to.fake.system->uptimeMs += 61000;
    ClickButton(invite, QStringLiteral("cmdCSDo2"));
    ASSERT_TRUE(WaitUntil([&] { return to.fake.notifications->raised.size() == 2; }));

    for (const RecordingNotifications::Raised& notice : to.fake.notifications->raised) {
        EXPECT_EQ(notice.kind, NotifyKind::CallerRejected);
        EXPECT_EQ(notice.summary, CallerRejectedSummary());
        EXPECT_EQ(notice.body, CallerRejectedText(LinkRefusal::PlainPeer, kCallerAddress));
    }
    EXPECT_TRUE(to.fake.messageBox->shown.isEmpty());
}

}  // namespace
}  // namespace tvx::test

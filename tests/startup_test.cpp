#include "startup/Startup.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "address/AddressCode.h"
#include "startup/AddressChoiceDialog.h"
#include "startup/LocalAddress.h"
#include "startup/Options.h"
#include "support/Fakes.h"
#include "support/Wait.h"

using namespace tvx;
using tvx::test::FakePlatform;

namespace {

Ipv4Bytes Bytes(int a, int b, int c, int d) {
    return {quint8(a), quint8(b), quint8(c), quint8(d)};
}

// A peer's start-up with a fake platform whose settings live in a temporary folder.
struct StartupRig {
    StartupRig() : fake(folder.path()), session(fake.platform) {}

    StartupOutcome Run(const StartupOptions& options = StartupOptions()) {
        return RunStartup(session, options, lock, [this](Session&, const QStringList& list) {
            offered = list;
            return chosen;
        });
    }

    QTemporaryDir folder;
    FakePlatform fake;
    Session session;
    InstanceLock lock;
    QStringList offered;
    QString chosen;
};

}  // namespace

TEST(LocalAddresses, UsableRuleLooksAtTheFirstCharacters) {
    EXPECT_TRUE(IsUsableAddress(QStringLiteral("10.0.0.1")));
    EXPECT_TRUE(IsUsableAddress(QStringLiteral("192.168.0.5")));
    EXPECT_FALSE(IsUsableAddress(QStringLiteral("127.1.2.3")));
    EXPECT_FALSE(IsUsableAddress(QStringLiteral("0.5.6.7")));
    EXPECT_EQ(DottedText(Bytes(10, 0, 200, 1)), QStringLiteral("10.0.200.1"));
    EXPECT_EQ(UsableAddresses({Bytes(127, 0, 0, 1), Bytes(10, 0, 0, 1), Bytes(0, 0, 0, 0),
                               Bytes(192, 168, 0, 5)}),
              (QStringList{QStringLiteral("10.0.0.1"), QStringLiteral("192.168.0.5")}));
}

TEST(Startup, NoUsableAddressEndsWithTheMessage) {
    StartupRig rig;
    rig.fake.system->addresses = {Bytes(127, 0, 0, 1), Bytes(0, 0, 0, 0)};
    EXPECT_EQ(rig.Run(), StartupOutcome::NoAddress);
    ASSERT_EQ(rig.fake.messageBox->shown.size(), 1);
    EXPECT_EQ(
        rig.fake.messageBox->shown[0].text,
        QStringLiteral("因未能获得可用IP地址,Tolvex无法运行。\r\n\r\n-请检查当前网络状况是否正常"));
    EXPECT_EQ(rig.fake.messageBox->shown[0].style, MessageStyleOf(MessageKind::Error));
}

TEST(Startup, AddressTableFailureShowsTheDetail) {
    StartupRig rig;
    rig.fake.system->tableError = QStringLiteral("拒绝访问");
    EXPECT_EQ(rig.Run(), StartupOutcome::AddressError);
    ASSERT_EQ(rig.fake.messageBox->shown.size(), 1);
    EXPECT_EQ(rig.fake.messageBox->shown[0].text,
              QStringLiteral("Tolvex获得本地IP地址时发生错误:\r\n\r\n拒绝访问"));
}

TEST(Startup, OneAddressIsTakenWithoutAsking) {
    StartupRig rig;
    rig.fake.system->addresses = {Bytes(127, 0, 0, 1), Bytes(10, 1, 2, 3)};
    rig.fake.screen->metrics.logicalDpiX = 96;
    rig.fake.screen->metrics.logicalDpiY = 120;
    EXPECT_EQ(rig.Run(), StartupOutcome::Running);
    EXPECT_TRUE(rig.offered.isEmpty());
    EXPECT_EQ(rig.session.localAddress, QStringLiteral("10.1.2.3"));
    EXPECT_EQ(ResolvePeerAddress(rig.session.localAddressCode), QStringLiteral("10.1.2.3"));
    EXPECT_EQ(rig.session.display.twipsPerPixelX, 15);
    EXPECT_EQ(rig.session.display.twipsPerPixelY, 12);
    // The data files go to the user's data folder, made at the first start.
    EXPECT_EQ(rig.session.appFolder, rig.folder.path() + QStringLiteral("/data/"));
    EXPECT_TRUE(QFileInfo(rig.session.appFolder).isDir());
    EXPECT_TRUE(rig.fake.messageBox->shown.isEmpty());
}

TEST(Startup, SeveralAddressesAreOfferedInTableOrder) {
    StartupRig rig;
    rig.fake.system->addresses = {Bytes(192, 168, 0, 5), Bytes(10, 0, 0, 1)};
    rig.chosen = QStringLiteral("10.0.0.1");
    EXPECT_EQ(rig.Run(), StartupOutcome::Running);
    EXPECT_EQ(rig.offered,
              (QStringList{QStringLiteral("192.168.0.5"), QStringLiteral("10.0.0.1")}));
    EXPECT_EQ(rig.session.localAddress, QStringLiteral("10.0.0.1"));

    StartupRig leaving;
    leaving.fake.system->addresses = rig.fake.system->addresses;
    EXPECT_EQ(leaving.Run(), StartupOutcome::UserExit);
    EXPECT_TRUE(leaving.fake.messageBox->shown.isEmpty());
}

TEST(Startup, AddressOptionSkipsDetection) {
    StartupRig rig;
    rig.fake.system->tableError = QStringLiteral("never asked");
    QTemporaryDir data;
    StartupOptions options;
    options.address = QStringLiteral("127.0.0.2");
    options.dataDir = data.path();
    EXPECT_EQ(rig.Run(options), StartupOutcome::Running);
    EXPECT_EQ(rig.session.localAddress, QStringLiteral("127.0.0.2"));
    EXPECT_EQ(rig.session.appFolder, data.path() + QLatin1Char('/'));
}

TEST(Startup, SecondCopyWithTheSameSettingsFolderIsRefused) {
    StartupRig first;
    first.fake.system->addresses = {Bytes(10, 0, 0, 1)};
    ASSERT_EQ(first.Run(), StartupOutcome::Running);

    FakePlatform second(first.folder.path());
    Session session(second.platform);
    InstanceLock lock;
    EXPECT_EQ(RunStartup(session, StartupOptions(), lock), StartupOutcome::AlreadyRunning);
    ASSERT_EQ(second.messageBox->shown.size(), 1);
    EXPECT_EQ(second.messageBox->shown[0].text, QStringLiteral("Tolvex已经运行。"));
    EXPECT_EQ(second.messageBox->shown[0].title, QStringLiteral("警告"));

    // Another settings folder is another user: it runs beside the first.
    StartupRig other;
    other.fake.system->addresses = {Bytes(10, 0, 0, 2)};
    EXPECT_EQ(other.Run(), StartupOutcome::Running);
}

TEST(Startup, PersonalInfoCorrections) {
    StartupRig rig;
    rig.fake.system->addresses = {Bytes(10, 0, 0, 1)};
    rig.fake.system->computerName = QStringLiteral("WORKSTATION");
    auto& values = rig.fake.settings->values;
    values[QStringLiteral("Sex")] = QStringLiteral("3");
    values[QStringLiteral("OtherInfo")] = QStringLiteral("\r\n 第一行\r\n第二行 \r\n");
    values[QStringLiteral("Phone")] = QStringLiteral(" 123 ");
    ASSERT_EQ(rig.Run(), StartupOutcome::Running);
    const PersonalInfo& card = rig.session.personalInfo;
    EXPECT_EQ(card.nickName, QStringLiteral("WORKSTATION"));
    EXPECT_EQ(card.sex, QStringLiteral("0"));
    EXPECT_EQ(card.phone, QStringLiteral("123"));
    EXPECT_EQ(card.otherInfo, QStringLiteral("第一行\r\n第二行"));
    // The computer's name stands in for the nickname without being stored.
    EXPECT_FALSE(values.contains(QStringLiteral("NickName")));

    values[QStringLiteral("Sex")] = QStringLiteral("x");
    values[QStringLiteral("NickName")] = QStringLiteral("  小王 ");
    PersonalInfo again = LoadPersonalInfo(*rig.fake.settings, *rig.fake.system);
    EXPECT_EQ(again.sex, QStringLiteral("0"));
    EXPECT_EQ(again.nickName, QStringLiteral("小王"));
    values[QStringLiteral("Sex")] = QStringLiteral("2");
    EXPECT_EQ(LoadPersonalInfo(*rig.fake.settings, *rig.fake.system).sex, QStringLiteral("2"));
}

TEST(AddressChoiceDialog, NeedsExactlyOneSelection) {
    FakePlatform fake;
    AddressChoiceDialog dialog(*fake.messageBox,
                               {QStringLiteral("192.168.0.5"), QStringLiteral("10.0.0.1")});
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Tolvex"));
    auto* list = dialog.findChild<QListWidget*>(QStringLiteral("lstIP"));
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("cmdOK"));
    ASSERT_TRUE(list && ok);
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->selectedItems().first()->text(), QStringLiteral("192.168.0.5"));

    list->clearSelection();
    ok->click();
    ASSERT_EQ(fake.messageBox->shown.size(), 1);
    EXPECT_EQ(fake.messageBox->shown[0].text, QStringLiteral("必须指定一个IP地址。"));
    EXPECT_EQ(fake.messageBox->shown[0].style, MessageStyleOf(MessageKind::Warning));

    list->item(0)->setSelected(true);
    list->item(1)->setSelected(true);
    ok->click();
    EXPECT_EQ(fake.messageBox->shown.size(), 2);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    list->item(0)->setSelected(false);
    ok->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.ChosenAddress(), QStringLiteral("10.0.0.1"));
}

TEST(AddressChoiceDialog, ExitLeavesWithoutAnAddress) {
    FakePlatform fake;
    AddressChoiceDialog dialog(*fake.messageBox, {QStringLiteral("192.168.0.5")});
    QTimer::singleShot(0,
                       [&] { dialog.findChild<QPushButton*>(QStringLiteral("cmdExit"))->click(); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_TRUE(dialog.ChosenAddress().isEmpty());
    EXPECT_TRUE(fake.messageBox->shown.isEmpty());
}

// The built program: bad options end it at once with status 2 and one line on standard error.
TEST(Program, RefusesBadOptions) {
    const QStringList bad[] = {{QStringLiteral("--address"), QStringLiteral("300.1.1.1")},
                               {QStringLiteral("--frobnicate")}};
    for (const QStringList& arguments : bad) {
        QProcess program;
        program.start(QStringLiteral(TOLVEX_BINARY), arguments);
        ASSERT_TRUE(program.waitForFinished(30000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 2);
        const QByteArray err = program.readAllStandardError();
        EXPECT_TRUE(err.startsWith("tolvex: ")) << err.constData();
        EXPECT_EQ(err.count('\n'), 1) << err.constData();
        EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
    }
}

// A running copy of the program holds the lock; a start with the same settings folder is refused.
TEST(Program, RunningCopyRefusesASecondStart) {
    QTemporaryDir config;
    QTemporaryDir data;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TOLVEX_BINARY),
                  {QStringLiteral("--address"), QStringLiteral("127.0.0.2"),
                   QStringLiteral("--data-dir"), data.path()});
    ASSERT_TRUE(program.waitForStarted(30000));
    const QString lockPath = config.path() + QStringLiteral("/Kestrane/Kestrane.lock");
    ASSERT_TRUE(test::WaitUntil([&] { return QFile::exists(lockPath); }, 30000));

    FakePlatform fake(config.path() + QStringLiteral("/Kestrane"));
    Session session(fake.platform);
    InstanceLock lock;
    StartupOptions options;
    options.address = QStringLiteral("127.0.0.3");
    EXPECT_EQ(RunStartup(session, options, lock), StartupOutcome::AlreadyRunning);
    ASSERT_EQ(fake.messageBox->shown.size(), 1);
    EXPECT_EQ(fake.messageBox->shown[0].text, QStringLiteral("Tolvex已经运行。"));

    // The first copy is untouched by the refused start.
    EXPECT_EQ(program.state(), QProcess::Running);
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(30000));
}

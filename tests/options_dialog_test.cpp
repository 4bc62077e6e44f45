#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "commands/CommandLine.h"
#include "common/Handshake.h"
#include "common/Messages.h"
#include "common/ShellRoutines.h"
#include "records/AddressFiles.h"
#include "records/AddressLists.h"
#include "records/OptionsDialog.h"
#include "records/Settings.h"
#include "session/Session.h"
#include "support/Clicks.h"
#include "support/Fakes.h"
#include "support/Files.h"
#include "support/Render.h"

namespace tvx::test {
namespace {

const QString kExecutable = QStringLiteral("/opt/tolvex/tolvex");

// The order OK writes its keys in, when every option is switched on.
const QStringList kWriteOrder = {QStringLiteral("UseLogFile"),
                                 QStringLiteral("LogFileSize"),
                                 QStringLiteral("Discoverable"),
                                 QStringLiteral("UseTimer"),
                                 QStringLiteral("Hour"),
                                 QStringLiteral("Minute"),
                                 QStringLiteral("PopText"),
                                 QStringLiteral("TimerOpen"),
                                 QStringLiteral("PopTextString"),
                                 QStringLiteral("ExeFilePath"),
                                 QStringLiteral("SaveSendInfo1"),
                                 QStringLiteral("UseSendBuffer"),
                                 QStringLiteral("SendBufferSize"),
                                 QStringLiteral("PassWord1"),
                                 QStringLiteral("UseRecvBuffer"),
                                 QStringLiteral("RecvBufferSize"),
                                 QStringLiteral("AutoRecvFile"),
                                 QStringLiteral("AutoSavePath"),
                                 QStringLiteral("ExistFile"),
                                 QStringLiteral("AutoOpenFile"),
                                 QStringLiteral("AutoOpenFileType"),
                                 QStringLiteral("SaveSendInfo2"),
                                 QStringLiteral("PassWord2"),
                                 QStringLiteral("AutoChat"),
                                 QStringLiteral("AutoChatTip"),
                                 QStringLiteral("BlockText"),
                                 QStringLiteral("RequireEncryption")};

class Options : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        session.appFolder = folder.path() + QLatin1Char('/');
        session.executablePath = kExecutable;
        alarmFile = session.appFolder + QStringLiteral("alarm.txt");
        ASSERT_TRUE(WriteFile(alarmFile, "x"));
    }
    void TearDown() override { delete dialog.data(); }

    // Every option on, as a user who has set up everything would have it.
    void StoreEverySetting() {
        QMap<QString, QString>& v = fake.settings->values;
        v[QStringLiteral("UseLogFile")] = QStringLiteral("1");
        v[QStringLiteral("LogFileSize")] = QStringLiteral("7");
        v[QStringLiteral("Discoverable")] = QStringLiteral("0");
        v[QStringLiteral("UseTimer")] = QStringLiteral("1");
        v[QStringLiteral("Hour")] = QStringLiteral("8");
        v[QStringLiteral("Minute")] = QStringLiteral("30");
        v[QStringLiteral("PopText")] = QStringLiteral("1");
        v[QStringLiteral("TimerOpen")] = QStringLiteral("1");
        v[QStringLiteral("PopTextString")] = QStringLiteral("该开会了");
        v[QStringLiteral("ExeFilePath")] = alarmFile;
        v[QStringLiteral("SaveSendInfo1")] = QStringLiteral("1");
        v[QStringLiteral("UseSendBuffer")] = QStringLiteral("1");
        v[QStringLiteral("SendBufferSize")] = QStringLiteral("2");
        v[QStringLiteral("PassWord1")] = Digest(QStringLiteral("芝麻开门"));
        v[QStringLiteral("UseRecvBuffer")] = QStringLiteral("1");
        v[QStringLiteral("RecvBufferSize")] = QStringLiteral("3");
        v[QStringLiteral("AutoRecvFile")] = QStringLiteral("1");
        v[QStringLiteral("AutoSavePath")] = session.appFolder;
        v[QStringLiteral("ExistFile")] = QStringLiteral("1");
        v[QStringLiteral("AutoOpenFile")] = QStringLiteral("1");
        v[QStringLiteral("AutoOpenFileType")] = QStringLiteral("TXT;JPG");
        v[QStringLiteral("SaveSendInfo2")] = QStringLiteral("1");
        v[QStringLiteral("PassWord2")] = Digest(QStringLiteral("open sesame"));
        v[QStringLiteral("AutoChat")] = QStringLiteral("1");
        v[QStringLiteral("AutoChatTip")] = QStringLiteral("稍后回复");
        v[QStringLiteral("BlockText")] = QStringLiteral("暂不接收");
        v[QStringLiteral("RequireEncryption")] = QStringLiteral("1");
        fake.autoStart->entries[QStringLiteral("Kestrane")] = kExecutable;
        session.blockList = {QStringLiteral("10.0.0.7"), QStringLiteral("192.168.001.002")};
    }

    void LoadSettings() {
        LoadMainSettings(*fake.settings, session.settings);
        LoadChatSettings(*fake.settings, session.settings);
    }

    OptionsDialog& Open(int page = PageGeneral) {
        delete dialog.data();
        dialog = new OptionsDialog(session, page);
        return *dialog;
    }

    QLineEdit* Box(const char* name) { return Find<QLineEdit>(dialog, name); }
    QCheckBox* Check(const char* name) { return Find<QCheckBox>(dialog, name); }
    QList<ScriptedMessageBox::Shown>& Boxes() { return fake.messageBox->shown; }
    QString LastMessage() { return Boxes().isEmpty() ? QString() : Boxes().last().text; }
    QWidget* Focused() { return dialog->focusWidget(); }
    // Closing deletes the dialog once events run.
    bool Gone() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return dialog.isNull();
    }

    QTemporaryDir folder;
    FakePlatform fake;
    Session session{fake.platform};
    QString alarmFile;
    QPointer<OptionsDialog> dialog;
};

TEST_F(Options, OkWithNothingChangedRewritesTheSameValuesInOrder) {
    StoreEverySetting();
    LoadSettings();
    const QMap<QString, QString> before = fake.settings->values;
    const SettingsRecord record = session.settings;
    Open();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("选项"));
    EXPECT_TRUE(Check("chkAutoRun")->isChecked());
    EXPECT_FALSE(Check("chkDiscoverable")->isChecked());
    EXPECT_TRUE(Check("chkRequireEncryption")->isChecked());
    EXPECT_TRUE(dialog->findChild<QRadioButton*>(QStringLiteral("optSaveFile1"))->isChecked());
    QSignalSpy alarm(dialog.data(), &OptionsDialog::AlarmSwitched);

    ClickButton(dialog, QStringLiteral("cmdDo1"));
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_TRUE(Gone());
    EXPECT_EQ(fake.settings->writeOrder, kWriteOrder);
    EXPECT_EQ(fake.settings->values, before);
    EXPECT_EQ(session.settings.passWord1, record.passWord1);
    EXPECT_EQ(session.settings.passWord2, record.passWord2);
    EXPECT_EQ(session.settings.sendBufferBytes, 2 * 1048576);
    EXPECT_EQ(session.settings.recvBufferBytes, 3 * 1048576);
    EXPECT_EQ(fake.autoStart->entries.value(QStringLiteral("Kestrane")), kExecutable);
    ASSERT_EQ(alarm.count(), 1);
    EXPECT_TRUE(alarm[0][0].toBool());
    EXPECT_EQ(ReadAll(session.appFolder + QStringLiteral("BlockAdrs.dat")),
              QByteArray("10.0.0.7\r\n192.168.001.002\r\n"));
}

TEST_F(Options, CodesAreClearedOrReplacedByDigestsAndUncheckedKeysStay) {
    StoreEverySetting();
    LoadSettings();
    Open();
    // The code boxes keep spaces: a code is compared exactly as typed.
    Box("txtFRPW")->clear();
    Box("txtCRPW")->setText(QStringLiteral(" 新码 "));
    Check("chkAutoRun")->setChecked(false);
    Check("chkUseLogFile")->setChecked(false);
    Box("txtLogFileSize")->setText(QStringLiteral("5"));
    Check("chkUseTimer")->setChecked(false);
    Check("chkUseFSBuffer")->setChecked(false);
    Check("chkAutoChat")->setChecked(false);
    Box("txtAutoChatTip")->setText(QStringLiteral("不会写入"));
    Box("txtBlockTxt")->setText(QStringLiteral("  走开  "));
    Check("chkRequireEncryption")->setChecked(false);
    QSignalSpy alarm(dialog.data(), &OptionsDialog::AlarmSwitched);
    ClickButton(dialog, QStringLiteral("cmdDo1"));

    const QMap<QString, QString>& v = fake.settings->values;
    EXPECT_EQ(v[QStringLiteral("PassWord1")], QString());
    EXPECT_EQ(v[QStringLiteral("PassWord2")], Digest(QStringLiteral(" 新码 ")));
    EXPECT_EQ(session.settings.passWord2, Digest(QStringLiteral(" 新码 ")));
    EXPECT_FALSE(fake.autoStart->entries.contains(QStringLiteral("Kestrane")));
    EXPECT_EQ(v[QStringLiteral("UseLogFile")], QStringLiteral("0"));
    EXPECT_EQ(v[QStringLiteral("LogFileSize")], QStringLiteral("7"));
    EXPECT_EQ(v[QStringLiteral("UseTimer")], QStringLiteral("0"));
    EXPECT_EQ(v[QStringLiteral("Hour")], QStringLiteral("8"));
    EXPECT_FALSE(fake.settings->writeOrder.contains(QStringLiteral("Hour")));
    EXPECT_EQ(v[QStringLiteral("AutoChatTip")], QStringLiteral("稍后回复"));
    EXPECT_EQ(v[QStringLiteral("BlockText")], QStringLiteral("走开"));
    EXPECT_EQ(session.settings.blockText, QStringLiteral("走开"));
    EXPECT_EQ(v[QStringLiteral("RequireEncryption")], QStringLiteral("0"));
    EXPECT_FALSE(session.settings.requireEncryption);
    // A send buffer switched off in the dialog is smaller than at start-up.
    EXPECT_EQ(session.settings.sendBufferBytes, 131072);
    ASSERT_EQ(alarm.count(), 1);
    EXPECT_FALSE(alarm[0][0].toBool());

    // Reopened, the dialog shows what was kept.
    Open();
    EXPECT_FALSE(Check("chkAutoRun")->isChecked());
    EXPECT_FALSE(Check("chkRequireEncryption")->isChecked());
    EXPECT_TRUE(Box("txtFRPW")->text().isEmpty());
    EXPECT_FALSE(Box("txtCRPW")->text().isEmpty());
    EXPECT_EQ(Box("txtLogFileSize")->text(), QStringLiteral("7"));
}

TEST_F(Options, EachPageTestKeepsItsPageWithItsMessageAndFocus) {
    LoadSettings();
    Open();
    struct Case {
        int page;
        std::function<void()> edit;
        QString message;
        MessageKind kind;
        QWidget* focus;
    };
    auto box = [&](const char* name) { return static_cast<QWidget*>(Box(name)); };
    const QString logNumber = QStringLiteral("历史记录文件最大尺寸必须为数字。");
    const QString logRange = QStringLiteral("历史记录文件最大尺寸必须介于1-99之间。");
    const QList<Case> cases = {
        // The log size is tested with the log off too, but the focus stays where it was.
        {1, [&] { Box("txtLogFileSize")->setText(QStringLiteral("abc")); }, logNumber,
         MessageKind::Warning, nullptr},
        {1, [&] { Box("txtLogFileSize")->setText(QStringLiteral("0")); }, logRange,
         MessageKind::Warning, nullptr},
        {1,
         [&] {
             Check("chkUseLogFile")->setChecked(true);
             Box("txtLogFileSize")->setText(QStringLiteral("ab"));
         },
         logNumber, MessageKind::Warning, box("txtLogFileSize")},
        // 0.4 would be stored as 0.
        {1, [&] { Box("txtLogFileSize")->setText(QStringLiteral(".4")); }, logRange,
         MessageKind::Warning, box("txtLogFileSize")},
        {2,
         [&] {
             Box("txtLogFileSize")->setText(QStringLiteral("99"));
             Check("chkUseTimer")->setChecked(true);
         },
         QStringLiteral("定时设置中最少要指定一个操作。"), MessageKind::Warning, nullptr},
        {2,
         [&] {
             Check("chkPopText")->setChecked(true);
             Box("txtPopText")->setText(QStringLiteral("   "));
         },
         QStringLiteral("弹出文字不能为空。"), MessageKind::Warning, box("txtPopText")},
        {2,
         [&] {
             Box("txtPopText")->setText(QStringLiteral("起床"));
             Check("chkTimeOpen")->setChecked(true);
             Box("txtExeFile")->setText(session.appFolder + QStringLiteral("missing.txt"));
         },
         QStringLiteral("选择的文件不存在。"), MessageKind::Warning, box("txtExeFile")},
        {3,
         [&] {
             Box("txtExeFile")->setText(alarmFile);
             Box("txtFSBuffSize")->setText(QStringLiteral("x"));
         },
         QStringLiteral("发送缓冲区大小必须为数值。"), MessageKind::Warning, nullptr},
        {3,
         [&] {
             Check("chkUseFSBuffer")->setChecked(true);
             Box("txtFSBuffSize")->setText(QStringLiteral("5"));
         },
         QStringLiteral("发送缓冲区值必须介于1-4之间。"), MessageKind::Warning,
         box("txtFSBuffSize")},
        {3,
         [&] {
             Box("txtFSBuffSize")->setText(QStringLiteral("4"));
             // Not tested while the receive buffer is off.
             Box("txtFRBuffSize")->setText(QStringLiteral("y"));
             Check("chkUseFRBuffer")->setChecked(true);
         },
         QStringLiteral("接收缓冲区大小必须为数值。"), MessageKind::Warning, box("txtFRBuffSize")},
        {3, [&] { Box("txtFRBuffSize")->setText(QStringLiteral("0")); },
         QStringLiteral("接收缓冲区值必须介于1-4之间。"), MessageKind::Warning,
         box("txtFRBuffSize")},
        {3,
         [&] {
             Box("txtFRBuffSize")->setText(QStringLiteral("1"));
             Check("chkAutoRecvFile")->setChecked(true);
             Box("txtAutoSaveDir")->setText(session.appFolder + QStringLiteral("gone/"));
         },
         QStringLiteral("选择的文件自动保存位置不存在。"), MessageKind::Error,
         box("txtAutoSaveDir")},
    };
    dialog->show();
    int shownCount = 0;
    for (const Case& c : cases) {
        // Each edit mends the case before and breaks its own page, which the dialog then
        // shows: only the page being left is tested.
        c.edit();
        dialog->SwitchToPage(c.page);
        ASSERT_EQ(dialog->CurrentPage(), c.page) << LastMessage().toStdString();
        dialog->setFocus();
        for (bool duringOk : {false, true}) {
            if (duringOk)
                ClickButton(dialog, QStringLiteral("cmdDo1"));
            else
                dialog->SwitchToPage(c.page == 6 ? 1 : 6);
            ASSERT_EQ(Boxes().size(), ++shownCount) << c.message.toStdString();
            EXPECT_EQ(Boxes().last().text, c.message);
            EXPECT_EQ(Boxes().last().style, MessageStyleOf(c.kind));
            EXPECT_EQ(dialog->CurrentPage(), c.page);
            EXPECT_EQ(Focused(), c.focus ? c.focus : dialog.data()) << c.message.toStdString();
            dialog->setFocus();
        }
    }
    // "100" cannot be typed into the two-character box; the test refuses it all the same.
    OptionsInput input = dialog->Input();
    input.logFileSize = QStringLiteral("100");
    ASSERT_TRUE(TestOptionsPage(PageGeneral, input));
    EXPECT_EQ(TestOptionsPage(PageGeneral, input)->message, logRange);
    input.logFileSize = QStringLiteral("1.5");
    EXPECT_FALSE(TestOptionsPage(PageGeneral, input));
    // A fraction that passes is stored rounded, halves to even.
    int value = 0;
    EXPECT_TRUE(OptionsNumber(QStringLiteral("2.5"), &value));
    EXPECT_EQ(value, 2);
    EXPECT_TRUE(OptionsNumber(QStringLiteral(" 3.5 "), &value));
    EXPECT_EQ(value, 4);

    // A value that fails on another page during OK brings its page back; the steps before it
    // stay applied and written.
    Box("txtAutoSaveDir")->setText(session.appFolder);
    Box("txtLogFileSize")->setText(QStringLiteral("42"));
    dialog->SwitchToPage(PageAbout);
    ASSERT_EQ(dialog->CurrentPage(), PageAbout);
    QFile::remove(alarmFile);
    fake.settings->writeOrder.clear();
    ClickButton(dialog, QStringLiteral("cmdDo1"));
    EXPECT_EQ(LastMessage(), QStringLiteral("选择的文件不存在。"));
    EXPECT_EQ(dialog->CurrentPage(), PageReminder);
    EXPECT_EQ(fake.settings->writeOrder,
              (QStringList{QStringLiteral("UseLogFile"), QStringLiteral("LogFileSize"),
                           QStringLiteral("Discoverable")}));
    EXPECT_EQ(fake.settings->values[QStringLiteral("LogFileSize")], QStringLiteral("42"));
    EXPECT_EQ(session.settings.logFileSize, 42);
    EXPECT_FALSE(Gone());
}

TEST_F(Options, TimeBoxesFollowTheirSpinnersAndChoicesFillTheirBoxes) {
    LoadSettings();
    Open(PageGeneral);
    // Off, the whole reminder is disabled; the rules follow the check box.
    EXPECT_FALSE(Box("txtTime1")->isEnabled());
    EXPECT_FALSE(Check("chkPopText")->isEnabled());
    Check("chkUseTimer")->setChecked(true);
    EXPECT_TRUE(Box("txtTime1")->isEnabled());
    EXPECT_TRUE(Find<QScrollBar>(dialog, "vsrTime2")->isEnabled());
    EXPECT_FALSE(Box("txtAutoSaveDir")->isEnabled());
    Check("chkAutoRecvFile")->setChecked(true);
    EXPECT_TRUE(dialog->findChild<QRadioButton*>(QStringLiteral("optSaveFile2"))->isEnabled());

    QLineEdit* hour = Box("txtTime1");
    Find<QScrollBar>(dialog, "vsrTime1")->setValue(8);
    EXPECT_EQ(hour->text(), QStringLiteral("8"));
    hour->setText(QStringLiteral("30"));
    EXPECT_EQ(hour->text(), QStringLiteral("8"));
    hour->setText(QStringLiteral("21"));
    EXPECT_EQ(Find<QScrollBar>(dialog, "vsrTime1")->value(), 21);
    dialog->show();
    hour->setFocus();
    hour->end(false);
    QTest::keyClicks(hour, QStringLiteral("a"));
    EXPECT_EQ(hour->text(), QStringLiteral("21"));
    // Cleared, the box waits for the next digits and counts as 0.
    hour->clear();
    QTest::keyClicks(hour, QStringLiteral("7"));
    EXPECT_EQ(Find<QScrollBar>(dialog, "vsrTime1")->value(), 7);

    dialog->FillCurrentTime();  // the clock says 8:04
    EXPECT_EQ(Box("txtTime1")->text(), QStringLiteral("8"));
    EXPECT_EQ(Box("txtTime2")->text(), QStringLiteral("4"));
    EXPECT_EQ(dialog->Input().hour, 8);
    EXPECT_EQ(dialog->Input().minute, 4);

    for (const QString& answer : {alarmFile, QString(), folder.path(), QString()})
        fake.dialogs->paths.enqueue(answer);
    dialog->ChooseAlarmFile();
    EXPECT_EQ(Box("txtExeFile")->text(), alarmFile);
    EXPECT_EQ(fake.dialogs->requests.last().title, QStringLiteral("选择文件"));
    dialog->ChooseAlarmFile();  // cancelled
    EXPECT_EQ(Box("txtExeFile")->text(), alarmFile);
    dialog->ChooseAutoSaveFolder();
    EXPECT_EQ(Box("txtAutoSaveDir")->text(), session.appFolder);
    EXPECT_EQ(Box("txtAutoSaveDir")->cursorPosition(), session.appFolder.size());
    EXPECT_EQ(fake.dialogs->requests.last().kind, QStringLiteral("folder"));
    EXPECT_EQ(fake.dialogs->requests.last().title, QStringLiteral("选择文件自动保存位置:"));
    dialog->ChooseAutoSaveFolder();  // cancelled
    EXPECT_EQ(Box("txtAutoSaveDir")->text(), session.appFolder);
}

TEST_F(Options, BlockListPageEditsACopyThatOnlyOkSaves) {
    session.blockList = {QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.2"),
                         QStringLiteral("10.0.0.3")};
    LoadSettings();
    Open();
    dialog->SwitchToPage(PageSecurity);
    QListWidget* list = Find<QListWidget>(dialog, "lstIP");
    QLineEdit* input = Box("txtInputAdress");

    input->setText(QStringLiteral(" 10.0.0.7 "));
    ClickButton(dialog, QStringLiteral("cmdSafe1"));
    ASSERT_EQ(list->count(), 4);
    EXPECT_EQ(list->item(3)->text(), QStringLiteral("10.0.0.7"));
    EXPECT_EQ(list->selectedItems(), QList<QListWidgetItem*>{list->item(3)});
    EXPECT_TRUE(input->text().isEmpty());
    input->setText(QStringLiteral("10.0.0.7"));
    ClickButton(dialog, QStringLiteral("cmdSafe1"));
    EXPECT_EQ(LastMessage(), QStringLiteral("地址在列表中已存在。"));
    EXPECT_EQ(Boxes().last().style, MessageStyleOf(MessageKind::Warning));
    input->setText(QStringLiteral("abc"));
    ClickButton(dialog, QStringLiteral("cmdSafe1"));
    EXPECT_EQ(LastMessage(), QStringLiteral("无效的IP或TVX地址,请重新输入。"));
    EXPECT_EQ(Boxes().last().style, MessageStyleOf(MessageKind::Error));
    EXPECT_EQ(list->count(), 4);

    list->clearSelection();
    input->setText(QStringLiteral("10.0.0.9"));
    ClickButton(dialog, QStringLiteral("cmdSafe2"));
    EXPECT_EQ(LastMessage(), QStringLiteral("目前尚未选择任何地址。"));
    // Editing changes the selected entry even when the current one is another.
    list->setCurrentRow(2, QItemSelectionModel::NoUpdate);
    list->item(1)->setSelected(true);
    ClickButton(dialog, QStringLiteral("cmdSafe2"));
    EXPECT_EQ(list->item(1)->text(), QStringLiteral("10.0.0.9"));
    EXPECT_EQ(list->item(2)->text(), QStringLiteral("10.0.0.3"));

    ClickButton(dialog, QStringLiteral("cmdSafe4"));
    EXPECT_EQ(list->selectedItems().size(), 3);
    EXPECT_FALSE(list->item(1)->isSelected());
    fake.messageBox->answers.enqueue(MessageAnswer::Yes);
    ClickButton(dialog, QStringLiteral("cmdSafe3"));
    EXPECT_EQ(LastMessage(), QStringLiteral("确实要删除选择的 3 个地址么？"));
    EXPECT_EQ(ItemTexts(list), QStringList{QStringLiteral("10.0.0.9")});

    // The close box discards every edit.
    dialog->close();
    EXPECT_TRUE(Gone());
    EXPECT_EQ(session.blockList.size(), 3);
    EXPECT_FALSE(QFile::exists(session.appFolder + QStringLiteral("BlockAdrs.dat")));

    Open();
    dialog->SwitchToPage(PageSecurity);
    EXPECT_EQ(ItemTexts(Find<QListWidget>(dialog, "lstIP")), session.blockList);
    Box("txtInputAdress")->setText(QStringLiteral("NVSSWFDSEN"));
    ClickButton(dialog, QStringLiteral("cmdSafe1"));
    ClickButton(dialog, QStringLiteral("cmdDo1"));
    EXPECT_EQ(session.blockList.last(), QStringLiteral("NVSSWFDSEN"));
    EXPECT_EQ(ReadAll(session.appFolder + QStringLiteral("BlockAdrs.dat")),
              QByteArray("10.0.0.1\r\n10.0.0.2\r\n10.0.0.3\r\nNVSSWFDSEN\r\n"));
}

TEST_F(Options, FailuresWhileSavingAreToldAndCloseTheDialog) {
    LoadSettings();
    Open();
    fake.settings->failWrites = true;
    ClickButton(dialog, QStringLiteral("cmdDo1"));
    ASSERT_EQ(Boxes().size(), 1);
    EXPECT_TRUE(Boxes()[0].text.startsWith(QStringLiteral("保存选项设置时发生错误。\r\n\r\n")));
    EXPECT_EQ(Boxes()[0].style, MessageStyleOf(MessageKind::Error));
    EXPECT_TRUE(Gone());

    // A folder in the way of the block-list file: the old list stays on disk, the new one
    // in memory, and the user is told.
    fake.settings->failWrites = false;
    ASSERT_TRUE(QDir().mkpath(session.appFolder + QStringLiteral("BlockAdrs.dat")));
    Open();
    Box("txtInputAdress")->setText(QStringLiteral("10.0.0.7"));
    ClickButton(dialog, QStringLiteral("cmdSafe1"));
    ClickButton(dialog, QStringLiteral("cmdDo1"));
    ASSERT_EQ(Boxes().size(), 2);
    EXPECT_TRUE(
        Boxes()[1].text.startsWith(QStringLiteral("将屏蔽地址保存到文件时发生错误。\r\n\r\n")));
    EXPECT_TRUE(Gone());
    EXPECT_EQ(session.blockList, QStringList{QStringLiteral("10.0.0.7")});
}

TEST_F(Options, AboutPageNamesTheVersionAndOpensHelpAndMail) {
    LoadSettings();
    Open(PageAbout);
    EXPECT_EQ(dialog->CurrentPage(), PageAbout);
    EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("lblProduct"))->text(),
              QStringLiteral("Tolvex Version 2.82"));
    // The project's version, which --version, the package and the manual page carry, is the one
    // the about page names.
    EXPECT_EQ(VersionText(), QStringLiteral("tolvex 2.82"));
    // A program whose help page is missing, then one that has it.
    session.executablePath = session.appFolder + QStringLiteral("bin/tolvex");
    dialog->OpenHomePage();
    EXPECT_EQ(LastMessage(), QStringLiteral("帮助文件不存在。"));
    ASSERT_TRUE(QDir().mkpath(session.appFolder + QStringLiteral("share/tolvex/help")));
    ASSERT_TRUE(WriteFile(HelpPagePath(session), "help"));
    dialog->OpenHomePage();
    dialog->WriteEmail();
    EXPECT_EQ(fake.shell->opened,
              (QStringList{HelpPagePath(session), QStringLiteral("mailto:?subject=Tolvex")}));
    // Cancel discards, as the close box does.
    ClickButton(dialog, QStringLiteral("cmdDo2"));
    EXPECT_TRUE(Gone());
    EXPECT_TRUE(fake.settings->writeOrder.isEmpty());
}

TEST_F(Options, RendersOfEveryPage) {
    StoreEverySetting();
    LoadSettings();
    Open();
    for (int page = 1; page <= 6; ++page) {
        dialog->SwitchToPage(page);
        ASSERT_EQ(dialog->CurrentPage(), page);
        EXPECT_TRUE(RenderToPng(*dialog, QStringLiteral("options-page%1").arg(page)));
    }
    Check("chkUseTimer")->setChecked(false);
    Check("chkAutoRecvFile")->setChecked(false);
    dialog->SwitchToPage(2);
    EXPECT_TRUE(RenderToPng(*dialog, QStringLiteral("options-page2-off")));
    dialog->SwitchToPage(3);
    EXPECT_TRUE(RenderToPng(*dialog, QStringLiteral("options-page3-off")));
}

}  // namespace
}  // namespace tvx::test

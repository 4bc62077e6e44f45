#include "records/OptionsValues.h"

#include <QRegularExpression>

#include "common/AutoRun.h"
#include "common/Handshake.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "presence/PresenceService.h"
#include "records/AddressFiles.h"
#include "records/Settings.h"
#include "session/Session.h"

namespace tvx {

namespace {

constexpr qint64 kMegabyte = 1048576;

PageTestFailure Failure(const char16_t* message, MessageKind kind,
                        OptionsBox focus = OptionsBox::None) {
    return PageTestFailure{QString::fromUtf16(message), kind, focus};
}

// A size box: numeric (whatever its check box says), then within [low, high] once rounded.
// The focus goes to the box only while its check box is on.
PageTestResult TestSizeBox(const QString& text, bool switchedOn, int low, int high, OptionsBox box,
                           const char16_t* notNumeric, const char16_t* outOfRange) {
    const OptionsBox focus = switchedOn ? box : OptionsBox::None;
    int value = 0;
    if (!OptionsNumber(text, &value))
        return Failure(notNumeric, MessageKind::Warning, focus);
    if (value < low || value > high)
        return Failure(outOfRange, MessageKind::Warning, focus);
    return std::nullopt;
}

PageTestResult TestLogFileSize(const OptionsInput& input) {
    return TestSizeBox(input.logFileSize, input.useLogFile, 1, 99, OptionsBox::LogFileSize,
                       u"历史记录文件最大尺寸必须为数字。",
                       u"历史记录文件最大尺寸必须介于1-99之间。");
}

PageTestResult TestReminder(const OptionsInput& input) {
    if (!input.useTimer)
        return std::nullopt;
    if (!input.popText && !input.timerOpen)
        return Failure(u"定时设置中最少要指定一个操作。", MessageKind::Warning);
    if (input.popText && TrimSpaces(input.popTextString).isEmpty())
        return Failure(u"弹出文字不能为空。", MessageKind::Warning, OptionsBox::PopText);
    if (input.timerOpen && !FileExists(input.exeFilePath))
        return Failure(u"选择的文件不存在。", MessageKind::Warning, OptionsBox::ExeFile);
    return std::nullopt;
}

// A verification code box: empty clears the code, a text other than the one shown is a new
// code stored as its digest, and the text shown leaves the stored digest as it is.
QString TakeCode(const QString& box, QString& shown, const QString& stored) {
    if (box.isEmpty())
        return QString();
    if (box == shown)
        return stored;
    shown = box;
    return Digest(box);
}

// Writes keys until the store fails once; the failure stops the apply order.
class KeyWriter {
public:
    explicit KeyWriter(SettingsStore& store) : m_store(store) {}
    void Put(const QString& key, const QString& value) {
        if (m_failedKey.isEmpty() && !WriteSetting(m_store, key, value))
            m_failedKey = key;
    }
    void Put(const QString& key, bool on) { Put(key, FlagText(on)); }
    void Put(const QString& key, int number) { Put(key, QString::number(number)); }
    bool Failed() const { return !m_failedKey.isEmpty(); }
    QString FailedKey() const { return m_failedKey; }

private:
    SettingsStore& m_store;
    QString m_failedKey;
};

int NumberOf(const QString& text) {
    int value = 0;
    OptionsNumber(text, &value);
    return value;
}

}  // namespace

bool OptionsNumber(const QString& text, int* value) {
    // What a person calls a number: sign, digits, a fraction, an exponent, blanks around.
    static const QRegularExpression number(
        QStringLiteral("^\\s*[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?\\s*$"));
    if (!number.match(text).hasMatch())
        return false;
    const qint64 rounded = RoundHalfEven(text.toDouble());
    *value = int(qBound(qint64(-1000000), rounded, qint64(1000000)));
    return true;
}

OptionsInput OptionsInputFromSession(Session& session) {
    const SettingsRecord& r = session.settings;
    OptionsInput in;
    in.autoRun = IsAutoRunSet(session.autoStart(), session.executablePath);
    in.useLogFile = r.useLogFile;
    in.discoverable = r.discoverable;
    in.logFileSize = QString::number(r.logFileSize);
    in.useTimer = r.useTimer;
    in.hour = r.hour;
    in.minute = r.minute;
    in.popText = r.popText;
    in.popTextString = r.popTextString;
    in.timerOpen = r.timerOpen;
    in.exeFilePath = r.exeFilePath;
    in.saveSendInfo1 = r.saveSendInfo1;
    in.useSendBuffer = r.useSendBuffer;
    in.sendBufferSize = QString::number(r.sendBufferSize);
    in.fileCode = r.passWord1;
    in.useRecvBuffer = r.useRecvBuffer;
    in.recvBufferSize = QString::number(r.recvBufferSize);
    in.autoRecvFile = r.autoRecvFile;
    in.autoSavePath = r.autoSavePath;
    in.overwriteExisting = r.existFile;
    in.autoOpenFile = r.autoOpenFile;
    in.autoOpenFileType = r.autoOpenFileType;
    in.saveSendInfo2 = r.saveSendInfo2;
    in.chatCode = r.passWord2;
    in.autoChat = r.autoChat;
    in.autoChatTip = r.autoChatTip;
    in.blockList = session.blockList;
    in.blockText = r.blockText;
    in.requireEncryption = r.requireEncryption;
    return in;
}

PageTestResult TestSendBuffer(const OptionsInput& input) {
    return TestSizeBox(input.sendBufferSize, input.useSendBuffer, 1, 4, OptionsBox::SendBufferSize,
                       u"发送缓冲区大小必须为数值。", u"发送缓冲区值必须介于1-4之间。");
}

PageTestResult TestRecvBuffer(const OptionsInput& input) {
    if (!input.useRecvBuffer)
        return std::nullopt;
    return TestSizeBox(input.recvBufferSize, true, 1, 4, OptionsBox::RecvBufferSize,
                       u"接收缓冲区大小必须为数值。", u"接收缓冲区值必须介于1-4之间。");
}

PageTestResult TestAutoSaveFolder(const OptionsInput& input) {
    if (input.autoRecvFile && !FolderExists(input.autoSavePath))
        return Failure(u"选择的文件自动保存位置不存在。", MessageKind::Error,
                       OptionsBox::AutoSaveDir);
    return std::nullopt;
}

PageTestResult TestOptionsPage(int page, const OptionsInput& input) {
    switch (page) {
        case PageGeneral:
            return TestLogFileSize(input);
        case PageReminder:
            return TestReminder(input);
        case PageFileTransfer:
            if (PageTestResult failed = TestSendBuffer(input))
                return failed;
            if (PageTestResult failed = TestRecvBuffer(input))
                return failed;
            return TestAutoSaveFolder(input);
        default:
            return std::nullopt;
    }
}

ApplyOutcome ApplyOptions(Session& session, const OptionsInput& in, ShownCodes& shown,
                          const std::function<void(bool on)>& armAlarm) {
    SettingsRecord& r = session.settings;
    KeyWriter put(session.store());
    ApplyOutcome outcome;
    auto testFailed = [&](int page, const PageTestFailure& failure) {
        outcome.result = ApplyOutcome::TestFailed;
        outcome.page = page;
        outcome.failure = failure;
        return outcome;
    };
    auto storeFailed = [&] {
        outcome.result = ApplyOutcome::StoreFailed;
        outcome.message = QStringLiteral("保存选项设置时发生错误。") + QStringLiteral("\r\n\r\n") +
                          QStringLiteral("无法写入设置项 ") + put.FailedKey() +
                          QStringLiteral("。");
        return outcome;
    };

    SetAutoRun(session.autoStart(), session.executablePath, in.autoRun);

    if (PageTestResult failed = TestLogFileSize(in))
        return testFailed(PageGeneral, *failed);
    r.useLogFile = in.useLogFile;
    put.Put(QStringLiteral("UseLogFile"), r.useLogFile);
    if (r.useLogFile) {
        r.logFileSize = NumberOf(in.logFileSize);
        put.Put(QStringLiteral("LogFileSize"), r.logFileSize);
    }
    const bool wasDiscoverable = r.discoverable;
    r.discoverable = in.discoverable;
    put.Put(QStringLiteral("Discoverable"), r.discoverable);
    if (put.Failed())
        return storeFailed();
    // The others hear the change at once: an announcement, or a goodbye when turned off.
    if (r.discoverable != wasDiscoverable && session.presence)
        session.presence->AnnounceNow();

    if (PageTestResult failed = TestReminder(in))
        return testFailed(PageReminder, *failed);
    r.useTimer = in.useTimer;
    put.Put(QStringLiteral("UseTimer"), r.useTimer);
    if (r.useTimer) {
        r.hour = in.hour;
        put.Put(QStringLiteral("Hour"), r.hour);
        r.minute = in.minute;
        put.Put(QStringLiteral("Minute"), r.minute);
        r.popText = in.popText;
        put.Put(QStringLiteral("PopText"), r.popText);
        r.timerOpen = in.timerOpen;
        put.Put(QStringLiteral("TimerOpen"), r.timerOpen);
        r.popTextString = TrimSpaces(in.popTextString);
        put.Put(QStringLiteral("PopTextString"), r.popTextString);
        r.exeFilePath = TrimSpaces(in.exeFilePath);
        put.Put(QStringLiteral("ExeFilePath"), r.exeFilePath);
    }
    if (put.Failed())
        return storeFailed();
    if (armAlarm)
        armAlarm(r.useTimer);
    r.saveSendInfo1 = in.saveSendInfo1;
    put.Put(QStringLiteral("SaveSendInfo1"), r.saveSendInfo1);
    if (put.Failed())
        return storeFailed();

    if (PageTestResult failed = TestSendBuffer(in))
        return testFailed(PageFileTransfer, *failed);
    r.useSendBuffer = in.useSendBuffer;
    put.Put(QStringLiteral("UseSendBuffer"), r.useSendBuffer);
    if (r.useSendBuffer) {
        r.sendBufferSize = NumberOf(in.sendBufferSize);
        put.Put(QStringLiteral("SendBufferSize"), r.sendBufferSize);
    }
    r.sendBufferBytes = ConfirmedSendBufferBytes(r.useSendBuffer, r.sendBufferSize);
    r.passWord1 = TakeCode(in.fileCode, shown.fileCode, r.passWord1);
    put.Put(QStringLiteral("PassWord1"), r.passWord1);
    if (put.Failed())
        return storeFailed();

    if (PageTestResult failed = TestRecvBuffer(in))
        return testFailed(PageFileTransfer, *failed);
    r.useRecvBuffer = in.useRecvBuffer;
    put.Put(QStringLiteral("UseRecvBuffer"), r.useRecvBuffer);
    if (r.useRecvBuffer) {
        r.recvBufferSize = NumberOf(in.recvBufferSize);
        put.Put(QStringLiteral("RecvBufferSize"), r.recvBufferSize);
        r.recvBufferBytes = qint64(r.recvBufferSize) * kMegabyte;
    }
    if (put.Failed())
        return storeFailed();

    if (PageTestResult failed = TestAutoSaveFolder(in))
        return testFailed(PageFileTransfer, *failed);
    r.autoRecvFile = in.autoRecvFile;
    put.Put(QStringLiteral("AutoRecvFile"), r.autoRecvFile);
    if (r.autoRecvFile) {
        r.autoSavePath = WithTrailingSlash(TrimSpaces(in.autoSavePath));
        put.Put(QStringLiteral("AutoSavePath"), r.autoSavePath);
        r.existFile = in.overwriteExisting;
        put.Put(QStringLiteral("ExistFile"), r.existFile);
    }
    r.autoOpenFile = in.autoOpenFile;
    put.Put(QStringLiteral("AutoOpenFile"), r.autoOpenFile);
    if (r.autoOpenFile) {
        r.autoOpenFileType = TrimSpaces(in.autoOpenFileType);
        put.Put(QStringLiteral("AutoOpenFileType"), r.autoOpenFileType);
    }
    r.saveSendInfo2 = in.saveSendInfo2;
    put.Put(QStringLiteral("SaveSendInfo2"), r.saveSendInfo2);
    r.passWord2 = TakeCode(in.chatCode, shown.chatCode, r.passWord2);
    put.Put(QStringLiteral("PassWord2"), r.passWord2);
    r.autoChat = in.autoChat;
    put.Put(QStringLiteral("AutoChat"), r.autoChat);
    if (r.autoChat) {
        r.autoChatTip = TrimSpaces(in.autoChatTip);
        put.Put(QStringLiteral("AutoChatTip"), r.autoChatTip);
    }
    r.blockText = TrimSpaces(in.blockText);
    put.Put(QStringLiteral("BlockText"), r.blockText);
    r.requireEncryption = in.requireEncryption;
    put.Put(QStringLiteral("RequireEncryption"), r.requireEncryption);
    if (put.Failed())
        return storeFailed();

    QString error;
    if (!SaveBlockList(session, in.blockList, &error)) {
        outcome.result = ApplyOutcome::BlockFileFailed;
        outcome.message =
            QStringLiteral("将屏蔽地址保存到文件时发生错误。") + QStringLiteral("\r\n\r\n") + error;
    }
    return outcome;
}

}  // namespace tvx

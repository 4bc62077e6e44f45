#include "records/Settings.h"

#include "common/Paths.h"
#include "common/Text.h"

namespace tvx {

const QString kDefaultAutoOpenFileType =
    QStringLiteral("TXT;DOC;XLS;PPT;ZIP;RAR;JPG;GIF;MP3;AVI;RM");
const QString kDefaultAutoChatTip = QStringLiteral("(我有事暂时不在,请在这里留言。)");

QString ReadSetting(SettingsStore& store, const QString& key) {
    return TrimSpaces(store.Read(key));
}

bool WriteSetting(SettingsStore& store, const QString& key, const QString& value) {
    return store.Write(key, TrimSpaces(value));
}

bool ParseFlag(const QString& text) {
    return LenientNumber(text) != 0;
}

bool ReadFlag(SettingsStore& store, const QString& key) {
    return ParseFlag(ReadSetting(store, key));
}

int ParseBoundedNumber(const QString& text, int low, int high, int fallback) {
    qint64 value = RoundHalfEven(LenientNumber(text));
    return value < low || value > high ? fallback : int(value);
}

int ReadBoundedNumber(SettingsStore& store, const QString& key, int low, int high, int fallback) {
    return ParseBoundedNumber(ReadSetting(store, key), low, high, fallback);
}

QString FlagText(bool on) {
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

void LoadMainSettings(SettingsStore& store, SettingsRecord& r) {
    r.saveSendInfo1 = ReadFlag(store, QStringLiteral("SaveSendInfo1"));
    r.useLogFile = ReadFlag(store, QStringLiteral("UseLogFile"));
    r.logFileSize = ReadBoundedNumber(store, QStringLiteral("LogFileSize"), 1, 99, 1);
    r.useTimer = ReadFlag(store, QStringLiteral("UseTimer"));
    r.hour = ReadBoundedNumber(store, QStringLiteral("Hour"), 0, 23, 0);
    r.minute = ReadBoundedNumber(store, QStringLiteral("Minute"), 0, 59, 0);
    r.popText = ReadFlag(store, QStringLiteral("PopText"));
    r.timerOpen = ReadFlag(store, QStringLiteral("TimerOpen"));
    r.popTextString = ReadSetting(store, QStringLiteral("PopTextString"));
    r.exeFilePath = ReadSetting(store, QStringLiteral("ExeFilePath"));

    r.useSendBuffer = ReadFlag(store, QStringLiteral("UseSendBuffer"));
    r.sendBufferSize = ReadBoundedNumber(store, QStringLiteral("SendBufferSize"), 1, 4, 1);
    r.sendBufferBytes = r.useSendBuffer ? qint64(r.sendBufferSize) * 1048576 : 524288;
    r.useRecvBuffer = ReadFlag(store, QStringLiteral("UseRecvBuffer"));
    r.recvBufferSize = ReadBoundedNumber(store, QStringLiteral("RecvBufferSize"), 1, 4, 1);
    r.recvBufferBytes = qint64(r.recvBufferSize) * 1048576;

    r.passWord1 = ReadSetting(store, QStringLiteral("PassWord1"));
    r.autoRecvFile = ReadFlag(store, QStringLiteral("AutoRecvFile"));
    r.autoSavePath = ReadSetting(store, QStringLiteral("AutoSavePath"));
    if (!r.autoSavePath.isEmpty())
        r.autoSavePath = WithTrailingSlash(r.autoSavePath);
    if (r.autoRecvFile && !FolderExists(r.autoSavePath)) {
        // The folder has gone: receive by hand until it is chosen again.
        r.autoRecvFile = false;
        r.autoSavePath.clear();
    }
    r.existFile = ReadFlag(store, QStringLiteral("ExistFile"));
    r.autoOpenFile = ReadFlag(store, QStringLiteral("AutoOpenFile"));
    r.autoOpenFileType = ReadSetting(store, QStringLiteral("AutoOpenFileType"));
    if (r.autoOpenFileType.isEmpty())
        r.autoOpenFileType = kDefaultAutoOpenFileType;
    r.discoverable = ReadDiscoverable(store);
    r.requireEncryption = ReadFlag(store, QStringLiteral("RequireEncryption"));
}

void LoadChatSettings(SettingsStore& store, SettingsRecord& r) {
    r.saveSendInfo2 = ReadFlag(store, QStringLiteral("SaveSendInfo2"));
    r.passWord2 = ReadSetting(store, QStringLiteral("PassWord2"));
    r.autoChat = ReadFlag(store, QStringLiteral("AutoChat"));
    r.autoChatTip = ReadSetting(store, QStringLiteral("AutoChatTip"));
    if (r.autoChatTip.isEmpty())
        r.autoChatTip = kDefaultAutoChatTip;
    r.blockText = ReadSetting(store, QStringLiteral("BlockText"));
}

bool ReadDiscoverable(SettingsStore& store) {
    const QString text = ReadSetting(store, QStringLiteral("Discoverable"));
    return text.isEmpty() || ParseFlag(text);
}

bool WriteDiscoverable(SettingsStore& store, bool on) {
    return WriteSetting(store, QStringLiteral("Discoverable"), FlagText(on));
}

qint64 ConfirmedSendBufferBytes(bool useSendBuffer, int sendBufferSize) {
    return useSendBuffer ? qint64(sendBufferSize) * 1048576 : 131072;
}

}  // namespace tvx

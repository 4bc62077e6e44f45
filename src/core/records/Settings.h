#pragma once

#include <QString>

#include "platform/SettingsStore.h"

namespace tvx {

// The stored text for the key, trimmed of spaces; empty when missing.
QString ReadSetting(SettingsStore& store, const QString& key);
// Stores the value trimmed of spaces; false when the store failed.
bool WriteSetting(SettingsStore& store, const QString& key, const QString& value);

// A flag is on when the leading number of its text is not 0.
bool ReadFlag(SettingsStore& store, const QString& key);
bool ParseFlag(const QString& text);
// A whole number: the leading number rounded half to even; the default when outside [low, high].
int ReadBoundedNumber(SettingsStore& store, const QString& key, int low, int high, int fallback);
int ParseBoundedNumber(const QString& text, int low, int high, int fallback);

QString FlagText(bool on);

// The in-memory copy of the settings, read once at start-up. The remembered inputs of the
// send and chat windows (Address1, SendFilePath, Message1, Address2, Message2) are read by
// those windows when they load.
struct SettingsRecord {
    bool saveSendInfo1 = false;
    bool useLogFile = false;
    int logFileSize = 1;  // MB
    bool useTimer = false;
    int hour = 0;
    int minute = 0;
    bool popText = false;
    bool timerOpen = false;
    QString popTextString;
    QString exeFilePath;
    bool useSendBuffer = false;
    int sendBufferSize = 1;  // MB
    QString passWord1;       // digest text, never the code
    bool useRecvBuffer = false;
    int recvBufferSize = 1;  // MB
    bool autoRecvFile = false;
    QString autoSavePath;
    bool existFile = false;
    bool autoOpenFile = false;
    QString autoOpenFileType;
    bool saveSendInfo2 = false;
    QString passWord2;
    bool autoChat = false;
    QString autoChatTip;
    QString blockText;
    // Other copies on the network may list this one (on when the key is missing).
    bool discoverable = true;
    // "RequireEncryption": peers that speak only the plain wire are refused both ways.
    bool requireEncryption = false;

    // Derived sizes in bytes.
    qint64 sendBufferBytes = 524288;
    qint64 recvBufferBytes = 1048576;
};

extern const QString kDefaultAutoOpenFileType;
extern const QString kDefaultAutoChatTip;

// The main window's keys, in their reading order, with every normalisation.
void LoadMainSettings(SettingsStore& store, SettingsRecord& record);
// The chat-accept window's keys.
void LoadChatSettings(SettingsStore& store, SettingsRecord& record);

// "Discoverable": on unless stored as off.
bool ReadDiscoverable(SettingsStore& store);
bool WriteDiscoverable(SettingsStore& store, bool on);

// Send buffer after the options dialog is confirmed: the chosen size, or 131072 when off.
qint64 ConfirmedSendBufferBytes(bool useSendBuffer, int sendBufferSize);

}  // namespace tvx

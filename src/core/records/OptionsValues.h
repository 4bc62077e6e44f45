#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "common/Messages.h"

namespace tvx {

struct Session;

// The options dialog's pages, numbered as its tab strip shows them.
enum OptionsPage {
    PageGeneral = 1,
    PageReminder = 2,
    PageFileTransfer = 3,
    PageChat = 4,
    PageSecurity = 5,
    PageAbout = 6,
};

// What the options dialog's controls hold. Boxes the user types numbers into stay texts, so
// that the page tests see what was typed; the time boxes always agree with their spinners.
struct OptionsInput {
    bool autoRun = false;

    bool useLogFile = false;
    QString logFileSize;
    bool discoverable = true;  // listed by the other copies on the network

    bool useTimer = false;
    int hour = 0;
    int minute = 0;
    bool popText = false;
    QString popTextString;
    bool timerOpen = false;
    QString exeFilePath;

    bool saveSendInfo1 = false;
    bool useSendBuffer = false;
    QString sendBufferSize;
    QString fileCode;  // the file verification box: the stored digest until the user types
    bool useRecvBuffer = false;
    QString recvBufferSize;
    bool autoRecvFile = false;
    QString autoSavePath;
    bool overwriteExisting = false;  // "覆盖" rather than "自动更名"
    bool autoOpenFile = false;
    QString autoOpenFileType;

    bool saveSendInfo2 = false;
    QString chatCode;  // the chat verification box, as fileCode
    bool autoChat = false;
    QString autoChatTip;

    QStringList blockList;
    QString blockText;
    bool requireEncryption = false;  // peers that speak only the plain wire are refused
};

// The controls as the dialog fills them when it opens: the running settings, the block list
// and whether the start-up list starts this program.
OptionsInput OptionsInputFromSession(Session& session);

// The box a failed page test puts the focus on.
enum class OptionsBox {
    None,
    LogFileSize,
    PopText,
    ExeFile,
    SendBufferSize,
    RecvBufferSize,
    AutoSaveDir
};

struct PageTestFailure {
    QString message;
    MessageKind kind = MessageKind::None;  // a message kind
    OptionsBox focus = OptionsBox::None;
};
using PageTestResult = std::optional<PageTestFailure>;

// The tests run when the user leaves a page, and again during OK. Pages 4 to 6 have none.
PageTestResult TestOptionsPage(int page, const OptionsInput& input);
// Page 3 in its three parts, as OK runs them between its steps.
PageTestResult TestSendBuffer(const OptionsInput& input);
PageTestResult TestRecvBuffer(const OptionsInput& input);
PageTestResult TestAutoSaveFolder(const OptionsInput& input);

// A box's number as it is stored: numeric text rounded half to even. False when the text is
// not a number.
bool OptionsNumber(const QString& text, int* value);

// The verification-code boxes as the dialog showed them; a box that differs holds a new code.
struct ShownCodes {
    QString fileCode;
    QString chatCode;
};

struct ApplyOutcome {
    enum Result { Applied, TestFailed, StoreFailed, BlockFileFailed };
    Result result = Applied;
    int page = 0;             // TestFailed: the page whose value failed
    PageTestFailure failure;  // TestFailed: its message and box
    QString message;          // StoreFailed, BlockFileFailed: the whole error text
};

// OK: writes the controls back page by page, each key to the running settings and to the
// store as soon as it is taken, then the block list to memory and to its file. Stops at the
// first failed test, leaving what came before applied. armAlarm switches the main window's
// daily alarm. The shown codes are updated when a new code is taken.
ApplyOutcome ApplyOptions(Session& session, const OptionsInput& input, ShownCodes& shown,
                          const std::function<void(bool on)>& armAlarm);

}  // namespace tvx

#pragma once

#include <QWidget>
#include <array>

#include "records/OptionsValues.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QStackedWidget;

namespace tvx {

struct Session;

// "Tolvex" and this text make the about page's first line.
extern const QString kVersionText;  // " Version 2.82"

// The options dialog: every setting except the personal info, on six pages behind a tab strip.
// It shows the running values, tests a page when the user leaves it, and on OK writes the
// values back in a fixed order (OptionsValues); Cancel and the close box discard everything.
// It deletes itself when it closes.
class OptionsDialog : public QWidget {
    Q_OBJECT

public:
    OptionsDialog(Session& session, int page, QWidget* parent = nullptr);

    // Handlers, public so that tests can drive them as the user would.
    void SwitchToPage(int page);  // leaves the current page when its tests pass
    // OK: tests and writes every value, then closes (Cancel only closes).
    void ApplyAndClose();
    void FillCurrentTime();       // the current hour and minute into the time boxes
    void ChooseAlarmFile();       // the file opened at the alarm
    void ChooseAutoSaveFolder();  // the folder of automatic receiving
    // The block list's buttons.
    void AddBlockedAddress();
    void EditBlockedAddress();
    void DeleteBlockedAddresses();
    void InvertBlockSelection();
    void OpenHomePage();  // the help page
    void WriteEmail();    // a mail to the program's address

    int CurrentPage() const { return m_page; }
    // What the controls hold now.
    OptionsInput Input() const;

signals:
    // OK has switched the main window's daily alarm on or off.
    void AlarmSwitched(bool on);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* BuildGeneralPage();
    QWidget* BuildReminderPage();
    QWidget* BuildFileTransferPage();
    QWidget* BuildChatPage();
    QWidget* BuildSecurityPage();
    QWidget* BuildAboutPage();
    QLineEdit* NewBox(QWidget* parent, const QString& name, int maxLength);
    QCheckBox* NewCheck(QWidget* parent, const QString& name, const QString& caption);
    QLineEdit* CodeBox(QWidget* parent, const QString& name);

    void Fill(const OptionsInput& input);
    void ApplyEnablingRules();
    void ShowPage(int page);
    void Report(const PageTestFailure& failure);
    void SyncTimeBox(int index);
    void TrimBoxes();
    // Block-list add and edit: the typed address must resolve and not be listed yet.
    bool AcceptBlockInput(const QString& address);
    // The block list's address box, trimmed in place.
    QString TrimmedBlockInput();

    Session& m_session;
    int m_page = 0;
    ShownCodes m_shownCodes;

    std::array<QLabel*, 7> m_lblTab{};  // tabs 1 to 6
    QStackedWidget* m_pages;

    QCheckBox* m_chkAutoRun = nullptr;
    QCheckBox* m_chkUseLogFile = nullptr;
    QCheckBox* m_chkDiscoverable = nullptr;
    QLineEdit* m_txtLogFileSize = nullptr;

    QCheckBox* m_chkUseTimer = nullptr;
    std::array<QLineEdit*, 3> m_txtTime{};   // 1 hour, 2 minute
    std::array<QScrollBar*, 3> m_vsrTime{};  // 1 hour, 2 minute
    std::array<QLabel*, 3> m_lblTimeUnit{};  // "时", "分"
    QPushButton* m_cmdNow = nullptr;
    QCheckBox* m_chkPopText = nullptr;
    QLineEdit* m_txtPopText = nullptr;
    QCheckBox* m_chkTimeOpen = nullptr;
    QLineEdit* m_txtExeFile = nullptr;
    QPushButton* m_cmdTimeOpen = nullptr;

    QCheckBox* m_chkSaveFSinfo = nullptr;
    QCheckBox* m_chkUseFSBuffer = nullptr;
    QLineEdit* m_txtFSBuffSize = nullptr;
    QLineEdit* m_txtFRPW = nullptr;
    QCheckBox* m_chkUseFRBuffer = nullptr;
    QLineEdit* m_txtFRBuffSize = nullptr;
    QCheckBox* m_chkAutoRecvFile = nullptr;
    QLineEdit* m_txtAutoSaveDir = nullptr;
    QPushButton* m_cmdAutoSaveDir = nullptr;
    QLabel* m_lblExistFile = nullptr;
    std::array<QRadioButton*, 3> m_optSaveFile{};  // 1 overwrite, 2 rename
    QCheckBox* m_chkAutoOpenFile = nullptr;
    QLineEdit* m_txtOpenFileType = nullptr;

    QCheckBox* m_chkSaveCSinfo = nullptr;
    QLineEdit* m_txtCRPW = nullptr;
    QCheckBox* m_chkAutoChat = nullptr;
    QLineEdit* m_txtAutoChatTip = nullptr;

    QListWidget* m_lstIP = nullptr;
    QLineEdit* m_txtInputAdress = nullptr;
    std::array<QPushButton*, 5> m_cmdSafe{};  // 1 to 4
    QLineEdit* m_txtBlockTxt = nullptr;
    QCheckBox* m_chkRequireEncryption = nullptr;

    QLabel* m_lblHomePage = nullptr;
    QLabel* m_lblEmail = nullptr;
    std::array<QPushButton*, 3> m_cmdDo{};  // 1 OK, 2 Cancel
};

}  // namespace tvx

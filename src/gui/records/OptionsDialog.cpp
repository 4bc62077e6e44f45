#include "records/OptionsDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "address/AddressCode.h"
#include "common/Messages.h"
#include "common/Paths.h"
#include "common/ShellRoutines.h"
#include "common/Text.h"
#include "common/Windows.h"
#include "records/AddressFiles.h"
#include "records/AddressLists.h"
#include "session/Session.h"

namespace tvx {

const QString kVersionText = QStringLiteral(" Version 2.82");

namespace {

// A new mail with the program's name as its subject; the user fills in the address.
const QString kMailLink = QStringLiteral("mailto:?subject=Tolvex");

constexpr int kCodeLength = 15;  // characters of a verification code
constexpr int kTextLength = 200;

QScrollBar* Spinner(QWidget* parent, const QString& name, int high) {
    auto* spinner = new QScrollBar(Qt::Vertical, parent);
    spinner->setObjectName(name);
    spinner->setRange(0, high);
    spinner->setPageStep(1);
    // Up raises the value, as a spinner does.
    spinner->setInvertedAppearance(true);
    spinner->setInvertedControls(true);
    spinner->setFixedSize(16, 24);
    return spinner;
}

// The row of a check box (or label) followed by its box and what else belongs to the line.
QHBoxLayout* Row(std::initializer_list<QWidget*> widgets, bool stretch = false) {
    auto* row = new QHBoxLayout;
    for (QWidget* widget : widgets)
        row->addWidget(widget);
    if (stretch)
        row->addStretch();
    return row;
}

QLabel* LinkLabel(QWidget* parent, const QString& name, const QString& text) {
    auto* label = new QLabel(
        QStringLiteral("<a href=\"#\">") + text.toHtmlEscaped() + QStringLiteral("</a>"), parent);
    label->setObjectName(name);
    label->setCursor(Qt::PointingHandCursor);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    return label;
}

const char16_t* const kTabCaptions[7] = {nullptr,     u"通用", u"提醒", u"文件传送",
                                         u"文字交流", u"安全", u"关于"};

}  // namespace

OptionsDialog::OptionsDialog(Session& session, int page, QWidget* parent)
    : QWidget(parent, Qt::Dialog), m_session(session), m_pages(new QStackedWidget(this)) {
    setObjectName(QStringLiteral("OptionsDialog"));
    setWindowTitle(QStringLiteral("选项"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* tabs = new QHBoxLayout;
    tabs->setSpacing(0);
    for (int index = 1; index <= 6; ++index) {
        m_lblTab[index] = new QLabel(QString::fromUtf16(kTabCaptions[index]), this);
        m_lblTab[index]->setObjectName(QStringLiteral("lblTab%1").arg(index));
        m_lblTab[index]->setAlignment(Qt::AlignCenter);
        m_lblTab[index]->installEventFilter(this);
        tabs->addWidget(m_lblTab[index]);
    }
    tabs->addStretch();

    QWidget* built[7] = {
        nullptr,         BuildGeneralPage(),  BuildReminderPage(), BuildFileTransferPage(),
        BuildChatPage(), BuildSecurityPage(), BuildAboutPage()};
    for (int index = 1; index <= 6; ++index) {
        built[index]->setObjectName(QStringLiteral("picTabBox%1").arg(index));
        m_pages->addWidget(built[index]);
    }
    m_pages->setObjectName(QStringLiteral("picTabBoxes"));
    m_pages->setStyleSheet(QStringLiteral("#picTabBoxes { border: 1px solid #a0a0a0; }"));

    const char16_t* captions[3] = {nullptr, u"确定", u"取消"};
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (int index = 1; index <= 2; ++index) {
        m_cmdDo[index] = new QPushButton(QString::fromUtf16(captions[index]), this);
        m_cmdDo[index]->setObjectName(QStringLiteral("cmdDo%1").arg(index));
        buttons->addWidget(m_cmdDo[index]);
    }
    connect(m_cmdDo[1], &QPushButton::clicked, this, &OptionsDialog::ApplyAndClose);
    connect(m_cmdDo[2], &QPushButton::clicked, this, &QWidget::close);
    m_cmdDo[1]->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(tabs);
    layout->setSpacing(0);
    layout->addWidget(m_pages, 1);
    layout->addSpacing(8);
    layout->addLayout(buttons);

    Fill(OptionsInputFromSession(session));
    m_shownCodes = ShownCodes{m_txtFRPW->text(), m_txtCRPW->text()};
    ApplyEnablingRules();
    ShowPage(page == PageAbout ? PageAbout : PageGeneral);

    resize(460, 400);
    CenterForm(m_session.display, this);
}

QLineEdit* OptionsDialog::NewBox(QWidget* parent, const QString& name, int maxLength) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    if (maxLength > 0)
        box->setMaxLength(maxLength);
    box->installEventFilter(this);
    return box;
}

QCheckBox* OptionsDialog::NewCheck(QWidget* parent, const QString& name, const QString& caption) {
    auto* check = new QCheckBox(caption, parent);
    check->setObjectName(name);
    connect(check, &QCheckBox::toggled, this, &OptionsDialog::ApplyEnablingRules);
    return check;
}

QLineEdit* OptionsDialog::CodeBox(QWidget* parent, const QString& name) {
    // The box shows the stored digest masked, cut to the length of a code. Left as it is, it
    // keeps the stored code; emptied, it removes it; anything else typed is a new code.
    QLineEdit* box = NewBox(parent, name, kCodeLength);
    box->setEchoMode(QLineEdit::Password);
    box->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    box->setAttribute(Qt::WA_InputMethodEnabled, false);
    return box;
}

QWidget* OptionsDialog::BuildGeneralPage() {
    auto* page = new QWidget;
    auto* frame = new QGroupBox(QStringLiteral("通用设置"), page);
    m_chkAutoRun = NewCheck(frame, QStringLiteral("chkAutoRun"), QStringLiteral("开机自动运行"));
    m_chkUseLogFile = NewCheck(frame, QStringLiteral("chkUseLogFile"),
                               QStringLiteral("使用历史记录文件,最大(MB):"));
    m_txtLogFileSize = NewBox(frame, QStringLiteral("txtLogFileSize"), 2);
    m_txtLogFileSize->setFixedWidth(36);
    auto* inner = new QVBoxLayout(frame);
    inner->addWidget(m_chkAutoRun);
    inner->addLayout(Row({m_chkUseLogFile, m_txtLogFileSize}, true));
    m_chkDiscoverable =
        NewCheck(frame, QStringLiteral("chkDiscoverable"), QStringLiteral("在局域网中显示本机"));
    inner->addWidget(m_chkDiscoverable);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(frame);
    layout->addStretch();
    return page;
}

QWidget* OptionsDialog::BuildReminderPage() {
    auto* page = new QWidget;
    auto* frame = new QGroupBox(QStringLiteral("提醒设置"), page);
    m_chkUseTimer = NewCheck(frame, QStringLiteral("chkUseTimer"), QStringLiteral("设置时间"));

    auto* time = new QHBoxLayout;
    time->addWidget(m_chkUseTimer);
    const char16_t* units[3] = {nullptr, u"时", u"分"};
    for (int index : {1, 2}) {
        m_txtTime[index] = NewBox(frame, QStringLiteral("txtTime%1").arg(index), 2);
        // Digits only: every other key is dropped.
        m_txtTime[index]->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9]*")), m_txtTime[index]));
        m_txtTime[index]->setFixedWidth(32);
        m_vsrTime[index] =
            Spinner(frame, QStringLiteral("vsrTime%1").arg(index), index == 1 ? 23 : 59);
        m_lblTimeUnit[index] = new QLabel(QString::fromUtf16(units[index]), frame);
        m_lblTimeUnit[index]->setObjectName(QStringLiteral("lblTimeUnit%1").arg(index));
        connect(m_vsrTime[index], &QScrollBar::valueChanged, this, [this, index](int value) {
            // A box that already says this value (an empty box says 0) is left as typed.
            const QString text = m_txtTime[index]->text();
            int shown = 0;
            const bool says =
                text.isEmpty() ? value == 0 : OptionsNumber(text, &shown) && shown == value;
            if (!says)
                m_txtTime[index]->setText(QString::number(value));
        });
        connect(m_txtTime[index], &QLineEdit::textChanged, this,
                [this, index] { SyncTimeBox(index); });
        time->addSpacing(index == 1 ? 12 : 4);
        time->addWidget(m_txtTime[index]);
        time->addWidget(m_vsrTime[index]);
        time->addWidget(m_lblTimeUnit[index]);
    }
    m_cmdNow = new QPushButton(QStringLiteral("Now"), frame);
    m_cmdNow->setObjectName(QStringLiteral("cmdNow"));
    connect(m_cmdNow, &QPushButton::clicked, this, &OptionsDialog::FillCurrentTime);
    time->addSpacing(8);
    time->addWidget(m_cmdNow);
    time->addStretch();

    m_chkPopText = NewCheck(frame, QStringLiteral("chkPopText"), QStringLiteral("弹出文字:"));
    m_txtPopText = NewBox(frame, QStringLiteral("txtPopText"), kTextLength);
    m_chkTimeOpen = NewCheck(frame, QStringLiteral("chkTimeOpen"), QStringLiteral("打开文件:"));
    m_txtExeFile = NewBox(frame, QStringLiteral("txtExeFile"), 0);
    m_cmdTimeOpen = new QPushButton(QStringLiteral("..."), frame);
    m_cmdTimeOpen->setObjectName(QStringLiteral("cmdTimeOpen"));
    m_cmdTimeOpen->setFixedWidth(32);
    connect(m_cmdTimeOpen, &QPushButton::clicked, this, &OptionsDialog::ChooseAlarmFile);

    auto* inner = new QGridLayout(frame);
    inner->addLayout(time, 0, 0, 1, 3);
    inner->addWidget(m_chkPopText, 1, 0);
    inner->addWidget(m_txtPopText, 1, 1, 1, 2);
    inner->addWidget(m_chkTimeOpen, 2, 0);
    inner->addWidget(m_txtExeFile, 2, 1);
    inner->addWidget(m_cmdTimeOpen, 2, 2);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(frame);
    layout->addStretch();
    return page;
}

QWidget* OptionsDialog::BuildFileTransferPage() {
    auto* page = new QWidget;
    auto* sending = new QGroupBox(QStringLiteral("发送文件"), page);
    m_chkSaveFSinfo =
        NewCheck(sending, QStringLiteral("chkSaveFSinfo"), QStringLiteral("保存发送信息"));
    m_chkUseFSBuffer =
        NewCheck(sending, QStringLiteral("chkUseFSBuffer"), QStringLiteral("使用发送缓冲区(MB):"));
    m_txtFSBuffSize = NewBox(sending, QStringLiteral("txtFSBuffSize"), 1);
    m_txtFSBuffSize->setFixedWidth(28);
    auto* sendInner = new QHBoxLayout(sending);
    sendInner->addWidget(m_chkSaveFSinfo);
    sendInner->addSpacing(16);
    sendInner->addWidget(m_chkUseFSBuffer);
    sendInner->addWidget(m_txtFSBuffSize);
    sendInner->addStretch();

    auto* receiving = new QGroupBox(QStringLiteral("接收文件"), page);
    auto* codeLabel = new QLabel(QStringLiteral("接收验证码:"), receiving);
    m_txtFRPW = CodeBox(receiving, QStringLiteral("txtFRPW"));
    m_txtFRPW->setFixedWidth(120);
    m_chkUseFRBuffer = NewCheck(receiving, QStringLiteral("chkUseFRBuffer"),
                                QStringLiteral("使用接收缓冲区(MB):"));
    m_txtFRBuffSize = NewBox(receiving, QStringLiteral("txtFRBuffSize"), 1);
    m_txtFRBuffSize->setFixedWidth(28);
    m_chkAutoRecvFile = NewCheck(receiving, QStringLiteral("chkAutoRecvFile"),
                                 QStringLiteral("总是自动接收文件,并保存到:"));
    m_txtAutoSaveDir = NewBox(receiving, QStringLiteral("txtAutoSaveDir"), 0);
    m_cmdAutoSaveDir = new QPushButton(QStringLiteral("..."), receiving);
    m_cmdAutoSaveDir->setObjectName(QStringLiteral("cmdAutoSaveDir"));
    m_cmdAutoSaveDir->setFixedWidth(32);
    connect(m_cmdAutoSaveDir, &QPushButton::clicked, this, &OptionsDialog::ChooseAutoSaveFolder);
    m_lblExistFile = new QLabel(QStringLiteral("当文件存在时:"), receiving);
    m_lblExistFile->setObjectName(QStringLiteral("lblExistFile"));
    m_optSaveFile[2] = new QRadioButton(QStringLiteral("自动更名"), receiving);
    m_optSaveFile[1] = new QRadioButton(QStringLiteral("覆盖"), receiving);
    for (int index : {1, 2})
        m_optSaveFile[index]->setObjectName(QStringLiteral("optSaveFile%1").arg(index));
    m_chkAutoOpenFile = NewCheck(receiving, QStringLiteral("chkAutoOpenFile"),
                                 QStringLiteral("接收完成后自动打开下列类型文件:"));
    m_txtOpenFileType = NewBox(receiving, QStringLiteral("txtOpenFileType"), kTextLength);

    auto* inner = new QVBoxLayout(receiving);
    auto* codeRow = Row({codeLabel, m_txtFRPW});
    codeRow->addSpacing(16);
    codeRow->addWidget(m_chkUseFRBuffer);
    codeRow->addWidget(m_txtFRBuffSize);
    codeRow->addStretch();
    inner->addLayout(codeRow);
    inner->addWidget(m_chkAutoRecvFile);
    inner->addLayout(Row({m_txtAutoSaveDir, m_cmdAutoSaveDir}));
    inner->addLayout(Row({m_lblExistFile, m_optSaveFile[2], m_optSaveFile[1]}, true));
    inner->addWidget(m_chkAutoOpenFile);
    inner->addWidget(m_txtOpenFileType);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(sending);
    layout->addWidget(receiving);
    layout->addStretch();
    return page;
}

QWidget* OptionsDialog::BuildChatPage() {
    auto* page = new QWidget;
    auto* inviting = new QGroupBox(QStringLiteral("发送邀请"), page);
    m_chkSaveCSinfo =
        NewCheck(inviting, QStringLiteral("chkSaveCSinfo"), QStringLiteral("保存发送信息"));
    auto* inviteInner = new QVBoxLayout(inviting);
    inviteInner->addWidget(m_chkSaveCSinfo);

    auto* accepting = new QGroupBox(QStringLiteral("接受邀请"), page);
    auto* codeLabel = new QLabel(QStringLiteral("接受验证码:"), accepting);
    m_txtCRPW = CodeBox(accepting, QStringLiteral("txtCRPW"));
    m_txtCRPW->setFixedWidth(120);
    m_chkAutoChat = NewCheck(accepting, QStringLiteral("chkAutoChat"),
                             QStringLiteral("总是自动接受邀请,并提示对方下列信息:"));
    m_txtAutoChatTip = NewBox(accepting, QStringLiteral("txtAutoChatTip"), kTextLength);
    auto* acceptInner = new QVBoxLayout(accepting);
    acceptInner->addLayout(Row({codeLabel, m_txtCRPW}, true));
    acceptInner->addWidget(m_chkAutoChat);
    acceptInner->addWidget(m_txtAutoChatTip);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(inviting);
    layout->addWidget(accepting);
    layout->addStretch();
    return page;
}

QWidget* OptionsDialog::BuildSecurityPage() {
    auto* page = new QWidget;
    auto* listLabel = new QLabel(QStringLiteral("已屏蔽下列地址:"), page);
    m_lstIP = new QListWidget(page);
    m_lstIP->setObjectName(QStringLiteral("lstIP"));
    m_lstIP->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* inputLabel = new QLabel(QStringLiteral("输入地址:"), page);
    m_txtInputAdress = NewBox(page, QStringLiteral("txtInputAdress"), 15);
    auto* buttons = new QVBoxLayout;
    const char16_t* captions[5] = {nullptr, u"添加", u"编辑", u"删除", u"反选"};
    for (int index = 1; index <= 4; ++index) {
        m_cmdSafe[index] = new QPushButton(QString::fromUtf16(captions[index]), page);
        m_cmdSafe[index]->setObjectName(QStringLiteral("cmdSafe%1").arg(index));
        buttons->addWidget(m_cmdSafe[index]);
    }
    connect(m_cmdSafe[1], &QPushButton::clicked, this, &OptionsDialog::AddBlockedAddress);
    connect(m_cmdSafe[2], &QPushButton::clicked, this, &OptionsDialog::EditBlockedAddress);
    connect(m_cmdSafe[3], &QPushButton::clicked, this, &OptionsDialog::DeleteBlockedAddresses);
    connect(m_cmdSafe[4], &QPushButton::clicked, this, &OptionsDialog::InvertBlockSelection);
    buttons->addStretch();
    auto* noteLabel = new QLabel(QStringLiteral("屏蔽附言:"), page);
    m_txtBlockTxt = NewBox(page, QStringLiteral("txtBlockTxt"), kTextLength);
    m_chkRequireEncryption = NewCheck(page, QStringLiteral("chkRequireEncryption"),
                                      QStringLiteral("只与加密的对方连接"));

    auto* layout = new QGridLayout(page);
    layout->addWidget(listLabel, 0, 0, 1, 2);
    layout->addWidget(m_lstIP, 1, 0, 1, 2);
    layout->addLayout(buttons, 1, 2);
    layout->addWidget(inputLabel, 2, 0);
    layout->addWidget(m_txtInputAdress, 2, 1);
    layout->addWidget(noteLabel, 3, 0);
    layout->addWidget(m_txtBlockTxt, 3, 1, 1, 2);
    layout->addWidget(m_chkRequireEncryption, 4, 0, 1, 3);
    return page;
}

QWidget* OptionsDialog::BuildAboutPage() {
    auto* page = new QWidget;
    auto* product = new QLabel(QStringLiteral("Tolvex") + kVersionText, page);
    product->setObjectName(QStringLiteral("lblProduct"));
    QFont font = product->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setBold(true);
    product->setFont(font);
    product->setAlignment(Qt::AlignCenter);
    auto* purpose = new QLabel(QStringLiteral("局域网文件传送与文字交流工具"), page);
    purpose->setAlignment(Qt::AlignCenter);
    m_lblHomePage = LinkLabel(page, QStringLiteral("lblHomePage"), QStringLiteral("帮助文档"));
    m_lblEmail = LinkLabel(page, QStringLiteral("lblEmail"), QStringLiteral("电子邮件"));
    for (QLabel* link : {m_lblHomePage, m_lblEmail}) {
        link->setAlignment(Qt::AlignCenter);
        link->installEventFilter(this);
    }
    auto* layout = new QVBoxLayout(page);
    layout->addStretch();
    layout->addWidget(product);
    layout->addSpacing(8);
    layout->addWidget(purpose);
    layout->addSpacing(24);
    layout->addWidget(m_lblHomePage);
    layout->addWidget(m_lblEmail);
    layout->addStretch();
    return page;
}

void OptionsDialog::Fill(const OptionsInput& in) {
    m_chkAutoRun->setChecked(in.autoRun);
    m_chkUseLogFile->setChecked(in.useLogFile);
    m_txtLogFileSize->setText(in.logFileSize);
    m_chkDiscoverable->setChecked(in.discoverable);
    m_chkUseTimer->setChecked(in.useTimer);
    m_vsrTime[1]->setValue(in.hour);
    m_txtTime[1]->setText(QString::number(in.hour));
    m_vsrTime[2]->setValue(in.minute);
    m_txtTime[2]->setText(QString::number(in.minute));
    m_chkPopText->setChecked(in.popText);
    m_txtPopText->setText(in.popTextString);
    m_chkTimeOpen->setChecked(in.timerOpen);
    m_txtExeFile->setText(in.exeFilePath);
    m_chkSaveFSinfo->setChecked(in.saveSendInfo1);
    m_chkUseFSBuffer->setChecked(in.useSendBuffer);
    m_txtFSBuffSize->setText(in.sendBufferSize);
    m_txtFRPW->setText(in.fileCode);
    m_chkUseFRBuffer->setChecked(in.useRecvBuffer);
    m_txtFRBuffSize->setText(in.recvBufferSize);
    m_chkAutoRecvFile->setChecked(in.autoRecvFile);
    m_txtAutoSaveDir->setText(in.autoSavePath);
    m_optSaveFile[in.overwriteExisting ? 1 : 2]->setChecked(true);
    m_chkAutoOpenFile->setChecked(in.autoOpenFile);
    m_txtOpenFileType->setText(in.autoOpenFileType);
    m_chkSaveCSinfo->setChecked(in.saveSendInfo2);
    m_txtCRPW->setText(in.chatCode);
    m_chkAutoChat->setChecked(in.autoChat);
    m_txtAutoChatTip->setText(in.autoChatTip);
    m_lstIP->clear();
    m_lstIP->addItems(in.blockList);
    m_txtBlockTxt->setText(in.blockText);
    m_chkRequireEncryption->setChecked(in.requireEncryption);
}

OptionsInput OptionsDialog::Input() const {
    OptionsInput in;
    in.autoRun = m_chkAutoRun->isChecked();
    in.useLogFile = m_chkUseLogFile->isChecked();
    in.logFileSize = m_txtLogFileSize->text();
    in.discoverable = m_chkDiscoverable->isChecked();
    in.useTimer = m_chkUseTimer->isChecked();
    in.hour = m_vsrTime[1]->value();
    in.minute = m_vsrTime[2]->value();
    in.popText = m_chkPopText->isChecked();
    in.popTextString = m_txtPopText->text();
    in.timerOpen = m_chkTimeOpen->isChecked();
    in.exeFilePath = m_txtExeFile->text();
    in.saveSendInfo1 = m_chkSaveFSinfo->isChecked();
    in.useSendBuffer = m_chkUseFSBuffer->isChecked();
    in.sendBufferSize = m_txtFSBuffSize->text();
    in.fileCode = m_txtFRPW->text();
    in.useRecvBuffer = m_chkUseFRBuffer->isChecked();
    in.recvBufferSize = m_txtFRBuffSize->text();
    in.autoRecvFile = m_chkAutoRecvFile->isChecked();
    in.autoSavePath = m_txtAutoSaveDir->text();
    in.overwriteExisting = m_optSaveFile[1]->isChecked();
    in.autoOpenFile = m_chkAutoOpenFile->isChecked();
    in.autoOpenFileType = m_txtOpenFileType->text();
    in.saveSendInfo2 = m_chkSaveCSinfo->isChecked();
    in.chatCode = m_txtCRPW->text();
    in.autoChat = m_chkAutoChat->isChecked();
    in.autoChatTip = m_txtAutoChatTip->text();
    in.blockList = ItemTexts(m_lstIP);
    in.blockText = m_txtBlockTxt->text();
    in.requireEncryption = m_chkRequireEncryption->isChecked();
    return in;
}

void OptionsDialog::ApplyEnablingRules() {
    // A disabled box is drawn on the button face by the style's disabled palette.
    m_txtLogFileSize->setEnabled(m_chkUseLogFile->isChecked());
    m_txtFSBuffSize->setEnabled(m_chkUseFSBuffer->isChecked());
    m_txtFRBuffSize->setEnabled(m_chkUseFRBuffer->isChecked());
    m_txtOpenFileType->setEnabled(m_chkAutoOpenFile->isChecked());
    m_txtAutoChatTip->setEnabled(m_chkAutoChat->isChecked());

    const bool timer = m_chkUseTimer->isChecked();
    for (int index : {1, 2}) {
        m_txtTime[index]->setEnabled(timer);
        m_vsrTime[index]->setEnabled(timer);
        m_lblTimeUnit[index]->setEnabled(timer);
    }
    for (QWidget* control : std::initializer_list<QWidget*>{
             m_cmdNow, m_chkPopText, m_txtPopText, m_chkTimeOpen, m_txtExeFile, m_cmdTimeOpen}) {
        control->setEnabled(timer);
    }

    const bool autoReceive = m_chkAutoRecvFile->isChecked();
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_txtAutoSaveDir, m_cmdAutoSaveDir, m_lblExistFile,
                                         m_optSaveFile[1], m_optSaveFile[2]}) {
        control->setEnabled(autoReceive);
    }
}

void OptionsDialog::ShowPage(int page) {
    m_page = page;
    m_pages->setCurrentIndex(page - 1);
    for (int index = 1; index <= 6; ++index) {
        // The current tab stands out and joins its page.
        const bool current = index == page;
        m_lblTab[index]->setStyleSheet(
            current ? QStringLiteral("QLabel { border: 1px solid #a0a0a0; border-bottom: none; "
                                     "background: palette(window); padding: 5px 12px; "
                                     "font-weight: bold; }")
                    : QStringLiteral("QLabel { border: 1px solid #a0a0a0; border-left: none; "
                                     "background: palette(button); "
                                     "padding: 4px 12px; margin-top: 3px; }"));
    }
}

void OptionsDialog::SwitchToPage(int page) {
    if (page < 1 || page > 6 || page == m_page)
        return;
    if (PageTestResult failed = TestOptionsPage(m_page, Input())) {
        Report(*failed);
        return;
    }
    ShowPage(page);
}

void OptionsDialog::Report(const PageTestFailure& failure) {
    ShowMessage(m_session.messageBox(), this, failure.message, failure.kind, false);
    QLineEdit* box = nullptr;
    switch (failure.focus) {
        case OptionsBox::LogFileSize:
            box = m_txtLogFileSize;
            break;
        case OptionsBox::PopText:
            box = m_txtPopText;
            break;
        case OptionsBox::ExeFile:
            box = m_txtExeFile;
            break;
        case OptionsBox::SendBufferSize:
            box = m_txtFSBuffSize;
            break;
        case OptionsBox::RecvBufferSize:
            box = m_txtFRBuffSize;
            break;
        case OptionsBox::AutoSaveDir:
            box = m_txtAutoSaveDir;
            break;
        case OptionsBox::None:
            break;
    }
    if (box)
        box->setFocus();
}

void OptionsDialog::SyncTimeBox(int index) {
    // A value the spinner can take moves the spinner; any other text falls back to it.
    const QString text = m_txtTime[index]->text();
    int value = 0;
    if (text.isEmpty() ||
        (OptionsNumber(text, &value) && value >= 0 && value <= m_vsrTime[index]->maximum())) {
        m_vsrTime[index]->setValue(value);
    } else {
        m_txtTime[index]->setText(QString::number(m_vsrTime[index]->value()));
    }
}

void OptionsDialog::FillCurrentTime() {
    const QTime now = m_session.system().Now().time();
    m_txtTime[1]->setText(QString::number(now.hour()));
    m_txtTime[2]->setText(QString::number(now.minute()));
}

void OptionsDialog::ChooseAlarmFile() {
    const QString path = ChooseOpenFile(m_session.dialogs(), this);
    if (path.isEmpty())
        return;
    m_txtExeFile->setText(path);
    m_txtExeFile->setCursorPosition(m_txtExeFile->text().size());
    m_txtExeFile->setFocus();
}

void OptionsDialog::ChooseAutoSaveFolder() {
    const QString folder =
        m_session.dialogs().BrowseFolder(this, QStringLiteral("选择文件自动保存位置:"));
    if (folder.isEmpty())
        return;
    m_txtAutoSaveDir->setText(WithTrailingSlash(folder));
    m_txtAutoSaveDir->setCursorPosition(m_txtAutoSaveDir->text().size());
    m_txtAutoSaveDir->setFocus();
}

bool OptionsDialog::AcceptBlockInput(const QString& address) {
    if (ResolvePeerAddress(address).isEmpty()) {
        ShowMessage(m_session.messageBox(), this, QStringLiteral("无效的IP或TVX地址,请重新输入。"),
                    MessageKind::Error, false);
        m_txtInputAdress->setFocus();
        return false;
    }
    if (RefuseDuplicateBlockEntry(m_session.messageBox(), this, ItemTexts(m_lstIP), address)) {
        m_txtInputAdress->setFocus();
        return false;
    }
    return true;
}

QString OptionsDialog::TrimmedBlockInput() {
    // The button takes the focus first in a real click; trim as leaving the box would.
    const QString address = TrimSpaces(m_txtInputAdress->text());
    m_txtInputAdress->setText(address);
    return address;
}

void OptionsDialog::AddBlockedAddress() {
    const QString address = TrimmedBlockInput();
    if (!AcceptBlockInput(address))
        return;
    m_lstIP->clearSelection();
    m_lstIP->addItem(address);
    QListWidgetItem* added = m_lstIP->item(m_lstIP->count() - 1);
    m_lstIP->setCurrentItem(added, QItemSelectionModel::Select);
    m_txtInputAdress->clear();
    m_txtInputAdress->setFocus();
}

void OptionsDialog::EditBlockedAddress() {
    const QString address = TrimmedBlockInput();
    // The entry changed is the first one selected, which after a Ctrl+click need not be the
    // list's current one.
    const int row = FirstSelectedRow(m_lstIP);
    if (row < 0) {
        ShowMessage(m_session.messageBox(), this, QStringLiteral("目前尚未选择任何地址。"),
                    MessageKind::Warning, false);
        return;
    }
    if (!AcceptBlockInput(address))
        return;
    m_lstIP->item(row)->setText(address);
}

void OptionsDialog::DeleteBlockedAddresses() {
    TrimmedBlockInput();
    DeleteSelectedEntries(m_session.messageBox(), this, m_lstIP);
}

void OptionsDialog::InvertBlockSelection() {
    TrimmedBlockInput();
    InvertSelection(m_lstIP);
}

void OptionsDialog::OpenHomePage() {
    OpenHelpPage(m_session, this);
}

void OptionsDialog::WriteEmail() {
    OpenWithShell(m_session.shell(), kMailLink);
}

void OptionsDialog::TrimBoxes() {
    // The code boxes keep their spaces: a code is compared exactly as the sender types it.
    for (QLineEdit* box : findChildren<QLineEdit*>()) {
        if (box == m_txtFRPW || box == m_txtCRPW)
            continue;
        const QString trimmed = TrimSpaces(box->text());
        if (trimmed != box->text())
            box->setText(trimmed);
    }
}

void OptionsDialog::ApplyAndClose() {
    TrimBoxes();
    const ApplyOutcome outcome =
        ApplyOptions(m_session, Input(), m_shownCodes, [this](bool on) { emit AlarmSwitched(on); });
    switch (outcome.result) {
        case ApplyOutcome::Applied:
            close();
            return;
        case ApplyOutcome::TestFailed:
            // The value that failed is shown with its page.
            ShowPage(outcome.page);
            Report(outcome.failure);
            return;
        case ApplyOutcome::StoreFailed:
        case ApplyOutcome::BlockFileFailed:
            ShowMessage(m_session.messageBox(), this, outcome.message, MessageKind::Error, false);
            close();
            return;
    }
}

bool OptionsDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (int index = 1; index <= 6; ++index) {
            if (watched == m_lblTab[index])
                SwitchToPage(index);
        }
        if (watched == m_lblHomePage)
            OpenHomePage();
        if (watched == m_lblEmail)
            WriteEmail();
    }
    if (event->type() == QEvent::FocusOut && watched != m_txtFRPW && watched != m_txtCRPW) {
        if (auto* box = qobject_cast<QLineEdit*>(watched)) {
            const QString trimmed = TrimSpaces(box->text());
            if (trimmed != box->text())
                box->setText(trimmed);
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tvx

#include "records/PersonalInfoWindow.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "address/AddressCode.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "common/Windows.h"
#include "presence/PresenceService.h"
#include "records/Settings.h"
#include "session/Session.h"
#include "texts/SecurityTexts.h"

namespace tvx {

namespace {

const int kOtherInfoLimit = 200;

}  // namespace

PersonalInfoWindow::PersonalInfoWindow(Session& session, QWidget* parent)
    : QWidget(parent),
      m_session(session),
      m_txtOtherInfo(new QPlainTextEdit(this)),
      m_cobSex(new QComboBox(this)) {
    setObjectName(QStringLiteral("PersonalInfoWindow"));
    setWindowTitle(QStringLiteral("个人信息"));

    for (int index = 1; index <= 8; ++index) {
        m_txtLocalInfo[index] = new QLineEdit(this);
        m_txtLocalInfo[index]->setObjectName(QStringLiteral("txtLocalInfo%1").arg(index));
        m_txtLocalInfo[index]->installEventFilter(this);
    }
    m_txtOtherInfo->setObjectName(QStringLiteral("txtLocalInfo9"));
    m_txtOtherInfo->installEventFilter(this);
    m_cobSex->setObjectName(QStringLiteral("cobSex"));
    m_cobSex->addItems({QStringLiteral("保密"), QStringLiteral("先生"), QStringLiteral("女士")});

    // The two network boxes show the addresses and cannot be edited.
    for (int index : {1, 2}) {
        m_txtLocalInfo[index]->setReadOnly(true);
        m_txtLocalInfo[index]->setContextMenuPolicy(Qt::NoContextMenu);
    }
    m_txtLocalInfo[3]->setMaxLength(15);
    m_txtLocalInfo[4]->setMaxLength(2);
    for (int index = 5; index <= 8; ++index)
        m_txtLocalInfo[index]->setMaxLength(50);
    connect(m_txtOtherInfo, &QPlainTextEdit::textChanged, this, [this] {
        if (m_txtOtherInfo->toPlainText().size() > kOtherInfoLimit) {
            m_txtOtherInfo->setPlainText(m_txtOtherInfo->toPlainText().left(kOtherInfoLimit));
            m_txtOtherInfo->moveCursor(QTextCursor::End);
        }
    });

    auto* network = new QGroupBox(QStringLiteral("网络信息"), this);
    auto* networkForm = new QFormLayout(network);
    networkForm->addRow(QStringLiteral("TVX"), m_txtLocalInfo[1]);
    networkForm->addRow(QStringLiteral("IP"), m_txtLocalInfo[2]);
    // The code the user reads aloud to a peer who compares it; it can be selected and copied.
    auto* fingerprint = new QLineEdit(
        OwnFingerprintLine(m_session.identity ? m_session.identity->fingerprint() : QByteArray()),
        network);
    fingerprint->setObjectName(QStringLiteral("txtFingerprint"));
    fingerprint->setReadOnly(true);
    fingerprint->setFocusPolicy(Qt::ClickFocus);
    fingerprint->setCursorPosition(0);
    networkForm->addRow(fingerprint);

    auto* personal = new QGroupBox(QStringLiteral("个人信息"), this);
    auto* personalForm = new QFormLayout(personal);
    personalForm->addRow(QStringLiteral("昵称:"), m_txtLocalInfo[3]);
    personalForm->addRow(QStringLiteral("性别:"), m_cobSex);
    personalForm->addRow(QStringLiteral("年龄:"), m_txtLocalInfo[4]);
    personalForm->addRow(QStringLiteral("电话:"), m_txtLocalInfo[5]);
    personalForm->addRow(QStringLiteral("电邮:"), m_txtLocalInfo[6]);
    personalForm->addRow(QStringLiteral("主页:"), m_txtLocalInfo[7]);
    personalForm->addRow(QStringLiteral("地址:"), m_txtLocalInfo[8]);
    personalForm->addRow(QStringLiteral("备注:"), m_txtOtherInfo);
    m_txtOtherInfo->setFixedHeight(70);

    const char16_t* captions[] = {u"确定", u"取消", u"变换本地TVX"};
    auto* buttons = new QHBoxLayout;
    for (int index = 1; index <= 3; ++index) {
        m_cmdDo[index] = new QPushButton(QString::fromUtf16(captions[index - 1]), this);
        m_cmdDo[index]->setObjectName(QStringLiteral("cmdDo%1").arg(index));
    }
    connect(m_cmdDo[1], &QPushButton::clicked, this, &PersonalInfoWindow::SaveCard);
    connect(m_cmdDo[2], &QPushButton::clicked, this, &QWidget::close);
    connect(m_cmdDo[3], &QPushButton::clicked, this, &PersonalInfoWindow::ChangeAddressCode);
    buttons->addWidget(m_cmdDo[3]);
    buttons->addStretch();
    buttons->addWidget(m_cmdDo[1]);
    buttons->addWidget(m_cmdDo[2]);
    m_cmdDo[1]->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(network);
    layout->addWidget(personal);
    layout->addLayout(buttons);

    // Fill from the running values.
    const PersonalInfo& card = m_session.personalInfo;
    m_txtLocalInfo[1]->setText(m_session.localAddressCode);
    m_txtLocalInfo[2]->setText(m_session.localAddress);
    m_txtLocalInfo[3]->setText(card.nickName);
    bool known = false;
    int sex = card.sex.toInt(&known);
    m_cobSex->setCurrentIndex(known && sex >= 0 && sex <= 2 ? sex : 0);
    m_txtLocalInfo[4]->setText(card.age);
    m_txtLocalInfo[5]->setText(card.phone);
    m_txtLocalInfo[6]->setText(card.email);
    m_txtLocalInfo[7]->setText(card.homePage);
    m_txtLocalInfo[8]->setText(card.address);
    m_txtOtherInfo->setPlainText(FromWireText(card.otherInfo));

    adjustSize();
    CenterForm(m_session.display, this);
}

QString PersonalInfoWindow::OtherInfoText() const {
    return TrimLines(ToWireText(m_txtOtherInfo->toPlainText()));
}

bool PersonalInfoWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        // Leaving a box trims it; the free-text box also loses outer blank lines.
        if (watched == m_txtOtherInfo) {
            const QString trimmed = FromWireText(OtherInfoText());
            if (trimmed != m_txtOtherInfo->toPlainText())
                m_txtOtherInfo->setPlainText(trimmed);
        } else if (auto* box = qobject_cast<QLineEdit*>(watched)) {
            const QString trimmed = TrimSpaces(box->text());
            if (trimmed != box->text())
                box->setText(trimmed);
        }
    }
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        if (watched == m_txtLocalInfo[1])
            CopyAddress(1);
        if (watched == m_txtLocalInfo[2])
            CopyAddress(2);
    }
    return QWidget::eventFilter(watched, event);
}

void PersonalInfoWindow::CopyAddress(int index) {
    m_session.shell().SetClipboardText(QString());
    m_session.shell().SetClipboardText(m_txtLocalInfo[index]->text());
    const QString label = index == 1 ? QStringLiteral("TVX") : QStringLiteral("IP");
    ShowMessage(m_session.messageBox(), this,
                QStringLiteral("本地") + label + QStringLiteral("地址已复制到剪贴板。"),
                MessageKind::Info, false);
}

void PersonalInfoWindow::ChangeAddressCode() {
    // A fresh code for the same address, never the one on display.
    const QString shown = m_txtLocalInfo[1]->text();
    QString code;
    do {
        code = EncodeAddressCode(m_session.localAddress);
    } while (code == shown);
    m_txtLocalInfo[1]->setText(code);
    m_session.localAddressCode = code;
    // The others list the copy by its TVX address: tell them the new one now.
    if (m_session.presence)
        m_session.presence->AnnounceNow();
}

void PersonalInfoWindow::SaveCard() {
    // The button takes the focus first in a real click; trim as leaving the box would.
    const QString nickName = TrimSpaces(m_txtLocalInfo[3]->text());
    m_txtLocalInfo[3]->setText(nickName);
    if (nickName.isEmpty()) {
        ShowMessage(m_session.messageBox(), this, QStringLiteral("昵称不能为空。"),
                    MessageKind::Warning, false);
        m_txtLocalInfo[3]->setFocus();
        return;
    }
    if (nickName.contains(QLatin1Char('|'))) {
        ShowMessage(
            m_session.messageBox(), this,
            QStringLiteral("昵称中不能包含") + QStringLiteral("|") + QStringLiteral("字符。"),
            MessageKind::Info, false);
        m_txtLocalInfo[3]->setFocus();
        return;
    }

    PersonalInfo card;
    card.nickName = nickName;
    card.sex = QString::number(m_cobSex->currentIndex());
    card.age = TrimSpaces(m_txtLocalInfo[4]->text());
    card.phone = TrimSpaces(m_txtLocalInfo[5]->text());
    card.email = TrimSpaces(m_txtLocalInfo[6]->text());
    card.homePage = TrimSpaces(m_txtLocalInfo[7]->text());
    card.address = TrimSpaces(m_txtLocalInfo[8]->text());
    card.otherInfo = OtherInfoText();
    const bool renamed = m_session.personalInfo.nickName != card.nickName;
    m_session.personalInfo = card;

    const QStringList keys = {QStringLiteral("NickName"), QStringLiteral("Sex"),
                              QStringLiteral("Age"),      QStringLiteral("Phone"),
                              QStringLiteral("Email"),    QStringLiteral("HomePage"),
                              QStringLiteral("Address"),  QStringLiteral("OtherInfo")};
    const QStringList values = card.Fields();
    for (int i = 0; i < keys.size(); ++i)
        WriteSetting(m_session.store(), keys[i], values[i]);
    if (renamed && m_session.presence)
        m_session.presence->AnnounceNow();
    close();
}

}  // namespace tvx

#include "records/PeerInfoWindow.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/Messages.h"
#include "common/Windows.h"
#include "records/AddressFiles.h"
#include "session/Session.h"
#include "texts/SecurityTexts.h"

namespace tvx {

PeerInfoWindow::PeerInfoWindow(Session& session, QWidget* parent)
    : QWidget(parent),
      m_session(session),
      m_txtOtherInfo(new QPlainTextEdit(this)),
      m_txtFingerprint(new QLineEdit(this)) {
    setObjectName(QStringLiteral("PeerInfoWindow"));
    setWindowTitle(QStringLiteral("对方信息"));
    setWindowIcon(QIcon());

    for (int index = 1; index <= 8; ++index) {
        m_txtGuestInfo[index] = new QLineEdit(this);
        m_txtGuestInfo[index]->setObjectName(QStringLiteral("txtGuestInfo%1").arg(index));
        m_txtGuestInfo[index]->setReadOnly(true);
    }
    m_txtOtherInfo->setObjectName(QStringLiteral("txtGuestInfo9"));
    m_txtOtherInfo->setReadOnly(true);
    m_txtGuestInfo[1]->setContextMenuPolicy(Qt::NoContextMenu);
    m_txtGuestInfo[1]->installEventFilter(this);
    m_txtFingerprint->setObjectName(QStringLiteral("txtFingerprint"));
    m_txtFingerprint->setReadOnly(true);

    auto* form = new QFormLayout;
    const char16_t* labels[] = {u"地址",  u"昵称:", u"性别:", u"年龄:", u"电话:",
                                u"电邮:", u"主页:", u"地址:", u"备注:"};
    for (int index = 1; index <= 8; ++index)
        form->addRow(QString::fromUtf16(labels[index - 1]), m_txtGuestInfo[index]);
    form->addRow(QString::fromUtf16(labels[8]), m_txtOtherInfo);
    form->addRow(m_txtFingerprint);

    const char16_t* captions[] = {u"加入地址簿", u"加入黑名单", u"确定"};
    auto* buttons = new QHBoxLayout;
    for (int index = 1; index <= 3; ++index) {
        m_cmdDo[index] = new QPushButton(QString::fromUtf16(captions[index - 1]), this);
        m_cmdDo[index]->setObjectName(QStringLiteral("cmdDo%1").arg(index));
        if (index == 3)
            buttons->addStretch();
        buttons->addWidget(m_cmdDo[index]);
    }
    m_cmdDo[3]->setDefault(true);
    connect(m_cmdDo[1], &QPushButton::clicked, this, &PeerInfoWindow::AddToAddressBook);
    connect(m_cmdDo[2], &QPushButton::clicked, this, &PeerInfoWindow::AddToBlockList);
    connect(m_cmdDo[3], &QPushButton::clicked, this, &QWidget::close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    resize(m_session.display.PixelsX(6030), m_session.display.PixelsY(7230));
    CenterForm(m_session.display, this);
}

void PeerInfoWindow::Fill(const QStringList& peerFields) {
    for (int k = 0; k <= 7; ++k) {
        QString value = peerFields.value(k);
        if (k == 2)
            value = SexWord(value);
        m_txtGuestInfo[k + 1]->setText(value);
        m_txtGuestInfo[k + 1]->setCursorPosition(0);
    }
    m_txtOtherInfo->setPlainText(
        peerFields.value(8).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void PeerInfoWindow::ShowFingerprint(const QByteArray& fingerprint) {
    m_txtFingerprint->setText(EncryptionLine(!fingerprint.isEmpty(), fingerprint));
    m_txtFingerprint->setCursorPosition(0);
}

bool PeerInfoWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_txtGuestInfo[1] && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        m_session.shell().SetClipboardText(QString());
        m_session.shell().SetClipboardText(m_txtGuestInfo[1]->text());
        ShowMessage(m_session.messageBox(), this, QStringLiteral("对方地址已复制到剪贴板。"),
                    MessageKind::Info, false);
    }
    return QWidget::eventFilter(watched, event);
}

void PeerInfoWindow::AddToAddressBook() {
    if (ShowMessage(m_session.messageBox(), this,
                    QStringLiteral("确实要将该用户地址加入地址簿么？") + QStringLiteral("\r\n") +
                        QStringLiteral("添加后可在\"地址簿\"中编辑。"),
                    MessageKind::Ask, false) == MessageAnswer::No)
        return;
    AddPeerToAddressBook(m_session, this, m_txtGuestInfo[2]->text(), m_txtGuestInfo[1]->text());
}

void PeerInfoWindow::AddToBlockList() {
    if (ShowMessage(m_session.messageBox(), this,
                    QStringLiteral("确实要将此用户地址加入屏蔽列表么？") + QStringLiteral("\r\n") +
                        QStringLiteral("要解除屏蔽请在\"选项-安全\"中设置。"),
                    MessageKind::Ask, false) == MessageAnswer::No)
        return;
    BlockPeer(m_session, this, m_txtGuestInfo[1]->text());
}

QString SexWord(const QString& code) {
    // Sex travels as "0", "1" or "2"; anything else shows as an empty box.
    const QStringList names = {QStringLiteral("保密"), QStringLiteral("先生"),
                               QStringLiteral("女士")};
    const int sex = code.size() == 1 ? code.at(0).unicode() - '0' : -1;
    return sex >= 0 && sex <= 2 ? names[sex] : QString();
}

PeerInfoWindow* ShowPeerInfo(Session& session, const QStringList& peerFields,
                             const QByteArray& fingerprint) {
    auto* window = new PeerInfoWindow(session);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->Fill(peerFields);
    window->ShowFingerprint(fingerprint);
    window->show();
    return window;
}

}  // namespace tvx

#include "records/AddressBookWindow.h"

#include <QCloseEvent>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "address/AddressCode.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "common/Windows.h"
#include "presence/PresenceService.h"
#include "records/AddressFiles.h"
#include "records/AddressLists.h"
#include "records/FoundPeers.h"
#include "session/Session.h"

namespace tvx {

AddressBookWindow::AddressBookWindow(Session& session, QWidget* parent)
    : QWidget(parent),
      m_session(session),
      m_lblAdrs(new QLabel(this)),
      m_lstAdrs(new QListWidget(this)),
      m_mnuFile(m_mnuList.addAction(QStringLiteral("发送文件"))),
      m_mnuChat(m_mnuList.addAction(QStringLiteral("发送邀请"))),
      m_lblOnline(new QLabel(kFoundPeersCaption + QStringLiteral(":"), this)),
      m_lstOnline(new QListWidget(this)) {
    setObjectName(QStringLiteral("AddressBookWindow"));
    setWindowTitle(QStringLiteral("联系列表"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_lblAdrs->setObjectName(QStringLiteral("lblAdrs1"));
    m_lstAdrs->setObjectName(QStringLiteral("lstAdrs"));
    m_lstAdrs->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_lstAdrs->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_lstAdrs, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        ShowContextMenu(m_lstAdrs->viewport()->mapToGlobal(pos));
    });
    m_mnuList.setObjectName(QStringLiteral("mnuList"));
    m_mnuFile->setObjectName(QStringLiteral("mnuFile"));
    m_mnuChat->setObjectName(QStringLiteral("mnuChat"));
    connect(m_mnuFile, &QAction::triggered, this, &AddressBookWindow::SendFileToEntry);
    connect(m_mnuChat, &QAction::triggered, this, &AddressBookWindow::InviteEntry);

    m_lblOnline->setObjectName(QStringLiteral("lblOnline"));
    m_lstOnline->setObjectName(QStringLiteral("lstOnline"));
    m_lstOnline->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_lstOnline, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        ShowFoundPeerMenu(m_lstOnline->viewport()->mapToGlobal(pos));
    });
    m_mnuOnline.setObjectName(QStringLiteral("mnuOnline"));
    connect(m_mnuOnline.addAction(QStringLiteral("发送文件")), &QAction::triggered, this,
            &AddressBookWindow::SendFileToFoundPeer);
    connect(m_mnuOnline.addAction(QStringLiteral("发送邀请")), &QAction::triggered, this,
            &AddressBookWindow::InviteFoundPeer);
    m_mnuOnline.addSeparator();
    connect(m_mnuOnline.addAction(QStringLiteral("加入地址簿")), &QAction::triggered, this,
            &AddressBookWindow::AddFoundPeerToBook);
    // Hidden until the presence service is found running at load.
    m_lblOnline->hide();
    m_lstOnline->hide();

    auto* inputs = new QGridLayout;
    const char16_t* labels[3] = {nullptr, u"输入用户名:", u"输入地址:"};
    for (int index : {1, 2}) {
        m_txtInputAdress[index] = new QLineEdit(this);
        m_txtInputAdress[index]->setObjectName(QStringLiteral("txtInputAdress%1").arg(index));
        m_txtInputAdress[index]->setMaxLength(15);
        m_txtInputAdress[index]->installEventFilter(this);
        inputs->addWidget(new QLabel(QString::fromUtf16(labels[index]), this), index - 1, 0);
        inputs->addWidget(m_txtInputAdress[index], index - 1, 1);
    }

    auto* buttons = new QHBoxLayout;
    const char16_t* captions[6] = {nullptr, u"添加", u"编辑", u"删除", u"反选", u"保存"};
    for (int index = 1; index <= 5; ++index) {
        m_cmdAdrs[index] = new QPushButton(QString::fromUtf16(captions[index]), this);
        m_cmdAdrs[index]->setObjectName(QStringLiteral("cmdAdrs%1").arg(index));
        // Five buttons share the window's width.
        m_cmdAdrs[index]->setMinimumWidth(60);
        buttons->addWidget(m_cmdAdrs[index]);
    }
    connect(m_cmdAdrs[1], &QPushButton::clicked, this, &AddressBookWindow::AddEntry);
    connect(m_cmdAdrs[2], &QPushButton::clicked, this, &AddressBookWindow::EditEntry);
    connect(m_cmdAdrs[3], &QPushButton::clicked, this, &AddressBookWindow::DeleteEntries);
    connect(m_cmdAdrs[4], &QPushButton::clicked, this, &AddressBookWindow::InvertEntrySelection);
    connect(m_cmdAdrs[5], &QPushButton::clicked, this, &AddressBookWindow::SaveBook);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lblOnline);
    layout->addWidget(m_lstOnline);
    layout->addWidget(m_lblAdrs);
    layout->addWidget(m_lstAdrs, 1);
    layout->addLayout(inputs);
    layout->addLayout(buttons);

    resize(m_session.display.PixelsX(6030), m_session.display.PixelsY(7230));
    CenterForm(m_session.display, this);
}

void AddressBookWindow::LoadEntries() {
    LoadAddressBook(m_session, m_lstAdrs, this, true);
    m_savedEntries = ItemTexts(m_lstAdrs);
    UpdateCount();
    PresenceService* presence = m_session.presence;
    if (!presence)
        return;
    m_lblOnline->show();
    m_lstOnline->show();
    m_lstOnline->setMaximumHeight(m_session.display.PixelsY(1800));
    ShowFoundPeers();
    for (auto signal : {&PresenceService::PeerAdded, &PresenceService::PeerUpdated,
                        &PresenceService::PeerRemoved})
        connect(presence, signal, this, &AddressBookWindow::ShowFoundPeers);
}

void AddressBookWindow::ShowFoundPeers() {
    if (m_session.presence)
        tvx::ShowFoundPeers(m_lstOnline, 0, m_session.presence->Peers());
}

void AddressBookWindow::UpdateCount() {
    m_lblAdrs->setText(QStringLiteral("联系列表中共有 ") + QString::number(m_lstAdrs->count()) +
                       QStringLiteral(" 个地址:"));
}

bool AddressBookWindow::TakeInput(const QString& nameEmptyText, QString* entry) {
    // The button takes the focus first in a real click; trim as leaving the box would. A
    // control character would break the line in the file.
    const QString name = TrimSpaces(WithoutControls(m_txtInputAdress[1]->text()));
    const QString address = TrimSpaces(WithoutControls(m_txtInputAdress[2]->text()));
    m_txtInputAdress[1]->setText(name);
    m_txtInputAdress[2]->setText(address);
    MessageBoxService& box = m_session.messageBox();
    if (name.isEmpty()) {
        ShowMessage(box, this, nameEmptyText, MessageKind::Info, false);
        m_txtInputAdress[1]->setFocus();
        return false;
    }
    if (name.contains(QLatin1Char('|'))) {
        ShowMessage(
            box, this,
            QStringLiteral("用户名中不能包含") + QStringLiteral("|") + QStringLiteral("字符。"),
            MessageKind::Info, false);
        m_txtInputAdress[1]->setFocus();
        return false;
    }
    if (ResolvePeerAddress(address).isEmpty()) {
        ShowMessage(box, this, QStringLiteral("无效的IP或TVX地址,请重新输入。"), MessageKind::Error,
                    false);
        m_txtInputAdress[2]->setFocus();
        return false;
    }
    if (RefuseDuplicateAddressEntry(box, this, ItemTexts(m_lstAdrs), name, address)) {
        m_txtInputAdress[1]->setFocus();
        return false;
    }
    *entry = name + QLatin1Char('|') + address;
    return true;
}

void AddressBookWindow::AddEntry() {
    QString entry;
    if (!TakeInput(QStringLiteral("用户名不能为空。"), &entry))
        return;
    m_lstAdrs->clearSelection();
    m_lstAdrs->addItem(entry);
    m_lstAdrs->setCurrentItem(m_lstAdrs->item(m_lstAdrs->count() - 1), QItemSelectionModel::Select);
    m_txtInputAdress[1]->clear();
    m_txtInputAdress[2]->clear();
    UpdateCount();
    m_txtInputAdress[1]->setFocus();
}

void AddressBookWindow::EditEntry() {
    // The entry changed is the first one selected, which after a Ctrl+click need not be the
    // list's current one.
    const int row = FirstSelectedRow(m_lstAdrs);
    if (row < 0) {
        ShowMessage(m_session.messageBox(), this, QStringLiteral("目前尚未选择任何地址。"),
                    MessageKind::Warning, false);
        return;
    }
    QString entry;
    if (!TakeInput(QStringLiteral("用户名称不能为空。"), &entry))
        return;
    m_lstAdrs->item(row)->setText(entry);
}

void AddressBookWindow::DeleteEntries() {
    DeleteSelectedEntries(m_session.messageBox(), this, m_lstAdrs);
    UpdateCount();
}

void AddressBookWindow::InvertEntrySelection() {
    InvertSelection(m_lstAdrs);
}

void AddressBookWindow::SaveBook() {
    if (WriteBook())
        ShowMessage(m_session.messageBox(), this, QStringLiteral("地址簿保存成功。"),
                    MessageKind::Info, false);
}

bool AddressBookWindow::WriteBook() {
    QString error;
    const QStringList entries = ItemTexts(m_lstAdrs);
    if (!SaveAddressBook(m_session.appFolder, entries, &error)) {
        ShowMessage(m_session.messageBox(), this,
                    QStringLiteral("将用户地址保存到地址簿时发生错误。") +
                        QStringLiteral("\r\n\r\n") + error,
                    MessageKind::Error, false);
        return false;
    }
    m_savedEntries = entries;
    return true;
}

bool AddressBookWindow::HasUnsavedChanges() const {
    return ItemTexts(m_lstAdrs) != m_savedEntries;
}

void AddressBookWindow::closeEvent(QCloseEvent* event) {
    // Only the user's own close asks; the program's end closes without questions, as it
    // ends everything else.
    if (event->spontaneous() && HasUnsavedChanges()) {
        const MessageAnswer answer = ShowMessage(m_session.messageBox(), this,
                                                 QStringLiteral("地址簿已被修改，是否保存修改？"),
                                                 MessageKind::AskCancel, false);
        // Yes closes only once the file is written; a failed save has said why.
        if (answer == MessageAnswer::Cancel || (answer == MessageAnswer::Yes && !WriteBook())) {
            event->ignore();
            return;
        }
    }
    QWidget::closeEvent(event);
}

void AddressBookWindow::ShowContextMenu(const QPoint& globalPos) {
    const bool selected = FirstSelectedRow(m_lstAdrs) >= 0;
    m_mnuFile->setEnabled(selected);
    m_mnuChat->setEnabled(selected);
    m_mnuList.popup(globalPos);
}

QString AddressBookWindow::SelectedAddress() const {
    // The first selected entry, as editing takes it.
    const int row = FirstSelectedRow(m_lstAdrs);
    return row < 0 ? QString() : AddressOfEntry(m_lstAdrs->item(row)->text());
}

void AddressBookWindow::SendFileToEntry() {
    const QString address = SelectedAddress();
    if (!address.isEmpty())
        emit SendFileRequested(address);
}

void AddressBookWindow::InviteEntry() {
    const QString address = SelectedAddress();
    if (!address.isEmpty())
        emit InvitationRequested(address);
}

QString AddressBookWindow::SelectedFoundPeerAddress() const {
    const QListWidgetItem* item = m_lstOnline->currentItem();
    return item && item->isSelected() ? AddressOfFoundPeer(item) : QString();
}

void AddressBookWindow::ShowFoundPeerMenu(const QPoint& globalPos) {
    const bool selected = !SelectedFoundPeerAddress().isEmpty();
    for (QAction* action : m_mnuOnline.actions())
        action->setEnabled(selected);
    m_mnuOnline.popup(globalPos);
}

void AddressBookWindow::SendFileToFoundPeer() {
    const QString address = SelectedFoundPeerAddress();
    if (!address.isEmpty())
        emit SendFileRequested(address);
}

void AddressBookWindow::InviteFoundPeer() {
    const QString address = SelectedFoundPeerAddress();
    if (!address.isEmpty())
        emit InvitationRequested(address);
}

void AddressBookWindow::AddFoundPeerToBook() {
    const QListWidgetItem* item = m_lstOnline->currentItem();
    if (!item || !item->isSelected())
        return;
    const QString address = AddressOfFoundPeer(item);
    // A book name may not hold "|" or control characters; a copy without a usable nickname
    // is named by its IPv4 address.
    QString entry = PeerAddressBookLine(NickNameOfFoundPeer(item), address);
    if (entry.startsWith(QLatin1Char('|')))
        entry = PeerAddressBookLine(item->data(kFoundPeerRole).toString(), address);
    const QString name = entry.left(entry.lastIndexOf(QLatin1Char('|')));
    MessageBoxService& box = m_session.messageBox();
    const QStringList entries = ItemTexts(m_lstAdrs);
    if (RefuseDuplicateAddressEntry(box, this, entries, name, address))
        return;
    // The copy's code is new at every start: the entry it had before is updated instead.
    int row = FindEntryOfAddress(entries, address);
    if (row >= 0) {
        if (!AskToUpdateEntry(box, this, entries[row], entry))
            return;
        m_lstAdrs->item(row)->setText(entry);
    } else {
        // More than the book loads would be lost at the next start.
        if (m_lstAdrs->count() >= kMaxListEntries) {
            ShowMessage(box, this, QStringLiteral("地址簿数量已达到最大限制500个。"),
                        MessageKind::Warning, false);
            return;
        }
        m_lstAdrs->addItem(entry);
        row = m_lstAdrs->count() - 1;
    }
    m_lstAdrs->clearSelection();
    m_lstAdrs->setCurrentItem(m_lstAdrs->item(row), QItemSelectionModel::Select);
    m_lstAdrs->scrollToItem(m_lstAdrs->currentItem());
    UpdateCount();
}

bool AddressBookWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        if (auto* box = qobject_cast<QLineEdit*>(watched)) {
            const QString trimmed = TrimSpaces(box->text());
            if (trimmed != box->text())
                box->setText(trimmed);
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tvx

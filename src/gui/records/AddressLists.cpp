#include "records/AddressLists.h"

#include <QFileInfo>
#include <QListWidget>
#include <QPersistentModelIndex>
#include <QPointer>

#include "common/Messages.h"
#include "presence/PresenceService.h"
#include "records/AddressFiles.h"
#include "session/Session.h"

namespace tvx {

namespace {

const QString kProgramTitle = QStringLiteral("Tolvex");

}  // namespace

void LoadAddressBook(Session& session, QListWidget* list, QWidget* owner, bool showLimitMessage) {
    const LoadedEntries loaded = ReadAddressBookFile(session.appFolder + kAddressBookFileName);
    list->clear();
    list->addItems(loaded.entries);
    if (loaded.overLimit && showLimitMessage) {
        session.messageBox().Show(
            owner, QStringLiteral("地址簿数量已超过最大限制500个，超出部分将被忽略。"),
            kProgramTitle, MessageStyleOf(MessageKind::Warning));
    }
}

int DeleteSelectedEntries(MessageBoxService& box, QWidget* owner, QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    if (selected.isEmpty()) {
        ShowMessage(box, owner, QStringLiteral("目前尚未选择任何地址。"), MessageKind::Warning,
                    false);
        return 0;
    }
    // The question lets events run: the window may close or the list change meanwhile.
    QPointer<QListWidget> guard(list);
    if (selected.size() == 1) {
        // Ask about, and remove, the entry that is selected: the current entry may be another
        // one after a Ctrl+click has deselected it.
        const QPersistentModelIndex index(list->model()->index(list->row(selected.first()), 0));
        const QString text = QStringLiteral("确实要删除地址 \"") + selected.first()->text() +
                             QStringLiteral("\" 么？");
        if (ShowMessage(box, owner, text, MessageKind::Ask, false) == MessageAnswer::No)
            return 0;
        if (!guard || !index.isValid())
            return 0;
        delete list->takeItem(index.row());
        return 1;
    }
    const QString text = QStringLiteral("确实要删除选择的 ") + QString::number(selected.size()) +
                         QStringLiteral(" 个地址么？");
    if (ShowMessage(box, owner, text, MessageKind::Ask, false) == MessageAnswer::No)
        return 0;
    if (!guard)
        return 0;
    // The list's cursor is its viewport's.
    QWidget* viewport = list->viewport();
    const QCursor before = viewport->cursor();
    viewport->setCursor(Qt::WaitCursor);
    int removed = 0;
    for (int row = list->count() - 1; row >= 0; --row) {
        if (!list->item(row)->isSelected())
            continue;
        delete list->takeItem(row);
        ++removed;
    }
    viewport->setCursor(before);
    return removed;
}

bool ShowAddressPicker(Session& session, QWidget* owner, PickerPurpose purpose,
                       const AddressPickerOpener& openPicker) {
    const QFileInfo book(session.appFolder + kAddressBookFileName);
    // Copies found on the network are worth a picker of their own.
    const bool found = session.presence && session.presence->PeerCount() > 0;
    if (!found && (!book.isFile() || book.size() == 0)) {
        ShowMessage(session.messageBox(), owner, QStringLiteral("当前地址簿为空。"),
                    MessageKind::Info, false);
        return false;
    }
    if (openPicker)
        openPicker(owner, purpose);
    return true;
}

int FirstSelectedRow(const QListWidget* list) {
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->isSelected())
            return row;
    }
    return -1;
}

void InvertSelection(QListWidget* list) {
    for (int row = 0; row < list->count(); ++row)
        list->item(row)->setSelected(!list->item(row)->isSelected());
}

QStringList ItemTexts(const QListWidget* list) {
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

}  // namespace tvx

#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QListWidget;
class QWidget;

namespace tvx {

class MessageBoxService;
struct Session;

// The address book and the block list as the windows list them.

// Fills the list with the address book. The address-book window tells the user when entries
// were dropped (showLimitMessage); the address picker stops silently.
void LoadAddressBook(Session& session, QListWidget* list, QWidget* owner, bool showLimitMessage);

// The delete button of the address book and of the block-list page. Works on a QListWidget
// in extended selection: asks about the one selected entry by its text, or about the count of
// several, and removes them unless the answer is No. Returns how many entries went.
int DeleteSelectedEntries(MessageBoxService& box, QWidget* owner, QListWidget* list);

// Which window the address picker fills.
enum class PickerPurpose { None = 0, SendFile = 1, ChatInvitation = 2 };
using AddressPickerOpener = std::function<void(QWidget* owner, PickerPurpose purpose)>;

// Opens the address picker through openPicker when the address book has content; otherwise
// says it is empty. True when the picker was asked to open.
bool ShowAddressPicker(Session& session, QWidget* owner, PickerPurpose purpose,
                       const AddressPickerOpener& openPicker);

// The texts of a list's items, in list order.
QStringList ItemTexts(const QListWidget* list);
// The topmost selected row; -1 when nothing is selected.
int FirstSelectedRow(const QListWidget* list);
// "反选": every entry's selection is inverted.
void InvertSelection(QListWidget* list);

}  // namespace tvx

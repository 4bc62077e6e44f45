#pragma once

#include <QDialog>

#include "platform/MessageBox.h"

class QListWidget;
class QPushButton;

namespace tvx {

// Asks the user which of several local addresses to use. Accepted with the chosen address;
// rejected when the user chooses to exit.
class AddressChoiceDialog : public QDialog {
    Q_OBJECT

public:
    AddressChoiceDialog(MessageBoxService& messageBox, const QStringList& addresses,
                        QWidget* parent = nullptr);

    QString ChosenAddress() const { return m_chosen; }

private:
    void AcceptChoice();

    MessageBoxService& m_messageBox;
    QListWidget* m_lstIP;
    QString m_chosen;
};

}  // namespace tvx

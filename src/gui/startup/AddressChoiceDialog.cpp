#include "startup/AddressChoiceDialog.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/Messages.h"

namespace tvx {

AddressChoiceDialog::AddressChoiceDialog(MessageBoxService& messageBox,
                                         const QStringList& addresses, QWidget* parent)
    : QDialog(parent), m_messageBox(messageBox), m_lstIP(new QListWidget(this)) {
    setObjectName(QStringLiteral("frmChooseAddress"));
    setWindowTitle(QStringLiteral("Tolvex"));
    setModal(true);

    m_lstIP->setObjectName(QStringLiteral("lstIP"));
    m_lstIP->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_lstIP->addItems(addresses);
    if (m_lstIP->count() > 0)
        m_lstIP->item(0)->setSelected(true);
    m_lstIP->setCurrentRow(0);

    auto* cmdOK = new QPushButton(QStringLiteral("确定"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    auto* cmdExit = new QPushButton(QStringLiteral("退出"), this);
    cmdExit->setObjectName(QStringLiteral("cmdExit"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdExit);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lstIP);
    layout->addLayout(buttons);
    resize(260, 200);

    connect(cmdOK, &QPushButton::clicked, this, &AddressChoiceDialog::AcceptChoice);
    connect(cmdExit, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_lstIP, &QListWidget::itemDoubleClicked, this, &AddressChoiceDialog::AcceptChoice);
}

void AddressChoiceDialog::AcceptChoice() {
    const QList<QListWidgetItem*> selected = m_lstIP->selectedItems();
    if (selected.size() != 1) {
        ShowMessage(m_messageBox, this, QStringLiteral("必须指定一个IP地址。"),
                    MessageKind::Warning, false);
        return;
    }
    m_chosen = selected.first()->text();
    accept();
}

}  // namespace tvx

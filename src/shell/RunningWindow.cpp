#include "shell/RunningWindow.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/Session.h"

namespace tvx {

RunningWindow::RunningWindow(Session& session, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmRunning"));
    setWindowTitle(QStringLiteral("Tolvex"));

    auto* lblAddress = new QLabel(QStringLiteral("Tolvex\nIP:") + session.localAddress +
                                      QStringLiteral("\nTVX:") + session.localAddressCode,
                                  this);
    lblAddress->setObjectName(QStringLiteral("lblAddress"));
    lblAddress->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* cmdExit = new QPushButton(QStringLiteral("退出(&X)"), this);
    cmdExit->setObjectName(QStringLiteral("cmdExit"));
    connect(cmdExit, &QPushButton::clicked, qApp, &QApplication::quit);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblAddress);
    layout->addWidget(cmdExit);
}

}  // namespace tvx

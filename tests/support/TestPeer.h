#pragma once

#include <QTemporaryDir>
#include <memory>

#include "address/AddressCode.h"
#include "session/Session.h"
#include "shell/MainWindow.h"
#include "support/Fakes.h"
#include "support/Loopback.h"
#include "transfer/ReceiverPage.h"

namespace tvx::test {

// One complete running copy on a loopback address: stand-in platform, its own settings,
// data and download folders, and (after Start) the main window listening on the fixed ports.
// Settings go into fake.settings->values before Start, as they would be in the store.
struct TestPeer {
    TestPeer(const QString& address, const QString& nickName)
        : fake(config.path()), session(fake.platform) {
        session.localAddress = address;
        session.localAddressCode = EncodeAddressCode(address);
        session.localAddressList = QStringList{address};
        session.presencePort = PresencePort();
        session.appFolder = data.path() + QLatin1Char('/');
        session.personalInfo.nickName = nickName;
    }

    // Loads the main window, which reads the settings and starts listening.
    bool Start() {
        mainWindow = std::make_unique<MainWindow>(session);
        mainWindow->Receiver()->SetCompletionPauseMs(0);
        return mainWindow->Start();
    }
    ReceiverPage& receiver() { return *mainWindow->Receiver(); }
    // The folder the automatic receiving writes into, with its slash.
    QString DownloadFolder() const { return downloads.path() + QLatin1Char('/'); }
    void ReceiveAutomatically(bool overwrite = false) {
        fake.settings->values[QStringLiteral("AutoRecvFile")] = QStringLiteral("1");
        fake.settings->values[QStringLiteral("AutoSavePath")] = downloads.path();
        fake.settings->values[QStringLiteral("ExistFile")] =
            overwrite ? QStringLiteral("1") : QStringLiteral("0");
    }

    QTemporaryDir config;
    QTemporaryDir data;
    QTemporaryDir downloads;
    FakePlatform fake;
    Session session;
    std::unique_ptr<MainWindow> mainWindow;
};

}  // namespace tvx::test

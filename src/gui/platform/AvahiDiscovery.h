#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include "platform/ServiceDiscovery.h"

class QDBusMessage;
class QDBusPendingCall;
class QDBusServiceWatcher;

namespace tvx {

// Service discovery through avahi-daemon's D-Bus interface on the system bus (the one that
// DBUS_SYSTEM_BUS_ADDRESS names, where set). The service is published on IPv4 under the
// nickname (the daemon's alternative name after a collision); the browser resolves each
// service it hears on IPv4 and reports it by that address. Without the daemon nothing happens
// and nothing is logged; when it appears later, what was asked for starts then.
class AvahiServiceDiscovery : public ServiceDiscovery {
    Q_OBJECT

public:
    static constexpr int kMaxItems = 256;   // services the browser follows at once
    static constexpr int kMaxRenames = 12;  // alternative names tried after collisions
    static constexpr int kResolveTimeoutMs = 10000;

    explicit AvahiServiceDiscovery(QObject* parent = nullptr);
    // Withdraws and stops browsing.
    ~AvahiServiceDiscovery() override;

    void Publish(const DnsSdRecord& self) override;
    void Withdraw() override;
    void Browse() override;
    void StopBrowsing() override;

    // The instance name the service is established under; empty while it is not.
    QString EstablishedName() const { return m_established ? m_name : QString(); }

private slots:
    void OnServerStateChanged(int state);
    void OnGroupStateChanged(int state, const QString& error, const QDBusMessage& message);
    void OnItemNew(int interface, int protocol, const QString& name, const QString& type,
                   const QString& domain, uint flags, const QDBusMessage& message);
    void OnItemRemove(int interface, int protocol, const QString& name, const QString& type,
                      const QString& domain, uint flags, const QDBusMessage& message);

private:
    // A service the browser reported; resolved once, by its interface and name.
    struct Item {
        int interface = -1;
        int protocol = 0;
        QString name;
        QString type;
        QString domain;
        quint64 serial = 0;  // tells a later item of the same key from this one
        bool resolved = false;
        DiscoveredPeer peer;
    };

    void Watch();
    void QueryState();
    void DaemonGone();
    void Register();
    void AddAndCommit();
    void Rename();
    void FreeGroup();
    void StartBrowser(bool prepare);
    bool IsOurBrowser(const QString& type, const QDBusMessage& message) const;
    void Resolve(const QString& key);
    void Resolved(const QString& key, quint64 serial, const QDBusMessage& reply);
    void LogOnce(const QString& what);
    // Runs `done` with the reply of an asynchronous call; `this` must still exist.
    template <typename Done>
    void OnReply(const QDBusPendingCall& call, Done done);

    bool m_watching = false;
    bool m_serverRunning = false;
    QDBusServiceWatcher* m_watcher = nullptr;

    // Publishing.
    bool m_publishWanted = false;
    DnsSdRecord m_record;
    QString m_baseName;  // the name asked for, before any alternative
    QString m_name;      // the name asked for now
    int m_renames = 0;
    QString m_groupPath;
    bool m_groupPending = false;
    quint64 m_groupSerial = 0;  // replies for an older group are dropped
    bool m_established = false;

    // Browsing.
    bool m_browseWanted = false;
    QString m_browserPath;
    bool m_browserPending = false;
    bool m_browserAnyPath = false;  // created without Prepare: items may come before its path
    quint64 m_browserSerial = 0;
    QHash<QString, Item> m_items;
    quint64 m_itemSerial = 0;

    QSet<QString> m_logged;
};

}  // namespace tvx

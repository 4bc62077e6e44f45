#include "platform/AvahiDiscovery.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QHostAddress>
#include <QMetaType>
#include <QtDebug>
#include <utility>

#include "address/AddressCode.h"

namespace tvx {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Avahi");
const QString kServerPath = QStringLiteral("/");
const QString kServer = QStringLiteral("org.freedesktop.Avahi.Server");
const QString kServer2 = QStringLiteral("org.freedesktop.Avahi.Server2");
const QString kEntryGroup = QStringLiteral("org.freedesktop.Avahi.EntryGroup");
const QString kServiceBrowser = QStringLiteral("org.freedesktop.Avahi.ServiceBrowser");
const QString kCollisionError = QStringLiteral("org.freedesktop.Avahi.CollisionError");

// The daemon's numbers, used here only.
constexpr int kAnyInterface = -1;
constexpr int kProtocolIpv4 = 0;
constexpr int kServerRunning = 2;
constexpr int kGroupEstablished = 2;
constexpr int kGroupCollision = 3;
constexpr int kGroupFailure = 4;
constexpr int kMaxNameBytes = 255;  // a DNS name's limit; longer ones are not the daemon's

QDBusConnection Bus() {
    return QDBusConnection::systemBus();
}

// A call that never starts the daemon by activation: a machine without it stays without it.
QDBusMessage Call(const QString& path, const QString& interface, const QString& method) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, path, interface, method);
    call.setAutoStartService(false);
    return call;
}

QString ServiceType() {
    return QString::fromLatin1(kDnsSdServiceType);
}

QString ItemKey(int interface, int protocol, const QString& name, const QString& type,
                const QString& domain) {
    return QString::number(interface) + QLatin1Char('/') + QString::number(protocol) +
           QLatin1Char('/') + type + QLatin1Char('/') + domain + QLatin1Char('/') + name;
}

// The TXT strings of a resolved service; nothing when the argument is not an array of byte
// arrays. At most one string more than a record may have is kept, so that a longer list
// still fails the parser without being held.
std::optional<QList<QByteArray>> TxtStrings(const QVariant& value) {
    if (value.metaType() != QMetaType::fromType<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("aay"))
        return std::nullopt;
    QList<QByteArray> strings;
    argument.beginArray();
    while (!argument.atEnd()) {
        QByteArray string;
        argument >> string;
        if (strings.size() <= kMaxDnsSdTxtRecords)
            strings << string.left(kMaxDnsSdTxtRecordBytes + 1);
    }
    argument.endArray();
    return strings;
}

}  // namespace

AvahiServiceDiscovery::AvahiServiceDiscovery(QObject* parent) : ServiceDiscovery(parent) {}

AvahiServiceDiscovery::~AvahiServiceDiscovery() {
    Withdraw();
    StopBrowsing();
}

template <typename Done>
void AvahiServiceDiscovery::OnReply(const QDBusPendingCall& call, Done done) {
    auto* watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [done](QDBusPendingCallWatcher* finished) {
                const QDBusMessage reply = finished->reply();
                finished->deleteLater();
                done(reply);
            });
}

void AvahiServiceDiscovery::LogOnce(const QString& what) {
    if (m_logged.contains(what) || m_logged.size() >= 16)
        return;
    m_logged.insert(what);
    qWarning("tolvex: service discovery: %s", qPrintable(what));
}

void AvahiServiceDiscovery::Watch() {
    if (m_watching)
        return;
    m_watching = true;
    QDBusConnection bus = Bus();
    if (!bus.isConnected())
        return;  // no system bus: nothing to find this way
    m_watcher =
        new QDBusServiceWatcher(kService, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                DaemonGone();
                if (!newOwner.isEmpty())
                    QueryState();
            });
    // Qt D-Bus connects remote signals by signature strings only.
    bus.connect(kService, kServerPath, kServer, QStringLiteral("StateChanged"), this,
                SLOT(OnServerStateChanged(int)));
    // Any path: a browser made without Prepare may report before its path is known. The
    // daemon sends these signals only to the client that owns the browser.
    bus.connect(kService, QString(), kServiceBrowser, QStringLiteral("ItemNew"), this,
                SLOT(OnItemNew(int, int, QString, QString, QString, uint, QDBusMessage)));
    bus.connect(kService, QString(), kServiceBrowser, QStringLiteral("ItemRemove"), this,
                SLOT(OnItemRemove(int, int, QString, QString, QString, uint, QDBusMessage)));
    bus.connect(kService, QString(), kEntryGroup, QStringLiteral("StateChanged"), this,
                SLOT(OnGroupStateChanged(int, QString, QDBusMessage)));
    QueryState();
}

void AvahiServiceDiscovery::QueryState() {
    QDBusConnection bus = Bus();
    OnReply(bus.asyncCall(Call(kServerPath, kServer, QStringLiteral("GetState"))),
            [this](const QDBusMessage& reply) {
                // An error is the daemon's absence; the watcher tells when it comes.
                if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1)
                    OnServerStateChanged(reply.arguments().constFirst().toInt());
            });
}

void AvahiServiceDiscovery::OnServerStateChanged(int state) {
    if (state == kServerRunning) {
        if (m_serverRunning)
            return;
        m_serverRunning = true;
        Register();
        if (m_browseWanted)
            StartBrowser(true);
        return;
    }
    // A host name collision or a new registration: the group is added again when the daemon
    // runs again, as its clients must.
    m_serverRunning = false;
    if (!m_groupPath.isEmpty()) {
        Bus().send(Call(m_groupPath, kEntryGroup, QStringLiteral("Reset")));
        m_established = false;
    }
}

void AvahiServiceDiscovery::DaemonGone() {
    m_serverRunning = false;
    // Its objects went with it.
    m_groupPath.clear();
    m_groupPending = false;
    m_established = false;
    ++m_groupSerial;
    m_browserPath.clear();
    m_browserPending = false;
    m_browserAnyPath = false;
    ++m_browserSerial;
    const QHash<QString, Item> items = std::exchange(m_items, {});
    QSet<QString> lost;
    for (const Item& item : items) {
        if (item.resolved)
            lost.insert(item.peer.ipv4);
    }
    for (const QString& ipv4 : lost)
        emit PeerLost(ipv4);
}

void AvahiServiceDiscovery::Publish(const DnsSdRecord& self) {
    Watch();
    const QString name = DnsSdInstanceName(self.nickName, self.addressCode);
    if (m_publishWanted && self == m_record && name == m_baseName)
        return;
    m_publishWanted = true;
    m_record = self;
    m_baseName = name;
    m_name = name;
    m_renames = 0;
    Register();
}

void AvahiServiceDiscovery::Register() {
    if (!m_serverRunning || !m_publishWanted)
        return;
    if (!m_groupPath.isEmpty()) {
        Bus().send(Call(m_groupPath, kEntryGroup, QStringLiteral("Reset")));
        AddAndCommit();
        return;
    }
    if (m_groupPending)
        return;  // the reply adds the service as it then is
    m_groupPending = true;
    const quint64 serial = ++m_groupSerial;
    OnReply(Bus().asyncCall(Call(kServerPath, kServer, QStringLiteral("EntryGroupNew"))),
            [this, serial](const QDBusMessage& reply) {
                const QString path =
                    reply.arguments().size() == 1
                        ? reply.arguments().constFirst().value<QDBusObjectPath>().path()
                        : QString();
                if (serial != m_groupSerial) {
                    if (!path.isEmpty())
                        Bus().send(Call(path, kEntryGroup, QStringLiteral("Free")));
                    return;
                }
                m_groupPending = false;
                if (reply.type() != QDBusMessage::ReplyMessage || path.isEmpty()) {
                    LogOnce(QStringLiteral("no entry group: ") + reply.errorName());
                    return;
                }
                m_groupPath = path;
                AddAndCommit();
            });
}

void AvahiServiceDiscovery::AddAndCommit() {
    m_established = false;
    QDBusArgument txt;
    txt.beginArray(QMetaType::fromType<QByteArray>());
    for (const QByteArray& string : BuildDnsSdTxt(m_record))
        txt << string;
    txt.endArray();
    QDBusMessage add = Call(m_groupPath, kEntryGroup, QStringLiteral("AddService"));
    add << kAnyInterface << kProtocolIpv4 << uint(0) << m_name << ServiceType() << QString()
        << QString() << QVariant::fromValue(ushort(m_record.ports.fileControl))
        << QVariant::fromValue(txt);
    const quint64 serial = ++m_groupSerial;  // a reply to an earlier add is out of date
    const QString path = m_groupPath;
    OnReply(Bus().asyncCall(add), [this, serial, path](const QDBusMessage& reply) {
        if (serial != m_groupSerial || path != m_groupPath)
            return;
        if (reply.type() != QDBusMessage::ReplyMessage) {
            // Another service of this machine holds the name already.
            if (reply.errorName() == kCollisionError)
                Rename();
            else
                LogOnce(QStringLiteral("cannot publish: ") + reply.errorName());
            return;
        }
        Bus().send(Call(path, kEntryGroup, QStringLiteral("Commit")));
    });
}

void AvahiServiceDiscovery::Rename() {
    if (++m_renames > kMaxRenames) {
        LogOnce(QStringLiteral("no free service name"));
        return;
    }
    QDBusMessage ask = Call(kServerPath, kServer, QStringLiteral("GetAlternativeServiceName"));
    ask << m_name;
    const quint64 serial = m_groupSerial;
    OnReply(Bus().asyncCall(ask), [this, serial](const QDBusMessage& reply) {
        if (serial != m_groupSerial || m_groupPath.isEmpty() || !m_publishWanted)
            return;
        const QString name =
            reply.arguments().size() == 1 ? reply.arguments().constFirst().toString() : QString();
        if (name.isEmpty() || name.toUtf8().size() > kMaxDnsSdInstanceNameBytes) {
            LogOnce(QStringLiteral("no alternative service name"));
            return;
        }
        m_name = name;
        Bus().send(Call(m_groupPath, kEntryGroup, QStringLiteral("Reset")));
        AddAndCommit();
    });
}

void AvahiServiceDiscovery::OnGroupStateChanged(int state, const QString& error,
                                                const QDBusMessage& message) {
    if (m_groupPath.isEmpty() || message.path() != m_groupPath)
        return;
    switch (state) {
        case kGroupEstablished:
            m_established = true;
            break;
        case kGroupCollision:
            // Another machine took the name first.
            m_established = false;
            Rename();
            break;
        case kGroupFailure:
            m_established = false;
            LogOnce(QStringLiteral("publishing failed: ") + error.left(kMaxNameBytes));
            break;
        default:
            break;
    }
}

void AvahiServiceDiscovery::FreeGroup() {
    ++m_groupSerial;
    m_groupPending = false;
    m_established = false;
    if (!m_groupPath.isEmpty())
        Bus().send(Call(m_groupPath, kEntryGroup, QStringLiteral("Free")));
    m_groupPath.clear();
}

void AvahiServiceDiscovery::Withdraw() {
    m_publishWanted = false;
    FreeGroup();
}

void AvahiServiceDiscovery::Browse() {
    Watch();
    m_browseWanted = true;
    if (m_serverRunning)
        StartBrowser(true);
}

void AvahiServiceDiscovery::StartBrowser(bool prepare) {
    if (!m_browserPath.isEmpty() || (m_browserPending && prepare))
        return;
    m_browserPending = true;
    m_browserAnyPath = !prepare;
    const quint64 serial = ++m_browserSerial;
    // Prepare makes the browser without starting it, so that no item comes before its path
    // is known; daemons older than that only have ServiceBrowserNew.
    QDBusMessage make = prepare
                            ? Call(kServerPath, kServer2, QStringLiteral("ServiceBrowserPrepare"))
                            : Call(kServerPath, kServer, QStringLiteral("ServiceBrowserNew"));
    make << kAnyInterface << kProtocolIpv4 << ServiceType() << QString() << uint(0);
    OnReply(Bus().asyncCall(make), [this, serial, prepare](const QDBusMessage& reply) {
        const QString path = reply.arguments().size() == 1
                                 ? reply.arguments().constFirst().value<QDBusObjectPath>().path()
                                 : QString();
        if (serial != m_browserSerial) {
            if (!path.isEmpty())
                Bus().send(Call(path, kServiceBrowser, QStringLiteral("Free")));
            return;
        }
        m_browserPending = false;
        m_browserAnyPath = false;
        if (reply.type() != QDBusMessage::ReplyMessage || path.isEmpty()) {
            const QString error = reply.errorName();
            if (prepare && (error == QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod") ||
                            error == QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface")))
                StartBrowser(false);
            else
                LogOnce(QStringLiteral("cannot browse: ") + error);
            return;
        }
        m_browserPath = path;
        if (prepare)
            Bus().send(Call(path, kServiceBrowser, QStringLiteral("Start")));
    });
}

void AvahiServiceDiscovery::StopBrowsing() {
    m_browseWanted = false;
    ++m_browserSerial;
    m_browserPending = false;
    m_browserAnyPath = false;
    if (!m_browserPath.isEmpty())
        Bus().send(Call(m_browserPath, kServiceBrowser, QStringLiteral("Free")));
    m_browserPath.clear();
    m_items.clear();
}

bool AvahiServiceDiscovery::IsOurBrowser(const QString& type, const QDBusMessage& message) const {
    if (!m_browseWanted || type != ServiceType())
        return false;
    if (!m_browserPath.isEmpty())
        return message.path() == m_browserPath;
    return m_browserPending && m_browserAnyPath;
}

void AvahiServiceDiscovery::OnItemNew(int interface, int protocol, const QString& name,
                                      const QString& type, const QString& domain, uint,
                                      const QDBusMessage& message) {
    if (!IsOurBrowser(type, message) || protocol != kProtocolIpv4 || name.isEmpty() ||
        name.size() > kMaxNameBytes || domain.isEmpty() || domain.size() > kMaxNameBytes)
        return;
    const QString key = ItemKey(interface, protocol, name, type, domain);
    if (m_items.contains(key) || m_items.size() >= kMaxItems)
        return;  // known, or full: those followed already keep their places
    Item item;
    item.interface = interface;
    item.protocol = protocol;
    item.name = name;
    item.type = type;
    item.domain = domain;
    item.serial = ++m_itemSerial;
    m_items.insert(key, item);
    Resolve(key);
}

void AvahiServiceDiscovery::Resolve(const QString& key) {
    const Item& item = m_items[key];
    QDBusMessage resolve = Call(kServerPath, kServer, QStringLiteral("ResolveService"));
    resolve << item.interface << item.protocol << item.name << item.type << item.domain
            << kProtocolIpv4 << uint(0);
    const quint64 serial = item.serial;
    OnReply(Bus().asyncCall(resolve, kResolveTimeoutMs),
            [this, key, serial](const QDBusMessage& reply) { Resolved(key, serial, reply); });
}

void AvahiServiceDiscovery::Resolved(const QString& key, quint64 serial,
                                     const QDBusMessage& reply) {
    const auto found = m_items.find(key);
    if (found == m_items.end() || found->serial != serial)
        return;
    // A service that does not resolve (gone, or not answering) stays unlisted.
    const QList<QVariant> values = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || values.size() != 11)
        return;
    // interface, protocol, name, type, domain, host, aprotocol, address, port, txt, flags
    if (values[6].toInt() != kProtocolIpv4 || values[8].metaType() != QMetaType::fromType<ushort>())
        return;
    QHostAddress address;
    const QString text = values[7].toString();
    if (text.size() > 15 || !address.setAddress(text) ||
        address.protocol() != QAbstractSocket::IPv4Protocol)
        return;
    const quint16 port = values[8].value<ushort>();
    const std::optional<QList<QByteArray>> strings = TxtStrings(values[9]);
    if (!strings)
        return;
    const std::optional<DnsSdRecord> record = ParseDnsSdTxt(*strings);
    // The service's port is the file port its records name, or the records are not its own.
    if (!record || record->ports.fileControl != port || port == 0)
        return;
    const QString ipv4 = QHostAddress(address.toIPv4Address()).toString();
    // Our own service, heard back.
    if (m_publishWanted && ipv4 == DecodeAddressCode(m_record.addressCode) &&
        port == m_record.ports.fileControl)
        return;
    found->resolved = true;
    found->peer = DiscoveredPeer{ipv4, *record};
    emit PeerFound(found->peer);
}

void AvahiServiceDiscovery::OnItemRemove(int interface, int protocol, const QString& name,
                                         const QString& type, const QString& domain, uint,
                                         const QDBusMessage& message) {
    if (!IsOurBrowser(type, message))
        return;
    const auto found = m_items.find(ItemKey(interface, protocol, name, type, domain));
    if (found == m_items.end())
        return;
    const Item item = *found;
    m_items.erase(found);
    if (!item.resolved)
        return;
    // The same copy may still be heard on another interface or under another name.
    for (const Item& other : std::as_const(m_items)) {
        if (other.resolved && other.peer.ipv4 == item.peer.ipv4) {
            if (other.peer.record != item.peer.record)
                emit PeerFound(other.peer);
            return;
        }
    }
    emit PeerLost(item.peer.ipv4);
}

}  // namespace tvx

// The tray menu as a StatusNotifierItem host reads it over D-Bus (com.canonical.dbusmenu).
#include "e2e/TrayHost.h"
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <optional>

namespace corvane::e2e {

namespace {

// The entries under a menu node, as exportedMenu() lists them.
void readEntries(const QDBusArgument& arg, QStringList& out, bool root, QList<int>* ids = nullptr) {
    int id = 0;
    QVariantMap props;
    arg.beginStructure();
    arg >> id >> props;
    if (!root) {
        if (ids)
            ids->append(id);
        if (props.value(QStringLiteral("type")).toString() == QLatin1String("separator"))
            out << QStringLiteral("-");
        else
            out << QStringLiteral("%1|%2|%3")
                       .arg(props.value(QStringLiteral("label")).toString())
                       .arg(props.value(QStringLiteral("visible"), true).toBool())
                       .arg(props.value(QStringLiteral("enabled"), true).toBool());
    }
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        if (root)
            readEntries(child.variant().value<QDBusArgument>(), out, false, ids);
    }
    arg.endArray();
    arg.endStructure();
}

struct MenuAddress {
    QString service;
    QString path;
};

// Where the first registered item exports its menu.
std::optional<MenuAddress> menuAddress(const TestWatcher& watcher) {
    if (watcher.items().isEmpty())
        return std::nullopt;
    QString service = watcher.items().first();
    QString itemPath = QStringLiteral("/StatusNotifierItem");
    if (const qsizetype slash = service.indexOf(QLatin1Char('/')); slash > 0) {
        itemPath = service.mid(slash);
        service = service.left(slash);
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage get = QDBusMessage::createMethodCall(service, itemPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get.setArguments({QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Menu")});
    const QDBusMessage menuPath = bus.call(get, QDBus::Block, 3000);
    if (menuPath.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return MenuAddress{service,
                       menuPath.arguments().value(0).value<QDBusVariant>().variant().value<QDBusObjectPath>().path()};
}

} // namespace

QStringList exportedMenu(const TestWatcher& watcher, QList<int>* ids) {
    const auto address = menuAddress(watcher);
    if (!address)
        return {};
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage layout = QDBusMessage::createMethodCall(address->service, address->path,
                                                         QStringLiteral("com.canonical.dbusmenu"),
                                                         QStringLiteral("GetLayout"));
    layout.setArguments({0, -1, QStringList()});
    const QDBusMessage reply = bus.call(layout, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
        return {};
    QStringList out;
    readEntries(reply.arguments().at(1).value<QDBusArgument>(), out, true, ids);
    return out;
}

bool clickExportedEntry(const TestWatcher& watcher, const QString& title) {
    QList<int> ids;
    const QStringList entries = exportedMenu(watcher, &ids);
    const auto address = menuAddress(watcher);
    for (int i = 0; i < entries.size() && address; ++i) {
        if (entries[i].section(QLatin1Char('|'), 0, 0) != title)
            continue;
        QDBusMessage event = QDBusMessage::createMethodCall(address->service, address->path,
                                                            QStringLiteral("com.canonical.dbusmenu"),
                                                            QStringLiteral("Event"));
        event.setArguments({ids[i], QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(QString())), 0u});
        return QDBusConnection::sessionBus().call(event, QDBus::Block, 3000).type() == QDBusMessage::ReplyMessage;
    }
    return false;
}

} // namespace corvane::e2e

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

// A call that waits at most 3 s for its answer: its arguments, none on an error or no answer.
std::optional<QList<QVariant>> call(const QString& service, const QString& path, const QString& interface, const QString& method,
                     const QList<QVariant>& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(message, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return reply.arguments();
}

// Where the first registered item exports its menu.
std::optional<MenuAddress> menuAddress(const TestWatcher& watcher) {
    if (watcher.items().isEmpty())
        return std::nullopt;
    const QString item = watcher.items().first(); // "service" or "service/path"
    const qsizetype slash = item.indexOf(QLatin1Char('/'));
    const QString service = slash > 0 ? item.left(slash) : item;
    const auto menu = call(service, slash > 0 ? item.mid(slash) : QStringLiteral("/StatusNotifierItem"),
                                      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                      {QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Menu")});
    if (!menu || menu->isEmpty())
        return std::nullopt;
    return MenuAddress{service, menu->first().value<QDBusVariant>().variant().value<QDBusObjectPath>().path()};
}

} // namespace

QStringList exportedMenu(const TestWatcher& watcher, QList<int>* ids) {
    const auto address = menuAddress(watcher);
    const auto layout = address ? call(address->service, address->path, QStringLiteral("com.canonical.dbusmenu"),
                                       QStringLiteral("GetLayout"), {0, -1, QStringList()})
                                : std::nullopt;
    QStringList out;
    if (layout && layout->size() >= 2)
        readEntries(layout->at(1).value<QDBusArgument>(), out, true, ids);
    return out;
}

bool clickExportedEntry(const TestWatcher& watcher, const QString& title) {
    QList<int> ids;
    const QStringList entries = exportedMenu(watcher, &ids);
    const auto address = menuAddress(watcher);
    for (int i = 0; i < entries.size() && address; ++i)
        if (entries[i].section(QLatin1Char('|'), 0, 0) == title)
            return call(address->service, address->path, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"),
                        {ids[i], QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(QString())), 0u})
                .has_value();
    return false;
}

} // namespace corvane::e2e

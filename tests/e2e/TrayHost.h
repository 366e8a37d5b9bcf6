#pragma once
// A tray host on the session bus, as on a KDE or AppIndicator desktop: tray items register with the
// watcher, and the notification server records the tray messages they show.
#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace corvane::e2e {

// A test-side StatusNotifierWatcher with a host: tray items register here, as on a KDE or
// AppIndicator desktop.
class TestWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    bool publish() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        return bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                  QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                                      QDBusConnection::ExportAllSignals) &&
               bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }
    ~TestWatcher() override {
        QDBusConnection::sessionBus().unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        QDBusConnection::sessionBus().unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
    }
    QStringList items() const { return m_items; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) {
        m_items << service;
        Q_EMIT StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString&) {}

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    QStringList m_items;
};

// A notification server: tray messages of StatusNotifier items arrive here.
class TestNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Message {
        QString title;
        QString body;
    };
    bool publish() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                  QDBusConnection::ExportAllSlots) &&
               bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~TestNotifications() override {
        QDBusConnection::sessionBus().unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        QDBusConnection::sessionBus().unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }
    const QList<Message>& messages() const { return m_messages; }

public Q_SLOTS:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body, const QStringList&,
                const QVariantMap&, int) {
        m_messages.append({summary, body});
        return uint(m_messages.size());
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    void CloseNotification(uint) {}

private:
    QList<Message> m_messages;
};

// The menu layout that the first registered item exports: "title|visible|enabled" per entry,
// separators as "-"; their ids, when asked, in the same order. Empty while there is none.
QStringList exportedMenu(const TestWatcher& watcher, QList<int>* ids = nullptr);
// Chooses the entry with this title, as a tray host does when the user clicks it.
bool clickExportedEntry(const TestWatcher& watcher, const QString& title);

} // namespace corvane::e2e

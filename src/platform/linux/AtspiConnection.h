#pragma once
// The connection to the accessibility (AT-SPI) bus, spoken to directly through QtDBus.
//
// Why QtDBus rather than libatspi: the library aborts the whole process when its bus is missing
// or stale, and its synchronous calls stop our event loop. Here the bus is located through
// org.a11y.Bus first, every call carries its own timeout, and while a call waits the event loop
// keeps running (user input excluded), so we keep serving the clipboard to an app that is
// reading it from us and cannot answer before it has the data.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QList>
#include <QString>
#include <optional>

namespace corvane::platform::linux_ {

class AtspiConnection {
public:
    explicit AtspiConnection(int callTimeoutMs = 500);
    ~AtspiConnection();
    AtspiConnection(const AtspiConnection&) = delete;
    AtspiConnection& operator=(const AtspiConnection&) = delete;

    // Connects on first use and again after the bus went away, asking the session bus for the
    // address anew (a restarted bus may live elsewhere). False (with lastError()) when the session
    // bus has no accessibility bus or its address does not accept a connection.
    bool ensureConnected();
    // True while the connection is gone: the bus closed it (it stopped or was restarted). A failed
    // call is what usually shows it; the next ensureConnected() connects again.
    bool connectionLost() const;
    QString lastError() const { return m_lastError; }

    // One method call on the accessibility bus, bounded by timeoutMs (default: the call timeout).
    // A failure or time-out comes back as an error message, never as an exception or a hang. Once
    // the connection is lost every call fails until ensureConnected() makes a new one.
    QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                      const QString& method, const QVariantList& args = {}, int timeoutMs = -1);
    // Several calls sent at once and answered in one round trip (the application answers them
    // in order); one answer per call, a failure as an error message. Bounded like call().
    QList<QDBusMessage> callAll(const QList<QDBusMessage>& calls, int timeoutMs = -1);
    // org.freedesktop.DBus.Properties.Get, unwrapped; nothing on any failure.
    std::optional<QVariant> property(const QString& service, const QString& path, const QString& interface,
                                     const QString& name, int timeoutMs = -1);

    int callTimeoutMs() const { return m_callTimeoutMs; }
    // The Qt name of the connection, and a count that rises at every successful (re)connection:
    // signal subscriptions and registrations made on an older one are gone.
    QString connectionName() const { return m_name; }
    quint64 generation() const { return m_generation; }

    // The accessibility bus address: $AT_SPI_BUS_ADDRESS, else what the session bus hands out,
    // else nothing (reason in error).
    static std::optional<QString> locateBus(int timeoutMs, QString* error);
    // Sends a message on the given connection and waits for the answer for at most timeoutMs,
    // keeping the event loop running (without user input) while it waits.
    static QDBusMessage callServing(const QDBusConnection& connection, const QDBusMessage& message, int timeoutMs);
    // The answer to a call already sent (several may be in flight at once), waited for the same way.
    static QDBusMessage answerServing(QDBusPendingCall pending, const QDBusMessage& message, int timeoutMs);

private:
    // Marks the connection lost when a failed answer shows it gone.
    void noteAnswer(const QDBusMessage& reply);

    int m_callTimeoutMs;
    QString m_name;
    QString m_address;
    bool m_open = false;
    bool m_lost = false; // a call failed because the connection is gone
    quint64 m_generation = 0;
    QString m_lastError;
};

} // namespace corvane::platform::linux_

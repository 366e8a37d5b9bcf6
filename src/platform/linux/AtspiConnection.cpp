#include "platform/linux/AtspiConnection.h"
#include "platform/linux/AtspiNames.h"
#include <QCoreApplication>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QTimer>
#include <atomic>

namespace corvane::platform::linux_ {

namespace {
std::atomic<int> g_connectionSerial{0};
const auto kBusService = QStringLiteral("org.a11y.Bus");
const auto kBusPath = QStringLiteral("/org/a11y/bus");
} // namespace

AtspiConnection::AtspiConnection(int callTimeoutMs)
    : m_callTimeoutMs(callTimeoutMs),
      m_name(QStringLiteral("corvane-atspi-%1").arg(g_connectionSerial.fetch_add(1))) {}

AtspiConnection::~AtspiConnection() {
    // After the application object is gone, so is the D-Bus machinery: nothing left to close.
    if (m_open && QCoreApplication::instance())
        QDBusConnection::disconnectFromBus(m_name);
}

QDBusMessage AtspiConnection::callServing(const QDBusConnection& connection, const QDBusMessage& message,
                                          int timeoutMs) {
    return answerServing(connection.asyncCall(message, timeoutMs), message, timeoutMs);
}

QDBusMessage AtspiConnection::answerServing(QDBusPendingCall pending, const QDBusMessage& message, int timeoutMs) {
    if (!pending.isFinished()) {
        QDBusPendingCallWatcher watcher(pending);
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        // The bus enforces timeoutMs; this guard only covers a reply that never gets delivered.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(timeoutMs + 250);
        if (!watcher.isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        if (!watcher.isFinished())
            return message.createErrorReply(QDBusError::Timeout, QStringLiteral("no answer in time"));
    }
    return pending.reply();
}

std::optional<QString> AtspiConnection::locateBus(int timeoutMs, QString* error) {
    // An explicit address wins, as for every AT-SPI client.
    const QString forced = qEnvironmentVariable("AT_SPI_BUS_ADDRESS");
    if (!forced.isEmpty())
        return forced;
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected()) {
        if (error)
            *error = QStringLiteral("no D-Bus session bus");
        return std::nullopt;
    }
    auto msg = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, QStringLiteral("GetAddress"));
    QDBusMessage reply = callServing(session, msg, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        if (error)
            *error = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        return std::nullopt;
    }
    const QString address = reply.arguments().constFirst().toString();
    if (address.isEmpty()) {
        if (error)
            *error = QStringLiteral("the accessibility bus has no address");
        return std::nullopt;
    }
    return address;
}

bool AtspiConnection::connectionLost() const {
    return m_open && (m_lost || !QDBusConnection(m_name).isConnected());
}

bool AtspiConnection::ensureConnected() {
    if (m_open && !connectionLost())
        return true;
    if (m_open) {
        QDBusConnection::disconnectFromBus(m_name);
        m_open = false;
    }
    QString error;
    auto address = locateBus(m_callTimeoutMs * 2, &error);
    if (!address) {
        m_lastError = error;
        return false;
    }
    QDBusConnection conn = QDBusConnection::connectToBus(*address, m_name);
    m_open = true;
    if (!conn.isConnected()) {
        m_lastError = conn.lastError().message().isEmpty() ? QStringLiteral("the accessibility bus refused the connection")
                                                           : conn.lastError().message();
        QDBusConnection::disconnectFromBus(m_name);
        m_open = false;
        return false;
    }
    m_address = *address;
    m_lost = false;
    m_lastError.clear();
    ++m_generation;
    return true;
}

QDBusMessage AtspiConnection::call(const QString& service, const QString& path, const QString& interface,
                                   const QString& method, const QVariantList& args, int timeoutMs) {
    return callAll({atspi::methodCall(service, path, interface, method, args)}, timeoutMs).constFirst();
}

void AtspiConnection::noteAnswer(const QDBusMessage& reply) {
    // An application that quits or hangs fails its own calls; a bus that went away fails them all.
    if (reply.type() == QDBusMessage::ErrorMessage &&
        (reply.errorName() == QDBusError::errorString(QDBusError::Disconnected) ||
         !QDBusConnection(m_name).isConnected()))
        m_lost = true;
}

QList<QDBusMessage> AtspiConnection::callAll(const QList<QDBusMessage>& calls, int timeoutMs) {
    QList<QDBusMessage> replies;
    replies.reserve(calls.size());
    // A lost connection is made again only between operations (ensureConnected()), never in the
    // middle of one: the names it still holds would reach other applications on a new bus.
    const bool lost = connectionLost();
    if (lost || !ensureConnected()) {
        const QString why = lost ? QStringLiteral("the accessibility bus went away") : m_lastError;
        for (const QDBusMessage& msg : calls)
            replies.append(msg.createErrorReply(QDBusError::Disconnected, why));
        return replies;
    }
    const int timeout = timeoutMs < 0 ? m_callTimeoutMs : timeoutMs;
    QDBusConnection conn(m_name);
    QList<QDBusPendingCall> pending;
    pending.reserve(calls.size());
    for (const QDBusMessage& msg : calls)
        pending.append(conn.asyncCall(msg, timeout));
    // All of them left before the first answer is awaited: they time out together.
    for (qsizetype i = 0; i < calls.size(); ++i) {
        replies.append(answerServing(pending.at(i), calls.at(i), timeout));
        noteAnswer(replies.last());
    }
    return replies;
}

std::optional<QVariant> AtspiConnection::property(const QString& service, const QString& path,
                                                  const QString& interface, const QString& name, int timeoutMs) {
    return atspi::propertyFrom(callAll({atspi::propertyCall(service, path, interface, name)}, timeoutMs).constFirst());
}

} // namespace corvane::platform::linux_

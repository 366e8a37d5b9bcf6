#include "app/SingleInstance.h"
#include "stores/DiagLog.h"
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace corvane::app {

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::Claim SingleInstance::claim() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return Claim::NoBus;
    const QString name = QString::fromLatin1(serviceName);
    // The object first, so that a start racing with this one finds it as soon as the name is ours.
    bus.registerObject(QString::fromLatin1(objectPath), this, QDBusConnection::ExportScriptableSlots);
    const auto reply = bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                                        QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return Claim::Owned;
    bus.unregisterObject(QString::fromLatin1(objectPath));
    if (!reply.isValid())
        return Claim::NoBus;
    QDBusMessage call = QDBusMessage::createMethodCall(name, QString::fromLatin1(objectPath),
                                                       QString::fromLatin1(serviceName), QStringLiteral("ShowSettings"));
    const QDBusMessage answer = bus.call(call, QDBus::Block, 5000);
    if (answer.type() == QDBusMessage::ErrorMessage)
        stores::DiagLog::event(QStringLiteral("Second start: the running instance did not answer: ") +
                               answer.errorMessage());
    return Claim::RunningElsewhere;
}

void SingleInstance::setShowSettingsHandler(std::function<void()> handler) {
    m_handler = std::move(handler);
    if (m_pending && m_handler) {
        m_pending = false;
        m_handler();
    }
}

void SingleInstance::ShowSettings() {
    stores::DiagLog::event(QStringLiteral("Second start asked for the settings window"));
    if (m_handler)
        m_handler();
    else
        m_pending = true;
}

} // namespace corvane::app

#pragma once
// Names of the accessibility bus's interfaces and objects, and small builders of its calls and
// readers of its answers, shared by the files of the AT-SPI backend.
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QString>
#include <QVariant>
#include <optional>
#include <utility>

namespace corvane::platform::linux_::atspi {

inline const QString kRegistry = QStringLiteral("org.a11y.atspi.Registry");
inline const QString kRootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
inline const QString kNullPath = QStringLiteral("/org/a11y/atspi/null");
inline const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
inline const QString kApplication = QStringLiteral("org.a11y.atspi.Application");
inline const QString kText = QStringLiteral("org.a11y.atspi.Text");
inline const QString kEditableText = QStringLiteral("org.a11y.atspi.EditableText");
inline const QString kHypertext = QStringLiteral("org.a11y.atspi.Hypertext");
inline const QString kHyperlink = QStringLiteral("org.a11y.atspi.Hyperlink");
inline const QString kValue = QStringLiteral("org.a11y.atspi.Value");
inline const QString kComponent = QStringLiteral("org.a11y.atspi.Component");
inline const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr uint kCoordTypeScreen = 0;
constexpr uint kCoordTypeWindow = 1;

inline bool isReply(const QDBusMessage& m) { return m.type() == QDBusMessage::ReplyMessage; }

inline QDBusMessage methodCall(const QString& service, const QString& path, const QString& iface,
                               const QString& method, const QVariantList& args = {}) {
    auto m = QDBusMessage::createMethodCall(service, path, iface, method);
    m.setArguments(args);
    return m;
}

// A property's value is asked for through org.freedesktop.DBus.Properties.Get.
inline QDBusMessage propertyCall(const QString& service, const QString& path, const QString& iface,
                                 const QString& name) {
    return methodCall(service, path, kProperties, QStringLiteral("Get"), {iface, name});
}

// The first value of an answer as text, and a property's value unwrapped; nothing for an error or
// an empty reply.
inline std::optional<QString> stringFrom(const QDBusMessage& reply) {
    if (!isReply(reply) || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().constFirst().toString();
}

inline std::optional<QVariant> propertyFrom(const QDBusMessage& reply) {
    if (!isReply(reply) || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

// One object reference ("(so)") read from arg; nothing for the null object.
inline std::optional<std::pair<QString, QString>> objectIn(const QDBusArgument& arg) {
    QString service;
    QDBusObjectPath path;
    arg.beginStructure();
    arg >> service >> path;
    arg.endStructure();
    if (service.isEmpty() || path.path().isEmpty() || path.path() == kNullPath)
        return std::nullopt;
    return std::make_pair(service, path.path());
}

// An object reference answered by the bus; nothing for an error or the null object.
inline std::optional<std::pair<QString, QString>> objectFrom(const QDBusMessage& reply) {
    if (!isReply(reply) || reply.arguments().isEmpty())
        return std::nullopt;
    const auto arg = reply.arguments().constFirst().value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String("(so)"))
        return std::nullopt;
    return objectIn(arg);
}

} // namespace corvane::platform::linux_::atspi

#pragma once
// Names of the accessibility bus's interfaces and objects, and small readers of its answers, shared
// by the files of the AT-SPI backend.
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QString>
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

// An object reference ("(so)") answered by the bus; nothing for an error or the null object.
inline std::optional<std::pair<QString, QString>> objectFrom(const QDBusMessage& reply) {
    if (!isReply(reply) || reply.arguments().isEmpty())
        return std::nullopt;
    const auto arg = reply.arguments().constFirst().value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String("(so)"))
        return std::nullopt;
    QString service;
    QDBusObjectPath path;
    arg.beginStructure();
    arg >> service >> path;
    arg.endStructure();
    if (service.isEmpty() || path.path().isEmpty() || path.path() == kNullPath)
        return std::nullopt;
    return std::make_pair(service, path.path());
}

} // namespace corvane::platform::linux_::atspi

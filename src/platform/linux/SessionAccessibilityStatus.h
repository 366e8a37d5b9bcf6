#pragma once
// The session's accessibility facts: the X display and its extensions, and the accessibility
// bus with its "IsEnabled" switch (org.a11y.Status on org.a11y.Bus).
#include "platform/AccessibilityStatus.h"
#include "platform/linux/AtspiConnection.h"
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QDBusServiceWatcher;

namespace corvane::platform::linux_ {

class SessionAccessibilityStatus final : public AccessibilityStatus {
    Q_OBJECT
public:
    explicit SessionAccessibilityStatus(QObject* parent = nullptr);
    // Probes the accessibility bus through bus (which must outlive this) instead of a connection of its own.
    explicit SessionAccessibilityStatus(AtspiConnection& bus, QObject* parent = nullptr);
    ~SessionAccessibilityStatus() override;

    AccessibilityFacts facts() override;
    bool enable() override;
    bool openSettings() override;

    // The accessibility settings command for the desktops named in XDG_CURRENT_DESKTOP
    // (colon-separated), among the programs that exists() finds; nothing when none is known.
    static std::optional<QStringList> settingsCommand(const QString& currentDesktop,
                                                      const std::function<bool(const QString&)>& exists);

private Q_SLOTS:
    void onPropertiesChanged(const QString& interface, const QVariantMap& values, const QStringList& invalidated);

private:
    struct XFacts {
        bool display = false;
        bool xinput2 = false;
        bool xtest = false;
    };
    static XFacts probeX();

    std::optional<XFacts> m_x;
    std::unique_ptr<AtspiConnection> m_ownBus;
    AtspiConnection* m_bus;
    QDBusServiceWatcher* m_watcher = nullptr;
};

} // namespace corvane::platform::linux_

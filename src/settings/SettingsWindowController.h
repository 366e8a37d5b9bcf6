#pragma once
// The settings window's owner: the window is built on the first show() and reused; every show()
// brings it to the front, a minimised one included.
#include "settings/SettingsDependencies.h"
#include "settings/SettingsView.h"
#include <QObject>
#include <QPointer>

namespace corvane::settings {

class SettingsWindowController final : public QObject {
    Q_OBJECT
public:
    explicit SettingsWindowController(SettingsDependencies deps, QObject* parent = nullptr);
    ~SettingsWindowController() override;
    static SettingsWindowController& shared();
    static void setShared(SettingsWindowController* controller);

    void show();
    // The window, once show() has built it.
    SettingsView* view() const { return m_view; }

private:
    SettingsDependencies m_deps;
    QPointer<SettingsView> m_view;
};

} // namespace corvane::settings

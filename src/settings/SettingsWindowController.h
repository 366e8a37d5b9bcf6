#pragma once
// The settings window's owner: the window is built on the first show() and reused; every show()
// raises and activates it.
#include <QObject>

namespace corvane::settings {

class SettingsWindowController final : public QObject {
    Q_OBJECT
public:
    explicit SettingsWindowController(QObject* parent = nullptr);
    ~SettingsWindowController() override;
    static SettingsWindowController& shared();
    static void setShared(SettingsWindowController* controller);

    void show();
};

} // namespace corvane::settings

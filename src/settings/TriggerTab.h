#pragma once
// The Trigger tab: the space taps (count, interval, cooldown, minimum text) and the global shortcut
// with the sentence of a combination that could not be taken.
#include "settings/SettingsDependencies.h"
#include <QWidget>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QSpinBox;

namespace corvane::settings {

class HotkeyRecorder;

class TriggerTab final : public QWidget {
    Q_OBJECT
public:
    explicit TriggerTab(SettingsDependencies& deps, QWidget* parent = nullptr);
    void reload();
    HotkeyRecorder* recorder() const { return m_recorder; }

private:
    void showHotkeyError();

    SettingsDependencies& m_deps;
    QSpinBox* m_taps;
    QSpinBox* m_interval;
    QDoubleSpinBox* m_cooldown;
    QSpinBox* m_minLength;
    QCheckBox* m_hotkeyEnabled;
    HotkeyRecorder* m_recorder;
    QLabel* m_hotkeyError;
    bool m_loading = false;
};

} // namespace corvane::settings

#include "settings/TriggerTab.h"
#include "panel/CVDesign.h"
#include "settings/HotkeyRecorder.h"
#include "settings/SettingsForm.h"
#include "stores/SettingsStore.h"
#include "trigger/HotkeyCenter.h"
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace corvane::settings {

using panel::CVDesign;

TriggerTab::TriggerTab(SettingsDependencies& deps, QWidget* parent) : QWidget(parent), m_deps(deps) {
    const Page page = makePage(this);

    const Card taps = addCard(page.column, tr("Space taps"));
    m_taps = new QSpinBox;
    m_taps->setObjectName(QStringLiteral("tapCountField"));
    m_taps->setRange(2, 5);
    m_taps->setSuffix(tr(" taps"));
    taps.form->addRow(tr("Trigger after"), leftAligned({m_taps}));
    // The note about the tap count stands right under its control.
    auto* tapNote = makeNote(QStringLiteral("tapNote"));
    setNote(tapNote, tr("Tap the space bar this many times in any text field to rewrite its text."), false);
    taps.form->addRow(static_cast<QWidget*>(nullptr), tapNote);
    m_interval = new QSpinBox;
    m_interval->setObjectName(QStringLiteral("tapIntervalField"));
    m_interval->setRange(100, 2000);
    m_interval->setSingleStep(50);
    m_interval->setSuffix(tr(" ms"));
    taps.form->addRow(tr("Within"), leftAligned({m_interval}));
    m_cooldown = new QDoubleSpinBox;
    m_cooldown->setObjectName(QStringLiteral("cooldownField"));
    m_cooldown->setRange(0, 60);
    m_cooldown->setDecimals(1);
    m_cooldown->setSingleStep(0.5);
    m_cooldown->setSuffix(tr(" s"));
    taps.form->addRow(tr("Cooldown"), leftAligned({m_cooldown}));
    m_minLength = new QSpinBox;
    m_minLength->setObjectName(QStringLiteral("minTextLengthField"));
    m_minLength->setRange(0, 10000);
    m_minLength->setSuffix(tr(" characters"));
    for (QAbstractSpinBox* box : std::initializer_list<QAbstractSpinBox*>{m_taps, m_interval, m_cooldown, m_minLength})
        box->setMinimumWidth(150);
    taps.form->addRow(tr("Minimum text"), leftAligned({m_minLength}));

    const Card shortcut = addCard(page.column, tr("Global shortcut"));
    m_hotkeyEnabled = new QCheckBox(tr("Rewrite the focused field with a shortcut"));
    m_hotkeyEnabled->setObjectName(QStringLiteral("hotkeyEnabledSwitch"));
    shortcut.form->addRow(m_hotkeyEnabled);
    m_recorder = new HotkeyRecorder(m_deps.hotkeys, m_deps.layout);
    m_recorder->setObjectName(QStringLiteral("hotkeyRecorder"));
    shortcut.form->addRow(tr("Shortcut"), leftAligned({m_recorder}));
    m_hotkeyError = makeNote(QStringLiteral("hotkeyError"));
    shortcut.form->addRow(static_cast<QWidget*>(nullptr), m_hotkeyError);
    page.column->addStretch(1);

    connect(m_taps, &QSpinBox::valueChanged, this, [this](int n) {
        if (!m_loading)
            m_deps.settings.setTriggerSpaceCount(n);
    });
    connect(m_interval, &QSpinBox::valueChanged, this, [this](int ms) {
        if (!m_loading)
            m_deps.settings.setTriggerIntervalMs(ms);
    });
    connect(m_cooldown, &QDoubleSpinBox::valueChanged, this, [this](double s) {
        if (!m_loading)
            m_deps.settings.setCooldownSeconds(s);
    });
    connect(m_minLength, &QSpinBox::valueChanged, this, [this](int n) {
        if (!m_loading)
            m_deps.settings.setMinTextLength(n);
    });
    connect(m_hotkeyEnabled, &QCheckBox::toggled, this, [this](bool on) {
        if (m_loading)
            return;
        m_deps.settings.setHotkeyEnabled(on);
        m_recorder->setEnabled(on);
    });
    connect(m_recorder, &HotkeyRecorder::recorded, this, [this](Shortcut shortcut) {
        setNote(m_hotkeyError, QString(), false);
        m_deps.settings.setHotkeyModifiers(shortcut.modifiers);
        m_deps.settings.setHotkeyKeyCode(shortcut.keyCode);
    });
    connect(m_recorder, &HotkeyRecorder::refused, this,
            [this](const QString& message) { setNote(m_hotkeyError, message, true); });
    connect(&m_deps.hotkeys, &trigger::HotkeyCenter::errorsChanged, this, [this] { showHotkeyError(); });

    reload();
}

void TriggerTab::reload() {
    m_loading = true;
    const stores::SettingsStore& s = m_deps.settings;
    m_taps->setValue(int(std::clamp<qint64>(s.triggerSpaceCount(), 2, 5)));
    m_interval->setValue(int(qBound(100.0, s.triggerIntervalMs(), 2000.0)));
    m_cooldown->setValue(s.cooldownSeconds());
    m_minLength->setValue(int(std::clamp<qint64>(s.minTextLength(), 0, 10000)));
    m_hotkeyEnabled->setChecked(s.hotkeyEnabled());
    m_recorder->setEnabled(s.hotkeyEnabled());
    m_recorder->setShortcut(Shortcut{s.hotkeyKeyCode(), s.hotkeyModifiers()});
    m_loading = false;
    showHotkeyError();
}

void TriggerTab::showHotkeyError() {
    for (const trigger::HotkeyError& error : m_deps.hotkeys.lastErrors()) {
        if (error.id == QLatin1String("global") && m_deps.settings.hotkeyEnabled() &&
            error.keyCode == m_deps.settings.hotkeyKeyCode() && error.modifiers == m_deps.settings.hotkeyModifiers()) {
            setNote(m_hotkeyError, error.message, true);
            return;
        }
    }
    setNote(m_hotkeyError, QString(), false);
}

} // namespace corvane::settings

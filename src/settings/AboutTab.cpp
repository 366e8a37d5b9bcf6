#include "settings/AboutTab.h"
#include "panel/CVDesign.h"
#include "platform/Preferences.h"
#include "services/TelemetryService.h"
#include "services/UpdateService.h"
#include "settings/SettingsForm.h"
#include "trigger/AccessibilityPermission.h"
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane::settings {

using panel::CVDesign;

AboutTab::AboutTab(SettingsDependencies& deps, QWidget* parent) : QWidget(parent), m_deps(deps) {
    const Page page = makePage(this);

    const Card about = addCard(page.column, QString());
    auto* name = new QLabel(QStringLiteral("Corvane"));
    name->setFont(CVDesign::TypeScale::title());
    about.form->addRow(name);
    auto* version = makeNote(QStringLiteral("versionLabel"));
    setNote(version, tr("Version %1").arg(m_deps.version), false);
    about.form->addRow(version);

    const Card permission = addCard(page.column, tr("Accessibility"));
    m_permission = new QLabel;
    m_permission->setObjectName(QStringLiteral("permissionStatus"));
    m_permission->setWordWrap(true);
    permission.form->addRow(m_permission);
    m_permissionHelp = makeNote(QStringLiteral("permissionHelp"));
    permission.form->addRow(m_permissionHelp);
    auto* enable = new QPushButton(tr("Enable Accessibility…"));
    enable->setObjectName(QStringLiteral("enableAccessibilityButton"));
    auto* cleanup = new QPushButton(tr("Clean Up Authorization Entries…"));
    cleanup->setObjectName(QStringLiteral("cleanupAuthorizationButton"));
    auto* permissionButtons = new QHBoxLayout;
    permissionButtons->setSpacing(CVDesign::space2);
    permissionButtons->addWidget(enable);
    permissionButtons->addWidget(cleanup);
    permissionButtons->addStretch(1);
    permission.form->addRow(permissionButtons);

    const Card privacy = addCard(page.column, tr("Privacy & Feedback"));
    m_consent = new QCheckBox(tr("Share anonymous usage statistics"));
    m_consent->setObjectName(QStringLiteral("telemetryConsentSwitch"));
    m_consent->setEnabled(m_deps.telemetry != nullptr);
    privacy.form->addRow(m_consent);
    auto* consentNote = makeNote(QStringLiteral("telemetryNote"));
    setNote(consentNote, tr("Counts of runs and errors only; never your text or your keys."), false);
    privacy.form->addRow(consentNote);
    auto* feedback = new QPushButton(tr("Send Feedback…"));
    feedback->setObjectName(QStringLiteral("sendFeedbackButton"));
    feedback->setEnabled(bool(m_deps.openFeedback));
    privacy.form->addRow(leftAligned({feedback}));

    const Card updates = addCard(page.column, tr("Updates"));
    m_autoCheck = new QCheckBox(tr("Check for updates automatically"));
    m_autoCheck->setObjectName(QStringLiteral("updateAutoCheckSwitch"));
    updates.form->addRow(m_autoCheck);
    m_autoInstall = new QCheckBox(tr("Install updates automatically"));
    m_autoInstall->setObjectName(QStringLiteral("updateAutoInstallSwitch"));
    updates.form->addRow(m_autoInstall);
    auto* check = new QPushButton(tr("Check for Updates…"));
    check->setObjectName(QStringLiteral("checkUpdatesButton"));
    check->setEnabled(m_deps.updates != nullptr);
    updates.form->addRow(leftAligned({check}));
    page.column->addStretch(1);

    connect(enable, &QPushButton::clicked, this, [this] {
        m_deps.permission.prompt();
        const std::optional<QString> why = m_deps.permission.openSettingsPane();
        showPermission();
        // How to switch it on by hand only helps when the switch is what is missing.
        if (why && m_deps.permission.canSwitchOn())
            setNote(m_permissionHelp, *why, false);
    });
    connect(cleanup, &QPushButton::clicked, this, [this] {
        const std::optional<QString> text = m_deps.permission.runCleanupFlow();
        showPermission();
        if (!text)
            return;
        auto* alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Corvane"),
                                      tr("Couldn't clean up authorization entries"), QMessageBox::Ok, window());
        alert->setObjectName(QStringLiteral("cleanupAlert"));
        alert->setInformativeText(*text);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->open();
    });
    connect(m_consent, &QCheckBox::toggled, this, [this](bool on) {
        if (m_deps.telemetry)
            m_deps.telemetry->setConsent(on);
    });
    connect(feedback, &QPushButton::clicked, this, [this] {
        if (m_deps.openFeedback)
            m_deps.openFeedback();
    });
    connect(m_autoCheck, &QCheckBox::toggled, this,
            [this](bool on) { m_deps.preferences.setValue(QString::fromLatin1(updateAutoCheckKey), on); });
    connect(m_autoInstall, &QCheckBox::toggled, this,
            [this](bool on) { m_deps.preferences.setValue(QString::fromLatin1(updateAutoInstallKey), on); });
    connect(check, &QPushButton::clicked, this, [this] {
        if (m_deps.updates)
            m_deps.updates->checkAndInstall(true);
    });
    connect(&m_deps.permission, &trigger::AccessibilityPermission::changed, this, [this] { showPermission(); });
    if (m_deps.telemetry)
        connect(m_deps.telemetry, &services::TelemetryService::consentChanged, this, [this] {
            const QSignalBlocker blocker(m_consent);
            m_consent->setChecked(m_deps.telemetry->hasConsented());
        });

    reload();
}

void AboutTab::reload() {
    const QSignalBlocker a(m_consent), b(m_autoCheck), c(m_autoInstall);
    m_consent->setChecked(m_deps.telemetry && m_deps.telemetry->hasConsented());
    m_autoCheck->setChecked(m_deps.preferences.boolean(QString::fromLatin1(updateAutoCheckKey)).value_or(true));
    m_autoInstall->setChecked(m_deps.preferences.boolean(QString::fromLatin1(updateAutoInstallKey)).value_or(false));
    showPermission();
}

void AboutTab::showPermission() {
    const bool trusted = m_deps.permission.isTrusted();
    QPalette p = m_permission->palette();
    p.setColor(QPalette::WindowText, trusted ? CVDesign::accentText(window()->palette())
                                             : CVDesign::red(window()->palette()));
    m_permission->setPalette(p);
    m_permission->setText(trusted ? tr("Accessibility is on: Corvane can read and rewrite text fields.")
                                  : m_deps.permission.reason());
    setNote(m_permissionHelp,
            trusted                              ? QString()
            : m_deps.permission.canSwitchOn() ? tr("Enable it, then Corvane starts listening for space taps by itself.")
                                                 : tr("Once this is solved, Corvane starts listening for space taps by itself."),
            false);
}

} // namespace corvane::settings

#include "app/PermissionPrompt.h"
#include "app/QuietWindow.h"
#include "trigger/AccessibilityPermission.h"

namespace corvane::app {

PermissionPrompt::PermissionPrompt(trigger::AccessibilityPermission& permission, QWidget* parent)
    : QWidget(parent, kQuietCardFlags), m_permission(permission) {
    makeQuietCard(this, QStringLiteral("permissionPrompt"), tr("Corvane needs accessibility"));

    m_title = cardTitle(QString(), this);
    m_title->setObjectName(QStringLiteral("permissionPromptTitle"));
    m_body = new QLabel(this);
    m_body->setObjectName(QStringLiteral("permissionPromptText"));
    m_body->setTextFormat(Qt::PlainText);
    m_body->setWordWrap(true);
    m_body->setFixedWidth(360);

    m_switchOn = quietButton(tr("Switch On"), this);
    m_switchOn->setObjectName(QStringLiteral("permissionSwitchOnButton"));
    m_notNow = quietButton(tr("Not Now"), this);
    m_notNow->setObjectName(QStringLiteral("permissionNotNowButton"));
    m_ok = quietButton(tr("OK"), this);
    m_ok->setObjectName(QStringLiteral("permissionOkButton"));
    connect(m_notNow, &QPushButton::clicked, this, &QWidget::hide);
    connect(m_ok, &QPushButton::clicked, this, &QWidget::hide);
    connect(m_switchOn, &QPushButton::clicked, this, [this] {
        if (m_permission.switchOn())
            hide();
        else
            fill(true);
    });
    // Switched on elsewhere (the desktop's settings, another program): nothing is left to ask.
    connect(&m_permission, &trigger::AccessibilityPermission::changed, this, [this] {
        if (isVisible() && m_permission.isTrusted())
            hide();
    });

    layOutCard(this, m_title, m_body, {m_notNow, m_switchOn, m_ok});
}

void PermissionPrompt::fill(bool switchFailed) {
    const bool offer = m_permission.canSwitchOn() && !switchFailed;
    if (offer) {
        m_title->setText(tr("Switch on accessibility for Corvane?"));
        m_body->setText(tr("Corvane reads the text field you type in and writes the improved text back through "
                           "the desktop's accessibility interface (AT-SPI), which is switched off in this session.\n\n"
                           "“Switch On” turns it on for this session and sets the desktop-wide setting that "
                           "applications read when they start (toolkit-accessibility), so applications started "
                           "from now on show their text fields to Corvane. Nothing else is changed."));
    } else {
        m_title->setText(tr("Corvane can't reach the text fields yet"));
        QString text = m_permission.reason();
        if (switchFailed)
            text = tr("Switching accessibility on did not take effect.") + QLatin1Char(' ') + text;
        m_body->setText(text + QStringLiteral("\n\n") +
                        tr("Corvane checks again every few seconds and starts listening as soon as this is solved."));
    }
    m_switchOn->setVisible(offer);
    m_notNow->setVisible(offer);
    m_ok->setVisible(!offer);
    adjustSize();
}

void PermissionPrompt::present() {
    fill(false);
    moveToCorner(this, Qt::TopRightCorner);
    show();
    raise();
}

} // namespace corvane::app

#include "app/PermissionPrompt.h"
#include "app/QuietWindow.h"
#include "trigger/AccessibilityPermission.h"
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace corvane::app {

namespace {
constexpr int kScreenMargin = 24;
}

PermissionPrompt::PermissionPrompt(trigger::AccessibilityPermission& permission, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | kQuietWindowFlags), m_permission(permission) {
    setObjectName(QStringLiteral("permissionPrompt"));
    makeQuiet(this);
    setWindowTitle(tr("Corvane needs accessibility"));
    setStyleSheet(QStringLiteral("#permissionPrompt { border: 1px solid palette(mid); }"));
    setAttribute(Qt::WA_StyledBackground);

    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("permissionPromptTitle"));
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
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

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_notNow);
    buttons->addWidget(m_switchOn);
    buttons->addWidget(m_ok);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->addWidget(m_title);
    layout->addWidget(m_body);
    layout->addLayout(buttons);
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
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.right() - width() - kScreenMargin, area.top() + kScreenMargin);
    }
    show();
    raise();
}

} // namespace corvane::app

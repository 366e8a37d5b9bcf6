#include "app/ConsentWindow.h"
#include "app/QuietWindow.h"
#include "services/TelemetryService.h"
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

ConsentWindow::ConsentWindow(services::TelemetryService& telemetry, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | kQuietWindowFlags), m_telemetry(telemetry) {
    setObjectName(QStringLiteral("consentWindow"));
    makeQuiet(this);
    setWindowTitle(tr("Help improve Corvane?"));
    setStyleSheet(QStringLiteral("#consentWindow { border: 1px solid palette(mid); }"));
    setAttribute(Qt::WA_StyledBackground);

    auto* title = new QLabel(tr("Help improve Corvane?"), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    auto* body = new QLabel(tr("Corvane can send anonymous usage events: event names, timings and error kinds. "
                               "It never sends the text you write or read."),
                            this);
    body->setWordWrap(true);
    body->setFixedWidth(320);

    auto* allow = quietButton(tr("Send usage events"), this);
    allow->setObjectName(QStringLiteral("consentAllowButton"));
    auto* deny = quietButton(tr("Don't send"), this);
    deny->setObjectName(QStringLiteral("consentDenyButton"));
    connect(allow, &QPushButton::clicked, this, [this] { answer(true); });
    connect(deny, &QPushButton::clicked, this, [this] { answer(false); });
    // An answer given in the settings window meanwhile settles the question too.
    connect(&m_telemetry, &services::TelemetryService::consentChanged, this, &QWidget::hide);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(deny);
    buttons->addWidget(allow);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 14);
    layout->addWidget(title);
    layout->addWidget(body);
    layout->addLayout(buttons);
}

void ConsentWindow::present() {
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.right() - width() - kScreenMargin, area.bottom() - height() - kScreenMargin);
    }
    show();
    raise();
}

void ConsentWindow::answer(bool consented) {
    m_telemetry.setConsent(consented);
    hide();
}

} // namespace corvane::app

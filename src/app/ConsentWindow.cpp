#include "app/ConsentWindow.h"
#include "app/QuietWindow.h"
#include "services/TelemetryService.h"

namespace corvane::app {

ConsentWindow::ConsentWindow(services::TelemetryService& telemetry, QWidget* parent)
    : QWidget(parent, kQuietCardFlags), m_telemetry(telemetry) {
    makeQuietCard(this, QStringLiteral("consentWindow"), tr("Help improve Corvane?"));

    auto* title = cardTitle(tr("Help improve Corvane?"), this);
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

    layOutCard(this, title, body, {deny, allow});
}

void ConsentWindow::present() {
    adjustSize();
    moveToCorner(this, Qt::BottomRightCorner);
    show();
    raise();
}

void ConsentWindow::answer(bool consented) {
    m_telemetry.setConsent(consented);
    hide();
}

} // namespace corvane::app

#pragma once
// The question whether anonymous usage events may be sent. It appears by itself while the user may
// be typing in another application, so it never takes the keyboard focus and has no default
// button: a Space meant for the other app cannot answer it.
#include <QWidget>

namespace corvane::services {
class TelemetryService;
}

namespace corvane::app {

class ConsentWindow final : public QWidget {
    Q_OBJECT
public:
    explicit ConsentWindow(services::TelemetryService& telemetry, QWidget* parent = nullptr);

    // Shows the window in the bottom-right corner of the primary screen without activating it.
    void present();

private:
    void answer(bool consented);

    services::TelemetryService& m_telemetry;
};

} // namespace corvane::app

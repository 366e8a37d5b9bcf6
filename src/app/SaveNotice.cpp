#include "app/SaveNotice.h"
#include "app/QuietWindow.h"
#include <QSystemTrayIcon>

namespace corvane::app {

SaveNotice::SaveNotice(std::function<QSystemTrayIcon*()> tray, QString name, QObject* parent)
    : QObject(parent), m_tray(std::move(tray)), m_name(std::move(name)) {}

SaveNotice::~SaveNotice() { delete m_window.data(); }

void SaveNotice::tell(const QString& title, const QString& message) {
    if (QSystemTrayIcon* tray = m_tray ? m_tray() : nullptr) {
        tray->showMessage(title, message, QSystemTrayIcon::Warning, 20000);
        return;
    }
    withdraw();
    QWidget* window = quietNotice(m_name, title, message);
    m_window = window;
    window->show();
}

void SaveNotice::withdraw() {
    if (m_window)
        m_window->close();
}

} // namespace corvane::app

#include "app/SaveNotice.h"
#include "app/QuietWindow.h"
#include <QHBoxLayout>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

namespace corvane::app {

SaveNotice::SaveNotice(std::function<QSystemTrayIcon*()> tray, QObject* parent)
    : QObject(parent), m_tray(std::move(tray)) {}

SaveNotice::~SaveNotice() { delete m_window.data(); }

void SaveNotice::tell(const QString& title, const QString& message) {
    if (QSystemTrayIcon* tray = m_tray ? m_tray() : nullptr) {
        tray->showMessage(title, message, QSystemTrayIcon::Warning, 20000);
        return;
    }
    withdraw();
    auto* window = new QWidget(nullptr, Qt::Window | kQuietWindowFlags);
    window->setObjectName(QStringLiteral("saveNotice"));
    window->setWindowTitle(title);
    makeQuiet(window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(window);
    auto* label = new QLabel(message, window);
    label->setObjectName(QStringLiteral("saveNoticeText"));
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setFixedWidth(360);
    layout->addWidget(label);
    auto* row = new QHBoxLayout;
    row->addStretch();
    auto* ok = quietButton(tr("OK"), window);
    connect(ok, &QPushButton::clicked, window, &QWidget::close);
    row->addWidget(ok);
    layout->addLayout(row);
    m_window = window;
    window->show();
}

void SaveNotice::withdraw() {
    if (m_window)
        m_window->close();
}

} // namespace corvane::app

#pragma once
// SIGTERM and SIGINT end the application through the event loop: the handler only writes a byte
// to a socket pair (async-signal-safe), and a notifier on the other end calls onQuit on the main
// thread.
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace corvane::app {

class QuitSignals final : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(std::function<void(int signal)> onQuit, QObject* parent = nullptr);
    ~QuitSignals() override;
    // False when the socket pair or the handlers could not be set up.
    bool isInstalled() const { return m_notifier != nullptr; }

private:
    std::function<void(int)> m_onQuit;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace corvane::app

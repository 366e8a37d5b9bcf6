#pragma once
#include "platform/KeyTap.h"
#include <QSet>

namespace corvane::platform::fake {

// A keyboard the test types on. Events reach the handler synchronously, as the real tap delivers
// them from the main loop. Keys at the modifier positions (54 to 63) count as modifiers.
class FakeKeyTap final : public KeyTap {
public:
    bool start(Handler handler) override;
    void stop() override;
    bool isRunning() const override { return m_running; }
    QString lastError() const override { return m_error; }

    // Makes start() fail with this reason (empty: start works again).
    void setUnavailable(const QString& reason) { m_unavailable = reason; }
    int startCount() const { return m_starts; }

    // A press; a press of a key already down arrives as an auto-repeat.
    void press(qint64 keyCode);
    void release(qint64 keyCode);
    // Press and release.
    void tap(qint64 keyCode);
    // Hands any event to the handler while running; dropped while stopped.
    void deliver(const KeyEvent& event);

    static bool isModifierPosition(qint64 keyCode) { return keyCode >= 54 && keyCode <= 63; }

private:
    Handler m_handler;
    bool m_running = false;
    int m_starts = 0;
    QString m_error;
    QString m_unavailable;
    QSet<qint64> m_down;
    quint32 m_time = 1000;
};

} // namespace corvane::platform::fake

#pragma once
#include "platform/HotkeyGrabber.h"
#include <QList>
#include <QSet>
#include <map>
#include <utility>

namespace corvane::platform::fake {

// The desktop's shortcut service as a test sees it: which combinations other applications hold,
// which grabs are live, and presses of the user.
class FakeHotkeyGrabber final : public HotkeyGrabber {
public:
    struct Grab {
        quint32 grabId;
        qint64 keyCode;
        qint64 modifiers; // the four stored bits only
    };

    void setHandler(Handler handler) override { m_handler = std::move(handler); }
    GrabStatus grab(quint32 grabId, qint64 keyCode, qint64 modifiers) override;
    void ungrab(quint32 grabId) override { m_grabs.erase(grabId); }

    void takenByOtherApp(qint64 keyCode, qint64 modifiers);
    void setUnknownKey(qint64 keyCode) { m_unknown.insert(keyCode); }
    void setUnavailable(bool unavailable) { m_unavailable = unavailable; }
    bool hasHandler() const { return bool(m_handler); }
    int grabCalls() const { return m_grabCalls; }

    // Live grabs, by grab id.
    QList<Grab> grabs() const;
    // The user presses (and releases) a combination; lock bits and other stray bits are ignored as
    // the real grab ignores them. Returns whether a live grab caught it.
    bool press(qint64 keyCode, qint64 modifiers);
    // A press event of a grab id, as if it had been queued before the grab went away.
    void deliverPress(quint32 grabId);
    // The release of a grab id's key: the end of the grab.
    void deliverRelease(quint32 grabId);

private:
    Handler m_handler;
    std::map<quint32, std::pair<qint64, qint64>> m_grabs;
    QSet<QPair<qint64, qint64>> m_taken;
    QSet<qint64> m_unknown;
    bool m_unavailable = false;
    int m_grabCalls = 0;
};

} // namespace corvane::platform::fake

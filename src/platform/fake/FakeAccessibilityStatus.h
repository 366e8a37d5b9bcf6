#pragma once
#include "platform/AccessibilityStatus.h"

namespace corvane::platform::fake {

// A scriptable accessibility status. Starts as a fully usable X11 session.
class FakeAccessibilityStatus final : public AccessibilityStatus {
    Q_OBJECT
public:
    FakeAccessibilityStatus() {
        current.x11Display = current.xinput2 = current.xtest = true;
        current.busReachable = current.enabled = true;
    }

    AccessibilityFacts facts() override {
        ++factQueries;
        return current;
    }
    bool enable() override {
        ++enableCalls;
        if (!enableWorks)
            return false;
        if (!current.enabled) {
            current.enabled = true;
            Q_EMIT changed();
        }
        return true;
    }
    bool openSettings() override {
        ++openSettingsCalls;
        return settingsToolKnown;
    }

    // Changes the facts and announces it, as the session bus would.
    void set(const AccessibilityFacts& facts) {
        current = facts;
        Q_EMIT changed();
    }

    AccessibilityFacts current;
    bool enableWorks = true;
    bool settingsToolKnown = true;
    int factQueries = 0;
    int enableCalls = 0;
    int openSettingsCalls = 0;
};

} // namespace corvane::platform::fake

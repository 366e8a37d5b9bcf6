#pragma once
#include "platform/KeyboardLayout.h"
#include <QHash>

namespace corvane::platform::fake {

// A layout the test writes key by key; switch it at any time as the user switches layouts.
class FakeKeyboardLayout final : public KeyboardLayout {
public:
    std::optional<QString> keyText(qint64 keyCode) override {
        const auto it = m_text.constFind(keyCode);
        if (it == m_text.constEnd())
            return std::nullopt;
        return *it;
    }
    void set(qint64 keyCode, const QString& text) { m_text.insert(keyCode, text); }
    void clear() { m_text.clear(); }

private:
    QHash<qint64, QString> m_text;
};

} // namespace corvane::platform::fake

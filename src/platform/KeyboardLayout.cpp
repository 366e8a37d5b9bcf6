#include "platform/KeyboardLayout.h"

namespace corvane::platform {

namespace {
class NoLayout final : public KeyboardLayout {
public:
    std::optional<QString> keyText(qint64) override { return std::nullopt; }
};

KeyboardLayout* g_shared = nullptr;
} // namespace

KeyboardLayout& KeyboardLayout::shared() {
    static NoLayout none;
    return g_shared ? *g_shared : none;
}

void KeyboardLayout::setShared(KeyboardLayout* layout) { g_shared = layout; }

} // namespace corvane::platform

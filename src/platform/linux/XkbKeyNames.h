#pragma once
// Stored-shortcut key codes <-> XKB key names. Both name physical positions, so the table holds
// for every layout: 0 is the key right of Caps Lock (AC01) whether it types a, q or something else.
#include <QtGlobal>

namespace corvane::platform::linux_ {

// The XKB key name ("AC01", "SPCE", ...) of a key code, or nullptr when the position has none.
const char* xkbKeyName(qint64 keyCode);
// The key code of an XKB key name, or -1.
qint64 keyCodeForXkbName(const char* name);

} // namespace corvane::platform::linux_

#pragma once
// The key codes and modifier bits that shortcuts are stored with. They name key POSITIONS on an
// ANSI keyboard (49 is the space bar wherever the layout puts its characters) and four modifier
// bits; every backend translates them to its own codes, and labels come from the current layout.
#include <QtGlobal>
#include <algorithm>
#include <array>

namespace corvane::platform::keys {

inline constexpr qint64 Space = 49;
inline constexpr qint64 Return = 36;
inline constexpr qint64 Tab = 48;
inline constexpr qint64 Escape = 53;

// Stored modifier bits, and the only ones any shortcut uses.
inline constexpr qint64 ModShift = 0x20000;
inline constexpr qint64 ModControl = 0x40000;
inline constexpr qint64 ModOption = 0x80000;  // Alt
inline constexpr qint64 ModCommand = 0x100000; // Super
inline constexpr qint64 ModMask = ModShift | ModControl | ModOption | ModCommand;

// F1 to F20, in order.
inline constexpr std::array<qint64, 20> FunctionKeys = {122, 120, 99, 118, 96,  97,  98,  100, 101, 109,
                                                        103, 111, 105, 107, 113, 106, 64,  79,  80,  90};

constexpr bool isFunctionKey(qint64 keyCode) {
    return std::find(FunctionKeys.begin(), FunctionKeys.end(), keyCode) != FunctionKeys.end();
}

} // namespace corvane::platform::keys

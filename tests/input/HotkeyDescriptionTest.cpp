// Shortcut labels as the settings window shows them, on layouts the test switches between.
#include "platform/fake/FakeKeyboardLayout.h"
#include "trigger/HotkeyDescription.h"
#include <gtest/gtest.h>

using namespace corvane;
using platform::fake::FakeKeyboardLayout;
using trigger::HotkeyDescription;

namespace {

FakeKeyboardLayout usLayout() {
    FakeKeyboardLayout l;
    const char* letters = "asdfhgzxcv";
    for (int i = 0; i < 10; ++i)
        l.set(i, QString(QLatin1Char(letters[i])));
    l.set(36, QStringLiteral("\r"));
    l.set(48, QStringLiteral("\t"));
    l.set(49, QStringLiteral(" "));
    l.set(51, QStringLiteral("\b"));
    l.set(42, QStringLiteral("\\"));
    l.set(40, QStringLiteral("k"));
    return l;
}

struct LabelCase {
    const char* name;
    std::optional<qint64> keyCode;
    std::optional<qint64> modifiers;
    const char* expected;
};

TEST(HotkeyDescription, LabelsOnAUsLayout) {
    FakeKeyboardLayout us = usLayout();
    const LabelCase cases[] = {
        {"no key", std::nullopt, std::nullopt, "Not set"},
        {"no key with modifiers", std::nullopt, 0x80000, "Not set"},
        {"key -1", -1, 0x80000, "Not set"},
        {"space alone", 49, std::nullopt, "Space"},
        {"the default hotkey", 49, 0x80000, "Alt+Space"},
        {"Super+Tab", 48, 0x100000, "Super+Tab"},
        {"every modifier in fixed order", 122, 0x1E0000, "Ctrl+Alt+Shift+Super+F1"},
        {"order does not follow the bits", 40, 0x100000 | 0x20000 | 0x40000, "Ctrl+Shift+Super+K"},
        {"Caps Lock and other bits add nothing", 0, 0x10000 | 0x800000 | 0x80000, "Alt+A"},
        {"absent modifiers add nothing", 0, std::nullopt, "A"},
        {"Return beats the layout's carriage return", 36, 0, "Return"},
        {"Backspace", 51, 0x40000, "Ctrl+Backspace"},
        {"arrows", 126, 0x40000, "Ctrl+↑"},
        {"the layout's backslash", 42, 0, "\\"},
        {"a digit from the fallback table", 18, 0, "1"},
        {"a key nothing names", 105, 0, "Key (105)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(HotkeyDescription::string(c.keyCode, c.modifiers, us), QString::fromUtf8(c.expected));
    }
}

struct KeyTextCase {
    const char* name;
    qint64 keyCode;
    QString layoutText;
    const char* expected;
};

TEST(HotkeyDescription, WhatTheLayoutTypesDecidesTheKeyName) {
    const KeyTextCase cases[] = {
        {"a lower-case letter is shown upper-case", 0, QStringLiteral("q"), "Q"},
        {"German y on the Z position", 6, QStringLiteral("y"), "Y"},
        {"sharp s becomes two capitals", 27, QStringLiteral("ß"), "SS"},
        {"an accented letter", 33, QStringLiteral("ü"), "Ü"},
        {"only the first character counts", 39, QStringLiteral("ab"), "A"},
        {"a space falls back to the US table", 0, QStringLiteral(" "), "A"},
        {"a no-break space falls back", 1, QStringLiteral("\u00a0"), "S"},
        {"a control character falls back", 2, QStringLiteral("\u0001"), "D"},
        {"DEL falls back", 3, QStringLiteral("\u007f"), "F"},
        {"a C1 control falls back", 4, QStringLiteral("\u0085"), "H"},
        {"a lone surrogate falls back", 5, QString(QChar(0xD835)), "G"},
        {"a character outside the BMP falls back", 7, QString::fromUtf8("\xF0\x9D\x92\x9C"), "X"},
        {"an empty text falls back", 8, QString(), "C"},
        {"key 42 without a layout text has no fallback", 42, QString(), "Key (42)"},
        {"key 10 with a control character has no fallback", 10, QStringLiteral("\u001b"), "Key (10)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeKeyboardLayout layout;
        if (!c.layoutText.isNull())
            layout.set(c.keyCode, c.layoutText);
        EXPECT_EQ(HotkeyDescription::keyName(c.keyCode, layout), QString::fromUtf8(c.expected));
    }
}

TEST(HotkeyDescription, ALayoutSwitchShowsInTheNextLabel) {
    FakeKeyboardLayout layout = usLayout();
    platform::KeyboardLayout::setShared(&layout);
    EXPECT_EQ(HotkeyDescription::string(6, 0x40000), QStringLiteral("Ctrl+Z"));
    layout.set(6, QStringLiteral("y")); // the user switches to German
    layout.set(16, QStringLiteral("z"));
    EXPECT_EQ(HotkeyDescription::string(6, 0x40000), QStringLiteral("Ctrl+Y"));
    EXPECT_EQ(HotkeyDescription::keyName(16), QStringLiteral("Z"));
    platform::KeyboardLayout::setShared(nullptr);
    // Without any layout the US table still labels letters.
    EXPECT_EQ(HotkeyDescription::keyName(6), QStringLiteral("Z"));
    EXPECT_EQ(HotkeyDescription::keyName(117), QStringLiteral("Key (117)"));
}

} // namespace

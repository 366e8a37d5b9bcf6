// The parts of the X11 keyboard backends that need no server: decoding raw key events, telling
// repeats of grabbed keys apart, the key-name table and the key combinations of commands.
#include "platform/VirtualKeys.h"
#include "platform/linux/X11HotkeyGrabber.h"
#include "platform/linux/XInputKeyTap.h"
#include "platform/linux/XTestKeySynth.h"
#include "platform/linux/XkbKeyNames.h"
#include <QSet>
#include <cstring>
#include <gtest/gtest.h>
#include <xcb/xinput.h>
#include <xkbcommon/xkbcommon-keysyms.h>

using namespace corvane::platform;
using namespace corvane::platform::linux_;

namespace {

constexpr uint8_t kOpcode = 131;
constexpr uint32_t kSpaceKeycode = 65, kShiftKeycode = 50, kKeyAKeycode = 38;

xcb_input_raw_key_press_event_t rawEvent(uint16_t type, uint32_t keycode, uint8_t opcode = kOpcode) {
    xcb_input_raw_key_press_event_t e;
    std::memset(&e, 0, sizeof e);
    e.response_type = XCB_GE_GENERIC;
    e.extension = opcode;
    e.event_type = type;
    e.detail = keycode;
    e.time = 4242;
    return e;
}

RawKeyDecoder decoder() {
    RawKeyDecoder d;
    d.setExtensionOpcode(kOpcode);
    RawKeyDecoder::Table table{};
    table[kSpaceKeycode] = {49, false};
    table[kShiftKeycode] = {56, true};
    table[kKeyAKeycode] = {0, false};
    d.setTable(table);
    return d;
}

std::optional<KeyEvent> feed(RawKeyDecoder& d, uint16_t type, uint32_t keycode, uint8_t opcode = kOpcode) {
    const auto e = rawEvent(type, keycode, opcode);
    return d.decode(reinterpret_cast<const xcb_generic_event_t*>(&e));
}

TEST(RawKeyDecoder, TurnsRawEventsIntoKeyEvents) {
    RawKeyDecoder d = decoder();
    auto space = feed(d, XCB_INPUT_RAW_KEY_PRESS, kSpaceKeycode);
    ASSERT_TRUE(space);
    EXPECT_TRUE(space->pressed);
    EXPECT_EQ(space->keyCode, 49);
    EXPECT_EQ(space->nativeCode, kSpaceKeycode);
    EXPECT_FALSE(space->autoRepeat);
    EXPECT_EQ(space->timeMs, 4242u);

    auto repeat = feed(d, XCB_INPUT_RAW_KEY_PRESS, kSpaceKeycode);
    ASSERT_TRUE(repeat);
    EXPECT_TRUE(repeat->autoRepeat) << "a press of a key that is down";

    auto up = feed(d, XCB_INPUT_RAW_KEY_RELEASE, kSpaceKeycode);
    ASSERT_TRUE(up);
    EXPECT_FALSE(up->pressed);
    auto again = feed(d, XCB_INPUT_RAW_KEY_PRESS, kSpaceKeycode);
    EXPECT_FALSE(again->autoRepeat);

    auto shift = feed(d, XCB_INPUT_RAW_KEY_PRESS, kShiftKeycode);
    EXPECT_TRUE(shift->isModifier);
    auto unmapped = feed(d, XCB_INPUT_RAW_KEY_PRESS, 200);
    ASSERT_TRUE(unmapped);
    EXPECT_EQ(unmapped->keyCode, -1);
    auto strayRelease = feed(d, XCB_INPUT_RAW_KEY_RELEASE, kKeyAKeycode);
    ASSERT_TRUE(strayRelease) << "releases of keys never seen down still arrive";
    EXPECT_FALSE(strayRelease->pressed);
}

TEST(RawKeyDecoder, AResyncForgetsKeysWhoseReleaseNeverCame) {
    RawKeyDecoder d = decoder();
    feed(d, XCB_INPUT_RAW_KEY_PRESS, kSpaceKeycode); // released during a grab: no raw release
    feed(d, XCB_INPUT_RAW_KEY_PRESS, kShiftKeycode); // still held
    std::bitset<256> server;
    server.set(kShiftKeycode);
    server.set(kKeyAKeycode); // down on the server but never seen here: stays unknown
    d.resync(server);
    EXPECT_FALSE(d.isDown(kSpaceKeycode));
    EXPECT_TRUE(d.isDown(kShiftKeycode));
    EXPECT_FALSE(d.isDown(kKeyAKeycode));
    EXPECT_FALSE(feed(d, XCB_INPUT_RAW_KEY_PRESS, kSpaceKeycode)->autoRepeat) << "the next press is a press";
    EXPECT_TRUE(feed(d, XCB_INPUT_RAW_KEY_PRESS, kShiftKeycode)->autoRepeat);
}

TEST(RawKeyDecoder, IgnoresEverythingElse) {
    RawKeyDecoder d = decoder();
    EXPECT_FALSE(feed(d, XCB_INPUT_RAW_KEY_PRESS, kSpaceKeycode, kOpcode + 1)) << "another extension";
    EXPECT_FALSE(feed(d, XCB_INPUT_RAW_BUTTON_PRESS, 1)) << "a mouse button";
    EXPECT_FALSE(feed(d, XCB_INPUT_RAW_MOTION, 0));
    EXPECT_FALSE(feed(d, XCB_INPUT_RAW_KEY_PRESS, 300)) << "a keycode out of range";
    xcb_generic_event_t core{};
    core.response_type = XCB_KEY_PRESS;
    EXPECT_FALSE(d.decode(&core));
}

TEST(GrabKeyTracker, ReportsTheFirstPressAndItsReleaseOnly) {
    GrabKeyTracker t;
    EXPECT_TRUE(t.press(65, 100));
    EXPECT_FALSE(t.press(65, 130)) << "detectable auto-repeat";
    EXPECT_FALSE(t.press(65, 160));
    EXPECT_TRUE(t.release(65, 200));
    EXPECT_FALSE(t.release(65, 210)) << "a release of a key that is not down";

    // A server without detectable auto-repeat: each repeat is a release and a press at one time.
    EXPECT_TRUE(t.press(65, 300));
    EXPECT_TRUE(t.release(65, 330));
    EXPECT_FALSE(t.press(65, 330));
    EXPECT_TRUE(t.release(65, 360));
    EXPECT_TRUE(t.press(65, 500)) << "a real new press";

    EXPECT_TRUE(t.press(40, 600)) << "keys are tracked one by one";
}

TEST(XkbKeyNames, EveryStorableKeyHasOneName) {
    QList<qint64> codes;
    for (qint64 c = 0; c <= 50; ++c)
        if (c != 52)
            codes << c;
    for (qint64 c : {51, 53, 123, 124, 125, 126, 115, 119, 116, 121, 117, 114})
        codes << c;
    for (qint64 c : keys::FunctionKeys)
        codes << c;
    QSet<QString> names;
    for (qint64 c : codes) {
        const char* name = xkbKeyName(c);
        ASSERT_NE(name, nullptr) << c;
        EXPECT_EQ(keyCodeForXkbName(name), c) << name;
        names.insert(QString::fromLatin1(name));
    }
    EXPECT_EQ(names.size(), QSet<qint64>(codes.begin(), codes.end()).size()) << "two codes share a name";

    EXPECT_STREQ(xkbKeyName(0), "AC01");
    EXPECT_STREQ(xkbKeyName(8), "AB03");
    EXPECT_STREQ(xkbKeyName(9), "AB04");
    EXPECT_STREQ(xkbKeyName(36), "RTRN");
    EXPECT_STREQ(xkbKeyName(49), "SPCE");
    EXPECT_STREQ(xkbKeyName(53), "ESC");
    EXPECT_STREQ(xkbKeyName(6), "AB01");
    EXPECT_EQ(xkbKeyName(-1), nullptr);
    EXPECT_EQ(xkbKeyName(200), nullptr);
    EXPECT_EQ(keyCodeForXkbName(nullptr), -1);
    EXPECT_EQ(keyCodeForXkbName("NOPE"), -1);
}

struct ChordCase {
    const char* name;
    KeyCommand command;
    bool terminal;
    bool sent;
    QList<xkb_keysym_t> modifiers;
    xkb_keysym_t key;
};

TEST(XTestKeySynth, CommandsMapPerKindOfTarget) {
    const ChordCase cases[] = {
        {"select all", KeyCommand::SelectAll, false, true, {XKB_KEY_Control_L}, XKB_KEY_a},
        {"copy", KeyCommand::Copy, false, true, {XKB_KEY_Control_L}, XKB_KEY_c},
        {"paste", KeyCommand::Paste, false, true, {XKB_KEY_Control_L}, XKB_KEY_v},
        {"collapse", KeyCommand::CollapseSelection, false, true, {}, XKB_KEY_Right},
        {"terminal paste", KeyCommand::Paste, true, true, {XKB_KEY_Control_L, XKB_KEY_Shift_L}, XKB_KEY_v},
        {"never Ctrl+C into a terminal", KeyCommand::Copy, true, false, {}, 0},
        {"never Ctrl+A into a terminal", KeyCommand::SelectAll, true, false, {}, 0},
        {"no arrow keys into a terminal", KeyCommand::CollapseSelection, true, false, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto chord = XTestKeySynth::chordFor(c.command, c.terminal);
        ASSERT_EQ(chord.has_value(), c.sent);
        if (!chord)
            continue;
        EXPECT_EQ(chord->modifiers, c.modifiers);
        EXPECT_EQ(chord->key, c.key);
    }
}

} // namespace

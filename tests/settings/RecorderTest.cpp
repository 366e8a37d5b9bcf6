// The shortcut recorder turns a key press into the stored key code and modifier bits, refuses a
// bare key, and releases the app's own grabs while it records.
#include "SettingsFixture.h"
#include "platform/VirtualKeys.h"
#include "settings/HotkeyRecorder.h"
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

using namespace corvane;
using namespace corvane::settings;
using namespace corvane::settings::testing;
namespace keys = platform::keys;

namespace {

TEST_F(SettingsTest, TheGlobalRecorderStoresWhatWasPressed) {
    const struct {
        const char* what;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        qint64 keyCode;
        qint64 bits;
        const char* label;
    } cases[] = {
        {"Ctrl+Alt+R", Qt::Key_R, Qt::ControlModifier | Qt::AltModifier, 15, keys::ModControl | keys::ModOption,
         "Ctrl+Alt+R"},
        {"Super+F5", Qt::Key_F5, Qt::MetaModifier, 96, keys::ModCommand, "Super+F5"},
        {"F7", Qt::Key_F7, Qt::NoModifier, 98, 0, "F7"},
        {"Ctrl+Shift+Space", Qt::Key_Space, Qt::ControlModifier | Qt::ShiftModifier, 49,
         keys::ModControl | keys::ModShift, "Ctrl+Shift+Space"},
    };
    hotkeys.sync({{QStringLiteral("global"), keys::Space, keys::ModOption}}, {});
    auto* recorder = find<HotkeyRecorder>("hotkeyRecorder");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        recorder->click();
        EXPECT_TRUE(grabber.grabs().isEmpty()) << "our grabs are released while recording";
        QTest::keyClick(recorder, c.key, c.modifiers);
        EXPECT_FALSE(recorder->isRecording());
        EXPECT_EQ(settings.hotkeyKeyCode(), c.keyCode);
        EXPECT_EQ(settings.hotkeyModifiers(), c.bits);
        EXPECT_EQ(fileValue(QStringLiteral("hotkeyKeyCode")), QString::number(c.keyCode));
        EXPECT_EQ(recorder->text(), QString::fromLatin1(c.label));
        EXPECT_EQ(grabber.grabs().size(), 1) << "and given back afterwards";
    }
}

TEST_F(SettingsTest, BareKeysAreRefusedAndEscapeCancels) {
    auto* recorder = find<HotkeyRecorder>("hotkeyRecorder");
    const QString before = recorder->text();
    recorder->click();
    QTest::keyClick(recorder, Qt::Key_K);
    QTest::keyClick(recorder, Qt::Key_K, Qt::ShiftModifier);
    EXPECT_TRUE(recorder->isRecording()) << "a refused press leaves the recorder waiting";
    EXPECT_EQ(find<QLabel>("hotkeyError")->text(),
              trigger::HotkeyCenter::message(trigger::HotkeyError::Reason::NeedsModifier));
    QTest::keyClick(recorder, Qt::Key_Escape);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(recorder->text(), before);
    EXPECT_EQ(settings.hotkeyKeyCode(), keys::Space);
    EXPECT_EQ(settings.hotkeyModifiers(), keys::ModControl | keys::ModOption);

    // Hiding the window mid-recording gives the grabs back as well.
    hotkeys.sync({{QStringLiteral("global"), keys::Space, keys::ModOption}}, {});
    recorder->click();
    view().hide();
    EXPECT_FALSE(hotkeys.isSuspended());
    EXPECT_EQ(grabber.grabs().size(), 1);
}

} // namespace

// The clipboard channel over the fake desktop: copy reads, pastes with their check, and the
// user's clipboard kept and put back.
#include "TaskDriver.h"
#include "platform/fake/FakeDesktop.h"
#include "trigger/AccessibilityService.h"
#include "trigger/ClipboardBridge.h"
#include <gtest/gtest.h>

using namespace corvane;
using platform::ClipboardSnapshot;
using platform::KeyTarget;
using platform::fake::FakeDesktop;
using platform::fake::FakeField;
using testkit::finish;
using Outcome = trigger::ClipboardBridge::PasteOutcome;

namespace {

// Every format with its bytes, comparable in assertions.
QStringList formats(const ClipboardSnapshot& items) {
    QStringList out;
    for (const auto& item : items)
        out << item.format + QLatin1Char('=') + QString::fromLatin1(item.data.toHex());
    return out;
}

const ClipboardSnapshot kUserClipboard = {
    {QStringLiteral("text/plain;charset=utf-8"), QByteArray("shopping list")},
    {QStringLiteral("text/html"), QByteArray("<b>shopping</b> list")},
    {QStringLiteral("image/png"), QByteArray("\x89PNG\r\n\x1a\n\0\xff", 10)},
};

struct Desk {
    platform::fake::FakeClock clock;
    FakeDesktop desktop{clock};
    platform::fake::FakeWindow& window = desktop.openWindow(7, QStringLiteral("org.gnome.TextEditor"),
                                                            QStringLiteral("Text Editor"), 4242);
    trigger::ClipboardBridge bridge{desktop.clipboard(), desktop, desktop, clock};
    KeyTarget target{7, false};

    Desk() { desktop.clipboard().userCopies(kUserClipboard); }

    std::shared_ptr<FakeField> field(const QString& text, platform::TextRange selection = {}) {
        FakeField f;
        f.text = text;
        f.selection = selection;
        return desktop.addField(window, f);
    }
    std::optional<QString> read(bool selectAll) {
        return finish(bridge.readSelectedText(selectAll, target), clock).value_or(std::nullopt);
    }
    Outcome paste(const QString& text, bool selectAll) {
        return finish(bridge.pasteText(text, selectAll, target), clock).value();
    }
};

} // namespace

TEST(ClipboardRead, CopiesSelectionOrWholeField) {
    struct Case {
        const char* name;
        bool selectAll;
        platform::TextRange selection;
        QString expected;
        QStringList keys;
    };
    const std::vector<Case> cases = {
        {"selection", false, {6, 5}, QStringLiteral("world"), {QStringLiteral("Ctrl+C")}},
        {"select-all collapses the selection afterwards", true, {0, 0}, QStringLiteral("hello world"),
         {QStringLiteral("Ctrl+A"), QStringLiteral("Ctrl+C"), QStringLiteral("Right")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Desk d;
        auto f = d.field(QStringLiteral("hello world"), c.selection);
        EXPECT_EQ(d.read(c.selectAll), c.expected);
        EXPECT_EQ(d.window.keysReceived, c.keys);
        EXPECT_EQ(f->selection.length, c.selectAll ? 0 : c.selection.length);
        EXPECT_TRUE(d.bridge.hasPendingSnapshot());
        // The copied text stays on the clipboard until the run ends.
        EXPECT_EQ(d.desktop.clipboard().text(), c.expected);
    }
}

TEST(ClipboardRead, CopyThatNeverLandsOrLandsTooLateGivesNothing) {
    struct Case {
        const char* name;
        std::optional<qint64> delay;
    };
    for (const auto& c : std::vector<Case>{{"never", std::nullopt}, {"after 700 ms", 700}}) {
        SCOPED_TRACE(c.name);
        Desk d;
        d.desktop.setCopyDelay(c.delay);
        auto f = d.field(QStringLiteral("hello world"));
        const int writes = d.desktop.clipboard().writeCount();
        auto result = std::make_shared<std::optional<std::optional<QString>>>();
        auto run = testkit::storeResult(d.bridge.readSelectedText(true, d.target), result);
        d.clock.advance(40 + 40 + 20 * 30);  // both keys, then twenty looks
        ASSERT_TRUE(result->has_value());
        EXPECT_EQ(**result, std::nullopt);
        // A failed select-all read leaves the whole field selected and the clipboard untouched.
        EXPECT_EQ(f->selection.length, 11);
        EXPECT_EQ(d.window.keysReceived, (QStringList{QStringLiteral("Ctrl+A"), QStringLiteral("Ctrl+C")}));
        EXPECT_EQ(formats(d.desktop.clipboard().snapshot()), formats(kUserClipboard));
        EXPECT_EQ(d.desktop.clipboard().writeCount(), writes);
        EXPECT_FALSE(d.bridge.hasPendingSnapshot());
    }
}

TEST(ClipboardRead, CopyWithoutPlainTextPutsBackOnlyANonEmptyUserClipboard) {
    for (const bool userHadSomething : {true, false}) {
        SCOPED_TRACE(userHadSomething ? "user clipboard" : "empty user clipboard");
        Desk d;
        if (!userHadSomething)
            d.desktop.clipboard().userCopies({});
        d.field(QStringLiteral("hello world"), {0, 5});
        d.desktop.setCopyDelay(std::nullopt);
        // The app answers the copy with an image only.
        const ClipboardSnapshot image = {{QStringLiteral("image/png"), QByteArray("PNG")}};
        d.clock.schedule(50, nullptr, [&] { d.desktop.clipboard().userCopies(image); });
        EXPECT_EQ(d.read(false), std::nullopt);
        EXPECT_EQ(formats(d.desktop.clipboard().snapshot()), formats(userHadSomething ? kUserClipboard : image));
    }
}

TEST(ClipboardRead, SameTextCopiedAgainStillCounts) {
    Desk d;
    d.desktop.clipboard().userCopiesText(QStringLiteral("world"));
    d.field(QStringLiteral("hello world"), {6, 5});
    EXPECT_EQ(d.read(false), QStringLiteral("world"));
}

TEST(ClipboardRead, KeysOnlyReachTheRunsWindow) {
    Desk d;
    auto f = d.field(QStringLiteral("hello world"), {0, 5});
    auto& other = d.desktop.openWindow(9, QStringLiteral("org.mozilla.firefox"), QStringLiteral("Firefox"));
    d.desktop.addField(other, FakeField{});
    // The user switched windows: the run's window is no longer in front.
    EXPECT_EQ(d.read(true), std::nullopt);
    EXPECT_TRUE(d.window.keysReceived.isEmpty());
    EXPECT_TRUE(other.keysReceived.isEmpty());
    EXPECT_EQ(formats(d.desktop.clipboard().snapshot()), formats(kUserClipboard));
}

TEST(ClipboardRead, WaitsForHeldModifiersToBeReleased) {
    {
        Desk d;
        d.field(QStringLiteral("hello world"), {0, 5});
        d.desktop.holdModifiersFor(300);
        EXPECT_EQ(d.read(false), QStringLiteral("hello"));
        EXPECT_EQ(d.window.keysReceived, QStringList{QStringLiteral("Ctrl+C")});
    }
    {
        Desk d;  // held for good: nothing is typed at all
        d.field(QStringLiteral("hello world"), {0, 5});
        d.desktop.holdModifiersFor(60'000);
        EXPECT_EQ(d.read(false), std::nullopt);
        EXPECT_TRUE(d.window.keysReceived.isEmpty());
    }
}

TEST(ClipboardRestore, PutsBackEveryFormatOnce) {
    {
        Desk d;
        d.field(QStringLiteral("hello world"), {0, 5});
        ASSERT_TRUE(d.read(false));
        d.bridge.restoreOriginal();
        EXPECT_EQ(formats(d.desktop.clipboard().snapshot()), formats(kUserClipboard));
        EXPECT_FALSE(d.bridge.hasPendingSnapshot());
        d.desktop.clipboard().userCopiesText(QStringLiteral("later"));
        d.bridge.restoreOriginal();  // once only
        EXPECT_EQ(d.desktop.clipboard().text(), QStringLiteral("later"));
    }
    {
        Desk d;  // empty saved clipboard: the copied text stays
        d.desktop.clipboard().userCopies({});
        d.field(QStringLiteral("hello world"), {0, 5});
        ASSERT_TRUE(d.read(false));
        d.bridge.restoreOriginal();
        EXPECT_EQ(d.desktop.clipboard().text(), QStringLiteral("hello"));
        EXPECT_FALSE(d.bridge.hasPendingSnapshot());
    }
}

TEST(ClipboardRestore, SecondReadKeepsTheUsersClipboardNotOurCopy) {
    Desk d;
    auto f = d.field(QStringLiteral("hello world"), {0, 5});
    ASSERT_EQ(d.read(false), QStringLiteral("hello"));
    f->selection = {6, 5};
    ASSERT_EQ(d.read(false), QStringLiteral("world"));
    d.bridge.restoreOriginal();
    EXPECT_EQ(formats(d.desktop.clipboard().snapshot()), formats(kUserClipboard));
}

TEST(ClipboardPaste, PlainPasteReplacesTheSelectionWithoutCheck) {
    Desk d;
    auto f = d.field(QStringLiteral("hello world"), {6, 5});
    ASSERT_TRUE(d.read(false));
    EXPECT_EQ(d.paste(QStringLiteral("there"), false), Outcome::Done);
    EXPECT_EQ(f->text, QStringLiteral("hello there"));
    EXPECT_EQ(d.desktop.clipboard().text(), QStringLiteral("there"));
    EXPECT_FALSE(d.bridge.hasPendingSnapshot());
    d.bridge.restoreOriginal();  // a paste drops the saved clipboard for good
    EXPECT_EQ(d.desktop.clipboard().text(), QStringLiteral("there"));
}

TEST(ClipboardPaste, SelectAllPasteIsVerified) {
    struct Case {
        const char* name;
        std::function<void(FakeField&)> script;
        Outcome outcome;
        std::optional<QString> snapshot;
    };
    const QString result = QStringLiteral("abd");
    const std::vector<Case> cases = {
        {"field shows the text", [](FakeField&) {}, Outcome::Done, std::nullopt},
        {"field cannot be read confirms nothing", [](FakeField& f) { f.readable = false; },
         Outcome::VerificationFailed, QStringLiteral("field unreadable target=3")},
        {"paste had no effect", [](FakeField& f) { f.acceptsPaste = false; f.text = QStringLiteral("a b c"); },
         Outcome::VerificationFailed, QStringLiteral("read length=5 normalized=3 target=3")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Desk d;
        FakeField f;
        f.text = QStringLiteral("old text");
        c.script(f);
        d.desktop.addField(d.window, f);
        EXPECT_EQ(d.paste(result, true), c.outcome);
        EXPECT_EQ(d.bridge.lastVerifySnapshot(), c.snapshot);
        EXPECT_EQ(d.window.keysReceived, (QStringList{QStringLiteral("Ctrl+A"), QStringLiteral("Ctrl+V")}));
        EXPECT_EQ(d.desktop.clipboard().text(), result);
    }
}

TEST(ClipboardPaste, VerificationToleratesSpacingAndSmallAdditions) {
    const QString target = QStringLiteral("Hello brave new world");
    EXPECT_EQ(trigger::ClipboardBridge::normalized(QStringLiteral(" a\u200bb\u200c\u200d c\u2060\ufeff\r\n\u2028d\u00a0e ")),
              QStringLiteral("abcde"));
    struct Case {
        const char* name;
        QString fieldShows;
        bool verified;
    };
    const std::vector<Case> cases = {
        {"spaces, tabs, breaks and zero-width characters", QStringLiteral("Hello\tbrave\u200b new\n world\u2060 "),
         true},
        {"twenty extra characters around", QStringLiteral("0123456789") + target + QStringLiteral("0123456789"),
         true},
        {"twenty-one extra characters", QStringLiteral("0123456789X") + target + QStringLiteral("0123456789"),
         false},
        {"one changed letter", QStringLiteral("Hello brave new worlD"), false},
        {"what the clipboard cannot carry, shown as U+FFFD", QStringLiteral("Hello brave\ufffd new world"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Desk d;
        FakeField f;
        f.text = c.fieldShows;
        f.acceptsPaste = false;
        d.desktop.addField(d.window, f);
        EXPECT_EQ(d.paste(target, true), c.verified ? Outcome::Done : Outcome::VerificationFailed);
    }
}

TEST(ClipboardPaste, NoAccessibilityCallWhileTheTargetFetchesOurClipboard) {
    for (const bool selectAll : {false, true}) {
        SCOPED_TRACE(selectAll ? "verified paste" : "plain paste");
        Desk d;
        auto f = d.field(QStringLiteral("hello world"), {0, 11});
        d.desktop.setPasteDelay(700);  // a slow app, still busy when the first look is due
        EXPECT_EQ(d.paste(QStringLiteral("bonjour"), selectAll), Outcome::Done);
        // Right after the paste, the next run reads the field.
        trigger::AccessibilityService(d.desktop).getFocusedElementInfo();
        EXPECT_EQ(d.desktop.callsDuringPasteFetch(), 0);
        EXPECT_EQ(f->text, QStringLiteral("bonjour"));
    }
}


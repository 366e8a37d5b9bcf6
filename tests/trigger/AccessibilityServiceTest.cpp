// Reading and writing the focused field through the fake accessibility bus.
#include "platform/fake/FakeDesktop.h"
#include "trigger/AccessibilityService.h"
#include <gtest/gtest.h>

using namespace corvane;
using platform::fake::FakeDesktop;
using platform::fake::FakeField;
using trigger::AccessibilityService;
using trigger::FieldKind;

namespace {

struct Desk {
    platform::fake::FakeClock clock;
    FakeDesktop desktop{clock};
    platform::fake::FakeWindow& window = desktop.openWindow(7, QStringLiteral("org.gnome.TextEditor"),
                                                            QStringLiteral("Text Editor"), 4242);
    AccessibilityService service{desktop};

    std::shared_ptr<FakeField> field(const std::function<void(FakeField&)>& script) {
        FakeField f;
        f.text = QStringLiteral("teh meeting moves to firday");
        script(f);
        return desktop.addField(window, f);
    }
};

} // namespace

TEST(AccessibilityService, ReadsTheFocusedFieldsValue) {
    struct Case {
        const char* name;
        std::function<void(Desk&, FakeField&)> script;
        std::optional<QString> expected;
    };
    const std::vector<Case> cases = {
        {"text, unchanged", [](Desk&, FakeField& f) { f.text = QStringLiteral("  two\nlines \u200b"); },
         QStringLiteral("  two\nlines \u200b")},
        {"empty field is an empty text, not nothing", [](Desk&, FakeField& f) { f.text.clear(); }, QString()},
        {"number 42", [](Desk&, FakeField& f) { f.number = 42; }, QStringLiteral("42")},
        {"fraction", [](Desk&, FakeField& f) { f.number = 0.5; }, QStringLiteral("0.5")},
        {"unreadable value, even with extents", [](Desk&, FakeField& f) { f.readable = false; }, std::nullopt},
        {"no accessibility bus", [](Desk& d, FakeField&) { d.desktop.setAccessibilityAvailable(false); },
         std::nullopt},
        {"app exposing nothing", [](Desk& d, FakeField&) { d.window.accessible = false; }, std::nullopt},
        {"bus restarted since the last read: read again on a new connection",
         [](Desk& d, FakeField& f) { f.text = QStringLiteral("after the restart"); d.desktop.dropAccessibilityConnection(); },
         QStringLiteral("after the restart")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Desk d;
        d.field([&](FakeField& f) {
            f.extents = {100, 200, 300, 40};
            c.script(d, f);
        });
        const auto info = d.service.getFocusedElementInfo();
        EXPECT_EQ(info ? std::optional<QString>(info->text) : std::nullopt, c.expected);
        EXPECT_EQ(d.service.focusedElementValue(), c.expected);
        if (info) {
            // Places stay in the desktop's top-left space; the panel places itself against them.
            EXPECT_EQ(info->position, QPointF(100, 200));
            EXPECT_EQ(info->size, QSizeF(300, 40));
        }
    }
}

TEST(AccessibilityService, PasswordFieldsAreNeverRead) {
    for (const bool byState : {false, true}) {
        SCOPED_TRACE(byState ? "password state" : "password role");
        Desk d;
        auto field = d.field([&](FakeField& f) {
            if (byState)
                f.states << QStringLiteral("password");
            else
                f.role = QStringLiteral("password text");
        });
        EXPECT_FALSE(d.service.getFocusedElementInfo());
        EXPECT_FALSE(d.service.focusedElementValue());
        ASSERT_TRUE(d.service.probeFocusedElement());
        EXPECT_EQ(d.service.probeFocusedElement()->kind, FieldKind::Password);
        EXPECT_EQ(field->valueReads, 0);
    }
}

TEST(AccessibilityService, RolesMapToFieldKinds) {
    const QStringList multi{QStringLiteral("editable"), QStringLiteral("multi-line")};
    const QStringList single{QStringLiteral("editable"), QStringLiteral("single-line")};
    struct Case {
        std::optional<QString> role;
        QStringList states;
        FieldKind kind;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("entry"), single, FieldKind::TextField},
        {QStringLiteral("text"), multi, FieldKind::TextArea},
        {QStringLiteral("text"), single, FieldKind::TextField},
        {QStringLiteral("password text"), single, FieldKind::Password},
        {std::nullopt, {QStringLiteral("password")}, FieldKind::Password},
        {QStringLiteral("terminal"), multi, FieldKind::Terminal},
        {QStringLiteral("push button"), {}, FieldKind::Other},
        {std::nullopt, multi, FieldKind::Other},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.role.value_or(QStringLiteral("<none>")).toStdString() + " " + c.states.join(',').toStdString());
        EXPECT_EQ(AccessibilityService::classify(c.role, c.states), c.kind);
    }
}

TEST(AccessibilityService, ProbeReportsRoleAndSelection) {
    struct Case {
        const char* name;
        std::function<void(FakeField&)> script;
        std::optional<QString> role;
        bool hasSelection;
        bool selectionKnown;
    };
    const std::vector<Case> cases = {
        {"caret only", [](FakeField& f) { f.selection = {3, 0}; }, QStringLiteral("entry"), false, true},
        {"three characters selected", [](FakeField& f) { f.selection = {2, 3}; }, QStringLiteral("entry"), true, true},
        {"selection unreadable, role kept", [](FakeField& f) { f.selectionReadable = false; },
         QStringLiteral("entry"), false, false},
        {"role unreadable", [](FakeField& f) { f.roleReadable = false; f.selection = {0, 2}; }, std::nullopt, true,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Desk d;
        d.field(c.script);
        const auto probe = d.service.probeFocusedElement();
        ASSERT_TRUE(probe);
        EXPECT_EQ(probe->role, c.role);
        EXPECT_EQ(probe->hasSelection, c.hasSelection);
        EXPECT_EQ(probe->selectionKnown, c.selectionKnown);
    }
}

TEST(AccessibilityService, WriteIsCheckedByReadingBack) {
    const QString result = QStringLiteral("The meeting moves to Friday.");
    struct Case {
        const char* name;
        std::function<void(Desk&, FakeField&)> script;
        int status;
        bool readBack;
    };
    const std::vector<Case> cases = {
        {"write lands", [](Desk&, FakeField&) {}, AccessibilityService::kSuccess, true},
        {"refused: the backend's status, no read-back", [](Desk&, FakeField& f) { f.writable = false; }, -25200,
         false},
        {"accepted without effect", [](Desk&, FakeField& f) { f.writeWithoutEffect = true; },
         AccessibilityService::kWriteHadNoEffect, true},
        {"read-back differs by a trailing line break",
         [](Desk&, FakeField& f) { f.transformWrite = [](const QString& t) { return t + QLatin1Char('\n'); }; },
         AccessibilityService::kWriteHadNoEffect, true},
        {"text lands in the element focused after the write",
         [](Desk& d, FakeField& f) { f.writeLandsIn = d.desktop.addField(d.window, FakeField{}); },
         AccessibilityService::kSuccess, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Desk d;
        auto field = d.field([&](FakeField& f) { c.script(d, f); });
        const auto info = d.service.getFocusedElementInfo();
        ASSERT_TRUE(info);
        const int readsBefore = field->valueReads;
        EXPECT_EQ(d.service.replaceText(info->element, result), c.status);
        EXPECT_EQ(field->valueReads > readsBefore, c.readBack);
    }
}

TEST(AccessibilityService, SelectAllCountsCharactersAsTheBusDoes) {
    Desk d;
    auto field = d.field([](FakeField& f) { f.text = QStringLiteral("ok 👍🏽 done"); });
    d.service.selectAll(d.service.focusedElement());
    EXPECT_EQ(field->selection.length, 10);  // the emoji with its skin tone is two code points
}

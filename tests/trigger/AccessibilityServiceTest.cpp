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
};

FakeField textField(const QString& text) {
    FakeField f;
    f.text = text;
    return f;
}

} // namespace

TEST(AccessibilityService, ReadsTheFocusedFieldWithItsPlaceAndSize) {
    Desk d;
    FakeField f = textField(QStringLiteral("Dear team, the meeting moves to Friday."));
    f.extents = {100, 200, 300, 40};
    d.desktop.addField(d.window, f);

    const auto info = d.service.getFocusedElementInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->text, QStringLiteral("Dear team, the meeting moves to Friday."));
    // Positions stay in the desktop's top-left space; the panel places itself against them.
    EXPECT_EQ(info->position, QPointF(100, 200));
    EXPECT_EQ(info->size, QSizeF(300, 40));
    EXPECT_EQ(info->kind, FieldKind::TextField);
    EXPECT_TRUE(info->element);
}

TEST(AccessibilityService, ValueRules) {
    struct Case {
        const char* name;
        std::function<void(FakeField&)> script;
        std::optional<QString> expected;
    };
    const std::vector<Case> cases = {
        {"empty field is an empty text, not nothing", [](FakeField& f) { f.text.clear(); }, QString()},
        {"number 42 reads as two characters", [](FakeField& f) { f.number = 42; }, QStringLiteral("42")},
        {"fraction keeps its shortest form", [](FakeField& f) { f.number = 0.5; }, QStringLiteral("0.5")},
        {"unreadable value gives nothing even with extents", [](FakeField& f) { f.readable = false; },
         std::nullopt},
        {"text is passed unchanged", [](FakeField& f) { f.text = QStringLiteral("  two\nlines \u200b"); },
         QStringLiteral("  two\nlines \u200b")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Desk d;
        FakeField f = textField(QStringLiteral("something"));
        c.script(f);
        d.desktop.addField(d.window, f);
        const auto info = d.service.getFocusedElementInfo();
        EXPECT_EQ(info ? std::optional<QString>(info->text) : std::nullopt, c.expected);
        EXPECT_EQ(d.service.focusedElementValue(), c.expected);
    }
}

TEST(AccessibilityService, PasswordFieldsAreNeverRead) {
    for (const bool byState : {false, true}) {
        SCOPED_TRACE(byState ? "password state" : "password role");
        Desk d;
        FakeField f = textField(QStringLiteral("hunter2-secret"));
        if (byState)
            f.states << QStringLiteral("password");
        else
            f.role = QStringLiteral("password text");
        auto field = d.desktop.addField(d.window, f);

        EXPECT_FALSE(d.service.getFocusedElementInfo());
        EXPECT_FALSE(d.service.focusedElementValue());
        const auto probe = d.service.probeFocusedElement();
        ASSERT_TRUE(probe);
        EXPECT_EQ(probe->kind, FieldKind::Password);
        EXPECT_EQ(field->valueReads, 0);
    }
}

TEST(AccessibilityService, NothingWithoutBusOrExposedElements) {
    {
        Desk d;
        d.desktop.addField(d.window, textField(QStringLiteral("hello there")));
        d.desktop.setAccessibilityAvailable(false);
        EXPECT_FALSE(d.service.getFocusedElementInfo());
        EXPECT_FALSE(d.service.probeFocusedElement());
        EXPECT_FALSE(d.service.focusedElementValue());
    }
    {
        Desk d;  // an app that exposes nothing (an Electron app without accessibility)
        d.window.accessible = false;
        d.desktop.addField(d.window, textField(QStringLiteral("hello there")));
        EXPECT_FALSE(d.service.getFocusedElementInfo());
        EXPECT_FALSE(d.service.probeFocusedElement());
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
        {QStringLiteral("document text"), {}, FieldKind::TextArea},
        {QStringLiteral("password text"), single, FieldKind::Password},
        {QStringLiteral("entry"), {QStringLiteral("password")}, FieldKind::Password},
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
        FakeField f = textField(QStringLiteral("hello world"));
        c.script(f);
        d.desktop.addField(d.window, f);
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
        std::function<void(FakeField&)> script;
        int status;
        bool readBack;
    };
    const std::vector<Case> cases = {
        {"write lands", [](FakeField&) {}, AccessibilityService::kSuccess, true},
        {"refused write answers the backend status, no read-back", [](FakeField& f) { f.writable = false; },
         -25200, false},
        {"accepted without effect", [](FakeField& f) { f.writeWithoutEffect = true; },
         AccessibilityService::kWriteHadNoEffect, true},
        {"read-back differs by a trailing line break",
         [](FakeField& f) { f.transformWrite = [](const QString& t) { return t + QLatin1Char('\n'); }; },
         AccessibilityService::kWriteHadNoEffect, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Desk d;
        FakeField f = textField(QStringLiteral("teh meeting moves to firday"));
        c.script(f);
        auto field = d.desktop.addField(d.window, f);
        const auto info = d.service.getFocusedElementInfo();
        ASSERT_TRUE(info);
        const int readsBefore = field->valueReads;
        EXPECT_EQ(d.service.replaceText(info->element, result), c.status);
        EXPECT_EQ(field->valueReads > readsBefore, c.readBack);
    }
}

TEST(AccessibilityService, WriteThatLandsInTheNewlyFocusedElementCounts) {
    Desk d;
    auto inner = d.desktop.addField(d.window, textField(QString()));
    FakeField outer = textField(QStringLiteral("draft"));
    outer.writeLandsIn = inner;
    d.desktop.addField(d.window, outer);
    const auto info = d.service.getFocusedElementInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(d.service.replaceText(info->element, QStringLiteral("final text")), AccessibilityService::kSuccess);
    EXPECT_EQ(inner->text, QStringLiteral("final text"));
}

TEST(AccessibilityService, SelectAllCoversEveryCharacter) {
    Desk d;
    auto field = d.desktop.addField(d.window, textField(QStringLiteral("ok 👍🏽 done")));
    const auto element = d.service.focusedElement();
    d.service.selectAll(element);
    // Characters are code points on the bus: the emoji with its skin tone is two of them.
    EXPECT_EQ(field->selection.start, 0);
    EXPECT_EQ(field->selection.length, 10);
}

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

    // A rich editor (a page's editable region, a mail body): paragraphs, a link, list items.
    static void richEditor(FakeField& f) {
        const auto object = [](const char* role, const QString& text, std::vector<std::shared_ptr<FakeField>> in = {}) {
            auto o = std::make_shared<FakeField>();
            o->role = QString::fromLatin1(role);
            o->text = text;
            o->embedded = std::move(in);
            return o;
        };
        f.role = QStringLiteral("section");
        f.text = QStringLiteral("\uFFFC\uFFFC\uFFFC");
        f.embedded = {object("paragraph", QStringLiteral("Dear 👨‍👩‍👧, see \uFFFC now."), {object("link", QStringLiteral("our plan 𠀀"))}),
                      object("list", QStringLiteral("\uFFFC\uFFFC"), {object("list item", QStringLiteral("• one")),
                                                                     object("list item", QStringLiteral("• two"))}),
                      object("paragraph", QStringLiteral("Bye\uFEFF"))};
    }
    void gecko() { window.toolkit = platform::Toolkit{QStringLiteral("Gecko"), QStringLiteral("128.3")}; }

    std::shared_ptr<FakeField> field(const std::function<void(FakeField&)>& script) {
        FakeField f;
        f.text = QStringLiteral("teh meeting moves to firday");
        script(f);
        return desktop.addField(window, f);
    }
};

} // namespace

const QString kRich = QStringLiteral("Dear 👨‍👩‍👧, see our plan 𠀀 now.\n• one\n• two\nBye\uFEFF");

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
        // What the user sees: embedded objects in place, in order; Gecko's U+FEFF after each character
        // outside the BMP dropped (its offsets count them), the user's own kept.
        {"rich editor", [](Desk&, FakeField& f) { Desk::richEditor(f); }, kRich},
        {"rich editor in Gecko", [](Desk& d, FakeField& f) { d.gecko(); Desk::richEditor(f); }, kRich},
        {"Gecko's fillers", [](Desk& d, FakeField& f) { d.gecko(); f.text = QStringLiteral("a 👍🏽\uFEFF 𠀀 z"); },
         QStringLiteral("a 👍🏽\uFEFF 𠀀 z")},
        {"another toolkit's U+FEFF after an emoji is the user's",
         [](Desk& d, FakeField& f) {
             d.window.toolkit = platform::Toolkit{QStringLiteral("GTK"), QStringLiteral("4.8.3")};
             f.text = QStringLiteral("🙂\uFEFF");
         },
         QStringLiteral("🙂\uFEFF")},
        // Never a text that still holds a placeholder, never a text that is not a field's.
        {"an embedded object without text (an image)",
         [](Desk&, FakeField& f) { Desk::richEditor(f); f.embedded[1]->embedded[0]->readable = false; }, std::nullopt},
        {"placeholders and no hypertext", [](Desk&, FakeField& f) { f.text = QStringLiteral("a \uFFFC b"); }, std::nullopt},
        {"a web page", [](Desk&, FakeField& f) { f.role = QStringLiteral("document web"); f.states = {QStringLiteral("focused")}; },
         std::nullopt},
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

// GTK 4 answers window coordinates when asked for screen ones (and for window ones); Qt 6.4 answers
// screen coordinates for both; GTK 3 tells them apart. The caret's (or the selection's) line is
// moved as its field is, cut to the field, and unknown where it is empty or off the field.
TEST(AccessibilityService, PlacesFieldsOnTheScreen) {
    const platform::Toolkit gtk4{QStringLiteral("GTK"), QStringLiteral("4.8.3")}, qt{QStringLiteral("Qt"), QStringLiteral("6.4.2")};
    const platform::Toolkit gtk3{QStringLiteral("gtk"), QStringLiteral("3.24.38")};
    const struct {
        const char* name;
        QRectF window, extents, windowExtents;
        platform::Toolkit toolkit;
        QPointF expected;
        QRectF caret;
        std::optional<QRectF> line;
    } cases[] = {
        {"GTK 4, window away from the corner", {700, 380, 700, 520}, {0, 47, 690, 463}, {0, 47, 690, 463}, gtk4, {700, 427},
         {10, 400, 2, 18}, QRectF(710, 780, 2, 18)},
        {"GTK 4, field that fits the window either way", {40, 30, 700, 520}, {60, 100, 300, 40}, {60, 100, 300, 40}, gtk4, {100, 130},
         {70, 110, 2, 17}, QRectF(110, 140, 2, 17)},
        {"Qt 6.4, the same answer on the screen", {40, 30, 700, 520}, {60, 100, 300, 40}, {60, 100, 300, 40}, qt, {60, 100},
         {70, 110, 2, 17}, QRectF(70, 110, 2, 17)},
        {"GTK 3, a selection running past the field's bottom", {300, 200, 302, 425}, {314, 233, 274, 338}, {13, 13, 274, 338},
         gtk3, {314, 233}, {320, 560, 200, 34}, QRectF(320, 560, 200, 11)},
        {"GTK 3, a caret after the last character", {300, 200, 302, 425}, {314, 233, 274, 338}, {13, 13, 274, 338},
         gtk3, {314, 233}, {0, 0, 0, 0}, std::nullopt},
        {"GTK 3, a caret scrolled out of sight", {300, 200, 302, 425}, {314, 233, 274, 338}, {13, 13, 274, 338},
         gtk3, {314, 233}, {320, 900, 2, 17}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Desk d;
        d.window.frame = c.window;
        d.window.toolkit = c.toolkit;
        d.field([&](FakeField& f) { f.extents = c.extents; f.windowExtents = c.windowExtents; f.caretExtents = c.caret; });
        AccessibilityService service(d.desktop, &d.desktop);
        const auto info = service.getFocusedElementInfo();
        ASSERT_TRUE(info);
        EXPECT_EQ(info->position, c.expected);
        EXPECT_EQ(info->size, c.extents.size());
        EXPECT_EQ(info->line, c.line);
        EXPECT_EQ(service.probeFocusedElement(true)->line, c.line) << "the probe of an unreadable field";
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
    const QStringList page{QStringLiteral("focused"), QStringLiteral("focusable"), QStringLiteral("multi-line")};
    struct Case {
        std::optional<QString> role;
        QStringList states;
        FieldKind kind;
        bool field; // read as a field at all
    };
    const std::vector<Case> cases = {
        {QStringLiteral("entry"), single, FieldKind::TextField, true},
        {QStringLiteral("text"), multi, FieldKind::TextArea, true},
        {QStringLiteral("text"), single, FieldKind::TextField, true},
        {QStringLiteral("password text"), single, FieldKind::Password, false},
        {std::nullopt, {QStringLiteral("password")}, FieldKind::Password, false},
        {QStringLiteral("terminal"), multi, FieldKind::Terminal, true},
        {QStringLiteral("push button"), {}, FieldKind::Other, false},
        {std::nullopt, multi, FieldKind::Other, true},
        // Rich editors: a page's editable region, a mail body.
        {QStringLiteral("section"), multi, FieldKind::TextArea, true},
        {QStringLiteral("document web"), multi, FieldKind::TextArea, true},
        {QStringLiteral("canvas"), multi, FieldKind::Other, true},
        // Every text object offers its text: a page, its paragraphs, a link, a read-only view.
        {QStringLiteral("document web"), page, FieldKind::Other, false},
        {QStringLiteral("paragraph"), {QStringLiteral("multi-line")}, FieldKind::Other, false},
        {QStringLiteral("link"), {QStringLiteral("focused")}, FieldKind::Other, false},
        {QStringLiteral("text"), page, FieldKind::Other, false},
        {QStringLiteral("entry"), {QStringLiteral("read-only"), QStringLiteral("single-line")}, FieldKind::Other, false},
        {QStringLiteral("entry"), {QStringLiteral("single-line")}, FieldKind::TextField, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.role.value_or(QStringLiteral("<none>")).toStdString() + " " + c.states.join(',').toStdString());
        EXPECT_EQ(AccessibilityService::classify(c.role, c.states), c.kind);
        EXPECT_EQ(AccessibilityService::isField(c.role, c.states), c.field);
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

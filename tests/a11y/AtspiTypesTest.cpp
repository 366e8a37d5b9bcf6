// Wire helpers of the accessibility backend: state sets, screen coordinates, settings tools.
#include "platform/linux/AtspiTypes.h"
#include "platform/linux/SessionAccessibilityStatus.h"
#include <gtest/gtest.h>

using namespace corvane::platform::linux_;
using namespace corvane::platform::linux_::atspi;

namespace {

TEST(AtspiStates, NamesEverySetBitAcrossBothWords) {
    const struct {
        const char* name;
        QList<uint> words;
        QStringList names;
    } cases[] = {
        {"empty", {}, {}},
        {"zero", {0u, 0u}, {}},
        {"focused_editable", {(1u << Focused) | (1u << Editable)}, {QStringLiteral("editable"), QStringLiteral("focused")}},
        {"second_word", {1u << Showing, 1u << (ReadOnly - 32)}, {QStringLiteral("showing"), QStringLiteral("read-only")}},
        {"bit_31", {1u << 31}, {QStringLiteral("manages-descendants")}},
        {"invalid_bit_is_not_a_state", {1u}, {}},
        {"unknown_high_bits_skipped", {0u, 0xFFFFF000u}, {}},
        {"multi_line", {1u << MultiLine}, {QStringLiteral("multi-line")}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(stateNames(c.words), c.names) << c.name;
}

TEST(AtspiStates, BitsOutsideTheSetAreNotSet) {
    EXPECT_FALSE(hasState({}, Focused));
    EXPECT_FALSE(hasState({0xFFFFFFFFu}, 40));
    EXPECT_FALSE(hasState({0xFFFFFFFFu}, -1));
    EXPECT_TRUE(hasState({0u, 1u << 11}, ReadOnly));
}

TEST(AtspiCoordinates, DevicePixelsBecomeLogicalPerScreen) {
    const QList<ScreenGeometry> single = {{QRect(0, 0, 1280, 800), 1}};
    const QList<ScreenGeometry> hidpi = {{QRect(0, 0, 1280, 800), 2}};
    // A 2x laptop at the origin and a 1x monitor to its right (Qt keeps each screen's origin).
    const QList<ScreenGeometry> mixed = {{QRect(0, 0, 1280, 800), 2}, {QRect(2560, 0, 1920, 1080), 1}};
    const struct {
        const char* name;
        QList<ScreenGeometry> screens;
        QRect native;
        QRectF logical;
    } cases[] = {
        {"no_screens", {}, QRect(10, 20, 30, 40), QRectF(10, 20, 30, 40)},
        {"unscaled", single, QRect(100, 200, 300, 40), QRectF(100, 200, 300, 40)},
        {"scaled", hidpi, QRect(200, 400, 600, 80), QRectF(100, 200, 300, 40)},
        {"mixed_first", mixed, QRect(1000, 500, 200, 60), QRectF(500, 250, 100, 30)},
        {"mixed_second", mixed, QRect(2600, 100, 300, 40), QRectF(2600, 100, 300, 40)},
        {"outside_every_screen", mixed, QRect(-400, -200, 20, 20), QRectF(-200, -100, 10, 10)},
        {"zero_ratio_counts_as_one", {{QRect(0, 0, 800, 600), 0}}, QRect(5, 6, 7, 8), QRectF(5, 6, 7, 8)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(toLogical(c.native, c.screens), c.logical) << c.name;
}

TEST(AccessibilitySettingsTool, PicksTheKnownToolOfTheCurrentDesktop) {
    const QStringList installed = {QStringLiteral("gnome-control-center"), QStringLiteral("systemsettings5"),
                                   QStringLiteral("xfce4-accessibility-settings")};
    auto exists = [&](const QString& p) { return installed.contains(p); };
    const struct {
        const char* desktop;
        QStringList command; // empty: none
    } cases[] = {
        {"GNOME", {QStringLiteral("gnome-control-center"), QStringLiteral("universal-access")}},
        {"ubuntu:GNOME", {QStringLiteral("gnome-control-center"), QStringLiteral("universal-access")}},
        {"KDE", {QStringLiteral("systemsettings5"), QStringLiteral("kcm_access")}},
        {"XFCE", {QStringLiteral("xfce4-accessibility-settings")}},
        {"MATE", {}},             // known, but its tool is not installed
        {"openbox", {}},
        {"", {}},
        {"LXQt:XFCE", {QStringLiteral("xfce4-accessibility-settings")}},
    };
    for (const auto& c : cases) {
        auto command = SessionAccessibilityStatus::settingsCommand(QString::fromLatin1(c.desktop), exists);
        EXPECT_EQ(command.value_or(QStringList{}), c.command) << c.desktop;
    }
}

// Focus events as toolkits send them: twice (GTK), without a loss (Qt), to buttons, as active
// descendants of a document (office suites), and more of them than are worth keeping.
TEST(FocusHistory, KeepsTheNewestCandidatesFirst) {
    enum Kind { Gain, Loss, Descendant, Gone };
    struct Event {
        Kind kind;
        const char* service;
        const char* path;
        const char* container = "";
    };
    using C = FocusCandidate;
    const auto q = [](const char* s) { return QString::fromLatin1(s); };
    const struct {
        const char* name;
        QList<Event> events;
        QList<C> expected;
    } cases[] = {
        {"nothing seen", {}, {}},
        {"a doubled event counts once", {{Gain, ":1.5", "/e"}, {Gain, ":1.5", "/e"}}, {{q(":1.5"), q("/e"), {}}}},
        {"newest first", {{Gain, ":1.5", "/e"}, {Gain, ":1.7", "/b"}}, {{q(":1.7"), q("/b"), {}}, {q(":1.5"), q("/e"), {}}}},
        {"a loss moves behind the others",
         {{Gain, ":1.5", "/a"}, {Gain, ":1.5", "/b"}, {Loss, ":1.5", "/b"}},
         {{q(":1.5"), q("/a"), {}}, {q(":1.5"), q("/b"), {}}}},
        {"a loss of an unseen element is kept as a last resort", {{Loss, ":1.5", "/a"}}, {{q(":1.5"), q("/a"), {}}}},
        {"one active descendant per container",
         {{Descendant, ":1.9", "/p1", "/doc"}, {Gain, ":1.5", "/e"}, {Descendant, ":1.9", "/p2", "/doc"}},
         {{q(":1.9"), q("/p2"), q("/doc")}, {q(":1.5"), q("/e"), {}}}},
        {"focus on a descendant keeps its container",
         {{Descendant, ":1.9", "/p1", "/doc"}, {Gain, ":1.9", "/p1"}}, {{q(":1.9"), q("/p1"), q("/doc")}}},
        {"a descendant in another application is ignored", {{Descendant, ":1.8", "/p1", "/doc"}}, {}},
        {"an application that left is forgotten",
         {{Gain, ":1.5", "/e"}, {Gain, ":1.7", "/b"}, {Gone, ":1.7", ""}}, {{q(":1.5"), q("/e"), {}}}},
        {"events without an element are ignored", {{Gain, "", "/e"}, {Gain, ":1.5", ""}}, {}},
    };
    for (const auto& c : cases) {
        FocusHistory h;
        for (const Event& e : c.events) {
            switch (e.kind) {
            case Gain: h.focusChanged(q(e.service), q(e.path), true); break;
            case Loss: h.focusChanged(q(e.service), q(e.path), false); break;
            // The descendant's service: ":1.9" for the document's own app, as the bus reports it.
            case Descendant: h.activeDescendantChanged(q(":1.9"), q(e.container), q(e.service), q(e.path)); break;
            case Gone: h.forgetApp(q(e.service)); break;
            }
        }
        EXPECT_EQ(h.candidates(), c.expected) << c.name;
    }

    FocusHistory many;
    for (int i = 0; i < FocusHistory::kMaxRemembered + 3; ++i)
        many.focusChanged(QStringLiteral(":1.5"), QStringLiteral("/e%1").arg(i), true);
    ASSERT_EQ(many.candidates().size(), FocusHistory::kMaxRemembered);
    EXPECT_EQ(many.candidates().first().path, QStringLiteral("/e%1").arg(FocusHistory::kMaxRemembered + 2));
    EXPECT_TRUE(many.seenAny());
}

// The last element of each application to gain focus, whatever focus changes came after it.
TEST(FocusHistory, RemembersEachApplicationsLastFocus) {
    const auto q = [](const char* s) { return QString::fromLatin1(s); };
    enum Kind { Gain, Loss, Descendant, Gone, NewBus };
    const struct {
        const char* name;
        QList<std::pair<Kind, const char*>> events; // in the application ":1.5", but for "other:"
        std::optional<QString> last;
    } cases[] = {
        {"focused", {{Gain, "/field"}}, q("/field")},
        {"lost to nothing (a grab)", {{Gain, "/field"}, {Loss, "/field"}}, q("/field")},
        {"lost to a button", {{Gain, "/field"}, {Gain, "/button"}, {Loss, "/field"}}, q("/button")},
        {"lost to a list item", {{Gain, "/field"}, {Descendant, "/item"}, {Loss, "/field"}}, q("/item")},
        {"another application's focus counts not", {{Gain, "/field"}, {Gain, "other:/b"}}, q("/field")},
        {"never seen focused", {{Loss, "/field"}}, std::nullopt},
        {"application gone", {{Gain, "/field"}, {Gone, ""}}, std::nullopt},
        {"the bus was replaced (its names go to others)", {{Gain, "/field"}, {NewBus, ""}}, std::nullopt},
    };
    for (const auto& c : cases) {
        FocusHistory h;
        for (const auto& [kind, what] : c.events) {
            const QString path = q(what).section(QLatin1Char(':'), -1);
            const QString service = q(what).startsWith(QLatin1String("other:")) ? q(":1.7") : q(":1.5");
            switch (kind) {
            case Gain: h.focusChanged(service, path, true); break;
            case Loss: h.focusChanged(service, path, false); break;
            case Descendant: h.activeDescendantChanged(service, q("/list"), service, path); break;
            case Gone: h.forgetApp(service); break;
            case NewBus: h.clear(); break;
            }
        }
        EXPECT_EQ(h.lastFocused(q(":1.5")), c.last) << c.name;
    }
}

} // namespace

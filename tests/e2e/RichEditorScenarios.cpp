// Rich-text editors: a page's editable region in Firefox and Thunderbird's HTML compose window give
// their paragraphs and links as objects embedded in their text, and Gecko puts U+FEFF after each
// character outside the Basic Multilingual Plane. Every word the user sees reaches the model
// exactly, and Replace leaves the answer. Where no field has the focus (a page, a link on it),
// nothing reaches the model server.
#include "e2e/ScenarioFixture.h"

namespace corvane::e2e {
namespace {

const QByteArray kBody = "<p>Hi team, the launch moves to <a href=\"https://example.org/plan\">the plan for Friday</a> as "
                         "we said.</p><p>Bring 👨‍👩‍👧 photos and the 𠀀 seal.</p><p>Thanks, Ana</p>";
const QString kShown = QStringLiteral(
    "Hi team, the launch moves to the plan for Friday as we said.\nBring 👨‍👩‍👧 photos and the 𠀀 seal.\nThanks, Ana");

// The link has the focus first; Escape leaves the focus on the page itself. The title tells when the
// editor has it.
const QByteArray kPage = "<!doctype html><html><head><meta charset=\"utf-8\"><title>Corvane rich</title></head><body>"
                         "<p>Account 1234-5678-9012, balance 10,432.17 EUR, PIN reminder 4321.</p><p><a id=\"statement\" "
                         "href=\"#statement\">Statement of account</a></p><div contenteditable=\"true\">" + kBody +
                         "</div><script>document.getElementById('statement').focus();"
                         "document.addEventListener('keydown', e => { if (e.key === 'Escape') document.activeElement.blur(); });"
                         "document.querySelector('[contenteditable]').addEventListener('focus', () => "
                         "document.title = 'Corvane rich: editing');</script></body></html>\n";

struct RichEditor {
    const char* id;
    QString title; // a part of the window title once the editor has the keyboard
    bool page;     // Firefox's page, where a link and the page's own text can have the focus; else a mail body
};
void PrintTo(const RichEditor& editor, std::ostream* os) { *os << editor.id; }

class RichEditorScenario : public Scenario, public ::testing::WithParamInterface<RichEditor> {};

TEST_P(RichEditorScenario, EveryWordReachesTheModelAndReplaceLeavesTheAnswer) {
    const RichEditor& editor = GetParam();
    const QString answer = QStringLiteral(
        "Hi team, the launch moves to Friday, as planned.\nBring 👨‍👩‍👧 photos and the 𠀀 seal, please.\nThanks, Ana");
    server.respond(streamedAnswer({answer}, 0));
    startCorvane({.endpoint = {}, .ctrlAltSpaceHotkey = true});
    const QString dir = scratch(QStringLiteral("app"));
    auto app = editor.page ? startFirefox(dir, kPage)
                           : startThunderbirdCompose(dir, "<html><body>" + kBody + "</body></html>\n");
    ASSERT_TRUE(waitUntil([&] { return activeWindowTitle().contains(editor.title); }, 120000))
        << editor.id << " did not come up; active: " << activeWindowTitle().toStdString();

    if (editor.page) {
        // A focused link, then the page itself: space taps there scroll and do nothing; the shortcut
        // says that no field has the focus.
        const QString noField = QStringLiteral("No text field has the keyboard focus, so there is nothing to work "
                                               "on. Click into the text you want to work on, then try again.");
        // A browser tells the bus about its focus a moment after it moved: asked again until it shows.
        const auto shortcutSaysNoField = [&] {
            return waitUntil([&] {
                return pressKeys({QStringLiteral("ctrl+alt+space")}) &&
                       waitUntil([&] { return panel->shows(noField); }, 3000);
            });
        };
        for (const QString& away : {QString(), QStringLiteral("Escape")}) {
            SCOPED_TRACE(away.isEmpty() ? "a link" : "the page");
            ASSERT_TRUE(away.isEmpty() || pressKeys({away}));
            ASSERT_TRUE(shortcutSaysNoField()) << context();
            tripleSpace();
            ASSERT_TRUE(shortcutSaysNoField()) << context();
            shot(away.isEmpty() ? QStringLiteral("link") : QStringLiteral("page"));
        }
        EXPECT_TRUE(waitUntil([&] {
            return corvane->diagLog().count(QStringLiteral("trigger IGNORED: no text field focused (source=space)")) == 2;
        })) << context();
        EXPECT_TRUE(server.requests().isEmpty()) << "the page's text was sent";
        ASSERT_TRUE(pressKeys({QStringLiteral("Tab")})); // into the editor
        ASSERT_TRUE(waitUntil([] { return activeWindowTitle().contains(QStringLiteral("editing")); }));
    }

    // Its paragraphs, its link's words, the emoji sequence and the rare character, exactly.
    ASSERT_TRUE(pressKeys({QStringLiteral("ctrl+End")}));
    tripleSpace();
    ASSERT_TRUE(waitForRequests(1)) << context();
    EXPECT_TRUE(userMessage(0).contains(QStringLiteral("(read=ax)"))) << userMessage(0).toStdString();
    EXPECT_TRUE(userMessage(0).contains(QStringLiteral("[Input text]\n") + kShown + QStringLiteral("\n\n")))
        << userMessage(0).toStdString();
    ASSERT_TRUE(waitUntil([&] { return panel->title() == QStringLiteral("Done") && panel->texts().contains(answer); }))
        << context();
    shot(QStringLiteral("done"));
    ASSERT_TRUE(waitUntil([&] { // the panel may still be settling: a click that missed is made again
        return panel->click(QStringLiteral("Replace")) &&
               waitUntil([&] { return corvane->activityStatuses().value(0) == stored::replaced; }, 3000);
    })) << context();
    ASSERT_TRUE(waitPanelHidden()) << context();
    // The paste is checked by reading the field back; a failed check would add a "failed" record.
    EXPECT_FALSE(waitUntil([&] { return corvane->activityStatuses().value(0) == stored::failed; }, 1500)) << context();

    // The editor holds the answer, character for character: the next run reads exactly it.
    ASSERT_TRUE(pressKeys({QStringLiteral("ctrl+End")}));
    tripleSpace();
    ASSERT_TRUE(waitForRequests(2)) << context();
    EXPECT_TRUE(userMessage(1).contains(QStringLiteral("[Input text]\n") + answer + QStringLiteral("\n\n")))
        << userMessage(1).toStdString();
    ASSERT_TRUE(waitUntil([&] { return panel->click(QStringLiteral("Cancel")); })) << context();
    ASSERT_TRUE(waitPanelHidden()) << context();
    shot(QStringLiteral("end"));
    EXPECT_TRUE(app->running());
}

INSTANTIATE_TEST_SUITE_P(RichEditors, RichEditorScenario,
                         ::testing::Values(RichEditor{"Firefox", QStringLiteral("Corvane rich"), true},
                                           RichEditor{"Thunderbird", QStringLiteral("Write: Launch"), false}),
                         [](const ::testing::TestParamInfo<RichEditor>& info) { return std::string(info.param.id); });

} // namespace
} // namespace corvane::e2e

// The view as a user sees it: texts from the model stay plain and inside the 420 px panel, the
// result follows the stream, and the look follows a light or dark palette.
#include "PanelFixture.h"
#include "panel/CVDesign.h"
#include "panel/PanelWidgets.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>

using namespace corvane::panel;
using namespace corvane::panel::testing;

namespace {

using View = PanelTest;

struct Hostile {
    const char* name;
    QString text;
};

QList<Hostile> hostileTexts() {
    return {
        {"markup", QStringLiteral("<b>bold</b> <a href=\"file:///etc/passwd\">link</a> <img src=\"x\"> &amp; <table>")},
        {"one endless word", QString(20000, QLatin1Char('W'))},
        {"long prose", QStringLiteral("All work and no play makes a dull day. ").repeated(400)},
        {"CJK", QString::fromUtf8("这是一个非常长的中文句子，没有任何空格可以用来换行。").repeated(60)},
        {"emoji", QString::fromUtf8("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80"
                                    "\x8D\xF0\x9F\x91\xA7 ")
                      .repeated(300)},
        {"right to left", QString::fromUtf8("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD8\xB9\xD8\xA7\xD9\x84\xD9\x85 "
                                            "\xE2\x80\xAE reversed \xE2\x80\xAC")
                              .repeated(200)},
        {"many lines", QStringLiteral("line\n").repeated(500)},
    };
}

// Every widget the user can see lies inside the panel.
void expectInside(QWidget* panel, const char* name) {
    const QRect bounds = panel->rect();
    const auto children = panel->findChildren<QWidget*>();
    for (QWidget* w : children) {
        if (!w->isVisibleTo(panel) || w->isWindow())
            continue;
        const QRect r(w->mapTo(panel, QPoint(0, 0)), w->size());
        EXPECT_TRUE(bounds.contains(r)) << name << ": " << w->objectName().toStdString() << " at "
                                        << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
    }
}

TEST_F(View, HostileTextStaysPlainAndInsideThePanel) {
    for (const auto& h : hostileTexts()) {
        recipes.recipes = {{QStringLiteral("evil"), h.text}, {QStringLiteral("optimize"), QStringLiteral("Optimize")}};
        engine.source = corvane::trigger::RecipeSource::appRule(h.text);
        engine.bundleID = QStringLiteral("org.example.Editor");

        controller.show(h.text, QPointF(100, 400), QSizeF(300, 30), QStringLiteral("evil"));
        controller.showResult(h.text);
        QApplication::processEvents();
        EXPECT_EQ(window()->width(), 420) << h.name;
        EXPECT_LE(view()->minimumSizeHint().width(), 420) << h.name;
        EXPECT_EQ(find<PlainTextBox>("originalText")->toPlainText(), h.text) << h.name;
        EXPECT_EQ(find<PlainTextBox>("resultText")->toPlainText(), h.text) << h.name;
        EXPECT_LE(find<QComboBox>("recipePicker")->width(), 150) << h.name;
        EXPECT_EQ(find<QComboBox>("recipePicker")->currentText(), h.text) << h.name;
        auto* note = find<ElidedLabel>("recipeNote");
        EXPECT_EQ(note->textFormat(), Qt::PlainText) << h.name;
        EXPECT_EQ(note->fullText(), QStringLiteral("App rule: ") + h.text) << h.name;
        for (const QLabel* label : view()->findChildren<QLabel*>())
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << h.name << ": " << label->objectName().toStdString();
        expectInside(window(), h.name);

        controller.showError(h.text);
        QApplication::processEvents();
        EXPECT_EQ(find<PlainTextBox>("errorText")->toPlainText(), h.text) << h.name;
        EXPECT_EQ(window()->width(), 420) << h.name;
        expectInside(window(), h.name);

        controller.showDraft(std::nullopt, QSizeF(), QStringLiteral("evil"));
        find<QPlainTextEdit>("draftEditor")->setPlainText(h.text);
        QApplication::processEvents();
        EXPECT_EQ(state().draftInput(), h.text) << h.name;
        expectInside(window(), h.name);
    }
}

TEST_F(View, ResultPlaceholderAndStreaming) {
    enterOptimizing();
    auto* result = find<PlainTextBox>("resultText");
    EXPECT_EQ(result->text(), QStringLiteral("...")) << "three full stops while nothing has arrived";
    controller.updateResult(QStringLiteral("The"));
    EXPECT_EQ(result->text(), QStringLiteral("The"));
    controller.updateResult(QStringLiteral("The quick"));
    EXPECT_EQ(result->toPlainText(), QStringLiteral("The quick"));
    controller.showResult(QString());
    EXPECT_EQ(result->text(), QString()) << "an empty final result shows as empty";
}

TEST_F(View, EveryChangeOfTheResultScrollsToItsBottom) {
    enterOptimizing();
    QApplication::processEvents();
    auto* bar = find<PlainTextBox>("resultText")->verticalScrollBar();
    QString text;
    for (int i = 0; i < 60; ++i) {
        text += QStringLiteral("token %1\n").arg(i);
        controller.updateResult(text);
    }
    QApplication::processEvents();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());

    bar->setValue(0); // the reader scrolls up
    state().setRecipeNote(QStringLiteral("unrelated change"));
    EXPECT_EQ(bar->value(), 0) << "only changes of the result scroll";
    controller.showResult(text + QStringLiteral("the end"));
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), bar->maximum()) << "even after the user scrolled up";
}

TEST_F(View, StreamedPiecesAreDrawnOncePerFrameAndTheResultEndsExact) {
    enterOptimizing();
    auto* result = find<PlainTextBox>("resultText");
    QString whole;
    const auto stream = [&](const QString& piece) {
        whole += piece;
        controller.appendResult(piece, whole);
        EXPECT_EQ(state().optimizedText(), whole) << "the model holds the whole text at every point";
    };
    for (const char* piece : {"The", " quick", " brown"})
        stream(QString::fromLatin1(piece));
    EXPECT_EQ(result->text(), QStringLiteral("...")) << "pieces wait for the frame";
    clock.advance(0);
    EXPECT_EQ(result->toPlainText(), QStringLiteral("The quick brown")) << "one frame draws every piece";

    stream(QStringLiteral(" fox"));
    clock.advance(FloatingPanelView::frameMs - 1);
    EXPECT_EQ(result->text(), QStringLiteral("The quick brown")) << "at most one frame per interval";
    clock.advance(1);
    EXPECT_EQ(result->toPlainText(), QStringLiteral("The quick brown fox"));

    stream(QStringLiteral(" jumps "));
    controller.showResult(QStringLiteral("The quick brown fox jumps."));
    EXPECT_EQ(result->toPlainText(), QStringLiteral("The quick brown fox jumps.")) << "the final text, at once";
    clock.runAll();
    EXPECT_EQ(result->toPlainText(), QStringLiteral("The quick brown fox jumps."));

    // A piece that does not continue the model's text (the panel was opened anew meanwhile) leaves
    // the model with the whole text given.
    enterOptimizing();
    controller.appendResult(QStringLiteral(" more"), QStringLiteral("earlier text more"));
    EXPECT_EQ(state().optimizedText(), QStringLiteral("earlier text more"));
    clock.runAll();
    EXPECT_EQ(find<PlainTextBox>("resultText")->toPlainText(), QStringLiteral("earlier text more"));
}

TEST_F(View, ALongTextIsLaidOutInStepsAndEndsExact) {
    enterOptimizing();
    auto* box = find<PlainTextBox>("resultText");
    QString text;
    for (int i = 0; text.size() < 3 * PlainTextBox::sliceChars; ++i)
        text += QStringLiteral("Paragraph %1 of a long answer, with some words in it.\n").arg(i);
    struct Step {
        const char* name;
        QString text;
    };
    const Step steps[] = {
        {"a long text", text},
        {"the same text cleaned: its tail cut", text.first(text.size() - 40)},
        {"another long text", QStringLiteral("Another start. ") + text},
        {"one long paragraph", QStringLiteral("word ").repeated(20000)},
    };
    for (const Step& s : steps) {
        box->setText(s.text);
        EXPECT_EQ(box->text(), s.text) << s.name;
        box->scrollToBottom();
        clock.runAll();
        EXPECT_TRUE(box->isComplete()) << s.name;
        EXPECT_EQ(box->toPlainText(), s.text) << s.name;
        EXPECT_EQ(box->verticalScrollBar()->value(), box->verticalScrollBar()->maximum())
            << s.name << ": the end is followed while it is laid out";
    }
    controller.show(text, std::nullopt, QSizeF(), QStringLiteral("optimize"));
    auto* original = find<PlainTextBox>("originalText");
    EXPECT_LE(original->toPlainText().size(), PlainTextBox::firstSliceChars) << "the panel opens with what it shows";
    clock.runAll();
    EXPECT_EQ(original->toPlainText(), text);
}

TEST_F(View, AMultiLineRecipeNoteShowsOnlyItsFirstLine) {
    enterDone();
    state().setRecipeNote(QStringLiteral("First line of the note\nSecond line\nThird"));
    auto* note = find<ElidedLabel>("recipeNote");
    EXPECT_TRUE(note->text().startsWith(QStringLiteral("First"))) << note->text().toStdString();
    EXPECT_FALSE(note->text().contains(QStringLiteral("Second")));
    EXPECT_LT(note->sizeHint().height(), 2 * note->fontMetrics().lineSpacing()) << "one line high";
}

TEST_F(View, PickerShowsNoSelectionForAnUnknownRecipe) {
    enterOptimizing();
    state().setSelectedRecipeID(QStringLiteral("deleted"));
    auto* picker = find<QComboBox>("recipePicker");
    EXPECT_EQ(picker->currentIndex(), -1);
    Q_EMIT picker->activated(2);
    EXPECT_EQ(engine.calls, QStringList{QStringLiteral("rerun(none)")});
    EXPECT_EQ(recipes.selected, QStringLiteral("translate-en"));

    state().setRecipes({});
    EXPECT_EQ(picker->count(), 0);
}

TEST_F(View, TheOriginalAreaIsCappedAndTheResultAreaNeverCollapses) {
    enterDone(QStringLiteral("short"));
    controller.show(QStringLiteral("paragraph\n").repeated(40), std::nullopt, QSizeF(), QStringLiteral("optimize"));
    controller.showResult(QStringLiteral("result"));
    QApplication::processEvents();
    auto* original = find<PlainTextBox>("originalText");
    EXPECT_LE(original->height(), 72);
    EXPECT_GT(original->verticalScrollBar()->maximum(), 0) << "the original scrolls";
    EXPECT_GE(find<PlainTextBox>("resultText")->height(), 48);
}

TEST(Design, TheAccentFollowsTheAppearance) {
    QPalette light;
    light.setColor(QPalette::Window, QColor(246, 246, 246));
    light.setColor(QPalette::WindowText, Qt::black);
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(40, 40, 44));
    dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
    EXPECT_EQ(CVDesign::accent(light), QColor(91, 103, 241));
    EXPECT_EQ(CVDesign::accent(dark), QColor(123, 134, 245));
    EXPECT_FALSE(CVDesign::isDark(light));
    EXPECT_TRUE(CVDesign::isDark(dark));

    // A shown view picks up a palette switch without being rebuilt.
    FloatingPanelState state;
    state.setStatus(FloatingPanelStatus::Done);
    QWidget window;
    window.setPalette(light);
    FloatingPanelView view(state, {}, &window);
    window.resize(420, 280);
    view.resize(420, 280);
    window.show();
    auto* copy = view.findChild<QWidget*>(QStringLiteral("copyButton"));
    EXPECT_EQ(copy->palette().color(QPalette::ButtonText), CVDesign::accentText(light));
    window.setPalette(dark);
    EXPECT_EQ(copy->palette().color(QPalette::ButtonText), CVDesign::accentText(dark));
    EXPECT_NE(CVDesign::accentText(dark), CVDesign::accentText(light));
    EXPECT_EQ(view.palette().color(QPalette::Highlight), CVDesign::accentFill()) << "white on it reads in both";
}

// The darkest opaque pixel a text box draws (its background is transparent): the colour of its text.
QColor inkOf(QWidget* w) {
    const QImage img = w->grab().toImage();
    QColor ink = Qt::white;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c.alpha() == 255 && c.red() + c.green() + c.blue() < ink.red() + ink.green() + ink.blue())
                ink = c;
        }
    return ink;
}

TEST(Design, TextBoxesDrawTheirTextInTheirOwnColours) {
    QPalette light;
    light.setColor(QPalette::Window, QColor(246, 246, 246));
    light.setColor(QPalette::WindowText, Qt::black);
    FloatingPanelState state;
    state.setOriginalText(QStringLiteral("Original words IIII llll"));
    state.setErrorMessage(QStringLiteral("The request failed IIII llll"));
    state.setStatus(FloatingPanelStatus::Error);
    QWidget window;
    window.setPalette(light);
    FloatingPanelView view(state, {}, &window);
    window.resize(420, 280);
    view.resize(420, 280);
    window.show();

    struct Case {
        const char* box;
        QColor expected;
    };
    const Case cases[] = {{"errorText", CVDesign::red(light)}, {"originalText", CVDesign::secondary(light)}};
    for (const Case& c : cases) {
        const QColor ink = inkOf(view.findChild<QWidget*>(QString::fromLatin1(c.box)));
        EXPECT_NEAR(ink.red(), c.expected.red(), 24) << c.box << " draws " << ink.name().toStdString();
        EXPECT_NEAR(ink.green(), c.expected.green(), 24) << c.box << " draws " << ink.name().toStdString();
        EXPECT_NEAR(ink.blue(), c.expected.blue(), 24) << c.box << " draws " << ink.name().toStdString();
    }
}

TEST(Design, BundledIconsRenderInTheirTint) {
    const QColor accent(91, 103, 241);
    for (const char* name : {"draft", "done", "error", "copy", "close"}) {
        const QImage img = CVDesign::icon(QString::fromLatin1(name), accent, 32).toImage();
        int tinted = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                if (c.alpha() == 255) {
                    ++tinted;
                    EXPECT_EQ(c.rgb(), accent.rgb()) << name;
                    if (c.rgb() != accent.rgb())
                        return;
                }
            }
        EXPECT_GT(tinted, 20) << name << " drew nothing";
    }
}

} // namespace

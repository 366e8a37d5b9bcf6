// Pictures of every tab at 10, 11 and 14 pt, light and in dark palettes, saved under the build folder
// (artifacts/settings/*.png) for a person to look at. Each must be opaque and follow its theme, every
// text in it must read at 4.5:1 against what is behind it, measured on the picture, every text and
// control has its room at the desktop's font, and no tab needs to scroll. On the API tab, no message
// of any length moves a control or makes the page scroll.
#include "SettingsFixture.h"
#include "panel/CVDesign.h"
#include "settings/AboutTab.h"
#include "support/DarkPalette.h"
#include "support/LayoutChecks.h"
#include "support/TextContrast.h"

#include <QDir>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QScrollArea>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <cstdio>
#include <functional>

using namespace corvane;
using namespace corvane::settings;
using namespace corvane::settings::testing;

using corvane::testsupport::darkPalettes;

namespace {

// Where the API tab's controls below a note are, by object name.
QMap<QString, QPoint> apiControls(SettingsView& view) {
    QMap<QString, QPoint> at;
    for (const char* name : {"apiKeyField", "timeoutField", "outputLanguagePicker", "testConnectionButton"}) {
        const auto* w = view.findChild<QWidget*>(QString::fromLatin1(name));
        at.insert(QString::fromLatin1(name), w ? w->mapTo(&view, QPoint(0, 0)) : QPoint(-1, -1));
    }
    return at;
}

QString describe(const QMap<QString, QPoint>& at) {
    QStringList parts;
    for (auto it = at.cbegin(); it != at.cend(); ++it)
        parts << QStringLiteral("%1 %2,%3").arg(it.key()).arg(it->x()).arg(it->y());
    return parts.join(QStringLiteral("; "));
}

class Screenshots : public SettingsTest {
protected:
    void settle() {
        for (int n = 0; n < 3; ++n)
            QApplication::processEvents();
    }

    // Every message the API tab's notes can show, one after the other: the controls below stay
    // where they were with no message, and the page needs no more scrolling than without one.
    void apiNotesKeepTheirRoom(SettingsView& view, const char* theme) {
        auto* fetch = view.findChild<QPushButton*>(QStringLiteral("fetchModelsButton"));
        auto* test = view.findChild<QPushButton*>(QStringLiteral("testConnectionButton"));
        auto* key = view.findChild<QLineEdit*>(QStringLiteral("apiKeyField"));
        auto* page = view.tabs()->currentWidget()->findChild<QScrollArea*>();
        const auto answered = [&](QPushButton* button) {
            button->click();
            clock.advance(100);
        };
        const auto failConnection = [&](const llm::UpdateProbeError& error) {
            probeAnswer = {std::nullopt, error};
            answered(test);
        };
        settle();
        const QMap<QString, QPoint> before = apiControls(view);
        const int scrollBefore = page->verticalScrollBar()->maximum();
        std::printf("positions %-5s %-34s %s\n", theme, "no message", qPrintable(describe(before)));
        const struct {
            const char* note;
            std::function<void()> show;
        } notes[] = {
            {"fetching", [&] { fetch->click(); }},
            {"fetch failed", [&] {
                 modelsAnswer = {std::nullopt, llm::UpdateProbeError::http(404, {})};
                 answered(fetch);
             }},
            {"empty list", [&] {
                 modelsAnswer = {QStringList{}, {}};
                 answered(fetch);
             }},
            {"key not saved",
             [&] {
                 secrets.failSaves = true;
                 key->setText(QStringLiteral("sk-new"));
                 Q_EMIT key->textEdited(key->text());
                 Q_EMIT key->editingFinished();
                 secrets.failSaves = false;
             }},
            {"connection failed",
             [&] {
                 failConnection(llm::UpdateProbeError::providerMessage(
                     QStringLiteral("The server refused the request: the model e2e-model does not exist or you "
                                    "have no access to it. Check the model name and try again.")));
             }},
            {"HTTP 401 with the provider's text",
             [&] {
                 failConnection(llm::UpdateProbeError::http(
                     401, QStringLiteral(R"({"error":{"message":"%1","code":"invalid_api_key"}})").arg(kProviderText)));
             }},
            {"a provider's text of 40 lines",
             [&] { failConnection(llm::UpdateProbeError::providerMessage(kProviderText.repeated(20))); }},
        };
        for (const auto& n : notes) {
            n.show();
            settle();
            const QMap<QString, QPoint> after = apiControls(view);
            std::printf("positions %-5s %-34s %s\n", theme, n.note, qPrintable(describe(after)));
            EXPECT_EQ(describe(after), describe(before)) << theme << ", " << n.note;
            EXPECT_EQ(page->verticalScrollBar()->maximum(), scrollBefore) << theme << ", " << n.note;
        }
        // The longest message is all there, and scrolls inside its box.
        EXPECT_TRUE(view.findChild<QLabel*>(QStringLiteral("testResult"))->text().trimmed().endsWith(kProviderText.trimmed()));
        EXPECT_GT(view.findChild<QScrollArea*>(QStringLiteral("testResultBox"))->verticalScrollBar()->maximum(), 0)
            << theme;
    }

    const QString kProviderText = QStringLiteral(
        "Incorrect API key provided: sk-proj-****************************************Xy7Q. You can find your API "
        "key at https://provider.example/account/api-keys. ");

    // Every text label and card heading has its font's room, every field's hint shows whole, and the
    // notes keep their size in proportion to the desktop's font.
    static void expectTextsHaveTheirRoom(SettingsView& view, const QString& look) {
        const int labelPixels = QFontInfo(QApplication::font()).pixelSize();
        testsupport::expectLaidOutWhole(view.tabs()->currentWidget(), look);
        for (QLabel* label : view.findChildren<QLabel*>()) {
            const QString role = label->property("cvRole").toString();
            const int pixels = QFontInfo(label->font()).pixelSize();
            EXPECT_TRUE(role != QLatin1String("cardTitle") || pixels >= labelPixels) << qPrintable(label->text());
            EXPECT_TRUE(role != QLatin1String("microNote") || pixels >= qRound(labelPixels * 10 / 13.0))
                << qPrintable(look) << " " << qPrintable(label->objectName());
        }
        testsupport::expectPlaceholdersWhole(view.tabs()->currentWidget(), look);
    }
};

TEST_F(Screenshots, EveryTabInLightAndDark) {
    status.current.enabled = false;
    grabber.takenByOtherApp(49, 0x80000);
    hotkeys.sync({{QStringLiteral("global"), 49, 0x80000}}, {});
    rules.setHotkey(rules.rules().first().bundleID, 15, 0xC0000);
    recipes.updateSystemPrompt(recipes.selectedRecipe().id, QStringLiteral("Rewrite it politely.")); // "Reset to Default"
    const QString dir = QStringLiteral(CORVANE_SETTINGS_ARTIFACTS);
    QDir().mkpath(dir);
    const char* names[] = {"api", "recipes", "app-rules", "trigger", "about"};
    const QPalette light = QApplication::palette();
    const QFont originalFont = QApplication::font();
    // Saves the picture as settings-<name>-<look>.png; every text in it must read.
    const auto shoot = [&](SettingsView& view, const QString& name, const QString& look) {
        settle();
        const QImage shot = view.grab().toImage();
        const QString file = QStringLiteral("%1/settings-%2-%3.png").arg(dir, name, look);
        EXPECT_TRUE(shot.save(file)) << file.toStdString();
        testsupport::expectReadable(shot, testsupport::shownTexts(&view, view.tabs()->currentWidget()),
                                    look + QLatin1Char(' ') + name);
        return shot;
    };
    const auto themes = QList<testsupport::NamedPalette>{{"light", light}} + darkPalettes();
    for (const int points : {10, 11, 14}) {
        for (const testsupport::NamedPalette& theme : themes) {
            const bool dark = theme.palette.color(QPalette::Window).lightness() < 128;
            const QString look = QStringLiteral("%1pt-%2").arg(points).arg(QString::fromLatin1(theme.name));
            // The desktop's font and theme are in force before the window is built, as at a real start.
            QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), points));
            QApplication::setPalette(theme.palette);
            SettingsView view(deps);
            view.show();
            for (int i = 0; i < view.tabs()->count(); ++i) {
                view.tabs()->setCurrentIndex(i);
                if (i == 0) { // the API tab's notes, then a fetched model list and a passed connection test
                    apiNotesKeepTheirRoom(view, look.toLatin1().constData());
                    shoot(view, QStringLiteral("api-provider-message"), look); // the provider's long message
                    modelsAnswer = {QStringList{QStringLiteral("gpt-4o"), QStringLiteral("gpt-4o-mini")}, {}};
                    probeAnswer = {llm::ProbeResult{42, QStringLiteral("Hello! How can I help?")}, {}};
                    view.findChild<QPushButton*>(QStringLiteral("fetchModelsButton"))->click();
                    view.findChild<QPushButton*>(QStringLiteral("testConnectionButton"))->click();
                    clock.advance(100);
                }
                const QImage shot = shoot(view, QString::fromLatin1(names[i]), look);
                const QColor corner = shot.pixelColor(2, shot.height() - 3);
                EXPECT_EQ(corner.alpha(), 255) << names[i];
                EXPECT_EQ(corner.lightness() < 128, dark) << names[i] << ": the picture follows the theme";
                // Where the screen is tall enough (a large font on a laptop's screen may not be).
                const bool screenFull = view.height() >= view.screen()->availableGeometry().height() - 4 * panel::CVDesign::space4;
                EXPECT_TRUE(screenFull || !view.tabs()->currentWidget()->findChild<QScrollArea*>()->verticalScrollBar()->isVisible())
                    << qPrintable(look) << " " << names[i] << ": the window opens large enough for every tab";
                expectTextsHaveTheirRoom(view, look + QLatin1Char(' ') + QString::fromLatin1(names[i]));
                const auto y = [&](const char* name) { return view.findChild<QWidget*>(QLatin1String(name))->mapTo(&view, QPoint()).y(); };
                EXPECT_TRUE(i != 3 || (y("tapCountField") < y("tapNote") && y("tapNote") < y("tapIntervalField")))
                    << qPrintable(look) << ": the tap note stands under its own control";
            }
            // The About tab's status line once accessibility is on, in the accent.
            status.current.enabled = true;
            view.findChild<AboutTab*>()->reload();
            shoot(view, QStringLiteral("about-granted"), look);
            status.current.enabled = false;
        }
    }
    QApplication::setPalette(light);
    QApplication::setFont(originalFont);
}

} // namespace

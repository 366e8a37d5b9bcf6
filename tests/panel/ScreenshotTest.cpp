// Pictures of the panel in each status, light and dark, saved under the build folder
// (artifacts/panel/*.png) for a person to look at. Each picture must be opaque and in its theme, and
// every text in it must read at 4.5:1 against what is behind it, measured on the picture.
#include "PanelFixture.h"
#include "panel/CVDesign.h"
#include "support/DarkPalette.h"
#include "support/TextContrast.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPlainTextEdit>

using namespace corvane::panel;
using namespace corvane::panel::testing;

using corvane::testsupport::darkPalette;

namespace {

class Screenshots : public PanelTest {
protected:
    void capture(const char* status, bool dark) {
        window()->setPalette(dark ? darkPalette() : QApplication::palette());
        for (int i = 0; i < 4; ++i) // text boxes refit after the layout gave them their width
            QApplication::processEvents();
        const QImage shot = window()->grab().toImage();
        const QString dir = QStringLiteral(CORVANE_PANEL_ARTIFACTS);
        QDir().mkpath(dir);
        const QString file = QStringLiteral("%1/panel-%2-%3.png").arg(dir, QString::fromLatin1(status),
                                                                       dark ? QStringLiteral("dark") : QStringLiteral("light"));
        ASSERT_TRUE(shot.save(file)) << file.toStdString();
        EXPECT_EQ(shot.width(), 420 * qRound(shot.devicePixelRatio()));
        const QColor inside = shot.pixelColor(4, shot.height() / 2);
        EXPECT_EQ(inside.alpha(), 255) << status << ": the background is opaque";
        EXPECT_EQ(CVDesign::isDark(window()->palette()), dark);
        EXPECT_EQ(inside.lightness() < 128, dark) << status << ": the picture follows the theme";
        corvane::testsupport::expectReadable(shot, corvane::testsupport::shownTexts(window(), window()),
                                             QStringLiteral("%1 %2").arg(dark ? "dark" : "light", status));
    }
};

TEST_F(Screenshots, EveryStatusInLightAndDark) {
    recipes.recipes.append({QStringLiteral("formal"), QStringLiteral("Formal Business Tone for Long Emails")});
    engine.bundleID = QStringLiteral("org.gnome.TextEditor");
    engine.source = corvane::trigger::RecipeSource::appRule(QStringLiteral("Text Editor"));
    for (bool dark : {false, true}) {
        enterDrafting();
        find<QPlainTextEdit>("draftEditor")->setPlainText(QStringLiteral("A short note thanking the team for the launch"));
        capture("drafting", dark);

        controller.show(QStringLiteral("hey can u send me the report by tmrw, need it for the meeting thx"),
                        QPointF(200, 500), QSizeF(400, 30), QStringLiteral("optimize"));
        controller.updateResult(QStringLiteral("Could you send me the report by tomorrow? I need it for"));
        capture("optimizing", dark);

        controller.showResult(QStringLiteral("Could you send me the report by tomorrow? I need it for the "
                                             "meeting.\n\nThank you!"));
        capture("done", dark);

        controller.showError(QStringLiteral("The provider answered with HTTP 401: the API key was rejected. "
                                            "Check the key in Settings."));
        capture("error", dark);
    }
}

} // namespace

// Pictures of every tab, light and dark, saved under the build folder (artifacts/settings/*.png)
// for a person to look at. Each must be opaque and follow its theme.
#include "SettingsFixture.h"
#include "panel/CVDesign.h"
#include "support/DarkPalette.h"

#include <QDir>
#include <QImage>
#include <QTabWidget>

using namespace corvane;
using namespace corvane::settings;
using namespace corvane::settings::testing;

using corvane::testsupport::darkPalette;

namespace {

TEST_F(SettingsTest, EveryTabInLightAndDark) {
    status.current.enabled = false;
    grabber.takenByOtherApp(49, 0x80000);
    hotkeys.sync({{QStringLiteral("global"), 49, 0x80000}}, {});
    rules.setHotkey(rules.rules().first().bundleID, 15, 0xC0000);
    const QString dir = QStringLiteral(CORVANE_SETTINGS_ARTIFACTS);
    QDir().mkpath(dir);
    const char* names[] = {"api", "recipes", "app-rules", "trigger", "about"};
    const QPalette light = QApplication::palette();
    for (bool dark : {false, true}) {
        // The desktop's theme is in force before the window is built, as at a real start.
        QApplication::setPalette(dark ? darkPalette() : light);
        SettingsView view(deps);
        view.show();
        for (int i = 0; i < view.tabs()->count(); ++i) {
            view.tabs()->setCurrentIndex(i);
            for (int n = 0; n < 3; ++n)
                QApplication::processEvents();
            const QImage shot = view.grab().toImage();
            const QString file = QStringLiteral("%1/settings-%2-%3.png")
                                     .arg(dir, QString::fromLatin1(names[i]), dark ? "dark" : "light");
            ASSERT_TRUE(shot.save(file)) << file.toStdString();
            const QColor corner = shot.pixelColor(2, shot.height() - 3);
            EXPECT_EQ(corner.alpha(), 255) << names[i];
            EXPECT_EQ(corner.lightness() < 128, dark) << names[i] << ": the picture follows the theme";
        }
    }
    QApplication::setPalette(light);
}

} // namespace

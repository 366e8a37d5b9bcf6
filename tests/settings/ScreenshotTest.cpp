// Pictures of every tab, light and dark, saved under the build folder (artifacts/settings/*.png)
// for a person to look at. Each must be opaque and follow its theme.
#include "SettingsFixture.h"
#include "panel/CVDesign.h"
#include <QDir>
#include <QImage>
#include <QTabWidget>

using namespace corvane;
using namespace corvane::settings;
using namespace corvane::settings::testing;

namespace {

QPalette darkPalette() {
    QPalette p;
    const QColor window(38, 38, 42), text(232, 232, 236), base(28, 28, 31), button(56, 56, 62);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool off = group == QPalette::Disabled;
        p.setColor(group, QPalette::Window, window);
        p.setColor(group, QPalette::WindowText, off ? QColor(120, 120, 124) : text);
        p.setColor(group, QPalette::Base, base);
        p.setColor(group, QPalette::AlternateBase, window);
        p.setColor(group, QPalette::Text, off ? QColor(120, 120, 124) : text);
        p.setColor(group, QPalette::Button, button);
        p.setColor(group, QPalette::ButtonText, off ? QColor(120, 120, 124) : text);
        p.setColor(group, QPalette::Light, QColor(80, 80, 86));
        p.setColor(group, QPalette::Midlight, QColor(66, 66, 72));
        p.setColor(group, QPalette::Mid, QColor(46, 46, 50));
        p.setColor(group, QPalette::Dark, QColor(20, 20, 22));
        p.setColor(group, QPalette::Shadow, Qt::black);
        p.setColor(group, QPalette::PlaceholderText, QColor(140, 140, 146));
    }
    return p;
}

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

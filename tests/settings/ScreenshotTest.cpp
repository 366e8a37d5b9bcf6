// Pictures of every tab, light and dark, saved under the build folder (artifacts/settings/*.png)
// for a person to look at. Each must be opaque and follow its theme, and every secondary text in
// it (hints, notes, section labels) must read at 4.5:1 against what is behind it, measured on the
// picture: the ink of the text (its pixel farthest from the background) against the background (the
// label's most common colour).
#include "SettingsFixture.h"
#include "panel/CVDesign.h"
#include "support/DarkPalette.h"

#include <QDir>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <cmath>
#include <cstdio>
#include <QImage>
#include <QTabWidget>

using namespace corvane;
using namespace corvane::settings;
using namespace corvane::settings::testing;

using corvane::testsupport::darkPalette;

namespace {

double luminance(QRgb c) {
    const auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double contrast(QRgb a, QRgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of a label's text as the picture shows it.
double measuredContrast(const QImage& shot, const QRect& area) {
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[shot.pixel(x, y)];
    QRgb background = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most)
            most = it.value(), background = it.key();
    double best = 1.0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, contrast(it.key(), background));
    return best;
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
            if (i == 0) { // the API tab with a fetched model list and a passed connection test
                modelsAnswer = {QStringList{QStringLiteral("gpt-4o"), QStringLiteral("gpt-4o-mini")}, {}};
                view.findChild<QPushButton*>(QStringLiteral("fetchModelsButton"))->click();
                view.findChild<QPushButton*>(QStringLiteral("testConnectionButton"))->click();
                clock.advance(100);
            }
            for (int n = 0; n < 3; ++n)
                QApplication::processEvents();
            const QImage shot = view.grab().toImage();
            const QString file = QStringLiteral("%1/settings-%2-%3.png")
                                     .arg(dir, QString::fromLatin1(names[i]), dark ? "dark" : "light");
            ASSERT_TRUE(shot.save(file)) << file.toStdString();
            for (QLabel* label : view.tabs()->currentWidget()->findChildren<QLabel*>()) {
                const QString role = label->property("cvRole").toString();
                if ((role != QLatin1String("microNote") && role != QLatin1String("sectionLabel")) ||
                    !label->isVisible() || label->text().isEmpty())
                    continue;
                const QRect area(label->mapTo(&view, QPoint(0, 0)) * shot.devicePixelRatio(),
                                 label->size() * shot.devicePixelRatio());
                const double ratio = measuredContrast(shot, area.intersected(shot.rect()));
                std::printf("contrast %-5s %-9s %-22s %5.2f:1  %s\n", dark ? "dark" : "light", names[i],
                            qPrintable(label->objectName().isEmpty() ? QStringLiteral("-") : label->objectName()),
                            ratio, qPrintable(label->text().left(48)));
                EXPECT_GE(ratio, 4.5) << names[i] << " " << label->text().toStdString();
            }
            const QColor corner = shot.pixelColor(2, shot.height() - 3);
            EXPECT_EQ(corner.alpha(), 255) << names[i];
            EXPECT_EQ(corner.lightness() < 128, dark) << names[i] << ": the picture follows the theme";
        }
    }
    QApplication::setPalette(light);
}

} // namespace

#pragma once
// The dark palettes the screenshot tests render with, so each window is looked at in the themes
// people use: the tests' own, qt6ct's "darker" scheme, and palettes like Breeze Dark and Adwaita-dark.
#include <QColor>
#include <QList>
#include <QPalette>
#include <QString>
#include <QStringList>

namespace corvane::testsupport {

inline QPalette darkPalette() {
    QPalette p;
    const QColor window(38, 38, 42), text(232, 232, 236), base(28, 28, 31), button(56, 56, 62);
    const QColor disabledText(120, 120, 124);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool off = group == QPalette::Disabled;
        p.setColor(group, QPalette::Window, window);
        p.setColor(group, QPalette::WindowText, off ? disabledText : text);
        p.setColor(group, QPalette::Base, base);
        p.setColor(group, QPalette::AlternateBase, window);
        p.setColor(group, QPalette::Text, off ? disabledText : text);
        p.setColor(group, QPalette::Button, button);
        p.setColor(group, QPalette::ButtonText, off ? disabledText : text);
        p.setColor(group, QPalette::Light, QColor(80, 80, 86));
        p.setColor(group, QPalette::Midlight, QColor(66, 66, 72));
        p.setColor(group, QPalette::Mid, QColor(46, 46, 50));
        p.setColor(group, QPalette::Dark, QColor(20, 20, 22));
        p.setColor(group, QPalette::Shadow, Qt::black);
        p.setColor(group, QPalette::PlaceholderText, QColor(140, 140, 146));
    }
    return p;
}

// A palette written the way qt6ct's colour schemes are: one colour per role, in QPalette's role
// order from WindowText to PlaceholderText; disabled texts take `disabledText`.
inline QPalette schemePalette(const QString& activeColours, const QColor& disabledText) {
    static const QList<QPalette::ColorRole> roles = {
        QPalette::WindowText, QPalette::Button, QPalette::Light, QPalette::Midlight, QPalette::Dark,
        QPalette::Mid, QPalette::Text, QPalette::BrightText, QPalette::ButtonText, QPalette::Base,
        QPalette::Window, QPalette::Shadow, QPalette::Highlight, QPalette::HighlightedText, QPalette::Link,
        QPalette::LinkVisited, QPalette::AlternateBase, QPalette::NoRole, QPalette::ToolTipBase,
        QPalette::ToolTipText, QPalette::PlaceholderText};
    const QStringList colours = activeColours.split(u',');
    QPalette p;
    for (int i = 0; i < roles.size() && i < colours.size(); ++i) {
        if (roles[i] == QPalette::NoRole)
            continue;
        const QColor colour = QColor::fromString(colours[i].trimmed());
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            const bool text = roles[i] == QPalette::WindowText || roles[i] == QPalette::Text ||
                              roles[i] == QPalette::ButtonText || roles[i] == QPalette::HighlightedText;
            p.setColor(group, roles[i], group == QPalette::Disabled && text ? disabledText : colour);
        }
    }
    return p;
}

struct NamedPalette {
    const char* name;
    QPalette palette;
};

// Every dark palette a window must read well under.
inline QList<NamedPalette> darkPalettes() {
    return {
        {"dark", darkPalette()},
        {"qt6ct-darker",
         schemePalette("#ffffffff, #ff424245, #ff979797, #ff5e5c5b, #ff302f2e, #ff4a4947, #ffffffff, #ffffffff, "
                       "#ffffffff, #ff3d3d3d, #ff222020, #ffe7e4e0, #ff12608a, #fff9f9f9, #ff0986d3, #ffa70b06, "
                       "#ff5c5b5a, #ffffffff, #ff3f3f36, #ffffffff, #80ffffff",
                       QColor(0x80, 0x80, 0x80))},
        {"breeze-dark",
         schemePalette("#fffcfcfc, #ff31363b, #ff474d54, #ff3a4045, #ff141618, #ff25292d, #fffcfcfc, #ffffffff, "
                       "#fffcfcfc, #ff1b1e20, #ff2a2e32, #ff0e1012, #ff3daee9, #fffcfcfc, #ff1d99f3, #ff9b59b6, "
                       "#ff232629, #ff000000, #ff31363b, #fffcfcfc, #ffa1a9b1",
                       QColor(0x6e, 0x71, 0x75))},
        {"adwaita-dark",
         schemePalette("#ffeeeeec, #ff373737, #ff4f4f4f, #ff404040, #ff1e1e1e, #ff2d2d2d, #ffeeeeec, #ffffffff, "
                       "#ffeeeeec, #ff2d2d2d, #ff353535, #ff000000, #ff15539e, #ffffffff, #ff3584e4, #ffc061cb, "
                       "#ff303030, #ff000000, #ff262626, #ffffffff, #ff919190",
                       QColor(0x91, 0x91, 0x90))},
    };
}

} // namespace corvane::testsupport

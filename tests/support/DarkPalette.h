#pragma once
// The dark palette the screenshot tests render with, so each window is looked at in both themes.
#include <QColor>
#include <QPalette>

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

} // namespace corvane::testsupport

#include "trigger/AppSets.h"

namespace corvane::trigger::apps {

const QSet<QString>& pasteCautiousBundleIDs() {
    static const QSet<QString> ids = {
        QStringLiteral("org.gnome.Terminal"),     QStringLiteral("org.gnome.Console"),
        QStringLiteral("org.kde.konsole"),        QStringLiteral("Alacritty"),
        QStringLiteral("org.alacritty.Alacritty"), QStringLiteral("kitty"),
        QStringLiteral("xterm"),                  QStringLiteral("XTerm"),
        QStringLiteral("UXTerm"),                 QStringLiteral("xfce4-terminal"),
        // Debian installs xterm's desktop files under these ids, and a window's id comes from its
        // desktop file when one names the window's class.
        QStringLiteral("debian-xterm"),           QStringLiteral("debian-uxterm"),
        QStringLiteral("org.wezfurlong.wezterm"), QStringLiteral("com.gexperts.Tilix"),
        QStringLiteral("terminator"),             QStringLiteral("com.mitchellh.ghostty"),
    };
    return ids;
}

const QSet<QString>& selectAllSafeBundleIDs() {
    static const QSet<QString> ids = {
        QStringLiteral("com.tencent.WeChat"),
        QStringLiteral("com.openai.codex"),
        QStringLiteral("com.openai.chat"),
        QStringLiteral("sh.paseo.desktop"),
    };
    return ids;
}

const QSet<QString>& clipboardOnlyBundleIDs() {
    static const QSet<QString> ids = {QStringLiteral("com.electron.lark")};
    return ids;
}

} // namespace corvane::trigger::apps

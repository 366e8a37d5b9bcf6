#include "platform/linux/AppIdentity.h"
#include <QFile>

namespace corvane::platform::linux_ {

namespace {
QByteArray readSmallFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(1024 * 1024);
}

QString flatpakInfoName(const QByteArray& content) {
    bool inApplication = false;
    for (const QByteArray& raw : content.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inApplication = line == "[Application]";
            continue;
        }
        if (inApplication && line.startsWith("name="))
            return QString::fromUtf8(line.mid(5)).trimmed();
    }
    return {};
}
} // namespace

SandboxFacts readSandbox(qint64 pid, const QString& procRoot) {
    SandboxFacts facts;
    if (pid <= 0)
        return facts;
    const QString base = procRoot + QLatin1Char('/') + QString::number(pid);
    QString snapInstance;
    for (const QByteArray& pair : readSmallFile(base + QStringLiteral("/environ")).split('\0')) {
        const int eq = pair.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = pair.left(eq);
        const QString value = QString::fromUtf8(pair.mid(eq + 1));
        if (key == "FLATPAK_ID")
            facts.flatpakId = value;
        else if (key == "SNAP_INSTANCE_NAME")
            snapInstance = value;
        else if (key == "SNAP_NAME" && facts.snapName.isEmpty())
            facts.snapName = value;
    }
    if (!snapInstance.isEmpty())
        facts.snapName = snapInstance;
    if (facts.flatpakId.isEmpty())
        facts.flatpakId = flatpakInfoName(readSmallFile(base + QStringLiteral("/root/.flatpak-info")));
    return facts;
}

AppInfo resolveApp(const WindowFacts& window, const SandboxFacts& sandbox, DesktopEntryIndex& entries,
                   const QString& locale) {
    AppInfo info;
    info.pid = window.pid;
    info.windowId = window.windowId;
    std::optional<DesktopEntry> entry;

    if (!sandbox.flatpakId.isEmpty()) {
        info.appId = sandbox.flatpakId;
        entry = entries.byId(sandbox.flatpakId);
    } else if (!sandbox.snapName.isEmpty()) {
        info.appId = sandbox.snapName;
        // Snap desktop files are named <snap>_<app>; prefer the one that names this window.
        const auto candidates = entries.byIdPrefix(sandbox.snapName + QLatin1Char('_'));
        for (const auto& c : candidates)
            if (!c.startupWMClass.isEmpty() && (c.startupWMClass.compare(window.wmClass, Qt::CaseInsensitive) == 0 ||
                                                c.startupWMClass.compare(window.wmInstance, Qt::CaseInsensitive) == 0))
                entry = c;
        if (!entry && !candidates.isEmpty())
            entry = candidates.constFirst();
    } else if (!window.gtkApplicationId.isEmpty()) {
        info.appId = window.gtkApplicationId;
        entry = entries.byId(window.gtkApplicationId);
    } else if ((entry = entries.byWindowClass(window.wmClass, window.wmInstance))) {
        info.appId = entry->id;
    } else {
        info.appId = !window.wmClass.isEmpty() ? window.wmClass : window.wmInstance;
    }
    if (entry)
        info.displayName = entry->displayName(locale);
    return info;
}

} // namespace corvane::platform::linux_

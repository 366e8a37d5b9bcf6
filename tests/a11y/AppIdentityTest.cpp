// Application ids and names from window properties, process sandboxes and desktop files.
#include <utime.h>
#include <ctime>
#include "platform/linux/AppIdentity.h"
#include "platform/linux/DesktopEntries.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace corvane::platform;
using namespace corvane::platform::linux_;

namespace {

void write(const QString& path, const QByteArray& body) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(body);
}

QByteArray app(const char* name, const char* extra = "") {
    return QByteArray("[Desktop Entry]\nType=Application\nName=") + name + "\n" + extra;
}

TEST(DesktopEntryParse, ReadsOnlyVisibleApplicationEntries) {
    struct Case {
        const char* name;
        QByteArray content;
        bool parsed;
        QString displayName;
        QString wmClass;
    };
    const Case cases[] = {
        {"plain", app("Editor"), true, QStringLiteral("Editor"), {}},
        {"wm_class_and_spaces", "[Desktop Entry]\n Type = Application \nName= Spaced \nStartupWMClass=Ed\n", true,
         QStringLiteral("Spaced"), QStringLiteral("Ed")},
        {"comments_and_blank_lines", "# header\n\n[Desktop Entry]\n# Name=Nope\nType=Application\nName=Real\n", true,
         QStringLiteral("Real"), {}},
        {"other_groups_ignored",
         "[Desktop Entry]\nType=Application\nName=Main\n[Desktop Action new]\nName=New Window\nStartupWMClass=X\n", true,
         QStringLiteral("Main"), {}},
        {"hidden", app("Gone", "Hidden=true\n"), false, {}, {}},
        {"link_entry", "[Desktop Entry]\nType=Link\nName=Site\n", false, {}, {}},
        {"no_main_group", "[Something]\nType=Application\nName=X\n", false, {}, {}},
        {"garbage", QByteArray("\x00\xff\xfe=\n[[[\n=oops", 15), false, {}, {}},
    };
    for (const auto& c : cases) {
        auto entry = DesktopEntryIndex::parse(c.content, QStringLiteral("id"));
        ASSERT_EQ(bool(entry), c.parsed) << c.name;
        if (!entry)
            continue;
        EXPECT_EQ(entry->name, c.displayName) << c.name;
        EXPECT_EQ(entry->startupWMClass, c.wmClass) << c.name;
    }
}

TEST(DesktopEntryParse, DisplayNameFollowsTheLocale) {
    auto entry = DesktopEntryIndex::parse(app("Text Editor", "Name[de]=Texteditor\nName[pt_BR]=Editor de texto\n"),
                                          QStringLiteral("id"));
    ASSERT_TRUE(entry);
    const struct {
        const char* locale;
        const char* expected;
    } cases[] = {
        {"de_DE", "Texteditor"},       {"de", "Texteditor"},           {"de_AT.UTF-8", "Texteditor"},
        {"pt_BR", "Editor de texto"},  {"pt_PT", "Text Editor"},       {"C", "Text Editor"},
        {"", "Text Editor"},           {"pt_BR.UTF-8@x", "Editor de texto"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(entry->displayName(QString::fromLatin1(c.locale)), QString::fromUtf8(c.expected)) << c.locale;
}

class DesktopIndexTest : public ::testing::Test {
protected:
    QTemporaryDir user, system;
    QString userApps() const { return user.path() + QStringLiteral("/applications/"); }
    QString systemApps() const { return system.path() + QStringLiteral("/applications/"); }
    DesktopEntryIndex index() const { return DesktopEntryIndex({user.path(), system.path()}); }
};

TEST_F(DesktopIndexTest, EarlierFoldersWinAndSubfoldersJoinTheId) {
    write(systemApps() + QStringLiteral("org.example.Notes.desktop"), app("System Notes"));
    write(userApps() + QStringLiteral("org.example.Notes.desktop"), app("My Notes"));
    write(systemApps() + QStringLiteral("kde/konsole.desktop"), app("Konsole"));
    write(systemApps() + QStringLiteral("gone.desktop"), app("Gone"));
    write(userApps() + QStringLiteral("gone.desktop"), app("Gone", "Hidden=true\n"));
    auto idx = index();
    EXPECT_EQ(idx.byId(QStringLiteral("org.example.Notes"))->name, QStringLiteral("My Notes"));
    EXPECT_EQ(idx.byId(QStringLiteral("kde-konsole"))->name, QStringLiteral("Konsole"));
    EXPECT_FALSE(idx.byId(QStringLiteral("gone"))) << "a hidden user entry hides the system one";
    EXPECT_FALSE(idx.byId(QStringLiteral("missing")));
}

TEST_F(DesktopIndexTest, WindowClassMatchesWmClassThenIdThenLastIdPart) {
    write(systemApps() + QStringLiteral("debian-xterm.desktop"), app("XTerm", "StartupWMClass=XTerm\n"));
    write(systemApps() + QStringLiteral("firefox-esr.desktop"), app("Firefox ESR"));
    write(systemApps() + QStringLiteral("org.gnome.gedit.desktop"), app("Text Editor"));
    write(systemApps() + QStringLiteral("gedit.desktop"), app("Old gedit", "StartupWMClass=gedit-old\n"));
    auto idx = index();
    const struct {
        const char* wmClass;
        const char* instance;
        const char* id; // "" for no match
    } cases[] = {
        {"XTerm", "xterm", "debian-xterm"},
        {"xterm", "", "debian-xterm"},            // StartupWMClass compared without case
        {"firefox-esr", "Navigator", "firefox-esr"},
        {"Gedit", "gedit", "gedit"},              // the id itself beats a reverse-DNS tail
        {"Unknown", "gedit-old", "gedit"},        // the instance may carry StartupWMClass
        {"Nothing", "nothing", ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        auto entry = idx.byWindowClass(QString::fromLatin1(c.wmClass), QString::fromLatin1(c.instance));
        EXPECT_EQ(entry ? entry->id : QString(), QString::fromLatin1(c.id)) << c.wmClass << "/" << c.instance;
    }
    EXPECT_EQ(idx.byWindowClass(QStringLiteral("GEDIT"), QString())->id, QStringLiteral("gedit"));
}

TEST_F(DesktopIndexTest, SeesAppsInstalledAfterTheFirstLookUp) {
    QDir().mkpath(userApps());
    auto idx = index();
    EXPECT_FALSE(idx.byId(QStringLiteral("late")));
    write(userApps() + QStringLiteral("late.desktop"), app("Late App"));
    // Folder times have a coarse grain on some file systems; make the change visible.
    // (QFile cannot open a folder to set its time, so set it directly.)
    const std::time_t later = std::time(nullptr) + 5;
    const utimbuf times{later, later};
    ASSERT_EQ(::utime(QFile::encodeName(userApps()).constData(), &times), 0);
    ASSERT_TRUE(idx.byId(QStringLiteral("late")));
}

TEST(Sandbox, ReadsFlatpakAndSnapIdentityFromTheProcess) {
    QTemporaryDir proc;
    auto environ = [&](int pid, const QByteArray& vars) {
        write(proc.path() + QStringLiteral("/%1/environ").arg(pid), vars);
    };
    environ(10, QByteArray("HOME=/x\0FLATPAK_ID=org.example.App\0", 35));
    environ(11, QByteArray("SNAP_NAME=code\0SNAP_INSTANCE_NAME=code_beta\0", 44));
    environ(12, QByteArray("SNAP_NAME=firefox\0", 18));
    environ(13, QByteArray("PATH=/bin\0", 10));
    write(proc.path() + QStringLiteral("/13/root/.flatpak-info"),
          "[Instance]\nname=wrong\n[Application]\nname=org.example.FromInfo\nruntime=x\n");
    environ(14, QByteArray("PATH=/bin", 9));

    const struct {
        qint64 pid;
        const char* flatpak;
        const char* snap;
    } cases[] = {
        {10, "org.example.App", ""}, {11, "", "code_beta"}, {12, "", "firefox"},
        {13, "org.example.FromInfo", ""}, {14, "", ""}, {99, "", ""}, {0, "", ""}, {-5, "", ""},
    };
    for (const auto& c : cases) {
        const SandboxFacts facts = readSandbox(c.pid, proc.path());
        EXPECT_EQ(facts.flatpakId, QString::fromLatin1(c.flatpak)) << c.pid;
        EXPECT_EQ(facts.snapName, QString::fromLatin1(c.snap)) << c.pid;
    }
}

TEST_F(DesktopIndexTest, ResolvesIdAndNameInPrecedenceOrder) {
    write(systemApps() + QStringLiteral("org.example.App.desktop"), app("Example", "Name[fr]=Exemple\n"));
    write(systemApps() + QStringLiteral("firefox_firefox.desktop"), app("Firefox (snap)", "StartupWMClass=firefox\n"));
    write(systemApps() + QStringLiteral("firefox_geckodriver.desktop"), app("Driver"));
    write(systemApps() + QStringLiteral("code_code.desktop"), app("Code"));
    write(systemApps() + QStringLiteral("org.gnome.TextEditor.desktop"), app("Text Editor"));
    write(systemApps() + QStringLiteral("debian-xterm.desktop"), app("XTerm", "StartupWMClass=XTerm\n"));
    auto idx = index();

    const struct {
        const char* name;
        WindowFacts window;
        SandboxFacts sandbox;
        const char* locale;
        const char* appId;
        const char* displayName;
    } cases[] = {
        {"flatpak_beats_gtk_id", {1, 7, "org.other.Id", "app", "App"}, {"org.example.App", ""}, "fr_FR",
         "org.example.App", "Exemple"},
        {"snap_picks_the_window_class_entry", {1, 7, "", "Navigator", "firefox"}, {"", "firefox"}, "C", "firefox",
         "Firefox (snap)"},
        {"snap_without_class_match", {1, 7, "", "code", "Code"}, {"", "code"}, "C", "code", "Code"},
        {"snap_without_desktop_file", {1, 7, "", "x", "X"}, {"", "nodesk"}, "C", "nodesk", ""},
        {"gtk_application_id", {1, 7, "org.gnome.TextEditor", "gnome-text-editor", "Gnome-text-editor"}, {}, "C",
         "org.gnome.TextEditor", "Text Editor"},
        {"gtk_id_without_desktop_file", {1, 7, "org.unknown.Tool", "tool", "Tool"}, {}, "C", "org.unknown.Tool", ""},
        {"desktop_file_by_wm_class", {1, 7, "", "xterm", "XTerm"}, {}, "C", "debian-xterm", "XTerm"},
        {"wm_class_fallback", {1, 7, "", "zenity", "Zenity"}, {}, "C", "Zenity", ""},
        {"instance_when_no_class", {1, 7, "", "lonely", ""}, {}, "C", "lonely", ""},
        {"nothing_known", {1, 7, "", "", ""}, {}, "C", "", ""},
    };
    for (const auto& c : cases) {
        const AppInfo info = resolveApp(c.window, c.sandbox, idx, QString::fromLatin1(c.locale));
        EXPECT_EQ(info.appId, QString::fromLatin1(c.appId)) << c.name;
        EXPECT_EQ(info.displayName, QString::fromUtf8(c.displayName)) << c.name;
        EXPECT_EQ(info.pid, 7) << c.name;
        EXPECT_EQ(info.windowId, 1u) << c.name;
    }
}

} // namespace

// The active application as the X server and the installed desktop files describe it.
#include "DesktopHarness.h"
#include "platform/linux/X11ActiveApp.h"
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace corvane::platform;
using namespace corvane::platform::linux_;
using namespace corvane::desktoptest;

namespace {

void writeDesktopFile(const QString& id, const QByteArray& body) {
    const QString dir = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/applications");
    QDir().mkpath(dir);
    QFile file(dir + QLatin1Char('/') + id + QStringLiteral(".desktop"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(body);
}

const char* kGtkApp = R"(
import gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk
def activate(app):
    w = Gtk.ApplicationWindow(application=app)
    w.add(Gtk.Entry())
    w.show_all()
app = Gtk.Application(application_id="org.corvane.TestGtkApp")
app.connect("activate", activate)
app.run(None)
)";

struct AppCase {
    const char* name;
    std::function<std::unique_ptr<TestApp>()> start;
    QString appId;
    QString displayName;
};

class ActiveAppTest : public ::testing::TestWithParam<AppCase> {
protected:
    static void SetUpTestSuite() {
        writeDesktopFile(QStringLiteral("corvane-test-editor"),
                         "[Desktop Entry]\nType=Application\nName=Test Editor\nName[de]=Testeditor\n"
                         "Exec=corvane_test_qt_editor\nStartupWMClass=corvane_test_qt_editor\n");
        writeDesktopFile(QStringLiteral("org.corvane.TestGtkApp"),
                         "[Desktop Entry]\nType=Application\nName=Corvane GTK Test\nExec=true\n");
    }
};

TEST_P(ActiveAppTest, IdentifiesTheActiveWindowsApplication) {
    X11ActiveApp activeApp;
    auto app = GetParam().start();
    ASSERT_TRUE(app->waitActive(activeApp)) << GetParam().name;
    auto info = activeApp.frontmost();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->appId, GetParam().appId);
    EXPECT_EQ(info->displayName, GetParam().displayName);
    EXPECT_EQ(info->pid, app->pid());
    EXPECT_NE(info->windowId, 0u);
    EXPECT_TRUE(activeApp.isActiveWindow(info->windowId));
}

INSTANTIATE_TEST_SUITE_P(
    Apps, ActiveAppTest,
    ::testing::Values(
        AppCase{"xterm", [] { return std::make_unique<TestApp>(QStringLiteral("xterm"), QStringList{}); },
                QStringLiteral("debian-xterm"), QStringLiteral("XTerm")},
        AppCase{"zenity",
                [] { return std::make_unique<TestApp>(QStringLiteral("zenity"), QStringList{QStringLiteral("--entry")}); },
                QStringLiteral("Zenity"), QString()},
        AppCase{"qt_editor_by_wm_class", [] { return std::make_unique<TestApp>(qtEditorPath(), QStringList{}); },
                QStringLiteral("corvane-test-editor"), QStringLiteral("Test Editor")},
        AppCase{"gtk_application_id",
                [] {
                    return std::make_unique<TestApp>(QStringLiteral("/usr/bin/python3"),
                                                     QStringList{QStringLiteral("-c"), QString::fromLatin1(kGtkApp)});
                },
                QStringLiteral("org.corvane.TestGtkApp"), QStringLiteral("Corvane GTK Test")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ActiveAppWindows, AWindowStopsBeingActiveWhenAnotherTakesOver) {
    X11ActiveApp activeApp;
    TestApp editor(qtEditorPath(), {});
    ASSERT_TRUE(editor.waitActive(activeApp));
    const quint64 editorWindow = activeApp.frontmost()->windowId;

    TestApp other(QStringLiteral("zenity"), {QStringLiteral("--entry")});
    ASSERT_TRUE(other.waitActive(activeApp));
    EXPECT_FALSE(activeApp.isActiveWindow(editorWindow));
    EXPECT_FALSE(activeApp.isActiveWindow(0));
}

TEST(ActiveAppWindows, NoDisplayAnswersNothing) {
    X11ActiveApp activeApp(":4242");
    EXPECT_FALSE(activeApp.frontmost());
    EXPECT_FALSE(activeApp.isActiveWindow(1));
}

} // namespace

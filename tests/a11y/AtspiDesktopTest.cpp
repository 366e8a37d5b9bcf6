// The accessibility backend against real applications: a GTK entry, a GTK text view, the Qt
// test editor's two fields, and xterm (which offers nothing on the bus).
#include "DesktopHarness.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/X11ActiveApp.h"
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <signal.h>

using namespace corvane::platform;
using namespace corvane::platform::linux_;
using namespace corvane::desktoptest;

namespace {

struct FieldCase {
    const char* name;
    QString initial;
    bool multiLine;
    QStringList roles; // any of these
    std::function<std::unique_ptr<TestApp>(const QTemporaryDir&, const QString& initial)> start;
    // The field's text as the app itself reports it (not through the bus); null when it can't.
    std::function<QString(TestApp&, const QTemporaryDir&)> appText;
};

// The Qt editor dumps "line NUL plain" on every change.
QString qtDump(const QTemporaryDir& dir, int part) {
    QFile file(dir.filePath(QStringLiteral("dump")));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("<no dump>");
    return QString::fromUtf8(file.readAll().split('\0').value(part));
}

// zenity --entry prints the entry's text when the dialog is confirmed.
QString confirmZenityEntry(TestApp& app, const QTemporaryDir&) {
    xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    QByteArray out = app.finish();
    if (out.endsWith('\n'))
        out.chop(1);
    return QString::fromUtf8(out);
}

std::unique_ptr<TestApp> zenityEntry(const QTemporaryDir&, const QString& initial) {
    return std::make_unique<TestApp>(QStringLiteral("zenity"),
                                     QStringList{QStringLiteral("--entry"), QStringLiteral("--entry-text"), initial});
}

std::unique_ptr<TestApp> zenityTextView(const QTemporaryDir& dir, const QString& initial) {
    const QString path = dir.filePath(QStringLiteral("text.txt"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(initial.toUtf8());
    file.close();
    return std::make_unique<TestApp>(QStringLiteral("zenity"), QStringList{QStringLiteral("--text-info"),
                                                                           QStringLiteral("--editable"),
                                                                           QStringLiteral("--filename"), path});
}

std::unique_ptr<TestApp> qtLine(const QTemporaryDir& dir, const QString& initial) {
    return std::make_unique<TestApp>(qtEditorPath(), QStringList{QStringLiteral("--line"), initial,
                                                                 QStringLiteral("--dump"),
                                                                 dir.filePath(QStringLiteral("dump"))});
}

std::unique_ptr<TestApp> qtPlain(const QTemporaryDir& dir, const QString& initial) {
    return std::make_unique<TestApp>(qtEditorPath(),
                                     QStringList{QStringLiteral("--plain"), initial, QStringLiteral("--focus"),
                                                 QStringLiteral("plain"), QStringLiteral("--dump"),
                                                 dir.filePath(QStringLiteral("dump"))});
}

// The active window's client area on screen, as the X server reports it.
QRect activeWindowGeometry() {
    const QByteArray id = run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}).trimmed();
    const QByteArray out = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::fromLatin1(id)});
    auto field = [&](const char* label) {
        for (const QByteArray& line : out.split('\n'))
            if (line.trimmed().startsWith(label))
                return line.mid(line.indexOf(':') + 1).trimmed().toInt();
        return -1;
    };
    return QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height"));
}

const QList<FieldCase>& fieldCases() {
    static const QList<FieldCase> cases = {
        {"gtk-entry", QStringLiteral("Hello from a GTK entry"), false, {QStringLiteral("text"), QStringLiteral("entry")}, zenityEntry, confirmZenityEntry},
        {"gtk-textview", QStringLiteral("First line\nSecond line"), true, {QStringLiteral("text")}, zenityTextView, nullptr},
        {"qt-line", QStringLiteral("Hello from Qt"), false, {QStringLiteral("entry"), QStringLiteral("text")}, qtLine,
         [](TestApp&, const QTemporaryDir& d) { return qtDump(d, 0); }},
        {"qt-plain", QStringLiteral("Qt first\nQt second"), true, {QStringLiteral("text"), QStringLiteral("entry")}, qtPlain,
         [](TestApp&, const QTemporaryDir& d) { return qtDump(d, 1); }},
    };
    return cases;
}

class FieldTest : public ::testing::TestWithParam<int> {
protected:
    const FieldCase& field() const { return fieldCases().at(GetParam()); }
    X11ActiveApp activeApp;
    AtspiAccessibility a11y{&activeApp, patientLimits()};
    QTemporaryDir dir;
};

TEST_P(FieldTest, ReadsTextRoleStatesExtentsAndSelection) {
    ASSERT_TRUE(a11y.available());
    auto app = field().start(dir, field().initial);
    ASSERT_TRUE(app->waitActive(activeApp)) << field().name;
    ElementRef element = app->waitFocused(a11y);
    ASSERT_TRUE(element) << field().name << ": no focused element on the bus";

    auto value = a11y.value(element);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->kind, AccessibleValue::Kind::Text);
    EXPECT_EQ(value->text, field().initial);

    auto role = a11y.role(element);
    ASSERT_TRUE(role);
    EXPECT_TRUE(field().roles.contains(*role)) << field().name << " role " << role->toStdString();

    const QStringList states = a11y.states(element);
    EXPECT_TRUE(states.contains(QStringLiteral("focused"))) << states.join(',').toStdString();
    EXPECT_TRUE(states.contains(QStringLiteral("editable"))) << states.join(',').toStdString();
    EXPECT_EQ(states.contains(QStringLiteral("multi-line")), field().multiLine) << states.join(',').toStdString();

    auto rect = a11y.extents(element);
    ASSERT_TRUE(rect);
    EXPECT_GT(rect->width(), 0);
    EXPECT_GT(rect->height(), 0);
    const QRect window = activeWindowGeometry();
    EXPECT_TRUE(QRectF(window).contains(*rect))
        << "field " << rect->x() << "," << rect->y() << " " << rect->width() << "x" << rect->height() << " outside window "
        << window.x() << "," << window.y() << " " << window.width() << "x" << window.height();

    EXPECT_EQ(a11y.processId(element), app->pid());
    const ElementRef again = a11y.focusedElement();  // another handle on the same field
    EXPECT_TRUE(again && again->sameAs(*element) && element->sameAs(*again));

    // The selection or the caret, with the facts, stands on the field's lines.
    const auto onTheField = [&](int length) {
        const auto facts = a11y.facts(element);
        const auto line = facts.selection ? a11y.textExtents(element, *facts.selection) : std::nullopt;
        return facts.selection && facts.selection->length == length && line && line->height() > 0 &&
               line->top() >= rect->top() && line->bottom() <= rect->bottom();
    };
    ASSERT_TRUE(a11y.setSelection(element, TextRange{2, 3}));
    auto selected = a11y.selection(element);
    ASSERT_TRUE(selected);
    EXPECT_EQ(selected->start, 2);
    EXPECT_EQ(selected->length, 3);
    EXPECT_TRUE(onTheField(3));

    ASSERT_TRUE(a11y.setSelection(element, TextRange{4, 0}));
    selected = a11y.selection(element);
    ASSERT_TRUE(selected);
    EXPECT_EQ(selected->length, 0);
    EXPECT_TRUE(onTheField(0));
    // A caret after the last character, where the user has just typed (Qt measures nothing there).
    ASSERT_TRUE(a11y.setSelection(element, TextRange{int(field().initial.toUcs4().size()), 0}));
    EXPECT_TRUE(onTheField(0));
}

TEST_P(FieldTest, WritesThroughAccessibilityAndReadsItBack) {
    auto app = field().start(dir, field().initial);
    ASSERT_TRUE(app->waitActive(activeApp));
    ElementRef element = app->waitFocused(a11y);
    ASSERT_TRUE(element);

    const QString written = field().multiLine ? QStringLiteral("Grüße, 世界\nzweite Zeile 🙂") : QStringLiteral("Grüße, 世界 🙂");
    EXPECT_EQ(a11y.setValue(element, written), 0);
    auto back = a11y.value(element);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->text, written);

    // Offsets count characters, not UTF-16 units: the emoji is one.
    const int length = int(written.toUcs4().size());
    ASSERT_TRUE(a11y.setSelection(element, TextRange{0, length}));
    auto all = a11y.selection(element);
    ASSERT_TRUE(all);
    EXPECT_EQ(all->length, length);

    // The application's own value changed, not only what it shows on the bus.
    if (field().appText) {
        EXPECT_TRUE(waitUntil([&] { return field().appText(*app, dir) == written; }))
            << field().name << ": app holds " << field().appText(*app, dir).toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Apps, FieldTest, ::testing::Range(0, int(fieldCases().size())),
                         [](const auto& info) {
                             return QString::fromLatin1(fieldCases().at(info.param).name).replace('-', '_').toStdString();
                         });

// Before any focus event named their fields (started before we listened), the search finds them although
// GTK 4 marks its widgets visible and never showing, and LibreOffice keeps its document, a
// container that manages its descendants, inside a focused pane.
TEST(AtspiFocusSearch, FindsFieldsNoEventNamed) {
    QTemporaryDir dir;
    QFile profile(dir.filePath(QStringLiteral("lo/user/registrymodifications.xcu")));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("lo/user"))) && profile.open(QIODevice::WriteOnly));
    profile.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
)");
    profile.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SAL_USE_VCLPLUGIN"), QStringLiteral("gtk3"));
    const struct {
        const char* name;
        QString program;
        QStringList args;
        QString title; // of its window once it has the keyboard
        QStringList roles;
        QStringList typed = {}; // what the user types (a new line: Ctrl+N, a new window), each shown in the title
    } cases[] = {
        {"gnome-text-editor", QStringLiteral("gnome-text-editor"),
         {QStringLiteral("--standalone"), QStringLiteral("--ignore-session")}, QStringLiteral("Text Editor"),
         {QStringLiteral("text"), QStringLiteral("text box")}},
        // GTK 4 may expose a second window as a "filler", neither active nor showing.
        {"gnome-text-editor, a second window", QStringLiteral("gnome-text-editor"),
         {QStringLiteral("--standalone"), QStringLiteral("--ignore-session")}, QStringLiteral("Text Editor"),
         {QStringLiteral("text"), QStringLiteral("text box")}, {QStringLiteral("First"), QStringLiteral("Second")}},
        {"LibreOffice Writer", QStringLiteral("soffice"),
         {QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("lo")), QStringLiteral("--writer"),
          QStringLiteral("--norestore"), QStringLiteral("--nologo")},
         QStringLiteral("LibreOffice Writer"), {QStringLiteral("paragraph")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        X11ActiveApp activeApp;
        TestApp app(c.program, c.args, env);
        // LibreOffice's window belongs to a process its launcher starts: wait by title.
        ASSERT_TRUE(waitUntil([&] { return run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")}).contains(c.title.toUtf8()); }, 60000));
        AtspiAccessibility a11y(&activeApp, patientLimits());
        ASSERT_TRUE(c.typed.isEmpty() || (app.waitActive(activeApp) && app.waitFocused(a11y))); // typing lands from now on
        const auto title = [] { return run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")}); };
        for (const QString& text : c.typed) {
            ASSERT_TRUE(text == c.typed.first() || xdotool({QStringLiteral("key"), QStringLiteral("ctrl+n")}));
            // A window that has just opened may drop the first keys: typed again until it shows.
            ASSERT_TRUE(waitUntil([&] {
                xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a")});
                xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("15"), text});
                return waitUntil([&] { return title().startsWith(text.toUtf8()); }, 3000);
            })) << title().toStdString();
        }
        const auto front = activeApp.frontmost();
        ASSERT_TRUE(front);
        ElementRef element;
        waitUntil([&] {
            element = a11y.searchFocusedElement();
            return element && a11y.processId(element) == front->pid &&
                   c.roles.contains(a11y.role(element).value_or(QString()));
        }, 60000);
        ASSERT_TRUE(element) << "no focused element";
        EXPECT_TRUE(c.roles.contains(a11y.role(element).value_or(QString()))) << a11y.role(element).value_or(QString()).toStdString();
        EXPECT_TRUE(a11y.states(element).contains(QStringLiteral("editable")));
        if (!c.typed.isEmpty()) {
            EXPECT_EQ(a11y.value(element).value_or(AccessibleValue{}).text, c.typed.last());
        }
        // Where the caret stands, in the coordinates the field's extents come in (GTK 4: its window's).
        const auto facts = a11y.facts(element);
        const auto caret = facts.selection ? a11y.textExtents(element, *facts.selection) : std::nullopt;
        EXPECT_TRUE(caret && facts.extents && caret->height() > 0 && facts.extents->contains(caret->topLeft()));
    }
}

TEST(AtspiTerminal, XtermOffersNoFieldAndNothingHangs) {
    X11ActiveApp activeApp;
    AtspiAccessibility a11y(&activeApp, patientLimits());
    TestApp xterm(QStringLiteral("xterm"), {});
    ASSERT_TRUE(xterm.waitActive(activeApp));
    ElementRef element = a11y.focusedElement();
    if (element) {
        EXPECT_NE(a11y.processId(element), xterm.pid());
    }
}

TEST(AtspiElements, ASliderGivesItsNumber) {
    X11ActiveApp activeApp;
    AtspiAccessibility a11y(&activeApp, patientLimits());
    TestApp scale(QStringLiteral("zenity"), {QStringLiteral("--scale"), QStringLiteral("--value=42")});
    ASSERT_TRUE(scale.waitActive(activeApp));
    ElementRef element = scale.waitFocused(a11y);
    ASSERT_TRUE(element);
    auto value = a11y.value(element);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->kind, AccessibleValue::Kind::Number);
    EXPECT_EQ(value->number, 42);
    EXPECT_FALSE(a11y.selection(element)) << "a slider has no text to select";
    EXPECT_NE(a11y.setValue(element, QStringLiteral("7")), 0);
}

TEST(AtspiElements, GoneElementAnswersNothing) {
    X11ActiveApp activeApp;
    AtspiAccessibility a11y(&activeApp, patientLimits());
    QTemporaryDir dir;
    auto app = qtLine(dir, QStringLiteral("short-lived"));
    ASSERT_TRUE(app->waitActive(activeApp));
    ElementRef element = app->waitFocused(a11y);
    ASSERT_TRUE(element);
    app.reset();
    EXPECT_FALSE(a11y.value(element));
    EXPECT_FALSE(a11y.role(element));
    EXPECT_FALSE(a11y.extents(element));
    EXPECT_TRUE(a11y.states(element).isEmpty());
    EXPECT_NE(a11y.setValue(element, QStringLiteral("x")), 0);
    EXPECT_FALSE(a11y.setSelection(element, TextRange{0, 1}));
    EXPECT_FALSE(a11y.value(nullptr));
}

TEST(AtspiElements, AFrozenAppGivesNothingAndRecoversWhenItThaws) {
    X11ActiveApp activeApp;
    AtspiAccessibility patient(&activeApp, patientLimits());
    QTemporaryDir dir;
    auto app = qtLine(dir, QStringLiteral("frozen"));
    ASSERT_TRUE(app->waitActive(activeApp));
    ElementRef element = app->waitFocused(patient);
    ASSERT_TRUE(element);

    AtspiAccessibility::Limits quick;
    quick.callTimeoutMs = 200;
    quick.searchBudgetMs = 600;
    AtspiAccessibility a11y(&activeApp, quick);
    ASSERT_EQ(::kill(pid_t(app->pid()), SIGSTOP), 0);
    EXPECT_FALSE(a11y.focusedElement());
    EXPECT_FALSE(a11y.value(element));
    EXPECT_NE(a11y.setValue(element, QStringLiteral("never")), 0);
    ASSERT_EQ(::kill(pid_t(app->pid()), SIGCONT), 0);

    EXPECT_TRUE(app->waitFocused(patient));
    auto value = patient.value(element);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->text, QStringLiteral("frozen"));
}

} // namespace

// The clipboard backend against other X clients: a multi-format owner, xclip, and pastes into
// real fields while we own the clipboard.
#include "DesktopHarness.h"
#include "platform/linux/QtClipboard.h"
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace corvane::platform;
using namespace corvane::platform::linux_;
using namespace corvane::desktoptest;

namespace {

QByteArray pngBytes() {
    QImage image(4, 3, QImage::Format_ARGB32);
    image.fill(QColor(10, 200, 30, 128));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Formats another application offers at once, with awkward bytes.
ClipboardSnapshot sampleFormats() {
    return {
        {QStringLiteral("text/plain"), QStringLiteral("Grüße, 世界 🙂\nline two").toUtf8()},
        {QStringLiteral("text/html"), QByteArrayLiteral("<b>bold</b> &amp; <i>more</i>")},
        {QStringLiteral("image/png"), pngBytes()},
        {QStringLiteral("application/x-corvane-test"), QByteArray("\x00\x01\xff\xfe binary\x00tail", 17)},
    };
}

QByteArray xclipOut(const QString& target) {
    return run(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                         QStringLiteral("-t"), target});
}

QByteArray findFormat(const ClipboardSnapshot& items, const QString& format) {
    for (const auto& item : items)
        if (item.format == format)
            return item.data;
    return QByteArrayLiteral("<missing>");
}

TEST(ClipboardDesktop, SnapshotKeepsEveryFormatOfAnotherOwnerByteForByte) {
    QtClipboard clipboard;
    QTemporaryDir dir;
    QStringList args;
    int n = 0;
    for (const auto& item : sampleFormats()) {
        const QString path = dir.filePath(QString::number(n++));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(item.data);
        file.close();
        args << QStringLiteral("--offer") << item.format + QLatin1Char('=') + path;
    }
    const quint64 before = clipboard.changeCount();
    TestApp owner(qtEditorPath(), args);
    ASSERT_TRUE(waitUntil([&] { return clipboard.changeCount() > before; }));

    const ClipboardSnapshot snapshot = clipboard.snapshot();
    for (const auto& item : sampleFormats())
        EXPECT_EQ(findFormat(snapshot, item.format), item.data) << item.format.toStdString();
    for (const auto& item : snapshot)
        EXPECT_NE(item.format, QStringLiteral("application/x-qt-image")) << "a made-up conversion was kept";
    EXPECT_EQ(clipboard.text(), QStringLiteral("Grüße, 世界 🙂\nline two"));
}

TEST(ClipboardDesktop, RestoredSnapshotServesEveryFormatToOtherApps) {
    QtClipboard clipboard;
    QSignalSpy fetched(&clipboard, &Clipboard::fetched);
    clipboard.restore(sampleFormats());
    EXPECT_EQ(clipboard.fetchCount(), 0u);

    const QByteArray targets = xclipOut(QStringLiteral("TARGETS"));
    for (const auto& item : sampleFormats()) {
        EXPECT_TRUE(targets.contains(item.format.toUtf8())) << item.format.toStdString();
        EXPECT_EQ(xclipOut(item.format), item.data) << item.format.toStdString();
    }
    EXPECT_GE(clipboard.fetchCount(), quint64(sampleFormats().size()));
    EXPECT_TRUE(waitUntil([&] { return fetched.size() > 0; }));
}

TEST(ClipboardDesktop, CountsChangesAndOnlyOtherAppsFetches) {
    QtClipboard clipboard;
    const quint64 start = clipboard.changeCount();

    run(QStringLiteral("xclip"), {QStringLiteral("-i"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                  QStringLiteral("-t"), QStringLiteral("text/html")},
        QByteArrayLiteral("<p>from xclip</p>"));
    ASSERT_TRUE(waitUntil([&] { return clipboard.changeCount() > start; }));
    EXPECT_EQ(findFormat(clipboard.snapshot(), QStringLiteral("text/html")), QByteArrayLiteral("<p>from xclip</p>"));

    const quint64 afterForeign = clipboard.changeCount();
    clipboard.setText(QStringLiteral("ours"));
    EXPECT_TRUE(waitUntil([&] { return clipboard.changeCount() > afterForeign; }));

    // Our own reads are not fetches.
    EXPECT_EQ(clipboard.text(), QStringLiteral("ours"));
    clipboard.snapshot();
    EXPECT_EQ(clipboard.fetchCount(), 0u);

    EXPECT_EQ(xclipOut(QStringLiteral("UTF8_STRING")), QByteArrayLiteral("ours"));
    EXPECT_GE(clipboard.fetchCount(), 1u);

    // A new write starts the count again.
    clipboard.setText(QStringLiteral("again"));
    EXPECT_EQ(clipboard.fetchCount(), 0u);

    clipboard.clear();
    EXPECT_TRUE(clipboard.text().isEmpty());
    EXPECT_TRUE(clipboard.snapshot().isEmpty());
}

TEST(ClipboardDesktop, CopyFromAQtFieldArrivesAsText) {
    QtClipboard clipboard;
    X11ActiveApp activeApp;
    QTemporaryDir dir;
    TestApp editor(qtEditorPath(), {QStringLiteral("--line"), QStringLiteral("copy me please")});
    ASSERT_TRUE(editor.waitActive(activeApp));
    const quint64 before = clipboard.changeCount();
    // Keys pressed before the field has the keyboard go nowhere: copied again until one lands.
    ASSERT_TRUE(waitUntil([&] {
        return xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a"), QStringLiteral("ctrl+c")}) &&
               waitUntil([&] { return clipboard.changeCount() > before; }, 2000);
    }));
    EXPECT_EQ(clipboard.text(), QStringLiteral("copy me please"));
}

// A paste while we own the clipboard, followed at once by accessibility calls into the target:
// a Qt target reads the clipboard synchronously, so it can only answer once we served it.
struct PasteCase {
    const char* name;
    bool qt;
};

class PasteTest : public ::testing::TestWithParam<PasteCase> {};

TEST_P(PasteTest, PasteIntoFieldWhileWeOwnTheClipboard) {
    QtClipboard clipboard;
    X11ActiveApp activeApp;
    AtspiAccessibility a11y(&activeApp, patientLimits());
    QTemporaryDir dir;
    const QString dump = dir.filePath(QStringLiteral("dump"));
    std::unique_ptr<TestApp> app =
        GetParam().qt ? std::make_unique<TestApp>(qtEditorPath(), QStringList{QStringLiteral("--line"), QStringLiteral("abc"),
                                                                              QStringLiteral("--dump"), dump})
                      : std::make_unique<TestApp>(QStringLiteral("zenity"),
                                                  QStringList{QStringLiteral("--entry"), QStringLiteral("--entry-text"),
                                                              QStringLiteral("abc")});
    ASSERT_TRUE(app->waitActive(activeApp));
    ElementRef element = app->waitFocused(a11y);
    ASSERT_TRUE(element);
    ASSERT_TRUE(a11y.setSelection(element, TextRange{3, 0}));

    clipboard.setText(QStringLiteral(" pasted ✓"));
    // Sent without running our event loop, and followed at once by a call into the target: the
    // call that would hang if we blocked while the target reads from us.
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+v")}), 0);
    EXPECT_TRUE(a11y.value(element)) << "the target did not answer while pasting";

    const QString expected = QStringLiteral("abc pasted ✓");
    EXPECT_TRUE(waitUntil([&] {
        auto v = a11y.value(element);
        return v && v->text == expected;
    }));
    EXPECT_GE(clipboard.fetchCount(), 1u);
    if (GetParam().qt) {
        QFile file(dump);
        ASSERT_TRUE(waitUntil([&] {
            return file.open(QIODevice::ReadOnly) && QString::fromUtf8(file.readAll().split('\0').value(0)) == expected;
        }));
    } else {
        xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        EXPECT_EQ(QString::fromUtf8(app->finish()).trimmed(), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, PasteTest, ::testing::Values(PasteCase{"qt", true}, PasteCase{"gtk", false}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

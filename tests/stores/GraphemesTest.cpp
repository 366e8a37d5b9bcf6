#include "StoresFixture.h"
#include "stores/Graphemes.h"
#include <QTextBoundaryFinder>
#include <iterator>

using namespace corvane::stores;

namespace {

QString repeat(const QString& unit, int n) {
    QString out;
    for (int i = 0; i < n; ++i)
        out += unit;
    return out;
}

// Multi-unit characters that must count as one and never be split by a cut.
const QString kFamily = QString::fromUtf8("👨‍👩‍👧‍👦");   // ZWJ sequence, 11 UTF-16 units
const QString kFlag = QString::fromUtf8("🇯🇵");          // regional-indicator pair
const QString kThumb = QString::fromUtf8("👍🏽");          // emoji + skin-tone modifier
const QString kCombined = QString::fromUtf8("e\u0301\u0323"); // e + two combining marks
const QString kHangul = QString::fromUtf8("\u1100\u1161\u11A8"); // conjoining jamo: one syllable

TEST(GraphemesTest, CountsUserPerceivedCharacters) {
    struct Case {
        QString text;
        qsizetype expected;
    };
    const Case cases[] = {
        {QString(), 0},          {QStringLiteral("abc"), 3}, {kFamily, 1},
        {kFlag + kFlag, 2},      {kThumb, 1},               {kCombined, 1},
        {kHangul, 1},            {QString::fromUtf8("漢字かな"), 4},
        {QStringLiteral("a\r\nb"), 3}, // CR LF is one character
        {QStringLiteral("\r\n\r\n"), 2},  {QStringLiteral("\r\r\n"), 2},
        // plain text around the clusters, which join with the letter before them
        {QStringLiteral("ab") + kCombined + QStringLiteral("c\r\nd") + kFlag + kFlag + QStringLiteral("e") + kFamily, 10},
        {QStringLiteral("x") + QString(QChar(0x0301)) + QStringLiteral("\r\n") + QString(QChar(0x0301)), 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(graphemes::count(c.text), c.expected) << c.text.toStdString();
        // The early-stopping check agrees with the count on both sides of it.
        EXPECT_TRUE(graphemes::hasAtLeast(c.text, c.expected)) << c.text.toStdString();
        EXPECT_FALSE(graphemes::hasAtLeast(c.text, c.expected + 1)) << c.text.toStdString();
    }
}

TEST(GraphemesTest, PrefixCutsAtClusterBoundaries) {
    struct Case {
        const char* name;
        QString unit;
    };
    const Case cases[] = {{"ascii", QStringLiteral("a")}, {"cjk", QString::fromUtf8("字")}, {"family", kFamily},
                          {"flag", kFlag},                {"thumb", kThumb},            {"combining", kCombined},
                          {"hangul", kHangul}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString eighty = repeat(c.unit, 80);
        EXPECT_EQ(graphemes::prefix(eighty, 80), eighty) << "exactly 80 stays whole";
        EXPECT_EQ(graphemes::prefix(eighty + c.unit, 80), eighty) << "81 keeps the first 80";
        EXPECT_EQ(graphemes::prefix(QStringLiteral("x") + eighty, 80), QStringLiteral("x") + repeat(c.unit, 79));
        EXPECT_EQ(graphemes::count(graphemes::prefix(eighty + eighty, 80)), 80);
    }
    EXPECT_EQ(graphemes::prefix(QStringLiteral("abc"), 0), QString());
    EXPECT_EQ(graphemes::prefix(QStringLiteral("  a\nb  "), 80), QStringLiteral("  a\nb  ")) << "no trimming";
}

TEST(GraphemesTest, LongTextsCutTheSameAsShortOnes) {
    const QString tail = repeat(QStringLiteral("z"), 5000);
    // One character made of a base and thousands of combining marks, reaching far past any window.
    const QString zalgo = QStringLiteral("e") + repeat(QString(QChar(0x0301)), 3000);
    struct Case {
        const char* name;
        QString text;
        QString expected;
    };
    const Case cases[] = {
        {"huge cluster at the edge", repeat(QStringLiteral("a"), 79) + zalgo + tail,
         repeat(QStringLiteral("a"), 79) + zalgo},
        {"huge cluster inside", zalgo + tail, zalgo + repeat(QStringLiteral("z"), 79)},
        {"flags pair from the start", repeat(kFlag, 500), repeat(kFlag, 80)},
        {"emoji then plain", repeat(kFamily, 79) + kThumb + tail, repeat(kFamily, 79) + kThumb},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(graphemes::prefix(c.text, 80), c.expected);
    }
    EXPECT_EQ(graphemes::count(zalgo + zalgo), 2);

    // A long text of every kind of character counts as Qt's finder counts it all at once.
    const QString units[] = {QStringLiteral("a"), QStringLiteral(" "), QStringLiteral("\r"), QStringLiteral("\n"),
                             kFamily, kFlag, kThumb, kCombined, kHangul, QString(QChar(0x0301)), QString::fromUtf8("字")};
    QString mixed;
    for (int i = 0; i < 20000; ++i)
        mixed += units[(i * 7 + i / 3) % std::size(units)];
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, mixed);
    qsizetype expected = 0;
    while (finder.toNextBoundary() != -1)
        ++expected;
    EXPECT_EQ(graphemes::count(mixed), expected);
    EXPECT_TRUE(graphemes::hasAtLeast(mixed, expected));
    EXPECT_FALSE(graphemes::hasAtLeast(mixed, expected + 1));
}

TEST(GraphemesTest, EveryCharacterOfThePlaneCountsAsQtsFinderCounts) {
    const auto finderCount = [](const QString& text) {
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
        qsizetype n = 0;
        while (finder.toNextBoundary() != -1)
            ++n;
        return n;
    };
    // Each character beside a letter, beside itself, and beside the next one of its block.
    QString paired;
    QString runs;
    for (char32_t c = 0x80; c <= 0xFFFF; ++c) {
        if (QChar::isSurrogate(c))
            continue;
        paired += QLatin1Char('a') + QChar(c) + QChar(c) + QLatin1Char('a');
        runs += QChar(c);
    }
    EXPECT_EQ(graphemes::count(paired), finderCount(paired));
    EXPECT_EQ(graphemes::count(runs), finderCount(runs));
}

} // namespace

#include "trigger/HotkeyDescription.h"
#include "platform/KeyboardLayout.h"
#include "platform/VirtualKeys.h"
#include <QCoreApplication>
#include <QHash>

namespace corvane::trigger {

namespace keys = platform::keys;

namespace {

// Keys whose label is a word or a symbol rather than what they type.
const QHash<qint64, QString>& specialNames() {
    static const QHash<qint64, QString> names = {
        {36, QStringLiteral("Return")}, {49, QStringLiteral("Space")}, {48, QStringLiteral("Tab")},
        // The key at this position is labelled Backspace on PC keyboards; "Delete" is another key there.
        {51, QStringLiteral("Backspace")}, {53, QStringLiteral("Esc")},
        {122, QStringLiteral("F1")}, {120, QStringLiteral("F2")}, {99, QStringLiteral("F3")},
        {118, QStringLiteral("F4")}, {96, QStringLiteral("F5")}, {97, QStringLiteral("F6")},
        {98, QStringLiteral("F7")}, {100, QStringLiteral("F8")}, {101, QStringLiteral("F9")},
        {109, QStringLiteral("F10")}, {103, QStringLiteral("F11")}, {111, QStringLiteral("F12")},
        {123, QStringLiteral("←")}, {124, QStringLiteral("→")}, {125, QStringLiteral("↓")},
        {126, QStringLiteral("↑")},
    };
    return names;
}

// US-layout characters of the letter, digit and punctuation keys, for when the layout gives none.
std::optional<QString> usFallback(qint64 keyCode) {
    static const QHash<qint64, QString> table = {
        {0, "A"},  {1, "S"},  {2, "D"},  {3, "F"},  {4, "H"},  {5, "G"},  {6, "Z"},  {7, "X"},  {8, "C"},
        {9, "V"},  {11, "B"}, {12, "Q"}, {13, "W"}, {14, "E"}, {15, "R"}, {16, "Y"}, {17, "T"}, {18, "1"},
        {19, "2"}, {20, "3"}, {21, "4"}, {22, "6"}, {23, "5"}, {24, "="}, {25, "9"}, {26, "7"}, {27, "-"},
        {28, "8"}, {29, "0"}, {30, "]"}, {31, "O"}, {32, "U"}, {33, "["}, {34, "I"}, {35, "P"}, {37, "L"},
        {38, "J"}, {39, "'"}, {40, "K"}, {41, ";"}, {43, ","}, {44, "/"}, {45, "N"}, {46, "M"}, {47, "."},
    };
    const auto it = table.constFind(keyCode);
    if (it == table.constEnd())
        return std::nullopt;
    return *it;
}

} // namespace

QString HotkeyDescription::string(std::optional<qint64> keyCode, std::optional<qint64> modifiers) {
    return string(keyCode, modifiers, platform::KeyboardLayout::shared());
}

QString HotkeyDescription::keyName(qint64 keyCode) { return keyName(keyCode, platform::KeyboardLayout::shared()); }

QString HotkeyDescription::string(std::optional<qint64> keyCode, std::optional<qint64> modifiers,
                                  platform::KeyboardLayout& layout) {
    if (!keyCode || *keyCode < 0)
        return QCoreApplication::translate("HotkeyDescription", "Not set");
    QString label;
    if (modifiers) {
        const struct {
            qint64 bit;
            const char* name;
        } order[] = {{keys::ModControl, "Ctrl"}, {keys::ModOption, "Alt"}, {keys::ModShift, "Shift"},
                     {keys::ModCommand, "Super"}};
        for (const auto& m : order)
            if (*modifiers & m.bit)
                label += QLatin1String(m.name) + QLatin1Char('+');
    }
    return label + keyName(*keyCode, layout);
}

QString HotkeyDescription::keyName(qint64 keyCode, platform::KeyboardLayout& layout) {
    if (const auto it = specialNames().constFind(keyCode); it != specialNames().constEnd())
        return *it;
    if (auto fromLayout = keyNameFromCurrentLayout(keyCode, layout))
        return *fromLayout;
    if (auto fallback = usFallback(keyCode))
        return *fallback;
    return QCoreApplication::translate("HotkeyDescription", "Key (%1)").arg(keyCode);
}

std::optional<QString> HotkeyDescription::keyNameFromCurrentLayout(qint64 keyCode, platform::KeyboardLayout& layout) {
    const std::optional<QString> text = layout.keyText(keyCode);
    if (!text || text->isEmpty())
        return std::nullopt;
    const QChar first = text->at(0);
    if (first.isSurrogate())
        return std::nullopt;
    // Control characters (C0, DEL, C1), the space and the no-break space label nothing.
    const ushort u = first.unicode();
    if (u < 0x21 || u == 0x7F || (u >= 0x80 && u <= 0x9F) || u == 0xA0)
        return std::nullopt;
    return QString(first).toUpper();
}

} // namespace corvane::trigger

#include "stores/OutputLanguage.h"
#include <QCoreApplication>
#include <QHash>

namespace corvane::stores {

namespace {
struct Row {
    OutputLanguage::Value value;
    const char* raw;
    const char* name; // in the language's own script
};

constexpr Row kRows[] = {
    {OutputLanguage::Auto, "auto", nullptr},
    {OutputLanguage::English, "en", "English"},
    {OutputLanguage::SimpChinese, "zh-Hans", "简体中文"},
    {OutputLanguage::TradChinese, "zh-Hant", "繁體中文"},
    {OutputLanguage::Japanese, "ja", "日本語"},
    {OutputLanguage::Korean, "ko", "한국어"},
    {OutputLanguage::French, "fr", "Français"},
    {OutputLanguage::German, "de", "Deutsch"},
    {OutputLanguage::Spanish, "es", "Español"},
    {OutputLanguage::Portuguese, "pt", "Português"},
    {OutputLanguage::Russian, "ru", "Русский"},
};

const Row& rowOf(OutputLanguage::Value value) {
    for (const Row& row : kRows)
        if (row.value == value)
            return row;
    return kRows[0];
}
} // namespace

QList<OutputLanguage> OutputLanguage::allCases() {
    QList<OutputLanguage> out;
    for (const Row& row : kRows)
        out << OutputLanguage(row.value);
    return out;
}

std::optional<OutputLanguage> OutputLanguage::fromRawValue(const QString& raw) {
    for (const Row& row : kRows)
        if (raw == QLatin1String(row.raw))
            return OutputLanguage(row.value);
    return std::nullopt;
}

QString OutputLanguage::rawValue() const { return QString::fromLatin1(rowOf(m_value).raw); }

QString OutputLanguage::displayName() const {
    const Row& row = rowOf(m_value);
    if (!row.name)
        return QCoreApplication::translate("OutputLanguage", "Auto (match input)");
    return QString::fromUtf8(row.name);
}

QString OutputLanguage::instruction() const {
    if (m_value == Auto)
        return QStringLiteral("Match the language of the input text unless the processing instructions above "
                              "specify a target language.");
    return QStringLiteral("Write the output in ") + displayName() + QLatin1Char('.');
}

size_t qHash(const OutputLanguage& language, size_t seed) { return qHash(language.rawValue(), seed); }

} // namespace corvane::stores

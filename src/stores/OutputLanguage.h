#pragma once
// The language the model is told to answer in. Stored by its raw value under "outputLanguage".
#include <QList>
#include <QString>
#include <optional>

namespace corvane::stores {

class OutputLanguage {
public:
    enum Value { Auto, English, SimpChinese, TradChinese, Japanese, Korean, French, German, Spanish, Portuguese, Russian };

    constexpr OutputLanguage(Value value = Auto) : m_value(value) {}

    // The eleven cases in picker order: Auto first, Russian last.
    static QList<OutputLanguage> allCases();
    // Exact, case-sensitive match of a raw value ("auto", "en", "zh-Hans", ...); nothing otherwise.
    static std::optional<OutputLanguage> fromRawValue(const QString& raw);

    constexpr Value value() const { return m_value; }
    QString rawValue() const;
    QString id() const { return rawValue(); }
    // Each language's own name in its own script; only Auto's label is translated.
    QString displayName() const;
    // The sentence that ends every user message.
    QString instruction() const;

    constexpr bool operator==(const OutputLanguage&) const = default;

private:
    Value m_value;
};

size_t qHash(const OutputLanguage& language, size_t seed = 0);

} // namespace corvane::stores

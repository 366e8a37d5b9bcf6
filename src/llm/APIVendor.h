#pragma once
// The provider catalog: the three wire formats and the built-in table of model providers.
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace corvane::llm {

// A wire format. Stored by its raw value under "apiFormat".
class APIFormat {
public:
    enum Value { OpenAI, Anthropic, Gemini };

    constexpr APIFormat(Value value = OpenAI) : m_value(value) {}

    static QList<APIFormat> allCases();
    // Exact, case-sensitive match of "openai", "anthropic" or "gemini"; nothing otherwise.
    static std::optional<APIFormat> fromRawValue(const QString& raw);

    constexpr Value value() const { return m_value; }
    QString rawValue() const;
    QString id() const { return rawValue(); }
    QString displayName() const;
    // Appended to the normalised base URL to list the provider's models.
    QString modelsPath() const;

    constexpr bool operator==(const APIFormat&) const = default;

private:
    Value m_value;
};

size_t qHash(const APIFormat& format, size_t seed = 0);

// One row of the provider table.
struct APIVendor {
    QString id;
    QString name;
    QString endpoint; // default base URL, no trailing slash; empty for "custom"
    APIFormat format;

    // The 17 rows in picker order; the first ("openai") is also the fallback row.
    static const QList<APIVendor>& all();
    // The row with this exact id, or the first row when none has it.
    static APIVendor by(const QString& id);
    // Provider display names stored by an earlier version -> current ids (5 pairs, values distinct).
    static const QMap<QString, QString>& legacyIDMap();
    // The old display name that maps to this id, if any.
    static std::optional<QString> legacyName(const QString& id);

    // Model suggestions, chosen by id alone; the first is what a provider change puts in the model field.
    QStringList knownModels() const;

    bool operator==(const APIVendor&) const = default;
};

size_t qHash(const APIVendor& vendor, size_t seed = 0);

} // namespace corvane::llm

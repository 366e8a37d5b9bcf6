#include "stores/RecipeStore.h"
#include "platform/Preferences.h"
#include "stores/DiagLog.h"
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>

namespace corvane::stores {

namespace {
std::atomic<RecipeStore*> g_shared{nullptr};

QString key(const char* name) { return QString::fromLatin1(name); }

// A JSON object whose values are all strings; nothing otherwise.
std::optional<QMap<QString, QString>> decodeOverrides(const QByteArray& bytes) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    QMap<QString, QString> out;
    const QJsonObject object = doc.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString())
            return std::nullopt;
        out.insert(it.key(), it.value().toString());
    }
    return out;
}

QByteArray encodeOverrides(const QMap<QString, QString>& overrides) {
    JsonObjectWriter writer;
    for (auto it = overrides.begin(); it != overrides.end(); ++it)
        writer.add(it.key(), it.value());
    return writer.finish();
}
} // namespace

RecipeStore& RecipeStore::shared() {
    RecipeStore* store = g_shared.load();
    if (!store)
        qFatal("RecipeStore::shared() used before the composition root set it");
    return *store;
}

void RecipeStore::setShared(RecipeStore* store) { g_shared.store(store); }

bool RecipeStore::prefersChinese(const QStringList& preferredLanguages) {
    return !preferredLanguages.isEmpty() && preferredLanguages.first().startsWith(QLatin1String("zh"));
}

RecipeStore::RecipeStore(platform::Preferences& preferences, platform::Clock& clock,
                         const QStringList& preferredLanguages, QObject* parent)
    : QObject(parent), m_prefs(preferences), m_builtIn(builtInRecipes(prefersChinese(preferredLanguages))),
      m_userSlot(preferences, clock, key(userKey)), m_overrideSlot(preferences, clock, key(overrideKey)) {
    if (const auto stored = m_userSlot.read()) {
        if (auto recipes = PromptRecipe::listFromJson(*stored))
            m_userRecipes = std::move(*recipes);
        else
            m_userSlot.markUnreadable(*stored, QStringLiteral("not a JSON array of recipes"));
    }
    if (const auto stored = m_overrideSlot.read()) {
        if (auto overrides = decodeOverrides(*stored))
            m_overrides = std::move(*overrides);
        else
            m_overrideSlot.markUnreadable(*stored, QStringLiteral("not a JSON object of prompt texts"));
    }
    m_selectedRecipeID = m_prefs.string(key(selectedKey)).value_or(key(defaultRecipeID));

    if (!m_prefs.boolean(key(migratedKey)).value_or(false)) {
        const auto legacy = m_prefs.string(key(legacyPromptKey));
        if (legacy && *legacy != legacyDefaultPrompt() && !legacy->trimmed().isEmpty()) {
            const auto existing = m_overrides.constFind(key(defaultRecipeID));
            if (existing == m_overrides.constEnd()) {
                m_overrides.insert(key(defaultRecipeID), *legacy);
                saveOverrides();
            } else if (*existing != *legacy) {
                // The flag went missing (a partly restored file) while the user's own override is
                // there: that override is newer. Keep it, and keep the old prompt aside as well.
                StoredJson legacySlot(m_prefs, clock, key(legacyPromptKey));
                const QString aside = legacySlot.keepAside(*legacy);
                DiagLog::event(QStringLiteral("stores: the earlier single prompt was not moved over the existing "
                                              "override of \"%1\"; it is kept under \"%2\"")
                                   .arg(key(defaultRecipeID), aside));
            }
        }
        m_prefs.setValue(key(migratedKey), true);
    }

    // The stored id keeps its stale value until the next select().
    if (!effective(m_selectedRecipeID))
        m_selectedRecipeID = key(defaultRecipeID);
}

bool RecipeStore::isBuiltIn(const QString& id) const {
    return std::any_of(m_builtIn.begin(), m_builtIn.end(), [&](const PromptRecipe& r) { return r.id == id; });
}

QList<PromptRecipe> RecipeStore::all() const {
    QList<PromptRecipe> out;
    out.reserve(m_builtIn.size() + m_userRecipes.size());
    for (PromptRecipe recipe : m_builtIn) {
        const auto it = m_overrides.constFind(recipe.id);
        if (it != m_overrides.constEnd())
            recipe.systemPrompt = *it;
        out << recipe;
    }
    out << m_userRecipes;
    return out;
}

std::optional<PromptRecipe> RecipeStore::effective(const QString& id) const {
    for (const PromptRecipe& recipe : all())
        if (recipe.id == id)
            return recipe;
    return std::nullopt;
}

PromptRecipe RecipeStore::selectedRecipe() const {
    if (auto recipe = effective(m_selectedRecipeID))
        return *recipe;
    return all().first();
}

void RecipeStore::select(const QString& id) {
    if (!effective(id))
        return;
    m_selectedRecipeID = id;
    m_prefs.setValue(key(selectedKey), id);
    Q_EMIT changed();
}

void RecipeStore::updateSystemPrompt(const QString& id, const QString& prompt) {
    for (PromptRecipe& recipe : m_userRecipes) {
        if (recipe.id == id) {
            recipe.systemPrompt = prompt;
            saveUserRecipes();
            Q_EMIT changed();
            return;
        }
    }
    if (!isBuiltIn(id))
        return;
    m_overrides.insert(id, prompt);
    saveOverrides();
    Q_EMIT changed();
}

void RecipeStore::renameUserRecipe(const QString& id, const QString& name) {
    for (PromptRecipe& recipe : m_userRecipes) {
        if (recipe.id == id) {
            recipe.name = name;
            saveUserRecipes();
            Q_EMIT changed();
            return;
        }
    }
}

PromptRecipe RecipeStore::addUserRecipe(const QString& name, const QString& systemPrompt) {
    PromptRecipe recipe{QStringLiteral("user-") + storedjson::newUuidText(),
                        name.isEmpty() ? QCoreApplication::translate("RecipeStore", "Untitled recipe") : name,
                        systemPrompt};
    m_userRecipes.append(recipe);
    saveUserRecipes();
    Q_EMIT changed();
    return recipe;
}

void RecipeStore::deleteUserRecipe(const QString& id) {
    m_userRecipes.removeIf([&](const PromptRecipe& r) { return r.id == id; });
    saveUserRecipes();
    Q_EMIT changed();
    if (m_selectedRecipeID == id)
        select(key(defaultRecipeID));
}

void RecipeStore::resetBuiltInOverride(const QString& id) {
    if (!isBuiltIn(id))
        return;
    m_overrides.remove(id);
    saveOverrides();
    Q_EMIT changed();
}

void RecipeStore::saveUserRecipes() { m_userSlot.write(PromptRecipe::listToJson(m_userRecipes)); }

void RecipeStore::saveOverrides() { m_overrideSlot.write(encodeOverrides(m_overrides)); }

} // namespace corvane::stores

#include "stores/AppProfileStore.h"
#include "platform/Preferences.h"
#include "stores/RecipeStore.h"
#include <atomic>

namespace corvane::stores {

namespace {
std::atomic<AppProfileStore*> g_shared{nullptr};

AppRecipeRule seed(const char* bundleID, const char* appName, const char* recipeID) {
    return AppRecipeRule{QString::fromUtf8(bundleID), QString::fromUtf8(appName), QString::fromUtf8(recipeID), {}, {}};
}
} // namespace

AppProfileStore& AppProfileStore::shared() {
    AppProfileStore* store = g_shared.load();
    if (!store)
        qFatal("AppProfileStore::shared() used before the composition root set it");
    return *store;
}

void AppProfileStore::setShared(AppProfileStore* store) { g_shared.store(store); }

// Application ids as the desktop reports them: the Flatpak id, else the desktop-file id, else the
// WM_CLASS class. Apps without a Linux build keep their original ids; those rows simply never match.
QList<AppRecipeRule> AppProfileStore::seedRules(bool chinese) {
    QList<AppRecipeRule> rules{
        seed("dev.zed.Zed", "Zed", "code-task"),
        seed("com.apple.dt.Xcode", "Xcode", "code-task"),
        seed("code", "VS Code", "code-task"),
        seed("cursor", "Cursor", "code-task"),
        seed("org.gnome.Terminal", chinese ? "终端" : "Terminal", "code-task"),
        seed("com.googlecode.iterm2", "iTerm2", "code-task"),
        seed("com.mitchellh.ghostty", "Ghostty", "code-task"),
        seed("kitty", "kitty", "code-task"),
        seed("dev.warp.Warp", "Warp", "code-task"),
    };
    if (chinese) {
        rules << seed("com.tencent.WeChat", "微信", "brief") << seed("com.qq.QQ", "QQ", "brief")
              << seed("org.telegram.desktop", "Telegram", "brief")
              << seed("com.alibabainc.dingtalk", "钉钉", "brief") << seed("bytedance-feishu", "飞书", "brief");
    } else {
        rules << seed("com.slack.Slack", "Slack", "brief") << seed("com.discordapp.Discord", "Discord", "brief")
              << seed("com.apple.mail", "Mail", "brief") << seed("com.apple.MobileSMS", "Messages", "brief")
              << seed("org.telegram.desktop", "Telegram", "brief") << seed("net.whatsapp.WhatsApp", "WhatsApp", "brief")
              << seed("notion.id", "Notion", "brief") << seed("md.obsidian.Obsidian", "Obsidian", "brief");
    }
    return rules;
}

AppProfileStore::AppProfileStore(platform::Preferences& preferences, platform::Clock& clock,
                                 const QStringList& preferredLanguages, QObject* parent)
    : QObject(parent), m_prefs(preferences), m_slot(preferences, clock, QString::fromLatin1(storageKey)) {
    const auto stored = m_slot.read();
    if (stored) {
        if (auto rules = AppRecipeRule::listFromJson(*stored)) {
            m_rules = std::move(*rules);
            return;
        }
        m_slot.markUnreadable(*stored, QStringLiteral("not a JSON array of app rules"));
    }
    m_rules = seedRules(RecipeStore::prefersChinese(preferredLanguages));
    save();
}

std::optional<QString> AppProfileStore::recipeID(const QString& bundleID) const {
    if (bundleID.isEmpty())
        return std::nullopt;
    for (const AppRecipeRule& rule : m_rules)
        if (rule.bundleID == bundleID)
            return rule.recipeID;
    return std::nullopt;
}

void AppProfileStore::setMapping(const QString& bundleID, const QString& appName, const QString& recipeID) {
    if (bundleID.isEmpty())
        return;
    auto it = std::find_if(m_rules.begin(), m_rules.end(), [&](const AppRecipeRule& r) { return r.bundleID == bundleID; });
    if (it != m_rules.end()) {
        it->recipeID = recipeID;
        if (!appName.isEmpty())
            it->appName = appName;
    } else {
        m_rules.append(AppRecipeRule{bundleID, appName, recipeID, {}, {}});
    }
    save();
    Q_EMIT changed();
}

void AppProfileStore::remove(const QString& bundleID) {
    m_rules.removeIf([&](const AppRecipeRule& r) { return r.bundleID == bundleID; });
    save();
    Q_EMIT changed();
}

void AppProfileStore::setHotkey(const QString& bundleID, std::optional<qint64> keyCode,
                                std::optional<qint64> modifiers) {
    auto it = std::find_if(m_rules.begin(), m_rules.end(), [&](const AppRecipeRule& r) { return r.bundleID == bundleID; });
    if (it == m_rules.end())
        return;
    it->hotkeyKeyCode = keyCode;
    it->hotkeyModifiers = modifiers;
    save();
    Q_EMIT changed();
}

// Pushed at once: a rule the user just made is shown as kept only when it is on disk.
void AppProfileStore::save() {
    m_slot.write(AppRecipeRule::listToJson(m_rules));
    m_prefs.sync();
}

bool AppProfileStore::isSaved() const { return !m_prefs.isUnsaved(QString::fromLatin1(storageKey)); }

} // namespace corvane::stores

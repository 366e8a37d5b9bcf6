// Every tab's controls, found by object name, write the stores; what they write is read back
// through the store and from the preferences file.
#include "SettingsFixture.h"
#include "settings/HotkeyRecorder.h"
#include "settings/SettingsWindowController.h"
#include "support/TestHttpServer.h"
#include <QScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <functional>

using namespace corvane;
using namespace corvane::settings;
using namespace corvane::settings::testing;
using llm::APIVendor;

namespace {

void choose(QComboBox* box, const QString& data) {
    const int index = box->findData(data);
    ASSERT_GE(index, 0) << data.toStdString();
    box->setCurrentIndex(index);
    Q_EMIT box->activated(index);
}

void typeInto(QLineEdit* field, const QString& text) {
    field->setText(text);
    Q_EMIT field->textEdited(text);
    Q_EMIT field->editingFinished();
}

QString noteOf(QLabel* label) { return label->isHidden() ? QString() : label->text(); }

TEST_F(SettingsTest, EveryControlWritesItsSettingThrough) {
    struct Row {
        const char* what;
        std::function<void(SettingsTest&)> edit;
        QString key;
        QString stored;
        std::function<bool(SettingsTest&)> readBack;
    };
    const QList<Row> rows = {
        {"format", [](SettingsTest& t) { choose(t.find<QComboBox>("formatPicker"), QStringLiteral("gemini")); },
         "apiFormat", "gemini", [](SettingsTest& t) { return t.settings.format() == llm::APIFormat::Gemini; }},
        {"endpoint",
         [](SettingsTest& t) { typeInto(t.find<QLineEdit>("endpointField"), QStringLiteral(" http://127.0.0.1:9/v1 ")); },
         "apiEndpoint", "http://127.0.0.1:9/v1",
         [](SettingsTest& t) { return t.settings.apiEndpoint() == QLatin1String("http://127.0.0.1:9/v1"); }},
        {"model", [](SettingsTest& t) { t.find<QComboBox>("modelField")->setCurrentText(QStringLiteral("my-model")); },
         "apiModel", "my-model", [](SettingsTest& t) { return t.settings.apiModel() == QLatin1String("my-model"); }},
        {"timeout", [](SettingsTest& t) { t.find<QDoubleSpinBox>("timeoutField")->setValue(45); }, "apiTimeout", "45",
         [](SettingsTest& t) { return t.settings.apiTimeout() == 45.0; }},
        {"language", [](SettingsTest& t) { choose(t.find<QComboBox>("outputLanguagePicker"), QStringLiteral("ja")); },
         "outputLanguage", "ja",
         [](SettingsTest& t) { return t.settings.outputLanguage() == stores::OutputLanguage::Japanese; }},
        {"taps", [](SettingsTest& t) { t.find<QSpinBox>("tapCountField")->setValue(4); }, "triggerSpaceCount", "4",
         [](SettingsTest& t) { return t.settings.triggerSpaceCount() == 4; }},
        {"interval", [](SettingsTest& t) { t.find<QSpinBox>("tapIntervalField")->setValue(650); }, "triggerIntervalMs",
         "650", [](SettingsTest& t) { return t.settings.triggerIntervalMs() == 650.0; }},
        {"cooldown", [](SettingsTest& t) { t.find<QDoubleSpinBox>("cooldownField")->setValue(3.5); }, "cooldownSeconds",
         "3.5", [](SettingsTest& t) { return t.settings.cooldownSeconds() == 3.5; }},
        {"min length", [](SettingsTest& t) { t.find<QSpinBox>("minTextLengthField")->setValue(25); }, "minTextLength",
         "25", [](SettingsTest& t) { return t.settings.minTextLength() == 25; }},
        {"hotkey off", [](SettingsTest& t) { t.find<QCheckBox>("hotkeyEnabledSwitch")->setChecked(false); },
         "hotkeyEnabled", "false", [](SettingsTest& t) { return !t.settings.hotkeyEnabled(); }},
        {"default recipe",
         [](SettingsTest& t) { choose(t.find<QComboBox>("defaultRecipePicker"), t.recipes.all().at(2).id); },
         "recipes_selected_id", "",
         [](SettingsTest& t) { return t.recipes.selectedRecipeID() == t.recipes.all().at(2).id; }},
        {"consent", [](SettingsTest& t) { t.find<QCheckBox>("telemetryConsentSwitch")->setChecked(true); },
         "telemetryConsent", "true", [](SettingsTest& t) { return t.telemetry.consentAnswer() == true; }},
        {"auto check", [](SettingsTest& t) { t.find<QCheckBox>("updateAutoCheckSwitch")->setChecked(false); },
         "updateAutoCheck", "false", [](SettingsTest&) { return true; }},
        {"auto install", [](SettingsTest& t) { t.find<QCheckBox>("updateAutoInstallSwitch")->setChecked(true); },
         "updateAutoInstall", "true", [](SettingsTest&) { return true; }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.edit(*this);
        EXPECT_TRUE(row.readBack(*this));
        if (!row.stored.isEmpty())
            EXPECT_EQ(fileValue(row.key), row.stored);
        else
            EXPECT_FALSE(fileValue(row.key).isEmpty());
    }
}

TEST_F(SettingsTest, PickingAProviderAppliesItsEndpointFormatAndFirstModel) {
    const struct {
        const char* vendor;
        bool endpointCopied;
    } cases[] = {{"deepseek", true}, {"anthropic", true}, {"gemini", true}, {"custom", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.vendor);
        settings.setApiEndpoint(QStringLiteral("http://mine.example/v1"));
        view().reload();
        const APIVendor vendor = APIVendor::by(QString::fromLatin1(c.vendor));
        choose(find<QComboBox>("providerPicker"), vendor.id);
        EXPECT_EQ(fileValue(QStringLiteral("apiVendor")), vendor.id);
        EXPECT_EQ(settings.apiEndpoint(), c.endpointCopied ? vendor.endpoint : QStringLiteral("http://mine.example/v1"));
        EXPECT_EQ(settings.format(), vendor.format);
        if (!vendor.knownModels().isEmpty()) {
            EXPECT_EQ(settings.apiModel(), vendor.knownModels().first());
        }
        EXPECT_EQ(find<QLineEdit>("endpointField")->text(), settings.apiEndpoint());
        EXPECT_EQ(find<QComboBox>("formatPicker")->currentData().toString(), vendor.format.rawValue());
        EXPECT_EQ(find<QComboBox>("modelField")->currentText(), settings.apiModel());
    }
}

// "Custom" gets its own address back after another provider was picked, and its key never reaches a
// server another provider's pick put in the field: a listener on the local provider's port never
// hears it. (Only a local provider is picked: a fault must not reach out.)
TEST_F(SettingsTest, CustomGetsItsOwnEndpointBackAndItsKeyGoesNowhereElse) {
    test::TestHttpServer own, local;
    const QUrl ollama(APIVendor::by(QStringLiteral("ollama")).endpoint);
    ASSERT_TRUE(own.listen() && local.listen(ollama.host(), quint16(ollama.port()))) << "a port is taken";
    for (test::TestHttpServer* server : {&own, &local})
        server->respond(test::ScriptedResponse::sse(test::providers::openAIStream({QStringLiteral("Hi")})));
    deps.probe = [](QString endpoint, llm::APIFormat format, QString model, QString key, double timeout) {
        return llm::LLMClient::probe(endpoint, format, model, key, timeout); // the real one
    };
    const QString mine = own.baseUrl() + QStringLiteral("/v1"), key = QStringLiteral("sk-custom-0001");
    const struct {
        bool remembered, hasKey;
        QString field;
        int toOwn, toLocal;
    } rows[] = {
        {true, true, mine, 1, 0},
        {false, true, QString(), 0, 0},          // no address kept (an older version's settings): emptied
        {false, false, ollama.toString(), 0, 1}, // no key to keep away: the field keeps what it holds
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.field.toStdString());
        settings.setApiVendorID(QStringLiteral("custom"));
        settings.setApiEndpoint(mine);
        settings.setApiKey(row.hasKey ? key : QString(), QStringLiteral("custom"));
        view().reload();
        choose(find<QComboBox>("providerPicker"), QStringLiteral("ollama"));
        if (!row.remembered)
            settings.setCustomApiEndpoint(QString());
        choose(find<QComboBox>("providerPicker"), QStringLiteral("custom"));
        EXPECT_EQ(find<QLineEdit>("endpointField")->text(), row.field);
        const qsizetype toOwn = own.requests().size(), toLocal = local.requests().size();
        find<QPushButton>("testConnectionButton")->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return find<QPushButton>("testConnectionButton")->isEnabled(); }, 10000));
        EXPECT_EQ(own.requests().size() - toOwn, row.toOwn);
        EXPECT_EQ(local.requests().size() - toLocal, row.toLocal);
    }
    EXPECT_EQ(own.requests().value(0).header("Authorization"), "Bearer " + key.toUtf8());
    for (const test::RecordedRequest& request : local.requests())
        EXPECT_FALSE(request.header("Authorization").contains(key.toUtf8()));
}

TEST_F(SettingsTest, EachProviderKeepsItsOwnKeyAndAnEmptyFieldDeletesOnlyThatOne) {
    settings.setLegacyApiKey(QStringLiteral("sk-old-single-key"));
    auto* key = find<QLineEdit>("apiKeyField");
    EXPECT_EQ(key->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(noteOf(find<QLabel>("keyStorageNote")).contains(QLatin1String("readable only by you")));

    // Leaving the field untouched never copies the inherited key over.
    Q_EMIT key->editingFinished();
    EXPECT_TRUE(secrets.has(QLatin1String(stores::KeychainHelper::service), QStringLiteral("apiKey")));

    typeInto(key, QStringLiteral("sk-openai-111"));
    choose(find<QComboBox>("providerPicker"), QStringLiteral("anthropic"));
    EXPECT_EQ(key->text(), QStringLiteral("sk-old-single-key")) << "the older key still serves the others";
    typeInto(key, QStringLiteral("sk-ant-222"));
    choose(find<QComboBox>("providerPicker"), QStringLiteral("openai"));
    EXPECT_EQ(key->text(), QStringLiteral("sk-openai-111"));

    typeInto(key, QString());
    EXPECT_EQ(settings.apiKey(QStringLiteral("anthropic")), QStringLiteral("sk-ant-222"));
    EXPECT_EQ(settings.apiKey(QStringLiteral("openai")), QString()) << "a removed key does not come back";
    EXPECT_FALSE(secrets.has(QLatin1String(stores::KeychainHelper::service), QStringLiteral("apiKey.openai")));

    // A keyring that refuses the write is said so, not reported as saved.
    secrets.failSaves = true;
    typeInto(key, QStringLiteral("sk-openai-333"));
    EXPECT_EQ(noteOf(find<QLabel>("keyStorageNote")),
              QStringLiteral("The key could not be saved. The secret store refused the write."))
        << "the store's own cause";
    typeInto(key, QString());
    EXPECT_TRUE(noteOf(find<QLabel>("keyStorageNote")).contains(QLatin1String("could not be removed")))
        << "a refused removal is not reported as done";
    EXPECT_FALSE(fileValue(QStringLiteral("apiVendor")).contains(QLatin1String("sk-")));
    EXPECT_FALSE(view().windowTitle().contains(QLatin1String("sk-")));

    // Closing the window keeps a key that was typed but never confirmed by leaving the field.
    secrets.failSaves = false;
    key->setText(QStringLiteral("sk-typed-then-closed"));
    Q_EMIT key->textEdited(key->text());
    view().close();
    EXPECT_EQ(settings.apiKey(QStringLiteral("openai")), QStringLiteral("sk-typed-then-closed"));
}

TEST_F(SettingsTest, ConnectionTestShowsLatencyOrTheErrorWithoutTheKey) {
    typeInto(find<QLineEdit>("apiKeyField"), QStringLiteral("sk-secret-4242"));
    auto* test = find<QPushButton>("testConnectionButton");
    auto* result = find<QLabel>("testResult");

    view().activateWindow();
    QApplication::setActiveWindow(&view());
    test->setFocus();
    ASSERT_TRUE(test->hasFocus());
    test->click();
    EXPECT_FALSE(test->isEnabled()) << "one probe at a time";
    EXPECT_FALSE(find<QLineEdit>("apiKeyField")->hasFocus()) << "a key press while testing never lands in the key";
    clock.advance(100);
    EXPECT_TRUE(test->isEnabled());
    EXPECT_TRUE(test->hasFocus());
    ASSERT_EQ(probeCalls.size(), 1);
    EXPECT_EQ(probeCalls[0].key, QStringLiteral("sk-secret-4242"));
    EXPECT_EQ(probeCalls[0].endpoint, llm::LLMClient::normalizeEndpoint(settings.apiEndpoint()));
    EXPECT_EQ(noteOf(result), QStringLiteral("Connected: the model answered in 42 ms."));

    probeAnswer = {std::nullopt, llm::UpdateProbeError::providerMessage(
                                     QStringLiteral("Incorrect API key provided: sk-secret-4242."))};
    test->click();
    clock.advance(100);
    EXPECT_TRUE(noteOf(result).startsWith(QLatin1String("Incorrect API key provided")));
    EXPECT_FALSE(noteOf(result).contains(QLatin1String("sk-secret-4242")));
    EXPECT_EQ(result->textFormat(), Qt::PlainText) << "a server's answer is never rendered as markup";
    // Fixing the key takes the message about it away.
    typeInto(find<QLineEdit>("apiKeyField"), QStringLiteral("sk-fixed-4343"));
    EXPECT_EQ(noteOf(result), QString());

    // A late answer for a provider the user has left, or for a closed window, is dropped.
    probeAnswer = {llm::ProbeResult{7, QStringLiteral("late")}, {}};
    test->click();
    choose(find<QComboBox>("providerPicker"), QStringLiteral("deepseek"));
    EXPECT_TRUE(test->isEnabled());
    clock.advance(100);
    EXPECT_FALSE(noteOf(result).contains(QLatin1String("late")));
    test->click();
    view().hide();
    clock.advance(100);
    EXPECT_FALSE(result->text().contains(QLatin1String("late")));
}

TEST_F(SettingsTest, FetchedModelsBecomeSuggestionsAndAnEmptyListIsSaid) {
    auto* fetch = find<QPushButton>("fetchModelsButton");
    auto* key = find<QLineEdit>("apiKeyField");
    const QPoint keyAt = key->mapTo(&view(), QPoint(0, 0));
    fetch->click();
    EXPECT_FALSE(fetch->isEnabled());
    clock.advance(100);
    QApplication::processEvents();
    EXPECT_EQ(noteOf(find<QLabel>("modelStatus")), QStringLiteral("The model list is empty — enter a model manually"));
    EXPECT_EQ(key->mapTo(&view(), QPoint(0, 0)), keyAt) << "the note has its room; the key field stays put";

    for (const QStringList& found : {QStringList{QStringLiteral("zeta-1")},
                                     QStringList{QStringLiteral("zeta-1"), QStringLiteral("zeta-2")}}) {
        modelsAnswer = {found, {}};
        fetch->click();
        clock.advance(100);
    }
    EXPECT_EQ(noteOf(find<QLabel>("modelStatus")), QStringLiteral("2 models found; pick one from the list."));
    auto* model = find<QComboBox>("modelField");
    EXPECT_GE(model->findText(QStringLiteral("zeta-2")), 0);
    EXPECT_EQ(model->currentText(), settings.apiModel()) << "suggestions never change the model by themselves";
}

TEST_F(SettingsTest, RecipesAreAddedRenamedOverriddenResetAndDeleted) {
    auto* list = find<QListWidget>("recipeList");
    auto* prompt = find<QPlainTextEdit>("promptEditor");
    auto* reset = find<QPushButton>("resetRecipeButton");
    const stores::PromptRecipe builtIn = recipes.builtIn().at(1);

    list->setCurrentRow(1);
    auto* name = find<QLineEdit>("recipeNameField");
    EXPECT_TRUE(name->isReadOnly());
    EXPECT_FALSE(find<QPushButton>("deleteRecipeButton")->isEnabled());
    // Tab and Shift+Tab leave the prompt as it was; the name they reach has nothing selected, and a
    // built-in's name takes no key.
    view().tabs()->setCurrentWidget(find<QWidget>("recipesTab"));
    view().activateWindow();
    QApplication::setActiveWindow(&view());
    for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
        prompt->setFocus();
        QTest::keyClick(prompt, key);
        EXPECT_FALSE(prompt->hasFocus()) << key;
    }
    EXPECT_EQ(prompt->toPlainText(), builtIn.systemPrompt);
    EXPECT_TRUE(recipes.overrides().isEmpty());
    ASSERT_TRUE(name->hasFocus()) << QApplication::focusWidget()->objectName().toStdString();
    EXPECT_FALSE(name->hasSelectedText());
    QTest::keyClick(name, Qt::Key_X);
    EXPECT_EQ(recipes.effective(builtIn.id)->name, builtIn.name);
    EXPECT_EQ(name->text(), builtIn.name);
    // "Reset to Default" appears for the edited prompt; Add and Delete hold still.
    const auto addAt = [&] { return QApplication::processEvents(), find<QPushButton>("addRecipeButton")->mapTo(&view(), QPoint()); };
    const QPoint addBefore = addAt();
    prompt->setPlainText(QStringLiteral("Be brief."));
    EXPECT_EQ(recipes.effective(builtIn.id)->systemPrompt, QStringLiteral("Be brief."));
    EXPECT_TRUE(fileValue(QStringLiteral("recipes_builtin_overrides")).contains(QLatin1String("Be brief.")));
    EXPECT_FALSE(reset->isHidden());
    EXPECT_EQ(addAt(), addBefore);
    reset->click();
    EXPECT_EQ(recipes.effective(builtIn.id)->systemPrompt, builtIn.systemPrompt);
    EXPECT_TRUE(reset->isHidden());

    find<QPushButton>("addRecipeButton")->click();
    ASSERT_EQ(recipes.userRecipes().size(), 1);
    const QString id = recipes.userRecipes().at(0).id;
    typeInto(find<QLineEdit>("recipeNameField"), QStringLiteral("Haiku"));
    prompt->setPlainText(QStringLiteral("Answer as a haiku."));
    EXPECT_EQ(recipes.effective(id)->name, QStringLiteral("Haiku"));
    EXPECT_EQ(recipes.effective(id)->systemPrompt, QStringLiteral("Answer as a haiku."));
    EXPECT_TRUE(fileValue(QStringLiteral("recipes_user")).contains(QLatin1String("Haiku")));
    typeInto(find<QLineEdit>("recipeNameField"), QStringLiteral("  "));
    EXPECT_EQ(recipes.effective(id)->name, QStringLiteral("Haiku")) << "an empty name is refused";

    // The keyboard stays on the list: the next key press can't rename the recipe shown next.
    view().activateWindow();
    QApplication::setActiveWindow(&view());
    find<QPushButton>("deleteRecipeButton")->setFocus();
    find<QPushButton>("deleteRecipeButton")->click();
    EXPECT_TRUE(recipes.userRecipes().isEmpty());
    EXPECT_EQ(list->count(), recipes.builtIn().size());
    EXPECT_TRUE(list->hasFocus()) << QApplication::focusWidget()->objectName().toStdString();
    EXPECT_FALSE(find<QLineEdit>("recipeNameField")->hasSelectedText());
}

TEST_F(SettingsTest, AppRulesAreAddedChangedGivenAHotkeyAndRemoved) {
    const auto countFor = [this](const QString& id) {
        return std::count_if(rules.rules().begin(), rules.rules().end(), [&](const auto& r) { return r.bundleID == id; });
    };
    const QString editor = QStringLiteral("org.gnome.TextEditor");
    rules.remove(editor);
    typeInto(find<QLineEdit>("appIdField"), editor);
    find<QPushButton>("addRuleButton")->click();
    ASSERT_EQ(countFor(editor), 1);
    EXPECT_EQ(rules.rules().last().appName, QStringLiteral("Text Editor")) << "named from its desktop entry";
    EXPECT_EQ(rules.rules().last().recipeID, recipes.selectedRecipe().id);
    find<QPushButton>("addRuleButton")->click();
    EXPECT_EQ(countFor(editor), 1);

    const QString other = recipes.all().at(3).id;
    choose(find<QComboBox>("ruleRecipePicker"), other);
    EXPECT_EQ(rules.recipeID(editor), other);
    EXPECT_TRUE(fileValue(QStringLiteral("app_recipe_rules")).contains(other));

    auto* recorder = find<HotkeyRecorder>("ruleHotkeyRecorder");
    recorder->click();
    QTest::keyClick(recorder, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(rules.rules().last().hotkeyKeyCode, 40);
    EXPECT_EQ(rules.rules().last().hotkeyModifiers, 0xC0000);
    // Adding an app that has a rule maps it to the default recipe again; its shortcut stays.
    typeInto(find<QLineEdit>("appIdField"), editor);
    find<QPushButton>("addRuleButton")->click();
    EXPECT_EQ(rules.recipeID(editor), recipes.selectedRecipe().id);
    EXPECT_EQ(rules.rules().last().hotkeyKeyCode, 40);
    EXPECT_EQ(rules.rules().last().appName, QStringLiteral("Text Editor"));
    // Clear looks disabled once there is no shortcut to clear (it kept the accent).
    view().tabs()->setCurrentWidget(find<QWidget>("appRulesTab"));
    auto* clear = find<QPushButton>("clearRuleHotkeyButton");
    const QImage enabledLook = clear->grab().toImage();
    clear->click();
    EXPECT_FALSE(rules.rules().last().hotkeyKeyCode.has_value());
    EXPECT_FALSE(clear->isEnabled());
    EXPECT_TRUE(clear->grab().toImage() != enabledLook);

    // Capture: our own window is in front when the button is clicked; the app the user brings
    // forward during the countdown gets the rule.
    auto* capture = find<QPushButton>("captureAppButton");
    capture->click();
    EXPECT_TRUE(capture->text().contains(QLatin1String("3")));
    desktop.openWindow(7, QStringLiteral("org.mozilla.firefox"), QStringLiteral("Firefox"), 4711);
    desktop.activate(7);
    clock.advance(3000);
    EXPECT_EQ(countFor(QStringLiteral("org.mozilla.firefox")), 1);
    EXPECT_TRUE(capture->isEnabled());

    find<QPushButton>("removeRuleButton")->click();
    EXPECT_EQ(countFor(QStringLiteral("org.mozilla.firefox")), 0);
    EXPECT_EQ(countFor(editor), 1);
}

TEST_F(SettingsTest, RefusedShortcutsShowTheirSentenceBesideTheRecorder) {
    grabber.takenByOtherApp(settings.hotkeyKeyCode(), settings.hotkeyModifiers());
    hotkeys.sync({{QStringLiteral("global"), settings.hotkeyKeyCode(), settings.hotkeyModifiers()}}, {});
    EXPECT_EQ(noteOf(find<QLabel>("hotkeyError")),
              trigger::HotkeyCenter::message(trigger::HotkeyError::Reason::Taken));
    hotkeys.sync({}, {});
    EXPECT_EQ(noteOf(find<QLabel>("hotkeyError")), QString());
}

TEST_F(SettingsTest, AboutTabButtonsReachThePermissionAndTheFeedbackWindow) {
    status.current.enabled = false;
    view().reload();
    EXPECT_TRUE(find<QLabel>("permissionStatus")->text().contains(permission.reason()));
    find<QPushButton>("cleanupAuthorizationButton")->click();
    auto* alert = view().findChild<QMessageBox*>(QStringLiteral("cleanupAlert"));
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text(), QStringLiteral("Couldn't clean up authorization entries"));
    EXPECT_EQ(alert->informativeText(), *permission.runCleanupFlow());
    alert->close();
    // Advice on switching accessibility on appears only when that is what is missing.
    status.settingsToolKnown = false;
    for (const bool xinput2 : {true, false}) {
        status.current.xinput2 = xinput2;
        find<QPushButton>("enableAccessibilityButton")->click();
        EXPECT_EQ(noteOf(find<QLabel>("permissionHelp")).contains(QLatin1String("toolkit-accessibility")), xinput2);
    }
    status.current = {};
    status.current.x11Display = status.current.xinput2 = status.current.xtest = status.current.busReachable = true;
    status.current.enabled = true;
    find<QPushButton>("enableAccessibilityButton")->click();
    EXPECT_EQ(noteOf(find<QLabel>("permissionHelp")), QString()) << "accessibility is on: no advice";
    find<QPushButton>("sendFeedbackButton")->click();
    EXPECT_EQ(feedbackOpened, 1);
    EXPECT_EQ(find<QLabel>("versionLabel")->text(), QStringLiteral("Version 1.4.2"));
}

TEST_F(SettingsTest, TheControllerBuildsTheWindowOnceOnFirstShow) {
    SettingsWindowController controller(deps);
    EXPECT_EQ(controller.view(), nullptr);
    controller.show();
    SettingsView* first = controller.view();
    ASSERT_NE(first, nullptr);
    // A connection result belongs to the opening it was asked in: opened again, it is gone.
    auto* result = first->findChild<QLabel*>(QStringLiteral("testResult"));
    first->findChild<QPushButton*>(QStringLiteral("testConnectionButton"))->click();
    clock.advance(100);
    ASSERT_FALSE(result->text().isEmpty());
    first->hide();
    settings.setTriggerSpaceCount(5);
    controller.show();
    EXPECT_EQ(controller.view(), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(result->text(), QString());
    EXPECT_EQ(first->findChild<QSpinBox*>(QStringLiteral("tapCountField"))->value(), 5) << "shown again, read again";
    first->showMinimized(); // "Open Settings…" and a second start bring a minimised window back
    controller.show();
    EXPECT_FALSE(first->isMinimized());
    EXPECT_TRUE(first->isVisible());

    // Shown while open: the permission and the consent are read again, nothing typed is lost.
    status.current.enabled = false;
    prefs.setValue(QStringLiteral("telemetryConsent"), true);
    first->findChild<QSpinBox*>(QStringLiteral("tapCountField"))->setValue(3);
    settings.setTriggerSpaceCount(4);
    controller.show();
    EXPECT_EQ(first->findChild<QLabel*>(QStringLiteral("permissionStatus"))->text(), permission.reason());
    EXPECT_TRUE(first->findChild<QCheckBox*>(QStringLiteral("telemetryConsentSwitch"))->isChecked());
    EXPECT_EQ(first->findChild<QSpinBox*>(QStringLiteral("tapCountField"))->value(), 3);
    telemetry.setConsent(false); // answered in the consent window
    EXPECT_FALSE(first->findChild<QCheckBox*>(QStringLiteral("telemetryConsentSwitch"))->isChecked());

    // Escape and Ctrl+W close it; opened again, the keyboard is on the tab's first control with
    // nothing selected in it.
    first->tabs()->setCurrentWidget(first->findChild<QWidget*>(QStringLiteral("triggerTab")));
    for (const QKeySequence& close : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        QApplication::setActiveWindow(first);
        QTest::keySequence(first, close);
        EXPECT_FALSE(first->isVisible()) << close.toString().toStdString();
        controller.show();
        QApplication::setActiveWindow(first);
        auto* taps = first->findChild<QSpinBox*>(QStringLiteral("tapCountField"));
        EXPECT_TRUE(taps->hasFocus());
        EXPECT_FALSE(taps->findChild<QLineEdit*>()->hasSelectedText());
    }
}

// Every control a screen reader reaches says what it is: its own name, or the label of its row.
TEST_F(SettingsTest, EveryControlHasAnAccessibleName) {
    for (int i = 0; i < view().tabs()->count(); ++i) {
        view().tabs()->setCurrentIndex(i);
        for (QWidget* w : view().tabs()->currentWidget()->findChildren<QWidget*>()) {
            // Pages and a spin box's or combo box's own edit field are not controls of their own.
            // The line of an editable picker is where a screen reader lands: it counts.
            const bool pickerLine = qobject_cast<QComboBox*>(w->parentWidget()) && qobject_cast<QLineEdit*>(w);
            if (!w->isVisibleTo(&view()) || !(w->focusPolicy() & Qt::TabFocus) || qobject_cast<QScrollArea*>(w) ||
                (w->focusProxy() && !pickerLine) || w->parentWidget()->focusProxy() == w)
                continue;
            QAccessibleInterface* item = QAccessible::queryAccessibleInterface(w);
            ASSERT_NE(item, nullptr);
            EXPECT_FALSE(item->text(QAccessible::Name).trimmed().isEmpty())
                << view().tabs()->tabText(i).toStdString() << ": " << w->objectName().toStdString() << " ("
                << w->metaObject()->className() << ")";
        }
    }

    // After a connection test, every Tab stop is a named control that shows it has the keyboard.
    view().tabs()->setCurrentIndex(0);
    QApplication::setActiveWindow(&view());
    auto* test = find<QPushButton>("testConnectionButton");
    test->setFocus();
    test->click();
    clock.advance(100);
    QWidget* w = test;
    for (int stops = 0; stops < 30 && (stops == 0 || w != test); ++stops) {
        QTest::keyClick(w, Qt::Key_Tab);
        w = QApplication::focusWidget();
        const QImage focused = w->grab().toImage();
        w->clearFocus();
        EXPECT_FALSE(QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).isEmpty()) << w->metaObject()->className();
        EXPECT_TRUE(w->grab().toImage() != focused) << w->metaObject()->className() << ": no visible focus";
        w->setFocus(Qt::TabFocusReason);
    }
    EXPECT_EQ(w, test);
}

} // namespace

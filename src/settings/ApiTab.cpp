#include "settings/ApiTab.h"
#include "panel/CVDesign.h"
#include "platform/SecretStoreLocation.h"
#include "settings/SettingsForm.h"
#include "stores/SettingsStore.h"
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace corvane::settings {

using llm::APIFormat;
using llm::APIVendor;
using llm::LLMClient;
using panel::CVDesign;

namespace {

const QLatin1String kCustom("custom");

QString modelsFound(qsizetype count) {
    return count == 1 ? ApiTab::tr("1 model found; pick it from the list.")
                      : ApiTab::tr("%1 models found; pick one from the list.").arg(count);
}
QString fetchingModels() { return ApiTab::tr("Fetching the model list…"); }
QString fetchFailed() { return ApiTab::tr("Couldn't fetch the models. Check the endpoint and key, or type a model."); }
QString emptyModelList() { return ApiTab::tr("The model list is empty — enter a model manually"); }

QString keyInKeyring() { return ApiTab::tr("The key is kept in your desktop keyring, separately for each provider."); }
QString keyInFile(const platform::SecretStoreLocation& where) {
    return ApiTab::tr("No keyring is available (%1), so the key is kept in the file %2, readable only by you.")
        .arg(where.fallbackReason(), where.fallbackPath());
}
// The store names the cause: a locked or absent keyring, a folder that cannot be written.
QString keyNotRemoved(const QString& cause) { return ApiTab::tr("The key could not be removed. %1").arg(cause); }
QString keyNotSaved(const QString& cause) { return ApiTab::tr("The key could not be saved. %1").arg(cause); }
QString keyNotReadBack() {
    return ApiTab::tr("The key could not be saved: it does not read back from where it was stored.");
}
// As long a cause as a store gives: the secrets file's path and the system's reason.
QString longestCause(const platform::SecretStoreLocation* where) {
    const QString path = where ? where->fallbackPath() : QStringLiteral("~/.local/share/corvane/secrets.json");
    return QStringLiteral("The secrets file %1 cannot be written (No space left on device).").arg(path);
}

} // namespace

ApiTab::ApiTab(SettingsDependencies& deps, QWidget* parent) : QWidget(parent), m_deps(deps) {
    const Page page = makePage(this);

    const Card provider = addCard(page.column, tr("Provider"));
    m_provider = new QComboBox;
    m_provider->setObjectName(QStringLiteral("providerPicker"));
    for (const APIVendor& vendor : APIVendor::all())
        m_provider->addItem(vendor.name, vendor.id);
    provider.form->addRow(tr("Provider"), m_provider);

    m_format = new QComboBox;
    m_format->setObjectName(QStringLiteral("formatPicker"));
    for (const APIFormat& format : APIFormat::allCases())
        m_format->addItem(format.displayName(), format.rawValue());
    provider.form->addRow(tr("Interface format"), m_format);

    m_endpoint = new QLineEdit;
    m_endpoint->setObjectName(QStringLiteral("endpointField"));
    m_endpoint->setPlaceholderText(QStringLiteral("https://api.example.com/v1"));
    provider.form->addRow(tr("Endpoint"), m_endpoint);

    m_model = new QComboBox;
    m_model->setObjectName(QStringLiteral("modelField"));
    m_model->setEditable(true);
    m_model->setInsertPolicy(QComboBox::NoInsert);
    m_model->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Screen readers land on the editable line inside the picker: it says what it is for.
    m_model->lineEdit()->setAccessibleName(tr("Model"));
    m_fetch = new QPushButton(tr("Fetch models"));
    m_fetch->setObjectName(QStringLiteral("fetchModelsButton"));
    auto* modelRow = new QHBoxLayout;
    modelRow->setSpacing(CVDesign::space2);
    modelRow->addWidget(m_model, 1);
    modelRow->addWidget(m_fetch);
    provider.form->addRow(tr("Model"), modelRow);
    m_modelStatus = makeNote(QStringLiteral("modelStatus"));
    provider.form->addRow(static_cast<QWidget*>(nullptr), m_modelStatus);
    reserveNoteSpace(m_modelStatus,
                     {fetchingModels(), fetchFailed(), emptyModelList(), modelsFound(1), modelsFound(99999)});

    m_key = new QLineEdit;
    m_key->setObjectName(QStringLiteral("apiKeyField"));
    m_key->setEchoMode(QLineEdit::Password);
    m_key->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    m_key->setPlaceholderText(tr("Paste the provider's API key"));
    provider.form->addRow(tr("API key"), m_key);
    m_keyNote = makeNote(QStringLiteral("keyStorageNote"));
    provider.form->addRow(static_cast<QWidget*>(nullptr), m_keyNote);
    const QString cause = longestCause(m_deps.keyStorage);
    QStringList keyNotes{keyInKeyring(), keyNotRemoved(cause), keyNotSaved(cause), keyNotReadBack()};
    if (m_deps.keyStorage)
        keyNotes << keyInFile(*m_deps.keyStorage);
    reserveNoteSpace(m_keyNote, keyNotes);

    const Card request = addCard(page.column, tr("Requests"));
    m_timeout = new QDoubleSpinBox;
    m_timeout->setObjectName(QStringLiteral("timeoutField"));
    m_timeout->setRange(5, 300);
    m_timeout->setDecimals(0);
    m_timeout->setSingleStep(5);
    m_timeout->setSuffix(tr(" s"));
    m_timeout->setMinimumWidth(150);
    request.form->addRow(tr("Time-out"), leftAligned({m_timeout}));
    m_language = new QComboBox;
    m_language->setObjectName(QStringLiteral("outputLanguagePicker"));
    for (const stores::OutputLanguage& language : stores::OutputLanguage::allCases())
        m_language->addItem(language.displayName(), language.rawValue());
    request.form->addRow(tr("Output language"), m_language);

    const Card connection = addCard(page.column, tr("Connection"));
    m_test = new QPushButton(tr("Test connection"));
    m_test->setObjectName(QStringLiteral("testConnectionButton"));
    CVDesign::cvProminentButton(m_test);
    m_test->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // The outcome of the test is the answer to a click: sentences in the window's font. A
    // provider's message may be of any length; its box keeps a few lines' height, and a longer
    // one scrolls inside it, so nothing around it moves and all of it can be read and selected.
    m_testResult = new QLabel;
    m_testResult->setObjectName(QStringLiteral("testResult"));
    m_testResult->setWordWrap(true);
    m_testResult->setTextFormat(Qt::PlainText);
    m_testResult->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_testResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* resultBox = m_testResultBox = new QScrollArea;
    resultBox->setObjectName(QStringLiteral("testResultBox"));
    resultBox->setFrameShape(QFrame::NoFrame);
    resultBox->setFocusPolicy(Qt::NoFocus);
    resultBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    resultBox->setWidgetResizable(true);
    resultBox->setWidget(m_testResult);
    resultBox->viewport()->setAutoFillBackground(false); // the card shows through
    m_testResult->setAutoFillBackground(false);
    constexpr int kResultLines = 4;
    resultBox->setFixedHeight(kResultLines * m_testResult->fontMetrics().lineSpacing() + 2);
    resultBox->setMinimumWidth(noteMinWidth());
    auto* testRow = new QHBoxLayout;
    testRow->setSpacing(CVDesign::space3);
    testRow->addWidget(m_test, 0, Qt::AlignTop);
    testRow->addWidget(resultBox, 1);
    connection.form->addRow(testRow);
    page.column->addStretch(1);

    connect(m_provider, &QComboBox::activated, this, [this](int index) {
        chooseVendor(m_provider->itemData(index).toString());
    });
    connect(m_format, &QComboBox::activated, this, [this](int index) {
        m_deps.settings.setApiFormatRaw(m_format->itemData(index).toString());
    });
    // A message about what was typed goes away once the field it is about changes.
    connect(m_endpoint, &QLineEdit::textEdited, this, [this] { clearMessages(true); });
    connect(m_format, &QComboBox::activated, this, [this] { clearMessages(true); });
    connect(m_key, &QLineEdit::textEdited, this, [this] { clearMessages(true); });
    connect(m_endpoint, &QLineEdit::editingFinished, this, [this] {
        if (!m_loading && m_endpoint->text().trimmed() != m_deps.settings.apiEndpoint())
            m_deps.settings.setApiEndpoint(m_endpoint->text().trimmed());
    });
    connect(m_model, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (!m_loading && text.trimmed() != m_deps.settings.apiModel()) {
            m_deps.settings.setApiModel(text.trimmed());
            clearMessages(false);
        }
    });
    connect(m_key, &QLineEdit::textEdited, this, [this] { m_keyEdited = true; });
    connect(m_key, &QLineEdit::editingFinished, this, [this] { commitKey(); });
    connect(m_timeout, &QDoubleSpinBox::valueChanged, this, [this](double seconds) {
        if (!m_loading)
            m_deps.settings.setApiTimeout(seconds);
    });
    connect(m_language, &QComboBox::activated, this, [this](int index) {
        m_deps.settings.setOutputLanguageRaw(m_language->itemData(index).toString());
    });
    connect(m_test, &QPushButton::clicked, this, [this] { testConnection(); });
    connect(m_fetch, &QPushButton::clicked, this, [this] { fetchModels(); });

    reload();
}

void ApiTab::reload() {
    // A message about what the fields held before (a connection test, a model list) goes with it.
    clearMessages(true);
    m_loading = true;
    stores::SettingsStore& s = m_deps.settings;
    const int vendorRow = m_provider->findData(s.apiVendorID());
    m_provider->setCurrentIndex(vendorRow < 0 ? 0 : vendorRow);
    m_format->setCurrentIndex(m_format->findData(s.format().rawValue()));
    m_endpoint->setText(s.apiEndpoint());
    fillModelSuggestions({});
    m_model->setCurrentText(s.apiModel());
    m_timeout->setValue(LLMClient::sanitizedTimeout(s.apiTimeout()));
    m_language->setCurrentIndex(m_language->findData(s.outputLanguage().rawValue()));
    m_loading = false;
    loadKeyField();
}

void ApiTab::chooseVendor(const QString& vendorId) {
    stores::SettingsStore& s = m_deps.settings;
    const QString previous = s.apiVendorID();
    if (vendorId == previous)
        return;
    commitEdits(); // a key or an endpoint typed for the previous provider stays with it
    // The address the user gave "custom" is kept while another provider's address is in use.
    if (previous == kCustom)
        s.setCustomApiEndpoint(isCatalogEndpoint(s.apiEndpoint()) ? QString() : s.apiEndpoint());
    const APIVendor vendor = APIVendor::by(vendorId);
    s.setApiVendorID(vendor.id);
    if (vendor.id != kCustom)
        s.setApiEndpoint(vendor.endpoint);
    else
        s.setApiEndpoint(endpointForCustom());
    s.setApiFormatRaw(vendor.format.rawValue());
    const QStringList models = vendor.knownModels();
    if (!models.isEmpty())
        s.setApiModel(models.first());
    reload(); // drops what is still on its way about the previous provider, with its messages
}

bool ApiTab::isCatalogEndpoint(const QString& endpoint) {
    const QString normalized = LLMClient::normalizeEndpoint(endpoint);
    for (const APIVendor& vendor : APIVendor::all())
        if (!vendor.endpoint.isEmpty() && LLMClient::normalizeEndpoint(vendor.endpoint) == normalized)
            return true;
    return false;
}

QString ApiTab::endpointForCustom() const {
    // Its own address comes back. Without one, the field keeps what it holds, unless that is a
    // provider's address and "custom" has a key (or one that may be in a locked keyring): that key
    // must never go to a server another provider's pick put in the field, so the field is emptied
    // for the user's own address.
    const stores::SettingsStore& s = m_deps.settings;
    if (const QString own = s.customApiEndpoint(); !own.isEmpty())
        return own;
    const bool mayHaveKey = s.apiKeyAccess() != stores::SettingsStore::KeyAccess::Absent;
    return mayHaveKey && isCatalogEndpoint(s.apiEndpoint()) ? QString() : s.apiEndpoint();
}

void ApiTab::commitEdits() {
    commitKey();
    if (m_endpoint->text().trimmed() != m_deps.settings.apiEndpoint())
        m_deps.settings.setApiEndpoint(m_endpoint->text().trimmed());
}

void ApiTab::loadKeyField() {
    // The field holds the provider's key behind password dots; it is written back only when the
    // user typed, so a key inherited from an older version is never copied over by a focus change.
    m_key->setText(m_deps.settings.apiKey(m_deps.settings.apiVendorID()));
    m_keyEdited = false;
    const platform::SecretStoreLocation* where = m_deps.keyStorage;
    setNote(m_keyNote, where && !where->usesSecretService() ? keyInFile(*where) : keyInKeyring(), false);
}

void ApiTab::commitKey() {
    if (!m_keyEdited)
        return;
    m_keyEdited = false;
    const QString vendorId = m_deps.settings.apiVendorID();
    const QString key = m_key->text().trimmed();
    const platform::SecretResult stored = m_deps.settings.setApiKey(key, vendorId);
    if (key.isEmpty() && !stored)
        setNote(m_keyNote, keyNotRemoved(stored.error), true);
    else if (!key.isEmpty() && !stored)
        setNote(m_keyNote, keyNotSaved(stored.error), true);
    // Reading back tells whether the store really kept the key.
    else if (!key.isEmpty() && m_deps.settings.apiKey(vendorId) != key)
        setNote(m_keyNote, keyNotReadBack(), true);
    else
        loadKeyField();
}

QString ApiTab::currentKey() const {
    return m_keyEdited ? m_key->text().trimmed() : m_deps.settings.apiKey(m_deps.settings.apiVendorID());
}

void ApiTab::fillModelSuggestions(const QStringList& extra) {
    QStringList models = APIVendor::by(m_deps.settings.apiVendorID()).knownModels();
    for (const QString& id : extra)
        if (!models.contains(id))
            models.append(id);
    const bool wasLoading = m_loading;
    m_loading = true;
    const QString current = m_model->currentText();
    m_model->clear();
    m_model->addItems(models);
    m_model->setCurrentText(current);
    m_loading = wasLoading;
}

void ApiTab::showTestResult(const QString& text, bool isError) {
    m_testResult->setText(text);
    m_testResultBox->verticalScrollBar()->setValue(0); // a new message is read from its start
    m_testResult->setPalette(QPalette()); // the window's text colour
    if (isError) {
        QPalette p = m_testResult->palette();
        p.setColor(QPalette::WindowText, CVDesign::red(window()->palette()));
        m_testResult->setPalette(p);
    }
}

void ApiTab::clearMessages(bool modelListToo) {
    // A result still on its way is about the old values: it is dropped with its message.
    ++m_probeTicket;
    setRunning(m_test, false);
    showTestResult(QString(), false);
    if (modelListToo) {
        ++m_fetchTicket;
        setRunning(m_fetch, false);
        setNote(m_modelStatus, QString(), false);
    }
}

void ApiTab::dropPending() {
    ++m_probeTicket;
    ++m_fetchTicket;
    setRunning(m_test, false);
    setRunning(m_fetch, false);
}

void ApiTab::setRunning(QPushButton* button, bool running) {
    // Disabling the focused button would hand the focus to the next field in the chain, the API
    // key with all of it selected, where the next key press would replace the stored key. The
    // page keeps the focus meanwhile and gives it back.
    if (running) {
        if (button->hasFocus())
            setFocus(Qt::OtherFocusReason);
        button->setEnabled(false);
        return;
    }
    button->setEnabled(true);
    if (hasFocus())
        button->setFocus(Qt::OtherFocusReason);
}

QCoro::Task<> ApiTab::testConnection() {
    commitKey();
    const quint64 ticket = ++m_probeTicket;
    const QString key = currentKey();
    setRunning(m_test, true);
    showTestResult(tr("Testing…"), false);
    QPointer<ApiTab> self(this);
    const stores::SettingsStore& s = m_deps.settings;
    const auto outcome = co_await m_deps.probe(LLMClient::normalizeEndpoint(s.apiEndpoint()), s.format(),
                                               s.apiModel(), key, LLMClient::sanitizedTimeout(s.apiTimeout()));
    if (!self || self->m_probeTicket != ticket)
        co_return; // the provider changed or the window closed meanwhile
    self->setRunning(self->m_test, false);
    if (outcome.ok()) {
        const llm::ProbeResult& r = *outcome.value;
        self->showTestResult(r.sample.trimmed().isEmpty()
                                 ? tr("Connected in %1 ms, but the model returned no content.").arg(r.latencyMs)
                                 : tr("Connected: the model answered in %1 ms.").arg(r.latencyMs),
                             false);
    } else {
        const QString why = outcome.error ? outcome.error->errorDescription() : tr("The connection failed.");
        self->showTestResult(withoutSecret(why, key), true);
    }
}

QCoro::Task<> ApiTab::fetchModels() {
    commitKey();
    const quint64 ticket = ++m_fetchTicket;
    setRunning(m_fetch, true);
    setNote(m_modelStatus, fetchingModels(), false);
    QPointer<ApiTab> self(this);
    const stores::SettingsStore& s = m_deps.settings;
    const auto outcome = co_await m_deps.fetchModels(s.apiEndpoint(), s.format(), currentKey());
    if (!self || self->m_fetchTicket != ticket)
        co_return;
    self->setRunning(self->m_fetch, false);
    if (!outcome.ok()) {
        setNote(self->m_modelStatus, fetchFailed(), true);
    } else if (outcome.value->isEmpty()) {
        setNote(self->m_modelStatus, emptyModelList(), false);
    } else {
        self->fillModelSuggestions(*outcome.value);
        setNote(self->m_modelStatus, modelsFound(outcome.value->size()), false);
    }
}

} // namespace corvane::settings

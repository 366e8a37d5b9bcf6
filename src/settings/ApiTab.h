#pragma once
// The API tab: provider, wire format, endpoint, model, the provider's key, time-out and output
// language, with the connection test and the model list.
#include "settings/SettingsDependencies.h"
#include <QWidget>
#include <qcoro/qcorotask.h>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;

namespace corvane::settings {

class ApiTab final : public QWidget {
    Q_OBJECT
public:
    explicit ApiTab(SettingsDependencies& deps, QWidget* parent = nullptr);

    // Reads every control again from the store.
    void reload();
    // Writes what is typed but not yet confirmed (the key, the endpoint), as leaving a field does.
    void commitEdits();
    // Forgets the probe and the model list still running; their results will be dropped.
    void dropPending();

private:
    void chooseVendor(const QString& vendorId);
    // The endpoint that picking "custom" puts in the field.
    QString endpointForCustom() const;
    // Whether the endpoint is one of the catalog's provider addresses.
    static bool isCatalogEndpoint(const QString& endpoint);
    void loadKeyField();
    void setRunning(QPushButton* button, bool running);
    void showTestResult(const QString& text, bool isError);
    // Clears the connection result, and with modelListToo the model list's message as well.
    void clearMessages(bool modelListToo);
    void commitKey();
    QString currentKey() const;
    void fillModelSuggestions(const QStringList& extra);
    QCoro::Task<> testConnection();
    QCoro::Task<> fetchModels();

    SettingsDependencies& m_deps;
    QComboBox* m_provider;
    QComboBox* m_format;
    QLineEdit* m_endpoint;
    QComboBox* m_model;
    QPushButton* m_fetch;
    QLabel* m_modelStatus;
    QLineEdit* m_key;
    QLabel* m_keyNote;
    QDoubleSpinBox* m_timeout;
    QComboBox* m_language;
    QPushButton* m_test;
    QLabel* m_testResult;
    QScrollArea* m_testResultBox;
    bool m_loading = false;
    bool m_keyEdited = false;
    quint64 m_probeTicket = 0;
    quint64 m_fetchTicket = 0;
};

} // namespace corvane::settings

#include "e2e/CorvaneProcess.h"
#include "e2e/Desktop.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

namespace corvane::e2e {

namespace {
// Stored shortcut bits (see src/platform/VirtualKeys.h): the space bar with Ctrl and Alt.
constexpr qint64 kSpaceKey = 49;
constexpr qint64 kControlAndAlt = 0x40000 | 0x80000;
constexpr qint64 kAlt = 0x80000;
} // namespace

CorvaneProcess::CorvaneProcess(Settings settings) : m_settings(std::move(settings)) {}

CorvaneProcess::~CorvaneProcess() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool CorvaneProcess::prepareHome(QString* why) {
    if (!m_home.isValid()) {
        *why = QStringLiteral("no temporary folder");
        return false;
    }
    QDir().mkpath(path(QStringLiteral("config/corvane")));
    QDir().mkpath(path(QStringLiteral("state")));
    if (!m_settings.configLink.isEmpty()) {
        if (!QFile::link(m_settings.configLink, path(QStringLiteral("config/corvane/corvane.conf")))) {
            *why = QStringLiteral("cannot link the preferences");
            return false;
        }
    } else if (!m_settings.configFile.isNull()) {
        QFile conf(path(QStringLiteral("config/corvane/corvane.conf")));
        if (!conf.open(QIODevice::WriteOnly) || conf.write(m_settings.configFile) != m_settings.configFile.size()) {
            *why = QStringLiteral("cannot write the preferences");
            return false;
        }
    } else {
        QSettings prefs(path(QStringLiteral("config/corvane/corvane.conf")), QSettings::IniFormat);
        prefs.setValue(QStringLiteral("apiEndpoint"), m_settings.endpoint);
        prefs.setValue(QStringLiteral("apiVendor"), QStringLiteral("openai"));
        prefs.setValue(QStringLiteral("apiFormat"), QStringLiteral("openai"));
        prefs.setValue(QStringLiteral("apiModel"), QStringLiteral("e2e-model"));
        prefs.setValue(QStringLiteral("apiTimeout"), m_settings.apiTimeoutSeconds);
        // Taps may be slowed down by a busy machine; the cooldown would swallow a scenario's
        // second trigger.
        prefs.setValue(QStringLiteral("triggerIntervalMs"), 1500);
        prefs.setValue(QStringLiteral("cooldownSeconds"), 0);
        if (m_settings.ctrlAltSpaceHotkey || m_settings.altSpaceHotkey) {
            prefs.setValue(QStringLiteral("hotkeyEnabled"), true);
            prefs.setValue(QStringLiteral("hotkeyKeyCode"), kSpaceKey);
            prefs.setValue(QStringLiteral("hotkeyModifiers"), m_settings.altSpaceHotkey ? kAlt : kControlAndAlt);
        }
        prefs.sync();
        if (prefs.status() != QSettings::NoError) {
            *why = QStringLiteral("cannot write the preferences");
            return false;
        }
    }
    // The secrets file of a desktop without a keyring: owner-only, in an owner-only folder.
    if (!m_settings.keyInKeyring) {
        const QString secretsDir = path(QStringLiteral("data/corvane"));
        QDir().mkpath(secretsDir);
        QFile::setPermissions(secretsDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile secrets(secretsDir + QStringLiteral("/secrets.json"));
        if (!secrets.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner) ||
            secrets.write(QJsonDocument(QJsonObject{{QStringLiteral("com.corvane.app"),
                                                     QJsonObject{{QStringLiteral("apiKey.openai"),
                                                                  QString::fromLatin1(apiKey)}}}})
                              .toJson()) <= 0) {
            *why = QStringLiteral("cannot write the secrets file");
            return false;
        }
    }
    return true;
}

bool CorvaneProcess::start(QString* why) {
    if (!m_homeReady && !prepareHome(why))
        return false;
    m_homeReady = true;
    QProcessEnvironment env = desktopEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
    m_process.setProcessEnvironment(env);
    m_process.setStandardOutputFile(path(QStringLiteral("output.txt")));
    m_process.setStandardErrorFile(path(QStringLiteral("output.txt")), QIODevice::Append);
    QElapsedTimer clock;
    clock.start();
    const QString binary = m_settings.binary.isEmpty() ? QStringLiteral(CORVANE_E2E_BINARY) : m_settings.binary;
    if (m_settings.launcher.isEmpty())
        m_process.start(binary, {});
    else
        m_process.start(m_settings.launcher.first(), m_settings.launcher.mid(1) << binary);
    if (!m_process.waitForStarted(10000)) {
        *why = QStringLiteral("corvane did not start: ") + m_process.errorString();
        return false;
    }
    if (!waitUntil([this] { return !running() || diagHas(QStringLiteral("EventMonitor.start tap created OK")); }) ||
        !running()) {
        *why = QStringLiteral("the space-tap monitor never started.\nDiagnostics:\n") + diagLog() +
               QStringLiteral("\nOutput:\n") + output();
        return false;
    }
    m_startToListeningMs = clock.elapsed();
    return true;
}

int CorvaneProcess::terminateAndWait() {
    m_process.terminate();
    if (!waitUntil([this] { return !running(); }))
        return -1;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

int CorvaneProcess::startSecondInstance() {
    QProcess second;
    second.setProcessEnvironment(m_process.processEnvironment());
    second.setProcessChannelMode(QProcess::ForwardedChannels);
    second.start(QStringLiteral(CORVANE_E2E_BINARY), {});
    if (!second.waitForStarted(10000) || !waitUntil([&] { return second.state() == QProcess::NotRunning; })) {
        second.kill();
        second.waitForFinished(3000);
        return -1;
    }
    return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1;
}

QString CorvaneProcess::diagLog() const {
    return QString::fromUtf8(readFile(path(QStringLiteral("state/corvane/corvane-diag.log"))));
}

QString CorvaneProcess::preference(const QString& key) const {
    QSettings prefs(path(QStringLiteral("config/corvane/corvane.conf")), QSettings::IniFormat);
    return prefs.value(key).toString();
}

QString CorvaneProcess::output() const { return QString::fromUtf8(readFile(path(QStringLiteral("output.txt")))); }

QList<ActivityRecord> CorvaneProcess::activity() const {
    QSettings prefs(path(QStringLiteral("config/corvane/corvane.conf")), QSettings::IniFormat);
    const QJsonArray array = QJsonDocument::fromJson(prefs.value(QStringLiteral("optimization_logs")).toByteArray()).array();
    QList<ActivityRecord> out;
    for (const QJsonValue& v : array) {
        const QJsonObject o = v.toObject();
        out.append({o.value(QStringLiteral("status")).toString(), o.value(QStringLiteral("originalPreview")).toString(),
                    o.value(QStringLiteral("optimizedPreview")).toString(), o.value(QStringLiteral("detail")).toString()});
    }
    return out;
}

QList<QString> CorvaneProcess::activityStatuses() const {
    QList<QString> out;
    for (const ActivityRecord& r : activity())
        out.append(r.status);
    return out;
}

} // namespace corvane::e2e

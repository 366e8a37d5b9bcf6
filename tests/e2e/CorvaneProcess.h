#pragma once
// The real corvane binary, started the way a user's session starts it, with a home of its own:
// preferences, secrets (the owner-only file, as on a desktop without a keyring) and the diagnostics
// log live in private XDG folders that the scenario prepares and reads back.
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace corvane::e2e {

// One record of the activity log as stored under "optimization_logs".
struct ActivityRecord {
    QString status; // the stored value, see the constants below
    QString original;
    QString optimized;
    QString detail;
};

namespace stored {
inline const QString triggered = QString::fromUtf8("触发");
inline const QString completed = QString::fromUtf8("完成");
inline const QString failed = QString::fromUtf8("失败");
inline const QString replaced = QString::fromUtf8("已替换");
inline const QString cancelled = QString::fromUtf8("已取消");
} // namespace stored

class CorvaneProcess {
public:
    struct Settings {
        QString endpoint;             // the model server (OpenAI-compatible)
        double apiTimeoutSeconds = 20;
        bool ctrlAltSpaceHotkey = false; // stored as the user's, as it is by default
        bool altSpaceHotkey = false;     // stored by an earlier version; the window manager owns it
        QString binary = {};             // another build of corvane; "" for this one
        QStringList launcher = {};       // a command that runs the binary in its place (exec-ing it)
        bool keyInKeyring = false;       // the key is in the session's keyring (put there beforehand), no secrets file
        QByteArray configFile = {};      // corvane.conf as found at start, instead of the settings above
        QString configLink = {};         // corvane.conf is a link to this path, instead of the above
    };
    static constexpr const char* apiKey = "sk-e2e-test-key";

    explicit CorvaneProcess(Settings settings);
    ~CorvaneProcess();
    CorvaneProcess(const CorvaneProcess&) = delete;
    CorvaneProcess& operator=(const CorvaneProcess&) = delete;

    // Writes the preferences and the secrets file (at the first start; a later one finds the home as
    // the last run left it), starts the binary and waits until its space-tap monitor runs. On
    // failure, why says what went wrong.
    bool start(QString* why);
    qint64 pid() const { return m_process.processId(); }
    // From the process start to its monitor running, as the last start() saw it.
    qint64 startToListeningMs() const { return m_startToListeningMs; }
    bool running() const { return m_process.state() == QProcess::Running; }

    // Sends SIGTERM and waits for the end; the exit status, or -1 when it crashed or did not end.
    int terminateAndWait();
    // Starts the binary a second time with the same home and waits for it to end; its exit status.
    int startSecondInstance();

    // $XDG_CONFIG_HOME/corvane of the binary: its preferences live here.
    QString configFolder() const { return path(QStringLiteral("config/corvane")); }
    QString diagLog() const;
    // A preference as the binary stored it (the text of the INI value).
    QString preference(const QString& key) const;
    bool diagHas(const QString& fragment) const { return diagLog().contains(fragment); }
    // The activity log, newest first, as it is stored right now.
    QList<ActivityRecord> activity() const;
    QList<QString> activityStatuses() const;
    // What the binary printed (for failure messages).
    QString output() const;

private:
    bool prepareHome(QString* why);
    QString path(const QString& relative) const { return m_home.filePath(relative); }

    Settings m_settings;
    QTemporaryDir m_home;
    QProcess m_process;
    qint64 m_startToListeningMs = -1;
    bool m_homeReady = false;
};

} // namespace corvane::e2e

#pragma once
// The self-updater: scheduled and manual manifest checks, a verified download, the staged swap,
// and the update gate (a run is refused while the stored minimum version, "updateMinVersion" from
// the last manifest, is newer than the running version).
#include "trigger/UpdateGate.h"
#include <QByteArray>
#include <QDir>
#include <QJsonObject>
#include <QObject>
#include <QUrl>
#include <functional>
#include <optional>
#include <qcoro/qcorotask.h>

class QNetworkAccessManager;
class QNetworkProxy;

namespace corvane::llm {
class HttpConnectionPool;
} // namespace corvane::llm

namespace corvane::platform {
class Clock;
class Preferences;
} // namespace corvane::platform

namespace corvane::services {

class UpdatePresenter;

class UpdateService final : public QObject, public trigger::UpdateGate {
    Q_OBJECT
public:
    static constexpr const char* minVersionKey = "updateMinVersion";
    static constexpr const char* autoCheckKey = "updateAutoCheck";
    static constexpr const char* autoInstallKey = "updateAutoInstall";
    static constexpr const char* lastErrorKey = "updateLastError";
    static constexpr const char* debugHostKey = "updateDebugHost";
    // The newest manifest version accepted. An older manifest is ignored whole; one of the same
    // version may raise the minimum but never lower or lift it; a newer one sets it as it says.
    static constexpr const char* newestManifestKey = "updateNewestManifestVersion";
    static constexpr qint64 firstCheckDelayMs = 15'000;
    static constexpr qint64 checkIntervalMs = 21'600'000;
    // The file `cmake --install` writes at the top of a self-updatable install.
    static constexpr const char* installMarker = ".corvane-install";

    // Where updates come from and where they go.
    struct Config {
        QString baseUrl;       // the update server; "updateDebugHost" overrides it
        QByteArray publicKey;  // Ed25519, 32 bytes; empty: nothing verifies, so nothing installs
        QString installDir;    // the self-updatable install; empty: checks only
        QString launchPath = QStringLiteral("bin/corvane"); // started after the swap, relative to the install
        QString shell = QStringLiteral("/bin/sh");
        QString workRoot = QDir::tempPath(); // downloads and the swap script, in a private folder
        QString logFile;       // where the swap script reports; empty: nowhere
        qint64 maxManifestBytes = 64 * 1024;
        qint64 maxPackageBytes = 256LL * 1024 * 1024;
        qint64 maxUnpackedBytes = 1024LL * 1024 * 1024;

        // The given server and key (base64 or hex), and the install this process runs from when it is one.
        static Config forRunningApp(const QString& baseUrl, const QString& publicKey);
        // The install folder holding the running binary, or empty when this is not one (a build
        // tree, a distribution package, a folder the user cannot write).
        static QString locateInstall(const QString& applicationDir);
    };

    // What the updater asks of the rest of the application.
    struct Host {
        std::function<bool()> engineIdle;      // automatic installs wait for an idle engine...
        std::function<bool()> panelVisible;    // ...and a hidden panel
        std::function<void()> saveSnapshot;    // the panel's content, shown again after the swap
        std::function<void()> quit;            // ends the process (default: exit 0, no clean-up)
    };

    // With connections, the proxy for each request is asked of their worker thread (the system's proxy
    // settings may take milliseconds, or hang); without, the network manager asks them itself.
    UpdateService(platform::Preferences& preferences, platform::Clock& clock, QString currentVersion, Config config,
                  llm::HttpConnectionPool* connections = nullptr, QObject* parent = nullptr);
    // Checks only: no server, no key and no install until configured.
    UpdateService(platform::Preferences& preferences, platform::Clock& clock, QString currentVersion);
    ~UpdateService() override;
    static UpdateService& shared();
    static void setShared(UpdateService* service);

    // What the updater is doing, published through statusChanged().
    struct Status {
        enum class Kind { Idle, Checking, Available, Downloading, UpToDate, Failed };
        Kind kind = Kind::Idle;
        QString version;        // Available
        QString notes;          // Available
        double progress = 0.0;  // Downloading, 0 to 1
        QString message;        // Failed
    };

    Status status() const { return m_status; }
    // Removes leftover staging folders beside the install (never the install itself).
    void cleanupStaleStaging();
    // A check 15 s from now, then every 6 h, each only while "updateAutoCheck" is on.
    void startAutoChecks();
    // Returns at once while a check or a download runs (a manual request raises an open question
    // before installing instead).
    QCoro::Task<> checkAndInstall(bool manual);
    // True when this copy can replace itself (a verified install folder of its own).
    bool canInstall() const;

    QString currentVersion() const { return m_currentVersion; }
    bool isUpdateRequired() const override;
    void showForcedUpdateWindow() override;
    // Without a presenter, alerts and the forced-update request go to the diagnostics log.
    void setPresenter(UpdatePresenter* presenter) { m_presenter = presenter; }
    void setHost(Host host);
    // The server the next check asks: the debug host when set, else the configured one.
    QString baseUrl() const;

    // -1, 0 or 1 as a is older than, equal to or newer than b ("1.10" > "1.9"; missing parts are 0).
    static int compareVersions(const QString& a, const QString& b);

Q_SIGNALS:
    void statusChanged();

private:
    struct Manifest {
        QString version, notes, sha256, minVersion;
        QList<QUrl> packages; // "zip", then "dmg"
    };
    struct Fetched {
        QByteArray body;
        QString error; // empty on success
    };

    QCoro::Task<> check(bool manual);
    QCoro::Task<std::optional<Manifest>> fetchManifest(QString* error);
    QCoro::Task<> install(Manifest manifest, bool manual);
    QCoro::Task<Fetched> fetch(QUrl url, qint64 maxBytes, QString savePath, bool reportProgress);
    // The proxy a request to url takes, from the connections' worker; none when no answer came within
    // the transfer time-out.
    QCoro::Task<std::optional<QNetworkProxy>> proxyFor(QUrl url);
    std::optional<Manifest> parseManifest(const QByteArray& bytes, QString* error) const;
    QString newestManifestVersion() const;
    enum class ManifestOrder {
        Accepted, // recorded: its version and minimum now count
        Older,    // older than the version running or the stored minimum: ignored, never offered
        Replayed, // older than a manifest accepted before: ignored and reported
    };
    // Records the manifest's version and minimum unless it is older than the newest known.
    ManifestOrder acceptOrder(const Manifest& manifest);
    void fail(const QString& message, bool manual, const QString& alertTitle);
    void setStatus(Status status);
    void scheduleNext(quint64 generation, qint64 delayMs);

    platform::Preferences& m_preferences;
    platform::Clock& m_clock;
    QString m_currentVersion;
    Config m_config;
    Host m_host;
    UpdatePresenter* m_presenter = nullptr;
    llm::HttpConnectionPool* m_connections = nullptr;
    QNetworkAccessManager* m_network = nullptr;
    Status m_status;
    bool m_busy = false;
    bool m_asking = false; // the question before installing is open
    quint64 m_scheduleGeneration = 0;
};

} // namespace corvane::services

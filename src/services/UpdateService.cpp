#include "services/UpdateService.h"
#include "llm/HttpConnectionPool.h"
#include "llm/Wakeup.h"
#include "platform/Clock.h"
#include "platform/Preferences.h"
#include "services/UpdatePackage.h"
#include "services/UpdatePresenter.h"
#include "stores/DiagLog.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <qcoro/qcoronetworkreply.h>

#include <cstdlib>
#include <unistd.h>

namespace corvane::services {

using stores::DiagLog;

namespace {
UpdateService* g_shared = nullptr;
constexpr qint64 signatureCap = 4096;
constexpr int transferTimeoutMs = 30000;

bool isVersion(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,9}){0,5}$"));
    return pattern.match(text).hasMatch();
}

QUrl withSuffix(const QUrl& url, const QString& suffix) {
    QUrl out(url);
    out.setPath(url.path() + suffix);
    return out;
}

bool isWebUrl(const QUrl& url) {
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
}

using Kind = UpdateService::Status::Kind;

UpdateService::Status makeStatus(Kind kind, QString version = {}, QString notes = {}, double progress = 0.0,
                                 QString message = {}) {
    UpdateService::Status status;
    status.kind = kind;
    status.version = std::move(version);
    status.notes = std::move(notes);
    status.progress = progress;
    status.message = std::move(message);
    return status;
}

// Keeps a flag raised for the lifetime of a scope, whichever way the scope ends.
struct BusyScope {
    bool& flag;
    explicit BusyScope(bool& f) : flag(f) { flag = true; }
    ~BusyScope() { flag = false; }
};
} // namespace

// --- configuration ---------------------------------------------------------------------------

UpdateService::Config UpdateService::Config::forRunningApp(const QString& baseUrl, const QString& publicKey) {
    Config config;
    config.baseUrl = baseUrl;
    config.publicKey = updatepkg::decodePublicKey(publicKey);
    config.installDir = locateInstall(QCoreApplication::applicationDirPath());
    config.launchPath = QStringLiteral("bin/") + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    config.logFile = DiagLog::filePath();
    return config;
}

QString UpdateService::Config::locateInstall(const QString& applicationDir) {
    const QFileInfo bin(applicationDir);
    if (bin.fileName() != QLatin1String("bin"))
        return {};
    const QString root = QDir(bin.absoluteFilePath() + QStringLiteral("/..")).canonicalPath();
    if (root.isEmpty() || !QFileInfo(root + QLatin1Char('/') + QLatin1String(installMarker)).isFile())
        return {};
    // The swap renames the install and makes siblings: both it and its parent must be ours to change.
    const QFileInfo parent(QFileInfo(root).absolutePath());
    if (::access(QFile::encodeName(root).constData(), W_OK) != 0 ||
        ::access(QFile::encodeName(parent.absoluteFilePath()).constData(), W_OK) != 0)
        return {};
    return root;
}

// --- life cycle ------------------------------------------------------------------------------

UpdateService::UpdateService(platform::Preferences& preferences, platform::Clock& clock, QString currentVersion,
                             Config config, llm::HttpConnectionPool* connections, QObject* parent)
    : QObject(parent), m_preferences(preferences), m_clock(clock), m_currentVersion(std::move(currentVersion)),
      m_config(std::move(config)), m_connections(connections) {
    if (m_currentVersion.isEmpty())
        m_currentVersion = QStringLiteral("0.0");
    setHost({});
}

UpdateService::UpdateService(platform::Preferences& preferences, platform::Clock& clock, QString currentVersion)
    : UpdateService(preferences, clock, std::move(currentVersion), Config()) {}

UpdateService::~UpdateService() = default;

UpdateService& UpdateService::shared() {
    if (!g_shared)
        qFatal("UpdateService::shared() used before the application wired it");
    return *g_shared;
}

void UpdateService::setShared(UpdateService* service) { g_shared = service; }

void UpdateService::setHost(Host host) {
    if (!host.engineIdle)
        host.engineIdle = [] { return true; };
    if (!host.panelVisible)
        host.panelVisible = [] { return false; };
    if (!host.saveSnapshot)
        host.saveSnapshot = [] {};
    if (!host.quit)
        host.quit = [this] {
            // The swap script waits for this process to end: no shutdown work, only what must reach the disk.
            m_preferences.sync();
            DiagLog::flush();
            std::_Exit(0);
        };
    m_host = std::move(host);
}

int UpdateService::compareVersions(const QString& a, const QString& b) {
    const QStringList pa = a.trimmed().split(QLatin1Char('.'));
    const QStringList pb = b.trimmed().split(QLatin1Char('.'));
    const qsizetype n = std::max(pa.size(), pb.size());
    for (qsizetype i = 0; i < n; ++i) {
        const qlonglong x = i < pa.size() ? pa[i].toLongLong() : 0;
        const qlonglong y = i < pb.size() ? pb[i].toLongLong() : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

bool UpdateService::isUpdateRequired() const {
    const QString minimum = m_preferences.string(QString::fromLatin1(minVersionKey)).value_or(QString()).trimmed();
    return !minimum.isEmpty() && compareVersions(minimum, m_currentVersion) > 0;
}

bool UpdateService::canInstall() const { return !m_config.installDir.isEmpty() && !m_config.publicKey.isEmpty(); }

QString UpdateService::baseUrl() const {
    QString base = m_preferences.string(QString::fromLatin1(debugHostKey)).value_or(QString()).trimmed();
    if (base.isEmpty())
        base = m_config.baseUrl;
    else if (!base.contains(QLatin1String("://")))
        base.prepend(QStringLiteral("https://"));
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base;
}

void UpdateService::setStatus(Status status) {
    m_status = std::move(status);
    Q_EMIT statusChanged();
}

void UpdateService::fail(const QString& message, bool manual, const QString& alertTitle) {
    DiagLog::event(QStringLiteral("update: ") + message);
    m_preferences.setValue(QString::fromLatin1(lastErrorKey), message);
    setStatus(makeStatus(Kind::Failed, {}, {}, 0.0, message));
    if (manual && m_presenter)
        m_presenter->showAlert(alertTitle, message);
}

// --- staging leftovers and the schedule -------------------------------------------------------

void UpdateService::cleanupStaleStaging() {
    if (m_config.installDir.isEmpty())
        return;
    const QString install = QDir::cleanPath(m_config.installDir);
    for (const char* suffix : {".cv-new", ".cv-old"}) {
        const QString leftover = install + QLatin1String(suffix);
        const QFileInfo entry(leftover);
        if (!entry.exists() && !entry.isSymLink())
            continue;
        // A link by that name goes as a link: what it points at is not ours to clean.
        const QString error = updatepkg::removeStaging(leftover);
        DiagLog::event(QStringLiteral("update: ") +
                       (error.isEmpty() ? QStringLiteral("removed ") + leftover : error));
    }
}

void UpdateService::startAutoChecks() {
    scheduleNext(++m_scheduleGeneration, firstCheckDelayMs);
}

void UpdateService::scheduleNext(quint64 generation, qint64 delayMs) {
    m_clock.schedule(delayMs, this, [this, generation] {
        if (generation != m_scheduleGeneration)
            return; // replaced by a later schedule
        scheduleNext(generation, checkIntervalMs);
        if (m_preferences.boolean(QString::fromLatin1(autoCheckKey)).value_or(true))
            checkAndInstall(false);
    });
}

// --- checking --------------------------------------------------------------------------------

QCoro::Task<> UpdateService::checkAndInstall(bool manual) {
    if (m_busy) {
        // The question does not block the desktop: a second request finds it again.
        if (manual && m_asking && m_presenter)
            m_presenter->raiseQuestion();
        co_return;
    }
    BusyScope busy(m_busy);
    co_await check(manual);
}

QCoro::Task<> UpdateService::check(bool manual) {
    // Until an operator runs an update server the built-in address is a placeholder: automatic
    // checks stay quiet, a manual one says why nothing came; nothing failed, so the menu keeps
    // "Check for Updates…" either way.
    if (QUrl(baseUrl()).host().endsWith(QLatin1String(".invalid"), Qt::CaseInsensitive)) {
        if (manual && m_presenter)
            m_presenter->showAlert(tr("No Update Server"),
                                   tr("No update server is set up for this build of Corvane yet."));
        co_return;
    }
    setStatus(makeStatus(Kind::Checking));
    QString error;
    const std::optional<Manifest> manifest = co_await fetchManifest(&error);
    if (!manifest) {
        fail(error, manual, tr("Update check failed"));
        co_return;
    }
    const ManifestOrder order = acceptOrder(*manifest);
    if (order == ManifestOrder::Replayed) {
        fail(tr("The update server offered v%1, older than the v%2 it offered before; the offer was ignored.")
                 .arg(manifest->version, newestManifestVersion()),
             manual, tr("Update check failed"));
        co_return;
    }

    if (order == ManifestOrder::Older || compareVersions(manifest->version, m_currentVersion) <= 0) {
        setStatus(makeStatus(Kind::UpToDate));
        if (manual && m_presenter)
            m_presenter->showAlert(tr("You're up to date"),
                                   tr("Current version v%1 — no updates available.").arg(m_currentVersion));
        co_return;
    }
    setStatus(makeStatus(Kind::Available, manifest->version, manifest->notes));
    DiagLog::event(QStringLiteral("update: v") + manifest->version + QStringLiteral(" available (running v") +
                   m_currentVersion + QLatin1Char(')'));
    if (manual) {
        if (!canInstall()) {
            if (m_presenter)
                m_presenter->showManualUpdate(
                    manifest->version, manifest->notes,
                    tr("This copy of Corvane was not installed into a folder of your own, so it cannot replace "
                       "itself. Install the new version the way you installed this one, or install it with "
                       "\"cmake --install\" into a folder you own to receive updates automatically."));
            co_return;
        }
        if (!m_presenter)
            co_return;
        bool yes = false;
        {
            BusyScope asking(m_asking);
            yes = co_await m_presenter->askToInstall(manifest->version, manifest->notes);
        }
        if (!yes)
            co_return;
        co_await install(*manifest, true);
        co_return;
    }
    if (canInstall() && m_preferences.boolean(QString::fromLatin1(autoInstallKey)).value_or(false) &&
        m_host.engineIdle() && !m_host.panelVisible())
        co_await install(*manifest, false);
}

QString UpdateService::newestManifestVersion() const {
    return m_preferences.string(QString::fromLatin1(newestManifestKey)).value_or(QString()).trimmed();
}

UpdateService::ManifestOrder UpdateService::acceptOrder(const Manifest& manifest) {
    // Manifests carry no date, so the newest version accepted so far orders them: an older one is
    // a replay or a stale mirror and is ignored whole, its minimum included. An install that has
    // not recorded one yet (it came from a version that did not) knows at least the version it runs
    // and the minimum it stored: an older manifest is ignored whole as well, but it is no failure,
    // only not an update.
    const QString stored = newestManifestVersion();
    const QString minKey = QString::fromLatin1(minVersionKey);
    const QString minimum = m_preferences.string(minKey).value_or(QString()).trimmed();
    QString newest = stored;
    if (!isVersion(newest))
        newest = isVersion(minimum) && compareVersions(minimum, m_currentVersion) > 0 ? minimum : m_currentVersion;
    const int order = compareVersions(manifest.version, newest);
    if (order < 0)
        return isVersion(stored) ? ManifestOrder::Replayed : ManifestOrder::Older;
    if (order > 0 || !isVersion(stored))
        m_preferences.setValue(QString::fromLatin1(newestManifestKey), manifest.version);
    if (order > 0) {
        // The minimum comes from a verified newer manifest only; one without a minimum lifts it.
        if (manifest.minVersion.isEmpty())
            m_preferences.remove(minKey);
        else
            m_preferences.setValue(minKey, manifest.minVersion);
    } else if (!manifest.minVersion.isEmpty() && compareVersions(manifest.minVersion, minimum) > 0) {
        // The same version again may only raise the minimum, so serving an earlier signed form of
        // it cannot lift a minimum its later form set.
        m_preferences.setValue(minKey, manifest.minVersion);
    }
    return ManifestOrder::Accepted;
}

QCoro::Task<std::optional<UpdateService::Manifest>> UpdateService::fetchManifest(QString* error) {
    const QUrl url(baseUrl() + QStringLiteral("/latest.json"));
    if (!isWebUrl(url)) {
        *error = tr("The update address \"%1\" is not a web address.").arg(baseUrl());
        co_return std::nullopt;
    }
    const Fetched body = co_await fetch(url, m_config.maxManifestBytes, {}, false);
    if (!body.error.isEmpty()) {
        *error = body.error;
        co_return std::nullopt;
    }
    const Fetched signature = co_await fetch(withSuffix(url, QStringLiteral(".sig")), signatureCap, {}, false);
    if (!signature.error.isEmpty()) {
        *error = tr("The update manifest's signature could not be fetched: %1").arg(signature.error);
        co_return std::nullopt;
    }
    if (!updatepkg::verifyBytes(body.body, signature.body, m_config.publicKey)) {
        *error = m_config.publicKey.isEmpty() ? tr("This build has no update key, so no update can be verified.")
                                              : tr("The update manifest's signature is not valid.");
        co_return std::nullopt;
    }
    co_return parseManifest(body.body, error);
}

std::optional<UpdateService::Manifest> UpdateService::parseManifest(const QByteArray& bytes, QString* error) const {
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = tr("The update manifest is not valid JSON.");
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    Manifest m;
    m.version = o.value(QStringLiteral("version")).toString().trimmed();
    m.notes = o.value(QStringLiteral("notes")).toString();
    m.sha256 = o.value(QStringLiteral("sha256")).toString().trimmed().toLower();
    m.minVersion = o.value(QStringLiteral("minVersion")).toString().trimmed();
    const QUrl base(baseUrl() + QLatin1Char('/'));
    for (const char* key : {"zip", "dmg"}) {
        const QString text = o.value(QLatin1String(key)).toString().trimmed();
        const QUrl url = base.resolved(QUrl(text));
        if (!text.isEmpty() && isWebUrl(url))
            m.packages << url;
    }
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    QString missing;
    if (!isVersion(m.version))
        missing = QStringLiteral("version");
    else if (!m.minVersion.isEmpty() && !isVersion(m.minVersion))
        missing = QStringLiteral("minVersion");
    else if (!hex.match(m.sha256).hasMatch())
        missing = QStringLiteral("sha256");
    else if (m.packages.isEmpty())
        missing = QStringLiteral("zip");
    if (!missing.isEmpty()) {
        *error = tr("The update manifest has no valid \"%1\".").arg(missing);
        return std::nullopt;
    }
    return m;
}

QCoro::Task<UpdateService::Fetched> UpdateService::fetch(QUrl url, qint64 maxBytes, QString savePath,
                                                         bool reportProgress) {
    struct Transfer {
        QByteArray body;
        std::unique_ptr<QFile> file;
        qint64 received = 0;
        bool tooLarge = false;
        bool writeFailed = false;
    };
    auto t = std::make_shared<Transfer>();
    if (!savePath.isEmpty()) {
        t->file = std::make_unique<QFile>(savePath);
        if (!t->file->open(QIODevice::WriteOnly | QIODevice::Truncate))
            co_return Fetched{{}, tr("The update could not be saved in %1.").arg(QDir::toNativeSeparators(savePath))};
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(transferTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // Made on the first check rather than at start: most starts never download anything soon.
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    if (m_connections) {
        // A proxy set on the manager (none included) is used as it is: the manager asks nothing more.
        const std::optional<QNetworkProxy> proxy = co_await proxyFor(url);
        if (!proxy)
            co_return Fetched{{}, tr("Couldn't reach %1 (the system's proxy settings did not answer).")
                                      .arg(url.toDisplayString())};
        m_network->setProxy(*proxy);
    }
    QPointer<QNetworkReply> reply = m_network->get(request);

    // Memory and disk stay bounded: the body is read as it arrives and the transfer ends at the cap.
    auto take = [t, reply, maxBytes] {
        if (!reply || t->tooLarge || t->writeFailed)
            return;
        const QByteArray chunk = reply->readAll();
        t->received += chunk.size();
        if (t->received > maxBytes) {
            t->tooLarge = true;
            reply->abort();
            return;
        }
        if (t->file) {
            if (t->file->write(chunk) != chunk.size()) {
                t->writeFailed = true;
                reply->abort();
            }
        } else {
            t->body += chunk;
        }
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, [t, reply, maxBytes] {
        const QVariant length = reply ? reply->header(QNetworkRequest::ContentLengthHeader) : QVariant();
        if (reply && length.isValid() && length.toLongLong() > maxBytes) {
            t->tooLarge = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::readyRead, this, take);
    if (reportProgress)
        connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
            if (total <= 0)
                return;
            const double progress = std::clamp(double(received) / double(total), 0.0, 1.0);
            if (int(progress * 100) != int(m_status.progress * 100))
                setStatus(makeStatus(Kind::Downloading, {}, {}, progress));
        });
    co_await qCoro(reply.data()).waitForFinished();
    take();
    Fetched out;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (t->tooLarge)
        out.error = tr("The download from %1 is larger than the %2 KB allowed.")
                        .arg(url.toDisplayString(), QString::number(maxBytes / 1024));
    else if (t->writeFailed)
        out.error = tr("The update could not be saved (%1).").arg(t->file->errorString());
    else if (reply->error() != QNetworkReply::NoError && status == 0)
        out.error = tr("Couldn't reach %1 (%2).").arg(url.toDisplayString(), reply->errorString());
    else if (status != 200)
        out.error = tr("%1 answered HTTP %2.").arg(url.toDisplayString(), QString::number(status));
    else if (reply->error() != QNetworkReply::NoError)
        out.error = tr("The download from %1 broke off (%2).").arg(url.toDisplayString(), reply->errorString());
    else
        out.body = std::move(t->body);
    if (t->file)
        t->file->close();
    reply->deleteLater();
    co_return out;
}

QCoro::Task<std::optional<QNetworkProxy>> UpdateService::proxyFor(QUrl url) {
    llm::Wakeup done;
    std::optional<QNetworkProxy> answer;
    // The timer is also what the answer is delivered to: once the wait ends, a late answer goes nowhere.
    QTimer bound;
    bound.setSingleShot(true);
    connect(&bound, &QTimer::timeout, &bound, [&done] { done.fire(); });
    m_connections->withProxy(url, &bound, [&answer, &done](const QNetworkProxy& proxy) {
        answer = proxy;
        done.fire();
    });
    bound.start(transferTimeoutMs);
    co_await done.wait();
    co_return answer;
}

// --- installing ------------------------------------------------------------------------------

QCoro::Task<> UpdateService::install(Manifest manifest, bool manual) {
    const QString failTitle = tr("Update failed");
    if (compareVersions(manifest.version, m_currentVersion) <= 0) {
        fail(tr("The offered version v%1 is not newer than v%2.").arg(manifest.version, m_currentVersion), manual,
             failTitle);
        co_return;
    }
    setStatus(makeStatus(Kind::Downloading, {}, {}, 0.0));
    DiagLog::event(QStringLiteral("update: installing v") + manifest.version);

    auto work = std::make_unique<QTemporaryDir>(m_config.workRoot + QStringLiteral("/corvane-update-XXXXXX"));
    if (!work->isValid()) {
        fail(tr("The update could not be prepared (%1).").arg(work->errorString()), manual, failTitle);
        co_return;
    }
    const QString package = work->filePath(QStringLiteral("package.tar.gz"));
    QString error;
    bool verified = false;
    for (const QUrl& url : manifest.packages) {
        const Fetched got = co_await fetch(url, m_config.maxPackageBytes, package, true);
        if (!got.error.isEmpty()) {
            error = got.error;
            continue;
        }
        const Fetched signature = co_await fetch(withSuffix(url, QStringLiteral(".sig")), signatureCap, {}, false);
        if (!signature.error.isEmpty()) {
            error = tr("The update package's signature could not be fetched: %1").arg(signature.error);
            continue;
        }
        if (updatepkg::sha256OfFile(package) != manifest.sha256) {
            error = tr("The update package does not match its published checksum.");
            continue;
        }
        if (!updatepkg::verifyFile(package, signature.body, m_config.publicKey)) {
            error = tr("The update package's signature is not valid.");
            continue;
        }
        verified = true;
        break;
    }
    if (!verified) {
        fail(error, manual, failTitle);
        co_return;
    }

    const QString install = QDir::cleanPath(m_config.installDir);
    const QString staged = install + QStringLiteral(".cv-new");
    error = updatepkg::removeStaging(staged);
    if (!error.isEmpty()) {
        fail(error, manual, failTitle);
        co_return;
    }
    error = updatepkg::unpack(package, staged, m_config.maxUnpackedBytes);
    if (error.isEmpty()) {
        const QFileInfo launch(staged + QLatin1Char('/') + m_config.launchPath);
        if (!QFileInfo(staged + QLatin1Char('/') + QLatin1String(installMarker)).isFile() || !launch.isFile() ||
            !launch.isExecutable())
            error = tr("The update package holds no Corvane install (%1 is missing).").arg(m_config.launchPath);
    }
    if (error.isEmpty() && !manual && (!m_host.engineIdle() || m_host.panelVisible())) {
        // The user started working while the download ran: the next check tries again.
        const QString left = updatepkg::removeStaging(staged);
        if (!left.isEmpty())
            DiagLog::event(QStringLiteral("update: ") + left);
        setStatus(makeStatus(Kind::Available, manifest.version, manifest.notes));
        co_return;
    }
    if (error.isEmpty()) {
        m_host.saveSnapshot();
        const QString script = work->filePath(QStringLiteral("cv-update.sh"));
        QFile file(script);
        if (!file.open(QIODevice::WriteOnly) || file.write(updatepkg::swapScript()) < 0 || !file.flush()) {
            error = tr("The update could not be prepared (%1).").arg(file.errorString());
        } else {
            file.close();
            QString spawnError;
            const QStringList args{script,
                                   QString::number(QCoreApplication::applicationPid()),
                                   install,
                                   staged,
                                   install + QStringLiteral(".cv-old"),
                                   m_config.launchPath,
                                   work->path(),
                                   m_config.logFile};
            if (updatepkg::spawnDetached(m_config.shell, args, &spawnError)) {
                work->setAutoRemove(false); // the script removes it after the swap
                DiagLog::event(QStringLiteral("update: v") + manifest.version +
                               QStringLiteral(" staged, restarting through cv-update.sh"));
                m_host.quit();
                co_return;
            }
            error = tr("The update could not be started (%1).").arg(spawnError);
        }
    }
    // A staging folder left behind would stop every later update: the user is told where it is.
    const QString left = updatepkg::removeStaging(staged);
    fail(left.isEmpty() ? error : error + QLatin1Char(' ') + left, manual, failTitle);
}

// --- the forced update -----------------------------------------------------------------------

void UpdateService::showForcedUpdateWindow() {
    const QString minimum = m_preferences.string(QString::fromLatin1(minVersionKey)).value_or(QString()).trimmed();
    QString detail = tr("Corvane v%1 can no longer be used. Please update to v%2 or later.")
                         .arg(m_currentVersion, minimum.isEmpty() ? m_currentVersion : minimum);
    if (!canInstall())
        detail += QLatin1Char(' ') + tr("This copy cannot replace itself: install the new version the way you "
                                        "installed this one.");
    if (m_presenter)
        m_presenter->showForcedUpdate(detail);
    else
        DiagLog::event(QStringLiteral("update: a required update is pending (running v") + m_currentVersion +
                       QLatin1Char(')'));
}

} // namespace corvane::services

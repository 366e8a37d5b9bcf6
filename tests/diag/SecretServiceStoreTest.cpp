// The keyring backend against a real gnome-keyring, a locked keyring, an empty bus, a Secret Service
// that never answers, and no bus at all. Each suite runs in its own private session started by
// tests/support/session.sh (see tests/diag/CMakeLists.txt); outside one it skips.
#include "DiagFiles.h"
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemorySystemLog.h"
#include "platform/linux/AutoSecretStore.h"
#include "platform/linux/FileSecretStore.h"
#include "platform/fake/MemoryPreferences.h"
#include "platform/linux/SecretServiceStore.h"
#include "stores/DiagLog.h"
#include "stores/KeychainHelper.h"
#include "stores/SettingsStore.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QProcess>
#include <QDBusReply>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <qcoro/qcorotask.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <future>
#include <sys/stat.h>

using namespace corvane::platform;
using namespace corvane::platform::linux_;
using corvane::stores::DiagLog;
using corvane::diagtest::modeOf;
using namespace std::chrono_literals;

namespace {

const QString kService = QStringLiteral("com.corvane.app");
const QString kAccount = QStringLiteral("apiKey.openai");

#define REQUIRE_SESSION(mode)                                                                      \
    if (qgetenv("CORVANE_KEYRING_SESSION") != mode)                                                \
    GTEST_SKIP() << "run through tests/support/session.sh --no-x --bare-bus (" mode ")"

// Runs f on another thread. A call that never returns is exactly the fault under test, so the run
// ends at once instead of waiting for the test runner's time limit.
template <typename F>
auto bounded(F f) {
    auto future = std::async(std::launch::async, std::move(f));
    if (future.wait_for(60s) != std::future_status::ready) {
        std::fprintf(stderr, "FAILED: a keyring call did not return\n");
        std::fflush(stderr);
        std::_Exit(1);
    }
    return future.get();
}

// libsecret's command-line tool, as a second, independent view of the keyring.
QByteArray secretTool(const QStringList& args, const QByteArray& input = {}) {
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral("secret-tool"), args);
    tool.write(input);
    tool.closeWriteChannel();
    tool.waitForFinished(30'000);
    return tool.readAll();
}

QStringList ourAttributes(const QString& service, const QString& account) {
    return {QStringLiteral("xdg:schema"), QString::fromLatin1(SecretServiceStore::schemaName), QStringLiteral("service"),
            service, QStringLiteral("account"), account};
}

int itemCount(const QString& service, const QString& account) {
    const QByteArray out = secretTool(QStringList{QStringLiteral("search"), QStringLiteral("--all")} + ourAttributes(service, account));
    int count = 0;
    for (const QByteArray& line : out.split('\n'))
        count += line.startsWith('[');
    return count;
}

// The diagnostics log in a temp folder, as main wires it.
struct DiagFile {
    QTemporaryDir dir;
    fake::FakeClock clock;
    fake::MemorySystemLog systemLog;
    QString path = dir.filePath(QStringLiteral("corvane-diag.log"));
    DiagFile() { DiagLog::configure(&systemLog, &clock, path); }
    ~DiagFile() {
        DiagLog::flush();
        DiagLog::configure(nullptr, nullptr, QString());
    }
    QStringList lines() {
        DiagLog::flush();
        return QString::fromUtf8(corvane::diagtest::readAll(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

AutoSecretStore::Notice toDiagLog() {
    return [](const QString& line) { DiagLog::event(line); };
}

// Checks the one line that tells the user where secrets go instead, and returns its reason.
QString expectFallbackLine(const QStringList& lines, const QString& secretsPath) {
    EXPECT_EQ(lines.size(), 1) << lines.join(QLatin1Char('\n')).toStdString();
    if (lines.isEmpty())
        return {};
    const QRegularExpression shape(
        QStringLiteral("^\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} Keychain: no Secret Service available \\((.+)\\); "
                       "keeping secrets in %1 \\(readable only by you\\)$")
            .arg(QRegularExpression::escape(secretsPath)));
    const auto match = shape.match(lines[0]);
    EXPECT_TRUE(match.hasMatch()) << lines[0].toStdString();
    return match.captured(1);
}

// ---- a running, unlocked gnome-keyring ----

TEST(Keyring, SaveReplaceLoadRemove) {
    REQUIRE_SESSION("keyring");
    SecretServiceStore store;
    EXPECT_TRUE(bounded([&] { return store.probe(); }).available);
    EXPECT_EQ(store.load(kService, kAccount), std::nullopt);

    ASSERT_TRUE(store.save(kService, kAccount, QStringLiteral("sk-first")).ok);
    EXPECT_EQ(store.load(kService, kAccount), QStringLiteral("sk-first"));
    ASSERT_TRUE(store.save(kService, kAccount, QStringLiteral("sk-second")).ok);
    EXPECT_EQ(store.load(kService, kAccount), QStringLiteral("sk-second"));
    EXPECT_EQ(itemCount(kService, kAccount), 1) << "a save replaces the item instead of adding one";
    EXPECT_EQ(secretTool({QStringLiteral("lookup"), QStringLiteral("service"), kService, QStringLiteral("account"), kAccount}),
              QByteArray("sk-second"));

    ASSERT_TRUE(store.remove(kService, kAccount).ok);
    EXPECT_EQ(store.load(kService, kAccount), std::nullopt);
    EXPECT_EQ(itemCount(kService, kAccount), 0);
    EXPECT_TRUE(store.remove(kService, kAccount).ok) << "removing a missing item is fine";
}

TEST(Keyring, OtherServicesAndOtherAppsItemsAreUntouched) {
    REQUIRE_SESSION("keyring");
    const QString other = QStringLiteral("org.example.other");
    secretTool(QStringList{QStringLiteral("store"), QStringLiteral("--label=other service")} + ourAttributes(other, kAccount),
               "their-key");
    // Another application's item with the same service and account but no schema of ours.
    secretTool({QStringLiteral("store"), QStringLiteral("--label=foreign"), QStringLiteral("service"), kService,
                QStringLiteral("account"), kAccount},
               "foreign-key");

    SecretServiceStore store;
    EXPECT_EQ(store.load(kService, kAccount), std::nullopt);
    ASSERT_TRUE(store.save(kService, kAccount, QStringLiteral("ours")).ok);
    ASSERT_TRUE(store.remove(kService, kAccount).ok);

    EXPECT_EQ(store.load(other, kAccount), QStringLiteral("their-key"));
    const QByteArray foreign = secretTool({QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("service"), kService,
                                           QStringLiteral("account"), kAccount});
    EXPECT_TRUE(foreign.contains("secret = foreign-key")) << foreign.constData();
}

TEST(Keyring, SecretsRoundTripExactlyAndNonUtf8DataReadsAsMissing) {
    REQUIRE_SESSION("keyring");
    SecretServiceStore store;
    const QStringList secrets = {QStringLiteral("sk-ünïcødé-🔑-中文"), QStringLiteral("line\nbreak"), QString(4096, QLatin1Char('k')),
                                 QStringLiteral("0E1A7C2B-6F4D-4C11-9A58-3D2B1F0E9C77")};
    for (const QString& secret : secrets) {
        ASSERT_TRUE(store.save(kService, QStringLiteral("apiKey.custom"), secret).ok);
        EXPECT_EQ(store.load(kService, QStringLiteral("apiKey.custom")), secret);
    }

    secretTool(QStringList{QStringLiteral("store"), QStringLiteral("--label=bad")} + ourAttributes(kService, QStringLiteral("deviceID")),
               QByteArray("\xFF\xFE\x80 not text", 12));
    EXPECT_EQ(store.load(kService, QStringLiteral("deviceID")), std::nullopt);
    ASSERT_TRUE(store.save(kService, QStringLiteral("deviceID"), QStringLiteral("fresh")).ok);
    EXPECT_EQ(store.load(kService, QStringLiteral("deviceID")), QStringLiteral("fresh"));
}

TEST(Keyring, AutoStoreUsesTheKeyringAndKeepsSecretsAnEarlierRunLeftInTheFile) {
    REQUIRE_SESSION("keyring");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corvane/secrets.json"));
    FileSecretStore(path).save(kService, QStringLiteral("apiKey.groq"), QStringLiteral("from-the-file"));

    DiagFile diag;
    auto store = bounded([&] { return std::make_unique<AutoSecretStore>(toDiagLog(), 5s, path); });
    ASSERT_TRUE(store->usesSecretService());
    EXPECT_TRUE(diag.lines().isEmpty()) << "nothing to report with a keyring";

    EXPECT_EQ(store->load(kService, QStringLiteral("apiKey.groq")), QStringLiteral("from-the-file"));
    ASSERT_TRUE(store->save(kService, QStringLiteral("apiKey.groq"), QStringLiteral("in-the-keyring")).ok);
    EXPECT_EQ(SecretServiceStore().load(kService, QStringLiteral("apiKey.groq")), QStringLiteral("in-the-keyring"));
    EXPECT_EQ(FileSecretStore(path).load(kService, QStringLiteral("apiKey.groq")), std::nullopt)
        << "the older copy must not come back";

    ASSERT_TRUE(store->remove(kService, QStringLiteral("apiKey.groq")).ok);
    EXPECT_EQ(store->load(kService, QStringLiteral("apiKey.groq")), std::nullopt);
}

// ---- a keyring whose default collection is locked ----

// A call to the keyring daemon's service object.
QDBusMessage secrets(const QString& interface, const QString& method, const QVariantList& args) {
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.secrets"),
                                                       QStringLiteral("/org/freedesktop/secrets"), interface, method);
    call.setArguments(args);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    return reply;
}

// Locks the default keyring, or unlocks it with the password session.sh gave it, as a login does.
void setKeyringLocked(bool locked) {
    const QString service = QStringLiteral("org.freedesktop.Secret.Service");
    const QVariant collection = secrets(service, QStringLiteral("ReadAlias"), {QStringLiteral("default")}).arguments().value(0);
    if (locked) {
        secrets(service, QStringLiteral("Lock"), {QVariant::fromValue(QList<QDBusObjectPath>{collection.value<QDBusObjectPath>()})});
        return;
    }
    const QDBusMessage session =
        secrets(service, QStringLiteral("OpenSession"), {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString()))});
    QDBusArgument password;
    password.beginStructure();
    password << session.arguments().value(1).value<QDBusObjectPath>() << QByteArray() << QByteArray("corvane-test-session")
             << QStringLiteral("text/plain");
    password.endStructure();
    secrets(QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"),
            QStringLiteral("UnlockWithMasterPassword"), {collection, QVariant::fromValue(password)});
}

TEST(LockedKeyring, IsNeverPromptedForAndCountsAsNoKeyring) {
    REQUIRE_SESSION("keyring");
    SecretServiceStore store(3s);
    ASSERT_TRUE(store.save(kService, kAccount, QStringLiteral("sk-before-lock")).ok);

    setKeyringLocked(true);

    const auto availability = bounded([&] { return store.probe(); });
    EXPECT_FALSE(availability.available);
    EXPECT_EQ(availability.reason, QStringLiteral("the default keyring is locked"));
    EXPECT_EQ(bounded([&] { return store.load(kService, kAccount); }), std::nullopt);
    const SecretResult saved = bounded([&] { return store.save(kService, kAccount, QStringLiteral("sk-new")); });
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.error, QStringLiteral("The default keyring is locked."));
    EXPECT_FALSE(bounded([&] { return store.remove(kService, kAccount); }).ok);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corvane/secrets.json"));
    DiagFile diag;
    auto fallback = bounded([&] { return std::make_unique<AutoSecretStore>(toDiagLog(), 3s, path); });
    EXPECT_FALSE(fallback->usesSecretService());
    EXPECT_EQ(expectFallbackLine(diag.lines(), path), QStringLiteral("the default keyring is locked"));
}

// A keyring that is locked when the app starts (the login has not unlocked it yet) is used as soon as
// it is unlocked, without a restart; keys kept in the file meanwhile stay.
TEST(LockedKeyring, UnlockedLaterIsUsedWithoutARestart) {
    REQUIRE_SESSION("keyring");
    setKeyringLocked(false);
    ASSERT_TRUE(SecretServiceStore().save(kService, QStringLiteral("apiKey.openai"), QStringLiteral("sk-in-keyring")).ok);
    ASSERT_TRUE(SecretServiceStore().save(kService, QStringLiteral("apiKey.groq"), QStringLiteral("sk-old")).ok);
    ASSERT_TRUE(SecretServiceStore().save(kService, QStringLiteral("apiKey.mistral"), QStringLiteral("sk-removed")).ok);
    setKeyringLocked(true);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corvane/secrets.json"));
    DiagFile diag;
    auto store = bounded([&] { return std::make_unique<AutoSecretStore>(toDiagLog(), 3s, path); });
    EXPECT_FALSE(store->usesSecretService());
    EXPECT_EQ(bounded([&] { return store->load(kService, QStringLiteral("apiKey.openai")); }), std::nullopt);
    // Entered while locked: kept in the file.
    ASSERT_TRUE(bounded([&] { return store->save(kService, QStringLiteral("apiKey.groq"), QStringLiteral("sk-new")); }).ok);
    // Removed while locked: it must not come back once the keyring opens.
    ASSERT_TRUE(bounded([&] { return store->remove(kService, QStringLiteral("apiKey.mistral")); }).ok);

    setKeyringLocked(false);
    EXPECT_EQ(bounded([&] { return store->load(kService, QStringLiteral("apiKey.openai")); }), QStringLiteral("sk-in-keyring"));
    EXPECT_TRUE(store->usesSecretService());
    EXPECT_EQ(store->load(kService, QStringLiteral("apiKey.mistral")), std::nullopt);
    EXPECT_EQ(store->load(kService, QStringLiteral("apiKey.groq")), QStringLiteral("sk-new"))
        << "the key entered while locked is newer than the keyring's";
    const QStringList lines = diag.lines();
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("Keychain: the Secret Service's default keyring is unlocked now; using it")));
}

// Removed while locked: the removal is kept in the file, hides the keyring's copy and is carried out
// there once the keyring is unlocked, however often the app restarts meanwhile.
TEST(LockedKeyring, ARemovalLastsThroughUnlockAndRestart) {
    REQUIRE_SESSION("keyring");
    setKeyringLocked(false);
    ASSERT_TRUE(SecretServiceStore().save(kService, kAccount, QStringLiteral("sk-old")).ok);
    setKeyringLocked(true);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corvane/secrets.json"));
    auto store = bounded([&] { return std::make_unique<AutoSecretStore>(AutoSecretStore::Notice{}, 3s, path); });
    EXPECT_TRUE(store->lookup(kService, kAccount).locked);
    ASSERT_TRUE(bounded([&] { return store->remove(kService, kAccount); }).ok);
    store = bounded([&] { return std::make_unique<AutoSecretStore>(AutoSecretStore::Notice{}, 3s, path); });
    const SecretLookup afterRestart = store->lookup(kService, kAccount);
    EXPECT_FALSE(afterRestart.secret || afterRestart.locked) << "removed, not stored in a locked keyring";

    setKeyringLocked(false);
    EXPECT_EQ(SecretServiceStore().load(kService, kAccount), QStringLiteral("sk-old")) << "not yet deleted there";
    EXPECT_EQ(store->load(kService, kAccount), std::nullopt);
    store = bounded([&] { return std::make_unique<AutoSecretStore>(AutoSecretStore::Notice{}, 3s, path); });
    EXPECT_EQ(store->load(kService, kAccount), std::nullopt);
    EXPECT_EQ(itemCount(kService, kAccount), 0);

    ASSERT_TRUE(store->save(kService, kAccount, QStringLiteral("sk-new")).ok);
    EXPECT_EQ(AutoSecretStore({}, 3s, path).load(kService, kAccount), QStringLiteral("sk-new"));
}

// ---- a restarted keyring daemon, locked, with the desktop's own unlock prompt ----

QString secretServiceOwner() {
    const QDBusReply<QString> owner =
        QDBusConnection::sessionBus().interface()->serviceOwner(QStringLiteral("org.freedesktop.secrets"));
    return owner.isValid() ? owner.value() : QString();
}

// Starts a new keyring daemon in place of the running one, as after a crash or a new login that did
// not unlock it: the login keyring is read back from disk, locked.
void restartKeyringDaemonLocked() {
    const QString before = secretServiceOwner();
    QProcess daemon;
    daemon.start(QStringLiteral("gnome-keyring-daemon"), {QStringLiteral("--replace"), QStringLiteral("--components=secrets")});
    daemon.closeWriteChannel();
    ASSERT_TRUE(daemon.waitForFinished(20'000));
    for (int i = 0; i < 200; ++i) {
        const QString now = secretServiceOwner();
        // Ready once it has read the login keyring back from disk.
        if (!now.isEmpty() && now != before &&
            SecretServiceStore().probe().reason == QLatin1String("the default keyring is locked"))
            return;
        QThread::msleep(50);
    }
    FAIL() << "no new keyring daemon";
}

// Answers the keyring's password window (gcr's prompter on the session's X display) the way a user
// does: the password and Enter, or Escape. False when no such window appeared.
std::future<bool> answerUnlockPrompt(bool unlock) {
    return std::async(std::launch::async, [unlock] {
        const auto run = [](const QStringList& args, QByteArray* out = nullptr) {
            QProcess xdotool;
            xdotool.start(QStringLiteral("timeout"), QStringList{QStringLiteral("20"), QStringLiteral("xdotool")} + args);
            xdotool.waitForFinished(25'000);
            if (out)
                *out = xdotool.readAllStandardOutput();
            return xdotool.exitStatus() == QProcess::NormalExit && xdotool.exitCode() == 0;
        };
        QByteArray found;
        if (!run({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                  QStringLiteral("Unlock Login Keyring")},
                 &found))
            return false;
        // Typing goes where the keyboard focus is: wait until the prompter holds it.
        const QList<QByteArray> prompt = found.trimmed().split('\n');
        bool focused = false;
        for (int i = 0; i < 1000 && !focused; ++i) {
            QByteArray focus;
            focused = run({QStringLiteral("getwindowfocus")}, &focus) && prompt.contains(focus.trimmed());
            if (!focused)
                QThread::msleep(20);
        }
        if (!focused)
            return false;
        if (unlock)
            return run({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("10"), QStringLiteral("corvane-test-session")}) &&
                   run({QStringLiteral("key"), QStringLiteral("Return")});
        return run({QStringLiteral("key"), QStringLiteral("Escape")});
    });
}

// The settings as the app wires them, over the real keyring and a secrets file of their own.
struct KeyringSettings {
    QTemporaryDir dir;
    AutoSecretStore secrets{AutoSecretStore::Notice{}, 5s, dir.filePath(QStringLiteral("corvane/secrets.json"))};
    corvane::stores::KeychainHelper keychain{secrets};
    fake::MemoryPreferences prefs;
    corvane::stores::SettingsStore settings{prefs, keychain};
};

using KeyAccess = corvane::stores::SettingsStore::KeyAccess;

TEST(KeyringPrompt, AfterADaemonRestartTheKeyIsUnlockedThroughThePromptAndUsed) {
    REQUIRE_SESSION("keyring");
    KeyringSettings k;
    ASSERT_TRUE(k.secrets.usesSecretService());
    ASSERT_TRUE(k.settings.setApiKey(QStringLiteral("sk-stored"), QStringLiteral("openai")));
    restartKeyringDaemonLocked();

    EXPECT_EQ(k.settings.apiKeyAccess(), KeyAccess::Locked) << "a stored key is not a missing one";
    std::future<bool> answered = answerUnlockPrompt(true);
    EXPECT_TRUE(QCoro::waitFor(k.settings.unlockApiKey()));
    EXPECT_TRUE(answered.get()) << "the desktop's unlock window was shown";
    EXPECT_EQ(k.settings.apiKey(QStringLiteral("openai")), QStringLiteral("sk-stored"));
    EXPECT_TRUE(k.secrets.usesSecretService());
}

TEST(KeyringPrompt, ARefusedUnlockLeavesTheKeyLockedRatherThanMissing) {
    REQUIRE_SESSION("keyring");
    KeyringSettings k;
    ASSERT_TRUE(k.settings.setApiKey(QStringLiteral("sk-stored"), QStringLiteral("openai")));
    restartKeyringDaemonLocked();

    std::future<bool> answered = answerUnlockPrompt(false);
    EXPECT_FALSE(QCoro::waitFor(k.settings.unlockApiKey()));
    EXPECT_TRUE(answered.get());
    EXPECT_EQ(k.settings.apiKeyAccess(), KeyAccess::Locked);
}

// ---- a keyring daemon that goes away and does not come back (a bus that activates nothing) ----

TEST(VanishedKeyring, ReadsAsUnavailableNotAsNoKeyAndTheStoreFollowsTheOwner) {
    REQUIRE_SESSION("keyring");
    KeyringSettings k;
    ASSERT_TRUE(k.secrets.usesSecretService());
    ASSERT_TRUE(k.settings.setApiKey(QStringLiteral("sk-stored"), QStringLiteral("openai")));
    ASSERT_EQ(k.settings.apiKeyAccess(), KeyAccess::Present);
    SecretServiceStore direct(3s);
    const QString daemon = secretServiceOwner();
    ASSERT_EQ(direct.owner(), daemon);

    const QDBusReply<uint> pid = QDBusConnection::sessionBus().interface()->servicePid(daemon);
    ASSERT_TRUE(pid.isValid());
    ASSERT_EQ(::kill(pid_t(pid.value()), SIGTERM), 0);
    for (int i = 0; i < 500 && !secretServiceOwner().isEmpty(); ++i)
        QThread::msleep(10);
    ASSERT_EQ(secretServiceOwner(), QString());

    EXPECT_EQ(k.settings.apiKeyAccess(), KeyAccess::Unavailable) << "before the bus told of the change";
    for (int i = 0; i < 500 && !direct.owner().isEmpty(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    EXPECT_EQ(direct.owner(), QString()) << "the bus's announcement reached the store";
    EXPECT_EQ(k.settings.apiKeyAccess(), KeyAccess::Unavailable) << "after";
    EXPECT_FALSE(k.secrets.usesSecretService());
}

// ---- an empty session bus: nothing provides org.freedesktop.secrets ----

TEST(NoSecretService, FallsBackToTheOwnerOnlyFileAndSaysSoOnce) {
    REQUIRE_SESSION("none");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corvane/secrets.json"));
    DiagFile diag;
    auto store = bounded([&] { return std::make_unique<AutoSecretStore>(toDiagLog(), 5s, path); });
    ASSERT_FALSE(store->usesSecretService());
    const QString reason = expectFallbackLine(diag.lines(), path);
    EXPECT_TRUE(reason.contains(QStringLiteral("org.freedesktop.secrets"))) << reason.toStdString();
    EXPECT_FALSE(reason.contains(QStringLiteral("GDBus.Error"))) << "a plain sentence, not a D-Bus error name";

    ASSERT_TRUE(store->save(kService, QStringLiteral("deviceID"), QStringLiteral("ID-1")).ok);
    EXPECT_EQ(store->load(kService, QStringLiteral("deviceID")), QStringLiteral("ID-1"));
    EXPECT_EQ(modeOf(path), 0600u);
    ASSERT_TRUE(store->remove(kService, QStringLiteral("deviceID")).ok);
    EXPECT_EQ(store->load(kService, QStringLiteral("deviceID")), std::nullopt);
    EXPECT_EQ(diag.lines().size(), 1) << "said once, not on every call";
}

TEST(NoSecretService, DirectCallsFailWithAClearError) {
    REQUIRE_SESSION("none");
    SecretServiceStore store;
    EXPECT_EQ(bounded([&] { return store.load(kService, kAccount); }), std::nullopt);
    const SecretResult saved = bounded([&] { return store.save(kService, kAccount, QStringLiteral("sk")); });
    EXPECT_FALSE(saved.ok);
    EXPECT_TRUE(saved.error.contains(QStringLiteral("org.freedesktop.secrets"))) << saved.error.toStdString();
    EXPECT_FALSE(bounded([&] { return store.remove(kService, kAccount); }).ok);
}

// ---- a Secret Service that owns its name but never answers ----

class SilentService : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override { return true; } // and never reply
};

TEST(StalledSecretService, EveryCallGivesUpAtItsTimeout) {
    REQUIRE_SESSION("none");
    SilentService silent;
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.registerVirtualObject(QStringLiteral("/org/freedesktop/secrets"), &silent, QDBusConnection::SubPath));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.secrets")));

    SecretServiceStore store(300ms);
    const auto availability = bounded([&] { return store.probe(); });
    EXPECT_FALSE(availability.available);
    EXPECT_EQ(availability.reason, QStringLiteral("the Secret Service did not answer within 0.3 s"));
    EXPECT_EQ(bounded([&] { return store.load(kService, kAccount); }), std::nullopt);
    const SecretResult saved = bounded([&] { return store.save(kService, kAccount, QStringLiteral("sk")); });
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.error, QStringLiteral("The Secret Service did not answer within 0.3 s."));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corvane/secrets.json"));
    DiagFile diag;
    auto fallback = bounded([&] { return std::make_unique<AutoSecretStore>(toDiagLog(), 300ms, path); });
    EXPECT_FALSE(fallback->usesSecretService());
    EXPECT_EQ(expectFallbackLine(diag.lines(), path), QStringLiteral("the Secret Service did not answer within 0.3 s"));
    EXPECT_TRUE(fallback->save(kService, kAccount, QStringLiteral("sk")).ok);
}

// ---- no session bus at all ----

TEST(NoBus, FallsBackToTheFile) {
    REQUIRE_SESSION("none");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corvane/secrets.json"));
    DiagFile diag;
    auto store = bounded([&] { return std::make_unique<AutoSecretStore>(toDiagLog(), 5s, path); });
    EXPECT_FALSE(store->usesSecretService());
    EXPECT_FALSE(expectFallbackLine(diag.lines(), path).isEmpty());
    EXPECT_TRUE(store->save(kService, kAccount, QStringLiteral("sk")).ok);
    EXPECT_EQ(store->load(kService, kAccount), QStringLiteral("sk"));
}

} // namespace

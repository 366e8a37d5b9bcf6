// A config folder that refuses writes (a small tmpfs, remounted read-only, then filled up): the
// user is told through the tray, the diagnostics log names the folder and the reason, nothing is
// shown as kept that is not on disk, and everything lands once the folder takes writes again. A
// settings file that is no settings file any more, at start or later, is kept aside before it is
// written over, and gives nothing to what Corvane holds. A named pipe in its place is never waited
// on, and no save leaves a reader an empty file.
#include "e2e/ScenarioFixture.h"
#include "e2e/TrayHost.h"
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace corvane::e2e {
namespace {

class ConfigFolder : public Scenario {
protected:
    bool mountCommand(const QStringList& args) {
        int status = -1;
        run(QStringLiteral("mount"), args, &status);
        return status == 0;
    }
    // The bodies of the tray messages about saving (a refused shortcut has its own).
    QStringList saveMessages() const { return messagesTitled(QStringLiteral("Settings cannot be saved")); }
    QString lastMessage() const { return saveMessages().value(saveMessages().size() - 1); }
    QStringList damagedCopies() const {
        return QDir(corvane->configFolder()).entryList({QStringLiteral("corvane.conf.damaged-*")}, QDir::Files);
    }
    static QByteArray randomBytes(qsizetype size) {
        QByteArray random(size, '\0');
        quint32 seed = 11;
        for (char& byte : random)
            byte = char((seed = seed * 1103515245u + 12345u) >> 23);
        return random.replace('\0', '\1');
    }
    QStringList messagesTitled(const QString& title) const {
        QStringList out;
        for (const TestNotifications::Message& m : notifications.messages())
            if (m.title == title)
                out << m.body;
        return out;
    }

    TestWatcher watcher;
    TestNotifications notifications;
};

TEST_F(ConfigFolder, ReadOnlyThenFullIsToldKeptInMemoryAndStoredOnceWritableAgain) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    ASSERT_TRUE(watcher.publish() && notifications.publish());
    server.respond([](const test::RecordedRequest&) { return streamedAnswer({QStringLiteral("Polished text.")}, 0); });
    corvane = std::make_unique<CorvaneProcess>(CorvaneProcess::Settings{.endpoint = server.baseUrl()});
    const QString folder = corvane->configFolder();
    ASSERT_TRUE(QDir().mkpath(folder));
    if (!mountCommand({QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                       QStringLiteral("size=256k,mode=0700"), QStringLiteral("tmpfs"), folder}))
        GTEST_SKIP() << "no tmpfs can be mounted here";
    const auto unmount = qScopeGuard([&] {
        if (corvane && corvane->running())
            corvane->terminateAndWait();
        run(QStringLiteral("umount"), {QStringLiteral("-l"), folder});
    });
    QString why;
    ASSERT_TRUE(corvane->start(&why)) << why.toStdString();
    panel.emplace(corvane->pid());
    auto entry = startGtkEntry(QStringLiteral("a sentence for the model to polish"));
    ASSERT_TRUE(entry->waitActive()) << "zenity did not come up";
    ASSERT_TRUE(pressKeys({QStringLiteral("End")}));
    const QString rulesBefore = corvane->preference(QStringLiteral("app_recipe_rules"));
    ASSERT_FALSE(rulesBefore.isEmpty());

    // Read-only: the run and a remembered rule work, but the user hears why they are not kept.
    ASSERT_TRUE(mountCommand({QStringLiteral("-o"), QStringLiteral("remount,ro"), folder}));
    tripleSpace();
    ASSERT_TRUE(waitUntil([&] { return panel->title() == QStringLiteral("Done"); })) << context();
    ASSERT_TRUE(waitUntil([&] { return !saveMessages().isEmpty(); })) << context();
    EXPECT_TRUE(lastMessage().contains(folder + QStringLiteral(": Read-only file system"))) << lastMessage().toStdString();
    EXPECT_TRUE(waitUntil([&] {
        return corvane->diagHas(QStringLiteral("Preferences cannot be saved in ") + folder +
                                QStringLiteral(": Read-only file system"));
    })) << context();
    ASSERT_TRUE(panel->click(QStringLiteral("Remember for This App"))) << context();
    EXPECT_TRUE(waitUntil([&] { return panel->shows(QStringLiteral("(not saved)")); })) << context();
    shot(QStringLiteral("read-only"));
    EXPECT_TRUE(corvane->activity().isEmpty());
    EXPECT_EQ(corvane->preference(QStringLiteral("app_recipe_rules")), rulesBefore);

    // Writable again: the next change stores everything kept meanwhile.
    ASSERT_TRUE(mountCommand({QStringLiteral("-o"), QStringLiteral("remount,rw"), folder}));
    ASSERT_TRUE(panel->click(QStringLiteral("Cancel"))) << context();
    EXPECT_TRUE(waitUntil([&] { return corvane->activity().size() == 3; })) << context();
    EXPECT_EQ(corvane->activityStatuses(), (QList<QString>{stored::cancelled, stored::completed, stored::triggered}));
    EXPECT_NE(corvane->preference(QStringLiteral("app_recipe_rules")), rulesBefore);
    EXPECT_TRUE(waitUntil([&] { return corvane->diagHas(QStringLiteral("Preferences saved again in ") + folder); }));

    // Full: told again; the records wait in memory and are stored at quit once there is room.
    run(QStringLiteral("dd"), {QStringLiteral("if=/dev/zero"), QStringLiteral("of=") + folder + QStringLiteral("/filler"),
                               QStringLiteral("bs=4k")});
    ASSERT_TRUE(waitPanelHidden()) << context();
    tripleSpace();
    ASSERT_TRUE(waitUntil([&] { return saveMessages().size() == 2; })) << context();
    EXPECT_TRUE(lastMessage().contains(folder + QStringLiteral(": No space left on device"))) << lastMessage().toStdString();
    EXPECT_EQ(corvane->activity().size(), 3);
    ASSERT_TRUE(waitUntil([&] { return panel->title() == QStringLiteral("Done"); })) << context();
    ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/filler")));
    EXPECT_EQ(corvane->terminateAndWait(), 0);
    const QList<QString> statuses = corvane->activityStatuses(); // newest first; quitting may cancel the run
    ASSERT_GE(statuses.size(), 5);
    EXPECT_EQ(statuses.mid(statuses.size() - 5), (QList<QString>{stored::completed, stored::triggered, stored::cancelled,
                                                                  stored::completed, stored::triggered}));
    EXPECT_EQ(saveMessages().size(), 2);
}

// Zero bytes (what some file systems leave after a crash) and random bytes: the file is copied
// aside first, the diagnostics log says where, and the user is told once through the tray. On a
// folder too full for the copy, nothing is written over the file at all. Settings before the zero
// bytes are kept.
TEST_F(ConfigFolder, ADamagedSettingsFileIsKeptAsideAndToldOnce) {
    ASSERT_TRUE(watcher.publish() && notifications.publish());
    const QByteArray random = randomBytes(40 * 1024);
    const struct {
        const char* name;
        QByteArray content;
        bool fullFolder;
        const char* model = nullptr; // kept from the damaged file
    } cases[] = {{"zero bytes", QByteArray(4096, '\0'), false}, {"random bytes", random, false},
                 {"random bytes, no room for a copy", random, true},
                 {"settings, then zero bytes", "[General]\napiModel=kept-model\n" + QByteArray(4096, '\0'), false, "kept-model"}};
    const QString title = QStringLiteral("Settings file damaged");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CorvaneProcess::Settings settings;
        settings.configFile = c.content;
        corvane = std::make_unique<CorvaneProcess>(settings);
        const QString folder = corvane->configFolder();
        const QString file = folder + QStringLiteral("/corvane.conf");
        ASSERT_TRUE(QDir().mkpath(folder));
        // 64 KiB hold the file but not a second copy of it.
        if (c.fullFolder && (::geteuid() != 0 || !mountCommand({QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                               QStringLiteral("size=64k,mode=0700"), QStringLiteral("tmpfs"), folder})))
            continue; // mounting a small tmpfs needs root
        const auto unmount = qScopeGuard([&] {
            if (corvane && corvane->running())
                corvane->terminateAndWait();
            if (c.fullFolder)
                run(QStringLiteral("umount"), {QStringLiteral("-l"), folder});
        });
        const qsizetype toldBefore = messagesTitled(title).size();
        QString why;
        ASSERT_TRUE(corvane->start(&why)) << why.toStdString();
        ASSERT_TRUE(waitUntil([&] { return messagesTitled(title).size() == toldBefore + 1; })) << corvane->diagLog().toStdString();
        const QString told = messagesTitled(title).last();
        EXPECT_TRUE(told.contains(file)) << told.toStdString();
        const QStringList copies = damagedCopies();
        if (c.fullFolder) {
            EXPECT_TRUE(copies.isEmpty());
            EXPECT_TRUE(told.contains(QStringLiteral("No copy of the damaged file could be made"))) << told.toStdString();
            EXPECT_TRUE(corvane->diagHas(file + QStringLiteral(" cannot be read as settings (it holds bytes that are no "
                                                              "text) and no copy of it could be made")));
            EXPECT_TRUE(waitUntil([&] { return corvane->diagHas(QStringLiteral("Preferences cannot be saved in ") + folder); }));
        } else {
            ASSERT_EQ(copies.size(), 1);
            const QString copy = folder + QLatin1Char('/') + copies[0];
            EXPECT_EQ(readFile(copy), c.content);
            EXPECT_TRUE(told.contains(QStringLiteral("The damaged file was kept as ") + copy)) << told.toStdString();
            EXPECT_TRUE(corvane->diagHas(QStringLiteral("; kept it as ") + copy)) << corvane->diagLog().toStdString();
            // The defaults the start stores land in a new file.
            EXPECT_TRUE(waitUntil([&] { return corvane->preference(QStringLiteral("apiVendor")) == QStringLiteral("openai"); }));
            EXPECT_EQ(corvane->preference(QStringLiteral("apiModel")), QString::fromLatin1(c.model));
        }
        EXPECT_EQ(corvane->terminateAndWait(), 0);
        EXPECT_EQ(readFile(file) == c.content, c.fullFolder) << "written over without a copy, or not at all with one";
        EXPECT_EQ(messagesTitled(title).size(), toldBefore + 1);
        if (c.fullFolder)
            continue;
        // Written at once with Corvane's own keys and nothing of the damaged file: a restart finds it whole.
        const QRegularExpression ownKey(QStringLiteral("^[a-z][A-Za-z_]*[0-9]*$"));
        for (const QString& key : QSettings(file, QSettings::IniFormat).allKeys())
            EXPECT_TRUE(ownKey.match(key).hasMatch()) << key.toStdString();
        ASSERT_TRUE(corvane->start(&why)) << why.toStdString();
        EXPECT_EQ(corvane->diagLog().count(QStringLiteral("cannot be read as settings")), 1);
        EXPECT_EQ(damagedCopies().size(), 1);
    }
}

// Another program writes random bytes, then zero bytes, of the same length over the settings file
// while Corvane runs, then cuts it at a line, then adds lines of its own: each is kept aside and
// told once at the next save, the runs still go to the user's server with the user's model, and the
// file is written back whole, every setting it held there again.
TEST_F(ConfigFolder, ASettingsFileDamagedWhileRunningChangesNothingHeldAndIsToldOncePerDamage) {
    ASSERT_TRUE(watcher.publish() && notifications.publish());
    server.respond([](const test::RecordedRequest&) { return streamedAnswer({QStringLiteral("Polished text.")}, 0); });
    startCorvane();
    auto entry = startGtkEntry(QStringLiteral("a sentence for the model to polish"));
    ASSERT_TRUE(entry->waitActive()) << "zenity did not come up";
    const QString file = corvane->configFolder() + QStringLiteral("/corvane.conf");
    const char* const damages[] = {"it holds bytes that are no text", "it holds NUL bytes", "it lacks settings Corvane holds",
                                   "it holds lines that are not Corvane's settings"};
    for (int i = 0; i < 4; ++i) {
        const char* const damage = damages[i];
        SCOPED_TRACE(damage);
        const QByteArray whole = readFile(file);
        const QStringList held = QSettings(file, QSettings::IniFormat).allKeys();
        const QByteArray junk = i == 0   ? randomBytes(whole.size())
                                : i == 1 ? QByteArray(whole.size(), '\0')
                                : i == 2 ? whole.left(whole.indexOf('\n', whole.size() / 2) + 1)
                                         : whole + "notes=call the plumber\nreminder=Friday\n";
        ASSERT_TRUE(writeFile(file, junk));
        ASSERT_TRUE(pressKeys({QStringLiteral("End")}));
        tripleSpace();
        ASSERT_TRUE(waitForRequests(i + 1)) << context();
        EXPECT_EQ(requestBody(i).value(QStringLiteral("model")).toString(), QStringLiteral("e2e-model"));
        ASSERT_TRUE(waitUntil([&] { return damagedCopies().size() == i + 1; })) << context();
        EXPECT_TRUE(waitUntil([&] { return corvane->preference(QStringLiteral("apiEndpoint")) == server.baseUrl(); }));
        EXPECT_TRUE(waitUntil([&] {
            return corvane->diagHas(file + QStringLiteral(" was changed on disk and cannot be read as settings (") +
                                    QString::fromLatin1(damage) + QStringLiteral("); kept it as "));
        })) << corvane->diagLog().toStdString();
        ASSERT_TRUE(waitForTitle(QStringLiteral("Done"))) << context();
        ASSERT_TRUE(panel->click(QStringLiteral("Cancel"))) << context();
        ASSERT_TRUE(waitPanelHidden()) << context();
        const QStringList told = messagesTitled(QStringLiteral("Settings file damaged"));
        ASSERT_EQ(told.size(), i + 1) << corvane->diagLog().toStdString();
        EXPECT_TRUE(told.last().contains(QStringLiteral("keeps the settings it had"))) << told.last().toStdString();
        EXPECT_EQ(readFile(corvane->configFolder() + QLatin1Char('/') + damagedCopies().last()), junk);
        const QStringList now = QSettings(file, QSettings::IniFormat).allKeys();
        for (const QString& key : held)
            EXPECT_TRUE(now.contains(key)) << key.toStdString();
        EXPECT_FALSE(now.contains(QStringLiteral("notes")));
    }
}

// A named pipe in place of corvane.conf, while running and at start: Corvane comes up and answers,
// says it cannot save as it does for a read-only folder, and never waits on the pipe.
TEST_F(ConfigFolder, ANamedPipeForTheSettingsFileIsToldAndNeverWaitedOn) {
    ASSERT_TRUE(watcher.publish() && notifications.publish());
    server.respond([](const test::RecordedRequest&) { return streamedAnswer({QStringLiteral("Polished text.")}, 0); });
    startCorvane();
    auto entry = startGtkEntry(QStringLiteral("a sentence for the model to polish"));
    ASSERT_TRUE(entry->waitActive()) << "zenity did not come up";
    const QString folder = corvane->configFolder(), file = folder + QStringLiteral("/corvane.conf");
    const QString said = folder + QStringLiteral(": corvane.conf is a named pipe, not a file");
    ASSERT_TRUE(QFile::remove(file) && ::mkfifo(QFile::encodeName(file).constData(), 0600) == 0);
    ASSERT_TRUE(pressKeys({QStringLiteral("End")}));
    tripleSpace();
    ASSERT_TRUE(waitForTitle(QStringLiteral("Done"))) << context();
    ASSERT_TRUE(waitUntil([&] { return saveMessages().size() == 1; })) << context();
    EXPECT_TRUE(lastMessage().contains(said)) << lastMessage().toStdString();
    EXPECT_EQ(corvane->terminateAndWait(), 0);

    QString why;
    ASSERT_TRUE(corvane->start(&why)) << why.toStdString();
    ASSERT_TRUE(waitUntil([&] { return saveMessages().size() == 2; })) << corvane->diagLog().toStdString();
    EXPECT_TRUE(lastMessage().contains(said)) << lastMessage().toStdString();
    EXPECT_EQ(corvane->startSecondInstance(), 0) << "the running one answers";
    ASSERT_TRUE(QFile::remove(file));
    EXPECT_EQ(corvane->terminateAndWait(), 0);
    EXPECT_EQ(corvane->preference(QStringLiteral("apiVendor")), QStringLiteral("openai")) << "saved once a file can be";
}

// Another program reading corvane.conf while Corvane saves it some 200 times (a model name typed
// into the settings window, one save per letter) always finds a whole file there.
TEST_F(ConfigFolder, EverySaveLeavesAWholeFileForOtherReaders) {
    startCorvane();
    const QByteArray file = QFile::encodeName(corvane->configFolder() + QStringLiteral("/corvane.conf"));
    int emptyOrMissing = 0, rewrites = 0;
    std::jthread reader([&](std::stop_token stop) {
        for (struct stat st {}, last {}; !stop.stop_requested(); last = st)
            if (::stat(file.constData(), &st) != 0 || st.st_size == 0)
                ++emptyOrMissing;
            else
                rewrites += st.st_ino != last.st_ino || st.st_mtim.tv_nsec != last.st_mtim.tv_nsec;
    });
    ASSERT_EQ(corvane->startSecondInstance(), 0);
    std::optional<QRect> model;
    ASSERT_TRUE(waitUntil([&] {
        for (const PanelProbe::Item& item : panel->showing())
            if (item.name == QLatin1String("e2e-model") && !item.extents.isEmpty())
                model = item.extents;
        return model.has_value();
    })) << context();
    const QString typed = QString(200, QLatin1Char('m'));
    ASSERT_TRUE(clickAt(model->center().x(), model->center().y()) && pressKeys({QStringLiteral("ctrl+a")}));
    ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("15"), typed}));
    ASSERT_TRUE(waitUntil([&] { return corvane->preference(QStringLiteral("apiModel")) == typed; })) << context();
    reader.request_stop();
    reader.join();
    EXPECT_EQ(emptyOrMissing, 0);
    EXPECT_GE(rewrites, 150) << "saves seen";
}

// corvane.conf links into a folder that is missing (dotfiles on a drive not mounted): the saves of
// the start are told as not done, naming that folder; once it is there, quitting stores them
// through the link, which stays a link.
TEST_F(ConfigFolder, ASaveThroughALinkIntoAMissingFolderIsToldAndTheLinkKept) {
    ASSERT_TRUE(watcher.publish() && notifications.publish());
    const QString drive = scratch(QStringLiteral("drive/dotfiles"));
    CorvaneProcess::Settings settings;
    settings.configLink = drive + QStringLiteral("/corvane.conf");
    ASSERT_NO_FATAL_FAILURE(startCorvane(settings));
    ASSERT_TRUE(waitUntil([&] { return !saveMessages().isEmpty(); })) << corvane->diagLog().toStdString();
    EXPECT_TRUE(lastMessage().contains(drive + QStringLiteral(": No such file or directory")))
        << lastMessage().toStdString();
    EXPECT_TRUE(corvane->diagHas(QStringLiteral("Preferences cannot be saved in ") + drive));
    ASSERT_TRUE(QDir().mkpath(drive));
    EXPECT_EQ(corvane->terminateAndWait(), 0);
    EXPECT_TRUE(QFileInfo(corvane->configFolder() + QStringLiteral("/corvane.conf")).isSymLink());
    EXPECT_EQ(corvane->preference(QStringLiteral("apiVendor")), QStringLiteral("openai"));
}

} // namespace
} // namespace corvane::e2e

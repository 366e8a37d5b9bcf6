// The API key in the session's gnome-keyring rather than in the secrets file: a locked keyring
// whose own password window the user answers, dismisses or leaves open while cancelling the draft
// that asked for it, and a keyring daemon that goes away for good.
#include "e2e/ScenarioFixture.h"
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <csignal>

namespace corvane::e2e {
namespace {

const QString kPassword = QStringLiteral("corvane-test-session"); // the one tests/support/session.sh gave it

bool shell(const QString& script) {
    int status = -1;
    run(QStringLiteral("sh"), {QStringLiteral("-c"), script}, &status);
    return status == 0;
}

// The key as an earlier run saved it: an item of our schema in the unlocked login keyring.
bool storeKeyInKeyring() {
    return shell(QStringLiteral("printf %s '%1' | secret-tool store --label='Corvane: apiKey.openai' "
                                "xdg:schema com.corvane.app.Password service com.corvane.app account apiKey.openai")
                     .arg(QString::fromLatin1(CorvaneProcess::apiKey)));
}

bool lockKeyring() {
    return shell(QStringLiteral(
        "dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets "
        "org.freedesktop.Secret.Service.Lock array:objpath:/org/freedesktop/secrets/collection/login"));
}

// The desktop's password window for the login keyring, as xdotool finds it ("" when none shows).
QStringList promptWindows() {
    return QString::fromLatin1(run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                               QStringLiteral("--name"), QStringLiteral("Unlock Login Keyring")}))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The user answers the password window once it holds the keyboard: the password and Enter, or Escape.
bool answerPrompt(bool unlock) {
    if (!waitUntil([] {
            const QStringList prompt = promptWindows();
            return !prompt.isEmpty() &&
                   prompt.contains(QString::fromLatin1(run(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")})).trimmed());
        }))
        return false;
    const bool typed = unlock ? xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("10"), kPassword}) &&
                                    pressKeys({QStringLiteral("Return")})
                              : pressKeys({QStringLiteral("Escape")});
    return typed && waitUntil([] { return promptWindows().isEmpty(); });
}

class KeyringScenario : public Scenario {
protected:
    void startWithKeyInLockedKeyring() {
        ASSERT_TRUE(storeKeyInKeyring());
        ASSERT_TRUE(lockKeyring());
        CorvaneProcess::Settings settings;
        settings.keyInKeyring = true;
        startCorvane(settings);
    }
    // An empty field, the trigger, a description and Generate: the keyring's password window opens.
    void submitDraft(const QString& description) {
        tripleSpace();
        ASSERT_TRUE(waitForTitle(QStringLiteral("Draft mode: empty field"))) << context();
        ASSERT_TRUE(panel->clickTextBox()) << context();
        ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("15"), description}));
        ASSERT_TRUE(waitUntil([&] { return panel->texts().contains(description); })) << context();
        ASSERT_TRUE(panel->click(QStringLiteral("Generate"))) << context();
        ASSERT_TRUE(waitUntil([] { return !promptWindows().isEmpty(); })) << "no unlock window\n" << context();
    }
};

TEST_F(KeyringScenario, ADraftWaitsForTheUnlockWindowAndACancelLeavesCorvaneWorking) {
    const QString answer = QStringLiteral("Thank you for the invitation.");
    server.respond([&](const test::RecordedRequest&) { return streamedAnswer({answer}, 0); });
    ASSERT_NO_FATAL_FAILURE(startWithKeyInLockedKeyring());
    auto entry = startGtkEntry(QString());
    ASSERT_TRUE(entry->waitActive()) << "the GTK entry did not come up";

    // 1. Cancelled while the window is open, which the user then dismisses: corvane lives on.
    ASSERT_NO_FATAL_FAILURE(submitDraft(QStringLiteral("a polite note declining the invitation")));
    shot(QStringLiteral("prompt"));
    // The prompt holds the pointer and the keyboard: the Cancel button is pressed as a screen reader does.
    ASSERT_TRUE(panel->press(QStringLiteral("Cancel"))) << context();
    ASSERT_TRUE(waitPanelHidden()) << context();
    ASSERT_TRUE(answerPrompt(false));

    // 2. Dismissed: the draft says the keyring is locked.
    ASSERT_TRUE(waitUntil([] { return activeWindowTitle() == QStringLiteral("Corvane e2e entry"); }));
    ASSERT_NO_FATAL_FAILURE(submitDraft(QStringLiteral("a polite note declining the invitation")));
    ASSERT_TRUE(answerPrompt(false));
    ASSERT_TRUE(waitUntil([&] { return panel->shows(QStringLiteral("Your keyring is locked")); })) << context();
    ASSERT_TRUE(corvane->running());
    ASSERT_TRUE(panel->click(QStringLiteral("Close"))) << context();
    ASSERT_TRUE(waitPanelHidden()) << context();

    // 3. Answered with the password: the description goes out.
    ASSERT_TRUE(waitUntil([] { return activeWindowTitle() == QStringLiteral("Corvane e2e entry"); }));
    ASSERT_NO_FATAL_FAILURE(submitDraft(QStringLiteral("a warm note accepting the invitation")));
    ASSERT_TRUE(answerPrompt(true));
    ASSERT_TRUE(waitForRequests(1)) << context();
    EXPECT_TRUE(userMessage(0).contains(QStringLiteral("a warm note accepting the invitation")));
    ASSERT_TRUE(waitForTitle(QStringLiteral("Done"))) << context();
    EXPECT_TRUE(corvane->running());
    EXPECT_EQ(server.requests().size(), 1) << "the cancelled and the dismissed drafts sent nothing";
}

// The keyring daemon ends after a run and nothing starts it again (the bus activates nothing):
// the next run says the keyring is unavailable, not that there is no key.
TEST_F(KeyringScenario, AKeyringThatVanishedIsNamedAsUnavailable) {
    server.respond([&](const test::RecordedRequest&) { return streamedAnswer({QStringLiteral("Fixed.")}, 0); });
    ASSERT_TRUE(storeKeyInKeyring());
    CorvaneProcess::Settings settings;
    settings.keyInKeyring = true;
    startCorvane(settings);
    auto entry = startGtkEntry(QStringLiteral("Please fix teh grammer in this sentense"));
    ASSERT_TRUE(entry->waitActive()) << "the GTK entry did not come up";
    ASSERT_TRUE(pressKeys({QStringLiteral("End")}));
    tripleSpace();
    ASSERT_TRUE(waitForRequests(1)) << context();
    ASSERT_TRUE(waitForTitle(QStringLiteral("Done"))) << context();
    ASSERT_TRUE(panel->click(QStringLiteral("Close"))) << context();
    ASSERT_TRUE(waitPanelHidden()) << context();

    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    const QDBusReply<uint> daemon = bus->servicePid(QStringLiteral("org.freedesktop.secrets"));
    ASSERT_TRUE(daemon.isValid());
    ASSERT_EQ(::kill(pid_t(daemon.value()), SIGTERM), 0);
    ASSERT_TRUE(waitUntil([&] { return !bus->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")).value(); }));

    ASSERT_TRUE(waitUntil([] { return activeWindowTitle() == QStringLiteral("Corvane e2e entry"); }));
    tripleSpace();
    ASSERT_TRUE(waitUntil([&] {
        return panel->shows(QStringLiteral(
            "Your keyring is not available. Start the desktop's keyring (Secret Service) and try again."));
    })) << context();
    shot(QStringLiteral("unavailable"));
    EXPECT_FALSE(panel->shows(QStringLiteral("add your own API key")));
    EXPECT_EQ(server.requests().size(), 1);
}

} // namespace
} // namespace corvane::e2e

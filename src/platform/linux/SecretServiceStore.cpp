#include "platform/linux/SecretServiceStore.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QByteArray>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QMap>
#include <QStringDecoder>
#include <qcoro/qcorosignal.h>

namespace corvane::platform::linux_ {

namespace {

using Clock = std::chrono::steady_clock;
using StringMap = QMap<QString, QString>;

const QString kBusName = QStringLiteral("org.freedesktop.secrets");
const QString kServicePath = QStringLiteral("/org/freedesktop/secrets");
const QString kServiceInterface = QStringLiteral("org.freedesktop.Secret.Service");
const QString kCollectionInterface = QStringLiteral("org.freedesktop.Secret.Collection");
const QString kItemInterface = QStringLiteral("org.freedesktop.Secret.Item");
const QString kSessionInterface = QStringLiteral("org.freedesktop.Secret.Session");
const QString kPromptInterface = QStringLiteral("org.freedesktop.Secret.Prompt");
const QString kNoObject = QStringLiteral("/"); // "no prompt needed" and "no such alias"
const QString kBus = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");

// The attributes of our items. "xdg:schema" names the schema, as every keyring client writes it, so
// the items of earlier versions are found and another application's look-alikes are not.
StringMap attributesOf(const QString& service, const QString& account) {
    return {{QStringLiteral("xdg:schema"), QString::fromLatin1(SecretServiceStore::schemaName)},
            {QStringLiteral("service"), service},
            {QStringLiteral("account"), account}};
}

std::optional<QString> strictUtf8(const QByteArray& data) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

SecretResult failure(const QString& what) {
    QString sentence = what;
    if (!sentence.isEmpty())
        sentence[0] = sentence[0].toUpper();
    if (!sentence.endsWith(QLatin1Char('.')))
        sentence += QLatin1Char('.');
    return {false, sentence};
}

QDBusObjectPath pathOf(const QVariant& value) { return value.value<QDBusObjectPath>(); }

QList<QDBusObjectPath> pathsOf(const QVariant& value) { return qdbus_cast<QList<QDBusObjectPath>>(value); }

// One keyring conversation: calls on the store's bus connection that share one deadline. The first
// failure ends it and keeps its reason.
class Conversation {
public:
    Conversation(const QDBusConnection& bus, std::chrono::milliseconds limit)
        : m_bus(bus), m_limit(limit), m_deadline(Clock::now() + limit) {
        if (!m_bus.isConnected())
            m_reason = m_bus.lastError().isValid() ? m_bus.lastError().message()
                                                   : QStringLiteral("there is no session bus");
    }
    ~Conversation() { closeSession(); }
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;

    bool ok() const { return m_reason.isEmpty(); }
    bool answered() const { return m_answered; }
    const QString& reason() const { return m_reason; }
    void fail(const QString& reason) {
        if (m_reason.isEmpty())
            m_reason = reason;
    }

    // The reply's arguments, or nothing once the conversation has failed.
    std::optional<QVariantList> call(const QString& path, const QString& interface, const QString& method,
                                     const QVariantList& args = {}, int replyArguments = 1) {
        if (!ok())
            return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now());
        if (left.count() <= 0) {
            fail(timedOut());
            return std::nullopt;
        }
        QDBusMessage message = QDBusMessage::createMethodCall(kBusName, path, interface, method);
        message.setArguments(args);
        const auto sent = Clock::now();
        const QDBusMessage reply = m_bus.call(message, QDBus::Block, int(left.count()));
        if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() >= replyArguments) {
            m_answered = true;
            return reply.arguments();
        }
        if (reply.type() != QDBusMessage::ErrorMessage) {
            fail(QStringLiteral("the Secret Service gave no answer"));
            return std::nullopt;
        }
        // The bus reports a call that ran out of time as "no reply"; a timer may fire a little early.
        const QString name = reply.errorName();
        const bool timeoutError = name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
                                  name == QLatin1String("org.freedesktop.DBus.Error.Timeout") ||
                                  name == QLatin1String("org.freedesktop.DBus.Error.TimedOut");
        if (timeoutError && Clock::now() - sent >= left * 9 / 10) {
            fail(timedOut());
            return std::nullopt;
        }
        if (name != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") &&
            name != QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") && !timeoutError)
            m_answered = true; // the service is there and said no
        fail(reply.errorMessage().isEmpty() ? name : reply.errorMessage());
        return std::nullopt;
    }

    // A session that moves secrets as plain bytes (the bus is private to the user's login).
    std::optional<QDBusObjectPath> session() {
        if (!m_session.path().isEmpty())
            return m_session;
        const auto reply = call(kServicePath, kServiceInterface, QStringLiteral("OpenSession"),
                                {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString()))}, 2);
        if (!reply)
            return std::nullopt;
        m_session = pathOf(reply->at(1));
        return m_session;
    }

    // Gives up on a prompt the service wants to show: nothing here ever asks the user for a password.
    void dismiss(const QDBusObjectPath& prompt) {
        m_bus.send(QDBusMessage::createMethodCall(kBusName, prompt.path(), kPromptInterface, QStringLiteral("Dismiss")));
    }

private:
    QString timedOut() const {
        return QStringLiteral("the Secret Service did not answer within %1 s").arg(double(m_limit.count()) / 1000.0);
    }
    void closeSession() {
        if (!m_session.path().isEmpty() && m_session.path() != kNoObject)
            m_bus.send(
                QDBusMessage::createMethodCall(kBusName, m_session.path(), kSessionInterface, QStringLiteral("Close")));
    }

    QDBusConnection m_bus;
    const std::chrono::milliseconds m_limit;
    const Clock::time_point m_deadline;
    QString m_reason;
    bool m_answered = false;
    QDBusObjectPath m_session;
};

// The default keyring's collection when it exists and is unlocked, so a store needs no prompt.
std::optional<QDBusObjectPath> unlockedDefaultKeyring(Conversation& talk) {
    const auto alias = talk.call(kServicePath, kServiceInterface, QStringLiteral("ReadAlias"), {QStringLiteral("default")});
    if (!alias)
        return std::nullopt;
    const QDBusObjectPath collection = pathOf(alias->at(0));
    if (collection.path().isEmpty() || collection.path() == kNoObject) {
        talk.fail(QStringLiteral("the Secret Service has no default keyring"));
        return std::nullopt;
    }
    const auto locked = talk.call(collection.path(), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                  {kCollectionInterface, QStringLiteral("Locked")});
    if (!locked)
        return std::nullopt;
    if (locked->at(0).value<QDBusVariant>().variant().toBool()) {
        talk.fail(QStringLiteral("the default keyring is locked"));
        return std::nullopt;
    }
    return collection;
}

struct Found {
    QList<QDBusObjectPath> unlocked, locked;
};

std::optional<Found> search(Conversation& talk, const QString& service, const QString& account) {
    StringMap attributes = attributesOf(service, account);
    const auto reply = talk.call(kServicePath, kServiceInterface, QStringLiteral("SearchItems"),
                                 {QVariant::fromValue(attributes)}, 2);
    if (!reply)
        return std::nullopt;
    Found found{pathsOf(reply->at(0)), pathsOf(reply->at(1))};
    if (!found.unlocked.isEmpty() || !found.locked.isEmpty())
        return found;
    // A keyring read back from disk and still locked does not show the schema of its items (gnome-
    // keyring keeps it with the encrypted part), so ours are found there by service and account alone.
    attributes.remove(QStringLiteral("xdg:schema"));
    const auto unschemed = talk.call(kServicePath, kServiceInterface, QStringLiteral("SearchItems"),
                                     {QVariant::fromValue(attributes)}, 2);
    if (!unschemed)
        return std::nullopt;
    found.locked = pathsOf(unschemed->at(1));
    return found;
}

// The secret of each item that the service handed over, by item: a{o(oayays)}.
QMap<QString, QByteArray> secretsIn(const QVariant& reply) {
    QMap<QString, QByteArray> out;
    if (reply.userType() != qMetaTypeId<QDBusArgument>())
        return out;
    const QDBusArgument arg = reply.value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String("a{o(oayays)}"))
        return out;
    arg.beginMap();
    while (!arg.atEnd()) {
        QDBusObjectPath item, session;
        QByteArray parameters, value;
        QString contentType;
        arg.beginMapEntry();
        arg >> item;
        arg.beginStructure();
        arg >> session >> parameters >> value >> contentType;
        arg.endStructure();
        arg.endMapEntry();
        out.insert(item.path(), value);
    }
    arg.endMap();
    return out;
}

QDBusArgument secretStruct(const QDBusObjectPath& session, const QByteArray& value) {
    QDBusArgument arg;
    arg.beginStructure();
    arg << session << QByteArray() << value << QStringLiteral("text/plain");
    arg.endStructure();
    return arg;
}

QAtomicInteger<quint64> connectionCount;

// Waits for the answer to a prompt the service shows: its Completed signal, or the end of the
// daemon that owns it (a restart forgets every prompt).
class PromptAnswer final : public QObject {
    Q_OBJECT
public:
    PromptAnswer(QDBusConnection bus, const QDBusObjectPath& prompt)
        : m_owner(kBusName, bus, QDBusServiceWatcher::WatchForOwnerChange) {
        bus.connect(kBusName, prompt.path(), kPromptInterface, QStringLiteral("Completed"), this,
                    SLOT(completed(bool, QDBusVariant)));
        connect(&m_owner, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { Q_EMIT answered(false); });
    }
    // A prompt that could not be shown counts as refused.
    void watch(const QDBusPendingCall& call) {
        auto* pending = new QDBusPendingCallWatcher(call, this);
        connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
            if (done->isError())
                Q_EMIT answered(false);
            done->deleteLater();
        });
    }

Q_SIGNALS:
    void answered(bool unlocked);

private Q_SLOTS:
    void completed(bool dismissed, const QDBusVariant&) { Q_EMIT answered(!dismissed); }

private:
    QDBusServiceWatcher m_owner;
};

} // namespace

SecretServiceStore::SecretServiceStore(std::chrono::milliseconds timeout)
    : m_timeout(timeout),
      m_connectionName(QStringLiteral("corvane-secrets-%1").arg(connectionCount.fetchAndAddRelaxed(1))) {
    static const QMetaType registered = qDBusRegisterMetaType<StringMap>();
    Q_UNUSED(registered);
    // The bus's news of the owner arrives through the main thread's event loop, wherever the store
    // was first needed.
    if (const QCoreApplication* app = QCoreApplication::instance())
        moveToThread(app->thread());
}

SecretServiceStore::~SecretServiceStore() {
    if (m_connected)
        QDBusConnection::disconnectFromBus(m_connectionName);
}

QDBusConnection SecretServiceStore::bus() {
    if (m_connected) {
        QDBusConnection existing(m_connectionName);
        if (existing.isConnected())
            return existing;
        QDBusConnection::disconnectFromBus(m_connectionName); // the bus went away: try afresh
    }
    m_connected = true;
    QDBusConnection fresh = QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName);
    if (!fresh.isConnected()) {
        // Keep the reason, and look for a bus again next time.
        const QDBusConnection failed = fresh;
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_connected = false;
        return failed;
    }
    // A new connection knows nothing of the owner yet; from now on the bus tells of every change.
    {
        std::lock_guard lock(m_ownerMutex);
        m_owner.reset();
    }
    fresh.connect(kBus, kBusPath, kBus, QStringLiteral("NameOwnerChanged"), QStringList{kBusName}, QString(), this,
                  SLOT(ownerChanged(QString, QString, QString)));
    return fresh;
}

SecretServiceStore::Availability SecretServiceStore::probe() {
    std::lock_guard lock(m_mutex);
    Conversation talk(bus(), m_timeout);
    Availability result;
    result.available = unlockedDefaultKeyring(talk).has_value();
    result.answered = talk.answered();
    result.reason = talk.reason();
    return result;
}

std::optional<QString> SecretServiceStore::load(const QString& service, const QString& account) {
    return lookup(service, account).secret;
}

QString SecretServiceStore::owner() {
    {
        std::lock_guard lock(m_ownerMutex);
        if (m_owner)
            return *m_owner;
    }
    std::lock_guard lock(m_mutex);
    const QDBusConnection connection = bus();
    if (!connection.isConnected())
        return {};
    // Asking the bus for the owner never starts a daemon, unlike a call to the service itself. The
    // answer holds until the bus says the name changed hands (watched since the connection opened).
    QDBusMessage ask = QDBusMessage::createMethodCall(kBus, kBusPath, kBus, QStringLiteral("GetNameOwner"));
    ask << kBusName;
    const QDBusMessage reply = connection.call(ask, QDBus::Block, int(m_timeout.count()));
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        std::lock_guard ownerLock(m_ownerMutex);
        m_owner = reply.arguments().constFirst().toString();
        return *m_owner;
    }
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        std::lock_guard ownerLock(m_ownerMutex);
        m_owner = QString();
    }
    return {}; // a bus that did not answer is asked again next time
}

void SecretServiceStore::ownerChanged(const QString& name, const QString&, const QString& newOwner) {
    if (name != kBusName)
        return;
    std::lock_guard lock(m_ownerMutex);
    m_owner = newOwner;
}

SecretLookup SecretServiceStore::lookup(const QString& service, const QString& account) {
    std::lock_guard lock(m_mutex);
    Conversation talk(bus(), m_timeout);
    // A conversation that broke off says nothing about the item: it reads as unavailable, not missing.
    const SecretLookup unanswered{std::nullopt, false, true};
    // Items in a locked keyring are not unlocked from here (that would prompt): they read as locked.
    const std::optional<Found> found = search(talk, service, account);
    if (!found)
        return unanswered;
    if (found->unlocked.isEmpty())
        return {std::nullopt, !found->locked.isEmpty()};
    const std::optional<QDBusObjectPath> session = talk.session();
    if (!session)
        return unanswered;
    const auto reply = talk.call(kServicePath, kServiceInterface, QStringLiteral("GetSecrets"),
                                 {QVariant::fromValue(found->unlocked), QVariant::fromValue(*session)});
    if (!reply)
        return unanswered;
    const QMap<QString, QByteArray> secrets = secretsIn(reply->at(0));
    for (const QDBusObjectPath& item : found->unlocked) {
        const auto it = secrets.constFind(item.path());
        if (it != secrets.cend())
            return {strictUtf8(*it)}; // data that is not UTF-8 reads as no secret
    }
    return {};
}

QCoro::Task<bool> SecretServiceStore::unlock(const QString& service, const QString& account) {
    // Copied before the first wait: the caller's strings need not outlive it.
    const QString itemService = service, itemAccount = account;
    QDBusConnection connection(QString{});
    QDBusObjectPath prompt;
    {
        std::lock_guard lock(m_mutex);
        connection = bus();
        Conversation talk(connection, m_timeout);
        const std::optional<Found> found = search(talk, itemService, itemAccount);
        if (!found || found->locked.isEmpty())
            co_return found.has_value();
        const auto reply = talk.call(kServicePath, kServiceInterface, QStringLiteral("Unlock"),
                                     {QVariant::fromValue(found->locked)}, 2);
        if (!reply)
            co_return false;
        prompt = pathOf(reply->at(1));
    }
    if (!prompt.path().isEmpty() && prompt.path() != kNoObject) {
        // The prompt belongs to this connection and stays open while the user answers it; the
        // caller's event loop runs meanwhile. No window of ours owns it (window id "").
        PromptAnswer answer(connection, prompt);
        QDBusMessage show = QDBusMessage::createMethodCall(kBusName, prompt.path(), kPromptInterface, QStringLiteral("Prompt"));
        show.setArguments({QString()});
        answer.watch(connection.asyncCall(show, int(m_timeout.count())));
        const std::optional<bool> unlocked = co_await qCoro(&answer, &PromptAnswer::answered, promptWait);
        if (!unlocked)
            connection.send(QDBusMessage::createMethodCall(kBusName, prompt.path(), kPromptInterface, QStringLiteral("Dismiss")));
    }
    co_return !lookup(itemService, itemAccount).locked;
}

SecretResult SecretServiceStore::save(const QString& service, const QString& account, const QString& secret) {
    std::lock_guard lock(m_mutex);
    Conversation talk(bus(), m_timeout);
    const std::optional<QDBusObjectPath> collection = unlockedDefaultKeyring(talk);
    const std::optional<QDBusObjectPath> session = collection ? talk.session() : std::nullopt;
    if (!session)
        return failure(talk.reason());

    const QVariantMap properties{
        {QStringLiteral("org.freedesktop.Secret.Item.Label"), QStringLiteral("Corvane: %1").arg(account)},
        {QStringLiteral("org.freedesktop.Secret.Item.Attributes"), QVariant::fromValue(attributesOf(service, account))},
    };
    // With "replace" the service swaps an item with the same attributes in one step, so the old
    // value stays when the new one is refused.
    const auto reply = talk.call(collection->path(), kCollectionInterface, QStringLiteral("CreateItem"),
                                 {properties, QVariant::fromValue(secretStruct(*session, secret.toUtf8())), true}, 2);
    if (!reply)
        return failure(talk.reason());
    const QDBusObjectPath prompt = pathOf(reply->at(1));
    if (prompt.path() != kNoObject) {
        talk.dismiss(prompt);
        return failure(QStringLiteral("the keyring asked for a password prompt"));
    }
    return {true, {}};
}

SecretResult SecretServiceStore::remove(const QString& service, const QString& account) {
    std::lock_guard lock(m_mutex);
    Conversation talk(bus(), m_timeout);
    const std::optional<Found> found = search(talk, service, account);
    if (!found)
        return failure(talk.reason());
    if (!found->locked.isEmpty())
        return failure(QStringLiteral("the keyring that holds %1 is locked").arg(account));
    for (const QDBusObjectPath& item : found->unlocked) {
        const auto reply = talk.call(item.path(), kItemInterface, QStringLiteral("Delete"));
        if (!reply)
            return failure(talk.reason());
        const QDBusObjectPath prompt = pathOf(reply->at(0));
        if (prompt.path() != kNoObject) {
            talk.dismiss(prompt);
            return failure(QStringLiteral("the keyring asked for a password prompt"));
        }
    }
    return {true, {}};
}

} // namespace corvane::platform::linux_

#include "SecretServiceStore.moc"

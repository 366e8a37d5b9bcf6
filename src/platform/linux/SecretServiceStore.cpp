#include "platform/linux/SecretServiceStore.h"

#include <QByteArray>
#include <QStringDecoder>
#include <condition_variable>
#include <thread>

#include <libsecret/secret.h>

namespace corvane::platform::linux_ {

namespace {

const SecretSchema* schema() {
    static const SecretSchema instance = [] {
        SecretSchema s{};
        s.name = SecretServiceStore::schemaName;
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &instance;
}

// Cancels its GCancellable when the time is up, so that no libsecret call can block for ever
// (a stalled service, a bus that never answers, a prompt nobody sees).
class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds limit) : m_cancellable(g_cancellable_new()) {
        m_watch = std::thread([this, limit] {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait_for(lock, limit, [this] { return m_done; })) {
                m_expired = true;
                g_cancellable_cancel(m_cancellable);
            }
        });
    }
    ~Deadline() {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_one();
        m_watch.join();
        g_object_unref(m_cancellable);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    GCancellable* cancellable() const { return m_cancellable; }
    bool expired() {
        std::lock_guard lock(m_mutex);
        return m_expired;
    }

private:
    GCancellable* m_cancellable;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    bool m_expired = false;
    std::thread m_watch;
};

struct Error {
    GError* error = nullptr;
    ~Error() {
        if (error)
            g_error_free(error);
    }
    GError** out() { return &error; }
};

template <typename T>
struct Ref {
    T* ptr = nullptr;
    ~Ref() {
        if (ptr)
            g_object_unref(ptr);
    }
    explicit operator bool() const { return ptr != nullptr; }
};

struct Attributes {
    GHashTable* table;
    Attributes(const QString& service, const QString& account)
        : table(secret_attributes_build(schema(), "service", service.toUtf8().constData(), "account",
                                        account.toUtf8().constData(), static_cast<const char*>(nullptr))) {}
    ~Attributes() { g_hash_table_unref(table); }
};

struct ItemList {
    GList* list = nullptr;
    ~ItemList() { g_list_free_full(list, g_object_unref); }
};

QString describe(Deadline& deadline, const Error& error, std::chrono::milliseconds timeout) {
    if (deadline.expired())
        return QStringLiteral("the Secret Service did not answer within %1 s").arg(double(timeout.count()) / 1000.0);
    if (!error.error)
        return QStringLiteral("the Secret Service gave no answer");
    // "GDBus.Error:org.freedesktop.DBus.Error.ServiceUnknown: The name ..." -> "The name ..."
    GError* copy = g_error_copy(error.error);
    g_dbus_error_strip_remote_error(copy);
    const QString text = QString::fromUtf8(copy->message);
    g_error_free(copy);
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

// The process-wide service connection with an open session; null with a reason when none answers.
SecretService* openService(Deadline& deadline, std::chrono::milliseconds timeout, QString* reason) {
    Error error;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, deadline.cancellable(), error.out());
    if (!service && reason)
        *reason = describe(deadline, error, timeout);
    return service;
}

// True when the default keyring exists and is unlocked, so a store needs no prompt.
bool defaultKeyringUnlocked(SecretService* service, Deadline& deadline, std::chrono::milliseconds timeout,
                            QString* reason) {
    Error error;
    Ref<SecretCollection> collection{secret_collection_for_alias_sync(
        service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, deadline.cancellable(), error.out())};
    if (!collection) {
        *reason = error.error || deadline.expired() ? describe(deadline, error, timeout)
                                                    : QStringLiteral("the Secret Service has no default keyring");
        return false;
    }
    if (secret_collection_get_locked(collection.ptr)) {
        *reason = QStringLiteral("the default keyring is locked");
        return false;
    }
    return true;
}

std::optional<QString> strictUtf8(const char* data, gsize size) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(QByteArrayView(data, qsizetype(size)));
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

SecretServiceStore::SecretServiceStore(std::chrono::milliseconds timeout) : m_timeout(timeout) {}

SecretServiceStore::Availability SecretServiceStore::probe() {
    std::lock_guard lock(m_mutex);
    Deadline deadline(m_timeout);
    Availability result;
    Ref<SecretService> service{openService(deadline, m_timeout, &result.reason)};
    if (!service)
        return result;
    result.answered = true;
    result.available = defaultKeyringUnlocked(service.ptr, deadline, m_timeout, &result.reason);
    return result;
}

std::optional<QString> SecretServiceStore::load(const QString& service, const QString& account) {
    std::lock_guard lock(m_mutex);
    Deadline deadline(m_timeout);
    Ref<SecretService> connection{openService(deadline, m_timeout, nullptr)};
    if (!connection)
        return std::nullopt;
    Attributes attributes(service, account);
    Error error;
    // No SECRET_SEARCH_UNLOCK: items in a locked keyring are found but never prompt; they have no
    // secret loaded and count as missing.
    ItemList items{secret_service_search_sync(connection.ptr, schema(), attributes.table,
                                              SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS),
                                              deadline.cancellable(), error.out())};
    for (GList* node = items.list; node; node = node->next) {
        SecretValue* value = secret_item_get_secret(SECRET_ITEM(node->data));
        if (!value)
            continue;
        gsize size = 0;
        const gchar* data = secret_value_get(value, &size);
        std::optional<QString> text = strictUtf8(data, size);
        secret_value_unref(value);
        return text; // data that is not UTF-8 reads as no secret
    }
    return std::nullopt;
}

SecretResult SecretServiceStore::save(const QString& service, const QString& account, const QString& secret) {
    std::lock_guard lock(m_mutex);
    Deadline deadline(m_timeout);
    QString reason;
    Ref<SecretService> connection{openService(deadline, m_timeout, &reason)};
    if (!connection || !defaultKeyringUnlocked(connection.ptr, deadline, m_timeout, &reason))
        return failure(reason);

    Attributes attributes(service, account);
    const QByteArray bytes = secret.toUtf8();
    SecretValue* value = secret_value_new(bytes.constData(), bytes.size(), "text/plain");
    const QByteArray label = QStringLiteral("Corvane: %1").arg(account).toUtf8();
    Error error;
    // The service replaces an item with the same attributes in one step (no delete before the add).
    const bool stored = secret_service_store_sync(connection.ptr, schema(), attributes.table, SECRET_COLLECTION_DEFAULT,
                                                  label.constData(), value, deadline.cancellable(), error.out());
    secret_value_unref(value);
    if (!stored)
        return failure(describe(deadline, error, m_timeout));
    return {true, {}};
}

SecretResult SecretServiceStore::remove(const QString& service, const QString& account) {
    std::lock_guard lock(m_mutex);
    Deadline deadline(m_timeout);
    QString reason;
    Ref<SecretService> connection{openService(deadline, m_timeout, &reason)};
    if (!connection)
        return failure(reason);

    Attributes attributes(service, account);
    Error searchError;
    ItemList items{secret_service_search_sync(connection.ptr, schema(), attributes.table, SECRET_SEARCH_ALL,
                                              deadline.cancellable(), searchError.out())};
    if (searchError.error || deadline.expired())
        return failure(describe(deadline, searchError, m_timeout));
    for (GList* node = items.list; node; node = node->next) {
        SecretItem* item = SECRET_ITEM(node->data);
        if (secret_item_get_locked(item))
            return failure(QStringLiteral("the keyring that holds %1 is locked").arg(account));
        Error error;
        if (!secret_item_delete_sync(item, deadline.cancellable(), error.out()))
            return failure(describe(deadline, error, m_timeout));
    }
    return {true, {}};
}

} // namespace corvane::platform::linux_

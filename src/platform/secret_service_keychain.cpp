// libsecret's headers must come before any Qt header.
#include <libsecret/secret.h>

#include "platform/secret_service_keychain.h"

#include "platform/biometrics.h"

#include <memory>
#include <mutex>

namespace orvane::platform {

namespace {

const SecretSchema* schema() {
    static const SecretSchema s = {"app.orvane.Orvane.GenericPassword",
                                   SECRET_SCHEMA_NONE,
                                   {
                                       {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {"synchronizable", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {"protection", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {"enrollment", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                   },
                                   0,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr};
    return &s;
}

struct GObjectUnref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
template <class T> using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct ErrorHolder {
    GError* error = nullptr;
    ~ErrorHolder() { g_clear_error(&error); }
    GError** out() {
        g_clear_error(&error);
        return &error;
    }
};

struct ItemListFree {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
using ItemList = std::unique_ptr<GList, ItemListFree>;

using Attributes = std::unique_ptr<GHashTable, decltype(&g_hash_table_unref)>;

Attributes attributesFor(const QString& service, const QString& account, bool synchronizable) {
    Attributes table(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free),
                     &g_hash_table_unref);
    g_hash_table_insert(table.get(), g_strdup("service"), g_strdup(service.toUtf8().constData()));
    g_hash_table_insert(table.get(), g_strdup("account"), g_strdup(account.toUtf8().constData()));
    g_hash_table_insert(table.get(), g_strdup("synchronizable"),
                        g_strdup(synchronizable ? "true" : "false"));
    return table;
}

// The Secret Service, without starting anything that could prompt.
GObjectPtr<SecretService> openService(QString& lastError, GCancellable* cancellable) {
    ErrorHolder error;
    SecretService* service =
        secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, cancellable, error.out());
    if (!service && error.error)
        lastError = QString::fromUtf8(error.error->message);
    return GObjectPtr<SecretService>(service);
}

// The items under one service, account and synchronizable flag.
struct Search {
    OSStatus status = KeychainStatus::Success;
    GObjectPtr<SecretService> service;
    Attributes attributes{nullptr, &g_hash_table_unref};
    ItemList found;
};

} // namespace

class SecretServiceKeychain::Call {
public:
    explicit Call(SecretServiceKeychain& keychain) : keychain_(keychain) {
        std::lock_guard lock(keychain_.mutex_);
        keychain_.current_ = cancellable_;
        if (keychain_.interrupted())
            g_cancellable_cancel(cancellable_);
    }
    ~Call() {
        {
            std::lock_guard lock(keychain_.mutex_);
            keychain_.current_ = nullptr;
        }
        g_object_unref(cancellable_);
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    // Interrupted before or while it ran: the keyring did not answer in time.
    bool interrupted() const { return g_cancellable_is_cancelled(cancellable_); }
    GCancellable* cancellable() const { return cancellable_; }

private:
    SecretServiceKeychain& keychain_;
    GCancellable* cancellable_ = g_cancellable_new();
};

namespace {

Search search(const QString& service, const QString& account, bool synchronizable,
              SecretSearchFlags flags, QString& lastError,
              const SecretServiceKeychain::Call& bound) {
    Search result;
    if (bound.interrupted()) {
        result.status = KeychainStatus::InteractionNotAllowed;
        return result;
    }
    result.service = openService(lastError, bound.cancellable());
    if (!result.service) {
        result.status = KeychainStatus::InteractionNotAllowed;
        return result;
    }
    result.attributes = attributesFor(service, account, synchronizable);
    ErrorHolder error;
    result.found.reset(secret_service_search_sync(result.service.get(), schema(),
                                                  result.attributes.get(), flags,
                                                  bound.cancellable(), error.out()));
    if (error.error) {
        lastError = QString::fromUtf8(error.error->message);
        result.status = bound.interrupted() ? KeychainStatus::InteractionNotAllowed
                                            : KeychainStatus::InternalComponent;
    }
    return result;
}

} // namespace

bool SecretServiceKeychain::serviceAvailable() {
    ErrorHolder error;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, error.out());
    if (!bus)
        return false;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", "org.freedesktop.secrets"), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, error.out());
    g_object_unref(bus);
    if (!reply)
        return false;
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned;
}

QString SecretServiceKeychain::errorMessage(OSStatus status) const {
    {
        std::lock_guard lock(mutex_);
        if (status == KeychainStatus::InternalComponent && !lastError_.isEmpty())
            return lastError_;
    }
    return Keychain::errorMessage(status);
}

void SecretServiceKeychain::onInterrupt() {
    std::lock_guard lock(mutex_);
    if (current_)
        g_cancellable_cancel(current_);
}

void SecretServiceKeychain::noteError(const QString& text) {
    if (text.isEmpty())
        return;
    std::lock_guard lock(mutex_);
    lastError_ = text;
}

OSStatus SecretServiceKeychain::add(const KeychainItem& item) {
    const Call bound(*this);
    QString failure;
    Search existing =
        search(item.service, item.account, item.synchronizable, SECRET_SEARCH_ALL, failure, bound);
    noteError(failure);
    if (existing.status != KeychainStatus::Success)
        return existing.status;
    if (existing.found)
        return KeychainStatus::DuplicateItem;
    SecretService* service = existing.service.get();
    const Attributes& attributes = existing.attributes;
    ErrorHolder error;

    GObjectPtr<SecretCollection> collection(
        secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE,
                                         bound.cancellable(), error.out()));
    // No default keyring, or a locked one: making or opening it would prompt.
    if (!collection || secret_collection_get_locked(collection.get()))
        return KeychainStatus::InteractionNotAllowed;

    if (item.biometryCurrentSet) {
        g_hash_table_insert(attributes.get(), g_strdup("protection"),
                            g_strdup("biometry-current-set"));
        g_hash_table_insert(attributes.get(), g_strdup("enrollment"),
                            g_strdup(Biometrics::shared().enrollmentState().toHex().constData()));
    }
    SecretValue* value =
        secret_value_new(item.value.constData(), item.value.size(), "application/octet-stream");
    const QByteArray label =
        QStringLiteral("Orvane (%1, %2)").arg(item.service, item.account).toUtf8();
    GObjectPtr<SecretItem> created(
        secret_item_create_sync(collection.get(), schema(), attributes.get(), label.constData(),
                                value, SECRET_ITEM_CREATE_NONE, bound.cancellable(), error.out()));
    secret_value_unref(value);
    if (!created && bound.interrupted())
        return KeychainStatus::InteractionNotAllowed;
    if (!created) {
        noteError(error.error ? QString::fromUtf8(error.error->message) : QString());
        return KeychainStatus::InternalComponent;
    }
    return KeychainStatus::Success;
}

OSStatus SecretServiceKeychain::copyMatching(const KeychainQuery& query, QByteArray* value) {
    const Call bound(*this);
    QString failure;
    const Search found = search(query.service, query.account, query.synchronizable.value_or(false),
                                SECRET_SEARCH_NONE, failure, bound);
    noteError(failure);
    if (found.status != KeychainStatus::Success)
        return found.status;
    if (!found.found)
        return KeychainStatus::ItemNotFound;
    auto* item = static_cast<SecretItem*>(found.found->data);
    ErrorHolder error;
    if (secret_item_get_locked(item))
        return KeychainStatus::InteractionNotAllowed;
    if (GHashTable* stored = secret_item_get_attributes(item)) {
        const auto* protection =
            static_cast<const char*>(g_hash_table_lookup(stored, "protection"));
        const auto* enrollment =
            static_cast<const char*>(g_hash_table_lookup(stored, "enrollment"));
        const bool isProtected = protection && qstrcmp(protection, "biometry-current-set") == 0;
        const QByteArray storedEnrollment = QByteArray::fromHex(enrollment ? enrollment : "");
        g_hash_table_unref(stored);
        if (isProtected) {
            const OSStatus released =
                releaseProtected(storedEnrollment, query.authenticationReason);
            if (released != KeychainStatus::Success)
                return released;
        }
    }
    if (!secret_item_load_secret_sync(item, bound.cancellable(), error.out())) {
        if (bound.interrupted())
            return KeychainStatus::InteractionNotAllowed;
        noteError(error.error ? QString::fromUtf8(error.error->message) : QString());
        return KeychainStatus::InternalComponent;
    }
    SecretValue* secret = secret_item_get_secret(item);
    if (!secret)
        return KeychainStatus::ItemNotFound;
    gsize length = 0;
    const gchar* bytes = secret_value_get(secret, &length);
    // Any program of the session may write the item: one far beyond a token
    // or a password is no secret of ours, and would go out with every request.
    constexpr gsize kMaxSecretBytes = 64 * 1024;
    if (length > kMaxSecretBytes) {
        secret_value_unref(secret);
        return KeychainStatus::InvalidItem;
    }
    if (value)
        *value = QByteArray(bytes, static_cast<qsizetype>(length));
    secret_value_unref(secret);
    return KeychainStatus::Success;
}

OSStatus SecretServiceKeychain::remove(const KeychainQuery& query) {
    const Call bound(*this);
    QString failure;
    const Search found = search(query.service, query.account, query.synchronizable.value_or(false),
                                SECRET_SEARCH_ALL, failure, bound);
    noteError(failure);
    if (found.status != KeychainStatus::Success)
        return found.status;
    if (!found.found)
        return KeychainStatus::ItemNotFound;
    ErrorHolder error;
    for (GList* node = found.found.get(); node; node = node->next) {
        auto* item = static_cast<SecretItem*>(node->data);
        if (secret_item_get_locked(item))
            return KeychainStatus::InteractionNotAllowed;
        if (!secret_item_delete_sync(item, bound.cancellable(), error.out())) {
            if (bound.interrupted())
                return KeychainStatus::InteractionNotAllowed;
            noteError(error.error ? QString::fromUtf8(error.error->message) : QString());
            return KeychainStatus::InternalComponent;
        }
    }
    return KeychainStatus::Success;
}

} // namespace orvane::platform

#include "secrets/SecretServiceStore.h"

#include <condition_variable>
#include <libsecret/secret.h>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <variant>

namespace velmarin::secrets {

namespace {

using Kind = SecretStoreError::Kind;

const SecretSchema kSchema = {
    "com.tessamund.velmarin.Password",
    SECRET_SCHEMA_NONE,
    {
        {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
};

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <class T> using ObjectPtr = std::unique_ptr<T, ObjectUnref>;

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

struct HashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using AttributesPtr = std::unique_ptr<GHashTable, HashTableUnref>;

struct ItemListFree {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
using ItemList = std::unique_ptr<GList, ItemListFree>;

struct ValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using ValuePtr = std::unique_ptr<SecretValue, ValueUnref>;

// One call's cancellation, triggered when the time-out runs out; libsecret's
// blocking calls then return at once with G_IO_ERROR_CANCELLED.
class CallDeadline {
public:
    explicit CallDeadline(std::chrono::milliseconds timeout)
        : m_cancellable(g_cancellable_new())
        , m_watch([cancellable = m_cancellable.get(), timeout](std::stop_token stop) {
            std::mutex mutex;
            std::condition_variable_any wake;
            std::unique_lock lock(mutex);
            wake.wait_for(lock, stop, timeout, [] { return false; });
            if (!stop.stop_requested())
                g_cancellable_cancel(cancellable);
        }) {}

    GCancellable* cancellable() const { return m_cancellable.get(); }
    bool expired() const { return g_cancellable_is_cancelled(m_cancellable.get()); }

private:
    ObjectPtr<GCancellable> m_cancellable;
    std::jthread m_watch; // last: stopped and joined before the cancellable goes
};

SecretStoreError errorFrom(const GError* error, const CallDeadline& deadline, Kind otherwise) {
    if (deadline.expired())
        return {Kind::timedOut, {}};
    if (!error)
        return {otherwise, {}};
    Kind kind = otherwise;
    if (error->domain == G_DBUS_ERROR) {
        switch (error->code) {
        case G_DBUS_ERROR_SERVICE_UNKNOWN:
        case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
        case G_DBUS_ERROR_NO_SERVER:
        case G_DBUS_ERROR_DISCONNECTED:
        case G_DBUS_ERROR_FILE_NOT_FOUND:
        case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
        case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
        case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
            kind = Kind::unavailable;
            break;
        default:
            break;
        }
    } else if (error->domain == SECRET_ERROR && error->code == SECRET_ERROR_IS_LOCKED) {
        kind = Kind::locked;
    }
    return {kind, error->message};
}

using ServiceResult = std::variant<ObjectPtr<SecretService>, SecretStoreError>;

// A proxy of its own per call: the shared one of secret_service_get() would
// keep a session with a Secret Service that may have restarted since.
ServiceResult openService(const CallDeadline& deadline) {
    GError* raw = nullptr;
    ObjectPtr<SecretService> service(secret_service_open_sync(
        SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_NONE, deadline.cancellable(), &raw));
    const ErrorPtr error(raw);
    if (!service)
        return errorFrom(error.get(), deadline, Kind::unavailable);
    return service;
}

AttributesPtr attributesOf(const SecretAddress& address) {
    return AttributesPtr(secret_attributes_build(&kSchema, "service", address.service.c_str(),
                                                 "account", address.account.c_str(), nullptr));
}

// The items under `address` without unlocking anything; locked ones are
// listed but carry no secret.
std::variant<ItemList, SecretStoreError> search(SecretService* service,
                                                const SecretAddress& address, int flags,
                                                const CallDeadline& deadline) {
    GError* raw = nullptr;
    ItemList items(secret_service_search_sync(service, &kSchema, attributesOf(address).get(),
                                              static_cast<SecretSearchFlags>(flags),
                                              deadline.cancellable(), &raw));
    const ErrorPtr error(raw);
    if (error)
        return errorFrom(error.get(), deadline, Kind::failed);
    return items;
}

} // namespace

SecretServiceStore::SecretServiceStore()
    : SecretServiceStore(Options{}) {}

SecretServiceStore::SecretServiceStore(Options options)
    : m_options(std::move(options)) {}

Expected<void, SecretStoreError> SecretServiceStore::save(const SecretAddress& address,
                                                          std::string_view secret,
                                                          std::string_view label) {
    const CallDeadline deadline(m_options.timeout);
    auto opened = openService(deadline);
    if (auto* error = std::get_if<SecretStoreError>(&opened))
        return unexpected(*error);
    SecretService* service = std::get<ObjectPtr<SecretService>>(opened).get();

    // Storing into a locked collection would unlock it first, with a prompt.
    GError* raw = nullptr;
    const ObjectPtr<SecretCollection> collection(secret_collection_for_alias_sync(
        service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, deadline.cancellable(), &raw));
    ErrorPtr error(raw);
    if (error)
        return unexpected(errorFrom(error.get(), deadline, Kind::failed));
    if (!collection)
        return unexpected(SecretStoreError{Kind::unavailable, "no default collection"});
    if (secret_collection_get_locked(collection.get()))
        return unexpected(SecretStoreError{Kind::locked, {}});

    const ValuePtr value(
        secret_value_new(secret.data(), static_cast<gssize>(secret.size()), "text/plain"));
    raw = nullptr;
    const bool stored = secret_service_store_sync(
        service, &kSchema, attributesOf(address).get(),
        g_dbus_proxy_get_object_path(G_DBUS_PROXY(collection.get())), std::string(label).c_str(),
        value.get(), deadline.cancellable(), &raw);
    error.reset(raw);
    if (!stored)
        return unexpected(errorFrom(error.get(), deadline, Kind::failed));
    return {};
}

Expected<std::optional<std::string>, SecretStoreError>
SecretServiceStore::find(const SecretAddress& address) {
    const CallDeadline deadline(m_options.timeout);
    auto opened = openService(deadline);
    if (auto* error = std::get_if<SecretStoreError>(&opened))
        return unexpected(*error);
    auto found = search(std::get<ObjectPtr<SecretService>>(opened).get(), address,
                        SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS, deadline);
    if (auto* error = std::get_if<SecretStoreError>(&found))
        return unexpected(*error);
    for (GList* node = std::get<ItemList>(found).get(); node; node = node->next) {
        auto* item = static_cast<SecretItem*>(node->data);
        if (secret_item_get_locked(item))
            continue;
        const ValuePtr value(secret_item_get_secret(item));
        if (!value)
            continue;
        gsize length = 0;
        const gchar* bytes = secret_value_get(value.get(), &length);
        return std::optional<std::string>(std::string(bytes, length));
    }
    return std::optional<std::string>();
}

Expected<void, SecretStoreError> SecretServiceStore::remove(const SecretAddress& address) {
    const CallDeadline deadline(m_options.timeout);
    auto opened = openService(deadline);
    if (auto* error = std::get_if<SecretStoreError>(&opened))
        return unexpected(*error);
    auto found = search(std::get<ObjectPtr<SecretService>>(opened).get(), address,
                        SECRET_SEARCH_ALL, deadline);
    if (auto* error = std::get_if<SecretStoreError>(&found))
        return unexpected(*error);
    std::optional<SecretStoreError> result;
    for (GList* node = std::get<ItemList>(found).get(); node; node = node->next) {
        auto* item = static_cast<SecretItem*>(node->data);
        // Deleting a locked item would ask for the unlock prompt.
        if (secret_item_get_locked(item)) {
            result = SecretStoreError{Kind::locked, {}};
            continue;
        }
        GError* raw = nullptr;
        if (!secret_item_delete_sync(item, deadline.cancellable(), &raw)) {
            const ErrorPtr error(raw);
            result = errorFrom(error.get(), deadline, Kind::failed);
        }
    }
    if (result)
        return unexpected(std::move(*result));
    return {};
}

} // namespace velmarin::secrets

#include "SyphonDirectory.h"

#include "SyphonPipeWire.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

struct SyphonDirectory::Impl {
    SyphonDirectory* owner = nullptr;
    SyphonConnection connection{"kavio-syphondirectory"};
    pw_registry* registry = nullptr;
    spa_hook registryListener{};

    mutable std::mutex lock;
    std::vector<std::pair<std::uint32_t, QVariantMap>> servers;  // by global id, oldest first
    std::map<std::uint32_t, QString> clientApps;                  // loop thread: client id -> application
    bool listed = false;  // loop thread: the nodes present at the start are not announced


    void post(const char* name, QVariantMap description)
    {
        void* object = owner;
        DispatchQueue::main().async([name, object, description = std::move(description)] {
            NotificationCenter::defaultCenter().post(QString::fromUtf8(name), object, description);
        });
    }
};

namespace {

void onGlobal(void* data, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict* props)
{
    auto* impl = static_cast<SyphonDirectory::Impl*>(data);
    if (!props)
        return;
    // Streams leave the application's name to their client, which the daemon lists first.
    if (std::strcmp(type, PW_TYPE_INTERFACE_Client) == 0) {
        if (const char* app = spa_dict_lookup(props, PW_KEY_APP_NAME))
            impl->clientApps[id] = QString::fromUtf8(app);
        return;
    }
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0)
        return;
    const char* mediaClass = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
    const char* name = spa_dict_lookup(props, PW_KEY_NODE_NAME);
    if (!mediaClass || !name || std::strcmp(mediaClass, "Video/Source") != 0)
        return;
    const char* app = spa_dict_lookup(props, PW_KEY_APP_NAME);
    const char* client = spa_dict_lookup(props, PW_KEY_CLIENT_ID);
    QString appName = QString::fromUtf8(app ? app : "");
    if (appName.isEmpty() && client)
        appName = impl->clientApps[std::uint32_t(std::strtoul(client, nullptr, 10))];
    const char* serial = spa_dict_lookup(props, PW_KEY_OBJECT_SERIAL);
    QVariantMap description{{SyphonDirectory::kNameKey, QString::fromUtf8(name)},
                            {SyphonDirectory::kAppNameKey, appName},
                            {SyphonDirectory::kUUIDKey, QString::fromUtf8(serial ? serial : "")}};
    {
        std::lock_guard guard(impl->lock);
        impl->servers.emplace_back(id, description);
    }
    if (impl->listed)
        impl->post(SyphonDirectory::kAnnounceNotification, std::move(description));
}

void onGlobalRemove(void* data, uint32_t id)
{
    auto* impl = static_cast<SyphonDirectory::Impl*>(data);
    impl->clientApps.erase(id);
    QVariantMap description;
    {
        std::lock_guard guard(impl->lock);
        auto it = std::find_if(impl->servers.begin(), impl->servers.end(), [id](const auto& s) { return s.first == id; });
        if (it == impl->servers.end())
            return;
        description = std::move(it->second);
        impl->servers.erase(it);
    }
    impl->post(SyphonDirectory::kRetireNotification, std::move(description));
}

pw_registry_events registryEvents()
{
    pw_registry_events events{};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global = onGlobal;
    events.global_remove = onGlobalRemove;
    return events;
}
const pw_registry_events kRegistryEvents = registryEvents();

}  // namespace

SyphonDirectory& SyphonDirectory::sharedDirectory()
{
    static SyphonDirectory* directory = new SyphonDirectory();  // lives for the process
    return *directory;
}

SyphonDirectory::SyphonDirectory()
    : impl_(std::make_unique<Impl>())
{
    Impl& d = *impl_;
    d.owner = this;
    if (!d.connection.connected())
        return;
    pw_thread_loop_lock(d.connection.loop);
    d.registry = pw_core_get_registry(d.connection.core, PW_VERSION_REGISTRY, 0);
    if (d.registry)
        pw_registry_add_listener(d.registry, &d.registryListener, &kRegistryEvents, &d);
    pw_thread_loop_unlock(d.connection.loop);
    d.connection.roundTrip();
    pw_thread_loop_lock(d.connection.loop);
    d.listed = true;
    pw_thread_loop_unlock(d.connection.loop);
}

SyphonDirectory::~SyphonDirectory()
{
    Impl& d = *impl_;
    if (!d.connection.connected() || !d.registry)
        return;
    pw_thread_loop_lock(d.connection.loop);
    spa_hook_remove(&d.registryListener);
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(d.registry));
    pw_thread_loop_unlock(d.connection.loop);
}

bool SyphonDirectory::isConnected() const
{
    return impl_->connection.connected();
}

QVariantList SyphonDirectory::servers() const
{
    std::lock_guard guard(impl_->lock);
    QVariantList list;
    for (const auto& server : impl_->servers)
        list << server.second;
    return list;
}

QVariantList SyphonDirectory::serversMatchingName(const QString& name, const QString& appName) const
{
    QVariantList matches;
    for (const QVariant& server : servers()) {
        const QVariantMap description = server.toMap();
        if ((name.isEmpty() || description.value(kNameKey).toString() == name) &&
            (appName.isEmpty() || description.value(kAppNameKey).toString() == appName))
            matches << description;
    }
    return matches;
}

QString SyphonDirectory::displayName(const QVariantMap& description)
{
    return QStringLiteral("%1 - %2").arg(description.value(kAppNameKey).toString(), description.value(kNameKey).toString());
}

#include "Zeroconf.h"

#include "DispatchQueue.h"
#include "Log.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

#include <algorithm>
#include <map>
#include <sys/socket.h>
#include <tuple>
#include <string>

namespace {

// Every Avahi call from outside the poll thread happens under the poll lock; callbacks run on
// the poll thread with that lock held, so they never take it and hand results to queue_.
class AvahiZeroconf final : public Zeroconf {
public:
    AvahiZeroconf() : queue_("com.dalvek.zeroconf")
    {
        poll_ = avahi_threaded_poll_new();
        if (!poll_) {
            KLOG_WARN("Zeroconf is not available (no poll object): network services are neither "
                      "published nor discovered");
            return;
        }
        int error = 0;
        client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AvahiClientFlags(0),
                                   &AvahiZeroconf::clientCallback, this, &error);
        if (!client_) {
            KLOG_WARN("Zeroconf is not available ({}): network services are neither published nor "
                      "discovered",
                      avahi_strerror(error));
            avahi_threaded_poll_free(poll_);
            poll_ = nullptr;
            return;
        }
        avahi_threaded_poll_start(poll_);
    }

    ~AvahiZeroconf() override
    {
        if (!poll_)
            return;
        avahi_threaded_poll_stop(poll_);
        published_.clear();  // entry groups and the browsers go with the client
        avahi_client_free(client_);
        avahi_threaded_poll_free(poll_);
    }

    Token publish(const QString& name, const QString& type, int port, const TxtRecords& txt = {}) override
    {
        if (!client_)
            return 0;
        avahi_threaded_poll_lock(poll_);
        auto entry = std::make_unique<Published>();
        entry->name = name.toStdString();
        entry->type = type.toStdString();
        entry->port = port;
        for (const auto& [key, value] : txt)
            entry->txt = avahi_string_list_add_pair(entry->txt, key.toUtf8().constData(),
                                                    value.toUtf8().constData());
        entry->group = avahi_entry_group_new(client_, &AvahiZeroconf::groupCallback, entry.get());
        // While the daemon is still registering the host, the service is added once the
        // client runs (clientCallback).
        const bool running = avahi_client_get_state(client_) == AVAHI_CLIENT_S_RUNNING;
        Token token = 0;
        if (entry->group && (!running || registerService(*entry))) {
            token = nextToken_++;
            published_[token] = std::move(entry);
        } else {
            KLOG_WARN("cannot publish {} {} on port {}: {}", name.toStdString(),
                      type.toStdString(), port, avahi_strerror(avahi_client_errno(client_)));
        }
        avahi_threaded_poll_unlock(poll_);
        return token;
    }

    void withdraw(Token token) override
    {
        if (!client_)
            return;
        avahi_threaded_poll_lock(poll_);
        published_.erase(token);
        avahi_threaded_poll_unlock(poll_);
    }

    void browse(const QString& type, BrowseHandler handler) override
    {
        if (!client_)
            return;
        avahi_threaded_poll_lock(poll_);
        const std::string key = type.toStdString();
        if (!browses_.contains(key)) {
            auto b = std::make_unique<Browse>();
            b->owner = this;
            b->handler = std::move(handler);
            b->browser = avahi_service_browser_new(client_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                   key.c_str(), nullptr, AvahiLookupFlags(0),
                                                   &AvahiZeroconf::browseCallback, b.get());
            if (b->browser)
                browses_[key] = std::move(b);
            else
                KLOG_WARN("cannot browse {}: {}", key, avahi_strerror(avahi_client_errno(client_)));
        }
        avahi_threaded_poll_unlock(poll_);
    }

private:
    struct Published {
        AvahiEntryGroup* group = nullptr;
        std::string name;
        std::string type;
        int port = 0;
        AvahiStringList* txt = nullptr;
        ~Published()
        {
            if (group)
                avahi_entry_group_free(group);
            avahi_string_list_free(txt);
        }
    };

    // Adds the service to its (empty) group and commits it, taking a free name on collision.
    static bool registerService(Published& p)
    {
        for (int attempt = 0; attempt < 16; ++attempt) {
            int r = avahi_entry_group_add_service_strlst(p.group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                         AvahiPublishFlags(0), p.name.c_str(),
                                                         p.type.c_str(), nullptr, nullptr,
                                                         uint16_t(p.port), p.txt);
            if (r == AVAHI_ERR_COLLISION) {
                renameService(p);
                continue;
            }
            return r >= 0 && avahi_entry_group_commit(p.group) >= 0;
        }
        return false;
    }

    static void renameService(Published& p)
    {
        char* alternative = avahi_alternative_service_name(p.name.c_str());
        p.name = alternative;
        avahi_free(alternative);
    }

    static void groupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata)
    {
        auto* p = static_cast<Published*>(userdata);
        if (state == AVAHI_ENTRY_GROUP_COLLISION) {
            renameService(*p);
            avahi_entry_group_reset(group);
            registerService(*p);
        } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
            KLOG_WARN("publishing {} failed: {}", p->name,
                      avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
        }
    }

    static void clientCallback(AvahiClient* client, AvahiClientState state, void* userdata)
    {
        auto* self = static_cast<AvahiZeroconf*>(userdata);
        if (state == AVAHI_CLIENT_S_RUNNING) {
            // After a host-name collision or a daemon restart, groups come back empty.
            for (auto& [token, p] : self->published_) {
                if (p->group && avahi_entry_group_is_empty(p->group))
                    registerService(*p);
            }
        } else if (state == AVAHI_CLIENT_S_COLLISION || state == AVAHI_CLIENT_S_REGISTERING) {
            for (auto& [token, p] : self->published_) {
                if (p->group)
                    avahi_entry_group_reset(p->group);
            }
        } else if (state == AVAHI_CLIENT_FAILURE) {
            KLOG_WARN("zeroconf client failed: {}", avahi_strerror(avahi_client_errno(client)));
        }
    }

    // One followed service type: its browser, handler and resolved services.
    struct Browse {
        AvahiZeroconf* owner = nullptr;
        AvahiServiceBrowser* browser = nullptr;
        BrowseHandler handler;
        std::map<std::tuple<std::string, int, int>, Service> found;  // name, interface, protocol
    };

    static void browseCallback(AvahiServiceBrowser* browser, AvahiIfIndex interface,
                               AvahiProtocol protocol, AvahiBrowserEvent event, const char* name,
                               const char* type, const char* domain, AvahiLookupResultFlags,
                               void* userdata)
    {
        auto* self = static_cast<Browse*>(userdata);
        if (event == AVAHI_BROWSER_NEW) {
            AvahiClient* client = avahi_service_browser_get_client(browser);
            // Each protocol's announcement resolves to an address of that family.
            if (!avahi_service_resolver_new(client, interface, protocol, name, type, domain,
                                            protocol, AvahiLookupFlags(0),
                                            &AvahiZeroconf::resolveCallback, self))
                KLOG_DEBUG("cannot resolve {}: {}", name,
                           avahi_strerror(avahi_client_errno(client)));
        } else if (event == AVAHI_BROWSER_REMOVE) {
            if (self->found.erase({name, interface, protocol}) > 0)
                self->owner->reportServices(*self);
        } else if (event == AVAHI_BROWSER_FAILURE) {
            AvahiClient* client = avahi_service_browser_get_client(browser);
            KLOG_WARN("zeroconf browsing failed: {}", avahi_strerror(avahi_client_errno(client)));
        }
    }

    static void resolveCallback(AvahiServiceResolver* resolver, AvahiIfIndex interface,
                                AvahiProtocol protocol, AvahiResolverEvent event, const char* name,
                                const char*, const char*, const char*, const AvahiAddress* address,
                                uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags,
                                void* userdata)
    {
        auto* self = static_cast<Browse*>(userdata);
        if (event == AVAHI_RESOLVER_FOUND && address) {
            char text[AVAHI_ADDRESS_STR_MAX];
            avahi_address_snprint(text, sizeof text, address);
            Service service{QString::fromUtf8(name), {}, int(port)};
            const int family = address->proto == AVAHI_PROTO_INET6 ? AF_INET6 : AF_INET;
            service.addresses.push_back({family, QString::fromUtf8(text)});
            if (family == AF_INET)
                service.host = QString::fromUtf8(text);
            service.txt = txtRecords(txt);
            self->found[{name, interface, protocol}] = std::move(service);
            self->owner->reportServices(*self);
        }
        avahi_service_resolver_free(resolver);
    }

    static TxtRecords txtRecords(AvahiStringList* list)
    {
        TxtRecords records;
        for (AvahiStringList* item = list; item; item = avahi_string_list_get_next(item)) {
            char* key = nullptr;
            char* value = nullptr;
            if (avahi_string_list_get_pair(item, &key, &value, nullptr) == 0) {
                records.emplace_back(QString::fromUtf8(key), value ? QString::fromUtf8(value) : QString());
                avahi_free(key);
                avahi_free(value);
            }
        }
        return records;
    }

    // One entry per service name, even when it is seen on several interfaces and protocols:
    // its addresses gathered without repeats, the host the first IPv4 one.
    void reportServices(const Browse& browse)
    {
        std::vector<Service> list;
        std::map<QString, size_t> index;
        for (const auto& [key, service] : browse.found) {
            const auto [it, added] = index.try_emplace(service.name, list.size());
            if (added) {
                list.push_back(service);
                continue;
            }
            Service& merged = list[it->second];
            for (const Address& a : service.addresses) {
                if (std::find(merged.addresses.begin(), merged.addresses.end(), a) == merged.addresses.end())
                    merged.addresses.push_back(a);
            }
            if (merged.host.isEmpty())
                merged.host = service.host;
        }
        queue_.async([handler = browse.handler, list] { handler(list); });
    }

    DispatchQueue queue_;
    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    std::map<Token, std::unique_ptr<Published>> published_;
    Token nextToken_ = 1;
    std::map<std::string, std::unique_ptr<Browse>> browses_;  // by service type
};

}  // namespace

std::shared_ptr<Zeroconf> Zeroconf::system()
{
    // Made once and kept for the process: the OSC kit's single instances hold it until exit.
    static const std::shared_ptr<Zeroconf> instance = std::make_shared<AvahiZeroconf>();
    return instance;
}

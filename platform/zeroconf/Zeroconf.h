#pragma once
// Zeroconf (DNS-SD) publishing and browsing for the network kits (OSC, the link, switchers),
// behind an interface so that tests can stand in a fake. system() is backed by the Avahi daemon;
// when the daemon does not run, it logs that once and then publishes and finds nothing, and the
// kits work without it.

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class Zeroconf {
public:
    struct Service {
        QString name;  // the service instance name, unique per type on the network
        QString host;  // IPv4 address as text
        int port = 0;
        bool operator==(const Service&) const = default;
    };
    using Token = std::uint64_t;  // 0 is never a valid token
    using BrowseHandler = std::function<void(const std::vector<Service>&)>;

    virtual ~Zeroconf() = default;

    // Announces a service of `type` (for example "_osc._udp") named `name` on `port`.
    // A name already taken on the network is replaced by a free variant. Answers a token for
    // withdraw(), or 0 when nothing could be published.
    virtual Token publish(const QString& name, const QString& type, int port) = 0;
    virtual void withdraw(Token token) = 0;

    // Follows the services of `type`: the handler receives the whole current list each time
    // it changes, on the zeroconf implementation's own thread. Only one browse per object.
    virtual void browse(const QString& type, BrowseHandler handler) = 0;

    // The process-wide Avahi-backed instance, made on first use.
    static std::shared_ptr<Zeroconf> system();
};

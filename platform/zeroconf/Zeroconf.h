#pragma once
// Zeroconf (DNS-SD) publishing and browsing for the network kits (OSC, the link, switchers),
// behind an interface so that tests can stand in a fake. system() is backed by the Avahi daemon;
// when the daemon does not run, it logs that once and then publishes and finds nothing, and the
// kits work without it.

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class Zeroconf {
public:
    struct Address {
        int family = 0;   // AF_INET or AF_INET6
        QString text;     // numeric text
        bool operator==(const Address&) const = default;
    };
    using TxtRecords = std::vector<std::pair<QString, QString>>;  // key, value
    struct Service {
        QString name;  // the service instance name, unique per type on the network
        QString host;  // the first IPv4 address as text; empty when it resolved to IPv6 only
        int port = 0;
        std::vector<Address> addresses = {};  // every resolved address, IPv4 and IPv6
        TxtRecords txt = {};
        bool operator==(const Service&) const = default;
    };
    using Token = std::uint64_t;  // 0 is never a valid token
    using BrowseHandler = std::function<void(const std::vector<Service>&)>;

    virtual ~Zeroconf() = default;

    // Announces a service of `type` (for example "_osc._udp") named `name` on `port`.
    // A name already taken on the network is replaced by a free variant. `txt`: the TXT
    // records to announce. Answers a token for withdraw(), or 0 when nothing could be published.
    virtual Token publish(const QString& name, const QString& type, int port, const TxtRecords& txt = {}) = 0;
    virtual void withdraw(Token token) = 0;

    // Follows the services of `type`: the handler receives the whole current list each time
    // it changes, on the zeroconf implementation's own thread. One browse per type and object
    // (a second of the same type is ignored).
    virtual void browse(const QString& type, BrowseHandler handler) = 0;

    // The process-wide Avahi-backed instance, made on first use.
    static std::shared_ptr<Zeroconf> system();
};

#include "VistrelDeviceBrowser.h"

#include "Vistrel.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <map>
#include <set>

struct VistrelDeviceBrowser::State : std::enable_shared_from_this<VistrelDeviceBrowser::State> {
    explicit State(DispatchQueue& queue) : queue(queue) {}

    DispatchQueue& queue;
    std::vector<std::shared_ptr<QVTAtemDeviceInfo>> devices;  // on the queue only
    std::map<QString, std::map<QString, Zeroconf::Service>> known;  // type → name → service; main thread

    // Main thread: the whole list of one type, as zeroconf now sees it.
    void servicesChanged(const QString& type, const std::vector<Zeroconf::Service>& services)
    {
        auto& seen = known[type];
        std::set<QString> present;
        for (const auto& service : services)
            present.insert(service.name);
        for (auto it = seen.begin(); it != seen.end();) {
            if (present.contains(it->first)) {
                ++it;
                continue;
            }
            remove(it->first);
            it = seen.erase(it);
        }
        for (const auto& service : services) {
            const auto it = seen.find(service.name);
            if (it != seen.end() && it->second == service)
                continue;
            seen[service.name] = service;
            resolved(service);
        }
    }

    void remove(const QString& name)
    {
        queue.async([self = shared_from_this(), name] {
            std::erase_if(self->devices, [&](const auto& device) { return device->customName() == name; });
            DispatchQueue::main().async([] { NotificationCenter::defaultCenter().post(VistrelNetworkDevicesChangedNotification); });
        });
    }

    void resolved(const Zeroconf::Service& service)
    {
        std::map<QString, QByteArray> txt;
        for (const auto& [key, value] : service.txt)
            txt[key] = value.toUtf8();
        const auto value = [&txt](const char* key) -> const QByteArray* {
            const auto it = txt.find(QString::fromLatin1(key));
            return it == txt.end() ? nullptr : &it->second;
        };
        const QByteArray* uniqueID = value("unique id");
        if (!uniqueID || uniqueID->isEmpty())
            return;
        if (const QByteArray* kind = value("class"); kind && !kind->isEmpty() &&
                                                     stringWithUnterminatedData(kind) != QStringLiteral("AtemSwitcher"))
            return;
        for (const Zeroconf::Address& address : service.addresses) {
            if (address.family != AF_INET || address.text.isEmpty())
                continue;
            in_addr parsed{};
            if (::inet_pton(AF_INET, address.text.toLatin1().constData(), &parsed) != 1) {
                KLOG_ERROR("Vistrel error: Unable to detect Blackmagic ATEM devices on the network: Couldn't get IP "
                           "address for '{}': {}",
                           service.name.toStdString(), "not an IPv4 address");
                continue;
            }
            char text[256];
            ::inet_ntop(AF_INET, &parsed, text, sizeof text);
            auto record = std::make_shared<QVTAtemDeviceInfo>(stringWithUnterminatedData(uniqueID).value_or(QString()),
                                                              stringWithUnterminatedData(value("name")).value_or(QString()),
                                                              service.name, QString::fromLatin1(text));
            queue.sync([&] { devices.push_back(record); });
            NotificationCenter::defaultCenter().post(VistrelNetworkDevicesChangedNotification);
        }
    }
};

VistrelDeviceBrowser::VistrelDeviceBrowser(std::shared_ptr<Zeroconf> zeroconf, DispatchQueue& queue)
    : state_(std::make_shared<State>(queue))
{
    for (const char* type : kServiceTypes) {
        const QString name = QString::fromLatin1(type);
        const std::weak_ptr<State> weak = state_;
        // Zeroconf answers on its own thread; the list is taken in on the main thread.
        zeroconf->browse(name, [weak, name](const std::vector<Zeroconf::Service>& services) {
            DispatchQueue::main().async([weak, name, services] {
                if (const auto state = weak.lock())
                    state->servicesChanged(name, services);
            });
        });
    }
}

VistrelDeviceBrowser::~VistrelDeviceBrowser() = default;

std::vector<std::shared_ptr<QVTAtemDeviceInfo>> VistrelDeviceBrowser::devices() const
{
    std::vector<std::shared_ptr<QVTAtemDeviceInfo>> copy;
    state_->queue.sync([&] { copy = state_->devices; });
    return copy;
}

const std::vector<std::shared_ptr<QVTAtemDeviceInfo>>& VistrelDeviceBrowser::devicesOnQueue() const
{
    return state_->devices;
}

std::vector<std::shared_ptr<QVTAtemDeviceInfo>> VistrelDeviceBrowser::networkDevices() const
{
    std::vector<std::shared_ptr<QVTAtemDeviceInfo>> unique;
    std::set<QString> ids;
    for (const auto& device : devices()) {
        if (ids.insert(device->deviceID()).second)
            unique.push_back(device);
    }
    return unique;
}

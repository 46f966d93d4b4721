#include "QVTOSCQueryServer.h"

#include "Log.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>

using nlohmann::json;

namespace {

const QString kQueryServiceType = QStringLiteral("_oscjson._tcp");

json number(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::QString: return v.toDouble();
    default: return v.toLongLong();
    }
}

QString childPath(const QString& parent, const QString& child)
{
    return parent.endsWith('/') ? parent + child : parent + '/' + child;
}

}  // namespace

QVTOSCQueryServer::QVTOSCQueryServer(const QString& name, int port, const QString& rootAddress,
                                     std::shared_ptr<Zeroconf> zeroconf)
    : name_(name), root_(rootAddress.isEmpty() ? QStringLiteral("/") : rootAddress),
      zeroconf_(std::move(zeroconf)), port_(port)
{
    std::lock_guard lock(serverMutex_);
    start();
}

QVTOSCQueryServer::~QVTOSCQueryServer()
{
    stop();
}

bool QVTOSCQueryServer::start()
{
    auto server = std::make_unique<httplib::Server>();
    server->new_task_queue = [] { return new httplib::ThreadPool(2); };
    // Address reuse lets restart() bind again at once; the library's default of also sharing
    // the port would let a second server bind it unnoticed.
    server->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        // OSCQuery asks for one attribute as a bare query key ("/kavio?TYPE").
        const std::string attribute = request.params.empty() ? std::string()
                                                              : request.params.begin()->first;
        int status = 200;
        std::string body = attribute == "HOST_INFO"
                               ? hostInfo()
                               : answer(QString::fromStdString(request.path), attribute, status);
        response.status = status;
        if (status == 200)
            response.set_content(body, "application/json");
    });
    int bound = -1;
    if (port_ == 0)
        bound = server->bind_to_any_port("0.0.0.0");
    else if (port_ > 0 && port_ <= 65535 && server->bind_to_port("0.0.0.0", port_))
        bound = port_;
    if (bound <= 0) {
        KLOG_WARN("OSC query server {} cannot open TCP port {}", name_.toStdString(), port_.load());
        return false;
    }
    port_ = bound;
    server_ = std::move(server);
    thread_ = std::thread([server = server_.get()] { server->listen_after_bind(); });
    // httplib ignores a stop() that comes before its accept loop runs: wait for the loop.
    for (int i = 0; i < 2000 && !server_->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (zeroconf_)
        published_ = zeroconf_->publish(name_, kQueryServiceType, port_);
    KLOG_INFO("OSC query server {} answers on TCP port {}", name_.toStdString(), bound);
    return true;
}

void QVTOSCQueryServer::stop()
{
    std::lock_guard lock(serverMutex_);
    if (!server_)
        return;
    server_->stop();
    thread_.join();
    server_.reset();
    if (zeroconf_ && published_)
        zeroconf_->withdraw(published_);
    published_ = 0;
}

void QVTOSCQueryServer::restart()
{
    std::lock_guard lock(serverMutex_);
    if (!server_)
        start();
}

bool QVTOSCQueryServer::isRunning() const
{
    std::lock_guard lock(serverMutex_);
    return server_ != nullptr;
}

void QVTOSCQueryServer::setOSCPort(int port)
{
    oscPort_ = port > 0 && port <= 65535 ? port : 0;
}

int QVTOSCQueryServer::oscPort() const
{
    const int port = oscPort_;
    return port > 0 ? port : port_.load();
}

int QVTOSCQueryServer::port() const
{
    return port_;
}

bool QVTOSCQueryServer::partsOf(const QString& address, QStringList& parts) const
{
    QString rest;
    if (root_ == "/")
        rest = address;
    else if (address == root_ || address.startsWith(root_ + '/'))
        rest = address.mid(root_.size());
    else
        return false;
    if (!rest.isEmpty() && !rest.startsWith('/'))
        return false;
    parts = rest.split('/', Qt::SkipEmptyParts);
    return true;
}

QVTOSCQueryServer::Node* QVTOSCQueryServer::find(const QStringList& parts)
{
    Node* node = &tree_;
    for (const QString& part : parts) {
        auto it = node->children.find(part);
        if (it == node->children.end())
            return nullptr;
        node = &it->second;
    }
    return node;
}

const QVTOSCQueryServer::Node* QVTOSCQueryServer::find(const QStringList& parts) const
{
    return const_cast<QVTOSCQueryServer*>(this)->find(parts);
}

void QVTOSCQueryServer::addOSCAddress(const QString& address, const QString& type,
                                      const QVariant& min, const QVariant& max,
                                      const QString& description)
{
    QStringList parts;
    if (!address.startsWith('/') || !partsOf(address, parts) || parts.isEmpty()) {
        KLOG_WARN("OSC query server {}: refused address \"{}\" (outside \"{}\")",
                  name_.toStdString(), address.toStdString(), root_.toStdString());
        return;
    }
    std::lock_guard lock(treeMutex_);
    Node* node = &tree_;
    for (const QString& part : parts)
        node = &node->children[part];
    node->registered = true;
    node->type = type;
    node->min = min;
    node->max = max;
    node->description = description;
}

void QVTOSCQueryServer::addOSCAddress(const QString& address, const QString& description)
{
    addOSCAddress(address, QString(), QVariant(), QVariant(), description);
}

void QVTOSCQueryServer::setType(const QString& type, const QString& address)
{
    QStringList parts;
    if (!partsOf(address, parts))
        return;
    std::lock_guard lock(treeMutex_);
    if (Node* node = find(parts); node && node->registered)
        node->type = type;
}

void QVTOSCQueryServer::setRangeWithMin(const QVariant& min, const QVariant& max,
                                        const QString& address)
{
    QStringList parts;
    if (!partsOf(address, parts))
        return;
    std::lock_guard lock(treeMutex_);
    if (Node* node = find(parts); node && node->registered) {
        node->min = min;
        node->max = max;
    }
}

void QVTOSCQueryServer::removeOSCAddress(const QString& address)
{
    QStringList parts;
    if (!partsOf(address, parts))
        return;
    std::lock_guard lock(treeMutex_);
    if (parts.isEmpty()) {
        tree_ = Node();
        return;
    }
    // Remove the node, then every container above it that it leaves empty and unregistered.
    for (qsizetype depth = parts.size(); depth > 0; --depth) {
        Node* parent = find(parts.mid(0, depth - 1));
        if (!parent)
            return;
        auto it = parent->children.find(parts[depth - 1]);
        if (it == parent->children.end())
            return;
        if (depth < parts.size() && (it->second.registered || !it->second.children.empty()))
            return;
        parent->children.erase(it);
    }
}

std::string QVTOSCQueryServer::jsonForPath(const QString& path) const
{
    int status = 200;
    std::string body = answer(path, std::string(), status);
    return status == 200 ? body : std::string();
}

std::string QVTOSCQueryServer::answer(const QString& path, const std::string& attribute,
                                      int& status) const
{
    std::function<json(const Node&, const QString&)> describe = [&](const Node& node,
                                                                     const QString& fullPath) {
        json j{{"FULL_PATH", fullPath.toStdString()}, {"ACCESS", node.registered ? 2 : 0}};
        if (!node.type.isEmpty())
            j["TYPE"] = node.type.toStdString();
        if (!node.description.isEmpty())
            j["DESCRIPTION"] = node.description.toStdString();
        if (!node.min.isNull() || !node.max.isNull()) {
            json range = json::object();
            if (!node.min.isNull())
                range["MIN"] = number(node.min);
            if (!node.max.isNull())
                range["MAX"] = number(node.max);
            j["RANGE"] = json::array({range});
        }
        if (!node.children.empty()) {
            json contents = json::object();
            for (const auto& [name, child] : node.children)
                contents[name.toStdString()] = describe(child, childPath(fullPath, name));
            j["CONTENTS"] = contents;
        }
        return j;
    };

    QStringList parts;
    json j;
    {
        std::lock_guard lock(treeMutex_);
        const Node* node = partsOf(path, parts) ? find(parts) : nullptr;
        if (!node) {
            status = 404;
            return {};
        }
        QString fullPath = root_;
        for (const QString& part : parts)
            fullPath = childPath(fullPath, part);
        j = describe(*node, fullPath);
    }
    if (attribute.empty()) {
        status = 200;
        return j.dump();
    }
    if (!j.contains(attribute)) {
        status = 204;
        return {};
    }
    status = 200;
    return json{{attribute, j[attribute]}}.dump();
}

std::string QVTOSCQueryServer::hostInfo() const
{
    const json extensions{{"ACCESS", true},      {"VALUE", false}, {"RANGE", true},
                          {"DESCRIPTION", true}, {"TYPE", true},   {"CONTENTS", true},
                          {"FULL_PATH", true},   {"LISTEN", false}};
    return json{{"NAME", name_.toStdString()},
                {"OSC_PORT", oscPort()},
                {"OSC_TRANSPORT", "UDP"},
                {"EXTENSIONS", extensions}}
        .dump();
}

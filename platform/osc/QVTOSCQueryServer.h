#pragma once
// The OSC-query server: an HTTP server that describes the program's OSC address space as JSON
// in the OSCQuery convention, so that control surfaces can discover what they may send.
//
// GET <path> answers the node at <path> (the root address answers the whole tree):
//   {"FULL_PATH": "/kavio/play", "ACCESS": 2, "TYPE": "N", "DESCRIPTION": "...",
//    "RANGE": [{"MIN": 0, "MAX": 1}], "CONTENTS": {"<child>": {...}, ...}}
// ACCESS is 2 (write-only) for registered addresses and 0 for the containers between them:
// the program receives on these addresses and keeps no value to read back, so no VALUE is
// given. GET <path>?<ATTRIBUTE> answers {"<ATTRIBUTE>": value}, or 204 when the node has no
// such attribute; GET ?HOST_INFO answers the server's name, the OSC port (the UDP port of the
// OSC input the addresses are received on, see setOSCPort) and transport "UDP", and the
// attributes supported. An unknown path answers 404.
//
// While it runs the server is published by zeroconf as "_oscjson._tcp" under its name.
// All operations are safe from any thread; the tree changes take effect for the next request.

#include "Zeroconf.h"

#include <QString>
#include <QVariant>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

class QVTOSCQueryServer {
public:
    // Starts answering at once on TCP `port` (all interfaces; 0 lets the system choose, see
    // port()). The registered addresses must lie under `rootAddress` ("/" for everything).
    // When the port cannot be opened, the failure is logged and isRunning() answers false.
    QVTOSCQueryServer(const QString& name, int port, const QString& rootAddress,
                      std::shared_ptr<Zeroconf> zeroconf = Zeroconf::system());
    virtual ~QVTOSCQueryServer();
    QVTOSCQueryServer(const QVTOSCQueryServer&) = delete;
    QVTOSCQueryServer& operator=(const QVTOSCQueryServer&) = delete;

    // Stops answering (the port is closed); the registered addresses are kept.
    void stop();
    // Answers again, on the same port, with every address still registered. Nothing when
    // already running; after a port that could not be opened, tries it again.
    void restart();
    bool isRunning() const;
    // The TCP port: the one given, or the one the system chose.
    int port() const;
    // The UDP port of the OSC input that receives the described addresses, for HOST_INFO's
    // OSC_PORT; its owner sets it whenever the input (re)opens. 0 (the start) stands for this
    // server's own port, which OSC-query clients assume when they are told none.
    void setOSCPort(int port);
    int oscPort() const;

    // Registers `address` (replacing an earlier registration of it) with an OSC type tag
    // ("N" no argument, "i", "f", "s"), a minimum and maximum (numbers; a null QVariant for
    // none) and a help text. Addresses outside the root, or not starting with "/", are refused
    // with a log entry.
    void addOSCAddress(const QString& address, const QString& type, const QVariant& min,
                       const QVariant& max, const QString& description);
    // Registers `address` with only a help text (no type, no range).
    void addOSCAddress(const QString& address, const QString& description);
    // Change an address registered earlier; nothing for an unknown address.
    void setType(const QString& type, const QString& address);
    void setRangeWithMin(const QVariant& min, const QVariant& max, const QString& address);
    // Removes the address and everything below it. Containers left empty disappear too.
    void removeOSCAddress(const QString& address);

    // The JSON answer for a path, as GET would give it (for logging and tests); empty when the
    // path is unknown.
    std::string jsonForPath(const QString& path) const;

private:
    struct Node {
        bool registered = false;
        QString type;
        QVariant min;
        QVariant max;
        QString description;
        std::map<QString, Node> children;
    };
    bool start();
    // Splits an address below the root into its parts; false when it is not under the root.
    bool partsOf(const QString& address, QStringList& parts) const;
    Node* find(const QStringList& parts);
    const Node* find(const QStringList& parts) const;
    std::string hostInfo() const;
    // The answer for a path and an optional attribute; sets the HTTP status (200, 204, 404).
    std::string answer(const QString& path, const std::string& attribute, int& status) const;

    const QString name_;
    const QString root_;
    const std::shared_ptr<Zeroconf> zeroconf_;

    mutable std::mutex treeMutex_;
    Node tree_;

    mutable std::mutex serverMutex_;  // never taken by a request handler: stop() waits for them
    std::atomic<int> port_;
    std::atomic<int> oscPort_{0};
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    Zeroconf::Token published_ = 0;
};

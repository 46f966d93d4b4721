#pragma once
// The HyperDeck-protocol server as the program uses it: the process-wide ZelmoraServer (or one
// a test gives) behind the cue list controller's and the switcher manager's interface. The
// delegate answering the server's questions is the cue list controller.

#include "Remote/KavioHyperDeckServerInterface.h"

#include <memory>

class ZelmoraDelegate;
class ZelmoraServer;

class KavioHyperDeckServer : public KavioHyperDeckServerInterface {
public:
    // The shared server (ZelmoraServer::sharedServer()).
    KavioHyperDeckServer();
    explicit KavioHyperDeckServer(ZelmoraServer& server) : server_(server) {}

    // The object that answers the server's questions; held weakly. Any thread.
    void setDelegate(std::weak_ptr<ZelmoraDelegate> delegate);
    ZelmoraServer& server() const { return server_; }

    void refreshPlaylist() override;
    bool start() override;
    void stop() override;

private:
    ZelmoraServer& server_;
};

#pragma once
// The switcher integration. So far it answers which IPv4 addresses this computer has; the
// OSC feedback target uses that to avoid sending to its own input.

#include "Remote/KavioATEMManagerInterface.h"

#include <QSet>
#include <QString>
#include <QVariantMap>

class KavioATEMManager : public KavioATEMManagerInterface {
public:
    // Interface name → {"Addresses": [IPv4 texts]}, read fresh (NetworkInterfaces); interfaces
    // without IPv4 are absent. Any thread.
    static QVariantMap allConnectedNetworks();
    // The first IPv4 address of every interface that has one. Any thread.
    static QSet<QString> localIPs();

    void setDelegate(std::weak_ptr<KavioVideoItemManager> delegate) override { delegate_ = std::move(delegate); }
    // TODO(switcher): restore the switcher settings and connect.
    void startManager() override {}
    // TODO(switcher): cut or auto-transition to the chosen input.
    void handleCueAtPauseAtEnd() override {}

private:
    std::weak_ptr<KavioVideoItemManager> delegate_;
};

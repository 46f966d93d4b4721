#pragma once
// The program's one OSC-query server: the application controller registers the global
// addresses and every cue its own in it, so control surfaces can discover them over HTTP.

#include "QVTOSCQueryServer.h"

class KavioOSCQueryServer : public QVTOSCQueryServer {
public:
    // The server named "Kavio" on TCP 51000 with the root "/", made on the first call (exactly
    // once, whichever thread calls first) and kept for the run. Any thread.
    static KavioOSCQueryServer& sharedServer();

private:
    KavioOSCQueryServer();
};

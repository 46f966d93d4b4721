#include "Remote/KavioOSCQueryServer.h"

KavioOSCQueryServer::KavioOSCQueryServer()
    : QVTOSCQueryServer(QStringLiteral("Kavio"), 51000, QStringLiteral("/"))
{
}

KavioOSCQueryServer& KavioOSCQueryServer::sharedServer()
{
    // Never destroyed: cues and the controller may still remove their addresses while the
    // process ends.
    static KavioOSCQueryServer* const server = new KavioOSCQueryServer;
    return *server;
}

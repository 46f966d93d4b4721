#include "OutputsTestMain.h"
#include "TwoScreenXvfb.h"

#include <QString>

#include <cstdlib>

// Why the two-screen server is missing; empty when it runs.
QString& twoScreenSkipReason()
{
    static QString reason;
    return reason;
}

int main(int argc, char** argv)
{
    TwoScreenXvfb server;
    return runOutputSuites(argc, argv, [&](bool listing) {
        const QString display = listing ? QString() : server.start();
        if (display.isEmpty()) {
            twoScreenSkipReason() = listing ? "listing" : server.reason();
            return false;
        }
        setenv("DISPLAY", display.toUtf8().constData(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        return true;
    });
}

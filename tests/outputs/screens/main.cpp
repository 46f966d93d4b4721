#include "GpuTestDevice.h"
#include "TwoScreenXvfb.h"

#include "Support/KavioAlert.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

std::shared_ptr<GpuDevice>& GpuTestDevice::device()
{
    static std::shared_ptr<GpuDevice> device;
    return device;
}

// Why the two-screen server is missing; empty when it runs.
QString& twoScreenSkipReason()
{
    static QString reason;
    return reason;
}

int main(int argc, char** argv)
{
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    testing::InitGoogleTest(&argc, argv);
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", config.path().toUtf8().constData(), 1);
    TwoScreenXvfb server;
    const QString display = listing ? QString() : server.start();
    if (display.isEmpty()) {
        twoScreenSkipReason() = listing ? "listing" : server.reason();
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    } else {
        setenv("DISPLAY", display.toUtf8().constData(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        KavioAlert::setAnswerer([](const KavioAlertSpec&) { return KavioAlertAnswer{}; });
        if (!display.isEmpty())
            GpuTestDevice::device() = GpuDevice::createSystemDefaultDevice();
        result = RUN_ALL_TESTS();
        GpuTestDevice::device().reset();
    }
    return result;
}

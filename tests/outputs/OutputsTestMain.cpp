#include "OutputsTestMain.h"

#include "GpuTestDevice.h"

#include "Support/KavioAlert.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

std::shared_ptr<GpuDevice>& GpuTestDevice::device()
{
    static std::shared_ptr<GpuDevice> device;
    return device;
}

int runOutputSuites(int argc, char** argv, const std::function<bool(bool listing)>& display)
{
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    testing::InitGoogleTest(&argc, argv);
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", config.path().toUtf8().constData(), 1);
    const bool ownDisplay = display && display(listing);
    if (!ownDisplay && (listing || (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    KavioAlert::setAnswerer([](const KavioAlertSpec&) { return KavioAlertAnswer{}; });
    if (!listing && std::strcmp(QGuiApplication::platformName().toUtf8().constData(), "offscreen") != 0)
        GpuTestDevice::device() = GpuDevice::createSystemDefaultDevice();
    const int result = RUN_ALL_TESTS();
    GpuTestDevice::device().reset();
    return result;
}

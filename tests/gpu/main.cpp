#include "GpuTestDevice.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

std::shared_ptr<GpuDevice>& GpuTestDevice::device()
{
    static std::shared_ptr<GpuDevice> device;
    return device;
}

int main(int argc, char** argv)
{
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    testing::InitGoogleTest(&argc, argv);
    // Without a display (test discovery at build time) Qt's X platform would abort: list and
    // run on the offscreen platform instead, where rendering tests skip.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    if (!listing && std::strcmp(QGuiApplication::platformName().toUtf8().constData(), "offscreen") != 0)
        GpuTestDevice::device() = GpuDevice::createSystemDefaultDevice();
    const int result = RUN_ALL_TESTS();
    GpuTestDevice::device().reset();
    return result;
}

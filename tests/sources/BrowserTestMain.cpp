// main() of the web-page suite: a widgets application (the page window), and the run's GPU device
// when there is a display.

#include "GpuTestDevice.h"

#include <QApplication>

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
    if (!std::getenv("DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (!listing && QApplication::platformName() != QStringLiteral("offscreen"))
        GpuTestDevice::device() = GpuDevice::createSystemDefaultDevice();
    const int result = RUN_ALL_TESTS();
    GpuTestDevice::device().reset();
    return result;
}

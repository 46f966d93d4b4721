// Ends its application object while a texture of the shared GPU device is still held, as the
// program's static holders hold them, and answers 0 when the device ended with the application
// (1 when it still ran work, 2 without a device). The held texture is released during exit.

#include "Rendering/QVTMetalManager.h"

#include <QGuiApplication>

namespace {
std::shared_ptr<GpuTexture> heldPastMain;
}

int main(int argc, char** argv)
{
    {
        QGuiApplication app(argc, argv);
        const auto& device = QVTMetalManager::sharedManager().device();
        if (!device)
            return 2;
        heldPastMain = device->newTexture({GpuPixelFormat::BGRA8Unorm, 64, 64});
        if (!heldPastMain)
            return 2;
    }
    return QVTMetalManager::sharedManager().device()->runOnRenderThread([] {}) ? 1 : 0;
}

#include "GpuDisplayLink.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace GpuDisplays {

std::uint32_t displayIdForScreen(const QScreen* screen)
{
    // FNV-1a over the connector name.
    std::uint32_t hash = 2166136261u;
    for (char byte : screen->name().toUtf8()) {
        hash ^= std::uint8_t(byte);
        hash *= 16777619u;
    }
    return hash == 0 ? 1 : hash;
}

QScreen* screenForDisplayId(std::uint32_t displayId)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return nullptr;
    for (QScreen* screen : QGuiApplication::screens()) {
        if (displayIdForScreen(screen) == displayId)
            return screen;
    }
    return nullptr;
}

}  // namespace GpuDisplays

std::unique_ptr<GpuDisplayLink> GpuDisplayLink::createWithActiveDisplays(int* result)
{
    const bool haveScreens = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
                             && !QGuiApplication::screens().isEmpty();
    if (!haveScreens) {
        if (result)
            *result = NoDisplays;
        return nullptr;
    }
    if (result)
        *result = Success;
    return std::unique_ptr<GpuDisplayLink>(
        new GpuDisplayLink(GpuDisplays::displayIdForScreen(QGuiApplication::screens().first())));
}

GpuDisplayLink::GpuDisplayLink(std::uint32_t displayId)
    : displayId_(displayId)
{
}

int GpuDisplayLink::setCurrentDisplay(std::uint32_t displayId)
{
    if (!GpuDisplays::screenForDisplayId(displayId))
        return InvalidDisplay;
    displayId_ = displayId;
    return Success;
}

GpuTime GpuDisplayLink::nominalOutputVideoRefreshPeriod() const
{
    const QScreen* screen = GpuDisplays::screenForDisplayId(displayId_);
    const double hertz = screen && screen->refreshRate() > 1.0 ? screen->refreshRate() : 60.0;
    return GpuTime{1000, std::int32_t(std::lround(hertz * 1000.0)), 0};
}

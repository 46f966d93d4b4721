#include "GpuDisplayLink.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace GpuDisplays {

namespace {

// Position of the screen's virtual desktop among the desktops (an X server may run several X
// screens, each its own desktop, whose outputs can share a connector name).
int virtualDesktopIndex(const QScreen* screen)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return 0;
    QList<QScreen*> firsts;
    for (QScreen* s : QGuiApplication::screens()) {
        const auto siblings = s->virtualSiblings();
        QScreen* first = siblings.isEmpty() ? s : siblings.first();
        if (!firsts.contains(first))
            firsts.append(first);
    }
    const auto siblings = screen->virtualSiblings();
    const int index = int(firsts.indexOf(siblings.isEmpty() ? const_cast<QScreen*>(screen) : siblings.first()));
    return index < 0 ? 0 : index;
}

}  // namespace

std::uint32_t displayIdForScreen(const QScreen* screen)
{
    // FNV-1a over the connector name and the virtual desktop's index.
    std::uint32_t hash = 2166136261u;
    auto mix = [&hash](std::uint8_t byte) {
        hash ^= byte;
        hash *= 16777619u;
    };
    for (char byte : screen->name().toUtf8())
        mix(std::uint8_t(byte));
    const int desktop = virtualDesktopIndex(screen);
    if (desktop > 0) {
        mix(0);
        for (int shift = 0; shift < 32; shift += 8)
            mix(std::uint8_t(std::uint32_t(desktop) >> shift));
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

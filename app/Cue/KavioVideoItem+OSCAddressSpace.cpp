// The cue's OSC address space: its 63 addresses in the query server, the row toggles'
// addresses, and the cue's observation of the OSC kit's centre.

#include "Cue/KavioVideoItem.h"

#include "QVTOSCManager.h"
#include "QVTOSCQueryServer.h"

namespace {

// How a row's range is given: fixed numbers, or edges in output pixels from the render size.
enum class Range { None, Fixed, PosX, PosY, CropTop, CropBottom, CropLeft, CropRight };

struct AddressRow {
    const char* tail;
    const char* type;
    Range range;
    double min, max;
    const char* help;
    KavioRowButton& (KavioVideoItem::*button)() = nullptr;  // the row toggle reporting on it
};

using I = KavioVideoItem;

// In registration order. Some help texts are shared between rows, as clients already know them.
const AddressRow kAddressRows[] = {
    {"select", "N", Range::None, 0, 0, "Selects the Cue."},
    {"jump", "N", Range::None, 0, 0, "Jumps to the beginning of the Cue."},
    {"play", "N", Range::None, 0, 0, "Plays the Cue."},
    {"playbackSpeed", "i", Range::Fixed, 1, 1200,
     "Changes the playback speed of the Cue. Value is considered as percent, so 100% means normal speed."},
    {"opacity", "f", Range::Fixed, 0, 1, "Changes the opacity of the Cue."},
    {"brightness", "f", Range::Fixed, -1, 1, "Changes the brightness of the Cue."},
    {"contrast", "f", Range::Fixed, -1, 1, "Changes the contrast of the Cue."},
    {"hue", "f", Range::Fixed, -1, 1, "Changes the hue  of the Cue."},
    {"saturation", "f", Range::Fixed, -1, 1, "Changes the saturation of the Cue."},
    {"vibrance", "f", Range::Fixed, -1, 1, "Changes the vibrance of the Cue."},
    {"volume", "f", Range::Fixed, 0, 2, "Changes the volume of the Cue."},
    {"audioOn", "N", Range::None, 0, 0, "Turns On Audio on the Cue."},
    {"audioOff", "N", Range::None, 0, 0, "Turns Off Audio on the Cue."},
    {"toggleAudio", "N", Range::None, 0, 0, "Toggle Audio On/Off on the Cue.", &I::soundButton},
    {"fadeInOn", "N", Range::None, 0, 0, "Turns On Fade In on the Cue."},
    {"fadeInOff", "N", Range::None, 0, 0, "Turns Off Fade In on the Cue."},
    {"fadeOutOn", "N", Range::None, 0, 0, "Turns On Fade Out on the Cue."},
    {"fadeOutOff", "N", Range::None, 0, 0, "Turns Off Fade Out on the Cue."},
    {"toggleFadeIn", "N", Range::None, 0, 0, "Toggle Fade In On/Off on the Cue.", &I::fadeInButton},
    {"toggleFadeOut", "N", Range::None, 0, 0, "Toggle Fade Out On/Off on the Cue.", &I::fadeOutButton},
    {"loopOn", "N", Range::None, 0, 0, "Turns On Looping on the Cue."},
    {"loopOff", "N", Range::None, 0, 0, "Turns Off Looping on the Cue."},
    {"toggleLoop", "N", Range::None, 0, 0, "Toggle Looping On/Off on the Cue.", &I::loopButton},
    {"gotoOn", "N", Range::None, 0, 0, "Turns On Goto on the Cue."},
    {"gotoOff", "N", Range::None, 0, 0, "Turns Off Goto on the Cue."},
    {"toggleGoto", "N", Range::None, 0, 0, "Toggle Goto On/Off on the Cue.", &I::gotoButton},
    {"setGotoToCueID", "s", Range::None, 0, 0, "Sets the Goto target to the specified CueID."},
    {"pauseAtBeginningOn", "N", Range::None, 0, 0, "Turns On Pause-at-Beginning feature on the Cue."},
    {"pauseAtBeginningOff", "N", Range::None, 0, 0, "Turns Off Pause-at-Beginning feature on the Cue."},
    {"togglePauseAtBeginning", "N", Range::None, 0, 0, "Toggle Pause-at-Beginning feature On/Off on the Cue.",
     &I::pauseAtBeginningButton},
    {"pauseAtEndOn", "N", Range::None, 0, 0, "Turns On Pause-at-End feature on the Cue."},
    {"pauseAtEndOff", "N", Range::None, 0, 0, "Turns Off Pause-at-End feature on the Cue."},
    // Typed "i" unlike its siblings: clients written against it send an integer.
    {"togglePauseAtEnd", "i", Range::None, 0, 0, "Toggle Pause-at-End feature On/Off on the Cue.", &I::pauseAtEndButton},
    {"transitionOn", "N", Range::None, 0, 0, "Turns On Transition feature on the Cue."},
    {"transitionOff", "N", Range::None, 0, 0, "Turns Off Transition feature on the Cue."},
    {"toggleTransition", "N", Range::None, 0, 0, "Toggle Transition feature On/Off on the Cue.",
     &I::transitionButton},
    {"scale", "f", Range::Fixed, -1, 1, "Changes the scale of the Cue geometry."},
    {"scaleH", "f", Range::Fixed, -1, 1, "Changes the horizontal scale of the Cue geometry."},
    {"scaleV", "f", Range::Fixed, -1, 1, "Changes the vertical scale of the Cue geometry."},
    {"rotate", "f", Range::Fixed, -180, 180, "Changes the rotation of the Cue geometry."},
    {"posX", "f", Range::Fixed, -1, 1, "Changes the X position of the Cue geometry."},
    {"posY", "f", Range::Fixed, -1, 1, "Changes the Y position of the Cue geometry."},
    {"cropTop", "f", Range::Fixed, 0, 1, "Changes the Crop from Top of the Cue geometry."},
    {"cropBottom", "f", Range::Fixed, 0, 1, "Changes the Crop from Bottom of the Cue geometry."},
    {"cropLeft", "f", Range::Fixed, 0, 1, "Changes the Crop from Left of the Cue geometry."},
    {"cropRight", "f", Range::Fixed, 0, 1, "Changes the Crop from Right of the Cue geometry."},
    {"opacityAsPercent", "i", Range::Fixed, 0, 100, "Changes the opacity of the Cue."},
    {"brightnessAsPercent", "i", Range::Fixed, -100, 100, "Changes the brightness of the Cue."},
    {"contrastAsPercent", "i", Range::Fixed, -100, 100, "Changes the contrast of the Cue."},
    {"hueAsDegrees", "i", Range::Fixed, -180, 180, "Changes the hue  of the Cue."},
    {"saturationAsPercent", "i", Range::Fixed, -100, 100, "Changes the saturation of the Cue."},
    {"vibranceAsPercent", "i", Range::Fixed, -100, 100, "Changes the vibrance of the Cue."},
    {"volumeAsDecibels", "f", Range::Fixed, -60, 6, "Changes the volume of the Cue."},
    {"scaleAsPercent", "i", Range::Fixed, 0, 200, "Changes the scale of the Cue geometry."},
    {"scaleHAsPercent", "i", Range::Fixed, 0, 200, "Changes the scale of the Cue geometry."},
    {"scaleVAsPercent", "i", Range::Fixed, 0, 200, "Changes the scale of the Cue geometry."},
    {"rotateAsDegrees", "i", Range::Fixed, -180, 180, "Changes the rotation of the Cue geometry."},
    {"posXAsPixels", "i", Range::PosX, 0, 0, "Changes the X position of the Cue geometry."},
    {"posYAsPixels", "i", Range::PosY, 0, 0, "Changes the Y position of the Cue geometry."},
    {"cropTopAsPixels", "i", Range::CropTop, 0, 0, "Changes the Crop from Top of the Cue geometry."},
    {"cropBottomAsPixels", "i", Range::CropBottom, 0, 0, "Changes the Crop from Bottom of the Cue geometry."},
    {"cropLeftAsPixels", "i", Range::CropLeft, 0, 0, "Changes the Crop from Left of the Cue geometry."},
    {"cropRightAsPixels", "i", Range::CropRight, 0, 0, "Changes the Crop from Right of the Cue geometry."},
};

// Min and max as the query server takes them: none, or numbers of the row's type.
std::pair<QVariant, QVariant> rangeOf(const AddressRow& row, QSize render)
{
    const int w = render.width(), h = render.height();
    const int halfW = int(w * 0.5), halfH = int(h * 0.5);
    switch (row.range) {
    case Range::None:
        return {};
    case Range::Fixed:
        if (QLatin1String(row.type) == QLatin1String("i"))
            return {int(row.min), int(row.max)};
        return {double(row.min), double(row.max)};
    case Range::PosX:
        return {-w, w};
    case Range::PosY:
        return {-h, h};
    case Range::CropTop:
        return {halfH, h};
    case Range::CropBottom:
        return {0, halfH};
    case Range::CropLeft:
        return {0, halfW};
    case Range::CropRight:
        return {halfW, w};
    }
    return {};
}

QString rootOf(const QString& identifier) { return QStringLiteral("/kavio/") + identifier; }

}  // namespace

void KavioVideoItem::buildOSCAddressSpaceForID(const QString& identifier)
{
    if (!oscAddressIdentifier_.isEmpty()) {
        if (oscAddressIdentifier_ == identifier)
            return;
        removeOSCAddressSpaceForID(oscAddressIdentifier_);
    }
    oscAddressIdentifier_ = identifier;

    const auto controller = manager();
    QVTOSCQueryServer* server = controller ? controller->oscQueryServer() : nullptr;
    const QSize render = truncatedRenderSize();
    const QString prefix = rootOf(identifier) + QLatin1Char('/');
    for (const AddressRow& row : kAddressRows) {
        const QString address = prefix + QLatin1String(row.tail);
        if (server) {
            const auto [min, max] = rangeOf(row, render);
            server->addOSCAddress(address, QLatin1String(row.type), min, max, QLatin1String(row.help));
        }
        if (row.button)
            (this->*row.button)().oscAddress = address;
    }

    if (!oscObserver_) {
        // Every name: the handler picks the cue's own addresses (both its forms) by prefix.
        oscObserver_ = QVTOSCManager::sharedManager().oscKitNotificationCenter().addObserver(
            this, QString(), nullptr, [weakSelf = weak_from_this()](const Notification& notification) {
                if (!notification.name.startsWith(QLatin1String("/kavio/")))
                    return;
                if (const auto self = weakSelf.lock())
                    self->receivedOSC(notification);
            });
    }
}

void KavioVideoItem::removeOSCAddressSpaceForID(const QString& identifier)
{
    const auto controller = manager();
    if (QVTOSCQueryServer* server = controller ? controller->oscQueryServer() : nullptr)
        server->removeOSCAddress(rootOf(identifier));
    if (oscObserver_) {
        QVTOSCManager::sharedManager().oscKitNotificationCenter().removeObserver(oscObserver_);
        oscObserver_ = 0;
    }
}

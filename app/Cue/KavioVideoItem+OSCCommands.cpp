// The cue's OSC commands: toggles, goto, transport, playback speed, and the picture, sound and
// geometry values with their percent, degree, decibel and pixel forms.

#include "Cue/KavioVideoItem.h"

#include "DispatchQueue.h"
#include "Inspector/KavioVideoItemPreferencesControllerInterface.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "Remote/KavioOSCArgument.h"

#include <QHash>

#include <algorithm>
#include <cmath>

namespace {

using Item = KavioVideoItem;
using Arg = KavioOSCArgument;

// A toggle family: its row button, the cue's operation, and whether the toggles' rules follow.
struct ToggleFamily {
    KavioRowButton& (Item::*button)();
    void (Item::*change)(bool);
    bool validates;
};

const ToggleFamily kFadeIn{&Item::fadeInButton, &Item::changeFadeInToState, false};
const ToggleFamily kFadeOut{&Item::fadeOutButton, &Item::changeFadeOutToState, false};
const ToggleFamily kAudio{&Item::soundButton, &Item::changeAudioToState, false};
const ToggleFamily kLoop{&Item::loopButton, &Item::changeLoopToState, true};
const ToggleFamily kTransition{&Item::transitionButton, &Item::changeTransitionToState, true};
const ToggleFamily kPauseAtBeginning{&Item::pauseAtBeginningButton, &Item::changePauseAtBeginningToState, true};
const ToggleFamily kPauseAtEnd{&Item::pauseAtEndButton, &Item::changePauseAtEndToState, true};

// Runs `body` on the cue in one main-queue step, while the cue lives.
template <typename Body>
void onMain(Item& item, Body body)
{
    DispatchQueue::main().async([weakItem = item.weak_from_this(), body] {
        if (const auto self = weakItem.lock())
            body(*self);
    });
}

void changeToggle(Item& item, const ToggleFamily& family, bool state)
{
    (item.*family.change)(state);
    if (family.validates)
        item.validateToggles();
}

// On / off: whatever the arguments. Toggle: an argument sets that state (narrowed to a signed
// byte, as switches take it) while the button is enabled; otherwise the state flips.
void switchFamily(Item& item, const ToggleFamily& family, bool state)
{
    onMain(item, [&family, state](Item& self) { changeToggle(self, family, state); });
}

void toggleFamily(Item& item, const ToggleFamily& family, const Arg& argument)
{
    const std::optional<long long> wanted = argument.integer();
    if (argument.isPresent() && !wanted)
        return;
    onMain(item, [&family, wanted](Item& self) {
        const KavioRowButton& button = (self.*family.button)();
        if (wanted && bool(button.enabled))
            changeToggle(self, family, static_cast<std::int8_t>(*wanted) != 0);
        else
            changeToggle(self, family, int(button.state) == 0);
    });
}

// Goto on, off or flipped, while the goto toggle is enabled.
void setGoto(Item& item, std::optional<bool> state)
{
    onMain(item, [state](Item& self) {
        if (!bool(self.gotoButton().enabled))
            return;
        self.changeGotoToState(state.value_or(int(self.gotoButton().state) == 0));
        self.validateToggles();
    });
}

void setGotoToCueID(Item& item, const Arg& argument)
{
    if (!argument.isPresent()) {
        setGoto(item, std::nullopt);
        return;
    }
    const std::optional<QString> cueID = argument.text();
    const auto controller = item.manager();
    if (!cueID || cueID->isEmpty() || !controller)
        return;
    const auto items = controller->items();
    if (!items)
        return;
    for (const auto& candidate : *items) {
        if (candidate->cueID() != *cueID)
            continue;
        if (candidate.get() == &item)
            return;
        onMain(item, [uid = candidate->uid()](Item& self) {
            self.setGotoItemUID(uid);
            self.updateTransitionOnGotoItemChangeIfNeeded();
        });
        return;
    }
}

void setPlaybackSpeed(Item& item, const Arg& argument)
{
    const auto value = argument.integer();
    if (!value)
        return;
    const std::int64_t speed = std::clamp<long long>(*value, 1, 1200);
    onMain(item, [speed](Item& self) {
        const auto controller = self.manager();
        if (!controller)
            return;
        auto* inspector = controller->itemPreferencesController();
        std::function<void()> completed;
        if (inspector && inspector->currentItem().get() == &self)
            completed = [inspector] { inspector->pullCurrentItemData(); };
        controller->handleChangeOfPlaybackSpeedOnItem(self.shared_from_this(), speed, std::move(completed));
    });
}

// --- Values ------------------------------------------------------------------------------------

// The argument in the forms the value commands read; nothing when it does not read.
std::optional<float> asFloat(const Arg& argument)
{
    const auto v = argument.number();
    return v ? std::optional<float>(float(*v)) : std::nullopt;
}

// An integer divided in double precision, then rounded to single.
std::optional<float> asFraction(const Arg& argument, double divisor, double offset = 0.0)
{
    const auto n = argument.integer();
    return n ? std::optional<float>(float(double(*n) / divisor + offset)) : std::nullopt;
}

// A gain from the network stays within 0..2 (+6 dB).
float clampedGain(float gain) { return std::clamp(gain, 0.0f, 2.0f); }

// Pixel edges (x from the left, y up from the bottom) into the cue's units; nothing while the
// render size is 0.
std::optional<float> pixelsOver(const Arg& argument, int extent)
{
    const auto n = argument.integer();
    if (!n || extent <= 0)
        return std::nullopt;
    return float(*n) / float(extent);
}

enum class CropLane { Top, Right, Bottom, Left };

std::optional<float> cropFromPixels(const Arg& argument, int extent, CropLane lane)
{
    const auto n = argument.integer();
    if (!n || extent <= 0)
        return std::nullopt;
    const double half = extent * 0.5;
    // The top and right edges count from the far side.
    if (lane == CropLane::Top || lane == CropLane::Right)
        return float(1.0 - (double(*n) - half) / half);
    return float(double(*n) / half);
}

void setCropLane(Item& item, CropLane lane, float value)
{
    KavioGeometryCrop crop = item.geometryCrop();
    switch (lane) {
    case CropLane::Top:
        crop.top = value;
        break;
    case CropLane::Right:
        crop.right = value;
        break;
    case CropLane::Bottom:
        crop.bottom = value;
        break;
    case CropLane::Left:
        KLOG_VERBOSE("val: %f", double(value));
        crop.left = value;
        break;
    }
    item.setGeometryCrop(crop);
}

void setScales(Item& item, bool linked, std::optional<float> h, std::optional<float> v)
{
    item.setGeometryScaleLink(linked);
    if (h)
        item.setGeometryScaleH(*h);
    if (v)
        item.setGeometryScaleV(*v);
}

// A value command: answers whether it changed the cue.
using ValueCommand = bool (*)(Item& item, const Arg& argument, QSize render);

template <typename Read, typename Apply>
bool applyValue(Read read, Apply apply)
{
    const std::optional<float> value = read();
    if (!value)
        return false;
    apply(*value);
    return true;
}

bool setOpacityValue(Item& item, std::optional<float> value)
{
    return applyValue([&] { return value; }, [&](float v) {
        item.setOpacityFeedbackShouldSkip(true);
        item.setOpacity(v);
    });
}

bool setBrightnessValue(Item& item, std::optional<float> value)
{
    return applyValue([&] { return value; }, [&](float v) {
        item.setBrightnessFeedbackShouldSkip(true);
        item.setBrightness(v);
    });
}

bool setVolumeValue(Item& item, std::optional<float> gain)
{
    if (!item.audioPlayer())
        return false;
    return applyValue([&] { return gain; }, [&](float v) {
        item.setVolume(clampedGain(v));
        item.volumeChanged();
    });
}

template <void (Item::*Setter)(float)>
bool setWith(Item& item, std::optional<float> value)
{
    return applyValue([&] { return value; }, [&](float v) { (item.*Setter)(v); });
}

std::optional<float> decibelsToGain(const Arg& argument)
{
    const auto d = argument.number();
    return d ? std::optional<float>(float(std::pow(10.0, *d / 20.0))) : std::nullopt;
}

std::optional<float> percentOfFloat(const Arg& argument)
{
    const auto v = asFloat(argument);
    return v ? std::optional<float>(*v / 100.0f) : std::nullopt;
}

const QHash<QString, ValueCommand>& valueCommands()
{
    static const QHash<QString, ValueCommand> commands = {
        {"opacity", [](Item& i, const Arg& a, QSize) { return setOpacityValue(i, asFloat(a)); }},
        {"opacityAsPercent", [](Item& i, const Arg& a, QSize) { return setOpacityValue(i, asFraction(a, 100)); }},
        {"brightness", [](Item& i, const Arg& a, QSize) { return setBrightnessValue(i, asFloat(a)); }},
        {"brightnessAsPercent",
         [](Item& i, const Arg& a, QSize) { return setBrightnessValue(i, asFraction(a, 100)); }},
        {"contrast", [](Item& i, const Arg& a, QSize) { return setWith<&Item::setContrast>(i, asFloat(a)); }},
        {"contrastAsPercent",
         [](Item& i, const Arg& a, QSize) { return setWith<&Item::setContrast>(i, asFraction(a, 100)); }},
        {"hue", [](Item& i, const Arg& a, QSize) { return setWith<&Item::setHue>(i, asFloat(a)); }},
        {"hueAsDegrees", [](Item& i, const Arg& a, QSize) { return setWith<&Item::setHue>(i, asFraction(a, 180)); }},
        {"saturation", [](Item& i, const Arg& a, QSize) { return setWith<&Item::setSaturation>(i, asFloat(a)); }},
        // Fractional percentages are kept here.
        {"saturationAsPercent",
         [](Item& i, const Arg& a, QSize) { return setWith<&Item::setSaturation>(i, percentOfFloat(a)); }},
        {"vibrance", [](Item& i, const Arg& a, QSize) { return setWith<&Item::setVibrance>(i, asFloat(a)); }},
        {"vibranceAsPercent",
         [](Item& i, const Arg& a, QSize) { return setWith<&Item::setVibrance>(i, asFraction(a, 100)); }},
        {"volume", [](Item& i, const Arg& a, QSize) { return setVolumeValue(i, asFloat(a)); }},
        {"volumeAsDecibels", [](Item& i, const Arg& a, QSize) { return setVolumeValue(i, decibelsToGain(a)); }},
        {"posX", [](Item& i, const Arg& a, QSize) { return setWith<&Item::setGeometryPosX>(i, asFloat(a)); }},
        {"posXAsPixels",
         [](Item& i, const Arg& a, QSize r) { return setWith<&Item::setGeometryPosX>(i, pixelsOver(a, r.width())); }},
        {"posY", [](Item& i, const Arg& a, QSize) { return setWith<&Item::setGeometryPosY>(i, asFloat(a)); }},
        {"posYAsPixels",
         [](Item& i, const Arg& a, QSize r) { return setWith<&Item::setGeometryPosY>(i, pixelsOver(a, r.height())); }},
        {"rotate", [](Item& i, const Arg& a, QSize) { return setWith<&Item::setGeometryRotate>(i, asFloat(a)); }},
        {"rotateAsDegrees",
         [](Item& i, const Arg& a, QSize) { return setWith<&Item::setGeometryRotate>(i, asFraction(a, 1)); }},
        {"scale", [](Item& i, const Arg& a, QSize) {
             const auto v = asFloat(a);
             return v && (setScales(i, true, v, v), true);
         }},
        {"scaleH", [](Item& i, const Arg& a, QSize) {
             const auto v = asFloat(a);
             return v && (setScales(i, false, v, std::nullopt), true);
         }},
        {"scaleV", [](Item& i, const Arg& a, QSize) {
             const auto v = asFloat(a);
             return v && (setScales(i, false, std::nullopt, v), true);
         }},
        {"scaleAsPercent", [](Item& i, const Arg& a, QSize) {
             const auto v = asFraction(a, 100, -1.0);
             return v && (setScales(i, true, v, v), true);
         }},
        {"scaleHAsPercent", [](Item& i, const Arg& a, QSize) {
             const auto v = asFraction(a, 100, -1.0);
             return v && (setScales(i, false, v, std::nullopt), true);
         }},
        {"scaleVAsPercent", [](Item& i, const Arg& a, QSize) {
             const auto v = asFraction(a, 100, -1.0);
             return v && (setScales(i, false, std::nullopt, v), true);
         }},
        {"cropTop", [](Item& i, const Arg& a, QSize) {
             const auto v = asFloat(a);
             return v && (setCropLane(i, CropLane::Top, *v), true);
         }},
        {"cropTopAsPixels", [](Item& i, const Arg& a, QSize r) {
             const auto v = cropFromPixels(a, r.height(), CropLane::Top);
             return v && (setCropLane(i, CropLane::Top, *v), true);
         }},
        {"cropRight", [](Item& i, const Arg& a, QSize) {
             const auto v = asFloat(a);
             return v && (setCropLane(i, CropLane::Right, *v), true);
         }},
        {"cropRightAsPixels", [](Item& i, const Arg& a, QSize r) {
             const auto v = cropFromPixels(a, r.width(), CropLane::Right);
             return v && (setCropLane(i, CropLane::Right, *v), true);
         }},
        {"cropBottom", [](Item& i, const Arg& a, QSize) {
             const auto v = asFloat(a);
             return v && (setCropLane(i, CropLane::Bottom, *v), true);
         }},
        {"cropBottomAsPixels", [](Item& i, const Arg& a, QSize r) {
             const auto v = cropFromPixels(a, r.height(), CropLane::Bottom);
             return v && (setCropLane(i, CropLane::Bottom, *v), true);
         }},
        {"cropLeft", [](Item& i, const Arg& a, QSize) {
             const auto v = asFloat(a);
             return v && (setCropLane(i, CropLane::Left, *v), true);
         }},
        {"cropLeftAsPixels", [](Item& i, const Arg& a, QSize r) {
             const auto v = cropFromPixels(a, r.width(), CropLane::Left);
             return v && (setCropLane(i, CropLane::Left, *v), true);
         }},
    };
    return commands;
}

// The other commands: toggles, goto, transport and speed.
using Command = void (*)(Item& item, const Arg& argument);

const QHash<QString, Command>& otherCommands()
{
    static const QHash<QString, Command> commands = {
        {"fadeInOn", [](Item& i, const Arg&) { switchFamily(i, kFadeIn, true); }},
        {"fadeInOff", [](Item& i, const Arg&) { switchFamily(i, kFadeIn, false); }},
        {"fadeOutOn", [](Item& i, const Arg&) { switchFamily(i, kFadeOut, true); }},
        {"fadeOutOff", [](Item& i, const Arg&) { switchFamily(i, kFadeOut, false); }},
        {"toggleFadeIn", [](Item& i, const Arg& a) { toggleFamily(i, kFadeIn, a); }},
        {"toggleFadeOut", [](Item& i, const Arg& a) { toggleFamily(i, kFadeOut, a); }},
        {"audioOn", [](Item& i, const Arg&) { switchFamily(i, kAudio, true); }},
        {"audioOff", [](Item& i, const Arg&) { switchFamily(i, kAudio, false); }},
        {"toggleAudio", [](Item& i, const Arg& a) { toggleFamily(i, kAudio, a); }},
        {"loopOn", [](Item& i, const Arg&) { switchFamily(i, kLoop, true); }},
        {"loopOff", [](Item& i, const Arg&) { switchFamily(i, kLoop, false); }},
        {"toggleLoop", [](Item& i, const Arg& a) { toggleFamily(i, kLoop, a); }},
        {"transitionOn", [](Item& i, const Arg&) { switchFamily(i, kTransition, true); }},
        {"transitionOff", [](Item& i, const Arg&) { switchFamily(i, kTransition, false); }},
        {"toggleTransition", [](Item& i, const Arg& a) { toggleFamily(i, kTransition, a); }},
        {"gotoOn", [](Item& i, const Arg&) { setGoto(i, true); }},
        {"gotoOff", [](Item& i, const Arg&) { setGoto(i, false); }},
        {"toggleGoto", [](Item& i, const Arg& a) {
             // The whole integer counts here, not a byte of it.
             const auto n = a.integer();
             if (!a.isPresent() || n)
                 setGoto(i, n ? std::optional<bool>(*n != 0) : std::nullopt);
         }},
        {"setGotoToCueID", [](Item& i, const Arg& a) { setGotoToCueID(i, a); }},
        {"pauseAtBeginningOn", [](Item& i, const Arg&) { switchFamily(i, kPauseAtBeginning, true); }},
        {"pauseAtBeginningOff", [](Item& i, const Arg&) { switchFamily(i, kPauseAtBeginning, false); }},
        {"togglePauseAtBeginning", [](Item& i, const Arg& a) { toggleFamily(i, kPauseAtBeginning, a); }},
        {"pauseAtEndOn", [](Item& i, const Arg&) { switchFamily(i, kPauseAtEnd, true); }},
        {"pauseAtEndOff", [](Item& i, const Arg&) { switchFamily(i, kPauseAtEnd, false); }},
        {"togglePauseAtEnd", [](Item& i, const Arg& a) { toggleFamily(i, kPauseAtEnd, a); }},
        {"select", [](Item& i, const Arg&) {
             onMain(i, [](Item& self) {
                 if (const auto controller = self.manager())
                     controller->selectItem(self.shared_from_this());
             });
         }},
        {"jump", [](Item& i, const Arg&) {
             if (const auto controller = i.manager())
                 controller->jumpToItem(i.shared_from_this());
         }},
        {"play", [](Item& i, const Arg&) {
             if (const auto controller = i.manager())
                 controller->jumpToAndPlayItem(i.shared_from_this());
         }},
        {"playbackSpeed", [](Item& i, const Arg& a) { setPlaybackSpeed(i, a); }},
    };
    return commands;
}

}  // namespace

bool KavioVideoItem::canHandleOSCAddress(const QString& address, const QString& command) const
{
    const QString cueID = oscCueID_.load();
    if (!cueID.isEmpty() && address == QStringLiteral("/kavio/%1/%2").arg(cueID, command))
        return true;
    return address == QStringLiteral("/kavio/%1/%2").arg(index_.load()).arg(command);
}

void KavioVideoItem::receivedOSC(const Notification& notification)
{
    // "/kavio/<cue ID or index>/<command>": every cue sees every message, so the identifier is
    // compared before anything is made of the rest.
    const QString& address = notification.name;
    constexpr qsizetype rootLength = 7;  // "/kavio/"
    const qsizetype slash = address.indexOf(QLatin1Char('/'), rootLength);
    if (!address.startsWith(QLatin1String("/kavio/")) || slash < 0)
        return;
    const QStringView identifier = QStringView(address).mid(rootLength, slash - rootLength);
    bool isIndex = false;
    const qulonglong index = identifier.toULongLong(&isIndex);
    const bool mine = (isIndex && index == index_.load() && identifier == QString::number(index)) ||
                      (!identifier.isEmpty() && identifier == oscCueID_.load());
    const QString command = address.mid(slash + 1);
    if (!mine || command.isEmpty())
        return;
    const KavioOSCArgument argument(notification.userInfo);
    if (const auto other = otherCommands().constFind(command); other != otherCommands().cend()) {
        (*other)(*this, argument);
        return;
    }
    const auto value = valueCommands().constFind(command);
    if (value == valueCommands().cend() || !argument.isPresent())
        return;
    if (!(*value)(*this, argument, truncatedRenderSize()))
        return;
    if (const auto controller = manager())
        controller->setHasUnsavedChanges(true);
    onMain(*this, [](Item& self) { self.pullInspectorIfCurrent(); });
}

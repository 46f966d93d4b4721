#include "Shell/KavioPlaylistSettingsItems.h"

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Support/KavioPopUpButtonInterface.h"

#include <QFontDatabase>

#include <initializer_list>

namespace {

struct Item {
    const char* title;
    long tag;
};

void fill(KavioPopUpButtonInterface* popup, std::initializer_list<Item> items, long selectedTag)
{
    if (!popup || popup->numberOfItems() > 0)
        return;
    for (const Item& item : items)
        popup->addItem(QString::fromUtf8(item.title), item.tag);
    popup->selectItemWithTag(selectedTag);
}

// Durations are read back from their titles as seconds; their tags are the tenths.
void fillDurations(KavioPopUpButtonInterface* popup, bool withCut, long selectedSeconds)
{
    if (!popup || popup->numberOfItems() > 0)
        return;
    if (withCut)
        popup->addItem(QStringLiteral("0 (cut)"), 0);
    popup->addItem(QStringLiteral("0.5"), 5);
    for (long seconds : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10})
        popup->addItem(QString::number(seconds), seconds * 10);
    popup->selectItemWithTag(selectedSeconds * 10);
}

}  // namespace

void addPlaylistSettingsItems(const KavioVideoItemManagerOutlets& c)
{
    // The clock's format codes; it counts both 30-frame codes as 30 whole frames a second.
    fill(c.frameratePopup, {{"24 fps", 0}, {"25 fps", 1}, {"30 fps (drop-frame code)", 2}, {"30 fps", 3}}, 3);
    // A new cue fades in 1 s and crosses into the next in 2 s.
    fillDurations(c.defaultFadeDurationPopup, true, 1);
    fillDurations(c.defaultTransitionDurationPopup, false, 2);
    fill(c.defaultTransitionPopup,
         {{"Dissolve", KavioTransitionTypeDissolve},
          {"Wipe Right", KavioTransitionTypeWipeRight},
          {"Wipe Left", KavioTransitionTypeWipeLeft},
          {"Wipe Up", KavioTransitionTypeWipeUp},
          {"Wipe Down", KavioTransitionTypeWipeDown},
          {"Ripple", KavioTransitionTypeRipple}},
         KavioTransitionTypeDissolve);
    fill(c.jumpBehaviourPopup, {{"Start the Cue Jumped To", 0}, {"Stand By on the Cue Jumped To", 1}}, 1);
    fill(c.panicBehaviourPopup, {{"Stop", 10}, {"Stop and Rewind the Cue", 20}, {"Stop and Load the Next Cue", 30}},
         10);
    fill(c.defaultCueViewStatePopup, {{"Collapsed", 0}, {"Expanded", 10}}, 10);
    fill(c.renderingDeinterlacePopup, {{"Off", 0}, {"Deinterlace Interlaced Media", 10}}, 10);
    fill(c.playbackModeOnOpen, {{"Internal Clock", 0}, {"Follow MIDI Timecode", 1}, {"Follow LTC", 2}}, 0);
    // The overlays read 11 and above as the bottom, 20 and 30 as the larger sizes and the black
    // and red boxes; anything else is the top, the smallest size and the dark grey box.
    fill(c.cueTimesOverlayPosition, {{"Top", 10}, {"Bottom", 20}}, 10);
    fill(c.cueTimesOverlaySize, {{"Small", 10}, {"Medium", 20}, {"Large", 30}}, 10);
    fill(c.cueTimesOverlayColor, {{"Dark Grey", 10}, {"Black", 20}, {"Red", 30}}, 10);
    fill(c.subtitleOverlaySize, {{"Small", 10}, {"Medium", 20}, {"Large", 30}}, 10);
    // Captions name their font: the stored default first, then every installed family.
    if (KavioPopUpButtonInterface* fonts = c.subtitleOverlayFont; fonts && fonts->numberOfItems() == 0) {
        const QString preset = QStringLiteral("Helvetica Neue");
        fonts->addItem(preset, 0);
        for (const QString& family : QFontDatabase::families())
            if (family != preset)
                fonts->addItem(family, 0);
    }
}

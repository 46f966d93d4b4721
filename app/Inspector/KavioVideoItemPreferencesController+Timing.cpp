// The timing controls: in and out points of the show's current cue (typed or taken from the
// playhead), the duration and alignment of cues without a media length, and the playback speed.
// Times are compared as rational times; every time built from seconds is at timescale 600.

#include "Inspector/KavioVideoItemPreferencesController.h"

#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioTextField.h"

#include "UndoManager.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>
#include <optional>

namespace {

constexpr long kMixedTag = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kMinimumSpeed = 1;
constexpr std::int64_t kMaximumSpeed = 1000;

MediaTime timeWithSeconds(double seconds)
{
    return MediaTime::makeWithSeconds(seconds, MediaTime::kCueTimescale);
}

}  // namespace

bool KavioVideoItemPreferencesController::secondsForTypedTimecode(const QString& text, int fps, double* seconds)
{
    static const QRegularExpression timecode(QStringLiteral("^[0-9]{1,9}(:[0-9]{1,9}){0,3}$"));
    if (fps <= 0 || !timecode.match(text).hasMatch())
        return false;
    const QStringList parts = text.split(QLatin1Char(':'));
    // From the right: frames, seconds, minutes, hours.
    const long limits[] = {fps, 60, 60, std::numeric_limits<long>::max()};
    const double weights[] = {1.0 / fps, 1.0, 60.0, 3600.0};
    double total = 0;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const long value = parts.at(parts.size() - 1 - i).toLong();
        if (value >= limits[i])
            return false;
        total += double(value) * weights[i];
    }
    if (seconds)
        *seconds = total;
    return true;
}

QString KavioVideoItemPreferencesController::smpteOfFrames(std::int64_t frames) const
{
    const auto manager = videoManager();
    return manager ? manager->masterClock()->smpteRepresentationOfFrames(std::uint64_t(std::max<std::int64_t>(frames, 0)))
                   : QStringLiteral("00:00:00:00");
}

// --- In and out points ---------------------------------------------------------------------------

namespace {

// In and out belong to the show's current cue, and only while the show stands.
bool inOutEditable(const std::shared_ptr<KavioVideoItem>& item, const KavioVideoItemManager* manager)
{
    return item && manager && item->isCurrent() && !manager->isPlaying();
}

}  // namespace

void KavioVideoItemPreferencesController::handleInOutFields()
{
    validateButtonsForInOut();
    const auto item = currentItem();
    const auto manager = videoManager();
    o_.inTimecodeField->setStringValue(smpteOfFrames(item ? item->inTimeFramesForDisplay() : 0));
    o_.outTimecodeField->setStringValue(smpteOfFrames(item ? item->outTimeFramesForDisplay() : 0));
    const bool usable = inOutEditable(item, manager.get());
    for (KavioTextField* field : {o_.inTimecodeField, o_.outTimecodeField, o_.videoDurationField}) {
        field->setEditable(usable);
        field->setEnabled(usable);
    }
}

void KavioVideoItemPreferencesController::validateButtonsForInOut()
{
    const auto item = currentItem();
    const auto manager = videoManager();
    const bool usable = inOutEditable(item, manager.get());
    o_.inTimeFromPlayheadButton->setEnabled(usable);
    o_.outTimeFromPlayheadButton->setEnabled(usable);
    if (!usable)
        return;
    const MediaTime playhead = item->absoluteCurrentCMTime();
    if (!(playhead < item->endCMTime()) || item->timeLeftSMPTE() == QStringLiteral("-00:00:00:00"))
        o_.inTimeFromPlayheadButton->setEnabled(false);
    if (!(playhead > item->inTimeAtCurrentPlaybackSpeed()))
        o_.outTimeFromPlayheadButton->setEnabled(false);
}

void KavioVideoItemPreferencesController::setInTimeOnCurrentCue()
{
    const auto item = currentItem();
    if (!item)
        return;
    undoSetInTime(MediaTime::add(item->currentCMTime(), item->inTimeAtCurrentPlaybackSpeed()), item->uid());
    item->rewind();
}

void KavioVideoItemPreferencesController::setOutTimeOnCurrentCue()
{
    const auto item = currentItem();
    const auto manager = videoManager();
    if (!item || !manager)
        return;
    const MediaTime frame = timeWithSeconds(manager->masterClock()->frameTimeOfCurrentSMPTEFormat());
    const MediaTime end = MediaTime::add(item->absoluteCurrentCMTime(), frame);
    undoSetOutTime(MediaTime::subtract(item->videoDurationCMTime(), end), item->uid());
    manager->performGotoToByMarker();
}

std::optional<double> KavioVideoItemPreferencesController::typedTimecodeSeconds(KavioTextField* field,
                                                                              const QString& shownBefore) const
{
    const auto manager = videoManager();
    const QString text = field->stringValue();
    if (!manager || !secondsForTypedTimecode(text, manager->masterClock()->framerate(), nullptr)) {
        field->setStringValue(shownBefore);
        return std::nullopt;
    }
    return manager->masterClock()->secondsForSMPTEString(text);
}

void KavioVideoItemPreferencesController::changeInTimeSMPTE()
{
    const auto item = currentItem();
    if (!item)
        return;
    if (const auto typed = typedTimecodeSeconds(o_.inTimecodeField, smpteOfFrames(item->inTimeFramesForDisplay())))
        undoSetInTime(timeWithSeconds(*typed), item->uid());
}

void KavioVideoItemPreferencesController::changeOutTimeSMPTE()
{
    const auto item = currentItem();
    if (!item)
        return;
    if (const auto typed = typedTimecodeSeconds(o_.outTimecodeField, smpteOfFrames(item->outTimeFramesForDisplay()))) {
        // An end typed past the media's end cuts nothing off rather than adding a negative trim.
        const double trim = item->videoDurationCMTime().seconds() - *typed;
        undoSetOutTime(timeWithSeconds(std::max(trim, 0.0)), item->uid());
    }
}

void KavioVideoItemPreferencesController::undoSetInTime(const MediaTime& inTime, const QString& uid)
{
    const auto item = itemWithUID(uid);
    const auto manager = videoManager();
    if (!item || !manager)
        return;
    const MediaTime old = item->inTimeAtCurrentPlaybackSpeed();
    if (inTime.isNumeric() && inTime != old) {
        if (!(inTime < item->endCMTime())) {
            o_.inTimecodeField->setStringValue(smpteOfFrames(item->inTimeFramesForDisplay()));
        } else {
            item->setInTimeAtCurrentPlaybackSpeed(inTime < MediaTime::zero() ? timeWithSeconds(0) : inTime);
            item->displayItemTimes();
            o_.inTimecodeField->setStringValue(smpteOfFrames(item->inTimeFramesForDisplay()));
            manager->handleInTimeResetOnItem(item);
            validateButtonsForInOut();
            registerInverse(QStringLiteral("Change Video In Time"),
                            [old, uid](KavioVideoItemPreferencesController& self) { self.undoSetInTime(old, uid); });
        }
    }
    giveKeyboardToCueList();
}

void KavioVideoItemPreferencesController::undoSetOutTime(const MediaTime& outTime, const QString& uid)
{
    const auto item = itemWithUID(uid);
    const auto manager = videoManager();
    if (!item || !manager)
        return;
    const MediaTime old = item->outTimeAtCurrentPlaybackSpeed();
    if (outTime.isNumeric() && outTime != old) {
        const MediaTime full = item->videoDurationCMTime();
        MediaTime trim = outTime > full ? full : outTime;
        const double inPoint = item->inTimeAtCurrentPlaybackSpeed().seconds();
        // The end stays at least one frame after the in point.
        if (!(full.seconds() - trim.seconds() > inPoint))
            trim = timeWithSeconds(full.seconds() - inPoint - manager->masterClock()->frameTimeOfCurrentSMPTEFormat());
        item->setOutTimeAtCurrentPlaybackSpeed(trim);
        item->displayItemTimes();
        o_.outTimecodeField->setStringValue(smpteOfFrames(item->outTimeFramesForDisplay()));
        manager->handleOutTimeResetOnItem(item);
        registerInverse(QStringLiteral("Change Video Out Time"),
                        [old, uid](KavioVideoItemPreferencesController& self) { self.undoSetOutTime(old, uid); });
    }
    giveKeyboardToCueList();
}

void KavioVideoItemPreferencesController::undoSetInTimeAndOutTime(const MediaTime& inTime, const MediaTime& outTime,
                                                                  const QString& uid)
{
    const auto item = itemWithUID(uid);
    const auto manager = videoManager();
    if (!item || !manager)
        return;
    const MediaTime oldIn = item->inTimeAtCurrentPlaybackSpeed();
    const MediaTime oldOut = item->outTimeAtCurrentPlaybackSpeed();
    if (inTime.isNumeric() && outTime.isNumeric() && !(inTime == oldIn && outTime == oldOut)) {
        item->setInTimeAtCurrentPlaybackSpeed(inTime);
        item->setOutTimeAtCurrentPlaybackSpeed(outTime);
        item->displayItemTimes();
        o_.inTimecodeField->setStringValue(smpteOfFrames(item->inTimeFramesForDisplay()));
        o_.outTimecodeField->setStringValue(smpteOfFrames(item->outTimeFramesForDisplay()));
        manager->handleInOutTimeResetOnItem(item);
        registerInverse(QStringLiteral("Reset Video In/Out Times"), [oldIn, oldOut, uid](KavioVideoItemPreferencesController& self) {
            self.undoSetInTimeAndOutTime(oldIn, oldOut, uid);
        });
    }
    giveKeyboardToCueList();
}

// --- Duration and alignment ----------------------------------------------------------------------

void KavioVideoItemPreferencesController::handleDurationFieldAndPopup()
{
    KavioTextField* field = o_.videoDurationField;
    KavioPopUpButton* popup = o_.autoAlignToDurationPopup;
    if (const int mixed = popup->indexOfItemWithTitle(kKavioMixedTitle); mixed >= 0)
        popup->removeItemAtIndex(mixed);
    field->setPlaceholder(QString(), placeholderattributes_.font, placeholderattributes_.color, placeholderattributes_.alignment);
    const auto manager = videoManager();
    if (!manager)
        return;
    const bool playing = manager->isPlaying();
    const auto smpteOfLength = [](const KavioVideoItem& item) {
        const auto owner = item.manager();
        const auto clock = owner ? owner->masterClock() : nullptr;
        return clock ? clock->smpteRepresentationOfTime(double(item.itemDuration())) : QStringLiteral("00:00:00:00");
    };
    const KavioVideoItemList selected = items();
    if (selected.size() == 1) {
        const auto& item = selected.front();
        if (item->mediaType() == KavioMediaTypeMovie || item->mediaType() == KavioMediaTypeAudio)
            return;
        field->setStringValue(smpteOfLength(*item));
        const bool editable = item->autoAlignToDuration() < 1;
        field->setEditable(editable);
        popup->selectItemWithTag(item->autoAlignToDuration());
        field->setEnabled(!playing && editable);
        popup->setEnabled(!playing);
        return;
    }
    if (!sourceSettingsSupportedOnSelectedItems())
        return;
    const std::int32_t align = selected.front()->autoAlignToDuration();
    bool same = true;
    for (const auto& item : selected)
        same = same && item->autoAlignToDuration() == align;
    if (same) {
        popup->selectItemWithTag(align);
    } else {
        popup->insertItem(kKavioMixedTitle, 0, kMixedTag);
        popup->setItemEnabled(0, false);
        popup->selectItemAtIndex(0);
    }
    if (popup->selectedTag() != 0) {
        showInField(field, {}, kKavioMixedTitle);
        return;
    }
    const QString first = smpteOfLength(*selected.front());
    bool equal = true;
    for (const auto& item : selected)
        equal = equal && smpteOfLength(*item) == first;
    if (equal)
        showInField(field, first);
    else
        showInField(field, {}, kKavioMixedTitle);
    field->setEditable(!playing);
    field->setEnabled(!playing);
    popup->setEnabled(!playing);
}

void KavioVideoItemPreferencesController::changeVideoDuration()
{
    const auto manager = videoManager();
    if (!manager)
        return;
    const QString text = o_.videoDurationField->stringValue();
    const auto typed = typedTimecodeSeconds(o_.videoDurationField, o_.videoDurationField->oldTitle());
    if (!typed || !(*typed > 0))
        return;
    applyToSelectedItems(QStringLiteral("Change Cue Durations"),
                         [this, &text](const QString& uid) { undoChangeVideoDuration(text, uid, true); });
    manager->handleItemsUpdatedWithScrollOption(0);
    manager->updateMarkerSettingsToCurrentItem();
    handleDurationFieldAndPopup();
}

void KavioVideoItemPreferencesController::undoChangeVideoDuration(const QString& smpte, const QString& uid, bool isBulkEdit)
{
    const auto item = itemWithUID(uid);
    const auto manager = videoManager();
    if (!item || !manager)
        return;
    markUnsaved();
    const double seconds = manager->masterClock()->secondsForSMPTEString(smpte);
    if (manager->isPlaying() || !std::isfinite(seconds) || !(seconds > 0)) {
        giveKeyboardToCueList();
        return;
    }
    const QString old = manager->masterClock()->smpteRepresentationOfTime(item->videoDuration());
    item->setDurationOfNonMovies(float(seconds));
    item->setCachedGoodDurationWhenMissing(-1);
    if (!isBulkEdit) {
        manager->handleItemsUpdatedWithScrollOption(0);
        manager->updateMarkerSettingsToCurrentItem();
        handleDurationFieldAndPopup();
    }
    registerInverse(QStringLiteral("Change Cue Duration"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeVideoDuration(old, uid, false); });
    giveKeyboardToCueList();
}

void KavioVideoItemPreferencesController::changeAutoAlignToDuration()
{
    const auto align = std::int32_t(o_.autoAlignToDurationPopup->selectedTag());
    applyToSelectedItems(QStringLiteral("Change Durations Align to Time"),
                         [this, align](const QString& uid) { undoChangeAutoAlignToDuration(align, uid); });
}

void KavioVideoItemPreferencesController::undoChangeAutoAlignToDuration(std::int32_t align, const QString& uid)
{
    const auto item = itemWithUID(uid);
    const auto manager = videoManager();
    if (!item || !manager)
        return;
    markUnsaved();
    if (manager->isPlaying()) {
        o_.videoDurationField->setEnabled(false);
        o_.autoAlignToDurationPopup->setEnabled(false);
    } else {
        const std::int32_t old = item->autoAlignToDuration();
        item->setAutoAlignToDuration(align);
        if (item == currentItem())
            manager->updateMarkerSettingsToCurrentItem();
        manager->handleItemsUpdatedWithScrollOption(0);
        registerInverse(QStringLiteral("Change Duration Align To Time"),
                        [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeAutoAlignToDuration(old, uid); });
    }
    handleDurationFieldAndPopup();
}

// --- Playback speed ------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::changePlaybackSpeed()
{
    giveKeyboardToCueList();
    const auto item = currentItem();
    if (!item)
        return;
    bool ok = false;
    const std::int64_t speed = o_.playbackSpeedField->stringValue().toLongLong(&ok);
    // Below 1 % a cue's times divide by zero; the field shows the speed again.
    if (!ok || speed < kMinimumSpeed || speed > kMaximumSpeed) {
        o_.playbackSpeedField->setIntegerValue(long(item->playbackRateAsPercent()));
        return;
    }
    if (speed == item->playbackRateAsPercent())
        return;
    applyToSelectedItems(QStringLiteral("Change Playback Speed"),
                         [this, speed](const QString& uid) { undoChangePlaybackSpeed(speed, uid); });
}

void KavioVideoItemPreferencesController::undoChangePlaybackSpeed(std::int64_t speed, const QString& uid)
{
    const auto item = itemWithUID(uid);
    const auto manager = videoManager();
    if (!item || !manager || speed < kMinimumSpeed || speed > kMaximumSpeed)
        return;
    markUnsaved();
    const std::int64_t old = item->playbackRateAsPercent();
    manager->handleChangeOfPlaybackSpeedOnItem(item, speed, {});
    registerInverse(QStringLiteral("Change Playback Speed"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangePlaybackSpeed(old, uid); });
}

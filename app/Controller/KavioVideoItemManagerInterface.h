#pragma once
// What a cue asks of the cue list controller that owns it. The controller implements this; a cue
// holds it weakly (the controller owns its cues, never the other way round), and tests give a
// recording fake. A cue without a controller (nullptr or expired) behaves as if the controller
// answered "no" and "zero" and ignored the calls.

#include "Controller/KavioVideoItemList.h"

#include <QSizeF>
#include <QString>

#include <functional>
#include <cstdint>
#include <memory>

class DispatchQueue;
class GpuTexture;
class KavioAudioOutputManagerInterface;
class KavioVideoItem;
class KavioVideoItemPreferencesControllerInterface;
class QVTClock;
class KavioVideoOutputManagerInterface;
class KavioRenderClock;
class QVTOSCQueryServer;

// Posted on the default centre by the controller when a caption setting changed; every cue with
// captions rebuilds its readers.
inline const QString kKavioSubtitleSettingsChangedNotification = QStringLiteral("KavioSubtitleSettingsChanged");

class KavioVideoItemManagerInterface {
public:
    virtual ~KavioVideoItemManagerInterface() = default;

    // True while a project's cues are being created; the cue holds back its name feedback then,
    // and keeps goto targets whose cues may not exist yet. Any thread.
    virtual bool isLoadingProject() const = 0;

    // The application controller's flag, set while it loads an older project whose preferences
    // asked every cue to pause at its end: a cue record without a pause-at-end setting then
    // takes pause at end. Main thread.
    virtual bool shouldEnablePauseAtEndBecauseOfOldProject() const = 0;

    // Passes the project's unsaved-changes flag on to the application controller (the
    // controller's delegate). Called on the thread of the cue setter that changed a value.
    virtual void setHasUnsavedChanges(bool hasUnsavedChanges) = 0;

    // The video output manager's render size in pixels, read afresh on every call. Any thread.
    virtual QSizeF renderSize() const = 0;

    // --- What a cue's context menu reads and asks (main thread; the defaults answer as an idle
    // controller without cues) -------------------------------------------------------------------
    // The cues in list order, and the selected ones (no order).
    virtual KavioVideoItemListSnapshot items() const { return {}; }
    virtual KavioVideoItemList selectedItems() const { return {}; }
    virtual bool isPlaying() const { return false; }
    virtual bool isTranscoding() const { return false; }
    // Whether the clipboard holds cues to paste.
    virtual bool canPaste() const { return false; }
    // Transcodes the selected cues to ProRes (10) or Hap (20).
    virtual void transcodeSelectedCuesToCodec(int /*codec*/) {}
    // Shows each selected file-based cue's media in the desktop's file manager.
    virtual void showInFinderAllSelected() {}
    // The list actions of a cue's context menu, on the selected cues.
    virtual void cutSelectedItems() {}
    virtual void copySelectedItems() {}
    virtual void pasteSelectedItems() {}
    virtual void duplicateSelectedItems() {}
    virtual bool removeSelectedItems() { return false; }
    // Clones `item` into a seamless loop.
    virtual void makeSeamlessLoopOfItem(const std::shared_ptr<KavioVideoItem>& /*item*/) {}

    // The first cue of the list whose uid equals `uid`, or nullptr. Any thread: the clock thread
    // resolves goto targets through it.
    virtual std::shared_ptr<KavioVideoItem> itemWithUID(const QString& uid) const = 0;

    // Seconds of an SMPTE text on the master clock's timecode line. Any thread.
    virtual double secondsForSMPTEString(const QString& smpte) const = 0;

    // Selects the cue whose cue ID, or else whose index in decimal, is `cueID` and scrolls the
    // list to it. Main thread.
    virtual void selectAndScrollToItemAtCueID(const QString& cueID) = 0;

    // Cue loading, media facts and timing
    // The master clock through which cues convert seconds and SMPTE texts; nullptr before the
    // controller made it. Any thread.
    virtual std::shared_ptr<QVTClock> masterClock() const = 0;
    // Seconds a still or live cue lasts when it is made (the playlist default). Any thread.
    virtual double defaultNonMovieCueDuration() const = 0;
    // The output manager's setting, fixed for the process: pictures in half-float RGBA. Any thread.
    virtual bool useHighBitDepthRendering() const = 0;
    // Non-zero makes an interlaced cue's layer renderer deinterlace. Any thread.
    virtual long deinterlaceMode() const = 0;
    // The current cue, or nullptr. Any thread.
    virtual std::shared_ptr<KavioVideoItem> currentItem() const = 0;
    // Stops playback through the application controller; `handler` (may be empty) runs once
    // stopped. Main thread.
    virtual void stopPlaybackWithCompletedHandler(std::function<void()> handler) = 0;
    // The cue inspector; nullptr when there is none. Main thread.
    virtual KavioVideoItemPreferencesControllerInterface* itemPreferencesController() const = 0;
    // Asks the operator for a new media file and gives it to `item`, keeping its settings.
    // Main thread.
    virtual void replaceItem(const std::shared_ptr<KavioVideoItem>& item) = 0;
    // --- The preview's frame step (render thread; isLoadingProject above also stops it) ------
    // The defaults answer as a controller without cues would.
    // Composes the frame at the render clock's time into the frame's command buffer.
    virtual void createCurrentTextureAtTime(double /*time*/) {}
    // The composed picture of this frame, or nullptr.
    virtual std::shared_ptr<GpuTexture> textureName() const { return nullptr; }
    // True while a jump is processed: the outputs encode no new pass.
    virtual bool shouldSkipRenderingBecauseOfProcessingJump() const { return false; }
    // Playback starts once the start time is set (a jump or a go is on its way). Any thread.
    virtual bool shouldStartPlaybackAfterStartTimeHasBeenSet() const { return false; }
    // The audio crossfades between two cues (the streamers mix). Any thread.
    virtual bool isMixing() const { return false; }
    // The preview's overlay of that size (pixels) with the given frames-per-second text, or
    // nullptr (no current cue, zero size).
    virtual std::shared_ptr<GpuTexture> overlayPreviewTextureForSize(QSizeF /*size*/, bool /*useAbsoluteSize*/,
                                                                     const QString& /*fps*/)
    {
        return nullptr;
    }
    // The video output manager, or nullptr.
    virtual std::shared_ptr<KavioVideoOutputManagerInterface> videoOutputManager() const { return nullptr; }
    // The render clock's renderingFPS.
    virtual std::int32_t renderingFPS() const { return 0; }
    // --- Cue position, preroll and start (the defaults answer as a standalone controller at
    // rest would) -------------------------------------------------------------------------------
    // 0 standalone, 1 following MIDI timecode, 2 following LTC. Any thread.
    virtual std::int64_t playbackMode() const { return 0; }
    // True while the operator drags the playhead marker. Any thread.
    virtual bool isPlayheadMarkerDragging() const { return false; }
    // True while a cue-to-cue transition run by the controller is in progress. Any thread.
    virtual bool isProcessingGlobalTransition() const { return false; }
    // A cue's position jumped or it was rewound and its buffers are filled again: a stopped
    // show realigns the clock on the current cue. Any thread.
    virtual void timeJumpedOnItem(const std::shared_ptr<KavioVideoItem>& /*item*/) {}
    // --- The video outputs' frame pass and safe changes -----------------------------------------
    // The render clock, or nullptr before the controller made it. Any thread.
    virtual std::shared_ptr<KavioRenderClock> renderClock() const { return nullptr; }
    // The outputs' overlay of that size (pixels) with the current cue's times and caption as
    // asked, or nullptr (no current cue, nothing asked, zero size). Rendering thread.
    virtual std::shared_ptr<GpuTexture> overlayOutputTextureForSize(QSizeF /*size*/, bool /*useAbsoluteSize*/,
                                                                    bool /*renderTime*/, bool /*renderCaption*/)
    {
        return nullptr;
    }
    // Whether the current cue shows captions. Rendering thread.
    virtual bool currentItemHasCaption() const { return false; }
    // --- Cue transitions, playback toggles and frames ---------------------------------------------
    // Recomputes the start times of the cues after `item`, whose transition changed. Any thread.
    virtual void rebuildItemTimesByTransitioningItem(const std::shared_ptr<KavioVideoItem>& /*item*/) {}
    // `item`'s transition length changed: the line's times and the timeline marker follow.
    virtual void handleTransitionTimeChangeOnItem(const std::shared_ptr<KavioVideoItem>& /*item*/) {}
    // `item`'s loop went on or off: the times after it follow.
    virtual void loopingTurnedOnOnItem(const std::shared_ptr<KavioVideoItem>& /*item*/) {}
    virtual void loopingTurnedOffOnItem(const std::shared_ptr<KavioVideoItem>& /*item*/) {}
    // For every selected cue, the per-cue toggle operation of `code` (KavioToggleCode) with
    // `state`, then that cue's validateToggles(); other codes only validate. Main thread.
    virtual void cueToggleChangedOnSelectedItems(int /*code*/, bool /*state*/) {}
    // Makes `item` the only selected cue. Main thread.
    virtual void selectItem(const std::shared_ptr<KavioVideoItem>& /*item*/) {}
    // --- Remote control of one cue (any thread: the controller moves its own work) -------------
    // Loads `item` as the current cue; jumpToAndPlayItem also plays it.
    virtual void jumpToItem(const std::shared_ptr<KavioVideoItem>& /*item*/, bool /*isRewind*/ = false) {}
    virtual void jumpToAndPlayItem(const std::shared_ptr<KavioVideoItem>& /*item*/) {}
    // Gives `item` the playback speed in percent; `completed` (may be empty) runs once applied.
    virtual void handleChangeOfPlaybackSpeedOnItem(const std::shared_ptr<KavioVideoItem>& /*item*/,
                                                   std::int64_t /*speed*/, std::function<void()> /*completed*/)
    {
    }
    // The master fader's value, multiplied into every layer's opacity. Any thread.
    virtual float masterSliderValue() const { return 1.0f; }
    // The OSC-query server the cues advertise their addresses on; nullptr for none. Any thread.
    virtual QVTOSCQueryServer* oscQueryServer() const { return nullptr; }
    // --- Cue audio (the defaults answer as a controller without audio output) ------------------
    // The audio output manager, or nullptr. Any thread.
    virtual std::shared_ptr<KavioAudioOutputManagerInterface> audioOutputManager() const { return nullptr; }
    // The waveform manager's serial queue, on which cues analyse their audio; nullptr for none.
    virtual DispatchQueue* waveformQueue() const { return nullptr; }
    // The playlist's default sound toggle is on: a cue's sound starts switched on. Main thread.
    virtual bool defaultToggleAudioIsOn() const { return false; }
    // Transcodes `item`'s audio to the file at `path`, then calls its replaceAudioWithFileURL;
    // normalises every selected cue (normalizeAudioVolume).
    virtual void transcodeAudioOfItem(const std::shared_ptr<KavioVideoItem>& /*item*/, const QString& /*path*/) {}
    virtual void normalizeAudioOnSelectedItems() {}
};

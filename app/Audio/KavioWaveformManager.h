#pragma once
// Keeps the main window's waveform strip in step with the current cue: its waveform image, its
// warning texts, the marked in/out range, and a busy indicator that runs while any cue builds a
// waveform. Owns the serial queue on which cues analyse their audio.
//
// Threads: main thread, except the notifications it follows: the start and end of waveform jobs
// (posted on the waveform queue) and the refresh and playback-state requests, which may arrive
// on any thread and are handled on the main queue.
//
// Ownership: one, made with the main window; the controller holds it weakly through
// KavioWaveformManagerInterface. The view and the indicator are weak outlets.

#include "Audio/KavioWaveformManagerInterface.h"

#include <QString>

#include <cstdint>
#include <memory>

class QImage;

// What the manager asks of the waveform strip.
class KavioWaveformViewInterface {
public:
    virtual ~KavioWaveformViewInterface() = default;
    virtual bool isHidden() const = 0;
    virtual void setDisplayMin(float min) = 0;
    virtual void setDisplayMax(float max) = 0;
    virtual void setIsBuilding(bool building) = 0;
    virtual void setImage(std::shared_ptr<const QImage> image) = 0;
    virtual void setChannels(int channels) = 0;
    virtual void setShowsWarning(bool shows) = 0;
    virtual void setWarningText(const QString& text) = 0;
    // 0 a fault of the file, 10 a live source's paused sound.
    virtual void setWarningType(int type) = 0;
    virtual void redraw() = 0;
};

// A spinning indicator.
class KavioWaveformProgressInterface {
public:
    virtual ~KavioWaveformProgressInterface() = default;
    virtual void startAnimation() = 0;
    virtual void stopAnimation() = 0;
};

namespace KavioWaveformNotification {
inline const QString DidStart = QStringLiteral("KavioWaveformGeneratingDidStartNotification");
inline const QString DidEnd = QStringLiteral("KavioWaveformGeneratingDidEndNotification");
inline const QString PlaybackStateChanged = QStringLiteral("KavioHandlePlaybackStateChangeOnWaveform");
}  // namespace KavioWaveformNotification

class KavioWaveformManager : public KavioWaveformManagerInterface,
                             public std::enable_shared_from_this<KavioWaveformManager> {
public:
    static inline const QString kUnreadableText = QStringLiteral("This file is unreadable \n or went offline.");
    static inline const QString kBadSectionsText = QStringLiteral("This file has bad sections. \nPlayback is unstable.");
    static inline const QString kPausedLiveText =
        QStringLiteral("No audio while paused. \nStart playback to play audio.");
    static constexpr int kWarningFile = 0;
    static constexpr int kWarningPausedLive = 10;

    KavioWaveformManager();
    ~KavioWaveformManager() override;
    KavioWaveformManager(const KavioWaveformManager&) = delete;
    KavioWaveformManager& operator=(const KavioWaveformManager&) = delete;

    // Starts following the waveform notifications (once, after the manager is owned).
    void awakeFromNib();

    void setProgressIndicator(std::weak_ptr<KavioWaveformProgressInterface> indicator) { progressIndicator_ = std::move(indicator); }
    void setWaveformView(std::weak_ptr<KavioWaveformViewInterface> view) { waveformView_ = std::move(view); }
    std::shared_ptr<KavioVideoItem> currentItem() const { return currentItem_.lock(); }

    // KavioWaveformManagerInterface.
    void setCurrentItem(const std::shared_ptr<KavioVideoItem>& item) override { currentItem_ = item; }
    DispatchQueue& waveformQueue() override { return *waveformQeue_; }
    // Unless the view is hidden: the shown range, then a redraw.
    void redrawMinMaxOnWaveformWithMin(double min, double max) override;
    // The current cue's image, building state, channel count and warning.
    void refreshWaveformView() override;

    // Not building, no image, no warning, one channel (the cue list was cleared).
    void resetWaveformView();
    // An NDI cue's paused sound is announced; other cues change nothing.
    void handlePlaybackStateChange();
    // Waveforms being built; the indicator spins while above 0. Any thread: the count changes
    // on the main queue.
    void increaseCount();
    void decreaseCount();
    int64_t waveformsInProgress() const { return waveformsinprogress_; }

private:
    int64_t waveformsinprogress_ = 0;
    std::unique_ptr<DispatchQueue> waveformQeue_;
    std::weak_ptr<KavioWaveformProgressInterface> progressIndicator_;
    std::weak_ptr<KavioWaveformViewInterface> waveformView_;
    std::weak_ptr<KavioVideoItem> currentItem_;
};

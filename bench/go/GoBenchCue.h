#pragma once
// The GO benchmarks' cue: a fixed number of frames laid on the clock as the cue's timing lays
// it, whatever its media type.

#include "Clock/QVTClock.h"
#include "Cue/KavioVideoItem.h"

#include <memory>

class FixedFramesBenchCue : public KavioVideoItem {
public:
    FixedFramesBenchCue(std::shared_ptr<QVTClock> clock, int number, int frames)
        : KavioVideoItem([](const QVTOSCMessage&) {}), clock_(std::move(clock)), frames_(frames)
    {
        setUid(QStringLiteral("uid-%1").arg(number));
    }
    void setupSMPTEStartAndEndTimes() override
    {
        setOriginalItemStartSMPTETime(clock_->smpteRepresentationOfFrames(0));
        setupSMPTEEndTimeWithStartFrames(0);
    }
    void setupSMPTEEndTimeWithStartFrames(std::int64_t start) override
    {
        const int fps = clock_->framerate();
        setItemStartSMPTETime(clock_->smpteRepresentationOfFrames(std::uint64_t(start)));
        setItemStartCMTime(MediaTime::makeWithSeconds(double(start) / fps, MediaTime::kCueTimescale));
        setItemDuration(float(frames_) / float(fps));
        setItemEndSMPTETime(clock_->smpteRepresentationOfFrames(std::uint64_t(start + frames_ - 1)));
    }

protected:
    std::shared_ptr<QVTClock> clock_;
    int frames_;
};

#pragma once
// What the cue list controller asks of the waveform view controller. The waveform manager
// implements it; tests give a recording fake.

#include <memory>

class DispatchQueue;
class KavioVideoItem;

class KavioWaveformManagerInterface {
public:
    virtual ~KavioWaveformManagerInterface() = default;

    // --- Cue list controller ------------------------------------------------------------------
    // Shows the waveform of this cue (nullptr: none). Main thread.
    virtual void setCurrentItem(const std::shared_ptr<KavioVideoItem>& item) = 0;
    // The serial queue on which cues build their waveforms; lives as long as the manager.
    virtual DispatchQueue& waveformQueue() = 0;
    // Redraws the waveform between two x positions of the position bar. Main thread.
    virtual void redrawMinMaxOnWaveformWithMin(double min, double max) = 0;
    // The view draws a cue-to-cue crossover instead of the current cue's waveform. Main thread.
    virtual void setDrawsMixing(bool /*mixing*/) {}
    // Redraws the current cue's waveform (or its warning). Main thread.
    virtual void refreshWaveformView() {}
};

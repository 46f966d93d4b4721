#pragma once
// Records what a PulseAudio sink of the test server plays, from its monitor, as raw 32-bit
// float frames without remixing or remapping (parec in the background).

#include <cstdint>
#include <string>
#include <vector>

class PulseRecorder {
public:
    PulseRecorder(const std::string& sink, int channels);
    ~PulseRecorder();
    // Starts parec and waits for its first frames; false when it cannot be started or nothing
    // arrives in 5 s.
    bool start();
    // Stops it and answers the frames recorded, interleaved.
    std::vector<float> stop();
    int channels() const { return channels_; }

private:
    std::string sink_;
    int channels_;
    std::string file_;
    int pid_ = 0;
};

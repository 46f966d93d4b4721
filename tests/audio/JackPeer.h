#pragma once
// A client of the test process's JACK server standing for a device: eight input ports whose last
// samples it keeps and, while recording, whose frames it passes through a ring (interleaved, as
// they arrived); one output port playing a ramp (sample n = (n mod 1000) / 1000).

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

class JackPeer {
public:
    static constexpr int kInputs = 8;
    static constexpr size_t kRecordSeconds = 4;

    explicit JackPeer(const std::string& name = "peer") {
        jack_status_t status{};
        client_ = jack_client_open(name.c_str(), JackNoStartServer, &status);
        if (!client_) return;
        ring_ = jack_ringbuffer_create(kRecordSeconds * jack_get_sample_rate(client_) * sizeof(float[kInputs]));
        for (int c = 0; c < kInputs; ++c)
            in_[c] = jack_port_register(client_, ("in_" + std::to_string(c + 1)).c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                        JackPortIsInput, 0);
        out_ = jack_port_register(client_, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client_, &JackPeer::process, this);
        jack_activate(client_);
    }
    ~JackPeer() {
        if (!client_) return;
        jack_deactivate(client_);
        jack_client_close(client_);
        jack_ringbuffer_free(ring_);
    }
    JackPeer(const JackPeer&) = delete;
    JackPeer& operator=(const JackPeer&) = delete;

    bool ok() const { return client_ && out_; }
    // The last sample each input port received.
    float lastIn(int c) const { return last_[c].load(); }

    // Up to kRecordSeconds of what the input ports receive from the next cycle on.
    void startRecording() {
        jack_ringbuffer_reset(ring_);
        recording_ = true;
    }
    // Stops recording (after the current cycle) and answers the frames, interleaved.
    std::vector<float> stopRecording() {
        recording_ = false;
        // A cycle that saw the flag still set has ended once two more began.
        const uint64_t after = cycles_.load() + 2;
        for (int i = 0; i < 1000 && cycles_.load() < after; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::vector<float> samples(jack_ringbuffer_read_space(ring_) / sizeof(float));
        jack_ringbuffer_read(ring_, reinterpret_cast<char*>(samples.data()), samples.size() * sizeof(float));
        return samples;
    }

private:
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<JackPeer*>(arg);
        self->cycles_.fetch_add(1);
        const float* in[kInputs];
        for (int c = 0; c < kInputs; ++c) {
            in[c] = static_cast<const float*>(jack_port_get_buffer(self->in_[c], frames));
            self->last_[c].store(in[c][frames - 1]);
        }
        if (self->recording_.load() && jack_ringbuffer_write_space(self->ring_) >= frames * sizeof(float[kInputs]))
            for (jack_nframes_t f = 0; f < frames; ++f) {
                float frame[kInputs];
                for (int c = 0; c < kInputs; ++c) frame[c] = in[c][f];
                jack_ringbuffer_write(self->ring_, reinterpret_cast<const char*>(frame), sizeof frame);
            }
        float* out = static_cast<float*>(jack_port_get_buffer(self->out_, frames));
        for (jack_nframes_t f = 0; f < frames; ++f) out[f] = float(self->ramp_++ % 1000) / 1000.0f;
        return 0;
    }
    jack_client_t* client_ = nullptr;
    jack_ringbuffer_t* ring_ = nullptr;
    jack_port_t* in_[kInputs] = {};
    jack_port_t* out_ = nullptr;
    std::atomic<float> last_[kInputs] = {};
    std::atomic<bool> recording_{false};
    std::atomic<uint64_t> cycles_{0};
    uint64_t ramp_ = 0;
};

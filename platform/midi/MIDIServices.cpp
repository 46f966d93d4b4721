#include "MIDIServices.h"

#include "AlsaMidiBackend.h"
#include "InProcessMidiBackend.h"
#include "JackMidiBackend.h"

#include "DispatchQueue.h"
#include "Log.h"

#include <atomic>
#include <ctime>

MidiTimeStamp midiHostTime() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return MidiTimeStamp(now.tv_sec) * 1000000000ull + MidiTimeStamp(now.tv_nsec);
}

struct MidiBackend::NotifyState {
    // Recursive: held while the notify proc runs, which may reach the backend again.
    std::recursive_mutex mutex;
    MidiNotifyProc proc = nullptr;
    void* refCon = nullptr;
    // Lock-free, so a backend's own callback threads never wait on the main thread.
    std::atomic<bool> pending{false};
};

MidiBackend::~MidiBackend() = default;

MidiStatus MidiBackend::clientCreate(const std::string& name, MidiNotifyProc notifyProc, void* refCon,
                                     MidiClientRef* outClient) {
    MidiStatus status = openClient(name, outClient);
    if (status != kMidiNoError) return status;
    auto state = std::make_shared<NotifyState>();
    state->proc = notifyProc;
    state->refCon = refCon;
    std::lock_guard lock(notifyGuard_);
    notify_ = state;
    return kMidiNoError;
}

std::shared_ptr<MidiBackend::NotifyState> MidiBackend::notifyState() const {
    std::lock_guard lock(notifyGuard_);
    return notify_;
}

MidiStatus MidiBackend::clientDispose(MidiClientRef client) {
    if (auto state = notifyState()) {
        std::lock_guard lock(state->mutex);
        state->proc = nullptr;
    }
    closeClient(client);
    return kMidiNoError;
}

void MidiBackend::announceSetupChanged() {
    auto state = notifyState();
    if (!state) return;
    if (state->pending.exchange(true)) return;
    DispatchQueue::main().async([weak = std::weak_ptr<NotifyState>(state)] {
        auto state = weak.lock();
        if (!state) return;
        std::lock_guard lock(state->mutex);
        state->pending = false;
        if (state->proc) state->proc(MidiNotification{kMidiMsgSetupChanged}, state->refCon);
    });
}

std::shared_ptr<MidiBackend> MidiBackend::chooseDefault() {
    if (alsaSequencerAvailable()) {
        KLOG_INFO("MIDI through the ALSA sequencer");
        return makeAlsaMidiBackend();
    }
    if (jackServerRunning()) {
        KLOG_INFO("MIDI through JACK");
        return makeJackMidiBackend();
    }
    KLOG_WARN("no ALSA sequencer and no JACK server: MIDI runs without sources or destinations");
    return std::make_shared<InProcessMidiBackend>();
}

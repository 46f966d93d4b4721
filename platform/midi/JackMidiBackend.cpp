#include "JackMidiBackend.h"

#include "Log.h"

#include <jack/jack.h>
#include <jack/metadata.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <semaphore.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <set>
#include <thread>

namespace {

constexpr size_t kInputRingBytes = 1 << 18;
constexpr size_t kOutputRingBytes = 1 << 16;

// JACK has no hidden ports: every client lists every port. The input and output ports a copy of
// the program opens for its own connections (as opposed to its destination, which others are
// meant to find) carry this property, and every copy leaves ports carrying it out of its lists,
// so two copies on one server never offer or connect to each other's private ports.
constexpr const char* kPrivatePortKey = "urn:kavio:jack:private-port";

// Ring records: a header, then `length` bytes of MIDI.
struct InputRecord {
    MidiObjectRef port = 0;
    std::uint32_t length = 0;
    MidiTimeStamp timeStamp = 0;
};
struct OutputRecord {
    jack_time_t dueUsecs = 0;  // 0: at once
    std::uint32_t length = 0;
};

void quiet(const char* message) { KLOG_DEBUG("jack: {}", message); }

void silenceJackOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(quiet);
        jack_set_info_function(quiet);
    });
}

class JackMidiBackend final : public MidiBackend {
public:
    ~JackMidiBackend() override { closeClient(client_); }

    std::string name() const override { return "JACK"; }

    MidiStatus inputPortCreate(MidiClientRef client, const std::string& name, MidiReadProc readProc, void* refCon,
                               MidiPortRef* outPort) override {
        return registerPort(client, name, true, false, readProc, refCon, outPort);
    }
    MidiStatus outputPortCreate(MidiClientRef client, const std::string& name, MidiPortRef* outPort) override {
        return registerPort(client, name, false, false, nullptr, nullptr, outPort);
    }
    MidiStatus destinationCreate(MidiClientRef client, const std::string& name, MidiReadProc readProc, void* refCon,
                                 MidiEndpointRef* outDestination) override {
        return registerPort(client, name, true, true, readProc, refCon, outDestination);
    }
    MidiStatus portDispose(MidiPortRef port) override { return unregisterPort(port, false); }
    MidiStatus endpointDispose(MidiEndpointRef endpoint) override { return unregisterPort(endpoint, true); }

    MidiStatus portConnectSource(MidiPortRef port, MidiEndpointRef source, void* connRefCon) override {
        std::lock_guard lock(mutex_);
        auto own = ports_.find(port);
        auto other = endpointNames_.find(source);
        if (!live() || own == ports_.end() || !own->second.isInput || other == endpointNames_.end())
            return -ENOENT;
        int result = jack_connect(jack_, other->second.c_str(), jack_port_name(own->second.port));
        if (result != 0 && result != EEXIST) return -std::abs(result);
        own->second.connections[source] = connRefCon;
        return kMidiNoError;
    }

    MidiStatus portDisconnectSource(MidiPortRef port, MidiEndpointRef source) override {
        std::lock_guard lock(mutex_);
        auto own = ports_.find(port);
        if (own == ports_.end() || !own->second.connections.erase(source)) return -ENOENT;
        auto other = endpointNames_.find(source);
        if (live() && other != endpointNames_.end())
            jack_disconnect(jack_, other->second.c_str(), jack_port_name(own->second.port));
        return kMidiNoError;
    }

    std::vector<MidiEndpointRef> sources() override { return listPorts(JackPortIsOutput); }
    std::vector<MidiEndpointRef> destinations() override { return listPorts(JackPortIsInput); }

    std::string endpointName(MidiEndpointRef endpoint) override {
        std::lock_guard lock(mutex_);
        auto own = ports_.find(endpoint);
        if (own != ports_.end()) return own->second.isDestination ? own->second.name : std::string();
        auto other = endpointNames_.find(endpoint);
        return other == endpointNames_.end() ? std::string() : other->second;
    }

    // The first alias the server keeps for the port (what a desktop's patchbay shows), else
    // its full name.
    std::string endpointDisplayName(MidiEndpointRef endpoint) override {
        std::lock_guard lock(mutex_);
        auto other = endpointNames_.find(endpoint);
        if (other == endpointNames_.end()) return std::string();
        jack_port_t* port = live() ? jack_port_by_name(jack_, other->second.c_str()) : nullptr;
        if (port) {
            const int size = jack_port_name_size();
            std::string first(size, '\0'), second(size, '\0');
            char* aliases[2] = {first.data(), second.data()};
            if (jack_port_get_aliases(port, aliases) > 0) return std::string(aliases[0]);
        }
        return other->second;
    }

    MidiStatus send(MidiPortRef port, MidiEndpointRef destination, const MidiPacketList& list) override {
        std::lock_guard lock(mutex_);
        auto own = ports_.find(port);
        auto other = endpointNames_.find(destination);
        if (!live() || own == ports_.end() || own->second.isInput || other == endpointNames_.end()) return -ENOENT;
        OwnPort& out = own->second;
        if (!out.connected.count(destination)) {
            int result = jack_connect(jack_, jack_port_name(out.port), other->second.c_str());
            if (result != 0 && result != EEXIST) return -std::abs(result);
            out.connected.insert(destination);
        }
        const MidiTimeStamp hostNow = midiHostTime();
        const jack_time_t jackNow = jack_get_time();
        for (const MidiPacket& packet : list.packets) {
            OutputRecord record;
            record.length = std::uint32_t(packet.bytes.size());
            if (packet.timeStamp > hostNow) record.dueUsecs = jackNow + (packet.timeStamp - hostNow) / 1000;
            if (jack_ringbuffer_write_space(out.ring) < sizeof record + record.length) return -ENOBUFS;
            jack_ringbuffer_write(out.ring, reinterpret_cast<const char*>(&record), sizeof record);
            jack_ringbuffer_write(out.ring, reinterpret_cast<const char*>(packet.bytes.data()), record.length);
        }
        return kMidiNoError;
    }

protected:
    MidiStatus openClient(const std::string& name, MidiClientRef* outClient) override {
        std::lock_guard lock(mutex_);
        if (jack_) return -EBUSY;
        silenceJackOnce();
        jack_status_t status{};
        jack_ = jack_client_open(name.c_str(), JackNoStartServer, &status);
        if (!jack_) {
            KLOG_WARN("cannot open a JACK client (status {:#x})", unsigned(status));
            return -ECONNREFUSED;
        }
        inputRing_ = jack_ringbuffer_create(kInputRingBytes);
        sem_init(&inputReady_, 0, 0);
        rt_.store(new RtPorts);
        jack_set_process_callback(jack_, &JackMidiBackend::process, this);
        jack_set_port_registration_callback(jack_, &JackMidiBackend::portRegistered, this);
        jack_set_port_rename_callback(jack_, &JackMidiBackend::portRenamed, this);
        jack_on_shutdown(jack_, &JackMidiBackend::serverGone, this);
        if (jack_activate(jack_) != 0) {
            KLOG_WARN("cannot activate the JACK client");
            jack_client_close(jack_);
            jack_ = nullptr;
            delete rt_.exchange(nullptr);
            jack_ringbuffer_free(inputRing_);
            sem_destroy(&inputReady_);
            return -EIO;
        }
        stopping_ = false;
        reader_ = std::thread([this] { readInput(); });
        client_ = nextRef();
        *outClient = client_;
        return kMidiNoError;
    }

    void closeClient(MidiClientRef client) override {
        {
            std::lock_guard lock(mutex_);
            if (!jack_ || client != client_) return;
            jack_deactivate(jack_);
            jack_client_close(jack_);
            jack_ = nullptr;
            client_ = 0;
        }
        stopping_ = true;
        sem_post(&inputReady_);
        if (reader_.joinable()) reader_.join();
        std::lock_guard lock(mutex_);
        for (auto& [ref, own] : ports_)
            if (own.ring) jack_ringbuffer_free(own.ring);
        ports_.clear();
        delete rt_.exchange(nullptr);
        jack_ringbuffer_free(inputRing_);
        inputRing_ = nullptr;
        sem_destroy(&inputReady_);
    }

private:
    struct OwnPort {
        jack_port_t* port = nullptr;
        std::string name;
        bool isInput = false;
        bool isDestination = false;
        MidiReadProc readProc = nullptr;
        void* refCon = nullptr;
        std::map<MidiEndpointRef, void*> connections;
        std::set<MidiEndpointRef> connected;  // destinations an output port is wired to
        jack_ringbuffer_t* ring = nullptr;    // output ports: records for the process callback
    };
    // What the process callback works on: built whole and swapped in, never changed in place.
    struct RtPorts {
        std::vector<std::pair<jack_port_t*, MidiObjectRef>> inputs;
        std::vector<std::pair<jack_port_t*, jack_ringbuffer_t*>> outputs;
    };

    bool live() const { return jack_ && !serverGone_; }
    MidiObjectRef nextRef() { return ++lastRef_; }

    MidiStatus registerPort(MidiClientRef client, const std::string& name, bool input, bool destination,
                            MidiReadProc readProc, void* refCon, MidiObjectRef* outRef) {
        std::lock_guard lock(mutex_);
        if (!live() || client != client_) return -EINVAL;
        // A port's full name ("client:port") has a size limit; long names are cut.
        const size_t room = size_t(jack_port_name_size()) - std::string(jack_get_client_name(jack_)).size() - 2;
        const std::string shortName = name.substr(0, room);
        jack_port_t* port = jack_port_register(jack_, shortName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                               input ? JackPortIsInput : JackPortIsOutput, 0);
        if (!port) return -EEXIST;
        if (!destination &&
            jack_set_property(jack_, jack_port_uuid(port), kPrivatePortKey, "yes", "text/plain") != 0)
            KLOG_WARN("jack: cannot mark the port {} as private; other programs will list it", shortName);
        OwnPort own;
        own.port = port;
        own.name = name;
        own.isInput = input;
        own.isDestination = destination;
        own.readProc = readProc;
        own.refCon = refCon;
        if (!input) own.ring = jack_ringbuffer_create(kOutputRingBytes);
        *outRef = nextRef();
        ports_.emplace(*outRef, std::move(own));
        publish();
        return kMidiNoError;
    }

    MidiStatus unregisterPort(MidiObjectRef ref, bool destination) {
        std::lock_guard lock(mutex_);
        auto own = ports_.find(ref);
        if (own == ports_.end() || own->second.isDestination != destination) return -ENOENT;
        OwnPort gone = std::move(own->second);
        ports_.erase(own);
        publish();  // the process callback no longer sees the port once this returns
        if (live()) {
            if (!gone.isDestination) jack_remove_property(jack_, jack_port_uuid(gone.port), kPrivatePortKey);
            jack_port_unregister(jack_, gone.port);
        }
        if (gone.ring) jack_ringbuffer_free(gone.ring);
        return kMidiNoError;
    }

    // Swaps in the process callback's view of our ports and waits until a cycle that might
    // still use the old view has ended. Called with mutex_ held.
    void publish() {
        auto* next = new RtPorts;
        for (auto& [ref, own] : ports_) {
            if (own.isInput)
                next->inputs.emplace_back(own.port, ref);
            else
                next->outputs.emplace_back(own.port, own.ring);
        }
        RtPorts* old = rt_.exchange(next);
        const std::uint64_t cycle = cycles_.load();
        for (int waited = 0; inCycle_.load() && cycles_.load() == cycle && !serverGone_ && waited < 1000; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        delete old;
    }

    std::vector<MidiEndpointRef> listPorts(unsigned long flags) {
        std::lock_guard lock(mutex_);
        std::vector<MidiEndpointRef> refs;
        if (!live()) return refs;
        const char** names = jack_get_ports(jack_, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
        for (const char** name = names; name && *name; ++name) {
            jack_port_t* port = jack_port_by_name(jack_, *name);
            if (!port || jack_port_is_mine(jack_, port) || isPrivate(port)) continue;
            refs.push_back(refForName(*name));
        }
        jack_free(names);
        return refs;
    }

    static bool isPrivate(const jack_port_t* port) {
        char* value = nullptr;
        char* type = nullptr;
        if (jack_get_property(jack_port_uuid(port), kPrivatePortKey, &value, &type) != 0) return false;
        jack_free(value);
        jack_free(type);
        return true;
    }

    // Other clients' ports keep one reference per full name for the life of the backend.
    MidiEndpointRef refForName(const std::string& name) {
        for (const auto& [ref, known] : endpointNames_)
            if (known == name) return ref;
        MidiEndpointRef ref = nextRef();
        endpointNames_[ref] = name;
        return ref;
    }

    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<JackMidiBackend*>(arg);
        self->inCycle_.store(true);
        if (RtPorts* ports = self->rt_.load()) {
            self->receive(*ports, frames);
            self->transmit(*ports, frames);
        }
        self->cycles_.fetch_add(1);
        self->inCycle_.store(false);
        return 0;
    }

    // Real-time: copies each incoming event with its host time into the input ring.
    void receive(const RtPorts& ports, jack_nframes_t frames) {
        const jack_nframes_t cycleStart = jack_last_frame_time(jack_);
        const MidiTimeStamp hostNow = midiHostTime();
        const jack_time_t jackNow = jack_get_time();
        bool any = false;
        for (const auto& [port, ref] : ports.inputs) {
            void* buffer = jack_port_get_buffer(port, frames);
            const std::uint32_t count = jack_midi_get_event_count(buffer);
            for (std::uint32_t i = 0; i < count; ++i) {
                jack_midi_event_t event;
                if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0) continue;
                InputRecord record;
                record.port = ref;
                record.length = std::uint32_t(event.size);
                const auto eventUsecs = std::int64_t(jack_frames_to_time(jack_, cycleStart + event.time));
                record.timeStamp = hostNow + (eventUsecs - std::int64_t(jackNow)) * 1000;
                if (jack_ringbuffer_write_space(inputRing_) < sizeof record + record.length) continue;
                jack_ringbuffer_write(inputRing_, reinterpret_cast<const char*>(&record), sizeof record);
                jack_ringbuffer_write(inputRing_, reinterpret_cast<const char*>(event.buffer), record.length);
                any = true;
            }
        }
        if (any) sem_post(&inputReady_);
    }

    // Real-time: writes every record due before the next cycle at its frame offset; later ones
    // (and those behind them, to keep the order) wait for their cycle.
    void transmit(const RtPorts& ports, jack_nframes_t frames) {
        jack_nframes_t currentFrames = 0;
        jack_time_t currentUsecs = 0, nextUsecs = 0;
        float periodUsecs = 0;
        if (jack_get_cycle_times(jack_, &currentFrames, &currentUsecs, &nextUsecs, &periodUsecs) != 0) {
            currentUsecs = jack_get_time();
            nextUsecs = currentUsecs + 1;
        }
        const jack_time_t span = nextUsecs > currentUsecs ? nextUsecs - currentUsecs : 1;
        for (const auto& [port, ring] : ports.outputs) {
            void* buffer = jack_port_get_buffer(port, frames);
            jack_midi_clear_buffer(buffer);
            jack_nframes_t lastOffset = 0;
            OutputRecord record;
            while (jack_ringbuffer_peek(ring, reinterpret_cast<char*>(&record), sizeof record) == sizeof record) {
                if (jack_ringbuffer_read_space(ring) < sizeof record + record.length) break;
                if (record.dueUsecs >= nextUsecs) break;
                jack_nframes_t offset = 0;
                if (record.dueUsecs > currentUsecs)
                    offset = jack_nframes_t((record.dueUsecs - currentUsecs) * frames / span);
                offset = std::min(std::max(offset, lastOffset), frames - 1);
                jack_midi_data_t* data = jack_midi_event_reserve(buffer, offset, record.length);
                if (!data) break;  // the port's buffer is full: the rest goes next cycle
                jack_ringbuffer_read_advance(ring, sizeof record);
                jack_ringbuffer_read(ring, reinterpret_cast<char*>(data), record.length);
                lastOffset = offset;
            }
        }
    }

    void readInput() {
        std::vector<std::uint8_t> bytes;
        for (;;) {
            while (sem_wait(&inputReady_) != 0 && errno == EINTR) {
            }
            if (stopping_) return;
            InputRecord record;
            while (jack_ringbuffer_peek(inputRing_, reinterpret_cast<char*>(&record), sizeof record) ==
                   sizeof record) {
                if (jack_ringbuffer_read_space(inputRing_) < sizeof record + record.length) break;
                jack_ringbuffer_read_advance(inputRing_, sizeof record);
                bytes.resize(record.length);
                jack_ringbuffer_read(inputRing_, reinterpret_cast<char*>(bytes.data()), record.length);
                dispatch(record.port, record.timeStamp, bytes);
            }
        }
    }

    void dispatch(MidiObjectRef ref, MidiTimeStamp timeStamp, const std::vector<std::uint8_t>& bytes) {
        std::lock_guard lock(mutex_);
        auto own = ports_.find(ref);
        if (own == ports_.end() || !own->second.readProc) return;
        const MidiPacket packet{timeStamp, bytes};
        void* connRefCon =
            own->second.connections.size() == 1 ? own->second.connections.begin()->second : nullptr;
        own->second.readProc(MidiPacketList{std::span(&packet, 1)}, own->second.refCon, connRefCon);
    }

    // JACK's notification thread: announce changes of other clients' ports, leaving out new
    // ports that are not MIDI (a port that goes away no longer tells its type reliably).
    static void portRegistered(jack_port_id_t id, int registered, void* arg) {
        auto* self = static_cast<JackMidiBackend*>(arg);
        jack_port_t* port = jack_port_by_id(self->jack_, id);
        if (port && jack_port_is_mine(self->jack_, port)) return;
        if (port && registered && std::string(jack_port_type(port)) != JACK_DEFAULT_MIDI_TYPE) return;
        self->announceSetupChanged();
    }
    static void portRenamed(jack_port_id_t id, const char*, const char*, void* arg) { portRegistered(id, 1, arg); }
    static void serverGone(void* arg) {
        auto* self = static_cast<JackMidiBackend*>(arg);
        self->serverGone_ = true;
        self->announceSetupChanged();
    }

    // Recursive: held while a read proc runs, and a read proc may reach the backend again.
    std::recursive_mutex mutex_;
    jack_client_t* jack_ = nullptr;
    MidiClientRef client_ = 0;
    MidiObjectRef lastRef_ = 0;
    std::map<MidiObjectRef, OwnPort> ports_;
    std::map<MidiEndpointRef, std::string> endpointNames_;
    std::atomic<RtPorts*> rt_{nullptr};
    std::atomic<bool> inCycle_{false};
    std::atomic<std::uint64_t> cycles_{0};
    std::atomic<bool> serverGone_{false};
    std::atomic<bool> stopping_{false};
    jack_ringbuffer_t* inputRing_ = nullptr;
    sem_t inputReady_{};
    std::thread reader_;
};

}  // namespace

bool jackServerRunning() {
    silenceJackOnce();
    jack_status_t status{};
    jack_client_t* probe = jack_client_open("kavio-probe", JackNoStartServer, &status);
    if (!probe) return false;
    jack_client_close(probe);
    return true;
}

std::shared_ptr<MidiBackend> makeJackMidiBackend() { return std::make_shared<JackMidiBackend>(); }

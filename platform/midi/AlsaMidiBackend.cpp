#include "AlsaMidiBackend.h"

#include "Log.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <thread>

namespace {

constexpr const char* kSequencerDevice = "/dev/snd/seq";
constexpr size_t kEncoderBytes = 1024;

// An endpoint reference names a sequencer address; the high bit keeps it from being 0.
MidiEndpointRef refFor(int client, int port) {
    return MidiEndpointRef(0x10000u | (unsigned(client) & 0xFF) << 8 | (unsigned(port) & 0xFF));
}
int clientOf(MidiEndpointRef ref) { return int(ref >> 8 & 0xFF); }
int portOf(MidiEndpointRef ref) { return int(ref & 0xFF); }

class AlsaMidiBackend final : public MidiBackend {
public:
    ~AlsaMidiBackend() override { closeClient(client_); }

    std::string name() const override { return "ALSA sequencer"; }

    MidiStatus inputPortCreate(MidiClientRef client, const std::string& name, MidiReadProc readProc, void* refCon,
                               MidiPortRef* outPort) override {
        return createPort(client, name, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT, false, readProc, refCon,
                          outPort);
    }
    MidiStatus outputPortCreate(MidiClientRef client, const std::string& name, MidiPortRef* outPort) override {
        return createPort(client, name, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_NO_EXPORT, false, nullptr, nullptr,
                          outPort);
    }
    MidiStatus destinationCreate(MidiClientRef client, const std::string& name, MidiReadProc readProc, void* refCon,
                                 MidiEndpointRef* outDestination) override {
        return createPort(client, name, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, true, readProc, refCon,
                          outDestination);
    }
    MidiStatus portDispose(MidiPortRef port) override { return deletePort(port, false); }
    MidiStatus endpointDispose(MidiEndpointRef endpoint) override { return deletePort(endpoint, true); }

    MidiStatus portConnectSource(MidiPortRef port, MidiEndpointRef source, void* connRefCon) override {
        std::lock_guard lock(mutex_);
        auto own = ports_.find(port);
        if (!seq_ || own == ports_.end()) return -ENOENT;
        int result = snd_seq_connect_from(seq_, portOf(port), clientOf(source), portOf(source));
        if (result < 0) return result;
        own->second.connections[source] = connRefCon;
        return kMidiNoError;
    }

    MidiStatus portDisconnectSource(MidiPortRef port, MidiEndpointRef source) override {
        std::lock_guard lock(mutex_);
        auto own = ports_.find(port);
        if (!seq_ || own == ports_.end() || !own->second.connections.erase(source)) return -ENOENT;
        snd_seq_disconnect_from(seq_, portOf(port), clientOf(source), portOf(source));
        return kMidiNoError;
    }

    std::vector<MidiEndpointRef> sources() override {
        return listPorts(SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ);
    }
    std::vector<MidiEndpointRef> destinations() override {
        return listPorts(SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    }

    // "client name:port name", which stays unique where several devices name their ports alike.
    std::string endpointName(MidiEndpointRef endpoint) override {
        std::lock_guard lock(mutex_);
        if (!seq_) return {};
        auto own = ports_.find(endpoint);
        if (own != ports_.end()) return own->second.isDestination ? own->second.name : std::string();
        snd_seq_client_info_t* clientInfo;
        snd_seq_port_info_t* portInfo;
        snd_seq_client_info_alloca(&clientInfo);
        snd_seq_port_info_alloca(&portInfo);
        if (snd_seq_get_any_client_info(seq_, clientOf(endpoint), clientInfo) < 0 ||
            snd_seq_get_any_port_info(seq_, clientOf(endpoint), portOf(endpoint), portInfo) < 0)
            return {};
        return std::string(snd_seq_client_info_get_name(clientInfo)) + ":" + snd_seq_port_info_get_name(portInfo);
    }

    // The sequencer address ("20:0"), as the system's tools show it.
    std::string endpointDisplayName(MidiEndpointRef endpoint) override {
        return std::to_string(clientOf(endpoint)) + ":" + std::to_string(portOf(endpoint));
    }

    MidiStatus send(MidiPortRef port, MidiEndpointRef destination, const MidiPacketList& list) override {
        std::lock_guard lock(mutex_);
        if (!seq_ || !ports_.count(port)) return -ENOENT;
        const MidiTimeStamp now = midiHostTime();
        for (const MidiPacket& packet : list.packets) {
            snd_midi_event_reset_encode(encoder_);
            size_t done = 0;
            while (done < packet.bytes.size()) {
                snd_seq_event_t event;
                snd_seq_ev_clear(&event);
                long used = snd_midi_event_encode(encoder_, packet.bytes.data() + done,
                                                  long(packet.bytes.size() - done), &event);
                if (used <= 0) break;
                done += size_t(used);
                if (event.type == SND_SEQ_EVENT_NONE) continue;
                snd_seq_ev_set_source(&event, portOf(port));
                snd_seq_ev_set_dest(&event, clientOf(destination), portOf(destination));
                if (packet.timeStamp > now && queue_ >= 0) {
                    const MidiTimeStamp queueTime = packet.timeStamp - queueStart_;
                    snd_seq_real_time_t due{unsigned(queueTime / 1000000000u), unsigned(queueTime % 1000000000u)};
                    snd_seq_ev_schedule_real(&event, queue_, 0, &due);
                } else {
                    snd_seq_ev_set_direct(&event);
                }
                int result = snd_seq_event_output(seq_, &event);
                if (result < 0) return result;
            }
        }
        int result = snd_seq_drain_output(seq_);
        return result < 0 ? result : kMidiNoError;
    }

protected:
    MidiStatus openClient(const std::string& name, MidiClientRef* outClient) override {
        std::lock_guard lock(mutex_);
        if (seq_) return -EBUSY;
        int result = snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
        if (result < 0) {
            seq_ = nullptr;
            return result;
        }
        snd_seq_set_client_name(seq_, name.c_str());
        ownClient_ = snd_seq_client_id(seq_);
        // A hidden port of ours hears the system's announcements of clients and ports.
        announcePort_ = snd_seq_create_simple_port(seq_, "setup listener",
                                                   SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                                   SND_SEQ_PORT_TYPE_APPLICATION);
        if (announcePort_ >= 0)
            snd_seq_connect_from(seq_, announcePort_, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
        queue_ = snd_seq_alloc_named_queue(seq_, name.c_str());
        if (queue_ >= 0) {
            snd_seq_start_queue(seq_, queue_, nullptr);
            snd_seq_drain_output(seq_);
            queueStart_ = midiHostTime();
        }
        snd_midi_event_new(kEncoderBytes, &encoder_);
        snd_midi_event_new(kEncoderBytes, &decoder_);
        snd_midi_event_no_status(decoder_, 1);
        wake_ = eventfd(0, EFD_CLOEXEC);
        stopping_ = false;
        reader_ = std::thread([this] { readInput(); });
        client_ = refFor(ownClient_, 0);
        *outClient = client_;
        return kMidiNoError;
    }

    void closeClient(MidiClientRef client) override {
        {
            std::lock_guard lock(mutex_);
            if (!seq_ || client != client_) return;
        }
        stopping_ = true;
        const std::uint64_t one = 1;
        if (write(wake_, &one, sizeof one) < 0) KLOG_WARN("cannot wake the MIDI input thread");
        if (reader_.joinable()) reader_.join();
        std::lock_guard lock(mutex_);
        ports_.clear();
        if (queue_ >= 0) snd_seq_free_queue(seq_, queue_);
        snd_seq_close(seq_);
        seq_ = nullptr;
        snd_midi_event_free(encoder_);
        snd_midi_event_free(decoder_);
        encoder_ = decoder_ = nullptr;
        close(wake_);
        wake_ = -1;
        client_ = 0;
    }

private:
    struct OwnPort {
        std::string name;
        bool isDestination = false;
        MidiReadProc readProc = nullptr;
        void* refCon = nullptr;
        std::map<MidiEndpointRef, void*> connections;
    };

    MidiStatus createPort(MidiClientRef client, const std::string& name, unsigned caps, bool destination,
                          MidiReadProc readProc, void* refCon, MidiObjectRef* outRef) {
        std::lock_guard lock(mutex_);
        if (!seq_ || client != client_) return -EINVAL;
        int port = snd_seq_create_simple_port(seq_, name.c_str(), caps,
                                              SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (port < 0) return port;
        *outRef = refFor(ownClient_, port);
        ports_[*outRef] = OwnPort{name, destination, readProc, refCon, {}};
        return kMidiNoError;
    }

    // Holding mutex_ waits out a read proc that is running, so none runs after this returns.
    MidiStatus deletePort(MidiObjectRef ref, bool destination) {
        std::lock_guard lock(mutex_);
        auto own = ports_.find(ref);
        if (!seq_ || own == ports_.end() || own->second.isDestination != destination) return -ENOENT;
        ports_.erase(own);
        int result = snd_seq_delete_simple_port(seq_, portOf(ref));
        return result < 0 ? result : kMidiNoError;
    }

    std::vector<MidiEndpointRef> listPorts(unsigned caps) {
        std::lock_guard lock(mutex_);
        std::vector<MidiEndpointRef> refs;
        if (!seq_) return refs;
        snd_seq_client_info_t* clientInfo;
        snd_seq_port_info_t* portInfo;
        snd_seq_client_info_alloca(&clientInfo);
        snd_seq_port_info_alloca(&portInfo);
        snd_seq_client_info_set_client(clientInfo, -1);
        while (snd_seq_query_next_client(seq_, clientInfo) >= 0) {
            const int client = snd_seq_client_info_get_client(clientInfo);
            if (client == SND_SEQ_CLIENT_SYSTEM || client == ownClient_) continue;
            snd_seq_port_info_set_client(portInfo, client);
            snd_seq_port_info_set_port(portInfo, -1);
            while (snd_seq_query_next_port(seq_, portInfo) >= 0) {
                const unsigned portCaps = snd_seq_port_info_get_capability(portInfo);
                if ((portCaps & caps) != caps || (portCaps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
                refs.push_back(refFor(client, snd_seq_port_info_get_port(portInfo)));
            }
        }
        return refs;
    }

    void readInput() {
        const int count = snd_seq_poll_descriptors_count(seq_, POLLIN);
        std::vector<pollfd> fds(size_t(count) + 1);
        snd_seq_poll_descriptors(seq_, fds.data(), unsigned(count), POLLIN);
        fds[size_t(count)] = pollfd{wake_, POLLIN, 0};
        while (!stopping_) {
            if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
            snd_seq_event_t* event = nullptr;
            while (!stopping_ && snd_seq_event_input(seq_, &event) >= 0 && event) handle(*event);
        }
    }

    void handle(const snd_seq_event_t& event) {
        if (event.dest.port == announcePort_) {
            if (event.source.client == SND_SEQ_CLIENT_SYSTEM && event.data.addr.client != ownClient_ &&
                event.type >= SND_SEQ_EVENT_CLIENT_START && event.type <= SND_SEQ_EVENT_PORT_CHANGE)
                announceSetupChanged();
            return;
        }
        const MidiTimeStamp now = midiHostTime();
        std::lock_guard lock(mutex_);
        auto own = ports_.find(refFor(ownClient_, event.dest.port));
        if (own == ports_.end() || !own->second.readProc) return;
        unsigned char bytes[kEncoderBytes];
        MidiPacket packet{now, {}};
        if (event.type == SND_SEQ_EVENT_SYSEX) {
            packet.bytes = {static_cast<const std::uint8_t*>(event.data.ext.ptr), event.data.ext.len};
        } else {
            snd_midi_event_reset_decode(decoder_);
            long length = snd_midi_event_decode(decoder_, bytes, sizeof bytes, &event);
            if (length <= 0) return;  // not a MIDI message (a sequencer-only event)
            packet.bytes = {bytes, size_t(length)};
        }
        auto connection = own->second.connections.find(refFor(event.source.client, event.source.port));
        void* connRefCon = connection == own->second.connections.end() ? nullptr : connection->second;
        own->second.readProc(MidiPacketList{std::span(&packet, 1)}, own->second.refCon, connRefCon);
    }

    // Recursive: held while a read proc runs, and a read proc may reach the backend again.
    std::recursive_mutex mutex_;
    snd_seq_t* seq_ = nullptr;
    int ownClient_ = -1;
    int announcePort_ = -1;
    int queue_ = -1;
    MidiTimeStamp queueStart_ = 0;
    snd_midi_event_t* encoder_ = nullptr;
    snd_midi_event_t* decoder_ = nullptr;
    MidiClientRef client_ = 0;
    std::map<MidiObjectRef, OwnPort> ports_;
    int wake_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread reader_;
};

}  // namespace

bool alsaSequencerAvailable() {
    if (access(kSequencerDevice, R_OK | W_OK) != 0) return false;
    snd_seq_t* probe = nullptr;
    if (snd_seq_open(&probe, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) return false;
    snd_seq_close(probe);
    return true;
}

std::shared_ptr<MidiBackend> makeAlsaMidiBackend() { return std::make_shared<AlsaMidiBackend>(); }

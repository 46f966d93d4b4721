#pragma once
// The second JACK client of the MIDI tests and benchmarks, the peer, that plays the other
// program: it sends on its port "out" and records what reaches "in". The server is the test
// process's own (JackTestServer).

#include "JackMidiBackend.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <cstdint>
#include <vector>

namespace JackTestPeers {

using Bytes = std::vector<std::uint8_t>;

// The other program: one output port "out" it sends on, one input port "in" it records.
class Peer {
public:
    Peer() {
        jack_status_t status{};
        client_ = jack_client_open("peer", JackNoStartServer, &status);
        if (!client_) return;
        out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        toSend_ = jack_ringbuffer_create(1 << 14);
        received_ = jack_ringbuffer_create(1 << 14);
        jack_set_process_callback(client_, &Peer::process, this);
        jack_activate(client_);
    }
    ~Peer() {
        if (!client_) return;
        jack_deactivate(client_);
        jack_client_close(client_);
        jack_ringbuffer_free(toSend_);
        jack_ringbuffer_free(received_);
    }
    bool ok() const { return client_ && out_ && in_; }
    jack_client_t* client() const { return client_; }

    void send(const Bytes& message) {
        const std::uint32_t length = std::uint32_t(message.size());
        jack_ringbuffer_write(toSend_, reinterpret_cast<const char*>(&length), sizeof length);
        jack_ringbuffer_write(toSend_, reinterpret_cast<const char*>(message.data()), length);
    }
    // Every message received so far, in order.
    std::vector<Bytes> received() {
        std::uint32_t length = 0;
        while (jack_ringbuffer_read_space(received_) >= sizeof length) {
            jack_ringbuffer_read(received_, reinterpret_cast<char*>(&length), sizeof length);
            Bytes message(length);
            jack_ringbuffer_read(received_, reinterpret_cast<char*>(message.data()), length);
            got_.push_back(message);
        }
        return got_;
    }

private:
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<Peer*>(arg);
        void* out = jack_port_get_buffer(self->out_, frames);
        jack_midi_clear_buffer(out);
        std::uint32_t length = 0;
        while (jack_ringbuffer_peek(self->toSend_, reinterpret_cast<char*>(&length), sizeof length) == sizeof length &&
               jack_ringbuffer_read_space(self->toSend_) >= sizeof length + length) {
            jack_ringbuffer_read_advance(self->toSend_, sizeof length);
            jack_midi_data_t* data = jack_midi_event_reserve(out, 0, length);
            if (!data) break;
            jack_ringbuffer_read(self->toSend_, reinterpret_cast<char*>(data), length);
        }
        void* in = jack_port_get_buffer(self->in_, frames);
        for (std::uint32_t i = 0; i < jack_midi_get_event_count(in); ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, in, i) != 0) continue;
            const std::uint32_t size = std::uint32_t(event.size);
            jack_ringbuffer_write(self->received_, reinterpret_cast<const char*>(&size), sizeof size);
            jack_ringbuffer_write(self->received_, reinterpret_cast<const char*>(event.buffer), size);
        }
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* out_ = nullptr;
    jack_port_t* in_ = nullptr;
    jack_ringbuffer_t* toSend_ = nullptr;
    jack_ringbuffer_t* received_ = nullptr;
    std::vector<Bytes> got_;
};

}  // namespace JackTestPeers

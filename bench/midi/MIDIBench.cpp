// Parser throughput, and how long a note takes from another JACK client to our notification
// compared with the JACK period. Run on demand: build with -DKAVIO_BUILD_BENCH=ON.

#include "JackTestPeers.h"
#include "JackTestServer.h"
#include "MIDIMessageCodec.h"
#include "QVTMIDIManager.h"

#include "NotificationCenter.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

namespace {

using JackTestPeers::Bytes;

// A show-control mix: notes, controllers, time code and transport.
const std::vector<Bytes> kMix = {
    {0x93, 0x3C, 0x64},
    {0xB5, 0x07, 0x7F},
    {0xF1, 0x25},
    {0xF0, 0x7F, 0x7F, 0x06, 0x02, 0xF7},
    {0xF0, 0x7F, 0x01, 0x02, 0x01, 0x01, 0x31, 0x32, 0x00, 0xF7},
    {0xF0, 0x7F, 0x7F, 0x06, 0x44, 0x06, 0x01, 0x61, 0x02, 0x03, 0x04, 0x00, 0xF7},
};

void ParserMessages(benchmark::State& state) {
    std::vector<std::uint8_t> sysex;
    std::size_t decoded = 0;
    for (auto _ : state)
        for (const Bytes& packet : kMix) decoded += bool(MIDIMessageCodec::decodePacket(packet, 1, sysex).message);
    benchmark::DoNotOptimize(decoded);
    state.SetItemsProcessed(std::int64_t(state.iterations() * kMix.size()));
}
BENCHMARK(ParserMessages);

// Wall time from the peer queuing a note to the manager posting it, per note.
void JackReceiveLatency(benchmark::State& state) {
    std::string reason;
    if (!JackTestServer::ensureRunning(&reason)) {
        state.SkipWithError(reason.c_str());
        return;
    }
    {
        JackTestPeers::Peer peer;
        auto manager = QVTMIDIManager::createWithBackend(makeJackMidiBackend());
        if (!peer.ok() || !manager) {
            state.SkipWithError("no JACK client");
            return;
        }
        manager->startManagerWithName("Kavio");
        auto source = manager->sourceNodeNamed("peer:out");
        std::atomic<std::uint64_t> received{0};
        auto center = manager->midiKitNotificationCenter();
        const auto token = center->addObserver(nullptr, TonarilNotifications::kNoteReceived, source.get(),
                                               [&](const Notification&) { received.fetch_add(1); });
        for (auto _ : state) {
            const std::uint64_t before = received.load();
            const auto start = std::chrono::steady_clock::now();
            peer.send({0x90, 0x3C, 0x64});
            while (received.load() == before) std::this_thread::yield();
            state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        center->removeObserver(token);
        state.counters["period_us"] =
            1e6 * jack_get_buffer_size(peer.client()) / double(jack_get_sample_rate(peer.client()));
    }
}
BENCHMARK(JackReceiveLatency)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

}  // namespace

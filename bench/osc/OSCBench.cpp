// Round-trip latency and receive rate of the OSC kit over 127.0.0.1, next to a bare liblo
// server and client doing the same work, as the reference.
//
//   osc_bench --benchmark_filter=RoundTrip
//
// Round trips report median_us and p99_us; bursts report items_per_second (messages received).

#include "QVTOSCManager.h"

#include <benchmark/benchmark.h>
#include <lo/lo.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBurst = 200;  // small enough for the default socket buffer

bool waitUntil(const std::atomic<int>& counter, int target)
{
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    while (counter.load(std::memory_order_acquire) < target) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

void reportLatencies(benchmark::State& state, std::vector<double>& micros)
{
    if (micros.empty())
        return;
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}

// The kit: output "bench" into input "bench", counting "QVTOSC-RECEIVED".
struct KitLoop {
    QVTOSCManager manager{nullptr};
    std::atomic<int> received{0};
    QVTOSCMessage message{"/bench/value"};
    std::shared_ptr<QVTOSCValue> value = std::make_shared<QVTOSCValue>(QVTOSCValueTypeInteger, 0);

    KitLoop()
    {
        manager.createInputWithName("bench", 0);
        manager.createOutputWithName("bench", "127.0.0.1", manager.portOfInputWithName("bench"));
        manager.oscKitNotificationCenter().addObserver(
            this, kQVTOSCReceivedNotification, nullptr,
            [this](const Notification&) { received.fetch_add(1, std::memory_order_release); });
        message.addOSCValue(value);
    }
    void send(int n)
    {
        value->setValue(n);
        manager.sendOSCMessage(message);
    }
};

// Bare liblo: a server thread and an address, the same message.
struct LibloLoop {
    std::atomic<int> received{0};
    lo_server_thread server = lo_server_thread_new(nullptr, nullptr);
    lo_address address = nullptr;

    LibloLoop()
    {
        lo_server_thread_add_method(server, nullptr, nullptr, &LibloLoop::handler, this);
        lo_server_thread_start(server);
        address = lo_address_new("127.0.0.1", std::to_string(lo_server_thread_get_port(server)).c_str());
    }
    ~LibloLoop()
    {
        lo_address_free(address);
        lo_server_thread_free(server);
    }
    void send(int n) { lo_send(address, "/bench/value", "i", n); }
    static int handler(const char*, const char*, lo_arg**, int, lo_message, void* self)
    {
        static_cast<LibloLoop*>(self)->received.fetch_add(1, std::memory_order_release);
        return 0;
    }
};

template <class Loop>
void roundTrip(benchmark::State& state)
{
    Loop loop;
    std::vector<double> micros;
    int n = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        loop.send(++n);
        if (!waitUntil(loop.received, n)) {
            state.SkipWithError("message lost");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    reportLatencies(state, micros);
}

template <class Loop>
void burst(benchmark::State& state)
{
    Loop loop;
    int sent = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBurst; ++i)
            loop.send(++sent);
        waitUntil(loop.received, sent);
    }
    state.SetItemsProcessed(loop.received.load());
    state.counters["lost"] = sent - loop.received.load();
}

}  // namespace

BENCHMARK_TEMPLATE(roundTrip, KitLoop)->Name("RoundTrip/kit")->UseRealTime();
BENCHMARK_TEMPLATE(roundTrip, LibloLoop)->Name("RoundTrip/liblo")->UseRealTime();
BENCHMARK_TEMPLATE(burst, KitLoop)->Name("Receive/kit")->UseRealTime();
BENCHMARK_TEMPLATE(burst, LibloLoop)->Name("Receive/liblo")->UseRealTime();

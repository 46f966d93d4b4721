// Art-Net reception under a realistic load: a sender thread plays 32 universes at 44 Hz for 10 s
// on loopback. Reports datagrams sent, received and lost, and the CPU time of the receiving side
// (the whole process minus the sender thread). Run on demand: build with -DKAVIO_BUILD_BENCH=ON.

#include "ArtNetPacket.h"
#include "DispatchQueue.h"
#include "GCDAsyncUdpSocket_QVTLIGHTING.h"
#include "QVTLightingManager.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

constexpr int kUniverses = 32;
constexpr double kRateHz = 44.0;
constexpr double kSeconds = 10.0;
constexpr int kFrames = static_cast<int>(kRateHz * kSeconds);

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

QByteArray artDmx(int universe, int frame)
{
    QByteArray d("Art-Net", 8);
    for (int b : {0x00, 0x50, 0, 14, frame & 0xFF, 0, universe, 0, 0x02, 0x00})
        d.append(static_cast<char>(b));
    QByteArray data(ArtNet::kDmxSlots, '\0');
    for (int i = 0; i < ArtNet::kDmxSlots; ++i)
        data[i] = static_cast<char>(frame + universe + i + 1);  // never all zero, as the cache starts
    return d + data;
}

std::uint16_t freePort()
{
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(s);
    return ntohs(a.sin_port);
}

// Plays every universe once per frame at the frame rate; answers the sender thread's CPU time.
double play(std::uint16_t port)
{
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto start = std::chrono::steady_clock::now();
    for (int frame = 0; frame < kFrames; ++frame) {
        for (int u = 0; u < kUniverses; ++u) {
            const QByteArray packet = artDmx(u, frame);
            ::sendto(s, packet.constData(), static_cast<std::size_t>(packet.size()), 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to);
        }
        std::this_thread::sleep_until(start + std::chrono::duration<double>((frame + 1) / kRateHz));
    }
    ::close(s);
    return threadCpuSeconds();
}

class CountingDelegate : public GCDAsyncUdpSocketDelegate {
public:
    void udpSocketDidReceiveData(GCDAsyncUdpSocket_QVTLIGHTING*, const QByteArray&, const QByteArray&, void*) override
    {
        ++received;
    }
    std::atomic<long> received{0};
};

void report(benchmark::State& state, double sent, double received, double cpu)
{
    state.counters["sent"] = sent;
    state.counters["received"] = received;
    state.counters["lost"] = sent - received;
    state.counters["receive_cpu_s"] = cpu;
}

// The socket alone: every datagram reaches the delegate.
void BM_SocketReceive32UniversesAt44Hz(benchmark::State& state)
{
    for (auto _ : state) {
        auto delegate = std::make_shared<CountingDelegate>();
        GCDAsyncUdpSocket_QVTLIGHTING socket(delegate, std::make_shared<DispatchQueue>("bench.delegate"));
        socket.setIPv6Enabled(false);
        socket.enableBroadcast(true, nullptr);
        if (!socket.bindToPort(0, QStringLiteral("127.0.0.1"), nullptr) || !socket.beginReceiving(nullptr)) {
            state.SkipWithError("cannot bind 127.0.0.1");
            return;
        }
        const double cpuBefore = processCpuSeconds();
        double senderCpu = 0;
        std::thread sender([&] { senderCpu = play(socket.localPort()); });
        sender.join();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        report(state, kFrames * kUniverses, static_cast<double>(delegate->received.load()),
               processCpuSeconds() - cpuBefore - senderCpu);
    }
}

// The node on universe 0 of the 32: each of its frames changes all 512 slots, so it posts 512
// notifications per frame; the other universes are filtered out. "received" counts universe-0
// frames (changes of slot 1).
void BM_NodeReceive32UniversesAt44Hz(benchmark::State& state)
{
    for (auto _ : state) {
        const std::uint16_t port = freePort();
        auto manager = std::make_shared<QVTLightingManager>();
        manager->setPortsForTesting({port, port});
        std::atomic<long> frames{0};
        std::atomic<long> notifications{0};
        manager->lightingKitNotificationCenter().addObserver(
            nullptr, QVTLightingReceivedDMXNotification, manager.get(), [&](const Notification& n) {
                ++notifications;
                if (n.userInfo.value(QVTLightingUpdatedChannelKey).toList().value(0).toInt() == 1)
                    ++frames;
            });
        manager->setInputPortInterface(QStringLiteral("127.0.0.1"));
        if (!manager->receiverNode()) {
            state.SkipWithError("cannot bind 127.0.0.1");
            return;
        }
        const double cpuBefore = processCpuSeconds();
        double senderCpu = 0;
        std::thread sender([&] { senderCpu = play(port); });
        sender.join();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        report(state, kFrames, static_cast<double>(frames.load()), processCpuSeconds() - cpuBefore - senderCpu);
        state.counters["notifications"] = static_cast<double>(notifications.load());
        manager->setInputPortInterface(std::nullopt);
    }
}

}  // namespace

BENCHMARK(BM_SocketReceive32UniversesAt44Hz)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_NodeReceive32UniversesAt44Hz)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The program's OSC remote control against a bare liblo server doing the same work, timed the
// same way in the same run, over 127.0.0.1:
//
//   CueValue: "/kavio/5/opacity" from a liblo client until the cue holds the value (program),
//             or until the liblo handler stored it (reference);
//   Ping:     "/kavio/ping" until "/kavio/pong" reaches a liblo listener (program), or a liblo
//             handler that replies (reference).
//
// Each iteration times one message of each, alternately; counters give median and 99th
// percentile in microseconds and the program-to-reference ratios (rate_ratio: messages per
// second of the program over the reference's). The program's input is UDP 51000: run it alone.
//
//   remote_osc_bench --benchmark_filter=CueValue

#include "../KavioBenchSupport.h"

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "QVTOSCManager.h"
#include "Shell/AppDelegate.h"
#include "Support/KavioPlainButton.h"
#include "Support/KavioPlainPopUpButton.h"
#include "Support/KavioPlainTextField.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <lo/lo.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double microsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Spins (pumping the main queue, where the global commands run) until `done`, at most 2 s.
template <typename Done>
bool spinUntil(Done done)
{
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (!done()) {
        DispatchQueue::drainMain();
        if (Clock::now() > deadline)
            return false;
    }
    return true;
}

struct Figures {
    std::vector<double> micros;
    double total = 0;
    void add(double us)
    {
        micros.push_back(us);
        total += us;
    }
    double percentile(int p)
    {
        std::sort(micros.begin(), micros.end());
        return micros[std::min(micros.size() - 1, micros.size() * size_t(p) / 100)];
    }
};

void report(benchmark::State& state, Figures& program, Figures& bare)
{
    if (program.micros.empty() || bare.micros.empty())
        return;
    const double pm = program.percentile(50), bm = bare.percentile(50);
    const double p99 = program.percentile(99), b99 = bare.percentile(99);
    state.counters["median_us"] = pm;
    state.counters["p99_us"] = p99;
    state.counters["ref_median_us"] = bm;
    state.counters["ref_p99_us"] = b99;
    state.counters["median_ratio"] = pm / bm;
    state.counters["p99_ratio"] = p99 / b99;
    state.counters["rate_ratio"] = bare.total / program.total;
}

// A listener for the pong.
struct PongListener {
    lo_server_thread thread = lo_server_thread_new(nullptr, nullptr);
    std::atomic<int> pongs{0};
    PongListener()
    {
        lo_server_thread_add_method(thread, "/kavio/pong", nullptr, &PongListener::pong, this);
        lo_server_thread_start(thread);
    }
    ~PongListener() { lo_server_thread_free(thread); }
    static int pong(const char*, const char*, lo_arg**, int, lo_message, void* self)
    {
        static_cast<PongListener*>(self)->pongs.fetch_add(1);
        return 0;
    }
};

// The program: cue list controller with ten cues, the application controller's OSC input.
struct Program {
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("bench.conf"))};
    KavioBenchDelegate delegate;
    std::shared_ptr<KavioBenchDelegate> delegatePtr{&delegate, [](KavioBenchDelegate*) {}};
    std::shared_ptr<KavioVideoItemManager> controller = KavioVideoItemManager::init(defaults);
    UndoManager undo;
    KavioPlainButton enable;
    KavioPlainPopUpButton target;
    KavioPlainTextField host, port;
    std::shared_ptr<AppDelegate> app = std::make_shared<AppDelegate>(defaults, undo);
    std::vector<std::shared_ptr<KavioVideoItem>> cues;

    explicit Program(int pongPort)
    {
        controller->setDelegate(delegatePtr);
        for (int n = 1; n <= 10; ++n) {
            auto cue = std::make_shared<KavioVideoItem>([](const QVTOSCMessage&) {});
            cue->setManager(controller);
            cue->setIndex(std::uint64_t(n));
            cues.push_back(cue);
        }
        AppDelegateOutlets o;
        o.controller = controller;
        o.oscEnableButton = &enable;
        o.oscFeedbackTargetPopup = &target;
        o.oscFeedbackTargetIP = &host;
        o.oscFeedbackTargetPort = &port;
        app->setOutlets(o);
        target.addItem(QStringLiteral("Disabled"), 0);
        target.addItem(QStringLiteral("Custom"), 1);
        target.selectItemWithTitle(QStringLiteral("Custom"));
        host.setStringValue(QStringLiteral("127.0.0.1"));
        port.setStringValue(QString::number(pongPort));
        enable.setButtonType(KavioButtonType::OnOff);
        enable.setState(1);
        app->oscSettingsChanged();
        app->oscFeedbackTargetSelected();
    }
    ~Program()
    {
        enable.setState(0);
        app->oscSettingsChanged();
        for (const auto& cue : cues)
            cue->removeResources();
    }
};

// The reference: a bare liblo server that stores the value, and one that answers the ping.
struct Bare {
    lo_server_thread thread = lo_server_thread_new(nullptr, nullptr);
    std::atomic<float> opacity{0};
    lo_address pongTo;
    explicit Bare(int pongPort) : pongTo(lo_address_new("127.0.0.1", std::to_string(pongPort).c_str()))
    {
        lo_server_thread_add_method(thread, "/kavio/5/opacity", "f", &Bare::store, this);
        lo_server_thread_add_method(thread, "/kavio/ping", nullptr, &Bare::ping, this);
        lo_server_thread_start(thread);
    }
    ~Bare()
    {
        lo_server_thread_free(thread);
        lo_address_free(pongTo);
    }
    int port() const { return lo_server_thread_get_port(thread); }
    static int store(const char*, const char*, lo_arg** argv, int, lo_message, void* self)
    {
        static_cast<Bare*>(self)->opacity.store(argv[0]->f);
        return 0;
    }
    static int ping(const char*, const char*, lo_arg**, int, lo_message, void* self)
    {
        lo_send(static_cast<Bare*>(self)->pongTo, "/kavio/pong", "i", 1);
        return 0;
    }
};

void CueValue(benchmark::State& state)
{
    PongListener listener;
    Program program(listener.thread ? lo_server_thread_get_port(listener.thread) : 0);
    Bare bare(lo_server_thread_get_port(listener.thread));
    lo_address toProgram = lo_address_new("127.0.0.1", "51000");
    lo_address toBare = lo_address_new("127.0.0.1", std::to_string(bare.port()).c_str());
    KavioVideoItem& cue = *program.cues[4];
    Figures programFigures, bareFigures;
    int step = 0;
    for (auto _ : state) {
        const float value = float(++step % 1000) / 1000.0f;
        auto start = Clock::now();
        lo_send(toProgram, "/kavio/5/opacity", "f", value);
        check(spinUntil([&] { return cue.opacity() == value; }), "the cue took the value");
        programFigures.add(microsSince(start));
        start = Clock::now();
        lo_send(toBare, "/kavio/5/opacity", "f", value);
        check(spinUntil([&] { return bare.opacity.load() == value; }), "liblo stored the value");
        bareFigures.add(microsSince(start));
    }
    report(state, programFigures, bareFigures);
    lo_address_free(toProgram);
    lo_address_free(toBare);
}

void Ping(benchmark::State& state)
{
    PongListener listener;
    const int pongPort = lo_server_thread_get_port(listener.thread);
    Program program(pongPort);
    Bare bare(pongPort);
    lo_address toProgram = lo_address_new("127.0.0.1", "51000");
    lo_address toBare = lo_address_new("127.0.0.1", std::to_string(bare.port()).c_str());
    Figures programFigures, bareFigures;
    for (auto _ : state) {
        int before = listener.pongs.load();
        auto start = Clock::now();
        lo_send(toProgram, "/kavio/ping", "");
        check(spinUntil([&] { return listener.pongs.load() > before; }), "the program answered");
        programFigures.add(microsSince(start));
        before = listener.pongs.load();
        start = Clock::now();
        lo_send(toBare, "/kavio/ping", "");
        check(spinUntil([&] { return listener.pongs.load() > before; }), "liblo answered");
        bareFigures.add(microsSince(start));
    }
    report(state, programFigures, bareFigures);
    lo_address_free(toProgram);
    lo_address_free(toBare);
}

BENCHMARK(CueValue)->UseRealTime()->Iterations(2000);
BENCHMARK(Ping)->UseRealTime()->Iterations(2000);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

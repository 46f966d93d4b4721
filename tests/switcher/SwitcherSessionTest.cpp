// The switcher interface against the simulated switcher on 127.0.0.1.

#include "BMDSwitcherAPI.h"
#include "SimulatedSwitcher.h"
#include "SwitcherProtocol.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

using switcherwire::fourCC;

namespace {

bool waitFor(const std::function<bool()>& done, double seconds = 30.0)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Records the events of the switcher and its inputs.
template <class Interface>
class Recorder : public Interface {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    uint32_t AddRef() override { return ++count; }
    uint32_t Release() override { return --count; }  // lives on the test's stack
    std::atomic<uint32_t> count{1};
    std::atomic<int> events{0};
};

class SwitcherRecorder : public Recorder<IBMDSwitcherCallback> {
public:
    HRESULT Notify(BMDSwitcherEventType type, BMDSwitcherVideoMode) override
    {
        if (type == bmdSwitcherEventTypeDisconnected)
            ++events;
        return S_OK;
    }
};

class InputRecorder : public Recorder<IBMDSwitcherInputCallback> {
public:
    HRESULT Notify(BMDSwitcherInputEventType type) override
    {
        if (type == bmdSwitcherInputEventTypeIsProgramTalliedChanged)
            ++events;
        return S_OK;
    }
};

struct Connection {
    IBMDSwitcher* switcher = nullptr;
    BMDSwitcherConnectToFailure failure = 0;
    HRESULT result = S_OK;
    ~Connection()
    {
        if (switcher)
            switcher->Release();
    }
};

void connect(const std::string& address, Connection& connection)
{
    IBMDSwitcherDiscovery* discovery = GetBMDSwitcherDiscoveryInstance_0009();
    connection.result = discovery->ConnectTo(address, &connection.switcher, &connection.failure);
    discovery->Release();
}

std::map<int64_t, IBMDSwitcherInput*> inputsOf(IBMDSwitcher* switcher)
{
    std::map<int64_t, IBMDSwitcherInput*> inputs;
    IBMDSwitcherInputIterator* iterator = nullptr;
    EXPECT_EQ(switcher->CreateIterator(IID_IBMDSwitcherInputIterator, reinterpret_cast<void**>(&iterator)), S_OK);
    IBMDSwitcherInput* input = nullptr;
    while (iterator->Next(&input) == S_OK) {
        BMDSwitcherInputId id = -1;
        EXPECT_EQ(input->GetInputId(&id), S_OK);
        inputs[id] = input;
    }
    iterator->Release();
    return inputs;
}

IBMDSwitcherMixEffectBlock* firstBlock(IBMDSwitcher* switcher)
{
    IBMDSwitcherMixEffectBlockIterator* iterator = nullptr;
    EXPECT_EQ(switcher->CreateIterator(IID_IBMDSwitcherMixEffectBlockIterator, reinterpret_cast<void**>(&iterator)), S_OK);
    IBMDSwitcherMixEffectBlock* block = nullptr;
    (void)iterator->Next(&block);
    iterator->Release();
    return block;
}

bool programTallied(IBMDSwitcherInput* input)
{
    bool tallied = false;
    return input->IsProgramTallied(&tallied) == S_OK && tallied;
}

void releaseAll(std::map<int64_t, IBMDSwitcherInput*>& inputs)
{
    for (auto& [id, input] : inputs)
        input->Release();
}

}  // namespace

TEST(SwitcherSession, ReadsTheStateAndDrivesTheFirstMixEffectBlock)
{
    for (const int loss : {0, 3}) {
        SCOPED_TRACE(loss ? "every third datagram lost each way" : "no loss");
        SimulatedSwitcher simulator;
        simulator.setLossEvery(loss);
        Connection connection;
        connect(simulator.address(), connection);
        ASSERT_EQ(connection.result, S_OK);
        std::string name;
        EXPECT_EQ(connection.switcher->GetProductName(&name), S_OK);
        EXPECT_EQ(name, "Simulated Switcher 4K");

        auto inputs = inputsOf(connection.switcher);
        ASSERT_EQ(inputs.size(), 6u);
        struct Expected {
            int64_t id;
            uint32_t type;
            const char* shortName;
            const char* longName;
            bool program, preview;
        };
        for (const Expected& e : {Expected{1, fourCC("extn"), "CAM1", "Camera 1", true, false},
                                  Expected{2, fourCC("extn"), "CAM2", "Camera 2", false, true},
                                  Expected{1000, fourCC("colb"), "BARS", "Color Bars", false, false},
                                  Expected{3010, fourCC("mpfl"), "MP1", "Media Player 1", false, false}}) {
            IBMDSwitcherInput* input = inputs.at(e.id);
            BMDSwitcherPortType type = 0;
            std::string shortName, longName;
            bool preview = false;
            EXPECT_EQ(input->GetPortType(&type), S_OK);
            EXPECT_EQ(type, e.type);
            EXPECT_EQ(input->GetShortName(&shortName), S_OK);
            EXPECT_EQ(shortName, e.shortName);
            EXPECT_EQ(input->GetLongName(&longName), S_OK);
            EXPECT_EQ(longName, e.longName);
            EXPECT_EQ(programTallied(input), e.program);
            EXPECT_EQ(input->IsPreviewTallied(&preview), S_OK);
            EXPECT_EQ(preview, e.preview);
        }

        InputRecorder onCamera1, onCamera3;
        ASSERT_EQ(inputs.at(1)->AddCallback(&onCamera1), S_OK);
        ASSERT_EQ(inputs.at(3)->AddCallback(&onCamera3), S_OK);
        IBMDSwitcherMixEffectBlock* block = firstBlock(connection.switcher);
        ASSERT_TRUE(block);
        BMDSwitcherInputId preview = -1;
        EXPECT_EQ(block->GetPreviewInput(&preview), S_OK);
        EXPECT_EQ(preview, 2);

        EXPECT_EQ(block->SetPreviewInput(3), S_OK);
        EXPECT_EQ(block->PerformCut(), S_OK);
        EXPECT_TRUE(waitFor([&] { return onCamera3.events > 0 && onCamera1.events > 0; }));
        EXPECT_TRUE(programTallied(inputs.at(3)));
        EXPECT_FALSE(programTallied(inputs.at(1)));
        EXPECT_TRUE(waitFor([&] { return block->GetPreviewInput(&preview) == S_OK && preview == 1; }));

        EXPECT_EQ(block->PerformAutoTransition(), S_OK);
        EXPECT_TRUE(waitFor([&] { return simulator.commands().size() == 3; }));
        EXPECT_EQ(simulator.commands(), (std::vector<std::string>{"CPvI 3", "DCut", "DAut"}));
        EXPECT_TRUE(waitFor([&] { return programTallied(inputs.at(1)); }));
        EXPECT_EQ(simulator.program(), 1);

        // The switcher's operator takes an input: its program tally reaches the callback.
        const int before = onCamera3.events;
        simulator.takeToProgram(3);
        EXPECT_TRUE(waitFor([&] { return onCamera3.events > before && programTallied(inputs.at(3)); }));

        EXPECT_EQ(inputs.at(1)->RemoveCallback(&onCamera1), S_OK);
        EXPECT_EQ(inputs.at(3)->RemoveCallback(&onCamera3), S_OK);
        EXPECT_EQ(onCamera1.count, 1u);
        block->Release();
        releaseAll(inputs);
    }
}

TEST(SwitcherSession, SilenceReportsTheDisconnectionAndTheSwitcherCanBeReachedAgain)
{
    SimulatedSwitcher simulator;
    Connection connection;
    connect(simulator.address(), connection);
    ASSERT_EQ(connection.result, S_OK);
    SwitcherRecorder recorder;
    ASSERT_EQ(connection.switcher->AddCallback(&recorder), S_OK);
    EXPECT_EQ(recorder.count, 2u);

    simulator.setSilent(true);
    ASSERT_TRUE(waitFor([&] { return recorder.events == 1; }));
    simulator.setSilent(false);
    Connection again;
    connect(simulator.address(), again);
    EXPECT_EQ(again.result, S_OK);
    EXPECT_EQ(simulator.sessions(), 2);

    // Releasing the switcher gives up its reference to a callback still registered.
    connection.switcher->Release();
    connection.switcher = nullptr;
    EXPECT_EQ(recorder.count, 1u);
    EXPECT_EQ(recorder.events, 1);
}

TEST(SwitcherSession, FailedAttemptsNameTheirReason)
{
    struct Case {
        const char* what;
        SimulatedSwitcher::Fault fault;
        bool silent;
        bool emptyAddress;
        BMDSwitcherConnectToFailure failure;
    };
    for (const Case& c : {Case{"no answer", SimulatedSwitcher::Fault::None, true, false, fourCC("cfnr")},
                          Case{"USB has no transport", SimulatedSwitcher::Fault::None, false, true, fourCC("cfnr")},
                          Case{"another version", SimulatedSwitcher::Fault::WrongVersion, false, false, fourCC("cfif")},
                          Case{"dump never ends", SimulatedSwitcher::Fault::IncompleteDump, false, false, fourCC("cfst")},
                          Case{"malformed state", SimulatedSwitcher::Fault::CorruptData, false, false, fourCC("cfcd")},
                          Case{"state incomplete", SimulatedSwitcher::Fault::NoProductName, false, false, fourCC("cfss")}}) {
        SCOPED_TRACE(c.what);
        SimulatedSwitcher simulator;
        simulator.setSilent(c.silent);
        simulator.setFault(c.fault);
        Connection connection;
        connect(c.emptyAddress ? std::string() : simulator.address(), connection);
        EXPECT_LT(connection.result, 0);
        EXPECT_EQ(connection.failure, c.failure);
        EXPECT_EQ(connection.switcher, nullptr);
    }
}

TEST(SwitcherSession, WithoutAMixEffectBlockNoneIsListed)
{
    SimulatedSwitcher simulator;
    simulator.setFault(SimulatedSwitcher::Fault::NoMixEffectBlock);
    Connection connection;
    connect(simulator.address(), connection);
    ASSERT_EQ(connection.result, S_OK);
    EXPECT_EQ(firstBlock(connection.switcher), nullptr);
    void* other = &connection;
    EXPECT_EQ(connection.switcher->CreateIterator(IID_IUnknown, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
}

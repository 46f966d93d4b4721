// The Vistrel listener against the simulated switcher on 127.0.0.1, and its callback objects.

#include "FakeZeroconf.h"
#include "SimulatedSwitcher.h"
#include "Vistrel.h"
#include "VistrelCallbacks.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <future>
#include <mutex>

namespace {

std::shared_ptr<FakeZeroconf> libraryZeroconf()
{
    static const auto zeroconf = [] {
        auto made = std::make_shared<FakeZeroconf>();
        Vistrel::setZeroconf(made);
        return made;
    }();
    return zeroconf;
}
// Before the library's first use.
[[maybe_unused]] const bool kInstalled = (libraryZeroconf(), true);

using Clock = std::chrono::steady_clock;

class RecordingDelegate : public VistrelDelegate {
public:
    struct Failure {
        QString text;
        Clock::time_point at;
    };
    void connectedToDevice(const std::shared_ptr<QVTAtemDeviceInfo>& device) override
    {
        std::lock_guard lock(mutex);
        connected.push_back(device);
    }
    void connectionFailed(const VistrelError& error) override
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(error.domain, QStringLiteral("com.dalvek.Vistrel"));
        EXPECT_EQ(error.code, 0);
        failures.push_back({error.localizedDescription, Clock::now()});
    }
    void statusChangedForInput(const std::shared_ptr<QVTAtemInput>& input,
                               const std::shared_ptr<QVTAtemDeviceInfo>& device) override
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(device);
        changes.emplace_back(input->id, input->isProgramTallied.load());
    }

    size_t connections() const
    {
        std::lock_guard lock(mutex);
        return connected.size();
    }
    std::shared_ptr<QVTAtemDeviceInfo> lastDevice() const
    {
        std::lock_guard lock(mutex);
        return connected.empty() ? nullptr : connected.back();
    }
    std::vector<Failure> failuresWith(const QString& text) const
    {
        std::lock_guard lock(mutex);
        std::vector<Failure> out;
        for (const Failure& failure : failures) {
            if (failure.text == text)
                out.push_back(failure);
        }
        return out;
    }
    bool changed(int64_t id, bool program) const
    {
        std::lock_guard lock(mutex);
        return std::find(changes.begin(), changes.end(), std::pair(id, program)) != changes.end();
    }

    mutable std::mutex mutex;
    std::vector<std::shared_ptr<QVTAtemDeviceInfo>> connected;
    std::vector<Failure> failures;
    std::vector<std::pair<int64_t, bool>> changes;
};

bool waitFor(const std::function<bool()>& done)
{
    return DispatchQueue::runMainUntil(done, 30.0);
}

std::shared_ptr<QVTAtemInput> inputWithId(const std::shared_ptr<QVTAtemDeviceInfo>& device, int64_t id)
{
    for (const auto& input : device->inputs().value_or(QVTAtemDeviceInfo::Inputs{})) {
        if (input->id == id)
            return input;
    }
    return nullptr;
}

// A discovery whose every attempt fails at once with "no answer".
class UnansweredDiscovery final : public BMDRefCounted<IBMDSwitcherDiscovery> {
public:
    HRESULT ConnectTo(const std::string&, IBMDSwitcher** switcher, BMDSwitcherConnectToFailure* failure) override
    {
        *switcher = nullptr;
        *failure = bmdSwitcherConnectToFailureNoResponse;
        return E_FAIL;
    }
};

const QString kNoAnswer = QStringLiteral("Couldn't connect to the Blackmagic ATEM device: The switcher did not respond.  I'll keep trying…");

}  // namespace

TEST(Vistrel, ConnectsByAddressFollowsProgramTallyAndDrivesTransitions)
{
    for (const int loss : {0, 3}) {
        SCOPED_TRACE(loss ? "every third datagram lost each way" : "no loss");
        SimulatedSwitcher simulator;
        simulator.setLossEvery(loss);
        const auto delegate = std::make_shared<RecordingDelegate>();
        const auto listener = Vistrel::initNetworkListenerWithDelegateIP(delegate, QString::fromStdString(simulator.address()));
        ASSERT_TRUE(waitFor([&] { return delegate->connections() == 1; }));
        const auto device = delegate->lastDevice();
        EXPECT_EQ(listener->deviceInfo(), device);
        EXPECT_EQ(device->productName(), QStringLiteral("Simulated Switcher 4K"));
        EXPECT_EQ(device->deviceID(), QStringLiteral(""));
        EXPECT_FALSE(device->deviceID().isNull());
        EXPECT_EQ(device->customName(), QStringLiteral(""));
        EXPECT_EQ(device->ip(), QStringLiteral(""));
        ASSERT_EQ(device->inputs()->size(), 6u);
        const auto camera1 = inputWithId(device, 1);
        const auto player = inputWithId(device, 3010);
        ASSERT_TRUE(camera1 && player);
        EXPECT_EQ(camera1->portType, QStringLiteral("extn"));
        EXPECT_EQ(camera1->longName, QStringLiteral("Camera 1"));
        EXPECT_EQ(camera1->shortName, QStringLiteral("CAM1"));
        EXPECT_TRUE(camera1->isProgramTallied);
        EXPECT_TRUE(inputWithId(device, 2)->isPreviewTallied);
        EXPECT_EQ(player->portType, QStringLiteral("mpfl"));
        EXPECT_EQ(camera1->description(), QStringLiteral("<QVTAtemInput id=    1 type=extn shortName='CAM1' longName='Camera 1            ' "
                                                         "programTallied=1 previewTallied=0>"));
        EXPECT_EQ(listener->getPreviewInput(), 2);

        simulator.takeToProgram(3);
        EXPECT_TRUE(waitFor([&] { return delegate->changed(3, true) && delegate->changed(1, false); }));

        listener->performCutToInput(inputWithId(device, 4));
        EXPECT_TRUE(waitFor([&] { return delegate->changed(4, true); }));
        listener->performAutoToInput(camera1);
        EXPECT_TRUE(waitFor([&] { return simulator.commands().size() == 4 && camera1->isProgramTallied; }));
        EXPECT_EQ(simulator.commands(), (std::vector<std::string>{"CPvI 4", "DCut", "CPvI 1", "DAut"}));
        listener->removeResources();
        EXPECT_EQ(listener->deviceInfo(), nullptr);
        EXPECT_FALSE(device->inputs());
    }
}

TEST(Vistrel, SilenceReportsTheLossAndTheSwitcherIsReconnectedOnItsReturn)
{
    SimulatedSwitcher simulator;
    const auto delegate = std::make_shared<RecordingDelegate>();
    const auto listener = Vistrel::initNetworkListenerWithDelegateIP(delegate, QString::fromStdString(simulator.address()));
    ASSERT_TRUE(waitFor([&] { return delegate->connections() == 1; }));
    simulator.setSilent(true);
    ASSERT_TRUE(waitFor([&] {
        return !delegate->failuresWith(QStringLiteral("Lost the connection to the Blackmagic ATEM device.  I'll try to reconnect…")).empty();
    }));
    EXPECT_EQ(listener->getPreviewInput(), -1);  // no block held while it reconnects
    simulator.setSilent(false);
    EXPECT_TRUE(waitFor([&] { return delegate->connections() == 2; }));
    EXPECT_EQ(simulator.sessions(), 2);
    listener->removeResources();
}

TEST(Vistrel, FailedAttemptsReportTheirReasonAndRetry)
{
    struct Case {
        SimulatedSwitcher::Fault fault;
        bool silent;
        QString text;
    };
    const std::vector<Case> cases = {
        {SimulatedSwitcher::Fault::None, true, kNoAnswer},
        {SimulatedSwitcher::Fault::WrongVersion, false,
         QStringLiteral("Couldn't connect to the Blackmagic ATEM device: The software on the switcher is incompatible with "
                        "this version of the switcher SDK.")},
        {SimulatedSwitcher::Fault::IncompleteDump, false,
         QStringLiteral("Couldn't connect to the Blackmagic ATEM device: State synchronisation timed out.  I'll try again…")},
        {SimulatedSwitcher::Fault::CorruptData, false,
         QStringLiteral("Couldn't connect to the Blackmagic ATEM device: Corrupt data was received.  I'll try again…")},
    };
    std::vector<std::unique_ptr<SimulatedSwitcher>> simulators;
    std::vector<std::shared_ptr<RecordingDelegate>> delegates;
    std::vector<std::shared_ptr<Vistrel>> listeners;
    for (const Case& c : cases) {
        simulators.push_back(std::make_unique<SimulatedSwitcher>());
        simulators.back()->setFault(c.fault);
        simulators.back()->setSilent(c.silent);
        delegates.push_back(std::make_shared<RecordingDelegate>());
        listeners.push_back(
            Vistrel::initNetworkListenerWithDelegateIP(delegates.back(), QString::fromStdString(simulators.back()->address())));
    }
    // The switcher on USB has no transport here: it answers like a switcher that does not respond.
    const auto usbDelegate = std::make_shared<RecordingDelegate>();
    const auto usb = Vistrel::initUSBListenerWithDelegate(usbDelegate);
    // Every reason retries, the incompatible switcher's included, one attempt per 4.0 s.
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].text.toStdString());
        ASSERT_TRUE(waitFor([&] { return delegates[i]->failuresWith(cases[i].text).size() >= 2; }));
        const auto failures = delegates[i]->failuresWith(cases[i].text);
        EXPECT_GE(failures[1].at - failures[0].at, std::chrono::milliseconds(3900));
        EXPECT_EQ(delegates[i]->connections(), 0u);
    }
    EXPECT_TRUE(waitFor([&] { return usbDelegate->failuresWith(kNoAnswer).size() >= 2; }));
    for (const auto& listener : listeners)
        listener->removeResources();
    usb->removeResources();
}

TEST(Vistrel, FindsASwitcherByIdInTheDeviceListTheLastRecordWinning)
{
    SimulatedSwitcher simulator;
    BMDSwitcherSetControlPort(simulator.port());
    const auto delegate = std::make_shared<RecordingDelegate>();
    const auto listener = Vistrel::initNetworkListenerWithDelegate(delegate, QStringLiteral("SIM-1"));
    ASSERT_TRUE(waitFor([&] {
        return !delegate->failuresWith(QStringLiteral("Couldn't find a Blackmagic ATEM device with the specified unique ID.  I'll "
                                                      "continue to watch for it…"))
                    .empty();
    }));
    // Nothing answers on 127.0.0.2: only the later record can connect.
    const Zeroconf::TxtRecords txt = {{"unique id", "SIM-1"}, {"name", "Simulated"}};
    libraryZeroconf()->announce(QStringLiteral("_blackmagic._tcp"),
                                {Zeroconf::Service{"Desk", "", 9910, {{AF_INET, "127.0.0.2"}, {AF_INET, "127.0.0.1"}}, txt}});
    ASSERT_TRUE(waitFor([&] { return delegate->connections() >= 1; }));
    const auto device = delegate->lastDevice();
    EXPECT_EQ(device->ip(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(device->customName(), QStringLiteral("Desk"));
    EXPECT_EQ(device->productName(), QStringLiteral("Simulated"));  // the record's, from the TXT
    const auto devices = Vistrel::networkDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices.front()->ip(), QStringLiteral("127.0.0.2"));
    listener->removeResources();
    libraryZeroconf()->announce(QStringLiteral("_blackmagic._tcp"), {});
    EXPECT_TRUE(waitFor([] { return Vistrel::networkDevices().empty(); }));
    BMDSwitcherSetControlPort(9910);
}

TEST(Vistrel, AMissingSwitcherInterfaceIsReportedWithoutRetry)
{
    EXPECT_TRUE(Vistrel::isAtemDriverInstalled());
    VistrelSetDiscoveryLoader([]() -> IBMDSwitcherDiscovery* { return nullptr; });
    EXPECT_FALSE(Vistrel::isAtemDriverInstalled());
    const auto delegate = std::make_shared<RecordingDelegate>();
    const auto listener = Vistrel::initUSBListenerWithDelegate(delegate);
    EXPECT_TRUE(waitFor([&] {
        return !delegate->failuresWith(QStringLiteral("Couldn't access the Blackmagic ATEM API.  Maybe the Blackmagic ATEM "
                                                      "Switchers driver isn't installed?"))
                    .empty();
    }));
    listener->removeResources();
    VistrelSetDiscoveryLoader(nullptr);
    EXPECT_TRUE(Vistrel::isAtemDriverInstalled());
}

TEST(Vistrel, CallbacksAnswerOnlyIUnknownAndCountTheirReferences)
{
    auto* callback = new VistrelBMDSwitcherCallback(std::weak_ptr<Vistrel>());
    auto* inputCallback = new VistrelBMDSwitcherInputCallback(std::weak_ptr<QVTAtemInput>());
    struct Case {
        const char* what;
        const CFUUIDBytes* iid;
        bool nullOut;
        HRESULT result;
    };
    for (IUnknown* object : {static_cast<IUnknown*>(callback), static_cast<IUnknown*>(inputCallback)}) {
        for (const Case& c : {Case{"null out-pointer", &IID_IUnknown, true, E_POINTER},
                              Case{"IUnknown", &IID_IUnknown, false, S_OK},
                              Case{"switcher callback", &IID_IBMDSwitcherCallback, false, E_NOINTERFACE},
                              Case{"input callback", &IID_IBMDSwitcherInputCallback, false, E_NOINTERFACE},
                              Case{"iterator", &IID_IBMDSwitcherInputIterator, false, E_NOINTERFACE}}) {
            SCOPED_TRACE(c.what);
            void* out = &out;
            EXPECT_EQ(object->QueryInterface(*c.iid, c.nullOut ? nullptr : &out), c.result);
            if (!c.nullOut) {
                EXPECT_EQ(out, c.result == S_OK ? static_cast<void*>(object) : nullptr);
            }
        }
        EXPECT_EQ(object->AddRef(), 3u);  // 1 at birth, 1 from QueryInterface
        EXPECT_EQ(object->Release(), 2u);
        EXPECT_EQ(object->Release(), 1u);
    }
    // Without their listener or input, events do nothing.
    EXPECT_EQ(callback->Notify(bmdSwitcherEventTypeDisconnected, 0), S_OK);
    EXPECT_EQ(inputCallback->Notify(bmdSwitcherInputEventTypeIsProgramTalliedChanged), S_OK);
    EXPECT_EQ(callback->Release(), 0u);
    EXPECT_EQ(inputCallback->Release(), 0u);
}

TEST(Vistrel, AttemptsQueuedBeforeRemovalDoNothing)
{
    SimulatedSwitcher simulator;
    const auto delegate = std::make_shared<RecordingDelegate>();
    // The queue is held until the listener exists, so its first attempt waits behind the removal.
    std::promise<std::shared_ptr<Vistrel>> made;
    Vistrel::queue().async([future = made.get_future().share()] { future.get()->removeResources(); });
    const auto listener = Vistrel::initNetworkListenerWithDelegateIP(delegate, QString::fromStdString(simulator.address()));
    made.set_value(listener);
    Vistrel::queue().sync([] {});
    EXPECT_EQ(simulator.sessions(), 0);
    EXPECT_EQ(listener->deviceInfo(), nullptr);
    EXPECT_EQ(delegate->connections(), 0u);
}

TEST(Vistrel, FailuresFromSeveralTriggersShareOneRetryTimer)
{
    VistrelSetDiscoveryLoader([]() -> IBMDSwitcherDiscovery* { return new UnansweredDiscovery; });
    const auto delegate = std::make_shared<RecordingDelegate>();
    const auto listener = Vistrel::initUSBListenerWithDelegate(delegate);
    for (int i = 0; i < 4; ++i)
        NotificationCenter::defaultCenter().post(VistrelNetworkDevicesChangedNotification);
    // Five attempts fail at once; one retry follows, and the next one a full interval later.
    ASSERT_TRUE(waitFor([&] { return delegate->failuresWith(kNoAnswer).size() >= 7; }));
    const auto failures = delegate->failuresWith(kNoAnswer);
    EXPECT_GE(failures[6].at - failures[5].at, std::chrono::milliseconds(3900));
    listener->removeResources();
    VistrelSetDiscoveryLoader(nullptr);
}

TEST(Vistrel, WithoutAMixEffectBlockTransitionsDoNothing)
{
    SimulatedSwitcher simulator;
    simulator.setFault(SimulatedSwitcher::Fault::NoMixEffectBlock);
    const auto delegate = std::make_shared<RecordingDelegate>();
    const auto listener = Vistrel::initNetworkListenerWithDelegateIP(delegate, QString::fromStdString(simulator.address()));
    ASSERT_TRUE(waitFor([&] { return delegate->connections() == 1; }));
    EXPECT_EQ(listener->getPreviewInput(), -1);
    listener->performCutToInput(inputWithId(delegate->lastDevice(), 3));
    listener->performAutoToInput(inputWithId(delegate->lastDevice(), 3));
    Vistrel::queue().sync([] {});
    EXPECT_TRUE(simulator.commands().empty());
    listener->removeResources();
}

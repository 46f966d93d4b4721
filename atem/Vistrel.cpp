#include "Vistrel.h"

#include "BMDSwitcherAPI.h"
#include "VistrelCallbacks.h"
#include "VistrelDeviceBrowser.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"
#include "Zeroconf.h"

#include <QStringDecoder>

const QString VistrelErrorDomain = QStringLiteral("com.dalvek.Vistrel");
const QString VistrelNetworkDevicesChangedNotification = QStringLiteral("VistrelNetworkDevicesChangedNotification");
const double VistrelVersionNumber = 1.0;
const char VistrelVersionString[] = "@(#)PROGRAM:Vistrel  PROJECT:Vistrel-1\n";

namespace {

constexpr double kRetryInterval = 4.0;

std::mutex& loaderMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::function<IBMDSwitcherDiscovery*()>& loader()
{
    static std::function<IBMDSwitcherDiscovery*()> function;
    return function;
}

std::shared_ptr<Zeroconf>& zeroconfSlot()
{
    static std::shared_ptr<Zeroconf> zeroconf;
    return zeroconf;
}

// The library's state, made on first use and kept for the life of the process (its queue and
// browser must outlive every listener, whatever the order of static destruction).
struct Shared {
    DispatchQueue queue{"VistrelQueue"};
    std::unique_ptr<VistrelDeviceBrowser> browser;
};

Shared& shared()
{
    static Shared* state = [] {
        auto* made = new Shared;
        std::shared_ptr<Zeroconf> zeroconf = zeroconfSlot();
        made->browser = std::make_unique<VistrelDeviceBrowser>(zeroconf ? zeroconf : Zeroconf::system(), made->queue);
        return made;
    }();
    return *state;
}

QString failureText(BMDSwitcherConnectToFailure reason)
{
    switch (reason) {
    case bmdSwitcherConnectToFailureNoResponse: return QStringLiteral("The switcher did not respond.  I'll keep trying…");
    case bmdSwitcherConnectToFailureIncompatibleFirmware:
        return QStringLiteral("The software on the switcher is incompatible with this version of the switcher SDK.");
    case bmdSwitcherConnectToFailureCorruptData: return QStringLiteral("Corrupt data was received.  I'll try again…");
    case bmdSwitcherConnectToFailureStateSync: return QStringLiteral("State synchronisation failed.  I'll try again…");
    case bmdSwitcherConnectToFailureStateSyncTimedOut:
        return QStringLiteral("State synchronisation timed out.  I'll try again…");
    default: return QString::asprintf("IBMDSwitcherDiscovery::ConnectTo returned error %08x", reason);
    }
}

std::optional<QString> utf8UpToZero(QByteArray bytes)
{
    if (const qsizetype zero = bytes.indexOf('\0'); zero >= 0)
        bytes.truncate(zero);
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text.isNull() ? QString(QLatin1String("")) : text;
}

}  // namespace

extern "C" IBMDSwitcherDiscovery* CreateBMDSwitcherDiscoveryInstance()
{
    std::function<IBMDSwitcherDiscovery*()> load;
    {
        std::lock_guard lock(loaderMutex());
        load = loader();
    }
    return load ? load() : GetBMDSwitcherDiscoveryInstance_0009();
}

void VistrelSetDiscoveryLoader(std::function<IBMDSwitcherDiscovery*()> function)
{
    std::lock_guard lock(loaderMutex());
    loader() = std::move(function);
}

std::optional<QString> stringWithUnterminatedData(const QByteArray* data)
{
    if (!data)
        return QString(QLatin1String(""));
    return utf8UpToZero(*data);
}

std::optional<QString> stringWithFourCC(uint32_t code)
{
    const char bytes[4] = {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
    return utf8UpToZero(QByteArray(bytes, 4));
}

// --- Callbacks ---------------------------------------------------------------------------------

HRESULT VistrelBMDSwitcherCallback::Notify(BMDSwitcherEventType eventType, BMDSwitcherVideoMode)
{
    if (eventType == bmdSwitcherEventTypeDisconnected) {
        if (const auto listener = listener_.lock())
            listener->didDisconnect();
    }
    return S_OK;
}

HRESULT VistrelBMDSwitcherInputCallback::Notify(BMDSwitcherInputEventType eventType)
{
    if (eventType != bmdSwitcherInputEventTypeIsProgramTalliedChanged)
        return S_OK;
    Vistrel::queue().async([weak = input_] {
        const auto input = weak.lock();
        if (!input || !input->bmdInput)
            return;  // let go of meanwhile
        bool tallied = false;
        if (input->bmdInput->IsProgramTallied(&tallied) == S_OK)
            input->isProgramTallied = tallied;
        if (const auto delegate = input->delegate())
            delegate->statusChangedForInput(input, input->deviceInfo());
    });
    return S_OK;
}

// --- Listener ----------------------------------------------------------------------------------

std::shared_ptr<Vistrel> Vistrel::make(std::weak_ptr<VistrelDelegate> delegate, std::optional<QString> deviceID,
                                       std::optional<QString> manualIP)
{
    auto listener = std::make_shared<Vistrel>();
    listener->delegate_ = std::move(delegate);
    listener->deviceID_ = std::move(deviceID);
    listener->manualIP_ = std::move(manualIP);
    listener->bmdSwitcherCallback_ = new VistrelBMDSwitcherCallback(listener);
    listener->connectIfNeeded();
    const std::weak_ptr<Vistrel> weak = listener;
    listener->observer_ = NotificationCenter::defaultCenter().addObserver(
        listener.get(), VistrelNetworkDevicesChangedNotification, nullptr, [weak](const Notification&) {
            if (const auto self = weak.lock())
                self->connectIfNeeded();
        });
    return listener;
}

std::shared_ptr<Vistrel> Vistrel::initNetworkListenerWithDelegate(std::weak_ptr<VistrelDelegate> delegate,
                                                                  const QString& deviceID)
{
    return make(std::move(delegate), deviceID.isNull() ? std::nullopt : std::optional<QString>(deviceID), std::nullopt);
}

std::shared_ptr<Vistrel> Vistrel::initNetworkListenerWithDelegateIP(std::weak_ptr<VistrelDelegate> delegate,
                                                                    const QString& deviceIP)
{
    return make(std::move(delegate), std::nullopt, deviceIP.isNull() ? QString(QLatin1String("")) : deviceIP);
}

std::shared_ptr<Vistrel> Vistrel::initUSBListenerWithDelegate(std::weak_ptr<VistrelDelegate> delegate)
{
    return make(std::move(delegate), std::nullopt, std::nullopt);
}

Vistrel::~Vistrel()
{
    // Normally removeResources has let go of everything; an owner that did not call it leaves no
    // switcher behind either.
    NotificationCenter::defaultCenter().removeObserver(observer_);
    clearSwitcherDevice();
    if (bmdSwitcherCallback_)
        bmdSwitcherCallback_->Release();
}

DispatchQueue& Vistrel::queue()
{
    return shared().queue;
}

void Vistrel::setZeroconf(std::shared_ptr<Zeroconf> zeroconf)
{
    zeroconfSlot() = std::move(zeroconf);
}

std::vector<std::shared_ptr<QVTAtemDeviceInfo>> Vistrel::networkDevices()
{
    return shared().browser->networkDevices();
}

bool Vistrel::isAtemDriverInstalled()
{
    IBMDSwitcherDiscovery* discovery = CreateBMDSwitcherDiscoveryInstance();
    if (!discovery)
        return false;
    discovery->Release();
    return true;
}

std::optional<QString> Vistrel::deviceID() const
{
    std::lock_guard lock(mutex_);
    return deviceID_;
}

std::optional<QString> Vistrel::manualIP() const
{
    std::lock_guard lock(mutex_);
    return manualIP_;
}

std::shared_ptr<QVTAtemDeviceInfo> Vistrel::deviceInfo() const
{
    std::lock_guard lock(mutex_);
    return deviceInfo_;
}

std::shared_ptr<VistrelDelegate> Vistrel::delegate() const
{
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void Vistrel::connectIfNeeded()
{
    queue().async([self = shared_from_this()] { self->attempt(); });
}

void Vistrel::report(const QString& text)
{
    if (const auto receiver = delegate())
        receiver->connectionFailed(VistrelError{VistrelErrorDomain, 0, text});
}

void Vistrel::scheduleRetry()
{
    // One pending retry per listener, however many attempts fail meanwhile.
    DispatchQueue::main().async([weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self || self->retryPending_)
            return;
        self->retryPending_ = true;
        DispatchQueue::main().asyncAfter(kRetryInterval, [weak] {
            if (const auto listener = weak.lock()) {
                listener->retryPending_ = false;
                listener->connectIfNeeded();
            }
        });
    });
}

void Vistrel::attempt()
{
    if (removed_ || switcherDevice_)
        return;
    QString address;
    std::shared_ptr<QVTAtemDeviceInfo> record;
    if (const auto ip = manualIP()) {
        address = *ip;
    } else if (const auto id = deviceID()) {
        for (const auto& device : shared().browser->devicesOnQueue()) {
            if (device->deviceID() == *id) {
                record = device;
                address = device->ip();
            }
        }
        if (address.isEmpty()) {
            report(QStringLiteral("Couldn't find a Blackmagic ATEM device with the specified unique ID.  I'll continue to "
                                  "watch for it…"));
            return;
        }
    }
    IBMDSwitcherDiscovery* discovery = CreateBMDSwitcherDiscoveryInstance();
    if (!discovery) {
        report(QStringLiteral(
            "Couldn't access the Blackmagic ATEM API.  Maybe the Blackmagic ATEM Switchers driver isn't installed?"));
        return;
    }
    BMDSwitcherConnectToFailure reason = 0;
    const HRESULT connected = discovery->ConnectTo(address.toStdString(), &switcherDevice_, &reason);
    discovery->Release();
    if (connected < 0) {
        switcherDevice_ = nullptr;
        report(QStringLiteral("Couldn't connect to the Blackmagic ATEM device: %1").arg(failureText(reason)));
        scheduleRetry();
        return;
    }
    if (!record) {
        record = std::make_shared<QVTAtemDeviceInfo>(QLatin1String(""), QString(), QLatin1String(""), QLatin1String(""));
        std::string name;
        if (switcherDevice_->GetProductName(&name) == S_OK)
            record->setProductName(QString::fromStdString(name));
    }
    if (const HRESULT result = switcherDevice_->AddCallback(bmdSwitcherCallback_); result < 0) {
        report(QString::asprintf("Couldn't add a Blackmagic ATEM switcher callback: error %08x", uint32_t(result)));
        return;
    }
    IBMDSwitcherInputIterator* inputs = nullptr;
    if (const HRESULT result = switcherDevice_->CreateIterator(IID_IBMDSwitcherInputIterator, reinterpret_cast<void**>(&inputs));
        result < 0) {
        report(QString::asprintf("Couldn't get a list of the Blackmagic ATEM device's input ports: error %08x", uint32_t(result)));
        return;
    }
    const std::weak_ptr<VistrelDelegate> inputDelegate = [this] {
        std::lock_guard lock(mutex_);
        return delegate_;
    }();
    QVTAtemDeviceInfo::Inputs list;
    IBMDSwitcherInput* bmdInput = nullptr;
    while (inputs->Next(&bmdInput) == S_OK) {
        auto input = QVTAtemInput::initWithDevice(record, inputDelegate);
        input->bmdInput = bmdInput;
        BMDSwitcherInputId id = 0;
        if (bmdInput->GetInputId(&id) == S_OK)
            input->id = id;
        BMDSwitcherPortType type = 0;
        if (bmdInput->GetPortType(&type) == S_OK)
            input->portType = stringWithFourCC(type).value_or(QString());
        std::string name;
        if (bmdInput->GetShortName(&name) == S_OK)
            input->shortName = QString::fromStdString(name);
        if (bmdInput->GetLongName(&name) == S_OK)
            input->longName = QString::fromStdString(name);
        bool tallied = false;
        if (bmdInput->IsProgramTallied(&tallied) == S_OK)
            input->isProgramTallied = tallied;
        if (bmdInput->IsPreviewTallied(&tallied) == S_OK)
            input->isPreviewTallied = tallied;
        if (const HRESULT result = bmdInput->AddCallback(input->bmdSwitcherInputCallback()); result < 0)
            report(QString::asprintf("Couldn't add a Blackmagic ATEM input callback: error %08x", uint32_t(result)));
        list.push_back(std::move(input));
    }
    record->setInputs(std::move(list));
    heldRecord_ = record;
    inputs->Release();
    IBMDSwitcherMixEffectBlockIterator* blocks = nullptr;
    if (switcherDevice_->CreateIterator(IID_IBMDSwitcherMixEffectBlockIterator, reinterpret_cast<void**>(&blocks)) < 0)
        return;
    (void)blocks->Next(&mixEffectBlock_);
    blocks->Release();
    {
        std::lock_guard lock(mutex_);
        deviceInfo_ = record;
    }
    if (const auto receiver = delegate())
        receiver->connectedToDevice(record);
}

void Vistrel::clearSwitcherDevice()
{
    if (heldRecord_) {
        for (const auto& input : heldRecord_->inputs().value_or(QVTAtemDeviceInfo::Inputs{})) {
            if (!input->bmdInput)
                continue;
            input->bmdInput->RemoveCallback(input->bmdSwitcherInputCallback());
            input->bmdInput->Release();
            input->bmdInput = nullptr;
        }
        heldRecord_->setInputs(std::nullopt);
        heldRecord_.reset();
    }
    {
        std::lock_guard lock(mutex_);
        deviceInfo_.reset();
    }
    if (mixEffectBlock_) {
        mixEffectBlock_->Release();
        mixEffectBlock_ = nullptr;
    }
    if (switcherDevice_) {
        switcherDevice_->RemoveCallback(bmdSwitcherCallback_);
        switcherDevice_->Release();
        switcherDevice_ = nullptr;
    }
}

void Vistrel::didDisconnect()
{
    queue().async([self = shared_from_this()] {
        if (self->removed_)
            return;
        self->report(QStringLiteral("Lost the connection to the Blackmagic ATEM device.  I'll try to reconnect…"));
        self->clearSwitcherDevice();
        self->connectIfNeeded();
    });
}

void Vistrel::removeResources()
{
    {
        std::lock_guard lock(mutex_);
        delegate_.reset();
    }
    removed_ = true;
    queue().sync([this] {
        clearSwitcherDevice();
        if (bmdSwitcherCallback_) {
            bmdSwitcherCallback_->Release();
            bmdSwitcherCallback_ = nullptr;
        }
    });
    NotificationCenter::defaultCenter().removeObserver(observer_);
    observer_ = 0;
}

int64_t Vistrel::getPreviewInput()
{
    int64_t preview = -1;
    queue().sync([&] {
        BMDSwitcherInputId id = 0;
        if (mixEffectBlock_ && mixEffectBlock_->GetPreviewInput(&id) == S_OK)
            preview = id;
    });
    return preview;
}

void Vistrel::transition(const std::shared_ptr<QVTAtemInput>& input, bool cut)
{
    if (!input)
        return;
    queue().async([self = shared_from_this(), id = input->id, cut] {
        IBMDSwitcherMixEffectBlock* block = self->mixEffectBlock_;
        if (!block || self->removed_)
            return;
        (void)block->SetPreviewInput(id);
        (void)(cut ? block->PerformCut() : block->PerformAutoTransition());
    });
}

void Vistrel::performCutToInput(const std::shared_ptr<QVTAtemInput>& input)
{
    transition(input, true);
}

void Vistrel::performAutoToInput(const std::shared_ptr<QVTAtemInput>& input)
{
    transition(input, false);
}

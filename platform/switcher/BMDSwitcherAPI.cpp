#include "BMDSwitcherAPI.h"

#include "BMDRefCounted.h"

#include "SwitcherSession.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

std::atomic<uint16_t> controlPort{switcherwire::kDefaultPort};

// A reference held while it is used.
template <class T>
struct Held {
    explicit Held(T* object) : object(object) { object->AddRef(); }
    Held(const Held& other) : Held(other.object) {}
    Held& operator=(const Held&) = delete;
    ~Held() { object->Release(); }
    T* object;
};

// What the switcher and its inputs share: the session and the callbacks registered on them.
// The session's handlers reach it weakly, on the session's thread.
class Hub {
public:
    explicit Hub(std::shared_ptr<SwitcherSession> session) : session(std::move(session)) {}

    const std::shared_ptr<SwitcherSession> session;

    HRESULT add(IBMDSwitcherCallback* callback) { return addTo(switcherCallbacks_, callback); }
    HRESULT remove(IBMDSwitcherCallback* callback) { return removeFrom(switcherCallbacks_, callback); }
    HRESULT add(uint16_t input, IBMDSwitcherInputCallback* callback) { return addTo(inputCallbacks_[input], callback); }
    HRESULT remove(uint16_t input, IBMDSwitcherInputCallback* callback)
    {
        return removeFrom(inputCallbacks_[input], callback);
    }

    void disconnected()
    {
        for (const auto& callback : snapshot(switcherCallbacks_))
            callback.object->Notify(bmdSwitcherEventTypeDisconnected, 0);
    }
    void programTallyChanged(uint16_t input)
    {
        for (const auto& callback : snapshot(inputCallbacks_[input]))
            callback.object->Notify(bmdSwitcherInputEventTypeIsProgramTalliedChanged);
    }

    void releaseAll()
    {
        std::lock_guard lock(mutex_);
        for (IBMDSwitcherCallback* callback : switcherCallbacks_)
            callback->Release();
        switcherCallbacks_.clear();
        for (auto& [input, callbacks] : inputCallbacks_) {
            for (IBMDSwitcherInputCallback* callback : callbacks)
                callback->Release();
        }
        inputCallbacks_.clear();
    }

private:
    template <class T>
    HRESULT addTo(std::vector<T*>& list, T* callback)
    {
        if (!callback)
            return E_POINTER;
        std::lock_guard lock(mutex_);
        callback->AddRef();
        list.push_back(callback);
        return S_OK;
    }
    template <class T>
    HRESULT removeFrom(std::vector<T*>& list, T* callback)
    {
        std::lock_guard lock(mutex_);
        const auto it = std::find(list.begin(), list.end(), callback);
        if (it == list.end())
            return E_INVALIDARG;
        list.erase(it);
        callback->Release();
        return S_OK;
    }
    // The callbacks to notify, each held through its call so that a removal meanwhile only
    // gives up the list's reference.
    template <class T>
    std::vector<Held<T>> snapshot(const std::vector<T*>& list)
    {
        std::lock_guard lock(mutex_);
        std::vector<Held<T>> out;
        for (T* callback : list)
            out.emplace_back(callback);
        return out;
    }

    std::mutex mutex_;
    std::vector<IBMDSwitcherCallback*> switcherCallbacks_;
    std::map<uint16_t, std::vector<IBMDSwitcherInputCallback*>> inputCallbacks_;
};

class Input final : public BMDRefCounted<IBMDSwitcherInput> {
public:
    Input(std::shared_ptr<Hub> hub, uint16_t id) : hub_(std::move(hub)), id_(id) {}

    HRESULT GetInputId(BMDSwitcherInputId* id) override
    {
        if (!id)
            return E_POINTER;
        *id = id_;
        return S_OK;
    }
    HRESULT GetPortType(BMDSwitcherPortType* type) override
    {
        return read(type, [](const SwitcherSession::Input& input) {
            return switcherwire::portTypeCode(input.properties.portType);
        });
    }
    HRESULT GetShortName(std::string* name) override
    {
        return read(name, [](const SwitcherSession::Input& input) { return input.properties.shortName; });
    }
    HRESULT GetLongName(std::string* name) override
    {
        return read(name, [](const SwitcherSession::Input& input) { return input.properties.longName; });
    }
    HRESULT IsProgramTallied(bool* tallied) override
    {
        return read(tallied, [](const SwitcherSession::Input& input) { return input.program; });
    }
    HRESULT IsPreviewTallied(bool* tallied) override
    {
        return read(tallied, [](const SwitcherSession::Input& input) { return input.preview; });
    }
    HRESULT AddCallback(IBMDSwitcherInputCallback* callback) override { return hub_->add(id_, callback); }
    HRESULT RemoveCallback(IBMDSwitcherInputCallback* callback) override { return hub_->remove(id_, callback); }

private:
    template <class T, class Read>
    HRESULT read(T* out, Read readField) const
    {
        if (!out)
            return E_POINTER;
        const auto input = hub_->session->input(id_);
        if (!input)
            return E_FAIL;
        *out = readField(*input);
        return S_OK;
    }

    std::shared_ptr<Hub> hub_;
    uint16_t id_;
};

class MixEffectBlock final : public BMDRefCounted<IBMDSwitcherMixEffectBlock> {
public:
    explicit MixEffectBlock(std::shared_ptr<Hub> hub) : hub_(std::move(hub)) {}

    HRESULT GetPreviewInput(BMDSwitcherInputId* id) override
    {
        if (!id)
            return E_POINTER;
        const auto preview = hub_->session->previewInput();
        if (!preview)
            return E_FAIL;
        *id = *preview;
        return S_OK;
    }
    HRESULT SetPreviewInput(BMDSwitcherInputId id) override
    {
        if (id < 0 || id > 0xFFFF)
            return E_INVALIDARG;
        hub_->session->setPreviewInput(uint16_t(id));
        return S_OK;
    }
    HRESULT PerformCut() override
    {
        hub_->session->performCut();
        return S_OK;
    }
    HRESULT PerformAutoTransition() override
    {
        hub_->session->performAuto();
        return S_OK;
    }

private:
    std::shared_ptr<Hub> hub_;
};

class InputIterator final : public BMDRefCounted<IBMDSwitcherInputIterator> {
public:
    explicit InputIterator(std::shared_ptr<Hub> hub) : hub_(std::move(hub)), inputs_(hub_->session->inputs()) {}

    HRESULT Next(IBMDSwitcherInput** input) override
    {
        if (!input)
            return E_POINTER;
        *input = nullptr;
        if (next_ >= inputs_.size())
            return S_FALSE;
        *input = new Input(hub_, inputs_[next_++].properties.id);
        return S_OK;
    }

private:
    std::shared_ptr<Hub> hub_;
    std::vector<SwitcherSession::Input> inputs_;
    size_t next_ = 0;
};

class MixEffectBlockIterator final : public BMDRefCounted<IBMDSwitcherMixEffectBlockIterator> {
public:
    // Mix-effect block 0 is the one we drive; a switcher without blocks gives none.
    explicit MixEffectBlockIterator(std::shared_ptr<Hub> hub) : hub_(std::move(hub)), left_(hub_->session->mixEffectBlocks() > 0) {}

    HRESULT Next(IBMDSwitcherMixEffectBlock** block) override
    {
        if (!block)
            return E_POINTER;
        *block = nullptr;
        if (!left_)
            return S_FALSE;
        left_ = false;
        *block = new MixEffectBlock(hub_);
        return S_OK;
    }

private:
    std::shared_ptr<Hub> hub_;
    bool left_;
};

class Switcher final : public BMDRefCounted<IBMDSwitcher> {
public:
    explicit Switcher(std::shared_ptr<SwitcherSession> session) : hub_(std::make_shared<Hub>(std::move(session)))
    {
        const std::weak_ptr<Hub> hub = hub_;
        hub_->session->setHandlers({[hub] {
                                        if (const auto locked = hub.lock())
                                            locked->disconnected();
                                    },
                                    [hub](uint16_t input) {
                                        if (const auto locked = hub.lock())
                                            locked->programTallyChanged(input);
                                    }});
    }
    ~Switcher() override
    {
        // The session ends with the switcher: no event is delivered afterwards, and the
        // callbacks still registered are given up.
        hub_->session->close();
        hub_->releaseAll();
    }

    HRESULT GetProductName(std::string* name) override
    {
        if (!name)
            return E_POINTER;
        *name = hub_->session->productName();
        return S_OK;
    }
    HRESULT AddCallback(IBMDSwitcherCallback* callback) override { return hub_->add(callback); }
    HRESULT RemoveCallback(IBMDSwitcherCallback* callback) override { return hub_->remove(callback); }
    HRESULT CreateIterator(REFIID iid, void** iterator) override
    {
        if (!iterator)
            return E_POINTER;
        *iterator = nullptr;
        if (iid == IID_IBMDSwitcherInputIterator)
            *iterator = static_cast<IBMDSwitcherInputIterator*>(new InputIterator(hub_));
        else if (iid == IID_IBMDSwitcherMixEffectBlockIterator)
            *iterator = static_cast<IBMDSwitcherMixEffectBlockIterator*>(new MixEffectBlockIterator(hub_));
        else
            return E_NOINTERFACE;
        return S_OK;
    }

private:
    std::shared_ptr<Hub> hub_;
};

class Discovery final : public BMDRefCounted<IBMDSwitcherDiscovery> {
public:
    HRESULT ConnectTo(const std::string& address, IBMDSwitcher** switcher, BMDSwitcherConnectToFailure* failure) override
    {
        if (!switcher || !failure)
            return E_POINTER;
        *switcher = nullptr;
        std::string host = address;
        uint16_t port = BMDSwitcherControlPort();
        if (const size_t colon = address.find(':'); colon != std::string::npos) {
            host = address.substr(0, colon);
            const char* first = address.data() + colon + 1;
            const char* last = address.data() + address.size();
            if (std::from_chars(first, last, port).ptr != last)
                host.clear();
        }
        uint32_t reason = 0;
        auto session = SwitcherSession::connect(host, port, SwitcherSession::Timing{}, &reason);
        if (!session) {
            *failure = reason;
            return E_FAIL;
        }
        *switcher = new Switcher(std::move(session));
        return S_OK;
    }
};

}  // namespace

extern "C" IBMDSwitcherDiscovery* GetBMDSwitcherDiscoveryInstance_0009()
{
    return new Discovery;
}

extern "C" void BMDSwitcherSetControlPort(uint16_t port)
{
    controlPort = port;
}

extern "C" uint16_t BMDSwitcherControlPort()
{
    return controlPort;
}

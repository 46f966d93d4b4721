#pragma once
// The switcher interface the Vistrel library is written against: reference-counted objects
// with HRESULT results and four-letter codes, exactly the calls the library makes. Behind them
// is our own client of the switcher's UDP control protocol (SwitcherProtocol.h says which
// messages, fields and protocol version we use; SwitcherSession.h runs a session).
//
// What it covers: the product name, the inputs (id, names, port type, program and preview
// tally), the preview input of mix-effect block 0, and set-preview, cut and auto there. Events:
// 'sedi' on the switcher when it falls silent, 'ipgt' on an input whose program tally changed;
// both arrive on the session's own thread. An address is IPv4 text, optionally with ":port"
// (default BMDSwitcherControlPort()). The empty address means a switcher on USB, which has no transport here: it
// fails as 'cfnr'.

#include <array>
#include <cstdint>
#include <string>

using HRESULT = int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOINTERFACE = HRESULT(0x80000004);
inline constexpr HRESULT E_POINTER = HRESULT(0x80000005);
inline constexpr HRESULT E_FAIL = HRESULT(0x80004005);
inline constexpr HRESULT E_INVALIDARG = HRESULT(0x80070057);

// A 16-byte interface id.
struct CFUUIDBytes {
    std::array<uint8_t, 16> bytes{};
    bool operator==(const CFUUIDBytes&) const = default;
};
using REFIID = const CFUUIDBytes&;

inline constexpr CFUUIDBytes IID_IUnknown{{0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr CFUUIDBytes IID_IBMDSwitcherInputIterator{
    {0x5E, 0xA5, 0xF5, 0x12, 0x4E, 0x54, 0x45, 0x95, 0x98, 0x53, 0xBA, 0x1F, 0xCA, 0x71, 0xCD, 0xAF}};
inline constexpr CFUUIDBytes IID_IBMDSwitcherMixEffectBlockIterator{
    {0xEA, 0x8D, 0x1E, 0x06, 0x4A, 0x59, 0x47, 0xEF, 0xAF, 0x68, 0xC7, 0xF0, 0x74, 0xA3, 0x5F, 0xE9}};
// Ours: the callback interfaces answer no id but IUnknown's.
inline constexpr CFUUIDBytes IID_IBMDSwitcherCallback{{'K', 'v', 's', 'w', 'c', 'b', 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}};
inline constexpr CFUUIDBytes IID_IBMDSwitcherInputCallback{{'K', 'v', 's', 'w', 'c', 'b', 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}};

using BMDSwitcherEventType = uint32_t;
using BMDSwitcherVideoMode = uint32_t;
using BMDSwitcherInputEventType = uint32_t;
using BMDSwitcherConnectToFailure = uint32_t;
using BMDSwitcherPortType = uint32_t;
using BMDSwitcherInputId = int64_t;

inline constexpr BMDSwitcherEventType bmdSwitcherEventTypeDisconnected = 0x73656469;               // 'sedi'
inline constexpr BMDSwitcherInputEventType bmdSwitcherInputEventTypeIsProgramTalliedChanged = 0x69706774;  // 'ipgt'
inline constexpr BMDSwitcherConnectToFailure bmdSwitcherConnectToFailureNoResponse = 0x63666E72;           // 'cfnr'
inline constexpr BMDSwitcherConnectToFailure bmdSwitcherConnectToFailureIncompatibleFirmware = 0x63666966;  // 'cfif'
inline constexpr BMDSwitcherConnectToFailure bmdSwitcherConnectToFailureCorruptData = 0x63666364;          // 'cfcd'
inline constexpr BMDSwitcherConnectToFailure bmdSwitcherConnectToFailureStateSync = 0x63667373;            // 'cfss'
inline constexpr BMDSwitcherConnectToFailure bmdSwitcherConnectToFailureStateSyncTimedOut = 0x63667374;    // 'cfst'

class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID iid, void** out) = 0;
    virtual uint32_t AddRef() = 0;
    // Gives up one reference; the object ends with its last.
    virtual uint32_t Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

class IBMDSwitcherCallback : public IUnknown {
public:
    virtual HRESULT Notify(BMDSwitcherEventType eventType, BMDSwitcherVideoMode coreVideoMode) = 0;
};

class IBMDSwitcherInputCallback : public IUnknown {
public:
    virtual HRESULT Notify(BMDSwitcherInputEventType eventType) = 0;
};

class IBMDSwitcherInput : public IUnknown {
public:
    virtual HRESULT GetInputId(BMDSwitcherInputId* id) = 0;
    virtual HRESULT GetPortType(BMDSwitcherPortType* type) = 0;
    virtual HRESULT GetShortName(std::string* name) = 0;  // UTF-8
    virtual HRESULT GetLongName(std::string* name) = 0;
    virtual HRESULT IsProgramTallied(bool* tallied) = 0;
    virtual HRESULT IsPreviewTallied(bool* tallied) = 0;
    // The switcher holds a reference to the callback until it is removed.
    virtual HRESULT AddCallback(IBMDSwitcherInputCallback* callback) = 0;
    virtual HRESULT RemoveCallback(IBMDSwitcherInputCallback* callback) = 0;
};

class IBMDSwitcherMixEffectBlock : public IUnknown {
public:
    virtual HRESULT GetPreviewInput(BMDSwitcherInputId* id) = 0;
    virtual HRESULT SetPreviewInput(BMDSwitcherInputId id) = 0;
    virtual HRESULT PerformCut() = 0;
    virtual HRESULT PerformAutoTransition() = 0;
};

// Next answers S_OK with a new reference, S_FALSE past the end.
class IBMDSwitcherInputIterator : public IUnknown {
public:
    virtual HRESULT Next(IBMDSwitcherInput** input) = 0;
};

class IBMDSwitcherMixEffectBlockIterator : public IUnknown {
public:
    virtual HRESULT Next(IBMDSwitcherMixEffectBlock** block) = 0;
};

class IBMDSwitcher : public IUnknown {
public:
    virtual HRESULT GetProductName(std::string* name) = 0;
    virtual HRESULT AddCallback(IBMDSwitcherCallback* callback) = 0;
    virtual HRESULT RemoveCallback(IBMDSwitcherCallback* callback) = 0;
    // IID_IBMDSwitcherInputIterator or IID_IBMDSwitcherMixEffectBlockIterator.
    virtual HRESULT CreateIterator(REFIID iid, void** iterator) = 0;
};

class IBMDSwitcherDiscovery : public IUnknown {
public:
    // Blocks until the switcher's state is read (S_OK, a new switcher reference) or the attempt
    // fails (E_FAIL with the reason: 'cfnr', 'cfif', 'cfcd', 'cfss', 'cfst').
    virtual HRESULT ConnectTo(const std::string& address, IBMDSwitcher** switcher,
                              BMDSwitcherConnectToFailure* failure) = 0;
};

// A new discovery object (one reference).
extern "C" IBMDSwitcherDiscovery* GetBMDSwitcherDiscoveryInstance_0009();
// The UDP port of addresses given without one: 9910 unless a test chose another. Any thread.
extern "C" void BMDSwitcherSetControlPort(uint16_t port);
extern "C" uint16_t BMDSwitcherControlPort();

#pragma once
// The listener's callback objects on the switcher interface. Internal to the library.

#include "BMDRefCounted.h"

#include <memory>

class QVTAtemInput;
class Vistrel;

// The base of the callbacks: the count and QueryInterface of BMDRefCounted.
template <class Interface>
class VistrelIUnknown : public BMDRefCounted<Interface> {};

// 'sedi' (the switcher fell silent) tells the listener; other events are ignored.
class VistrelBMDSwitcherCallback final : public VistrelIUnknown<IBMDSwitcherCallback> {
public:
    explicit VistrelBMDSwitcherCallback(std::weak_ptr<Vistrel> listener) : listener_(std::move(listener)) {}
    HRESULT Notify(BMDSwitcherEventType eventType, BMDSwitcherVideoMode coreVideoMode) override;

private:
    std::weak_ptr<Vistrel> listener_;
};

// 'ipgt' (program tally changed): on "VistrelQueue", reads the input's program tally and tells
// the input's delegate; other events are ignored.
class VistrelBMDSwitcherInputCallback final : public VistrelIUnknown<IBMDSwitcherInputCallback> {
public:
    explicit VistrelBMDSwitcherInputCallback(std::weak_ptr<QVTAtemInput> input) : input_(std::move(input)) {}
    HRESULT Notify(BMDSwitcherInputEventType eventType) override;

private:
    std::weak_ptr<QVTAtemInput> input_;
};

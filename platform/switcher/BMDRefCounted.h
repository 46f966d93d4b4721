#pragma once
// The reference count of the switcher interface's objects, shared with the callback objects that
// clients implement: starts at 1, changed atomically, the object ends with its last reference.
// QueryInterface answers IUnknown's id only (E_POINTER for a null out-pointer, E_NOINTERFACE for
// every other id, the object's own interface's included).

#include "BMDSwitcherAPI.h"

#include <atomic>

template <class Interface>
class BMDRefCounted : public Interface {
public:
    HRESULT QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!(iid == IID_IUnknown))
            return E_NOINTERFACE;
        AddRef();
        *out = static_cast<IUnknown*>(this);
        return S_OK;
    }
    uint32_t AddRef() override { return ++count_; }
    uint32_t Release() override
    {
        const uint32_t left = --count_;
        if (left == 0)
            delete this;
        return left;
    }

private:
    std::atomic<uint32_t> count_{1};
};

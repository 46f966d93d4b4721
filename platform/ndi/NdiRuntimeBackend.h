#pragma once
// The NDI runtime, loaded at run time: libndi.so.6, else libndi.so.5, each tried first in
// $NDI_RUNTIME_DIR_V6 or $NDI_RUNTIME_DIR_V5 and then on the library path. Nothing links
// against it: every function is looked up by its exported name and the structures are declared
// here from the runtime's public documentation. Not packaged for Debian; users install it.

#include "NdiBackend.h"

class NdiRuntimeBackend : public ndi::NdiBackend {
public:
    // The loaded and initialised runtime, or nullptr (with the reason in `why`).
    static std::unique_ptr<NdiRuntimeBackend> load(std::string* why = nullptr);
    ~NdiRuntimeBackend() override;

    const char* name() const override { return "runtime"; }
    std::unique_ptr<ndi::Finder> createFinder() override;
    std::unique_ptr<ndi::Sender> createSender(const std::string& name) override;
    std::unique_ptr<ndi::Receiver> createReceiver(const ndi::Source& source, ndi::ColorFormat format,
                                                  const std::string& receiverName) override;
    bool v210ToP216(const ndi::VideoFrame& from, ndi::VideoFrame& to) override;
    bool p216ToV210(const ndi::VideoFrame& from, ndi::VideoFrame& to) override;

    struct Functions;

private:
    NdiRuntimeBackend(void* handle, std::unique_ptr<Functions> functions);
    void* handle_;
    std::unique_ptr<Functions> f_;
};

#include "NdiBackend.h"

#include "Log.h"
#include "NdiLoopbackBackend.h"
#include "NdiRuntimeBackend.h"

#include <cstdlib>
#include <cstring>

namespace ndi {

NdiBackend& NdiBackend::shared()
{
    static const std::unique_ptr<NdiBackend> backend = [] {
        const char* asked = std::getenv("KAVIO_NDI_BACKEND");
        const bool wantLoopback = asked && std::strcmp(asked, "loopback") == 0;
        std::string why;
        if (!wantLoopback) {
            if (auto runtime = NdiRuntimeBackend::load(&why)) {
                KLOG_INFO("NDI: using the NDI runtime");
                return std::unique_ptr<NdiBackend>(std::move(runtime));
            }
        }
        if (asked && !wantLoopback && std::strcmp(asked, "runtime") != 0)
            KLOG_WARN("NDI: unknown KAVIO_NDI_BACKEND \"{}\"", asked);
        if (wantLoopback)
            KLOG_INFO("NDI: using the loopback backend (asked for)");
        else
            KLOG_WARN("NDI: using the loopback backend: {}", why);
        return std::unique_ptr<NdiBackend>(std::make_unique<NdiLoopbackBackend>());
    }();
    return *backend;
}

}  // namespace ndi

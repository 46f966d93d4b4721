// Fuzzes OSC input with datagrams, as an input of the OSC kit takes them: our checks, then
// liblo's decoding of messages and bundles, then the user info of each message. liblo must
// never find fault with a datagram our checks let through: its error handler ends the run.

#include "FuzzInput.h"
#include "Log.h"
#include "QVTOSCDatagram.h"

namespace {

void libloRefused(int, const char*, const char*) { fuzz::brokenPromise(); }

int onMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void*)
{
    QVTOSCDatagram::userInfoForMessage(path, types, argv, argc);
    return 0;
}

// A server as an input makes one (its socket is never read here), made once per process.
lo_server server()
{
    static const lo_server s = [] {
        const lo_server made = lo_server_new_with_proto(nullptr, LO_UDP, libloRefused);
        if (!made)
            fuzz::brokenPromise();
        lo_server_enable_queue(made, 0, 1);
        lo_server_add_method(made, nullptr, nullptr, onMessage, nullptr);
        return made;
    }();
    return s;
}

}  // namespace

// Skipped keys and dropped datagrams are logged; millions of runs need no such lines.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    KavioLog::logger().set_level(spdlog::level::off);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QVTOSCDatagram::dispatch(server(), reinterpret_cast<const char*>(data), size);
    return 0;
}

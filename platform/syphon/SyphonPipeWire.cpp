#include "SyphonPipeWire.h"

#include "Log.h"

#include <atomic>
#include <mutex>

namespace {

void onCoreDone(void* data, uint32_t id, int seq)
{
    auto* connection = static_cast<SyphonConnection*>(data);
    if (id == PW_ID_CORE && seq == connection->pendingSeq) {
        connection->synced = true;
        pw_thread_loop_signal(connection->loop, false);
    }
}

pw_core_events coreEvents()
{
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.done = onCoreDone;
    return events;
}
const pw_core_events kCoreEvents = coreEvents();

}  // namespace

SyphonConnection::SyphonConnection(const char* loopName)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
    loop = pw_thread_loop_new(loopName, nullptr);
    if (!loop)
        return;
    context = pw_context_new(pw_thread_loop_get_loop(loop), nullptr, 0);
    if (!context || pw_thread_loop_start(loop) < 0)
        return;
    pw_thread_loop_lock(loop);
    core = pw_context_connect(context, nullptr, 0);
    if (core)
        pw_core_add_listener(core, &coreListener, &kCoreEvents, this);
    pw_thread_loop_unlock(loop);
    if (!core) {
        static std::atomic<bool> logged{false};
        if (!logged.exchange(true))
            KLOG_ERROR("no PipeWire daemon: frame sharing is off");
    }
}

SyphonConnection::~SyphonConnection()
{
    if (loop)
        pw_thread_loop_stop(loop);
    if (core) {
        spa_hook_remove(&coreListener);
        pw_core_disconnect(core);
    }
    if (context)
        pw_context_destroy(context);
    if (loop)
        pw_thread_loop_destroy(loop);
}

void SyphonConnection::roundTrip()
{
    if (!core)
        return;
    pw_thread_loop_lock(loop);
    synced = false;
    pendingSeq = pw_core_sync(core, PW_ID_CORE, 0);
    timespec deadline{};
    pw_thread_loop_get_time(loop, &deadline, 5 * SPA_NSEC_PER_SEC);
    while (!synced) {
        if (pw_thread_loop_timed_wait_full(loop, &deadline) != 0)
            break;
    }
    pw_thread_loop_unlock(loop);
}

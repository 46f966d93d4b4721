#pragma once
// Private to the frame-sharing layer: one PipeWire connection on a loop thread of its own.

#include <pipewire/pipewire.h>

#include <string>

struct SyphonConnection {
    // Starts a loop thread and connects to the session's daemon; `connected()` tells whether it
    // answered. The loop is locked only around calls into PipeWire.
    explicit SyphonConnection(const char* loopName);
    ~SyphonConnection();
    SyphonConnection(const SyphonConnection&) = delete;
    SyphonConnection& operator=(const SyphonConnection&) = delete;

    bool connected() const { return core != nullptr; }
    // Waits (up to a few seconds) until the daemon has handled everything sent so far.
    void roundTrip();

    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    spa_hook coreListener{};
    int pendingSeq = -1;
    bool synced = false;
};

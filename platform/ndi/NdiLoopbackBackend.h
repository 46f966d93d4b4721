#pragma once
// The loopback backend: NDI as far as one machine goes, across processes, with no outside
// library. Each sender listens on an ephemeral 127.0.0.1 port and announces itself with one
// small file in the discovery folder ($XDG_RUNTIME_DIR/kavio-ndi/, else /tmp/kavio-ndi-<uid>/):
// its name, "127.0.0.1:<port>" and its process id, one to a line. Finders list those files,
// skipping (and removing) the files of processes that are gone. Receivers connect over TCP;
// NdiLoopbackCodec carries video, audio and metadata to them and their tally back.
//
// A receiver's reader thread fills bounded queues (4 video frames, 16 audio frames; the oldest
// drops), so captures never wait and a slow receiver never holds a sender up for long: a send
// that cannot go out within two seconds closes that connection. A malformed message closes its
// connection too (logged).

#include "NdiBackend.h"

#include <string>

class NdiLoopbackBackend : public ndi::NdiBackend {
public:
    static constexpr int kVideoQueueLength = 4;
    static constexpr int kAudioQueueLength = 16;

    // Senders' full names: "<HOST> (<name>)", the host name in capitals as the runtime forms it.
    static std::string fullSourceName(const std::string& name);
    // The folder of the discovery files (made on demand).
    static std::string discoveryDirectory();

    const char* name() const override { return "loopback"; }
    std::unique_ptr<ndi::Finder> createFinder() override;
    std::unique_ptr<ndi::Sender> createSender(const std::string& name) override;
    std::unique_ptr<ndi::Receiver> createReceiver(const ndi::Source& source, ndi::ColorFormat format,
                                                  const std::string& receiverName) override;
    bool v210ToP216(const ndi::VideoFrame& from, ndi::VideoFrame& to) override;
    bool p216ToV210(const ndi::VideoFrame& from, ndi::VideoFrame& to) override;
};

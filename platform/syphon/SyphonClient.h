#pragma once
// Reads frame-sharing sources: lists the PipeWire "Video/Source" nodes of the session and
// receives one of them as BGRA, keeping the newest frame.
//
// Threads: any one thread; newestFrame may be called from any thread (it copies under a lock
// that only the client's PipeWire loop thread also takes).

#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

class SyphonClient {
public:
    SyphonClient();
    ~SyphonClient();
    SyphonClient(const SyphonClient&) = delete;
    SyphonClient& operator=(const SyphonClient&) = delete;

    bool isConnected() const;
    // node.name of every video source in the graph now (waits for the daemon's answer).
    QStringList serverNames();
    // Called on the client's PipeWire thread with each frame as it arrives (the same picture
    // newestFrame() answers next). Set before connectToServer.
    using FrameHandler = std::function<void(const QImage& frame)>;
    void setFrameHandler(FrameHandler handler);
    // Starts receiving the source of that node name; false without a daemon.
    bool connectToServer(const QString& nodeName);
    // The newest frame received (premultiplied ARGB32, top row first), or a null image.
    QImage newestFrame() const;
    std::uint64_t frameCount() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

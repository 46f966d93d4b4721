#pragma once
// Frame sharing between programs: one PipeWire video source ("Video/Source") that other Linux
// video programs can read, BGRA at a fixed size and rate in memfd buffers, top row first.
//
// The server connects to the session's PipeWire daemon; without one it logs once ("no PipeWire
// daemon: ...") and publishes nothing. publishFrame copies the newest frame into the server's
// staging buffer and asks the graph for a cycle; PipeWire's own loop thread then moves it into a
// stream buffer, so the caller never waits for a reader.
//
// Threads: make and destroy on any one thread; publishFrame from any thread (one at a time).

#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>

class SyphonServer {
public:
    // A source named `name` of that size and rate (frames per second as a fraction).
    SyphonServer(const QString& name, QSize size, int rateNumerator, int rateDenominator);
    ~SyphonServer();
    SyphonServer(const SyphonServer&) = delete;
    SyphonServer& operator=(const SyphonServer&) = delete;

    const QString& name() const { return name_; }
    QSize size() const { return size_; }
    // False when no daemon answered.
    bool isConnected() const;
    // The node's id in the graph once PipeWire gave one, else 0.
    std::uint32_t nodeId() const;

    // One BGRA frame of the server's size, rows `bytesPerRow` apart, top row first. Frames of
    // another size are dropped.
    void publishFrame(const std::uint8_t* bgra, std::size_t bytesPerRow, QSize size);
    // Frames that reached a stream buffer (tests, benchmarks).
    std::uint64_t publishedCount() const;

    // Ends the stream: the node leaves the graph.
    void stop();

    struct Impl;

private:
    QString name_;
    QSize size_;
    std::unique_ptr<Impl> impl_;
};

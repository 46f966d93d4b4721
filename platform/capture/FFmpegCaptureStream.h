#pragma once
// A capture stream over a libavdevice input (v4l2 or lavfi): a reading thread opens the input,
// decodes what it gives (raw YUYV/UYVY, MJPEG, or a lavfi graph's pictures), converts each
// picture to '2vuy' and hands it on. Internal to this layer.

#include "CaptureDevice.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

class FFmpegCaptureStream : public CaptureStream {
public:
    // `inputFormat` is the libavdevice input's name ("video4linux2", "lavfi"). `paced`: the input
    // gives pictures as fast as it can (lavfi), so delivery waits for each picture's time.
    // `present` is read before every picture: once false the stream ends (a removed device).
    FFmpegCaptureStream(std::string inputFormat, std::string url, std::map<std::string, std::string> options,
                        bool paced, std::shared_ptr<std::atomic<bool>> present,
                        CaptureBackend::FrameHandler onFrame);
    ~FFmpegCaptureStream() override;
    CaptureFormat format() const override;

private:
    void run();
    bool waitUntil(double seconds);

    std::string inputFormat_, url_;
    std::map<std::string, std::string> options_;
    bool paced_;
    std::shared_ptr<std::atomic<bool>> present_;
    CaptureBackend::FrameHandler onFrame_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    CaptureFormat format_;
    std::thread thread_;
};

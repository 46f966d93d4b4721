#pragma once
// What the GO benchmarks share: the cue laid on the clock as the cue's timing lays it, the show
// set up on the cue list controller, a render loop driven by a real render clock on a real GPU,
// the figures' table, and the bare reference: a first frame decoded by libav after a seek and
// uploaded with plain OpenGL on the device's own context.

#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Rendering/KavioRenderClock.h"
#include "Rendering/QVTMetalManager.h"
#include "../KavioBenchSupport.h"
#include "DispatchQueue.h"
#include "GpuCommandBuffer.h"
#include "GpuDevice.h"
#include "UserDefaults.h"
#include "VideoFrame.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QTemporaryDir>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace GoBench {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The run's settings in a folder of its own and its GPU (OpenGL 3.3; run under xvfb-run).
struct Environment {
    QTemporaryDir home;
    bool homeSet = setenv("XDG_CONFIG_HOME", home.path().toUtf8().constData(), 1) == 0;
    UserDefaults defaults{home.filePath(QStringLiteral("bench.conf"))};
    std::shared_ptr<GpuDevice> device = madeDevice();
    QVTMetalManager gpu{device};

    static std::shared_ptr<GpuDevice> madeDevice()
    {
        auto device = GpuDevice::createSystemDefaultDevice();
        check(bool(device), "an OpenGL 3.3 device (run under xvfb-run)");
        return device;
    }
};

inline bool waitFor(const std::function<bool()>& done)
{
    return DispatchQueue::runMainUntil(done, 30.0);
}

// A cue of a fixed number of frames laid on the clock as the cue's timing lays it, whatever its
// media type.
class FixedFramesCue : public KavioVideoItem {
public:
    FixedFramesCue(std::shared_ptr<QVTClock> clock, int number, int frames)
        : KavioVideoItem([](const QVTOSCMessage&) {}), clock_(std::move(clock)), frames_(frames)
    {
        setUid(QStringLiteral("uid-%1").arg(number));
    }
    void setupSMPTEStartAndEndTimes() override
    {
        setOriginalItemStartSMPTETime(clock_->smpteRepresentationOfFrames(0));
        setupSMPTEEndTimeWithStartFrames(0);
    }
    void setupSMPTEEndTimeWithStartFrames(std::int64_t start) override
    {
        const int fps = clock_->framerate();
        setItemStartSMPTETime(clock_->smpteRepresentationOfFrames(std::uint64_t(start)));
        setItemStartCMTime(MediaTime::makeWithSeconds(double(start) / fps, MediaTime::kCueTimescale));
        setItemDuration(float(frames_) / float(fps));
        setItemEndSMPTETime(clock_->smpteRepresentationOfFrames(std::uint64_t(start + frames_ - 1)));
    }

protected:
    std::shared_ptr<QVTClock> clock_;
    int frames_;
};

// The controller of a show of `count` cues made by `make(clock, number)`, at 25 frames a second,
// standing by on the first; `delegate` plays and stops through it.
template <typename Cue, typename Controller = KavioVideoItemManager, typename Make>
std::shared_ptr<Controller> show(UserDefaults& defaults, std::shared_ptr<QVTClockTimeSource> time,
                                 const std::shared_ptr<KavioPlayingBenchDelegate>& delegate, int count, Make make,
                                 std::vector<std::shared_ptr<Cue>>& cues)
{
    auto controller = KavioVideoItemManager::init<Controller>(defaults, std::move(time));
    delegate->controller = controller;
    controller->setDelegate(delegate);
    const auto clock = controller->masterClock();
    clock->setSmpteFormat(QVTClockSMPTEFormat25);
    for (int i = 1; i <= count; ++i) {
        std::shared_ptr<Cue> cue = make(clock, i);
        cue->setManager(controller);
        controller->insertItem(cue, std::uint64_t(i));
        cue->setIsReady(true);
        cues.push_back(cue);
    }
    controller->buildItemQueue();
    controller->setCurrentItem(cues.front());
    DispatchQueue::drainMain();
    return controller;
}

// Output frames from a render clock at a fixed rate, each a render pass of the controller in a
// command buffer of its own, as an output's render clock runs them; it measures the period.
class RenderLoop : public KavioRenderClockDelegate, public std::enable_shared_from_this<RenderLoop> {
public:
    RenderLoop(QVTMetalManager& gpu, KavioVideoItemManager& controller) : gpu_(gpu), controller_(controller) {}
    void start(int fps)
    {
        clock_ = std::make_unique<KavioRenderClock>();
        clock_->setDelegate(weak_from_this());
        clock_->startRenderingWithCVTime({fps, 1, 0});
    }
    void stop() { clock_.reset(); }
    bool renderIfCanAtTime(double time) override
    {
        const auto now = Clock::now();
        if (passes_ > 0)
            periodSum_ += std::chrono::duration<double, std::milli>(now - last_).count();
        last_ = now;
        ++passes_;
        gpu_.createCurrentCommandBuffer();
        controller_.createCurrentTextureAtTime(time);
        gpu_.currentCommandBuffer()->commit();
        return true;
    }
    // The mean time between passes, in ms.
    double measuredPeriod() const { return passes_ > 1 ? periodSum_ / double(passes_ - 1) : 0.0; }

private:
    QVTMetalManager& gpu_;
    KavioVideoItemManager& controller_;
    std::unique_ptr<KavioRenderClock> clock_;
    Clock::time_point last_;
    double periodSum_ = 0.0;  // render thread only
    long passes_ = 0;
};

// Median, 99th percentile and worst of `samples` (ms): in ms, in clock cycles of 1/600 s, and as
// shares of `period` (ms) when it is given.
inline void report(const char* name, std::vector<double> samples, double period = 0.0)
{
    check(!samples.empty(), name);
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double share) { return samples[std::min(samples.size() - 1, std::size_t(share * double(samples.size())))]; };
    const double cycle = 1000.0 / 600.0;
    std::printf("%-46s %6zu", name, samples.size());
    for (const double v : {at(0.5), at(0.99), samples.back()})
        std::printf(" %8.4f", v);
    for (const double v : {at(0.5), at(0.99), samples.back()})
        std::printf(" %7.1f", v / cycle);
    if (period > 0.0)
        for (const double v : {at(0.5), at(0.99), samples.back()})
            std::printf(" %6.0f%%", v / period * 100.0);
    std::printf("\n");
}

inline void reportHeader(const char* title)
{
    std::printf("\n%-46s %6s %8s %8s %8s %7s %7s %7s %7s %7s %7s\n", title, "n", "med ms", "p99 ms", "max ms",
                "med cy", "p99 cy", "max cy", "med/fr", "p99/fr", "max/fr");
}

// The bare reference: the movie opened once with libav; each sample seeks to the start, decodes
// until the first picture, converts it to BGRA with swscale and uploads it with glTexSubImage2D
// on the GPU device's context, waiting for glFinish.
class BareFirstFrame {
public:
    // A 1080p H.264 movie made with the ffmpeg command in `folder`.
    BareFirstFrame(const QTemporaryDir& folder, GpuDevice& device) : device_(device)
    {
        path_ = folder.filePath(QStringLiteral("reference.mp4")).toStdString();
        const std::string command = "ffmpeg -v error -y -f lavfi -i testsrc=size=1920x1080:rate=25:duration=2 "
                                    "-c:v libx264 -g 12 -bf 2 -pix_fmt yuv420p "
                                    + path_;
        check(std::system(command.c_str()) == 0, "the ffmpeg command made the reference movie");
        check(avformat_open_input(&format_, path_.c_str(), nullptr, nullptr) == 0
                  && avformat_find_stream_info(format_, nullptr) >= 0,
              "libav opened the reference movie");
        const AVCodec* codec = nullptr;
        stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        check(stream_ >= 0 && codec, "the reference movie has a picture");
        codec_ = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar);
        check(avcodec_open2(codec_, codec, nullptr) == 0, "libav opened the decoder");
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        width_ = codec_->width, height_ = codec_->height;
        bgra_.resize(std::size_t(width_) * std::size_t(height_) * 4);
        device_.runOnRenderThread([this] {
            auto* gl = QOpenGLContext::currentContext()->functions();
            gl->glGenTextures(1, &texture_);
            gl->glBindTexture(GL_TEXTURE_2D, texture_);
            gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width_, height_, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
        });
        firstFrame();  // untimed: the decoder's and the scaler's first-use set-up
    }
    ~BareFirstFrame()
    {
        device_.runOnRenderThread([this] { QOpenGLContext::currentContext()->functions()->glDeleteTextures(1, &texture_); });
        sws_freeContext(scale_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&codec_);
        avformat_close_input(&format_);
    }
    BareFirstFrame(const BareFirstFrame&) = delete;
    BareFirstFrame& operator=(const BareFirstFrame&) = delete;

    // One sample: seek, decode, convert, upload; answers the time in ms and checks the upload
    // landed (the texture's first pixel read back equals the decoded one).
    double firstFrame()
    {
        const auto start = Clock::now();
        av_seek_frame(format_, stream_, 0, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(codec_);
        bool decoded = false;
        while (!decoded && av_read_frame(format_, packet_) >= 0) {
            if (packet_->stream_index == stream_ && avcodec_send_packet(codec_, packet_) == 0)
                decoded = avcodec_receive_frame(codec_, frame_) == 0;
            av_packet_unref(packet_);
        }
        if (!decoded) {
            avcodec_send_packet(codec_, nullptr);
            decoded = avcodec_receive_frame(codec_, frame_) == 0;
        }
        check(decoded, "libav decoded the reference movie's first picture");
        scale_ = sws_getCachedContext(scale_, width_, height_, AVPixelFormat(frame_->format), width_, height_,
                                      AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
        std::uint8_t* planes[4] = {bgra_.data()};
        const int strides[4] = {width_ * 4};
        sws_scale(scale_, frame_->data, frame_->linesize, 0, height_, planes, strides);
        device_.runOnRenderThread([this] {
            auto* gl = QOpenGLContext::currentContext()->functions();
            gl->glBindTexture(GL_TEXTURE_2D, texture_);
            gl->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width_, height_, GL_BGRA, GL_UNSIGNED_BYTE, bgra_.data());
            gl->glFinish();
        });
        const double ms = msSince(start);
        av_frame_unref(frame_);
        check(uploadedFirstPixel() == firstPixel(), "the reference's upload holds the decoded picture");
        return ms;
    }

private:
    std::uint32_t firstPixel() const
    {
        std::uint32_t p;
        std::memcpy(&p, bgra_.data(), 4);
        return p;
    }
    // Reads the texture's first pixel back through a framebuffer (not timed).
    std::uint32_t uploadedFirstPixel()
    {
        std::uint32_t pixel = 0;
        device_.runOnRenderThread([&] {
            auto* gl = QOpenGLContext::currentContext()->functions();
            GLuint framebuffer = 0;
            GLint previous = 0;
            gl->glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
            gl->glGenFramebuffers(1, &framebuffer);
            gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
            gl->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture_, 0);
            gl->glReadPixels(0, 0, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, &pixel);
            gl->glBindFramebuffer(GL_FRAMEBUFFER, GLuint(previous));
            gl->glDeleteFramebuffers(1, &framebuffer);
        });
        return pixel;
    }

    GpuDevice& device_;
    std::string path_;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    SwsContext* scale_ = nullptr;
    int stream_ = -1, width_ = 0, height_ = 0;
    std::vector<std::uint8_t> bgra_;
    GLuint texture_ = 0;
};

}  // namespace GoBench

#include "EndToEndShow.h"

#include "../media/MediaFixtures.h"
#include "PulseAudioTestServer.h"

#include "AudioBackend.h"
#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "GpuTexture.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "Outputs/KavioVideoOutputObject.h"
#include "QVTOSCManager.h"
#include "GpuCommandBuffer.h"
#include "Rendering/KavioRenderClock.h"
#include "Rendering/QVTMetalManager.h"

#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>

namespace {

constexpr int kMovieWidth = 320, kMovieHeight = 240;
constexpr int kBits = 8;

bool makeMovieB(const std::string& name)
{
    return !MediaFixtures::path("counter25from100.mp4").empty() &&
           MediaFixtures::ffmpeg("-i counter25from100.mp4 -f lavfi -i sine=frequency=880:sample_rate=48000:duration=2"
                                 " -c:v copy -c:a aac -ac 2 -shortest " + name);
}

// Both channels count samples: n mod 32000, as 16-bit values (the sample-counter audio).
bool makeCounter(const std::string& name)
{
    return MediaFixtures::ffmpeg("-f lavfi -i \"aevalsrc=mod(n\\,32000)/32768|mod(n\\,32000)/32768:s=48000:d=2\""
                                 " -c:a pcm_s16le " + name);
}

// A plain orange picture: no bar code, and never black.
bool makeStill(const std::string& name)
{
    return MediaFixtures::ffmpeg("-f lavfi -i color=c=0xf08020:size=320x240 -frames:v 1 " + name);
}

float halfToFloat(std::uint16_t h)
{
    const std::uint32_t sign = std::uint32_t(h & 0x8000) << 16;
    std::uint32_t exponent = (h >> 10) & 0x1f, mantissa = h & 0x3ff, bits;
    if (exponent == 0) {
        if (mantissa == 0)
            bits = sign;
        else {  // subnormal
            exponent = 127 - 15 + 1;
            while (!(mantissa & 0x400)) {
                mantissa <<= 1;
                --exponent;
            }
            bits = sign | (exponent << 23) | ((mantissa & 0x3ff) << 13);
        }
    } else if (exponent == 31)
        bits = sign | 0x7f800000 | (mantissa << 13);
    else
        bits = sign | ((exponent + 127 - 15) << 23) | (mantissa << 13);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

std::int64_t monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QVariantMap cueRecord(int index, const std::string& path, int mediaType)
{
    return {{"mediaPath", QString::fromStdString(path)},
            {"mediaType", mediaType},
            {"index", qulonglong(index)},
            {"uid", QStringLiteral("endtoend-%1").arg(index)},
            {"stopatend", false},
            {"opacity", 1.0f},
            {"volume", 1.0f},
            {"soundbutton", true},
            {"stopatbeginning", false},
            {"collapsed", true}};
}

}  // namespace

bool waitFor(const std::function<bool()>& condition, double seconds)
{
    return QTest::qWaitFor(condition, int(seconds * 1000));
}

bool EndToEndMedia::make()
{
    movieA = MediaFixtures::path("counter25.mp4");
    movieB = MediaFixtures::madePath("endtoendB.mp4", makeMovieB);
    counter = MediaFixtures::madePath("endtoendcounter.wav", makeCounter);
    still = MediaFixtures::madePath("endtoendstill.png", makeStill);
    return !movieA.empty() && !movieB.empty() && !counter.empty() && !still.empty();
}

QVariantMap showPlaylist(const EndToEndMedia& media)
{
    QVariantMap a = cueRecord(1, media.movieA, 0);
    a.insert("transition", true);
    a.insert("transitiontype", 10);
    a.insert("transitiontime", 1.0f);
    QVariantMap still = cueRecord(4, media.still, 4);
    still.insert("duration", 2.0f);
    still.insert("stopatend", true);
    return {{"1", a}, {"2", cueRecord(2, media.movieB, 0)}, {"3", cueRecord(3, media.counter, 10)}, {"4", still}};
}

QVariantMap showProject(const EndToEndMedia& media)
{
    const QVariantMap preferences{{"oscEnableButton", true}, {"loopButton", false}, {"smpteFormat", int(QVTClockSMPTEFormat25)}};
    // A small picture keeps the frame's cost low on a software GPU.
    const QVariantMap outputs{{"screensRows", 1}, {"screensCols", 1}, {"renderResolution", "640 x 360"}};
    return {{"playlistData", showPlaylist(media)}, {"preferences", preferences}, {"videoOutputSettings", outputs}};
}

// --- What the output shows ---------------------------------------------------------------------

int ShownFrame::code() const
{
    int number = 0;
    for (int b = 0; b < kBits; ++b) {
        if (bits[b] > 0.8f)
            number |= 1 << b;
        else if (bits[b] > 0.2f)
            return -1;
    }
    return number;
}

bool ShownFrame::isBlack() const
{
    return body[0] < 0.02f && body[1] < 0.02f && body[2] < 0.02f;
}

double paceSpread(const std::vector<ShownFrame>& frames, int first, std::int64_t* frameZeroNs)
{
    int start = -1, count = 0;
    double earliest = 0, latest = 0, sum = 0;
    std::int64_t origin = 0;
    for (const ShownFrame& frame : frames) {
        const int code = frame.code() - first;
        if (code < 0 || code >= 49)
            continue;
        if (start < 0)
            start = code, origin = frame.hostNs;
        if (code == start)
            continue;
        const double lag = code - 25.0 * double(frame.hostNs - origin) * 1e-9;
        if (earliest == 0 && latest == 0)
            earliest = latest = lag;
        earliest = std::min(earliest, lag), latest = std::max(latest, lag);
        sum += lag, ++count;
    }
    if (frameZeroNs && count)
        *frameZeroNs = origin - std::int64_t(sum / count / 25.0 * 1e9);
    return latest - earliest;
}

class OutputRecorder::Tap : public KavioRenderClockDelegate, public std::enable_shared_from_this<OutputRecorder::Tap> {
public:
    Tap(std::size_t capacity, std::shared_ptr<KavioRenderClockDelegate> inner,
        std::shared_ptr<KavioVideoOutputObject> output, QSizeF renderSize)
        : frames(capacity), inner_(std::move(inner)), output_(std::move(output)), renderSize_(renderSize)
    {
        block_.resize(std::size_t(4096) * 8 * 256);
    }

    bool renderIfCanAtTime(double time) override
    {
        // The step picks the pictures for the time it starts at.
        const std::int64_t start = monotonicNs();
        const bool rendered = inner_->renderIfCanAtTime(time);
        if (!rendered || !output_->isFullscreen() || reserved_ >= frames.size())
            return rendered;
        std::shared_ptr<GpuTexture> drawn = output_->mtkView()->currentDrawableTexture();
        const auto queue = QVTMetalManager::sharedManager().commandQueue();
        if (!drawn || !queue)
            return rendered;
        // Read once the GPU has done the frame, on its own thread: the render thread does not
        // wait, and the drawable is not drawn again before the next two frames.
        const std::size_t n = reserved_++;
        frames[n].hostNs = start;
        const auto buffer = queue->commandBuffer();
        buffer->addCompletedHandler([self = shared_from_this(), n, drawn = std::move(drawn)] {
            self->read(*drawn, self->frames[n]);
        });
        buffer->commit();
        return rendered;
    }

    // The movie's place on the window: fitted into the render size with its aspect ratio, the
    // render size stretched over the window.
    QRectF pictureRect(QSizeF window) const
    {
        const double scale = std::min(renderSize_.width() / kMovieWidth, renderSize_.height() / kMovieHeight);
        const QSizeF fitted(kMovieWidth * scale, kMovieHeight * scale);
        const double sx = window.width() / renderSize_.width(), sy = window.height() / renderSize_.height();
        return QRectF((renderSize_.width() - fitted.width()) / 2 * sx, (renderSize_.height() - fitted.height()) / 2 * sy,
                      fitted.width() * sx, fitted.height() * sy);
    }

private:
    // The rows from the bar code's middle to the picture's row 30 (below the bar code), once.
    void read(const GpuTexture& texture, ShownFrame& frame)
    {
        const QRectF picture = pictureRect(QSizeF(texture.width(), texture.height()));
        const double rowScale = picture.height() / kMovieHeight;
        const int barY = int(picture.top() + rowScale * 8.0), bodyY = int(picture.top() + rowScale * 30.0);
        const bool half = texture.pixelFormat() == GpuPixelFormat::RGBA16Float;
        const std::size_t bytesPerPixel = half ? 8 : 4, rowBytes = texture.width() * bytesPerPixel;
        const int rows = bodyY - barY + 1;
        if (barY < 0 || std::uint32_t(bodyY) >= texture.height() || rowBytes * std::size_t(rows) > block_.size())
            return;
        const bool got = texture.getBytes(block_.data(), rowBytes, GpuRegion{0, std::uint32_t(barY), texture.width(), std::uint32_t(rows)});
        if (!got)
            return;
        const auto pixel = [&](int x, int row) -> std::array<float, 3> {
            const std::uint8_t* p = &block_[std::size_t(row) * rowBytes + std::size_t(std::clamp(x, 0, int(texture.width()) - 1)) * bytesPerPixel];
            if (half) {
                std::uint16_t h[4];
                std::memcpy(h, p, sizeof h);
                return {halfToFloat(h[0]), halfToFloat(h[1]), halfToFloat(h[2])};
            }
            return {p[2] / 255.0f, p[1] / 255.0f, p[0] / 255.0f};
        };
        for (int b = 0; b < kBits; ++b) {
            const auto rgb = pixel(int(picture.left() + picture.width() * (40.0 * b + 20.0) / kMovieWidth), 0);
            frame.bits[b] = (rgb[0] + rgb[1] + rgb[2]) / 3.0f;
        }
        std::array<float, 3> sum{};
        constexpr int kSamples = 16;
        for (int i = 0; i < kSamples; ++i) {
            const auto rgb = pixel(int(picture.left() + picture.width() * (i + 0.5) / kSamples), rows - 1);
            for (int c = 0; c < 3; ++c)
                sum[c] += rgb[c] / kSamples;
        }
        frame.body = sum;
        count.store(std::size_t(&frame - frames.data()) + 1, std::memory_order_release);
    }

public:
    std::vector<ShownFrame> frames;
    std::atomic<std::size_t> count{0};
    std::shared_ptr<KavioRenderClockDelegate> inner_;
    std::shared_ptr<KavioVideoOutputObject> output_;

private:
    QSizeF renderSize_;
    std::size_t reserved_ = 0;         // rendering thread
    std::vector<std::uint8_t> block_;  // GPU thread
};

OutputRecorder::OutputRecorder(ShellTestProgram& program, std::size_t capacity) : program_(program)
{
    const auto clock = program.ui->controller()->renderClock();
    const auto outputs = program.ui->videoOutputManager();
    EXPECT_TRUE(clock && outputs && !outputs->outputObjects().empty());
    if (!clock || !outputs || outputs->outputObjects().empty())
        return;
    original_ = clock->delegate();
    EXPECT_TRUE(original_) << "the render clock has no delegate";
    if (!original_)
        return;
    tap_ = std::make_shared<Tap>(capacity, original_, outputs->outputObjects().front(), outputs->renderResolution());
    clock->setDelegate(tap_);
}

OutputRecorder::~OutputRecorder()
{
    if (!tap_)
        return;
    if (const auto clock = program_.ui->controller()->renderClock()) {
        clock->setDelegate(original_);
        // The tap may be in its step: the step after the next one no longer reaches it.
        std::atomic<int> passes{0};
        clock->addCompletedHandlerForCurrentRenderPass([&passes] { ++passes; });
        waitFor([&passes] { return passes.load() > 0; }, 10.0);
    }
}

std::vector<ShownFrame> OutputRecorder::frames() const
{
    return tap_ ? std::vector<ShownFrame>(tap_->frames.begin(), tap_->frames.begin() + long(count())) : std::vector<ShownFrame>();
}

std::size_t OutputRecorder::count() const
{
    return tap_ ? tap_->count.load(std::memory_order_acquire) : 0;
}

const ShownFrame& OutputRecorder::at(std::size_t index) const
{
    return tap_->frames[index];
}

void OutputRecorder::saveSnapshot(const QString& path)
{
    if (!tap_)
        return;
    const std::shared_ptr<GpuTexture> drawn = tap_->output_->mtkView()->currentDrawableTexture();
    if (!drawn)
        return;
    QImage image(int(drawn->width()), int(drawn->height()), QImage::Format_RGB32);
    if (drawn->pixelFormat() == GpuPixelFormat::BGRA8Unorm) {
        drawn->getBytes(image.bits(), std::size_t(image.bytesPerLine()), GpuRegion{0, 0, drawn->width(), drawn->height()});
    } else {
        std::vector<std::uint16_t> halves(std::size_t(drawn->width()) * drawn->height() * 4);
        drawn->getBytes(halves.data(), std::size_t(drawn->width()) * 8, GpuRegion{0, 0, drawn->width(), drawn->height()});
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const std::uint16_t* h = &halves[(std::size_t(y) * drawn->width() + std::size_t(x)) * 4];
                const auto c = [&](int i) { return std::clamp(int(halfToFloat(h[i]) * 255.0f + 0.5f), 0, 255); };
                image.setPixel(x, y, qRgb(c(0), c(1), c(2)));
            }
    }
    image.save(path);
}

// --- OSC ----------------------------------------------------------------------------------------

OSCSender::OSCSender() : socket_(::socket(AF_INET, SOCK_DGRAM, 0)) {}

OSCSender::~OSCSender()
{
    if (socket_ >= 0)
        ::close(socket_);
}

void OSCSender::send(const std::vector<char>& datagram)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(51000);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(socket_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void putOSCString(std::vector<char>& datagram, const std::string& text)
{
    datagram.insert(datagram.end(), text.begin(), text.end());
    datagram.push_back(0);
    while (datagram.size() % 4)
        datagram.push_back(0);
}

void OSCSender::send(const std::string& address)
{
    std::vector<char> b;
    putOSCString(b, address);
    putOSCString(b, ",");
    send(b);
}

void OSCSender::send(const std::string& address, float value)
{
    std::vector<char> b;
    putOSCString(b, address);
    putOSCString(b, ",f");
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back(char((bits >> shift) & 0xff));
    send(b);
}

// --- The run ------------------------------------------------------------------------------------

EndToEndRun::EndToEndRun()
{
    if (!PulseAudioTestServer::ensureRunning(&reason_))
        return;
    PulseAudioTestServer::pactl("set-default-sink stereo");
    // The program picks its audio server at start: this one, not the environment's silence.
    setenv("KAVIO_AUDIO_BACKEND", "pulse", 1);
    if (!media.make())
        reason_ = "the media could not be made";
}

EndToEndRun::~EndToEndRun()
{
    output.reset();
    sound.reset();
    program_.reset();
}

void EndToEndRun::launch(const QString& project)
{
    program_ = std::make_unique<ShellTestProgram>(env);
    program_->launch({project});
    // Long lists take longer than the launch waits.
    ASSERT_TRUE(waitFor([this] { return !app().isLoadingProject(); }, 120));
    ASSERT_EQ(app().projectURL(), project);
    ASSERT_TRUE(waitFor([this] {
        const auto items = controller().items();
        if (!items || items->empty())
            return false;
        for (const auto& cue : *items)
            if (!cue->isReady() && !cue->isMissing())
                return false;
        return true;
    })) << "the cues never became ready";
    KavioVideoOutputManager& outputs = *program_->ui->videoOutputManager();
    if (!outputs.shouldOutput())
        outputs.toggleFullscreen();
    ASSERT_TRUE(waitFor([&outputs] { return outputs.renderAllowed() && outputs.shouldOutput(); }));
    ASSERT_TRUE(QVTOSCManager::sharedManager().portOfInputWithName(QStringLiteral("Kavio")) == 51000)
        << "OSC does not listen";
    output = std::make_unique<OutputRecorder>(*program_);
    ASSERT_TRUE(waitFor([this] { return output->count() > 5; })) << "the output shows nothing";
}

void EndToEndRun::terminate()
{
    output.reset();
    app().applicationWillTerminate();
    program_.reset();
}

QString EndToEndRun::launchShow()
{
    const QString project = env.dir.filePath("Show.kavio2");
    writeProjectFile(project, showProject(media));
    launch(project);
    return project;
}

std::size_t EndToEndRun::go()
{
    sound = std::make_unique<PulseRecorder>("stereo", 2);
    EXPECT_TRUE(sound->start()) << "the sink cannot be recorded";
    const std::size_t before = output->count();
    osc.send("/kavio/togglePlay");
    EXPECT_TRUE(waitFor([this] { return controller().isPlaying(); }, 10)) << "GO over OSC did not start the show";
    return before;
}

std::map<QString, QVariantMap> cueRecords(KavioVideoItemManager& controller)
{
    std::map<QString, QVariantMap> records;
    for (const auto& cue : *controller.items())
        records[cue->uid()] = cue->saveData();
    return records;
}

KavioVideoItemManager& EndToEndRun::controller()
{
    return *program_->ui->controller();
}

std::shared_ptr<KavioVideoItem> EndToEndRun::cue(int index)
{
    const auto items = controller().items();
    return items && index >= 1 && std::size_t(index) <= items->size() ? (*items)[std::size_t(index - 1)] : nullptr;
}

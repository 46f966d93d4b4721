// The sender and receiver end to end over the loopback backend (real TCP on 127.0.0.1), and the
// sender's tally and audio rules over a scripted sender.
#include "DispatchQueue.h"
#include "NdiTestSupport.h"
#include "NotificationCenter.h"
#include "QVTNDIReceiver.h"
#include "QVTNDISender.h"
#include "StrevalDirectory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr double kTimeout = 30.0;

// An audio source of known planes: sample k of channel c is c * 1000 + k; counts its pulls.
class PlaneSource : public QVTNDIAudioSource {
public:
    std::atomic<int> pulls{0};
    std::atomic<bool> enabled{true};
    AudioStreamBasicDescription asbd() override { return {}; }
    float* audioDataWithNumberOfFrames(int32_t frames, int32_t channels) override
    {
        ++pulls;
        auto* block = static_cast<float*>(std::malloc(sizeof(float) * size_t(frames) * size_t(channels)));
        for (int c = 0; c < channels; ++c)
            for (int k = 0; k < frames; ++k)
                block[size_t(c) * size_t(frames) + size_t(k)] = float(c * 1000 + k);
        return block;
    }
    int16_t* interleaved16AudioDataWithNumberOfFrames(int32_t, int32_t) override { return nullptr; }
    void clearBuffers() override {}
    bool isEnabled() const override { return enabled.load(); }
    void setIsEnabled(bool on) override { enabled.store(on); }
    bool isMixing() const override { return false; }
    void setIsMixing(bool) override {}
};

class LoopbackPair : public ::testing::Test {
protected:
    void SetUp() override { usePrivateRuntimeDirectory(); }

    // A sender named `name` and a receiver found through the directory.
    void connect(const char* name, bool senderDeep, bool receiverDeep)
    {
        sender = QVTNDISender::initWithName(name, senderDeep, backend);
        ASSERT_TRUE(sender->hasSendNode());
        StrevalDirectory directory(backend, false);
        const QString full = QString::fromStdString(NdiLoopbackBackend::fullSourceName(name));
        const QVariantList found = directory.serversMatchingName(full);
        ASSERT_EQ(found.size(), 1);
        receiver = QVTNDIReceiver::initWithSource(found[0].toMap(), receiverDeep, backend);
        ASSERT_TRUE(receiver);
    }

    // Sends the picture until the receiver has a frame (the first sends may find no connection).
    VideoFrameRef sendUntilReceived(const std::vector<uint8_t>& bgra, int bytesPerRow, QSizeF size, bool yuv)
    {
        VideoFrameRef frame;
        DispatchQueue::runMainUntil(
            [&] {
                sender->sendMetalTexture(bgra.data(), bytesPerRow, size, yuv, {60000, 1000, 0});
                frame = receiver->pixelBuffer();
                return frame != nullptr;
            },
            kTimeout);
        return frame;
    }

    NdiLoopbackBackend backend;
    std::shared_ptr<QVTNDISender> sender;
    std::shared_ptr<QVTNDIReceiver> receiver;
};

}  // namespace

TEST_F(LoopbackPair, SenderIsListedUnderItsHostWithItsAddress)
{
    sender = QVTNDISender::initWithName("Kavio NDI #1", false, backend);
    StrevalDirectory directory(backend, false);
    const QVariantList sources = directory.listOfSources();
    ASSERT_EQ(sources.size(), 1);
    const QVariantMap source = sources[0].toMap();
    const QString name = source.value(StrevalDirectory::kSourceName).toString();
    EXPECT_TRUE(name.endsWith(" (Kavio NDI #1)")) << name.toStdString();
    EXPECT_EQ(name, name.toUpper().replace("KAVIO NDI #1", "Kavio NDI #1")) << "the host in capitals";
    EXPECT_TRUE(source.value(StrevalDirectory::kSourceIP).toString().startsWith("127.0.0.1:"));

    sender->removeResources();
    sender.reset();
    EXPECT_TRUE(directory.listOfSources().isEmpty()) << "a sender that ends leaves the list";
}

TEST_F(LoopbackPair, YuvPictureArrivesAs2vuyInBt709VideoRange)
{
    connect("Kavio NDI #1", false, false);
    const int width = 64, height = 16, stride = width * 4 + 32;  // padded rows
    const auto red = solidBGRA(width, height, stride, 0, 0, 255);
    const VideoFrameRef frame = sendUntilReceived(red, stride, QSizeF(width, height), true);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->pixelFormat(), MediaPixelFormat::YUV422_8);
    EXPECT_EQ(frame->width(), width);
    EXPECT_EQ(frame->height(), height);
    EXPECT_TRUE(receiver->isYUV());
    EXPECT_FALSE(receiver->hasAlpha());
    for (int y : {0, height - 1}) {
        const uint8_t* p = frame->row(y) + (width / 2) * 2;
        EXPECT_NEAR(p[0], 102, 1) << "Cb";
        EXPECT_NEAR(p[1], 63, 1) << "Y";
        EXPECT_NEAR(p[2], 240, 1) << "Cr";
        EXPECT_NEAR(p[3], 63, 1) << "Y";
    }
}

TEST_F(LoopbackPair, RgbPictureArrivesAsExactBgraAndThenTheOtherPathRebuilds)
{
    connect("Kavio NDI #1", false, false);
    const int width = 40, height = 10, stride = width * 4 + 16;
    const auto colour = solidBGRA(width, height, stride, 10, 200, 30, 128);
    VideoFrameRef frame = sendUntilReceived(colour, stride, QSizeF(width, height), false);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->pixelFormat(), MediaPixelFormat::BGRA);
    EXPECT_TRUE(receiver->hasAlpha());
    EXPECT_FALSE(receiver->isYUV());
    for (int y = 0; y < height; ++y)
        ASSERT_EQ(0, std::memcmp(frame->row(y), &colour[size_t(y) * stride], size_t(width) * 4)) << "row " << y;

    // The same size on the YUV path: a new pool of the other format, and the flags follow.
    while (receiver->pixelBuffer()) {
    }
    frame = sendUntilReceived(colour, stride, QSizeF(width, height), true);
    ASSERT_TRUE(frame);
    // Frames of the RGB path may still be on their way; wait for the first YUV one.
    DispatchQueue::runMainUntil(
        [&] {
            if (frame && frame->pixelFormat() == MediaPixelFormat::YUV422_8)
                return true;
            sender->sendMetalTexture(colour.data(), stride, QSizeF(width, height), true, {});
            frame = receiver->pixelBuffer();
            return false;
        },
        kTimeout);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->pixelFormat(), MediaPixelFormat::YUV422_8);
    EXPECT_TRUE(receiver->isYUV());
    EXPECT_FALSE(receiver->hasAlpha());
}

TEST_F(LoopbackPair, HighBitDepthYuvTravelsAsP216AndArrivesAsV210)
{
    connect("Kavio NDI #1", true, true);
    for (auto [width, stride] : {std::pair{1920, 5120}, std::pair{1280, 3456}}) {
        const int height = 4;
        const auto red = solidBGRA(width, height, width * 4, 0, 0, 255);
        VideoFrameRef frame;
        DispatchQueue::runMainUntil(
            [&] {
                sender->sendMetalTexture(red.data(), width * 4, QSizeF(width, height), true, {});
                frame = receiver->pixelBuffer();
                return frame && frame->width() == width;
            },
            kTimeout);
        ASSERT_TRUE(frame) << width;
        EXPECT_EQ(frame->pixelFormat(), MediaPixelFormat::YUV422_10);
        EXPECT_EQ(frame->bytesPerRow(), stride);
        EXPECT_TRUE(receiver->isYUV());
        // Word 0 of a row: Cb0, Y0, Cr0 in ten bits each (red: about 409, 250, 960).
        uint32_t word;
        std::memcpy(&word, frame->row(height - 1), 4);
        EXPECT_NEAR(int(word & 0x3ff), 409, 4);
        EXPECT_NEAR(int((word >> 10) & 0x3ff), 250, 4);
        EXPECT_NEAR(int((word >> 20) & 0x3ff), 960, 4);
    }
}

TEST_F(LoopbackPair, FrameRateOfZeroIsSentAs30000)
{
    sender = QVTNDISender::initWithName("Kavio NDI #1", false, backend);
    StrevalDirectory directory(backend, false);
    const QVariantMap source = directory.listOfSources().value(0).toMap();
    auto raw = backend.createReceiver({source.value(StrevalDirectory::kSourceName).toString().toStdString(),
                                       source.value(StrevalDirectory::kSourceIP).toString().toStdString()},
                                      ndi::ColorFormat::UYVY_BGRA, "test");
    ASSERT_TRUE(raw);
    const auto pixels = solidBGRA(8, 2, 32, 1, 2, 3);
    std::unique_ptr<ndi::CapturedVideo> captured;
    DispatchQueue::runMainUntil(
        [&] {
            sender->sendMetalTexture(pixels.data(), 32, QSizeF(8, 2), false, {0, 1001, 0});
            captured = raw->captureVideo();
            return captured != nullptr;
        },
        kTimeout);
    ASSERT_TRUE(captured);
    EXPECT_EQ(captured->frame.frameRateN, 30000);
    EXPECT_EQ(captured->frame.frameRateD, 1001);
    EXPECT_FLOAT_EQ(captured->frame.pictureAspectRatio, 4.0f);
}

TEST_F(LoopbackPair, AudioArrivesAsPcmBufferPlaneByPlane)
{
    connect("Kavio NDI #1", false, false);
    auto source = std::make_shared<PlaneSource>();
    sender->setAudioSource(source);
    std::shared_ptr<const PcmBuffer> buffer;
    DispatchQueue::runMainUntil(
        [&] {
            // The first pulls may go out before the receiver is connected.
            sender->sendAudioNumberOfSamples(1602, 2);
            buffer = receiver->audioPCMBuffer();
            return buffer != nullptr;
        },
        kTimeout);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->frameLength(), 1602u);
    EXPECT_EQ(buffer->format().channelCount(), 2u);
    EXPECT_EQ(buffer->format().sampleRate(), 48000.0);
    EXPECT_EQ(buffer->format().channelLayoutTag(), 0x930002u);
    // Channel 1 is the second plane: bytes 6408 on of the pulled block.
    EXPECT_EQ(buffer->floatChannelData(0)[1601], 1601.0f);
    EXPECT_EQ(buffer->floatChannelData(1)[0], 1000.0f);
    EXPECT_EQ(buffer->floatChannelData(1)[1601], 2601.0f);
}

TEST_F(LoopbackPair, ReceiverDropsUnknownFourCCsAndHonoursPaddedRows)
{
    auto raw = backend.createSender("raw");
    ASSERT_TRUE(raw);
    StrevalDirectory directory(backend, false);
    receiver = QVTNDIReceiver::initWithSource(directory.listOfSources().value(0).toMap(), false, backend);
    ASSERT_TRUE(receiver);
    DispatchQueue::runMainUntil([&] { return raw->connections() > 0; }, kTimeout);
    ASSERT_EQ(raw->connections(), 1);

    std::vector<uint8_t> rgba(16 * 4 * 2, 7);
    ndi::VideoFrame odd;
    odd.width = 16, odd.height = 2, odd.fourCC = ndi::kFourCC_RGBA, odd.data = rgba.data(), odd.lineStride = 64;
    raw->sendVideo(odd);
    // UYVY rows of 32 bytes carried in 48-byte lines.
    std::vector<uint8_t> uyvy(48 * 2, 0xFF);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 32; ++x)
            uyvy[size_t(y) * 48 + size_t(x)] = uint8_t(y * 100 + x);
    ndi::VideoFrame padded;
    padded.width = 16, padded.height = 2, padded.fourCC = ndi::kFourCC_UYVY, padded.data = uyvy.data();
    padded.lineStride = 48;
    raw->sendVideo(padded);

    VideoFrameRef frame;
    int nothing = 0;
    DispatchQueue::runMainUntil(
        [&] {
            frame = receiver->pixelBuffer();
            nothing += frame ? 0 : 1;
            return frame != nullptr;
        },
        kTimeout);
    ASSERT_TRUE(frame) << "the RGBA frame is dropped, the UYVY one comes";
    EXPECT_EQ(frame->pixelFormat(), MediaPixelFormat::YUV422_8);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(frame->row(y)[x], uint8_t(y * 100 + x)) << y << "," << x;
}

TEST_F(LoopbackPair, AfterRemoveResourcesNothingIsPulledOrSent)
{
    connect("Kavio NDI #1", false, false);
    auto source = std::make_shared<PlaneSource>();
    sender->setAudioSource(source);
    source->enabled = false;
    sender->sendAudioNumberOfSamples(800, 2);
    EXPECT_EQ(source->pulls.load(), 0) << "a disabled source is not pulled";

    source->enabled = true;
    sender->removeResources();
    EXPECT_FALSE(sender->hasSendNode());
    const auto pixels = solidBGRA(8, 2, 32, 1, 2, 3);
    sender->sendMetalTexture(pixels.data(), 32, QSizeF(8, 2), true, {});
    sender->sendAudioNumberOfSamples(800, 2);
    EXPECT_EQ(source->pulls.load(), 0);
    EXPECT_FALSE(sender->hasPool());

    receiver->removeResources();
    EXPECT_FALSE(receiver->pixelBuffer());
    EXPECT_FALSE(receiver->audioPCMBuffer());
}

// --- Over a scripted sender -------------------------------------------------------------------

TEST(QVTNDISenderScripted, WithoutReceiversNothingIsConvertedButTheTallyIsPolledAndPosted)
{
    ScriptedSenderBackend backend;
    auto sender = QVTNDISender::initWithName("Kavio NDI #2", false, backend);
    ScriptedSender& node = *backend.last;
    std::vector<bool> states;
    NotificationCenter::defaultCenter().addObserver(&states, QVTNDISender::kTallyStateChangeNotification, sender.get(),
                                                    [&](const Notification& n) {
                                                        states.push_back(n.userInfo.value(QVTNDISender::kStateKey).toBool());
                                                    });
    const auto pixels = solidBGRA(8, 2, 32, 1, 2, 3);
    auto frame = [&] { sender->sendMetalTexture(pixels.data(), 32, QSizeF(8, 2), true, {}); };

    node.setTally({true, false});
    frame();
    EXPECT_GE(node.tallyPolls.load(), 1);
    EXPECT_FALSE(sender->hasPool());
    EXPECT_TRUE(node.videos.empty());
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return states.size() == 1; }, kTimeout));
    EXPECT_TRUE(states[0]);

    node.setTally({false, true});  // program to preview: one post, state NO
    frame();
    node.setTally({false, false});  // preview alone: nothing
    frame();
    // Quick flips: each change posts its own state, whenever the main queue gets to it.
    node.setTally({true, false});
    frame();
    node.setTally({false, false});
    frame();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return states.size() == 4; }, kTimeout));
    DispatchQueue::drainMain();
    EXPECT_EQ(states, (std::vector<bool>{true, false, true, false}));
    NotificationCenter::defaultCenter().removeObserver(&states);

    // A receiver: the first frame builds the pool and goes out; zero sizes never do.
    node.connectionCount = 1;
    frame();
    EXPECT_TRUE(sender->hasPool());
    sender->sendMetalTexture(pixels.data(), 32, QSizeF(0, 2), true, {});
    std::lock_guard lock(node.mutex);
    ASSERT_EQ(node.videos.size(), 1u);
    EXPECT_EQ(node.videos[0].fourCC, ndi::kFourCC_UYVY);
    EXPECT_EQ(node.videos[0].lineStride, 16);
    EXPECT_EQ(node.videos[0].timecode, ndi::kSynthesize);
}

TEST(QVTNDISenderScripted, AudioIsLabelled48kPlanarWithAPlanePerChannel)
{
    ScriptedSenderBackend backend;
    auto sender = QVTNDISender::initWithName("Kavio NDI #3", true, backend);
    auto source = std::make_shared<PlaneSource>();
    sender->setAudioSource(source);
    sender->sendAudioNumberOfSamples(1601, 8);
    std::lock_guard lock(backend.last->mutex);
    ASSERT_EQ(backend.last->audios.size(), 1u);
    const ndi::AudioFrame& a = backend.last->audios[0];
    EXPECT_EQ(a.sampleRate, 48000);
    EXPECT_EQ(a.channels, 8);
    EXPECT_EQ(a.samples, 1601);
    EXPECT_EQ(a.channelStride, 1601 * 4);
    EXPECT_EQ(a.fourCC, ndi::kFourCC_FLTp);
    EXPECT_EQ(source->pulls.load(), 1);
    sender->setAudioSource(nullptr);
    sender->sendAudioNumberOfSamples(1601, 8);
    EXPECT_EQ(backend.last->audios.size(), 1u) << "no source, no frame";
}

// DeckLink inputs through the browser's inputs face over the virtual DeckLink backend: the list the
// camera manager sees, capture formats, frames and audio from a device with an input to a
// camera cue's slot, and plugging out and in.
#include "SourcesTestSupport.h"

#include "../cue/CueTestSupport.h"
#include "Outputs/KavioDeckLinkBrowser.h"
#include "Sources/KavioCameraManager.h"
#include "CaptureDevice.h"
#include "PcmBuffer.h"
#include "VirtualDeckLink.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr double kTimeout = 30.0;
using decklink::fourCC;

struct DeckLinkInputs : ::testing::Test {
    DeckLinkInputs()
    {
        auto owned = std::make_unique<decklink::VirtualDeckLinkBrowser>(0);
        backend = owned.get();
        backend->plugIn(input);
        backend->plugIn(playbackOnly);
        browser = std::make_unique<KavioDeckLinkBrowser>(std::move(owned));
        inputs = browser->captureBrowser();
        manager = std::make_shared<KavioCameraManager>(CaptureService::shared(), inputs);
    }

    std::shared_ptr<decklink::VirtualDeckLinkDevice> input =
        std::make_shared<decklink::VirtualDeckLinkDevice>("Virtual Input", 0, 5, true);
    std::shared_ptr<decklink::VirtualDeckLinkDevice> playbackOnly =
        std::make_shared<decklink::VirtualDeckLinkDevice>("Virtual Output", 3);
    decklink::VirtualDeckLinkBrowser* backend = nullptr;
    std::unique_ptr<KavioDeckLinkBrowser> browser;
    std::shared_ptr<KavioDeckLinkCaptureBrowserInterface> inputs;
    std::shared_ptr<KavioCameraManager> manager;
};

TEST_F(DeckLinkInputs, ListAndFormats)
{
    const auto devices = inputs->connectedDevices();
    ASSERT_EQ(devices.size(), 2);
    EXPECT_EQ(inputs->connectedDevices()[0], devices[0]) << "one input object per device";
    EXPECT_EQ(devices[0]->displayName(), "Virtual Input");
    EXPECT_EQ(devices[0]->uid(), "5");
    EXPECT_TRUE(devices[0]->captureSupported());
    EXPECT_FALSE(devices[1]->captureSupported());
    EXPECT_EQ(inputs->deviceWithUID("3"), devices[1]);

    // Capture formats carry the display mode's size and frame duration.
    const QList<KavioVideoFormatRef> formats = devices[0]->captureVideoFormatDescriptions();
    const auto find = [&](std::uint32_t mode) {
        for (const auto& format : formats)
            if (format->displayMode == mode)
                return format;
        return KavioVideoFormatRef();
    };
    struct Case {
        std::uint32_t mode;
        int width, height;
        std::int64_t value;
        std::int32_t timescale;
    };
    for (const Case c : {Case{fourCC("Hp25"), 1920, 1080, 1000, 25000}, Case{fourCC("ntsc"), 720, 486, 1001, 30000}}) {
        const auto format = find(c.mode);
        ASSERT_NE(format, nullptr);
        EXPECT_EQ(format->width, c.width);
        EXPECT_EQ(format->height, c.height);
        EXPECT_EQ(format->frameDurationValue, c.value);
        EXPECT_EQ(format->frameDurationTimescale, c.timescale);
    }
    ASSERT_EQ(devices[0]->captureAudioFormatDescriptions().size(), 1);
    EXPECT_EQ(devices[0]->captureAudioFormatDescriptions()[0].channels, 2u);

    // A device without an input refuses, saying why.
    QString error;
    EXPECT_FALSE(devices[1]->startCaptureWithError(&error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(devices[1]->captureVideoFormatDescriptions().isEmpty());
    // The format set stays the input's, whatever happens to the caller's copy.
    KavioVideoFormatRef chosen = find(fourCC("Hp25"));
    ASSERT_TRUE(devices[0]->setCaptureActiveVideoFormatDescription(chosen, &error));
    const KavioVideoFormatDescription* raw = chosen.get();
    chosen.reset();
    EXPECT_EQ(devices[0]->captureActiveVideoFormatDescription().get(), raw);
}

TEST_F(DeckLinkInputs, CameraCueCapturesAndFollowsTheDevice)
{
    auto cue = std::make_shared<AudioCue>();
    cue->setIsDeckLinkDevice(true);
    manager->startCaptureWithDevice("Virtual Input", cue, "5");
    EXPECT_FALSE(manager->deviceIsAvailable("Virtual Input", "5"));
    ASSERT_TRUE(input->isCapturing());
    EXPECT_EQ(input->captureActiveVideoFormatDescription()->pixelFormat, decklink::kPixelFormat2vuy);
    manager->setCurrentDevice("Virtual Input", "5");

    // A frame whose bytes do not fill its rows is dropped; a good one reaches the slot uncopied.
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(64 * 2 * 4);
    input->feedFrame({decklink::kPixelFormat2vuy, 64, 8, 128, bytes});
    input->feedFrame({decklink::kPixelFormat2vuy, 64, 4, 128, bytes});
    VideoFrameRef frame;
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return (frame = manager->videoSampleBufferCopy()) != nullptr; }, kTimeout));
    EXPECT_EQ(frame->data(), bytes->data()) << "no pixel copy";
    EXPECT_EQ(frame->height(), 4);

    // s16 audio reaches the device's cues as float, every block (the cue stays a client).
    auto samples = std::make_shared<std::vector<std::int16_t>>(2 * 16, std::int16_t(-32768));
    input->feedAudio({2, 48000, 16, samples});
    input->feedAudio({2, 48000, 16, samples});
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cue->count() >= 2; }, kTimeout));
    EXPECT_FLOAT_EQ(cue->buffers[0]->floatChannelData(0)[3], -1.0f);

    // Unplugged: missing; plugged in again: present, capturing on the new input object.
    backend->unplug(input);
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return manager->deviceIsAvailable("Virtual Input", "5"); }, kTimeout));
    EXPECT_FALSE(input->isCapturing());
    backend->plugIn(input);
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return !manager->deviceIsAvailable("Virtual Input", "5"); }, kTimeout));
    EXPECT_TRUE(input->isCapturing());
    manager->removeItem(cue.get(), "Virtual Input", "5");
    EXPECT_FALSE(input->isCapturing());
}

}  // namespace

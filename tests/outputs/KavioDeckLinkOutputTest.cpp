// The DeckLink device list and the card sink, over the virtual backend.
#include "Outputs/KavioDeckLinkBrowser.h"
#include "Outputs/KavioDecklinkOutput.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"
#include "VirtualDeckLink.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using decklink::VirtualDeckLinkBrowser;
using decklink::VirtualDeckLinkDevice;

std::shared_ptr<VirtualDeckLinkDevice> card(const char* name, int64_t persistent, int64_t topological)
{
    return std::make_shared<VirtualDeckLinkDevice>(name, persistent, topological);
}

}  // namespace

TEST(KavioDeckLinkBrowser, FindsDevicesByUIDAndNameAndReportsPlugging)
{
    auto owned = std::make_unique<VirtualDeckLinkBrowser>(0);
    VirtualDeckLinkBrowser& virtualBrowser = *owned;
    KavioDeckLinkBrowser browser(std::move(owned));
    const auto zeroFive = card("Duo", 0, 5);
    const auto sevenSeven = card("Duo", 7, 7);
    const auto eightNine = card("Mini", 8, 9);
    std::vector<std::pair<QString, void*>> posted;
    NotificationCenter::defaultCenter().addObserver(&posted, "", nullptr, [&](const Notification& n) {
        if (n.name.startsWith("DeckLinkDevice"))
            posted.push_back({n.name, n.object});
    });
    for (const auto& device : {zeroFive, sevenSeven, eightNine})
        virtualBrowser.plugIn(device);
    virtualBrowser.flush();

    const struct {
        const char* uid;
        std::shared_ptr<VirtualDeckLinkDevice> device;
    } cases[] = {{"5", zeroFive}, {"7", sevenSeven}, {"8", eightNine}, {"9", eightNine},
                 {"0", nullptr},  {"", nullptr},     {"x", nullptr},    {"6", nullptr}};
    for (const auto& c : cases)
        EXPECT_EQ(browser.deviceWithUID(c.uid), c.device) << c.uid;
    EXPECT_EQ(browser.deviceWithName("Duo"), zeroFive) << "the first of two of one name";
    EXPECT_EQ(browser.deviceWithName("duo"), nullptr);

    virtualBrowser.unplug(sevenSeven);
    virtualBrowser.flush();
    EXPECT_EQ(browser.deviceWithUID("7"), nullptr);
    EXPECT_EQ(browser.deviceWithName("Duo"), zeroFive);
    NotificationCenter::defaultCenter().removeObserver(&posted);
    ASSERT_EQ(posted.size(), 4u);
    EXPECT_EQ(posted[0], (std::pair<QString, void*>{KavioDeckLinkBrowser::kDeviceConnectedNotification, zeroFive.get()}));
    EXPECT_EQ(posted[3],
              (std::pair<QString, void*>{KavioDeckLinkBrowser::kDeviceDisconnectedNotification, sevenSeven.get()}));

    KavioDeckLinkBrowser none(nullptr);
    EXPECT_TRUE(none.connectedDevices().empty());
    EXPECT_EQ(none.deviceWithName("Duo"), nullptr);
}

TEST(KavioDecklinkOutput, PoolFollowsSizeAndPathAndTheCardPlaysEachFrame)
{
    for (bool deep : {false, true}) {
        auto device = card("Virtual DeckLink 1", 1, 0);
        auto sink = std::make_shared<KavioDecklinkOutput>(deep);
        sink->setOutputDevice(device);
        const int width = 96, height = 8, row = width * 4 + 64;
        std::vector<uint8_t> red(size_t(row) * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                red[size_t(y) * row + size_t(x) * 4 + 2] = 255, red[size_t(y) * row + size_t(x) * 4 + 3] = 255;

        sink->sendTexture(red.data(), row, QSizeF(width, height), true);
        EXPECT_EQ(sink->poolBuildCount(), 1) << "the first frame builds the pool";
        sink->sendTexture(red.data(), row, QSizeF(width, height), true);
        EXPECT_EQ(sink->poolBuildCount(), 1) << "the same size and path keep it";
        const uint32_t yuv = deep ? decklink::kPixelFormatV210 : decklink::kPixelFormat2vuy;
        EXPECT_EQ(sink->poolPixelFormat(), yuv);
        auto played = device->lastPixelBuffer();
        ASSERT_TRUE(played);
        EXPECT_EQ(device->framesPlayed(), 2u);
        EXPECT_EQ(played->pixelFormat, yuv);
        EXPECT_EQ(played->width, width);
        if (!deep) {
            EXPECT_NEAR(played->bytes[1], 63, 1);
            EXPECT_NEAR(played->bytes[2], 240, 1);
        } else {
            EXPECT_EQ(played->bytesPerRow, 256);
        }

        sink->sendTexture(red.data(), row, QSizeF(width, height), false);  // keying: RGBA
        EXPECT_EQ(sink->poolBuildCount(), 2);
        EXPECT_EQ(sink->poolPixelFormat(), decklink::kPixelFormatBGRA);
        played = device->lastPixelBuffer();
        EXPECT_EQ(played->pixelFormat, decklink::kPixelFormatBGRA);
        EXPECT_EQ(played->bytes[2], 255);
        EXPECT_EQ(played->bytes[3], 255);

        sink->sendTexture(red.data(), row, QSizeF(0, 0), false);  // nothing to play
        EXPECT_EQ(device->framesPlayed(), 3u);
    }
}

TEST(KavioDecklinkOutput, LoadingDeactivatesThePlaybackAndDropsTheDevice)
{
    auto device = card("Virtual DeckLink 1", 1, 0);
    device->setPlaybackActiveVideoFormatDescription(decklink::VideoFormatDescription{decklink::fourCC("Hp25"),
                                                                                     decklink::kPixelFormat2vuy},
                                                    {});
    auto sink = std::make_shared<KavioDecklinkOutput>(false);
    sink->setOutputDevice(device);
    sink->setDeviceUID("1");
    EXPECT_EQ(sink->saveData(), (QVariantMap{{"deviceUID", "1"}}));
    sink->loadWithData({{"deviceUID", "42"}});
    EXPECT_EQ(sink->deviceUID(), "42");
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return sink->outputDevice() == nullptr; }, 30.0));
    EXPECT_FALSE(device->activeVideoFormat());
}

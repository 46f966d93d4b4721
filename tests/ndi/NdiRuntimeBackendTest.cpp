// The NDI runtime where a user installed it; skipped elsewhere (it is not packaged here).
#include "DispatchQueue.h"
#include "NdiRuntimeBackend.h"

#include <gtest/gtest.h>

#include <unistd.h>

TEST(NdiRuntimeBackend, ListsOneSourceAndReceivesOneFrame)
{
    std::string why;
    auto runtime = NdiRuntimeBackend::load(&why);
    if (!runtime)
        GTEST_SKIP() << why;
    const std::string name = "Kavio runtime test " + std::to_string(::getpid());
    auto sender = runtime->createSender(name);
    auto finder = runtime->createFinder();
    ASSERT_TRUE(sender && finder);
    ndi::Source source;
    ASSERT_TRUE(DispatchQueue::runMainUntil(
        [&] {
            for (const auto& s : finder->sources())
                if (s.name.find("(" + name + ")") != std::string::npos)
                    source = s;
            return !source.name.empty();
        },
        30.0));
    auto receiver = runtime->createReceiver(source, ndi::ColorFormat::UYVY_BGRA, "test");
    ASSERT_TRUE(receiver);
    std::vector<uint8_t> pixels(64 * 16 * 4, 0x80);
    ndi::VideoFrame video;
    video.width = 64, video.height = 16, video.fourCC = ndi::kFourCC_BGRA, video.data = pixels.data();
    video.lineStride = 256;
    std::unique_ptr<ndi::CapturedVideo> frame;
    ASSERT_TRUE(DispatchQueue::runMainUntil(
        [&] {
            sender->sendVideo(video);
            frame = receiver->captureVideo();
            return frame != nullptr;
        },
        30.0));
    EXPECT_EQ(frame->frame.width, 64);
    EXPECT_EQ(frame->frame.height, 16);
}

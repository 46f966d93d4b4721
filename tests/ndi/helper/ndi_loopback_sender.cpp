// A second process for the loopback tests: announces "<name>", waits for a receiver, sends ten
// audio frames and ten 64 x 32 BGRA frames (pixel 0 of frame k holds k), then waits until the
// receiver is gone (or 60 s pass). After frame k it waits for the receiver's tally to show
// program with preview = (k even), the receiver's way of saying it took the frame, so no frame
// is dropped however slow the machine. Usage: ndi_loopback_sender <name>
#include "NdiLoopbackBackend.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    NdiLoopbackBackend backend;
    auto sender = backend.createSender(argv[1]);
    if (!sender)
        return 1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto waitFor = [&](auto done) {
        while (!done() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return done();
    };
    if (!waitFor([&] { return sender->connections() > 0; }))
        return 1;
    std::vector<uint8_t> pixels(64 * 32 * 4, 0x40);
    std::vector<float> samples(2 * 480, 0.25f);
    for (int k = 0; k < 10; ++k) {
        ndi::AudioFrame audio;
        audio.channels = 2, audio.samples = 480, audio.data = samples.data(), audio.channelStride = 480 * 4;
        sender->sendAudio(audio);
        pixels[0] = uint8_t(k);
        ndi::VideoFrame video;
        video.width = 64, video.height = 32, video.fourCC = ndi::kFourCC_BGRA, video.data = pixels.data();
        video.lineStride = 64 * 4;
        sender->sendVideo(video);
        const ndi::Tally taken{true, k % 2 == 0};
        if (!waitFor([&] { return sender->tally() == taken; }))
            return 1;
    }
    std::puts("sent");
    std::fflush(stdout);
    waitFor([&] { return sender->connections() == 0; });
    return 0;
}

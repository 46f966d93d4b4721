// The loopback backend's discovery files, queues and connections, within one process and across
// two.
#include "DispatchQueue.h"
#include "NdiLoopbackCodec.h"
#include "NdiTestSupport.h"
#include "QVTNDIReceiver.h"
#include "StrevalDirectory.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr double kTimeout = 30.0;

class LoopbackBackend : public ::testing::Test {
protected:
    void SetUp() override { usePrivateRuntimeDirectory(); }
    NdiLoopbackBackend backend;
};

void writeFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

// A listening socket on 127.0.0.1 and its port.
int listenOnLoopback(uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 4);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

TEST_F(LoopbackBackend, FilesOfGoneProcessesAreSkippedAndRemoved)
{
    const QString dir = QString::fromStdString(NdiLoopbackBackend::discoveryDirectory());
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);  // its pid now names no process
    const QString stale = dir + "/stale.src";
    writeFile(stale, QByteArray("GONE (old)\n127.0.0.1:9\n") + QByteArray::number(child) + "\n");
    const QString partial = dir + "/partial.src";
    writeFile(partial, "HALF (written)\n");
    const QString unrelated = dir + "/notes.txt";
    writeFile(unrelated, "x\n127.0.0.1:9\n1\n");
    auto sender = backend.createSender("alive");
    ASSERT_TRUE(sender);

    const auto sources = backend.createFinder()->sources();
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(sources[0].name, NdiLoopbackBackend::fullSourceName("alive"));
    EXPECT_FALSE(QFile::exists(stale));
    EXPECT_TRUE(QFile::exists(partial)) << "a file being written is left alone";

    // A receiver for an address that is not on this machine is not made.
    EXPECT_FALSE(backend.createReceiver({"X (y)", "10.1.2.3:5961"}, ndi::ColorFormat::Best, "r"));
    EXPECT_FALSE(backend.createReceiver({"X (y)", "127.0.0.1:99999"}, ndi::ColorFormat::Best, "r"));
}

TEST_F(LoopbackBackend, ReceiverKeepsTheFourNewestVideoFrames)
{
    auto sender = backend.createSender("queue");
    auto receiver = backend.createReceiver(backend.createFinder()->sources().at(0), ndi::ColorFormat::Best, "r");
    ASSERT_TRUE(receiver);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return sender->connections() == 1; }, kTimeout));
    EXPECT_EQ(receiver->captureVideo(), nullptr) << "nothing waits yet, and nothing blocks";

    std::vector<uint8_t> pixels(4 * 4 * 2);
    ndi::VideoFrame video;
    video.width = 4, video.height = 2, video.fourCC = ndi::kFourCC_BGRA, video.data = pixels.data();
    video.lineStride = 16;
    for (int k = 0; k < 10; ++k) {
        pixels[0] = uint8_t(k);
        sender->sendVideo(video);
    }
    // Audio after the pictures marks that all of them were read.
    std::vector<float> samples(4);
    ndi::AudioFrame audio;
    audio.channels = 1, audio.samples = 4, audio.data = samples.data(), audio.channelStride = 16;
    sender->sendAudio(audio);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return receiver->captureAudio() != nullptr; }, kTimeout));

    EXPECT_EQ(receiver->queuedVideoFrames(), NdiLoopbackBackend::kVideoQueueLength);
    for (int k = 6; k < 10; ++k) {
        auto frame = receiver->captureVideo();
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->frame.data[0], k);
    }
    EXPECT_EQ(receiver->captureVideo(), nullptr);
}

TEST_F(LoopbackBackend, MalformedMessagesCloseTheConnection)
{
    // To a sender: the bad receiver is dropped, the sender goes on.
    auto sender = backend.createSender("strict");
    const ndi::Source source = backend.createFinder()->sources().at(0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(std::stoi(source.address.substr(source.address.rfind(':') + 1))));
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return sender->connections() == 1; }, kTimeout));
    const uint8_t bad[] = {2, 0, 0, 0, 77, 0, 0};  // type 77
    ASSERT_EQ(::send(fd, bad, sizeof bad, MSG_NOSIGNAL), ssize_t(sizeof bad));
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return sender->connections() == 0; }, kTimeout));
    ::close(fd);

    // To a receiver: it drops the connection and connects again.
    uint16_t port = 0;
    const int server = listenOnLoopback(port);
    auto receiver = backend.createReceiver({"FAKE (src)", "127.0.0.1:" + std::to_string(port)},
                                           ndi::ColorFormat::Best, "r");
    ASSERT_TRUE(receiver);
    const int first = ::accept(server, nullptr, nullptr);
    ASSERT_GE(first, 0);
    auto lying = NdiLoopbackCodec::encodeTally({true, true});
    lying[0] = 1;  // a tally body of one byte
    lying.pop_back();
    ASSERT_EQ(::send(first, lying.data(), lying.size(), MSG_NOSIGNAL), ssize_t(lying.size()));
    const int second = ::accept(server, nullptr, nullptr);  // blocks until it reconnects
    EXPECT_GE(second, 0);
    EXPECT_EQ(receiver->captureVideo(), nullptr);
    receiver.reset();
    ::close(first);
    ::close(second);
    ::close(server);
}

TEST_F(LoopbackBackend, AnotherProcessSendsTenFramesAndItsAudio)
{
    const std::string name = "cross " + std::to_string(::getpid());
    QProcess helper;
    helper.start(NDI_LOOPBACK_SENDER, {QString::fromStdString(name)});
    ASSERT_TRUE(helper.waitForStarted(30000));

    StrevalDirectory directory(backend, false);
    const QString full = QString::fromStdString(NdiLoopbackBackend::fullSourceName(name));
    QVariantList found;
    ASSERT_TRUE(DispatchQueue::runMainUntil(
        [&] {
            found = directory.serversMatchingName(full);
            return !found.isEmpty();
        },
        kTimeout));
    auto receiver = QVTNDIReceiver::initWithSource(found[0].toMap(), false, backend);
    ASSERT_TRUE(receiver);

    int received = 0, audioFrames = 0;
    DispatchQueue::runMainUntil(
        [&] {
            while (auto audio = receiver->audioPCMBuffer()) {
                EXPECT_EQ(audio->frameLength(), 480u);
                EXPECT_EQ(audio->floatChannelData(1)[479], 0.25f);
                ++audioFrames;
            }
            if (auto frame = receiver->pixelBuffer()) {
                EXPECT_EQ(frame->width(), 64);
                EXPECT_EQ(frame->row(0)[0], received) << "frames in order, none lost";
                receiver->setTally(true, received % 2 == 0);  // took it
                ++received;
            }
            return received == 10 && audioFrames == 10;
        },
        kTimeout);
    EXPECT_EQ(received, 10);
    EXPECT_EQ(audioFrames, 10);
    receiver->removeResources();
    EXPECT_TRUE(helper.waitForFinished(30000));
    EXPECT_EQ(helper.exitCode(), 0);
    EXPECT_EQ(helper.readAllStandardOutput().trimmed(), "sent");
}

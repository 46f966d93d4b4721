// Frame-sharing and NDI cues on real sources: frame-sharing servers on the private PipeWire
// session of tests/support, NDI senders of the loopback backend (TCP on 127.0.0.1). Pictures are
// read back from the cue's GPU texture or frames.
#include "SourcesTestSupport.h"
#include "SourcesPictureSupport.h"

#include "../cue/CueTestSupport.h"
#include "../ndi/NdiTestSupport.h"
#include "GpuTestDevice.h"
#include "PipeWireTestServer.h"
#include "Sources/KavioSyphonSource.h"
#include "GpuTexture.h"
#include "NotificationCenter.h"
#include "QVTNDISender.h"
#include "StrevalDirectory.h"
#include "SyphonDirectory.h"
#include "SyphonServer.h"

#include <QDir>
#include <QImage>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr double kTimeout = 30.0;

// The loopback backend, chosen before anything asks for the process's backend.
const bool kLoopbackNDI = [] {
    setenv("KAVIO_NDI_BACKEND", "loopback", 1);
    return true;
}();

// --- Frame sharing --------------------------------------------------------------------------------

// A frame-sharing server of 32 x 16 showing `top` above `bottom`.
struct SharedPicture {
    SharedPicture(const QString& name, QColor top, QColor bottom) : server(name, QSize(32, 16), 30, 1), picture(32, 16, QImage::Format_ARGB32)
    {
        picture.fill(bottom);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 32; ++x)
                picture.setPixelColor(x, y, top);
    }
    void publish() { server.publishFrame(picture.constBits(), std::size_t(picture.bytesPerLine()), picture.size()); }
    SyphonServer server;
    QImage picture;
};

class FrameSharingCue : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto& session = PipeWireTestServer::shared();
        if (!session.isRunning())
            GTEST_SKIP() << session.reason().toStdString();
        controller->size = QSizeF(64, 48);
        controller->inspector = &inspector;
    }

    // The directory's "<application> - <server>" of our server `name`, once it is listed.
    static QString listedName(const QString& name)
    {
        QString found;
        DispatchQueue::runMainUntil([&] {
            const QVariantList servers = SyphonDirectory::sharedDirectory().serversMatchingName(name, QString());
            if (!servers.isEmpty())
                found = SyphonDirectory::displayName(servers.first().toMap());
            return !found.isEmpty();
        }, kTimeout);
        return found;
    }

    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();
    FakeInspector inspector;
};

TEST_F(FrameSharingCue, ShowsItsServerAndFollowsIt)
{
    REQUIRE_GPU_DEVICE();
    auto shared = std::make_unique<SharedPicture>("Stage Left", Qt::red, Qt::blue);
    const QString name = listedName("Stage Left");
    ASSERT_TRUE(name.endsWith(" - Stage Left")) << name.toStdString();
    const auto cue = KavioVideoItem::initWithSyphon(name, controller);
    inspector.shown = cue;
    EXPECT_FALSE(cue->isMissing());
    EXPECT_EQ(cue->mediaPath(), name);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] {
        shared->publish();
        return cue->syphonSourceTexture() != nullptr;
    }, kTimeout));
    EXPECT_EQ(cue->sourceSize(), QSizeF(32, 16));
    const QImage picture = readBack(cue->syphonSourceTexture());
    saveForTheDeveloper(picture.mirrored(), "syphon-cue-red-over-blue");
    // Stored bottom row first: the layer renderer draws frame-sharing sources flipped.
    EXPECT_TRUE(isNear(picture.pixelColor(16, 12), Qt::red, 8)) << picture.pixelColor(16, 12).name().toStdString();
    EXPECT_TRUE(isNear(picture.pixelColor(16, 3), Qt::blue, 8)) << picture.pixelColor(16, 3).name().toStdString();

    // The server goes: missing, no picture, the inspector refreshed; back under its name: shown.
    shared.reset();
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isMissing(); }, kTimeout));
    EXPECT_EQ(cue->syphonSourceTexture(), nullptr);
    EXPECT_GE(inspector.pulls, 1);
    shared = std::make_unique<SharedPicture>("Stage Left", Qt::green, Qt::green);
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return !cue->isMissing(); }, kTimeout));
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] {
        shared->publish();
        const auto texture = cue->syphonSourceTexture();
        return texture && isNear(readBack(texture).pixelColor(16, 8), Qt::green, 8);
    }, kTimeout));
    EXPECT_TRUE(cue->isReady());
    cue->removeResources();
}

TEST_F(FrameSharingCue, NamesOfServers)
{
    // One server alone is no choice: an unnamed cue stays empty.
    auto kavio = std::make_unique<SharedPicture>("Kavio", Qt::red, Qt::red);
    ASSERT_FALSE(listedName("Kavio").isEmpty());
    // (A session's camera nodes are listed too: with those there is always a choice.)
    if (QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System).isEmpty()) {
        ASSERT_TRUE(DispatchQueue::runMainUntil([] { return SyphonDirectory::sharedDirectory().servers().size() == 1; },
                                                kTimeout));
        const auto empty = KavioVideoItem::initWithSyphon(QString(), controller);
        EXPECT_EQ(empty->mediaPath(), "Empty Syphon Cue");
        EXPECT_TRUE(empty->isMissing());
        empty->removeResources();
    }

    // Two: the first that is not named "Kavio". A server name holding the separator keeps it.
    SharedPicture other("Show - Main - Left", Qt::blue, Qt::blue);
    const QString otherName = listedName("Show - Main - Left");
    ASSERT_TRUE(otherName.endsWith(" - Show - Main - Left")) << otherName.toStdString();
    const auto unnamed = KavioVideoItem::initWithSyphon(QString(), controller);
    EXPECT_EQ(unnamed->mediaPath(), otherName);
    EXPECT_FALSE(unnamed->isMissing());
    unnamed->removeResources();

    const auto named = KavioVideoItem::initWithSyphon(otherName, controller);
    EXPECT_FALSE(named->isMissing());
    EXPECT_EQ(named->mediaPath(), otherName);
    // A name no server has: missing, ready, the name kept.
    named->switchSyphonTo("Nobody - Nothing");
    EXPECT_TRUE(named->isMissing());
    EXPECT_TRUE(named->isReady());
    EXPECT_EQ(named->mediaPath(), "Nobody - Nothing");
    EXPECT_EQ(named->syphonSourceTexture(), nullptr);
    named->removeResources();
}

// --- NDI ------------------------------------------------------------------------------------------

class NDICue : public ::testing::Test {
protected:
    void SetUp() override
    {
        usePrivateRuntimeDirectory();
        controller->inspector = &inspector;
    }
    // Sends a green 32 x 16 picture until `done`.
    bool sendUntil(QVTNDISender& sender, const std::function<bool()>& done)
    {
        const std::vector<uint8_t> green = solidBGRA(32, 16, 32 * 4, 0, 255, 0);
        return DispatchQueue::runMainUntil([&] {
            sender.sendMetalTexture(green.data(), 32 * 4, QSizeF(32, 16), false, {});
            return done();
        }, kTimeout);
    }
    // The directory looks now instead of at its next timer tick.
    static void discover() { StrevalDirectory::sharedDirectory().discoverNodeChanges(); }

    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();
    FakeInspector inspector;
};

TEST_F(NDICue, ShowsItsSourceAndFollowsIt)
{
    auto sender = QVTNDISender::initWithName("Cue Camera", false);
    const QString name = QString::fromStdString(NdiLoopbackBackend::fullSourceName("Cue Camera"));
    discover();
    const auto cue = KavioVideoItem::initWithNDI(name, controller);
    inspector.shown = cue;
    EXPECT_FALSE(cue->isMissing());
    EXPECT_EQ(cue->mediaPath(), name);
    std::shared_ptr<const VideoFrame> frame;
    ASSERT_TRUE(sendUntil(*sender, [&] { return (frame = cue->pixelBufferCopy()) != nullptr; }));
    EXPECT_EQ(cue->sourceSize(), QSizeF(32, 16));
    EXPECT_FALSE(cue->isYUV());
    const std::uint8_t* p = frame->data();
    EXPECT_TRUE(isNear(QColor(p[2], p[1], p[0]), Qt::green, 8));

    // The source goes: missing, no frame; back under its name: frames again.
    sender->removeResources();
    sender.reset();
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { discover(); return cue->isMissing(); }, kTimeout));
    EXPECT_EQ(cue->pixelBufferCopy(), nullptr);
    EXPECT_GE(inspector.pulls, 1);
    EXPECT_TRUE(cue->isReady());
    sender = QVTNDISender::initWithName("Cue Camera", false);
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { discover(); return !cue->isMissing(); }, kTimeout));
    EXPECT_TRUE(sendUntil(*sender, [&] { return cue->pixelBufferCopy() != nullptr; }));
    cue->removeResources();
    sender->removeResources();
}

TEST_F(NDICue, NamesOfSources)
{
    discover();
    if (StrevalDirectory::sharedDirectory().listOfSources().isEmpty()) {
        // None there: empty, and a source that comes later does not connect it.
        const auto empty = KavioVideoItem::initWithNDI(QString(), controller);
        EXPECT_EQ(empty->mediaPath(), "Empty NDI Cue");
        EXPECT_TRUE(empty->isMissing());
        auto later = QVTNDISender::initWithName("Later", false);
        const QString laterName = QString::fromStdString(NdiLoopbackBackend::fullSourceName("Later"));
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] {
            discover();
            return !StrevalDirectory::sharedDirectory().serversMatchingName(laterName).isEmpty();
        }, kTimeout));
        EXPECT_TRUE(empty->isMissing());
        EXPECT_EQ(empty->mediaPath(), "Empty NDI Cue");

        // Unnamed with a source there: the first, by its name.
        const auto unnamed = KavioVideoItem::initWithNDI(QString(), controller);
        EXPECT_EQ(unnamed->mediaPath(), laterName);
        EXPECT_FALSE(unnamed->isMissing());
        unnamed->removeResources();
        empty->removeResources();
        later->removeResources();
    }

    // A name no source has: missing and ready, the name kept.
    const auto cue = KavioVideoItem::initWithNDI(QStringLiteral("NOWHERE (Nothing)"), controller);
    EXPECT_TRUE(cue->isMissing());
    EXPECT_EQ(cue->mediaPath(), "NOWHERE (Nothing)");
    cue->switchNDITo(QStringLiteral("NOWHERE (Still nothing)"));
    EXPECT_TRUE(cue->isMissing());
    EXPECT_TRUE(cue->isReady());
    EXPECT_EQ(cue->mediaPath(), "NOWHERE (Still nothing)");
    EXPECT_EQ(cue->pixelBufferCopy(), nullptr);
    cue->removeResources();
}

}  // namespace

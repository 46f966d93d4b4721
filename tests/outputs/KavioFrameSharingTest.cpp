#include "OutputsTestSupport.h"
#include "PipeWireTestServer.h"

#include "Outputs/KavioVideoOutputObject.h"

#include "SyphonClient.h"
#include "SyphonServer.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>

namespace {

class KavioFrameSharingTest : public OutputsTest {
protected:
    void SetUpWithDevice() override
    {
        auto& session = PipeWireTestServer::shared();
        if (!session.isRunning())
            GTEST_SKIP() << session.reason().toStdString();
        output = std::make_shared<KavioVideoOutputObject>(QRectF(0, 0, 64, 36), false, *manager, nullptr);
        output->setIndex(3);
        output->setVideoOutputType(KavioVideoOutputTypeSyphon);
        output->orderFront();
    }
    void TearDown() override
    {
        if (output)
            output->removeResources();
    }

    // Renders frames of `picture` until `done` or about ten seconds have passed.
    template <typename Done>
    bool renderUntil(const std::shared_ptr<GpuTexture>& picture, Done done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            renderFrame([&] { output->renderWithTexture(picture, nullptr, false, {64, 36}, 0, 0); });
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return done();
    }

    std::shared_ptr<KavioVideoOutputObject> output;
};

TEST_F(KavioFrameSharingTest, ASourcePerOutputKeptAcrossKindChangesToItself)
{
    auto server = output->syphonServer();
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->name(), "Kavio Syphon #3");
    EXPECT_TRUE(server->isConnected());
    output->setIndex(5);
    output->setVideoOutputType(KavioVideoOutputTypeSyphon);
    EXPECT_EQ(output->syphonServer(), server);
    EXPECT_EQ(output->syphonServer()->name(), "Kavio Syphon #3");

    SyphonClient client;
    EXPECT_TRUE(client.serverNames().contains("Kavio Syphon #3"));
    output->setVideoOutputType(KavioVideoOutputTypeScreen);
    EXPECT_EQ(output->syphonServer(), nullptr);
    EXPECT_FALSE(client.serverNames().contains("Kavio Syphon #3"));
}

TEST_F(KavioFrameSharingTest, OurClientReadsTheFrames)
{
    SyphonClient client;
    ASSERT_TRUE(client.connectToServer("Kavio Syphon #3"));
    ASSERT_TRUE(renderUntil(solid(64, 36, kRed), [&] { return client.frameCount() >= 3; }))
        << "frames read: " << client.frameCount();
    const QImage frame = client.newestFrame();
    ASSERT_EQ(frame.size(), QSize(64, 36));
    EXPECT_EQ(QColor(frame.pixel(32, 18)), QColor(255, 0, 0));
}

TEST_F(KavioFrameSharingTest, HighBitDepthOutputsShareEightBitFrames)
{
    output->removeResources();
    output = std::make_shared<KavioVideoOutputObject>(QRectF(0, 0, 64, 36), true, *manager, nullptr);
    output->setIndex(4);
    output->setVideoOutputType(KavioVideoOutputTypeSyphon);
    output->orderFront();
    SyphonClient client;
    ASSERT_TRUE(client.connectToServer("Kavio Syphon #4"));
    ASSERT_TRUE(renderUntil(solid(64, 36, kBlue), [&] { return client.frameCount() >= 1; }));
    EXPECT_EQ(QColor(client.newestFrame().pixel(10, 10)), QColor(0, 0, 255));
}

TEST_F(KavioFrameSharingTest, AGStreamerPipelineReadsAFrame)
{
    const QString gst = QStandardPaths::findExecutable("gst-launch-1.0");
    if (gst.isEmpty())
        GTEST_SKIP() << "gst-launch-1.0 is not installed (package gstreamer1.0-tools)";
    QProcess inspect;
    inspect.start(QStandardPaths::findExecutable("gst-inspect-1.0"), {"pipewiresrc"});
    if (!inspect.waitForFinished(20000) || inspect.exitCode() != 0)
        GTEST_SKIP() << "GStreamer's PipeWire element is not installed (package gstreamer1.0-pipewire)";
    QTemporaryDir dir;
    const QString file = dir.filePath("frame.bgra");
    QProcess reader;
    reader.setProcessChannelMode(QProcess::MergedChannels);
    reader.start(gst, {"pipewiresrc", "target-object=Kavio Syphon #3", "num-buffers=1", "!",
                       "video/x-raw,format=BGRA", "!", "filesink", "location=" + file});
    ASSERT_TRUE(reader.waitForStarted());
    // waitForFinished(0) lets the process object notice the end without an event loop.
    const bool read = renderUntil(solid(64, 36, kBlue), [&] {
        return reader.waitForFinished(0) || reader.state() == QProcess::NotRunning;
    });
    if (!read) {
        reader.kill();
        reader.waitForFinished();
    }
    ASSERT_TRUE(read) << reader.readAll().toStdString();
    EXPECT_EQ(reader.exitCode(), 0);
    EXPECT_EQ(QFileInfo(file).size(), 64 * 36 * 4);
}

}  // namespace

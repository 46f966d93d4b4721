#include "OutputsTestSupport.h"

#include "Outputs/KavioOutputSetupControls.h"
#include "Views/KavioControllableTextField.h"
#include "Outputs/KavioVideoOutputManager.h"

#include "DispatchQueue.h"
#include "GpuCommandBuffer.h"
#include "UserDefaults.h"

#include <QCheckBox>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>

QString& twoScreenSkipReason();

namespace {

class OutputWindowsTest : public OutputsTest {
protected:
    void SetUpWithDevice() override
    {
        if (!twoScreenSkipReason().isEmpty())
            GTEST_SKIP() << twoScreenSkipReason().toStdString();
        for (const char* key : {"videoOutputSetup", "autoFullscreen"})
            UserDefaults::standardUserDefaults().removeObjectForKey(key);
        outputs = std::make_unique<KavioVideoOutputManager>(*manager, nullptr);
        outputs->initManager();
    }
    void TearDown() override { outputs.reset(); }

    // One frame of the pass, presented on every output.
    void showFrame(const std::shared_ptr<GpuTexture>& picture)
    {
        renderFrame([&] { outputs->renderWithTexture(picture); });
        std::thread([&] { outputs->presentDrawables(); }).join();
    }

    std::unique_ptr<KavioVideoOutputManager> outputs;
};

TEST_F(OutputWindowsTest, EachScreenShowsItsShareOfTheCanvas)
{
    const auto screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2);
    const auto pairs = outputs->screenNamesAndInfo();
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].title, "screen (Main Display - 1920 x 1080)");
    EXPECT_EQ(pairs[1].title, "screen (1280 x 720)");
    EXPECT_NE(pairs[0].info.displayid, pairs[1].info.displayid);

    outputs->controls().screenRowsField->setText("1");
    outputs->controls().screenColsField->setText("2");
    outputs->changeNumberOfScreensManually();
    outputs->undoChangeScreen(pairs[0], 1);
    outputs->undoChangeScreen(pairs[1], 2);
    outputs->undoChangeDisplayModeToState(true);
    outputs->toggleFullscreen();

    // The canvas is two render resolutions wide: red on the first screen, blue on the second.
    const QSizeF canvas = outputs->renderSize();
    ASSERT_EQ(canvas, QSizeF(3840, 1080));
    const auto picture = halves(64, 16);
    for (int frame = 0; frame < 3; ++frame) {
        showFrame(picture);
        DispatchQueue::runMainUntil([] { return false; }, 0.2);
    }

    const Rgba expected[] = {kRed, kBlue};
    for (int i = 0; i < 2; ++i) {
        const QImage shot = screens[i]->grabWindow(0).toImage();
        shot.save(QDir::current().filePath(QString("output-screen-%1.png").arg(i)));
        const QColor centre = shot.pixelColor(shot.width() / 2, shot.height() / 2);
        EXPECT_TRUE(near({centre.red(), centre.green(), centre.blue(), 255}, expected[i], 8)) << "screen " << i;
    }
    outputs->toggleFullscreen();
}

}  // namespace

// LTC chosen in the preferences of the whole program: libltc's 25 fps code from 00:00:05:00 on
// the second channel, played into a null sink of the test's own PulseAudio server, whose monitor
// is chosen as the LTC source and its channel 2 as the LTC channel; the master clock follows.
// (The picture of the chasing show: tests/endtoend/LtcChaseTest.cpp.)

#include "ShellTestSupport.h"

#include "AudioBackend.h"
#include "Audio/QVTAudioInput.h"
#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "DispatchQueue.h"
#include "LtcTestSignal.h"
#include "PulseAudioTestServer.h"
#include "Shell/KavioSyncSourceLists.h"
#include "Views/KavioPopUpButton.h"

#include <QAction>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

TEST(LtcSource, TheMonitorChosenInThePaneDrivesTheClock)
{
    std::string reason;
    if (!PulseAudioTestServer::ensureRunning(&reason))
        GTEST_SKIP() << reason;
    ShellTestEnvironment env;
    const std::shared_ptr<AudioBackend> pulse = AudioBackend::make("pulse");
    ASSERT_TRUE(pulse);
    AudioBackend::setShared(pulse);
    QString monitor;
    for (const auto& [title, uid] : KavioSyncSourceLists::ltcDevices(pulse->devices()))
        if (uid == QStringLiteral("stereo.monitor"))
            monitor = title;
    ASSERT_FALSE(monitor.isEmpty());
    {
        ShellTestProgram program(env);
        program.launch();
        AppDelegate& app = program.app();
        const AppDelegateOutlets& o = app.outlets();
        const std::shared_ptr<QVTClock> clock = program.ui->controller()->masterClock();
        clock->setSmpteFormat(QVTClockSMPTEFormat25);
        clock->setMaxClockSMPTETime(QStringLiteral("01:00:00:00"));

        chooseItemWithTitle(o.ltcSourcePopup, monitor);
        ASSERT_TRUE(app.ltcInput());
        EXPECT_EQ(clock->ltcInputNode(), app.ltcInput());
        EXPECT_TRUE(o.ltcSource->isEnabled());
        ASSERT_EQ(o.ltcSourceChannelPopup->numberOfItems(), 2);
        chooseItemWithTitle(o.ltcSourceChannelPopup, QStringLiteral("2"));
        EXPECT_EQ(app.ltcInput()->inputChannel(), 1);
        app.toggleSourceMode(o.ltcSource);
        ASSERT_TRUE(clock->isLTCSlave());

        const std::vector<float> ltc = encodeLTC(25, 0, 0, 5, 0, 25 * 4);
        const std::string file = PulseAudioTestServer::folder() + "/program-ltc.raw";
        {
            std::ofstream out(file, std::ios::binary);
            for (float sample : ltc) {
                const float frame[2] = {0.0f, sample};
                out.write(reinterpret_cast<const char*>(frame), sizeof frame);
            }
        }
        ASSERT_EQ(std::system(("pacat --device=stereo --format=float32le --rate=48000 --channels=2 --raw " + file +
                               " &")
                                  .c_str()),
                  0);
        const int64_t followed = clock->frameCountSMPTEString(QStringLiteral("00:00:06:00"));
        EXPECT_TRUE(DispatchQueue::runMainUntil(
            [&] { return clock->frameCountSMPTEString(clock->clockSMPTETime()) >= followed; }, 30))
            << clock->clockSMPTETime().toStdString();
        EXPECT_TRUE(clock->isConnectedToSlave() || clock->isInJamSync());

        // "Disabled" forgets the device and releases the input.
        chooseItemWithTitle(o.ltcSourcePopup, QStringLiteral("Disabled"));
        EXPECT_FALSE(app.ltcInput());
        EXPECT_EQ(clock->ltcInputNode(), nullptr);
        EXPECT_TRUE(app.lastInterfaces().ltc.isEmpty());
        EXPECT_EQ(o.ltcSourceChannelPopup->titleOfSelectedItem(), QStringLiteral("None"));
        app.toggleSourceMode(o.standaloneSource);
    }
    AudioBackend::setShared(AudioBackend::make("null"));
}

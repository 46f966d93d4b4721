// The login manager on a private bus standing in for the system bus: the idle inhibitor is held
// while the program renders and let go at quit; PrepareForSleep(true) asks playback to stop.

#include "FakeLogin1.h"
#include "ShellTestSupport.h"

#include "Controller/KavioVideoItemManager.h"
#include "Log.h"

#include <spdlog/sinks/ostream_sink.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <sstream>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The writing end is closed everywhere: reading gives end of file.
bool released(int readEnd)
{
    char byte;
    return ::read(readEnd, &byte, 1) == 0;
}

}  // namespace

TEST(KavioSleepWatch, IdleInhibitorWhileRenderingAndSleepStopsPlayback)
{
    QProcess daemon;
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!daemon.waitForStarted() || !daemon.waitForReadyRead(30000))
        GTEST_SKIP() << "no dbus-daemon";
    const QByteArray address = daemon.readLine().trimmed();
    // Read before the first use of the system bus in this process.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address.constData(), 1);

    QThread serving;
    serving.start();
    FakeLogin1 login1;
    login1.moveToThread(&serving);
    QDBusConnection fake = QDBusConnection::connectToBus(QString::fromLatin1(address), "fake-login1");
    ASSERT_TRUE(fake.isConnected());
    ASSERT_TRUE(fake.registerService("org.freedesktop.login1"));
    ASSERT_TRUE(fake.registerObject("/org/freedesktop/login1", &login1, QDBusConnection::ExportAllSlots));

    {
        ShellTestEnvironment env;
        ShellTestProgram program(env);
        program.launch();
        EXPECT_EQ(login1.inhibits.load(), 1);
        EXPECT_TRUE(program.app().isRendering());
        ASSERT_GE(login1.readEnd, 0);
        EXPECT_FALSE(released(login1.readEnd));

        std::ostringstream log;
        KavioLog::logger().sinks().push_back(std::make_shared<spdlog::sinks::ostream_sink_st>(log));
        program.ui->controller()->setIsPlaying(true);
        QDBusMessage sleep = QDBusMessage::createSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep");
        sleep << true;
        fake.send(sleep);
        EXPECT_TRUE(QTest::qWaitFor([&log] { return log.str().find("playback should pause...") != std::string::npos; }, 30000));
        KavioLog::logger().sinks().pop_back();
        program.ui->controller()->setIsPlaying(false);

        program.app().applicationWillTerminate();
        EXPECT_FALSE(program.app().isRendering());
        EXPECT_TRUE(released(login1.readEnd));
    }
    fake.unregisterObject("/org/freedesktop/login1");
    QDBusConnection::disconnectFromBus("fake-login1");
    serving.quit();
    serving.wait();
    login1.moveToThread(QThread::currentThread());
    daemon.kill();
    daemon.waitForFinished();
}

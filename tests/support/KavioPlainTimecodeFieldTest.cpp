// The timecode field's thread-safe text: one thread writes every frame while another reads.

#include "Support/KavioPlainTimecodeField.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(KavioPlainTimecodeField, ReadsNeverSeeAHalfWrittenText)
{
    KavioPlainTimecodeField field;
    const QString a = QStringLiteral("00:00:00:00");
    const QString b = QStringLiteral("-11:22:33:44");
    const QString mixedShort = b.left(6) + a.mid(6);  // 11 units, as a
    const QString mixedLong = a.left(6) + b.mid(6);   // 12 units, as b
    field.setThreadsafeTimecode(a);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 200000; ++i)
            field.setThreadsafeTimecode(i % 2 ? b : a);
        done = true;
    });
    int torn = 0;
    int reads = 0;
    while (!done.load()) {
        const QString seen = field.threadsafeTimecode();
        torn += seen != a && seen != b;
        // A mix of the two texts is never taken as equal.
        torn += field.threadsafeTimecodeEquals(mixedShort) || field.threadsafeTimecodeEquals(mixedLong);
        ++reads;
    }
    writer.join();
    EXPECT_EQ(torn, 0) << "of " << reads;
    // The last write (an odd count) stands.
    EXPECT_TRUE(field.threadsafeTimecodeEquals(b));
    EXPECT_FALSE(field.threadsafeTimecodeEquals(a));
}

TEST(KavioPlainTimecodeField, ShowsTheThreadSafeText)
{
    KavioPlainTimecodeField field;
    field.setThreadsafeTimecode(QStringLiteral("00:00:05:00"));
    QElapsedTimer waited;
    waited.start();
    while (field.stringValue() != QStringLiteral("00:00:05:00") && waited.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_EQ(field.stringValue(), QStringLiteral("00:00:05:00"));
    // Longer texts are cut, never written past the buffer.
    field.setThreadsafeTimecode(QString(100, QLatin1Char('1')));
    EXPECT_EQ(field.threadsafeTimecode().size(), KavioPlainTimecodeField::kMaxLength);
}

// The time display's thread-safe text: one thread writes every frame while another reads.

#include "NotificationCenter.h"
#include "Support/KavioThreadsafeText.h"
#include "Views/KavioTimecodeTextField.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(KavioThreadsafeText, ReadsNeverSeeAHalfWrittenText)
{
    KavioThreadsafeText field;
    const QString a = QStringLiteral("00:00:00:00");
    const QString b = QStringLiteral("-11:22:33:44");
    const QString mixedShort = b.left(6) + a.mid(6);  // 11 units, as a
    const QString mixedLong = a.left(6) + b.mid(6);   // 12 units, as b
    field.store(a);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 200000; ++i)
            field.store(i % 2 ? b : a);
        done = true;
    });
    int torn = 0;
    int reads = 0;
    while (!done.load()) {
        const QString seen = field.load();
        torn += seen != a && seen != b;
        // A mix of the two texts is never taken as equal.
        torn += field.equals(mixedShort) || field.equals(mixedLong);
        ++reads;
    }
    writer.join();
    EXPECT_EQ(torn, 0) << "of " << reads;
    // The last write (an odd count) stands.
    EXPECT_TRUE(field.equals(b));
    EXPECT_FALSE(field.equals(a));
}

TEST(KavioThreadsafeText, TheTimeDisplayShowsItAtTheTick)
{
    KavioTimecodeTextField field;
    field.setThreadsafeTimecode(QStringLiteral("00:00:05:00"));
    EXPECT_TRUE(field.threadsafeTimecodeEquals(QStringLiteral("00:00:05:00")));
    QElapsedTimer waited;
    waited.start();
    while (field.stringValue() != QStringLiteral("00:00:05:00") && waited.elapsed() < 30000) {
        NotificationCenter::defaultCenter().post(QStringLiteral("KavioUpdateUI"));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    EXPECT_EQ(field.stringValue(), QStringLiteral("00:00:05:00"));
    // Longer texts are cut, never written past the buffer.
    field.setThreadsafeTimecode(QString(100, QLatin1Char('1')));
    EXPECT_EQ(field.threadsafeTimecode().size(), KavioThreadsafeText::kMaxLength);
}

#pragma once
// What the clock's tests share: a time source moved by hand, a recorder of the clock's
// notifications, and a fixture whose clock runs its cycles on that time source.

#include "Clock/QVTClock.h"
#include "SteppedClockTime.h"

#include "NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <ostream>
#include <vector>

using FakeTimeSource = SteppedClockTime;

struct Posted {
    QString name;
    QVariantMap userInfo;
};

// Records every notification of the clock's centre posted with the clock as object.
class Recorder {
public:
    explicit Recorder(QVTClock& clock) : clock_(clock)
    {
        token_ = clock.notificationCenter().addObserver(nullptr, QString(), &clock, [this](const Notification& n) {
            std::lock_guard lock(mutex_);
            posted_.push_back({n.name, n.userInfo});
        });
    }
    ~Recorder() { clock_.notificationCenter().removeObserver(token_); }

    std::vector<Posted> take()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(posted_, {});
    }
    QStringList takeNames()
    {
        QStringList names;
        for (const auto& p : take()) {
            names << p.name;
        }
        return names;
    }

private:
    QVTClock& clock_;
    NotificationCenter::Token token_ = 0;
    std::mutex mutex_;
    std::vector<Posted> posted_;
};

inline std::shared_ptr<QVTClock> clockAt(int32_t format, const std::shared_ptr<QVTClockTimeSource>& source = nullptr)
{
    auto clock = QVTClock::initClock(source);
    clock->setSmpteFormat(format);
    return clock;
}

const QString kTimeChanged = QVTClockNotification::TimeChanged;
const QString kStarted = QVTClockNotification::Started;
const QString kStopped = QVTClockNotification::Stopped;
const QString kExtStartTimeSet = QVTClockNotification::ExtStartTimeSet;
const QString kSlaveStateChanged = QVTClockNotification::SlaveStateChanged;

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

class QVTClockCycles : public testing::Test {
protected:
    void SetUp() override
    {
        clock = QVTClock::initClock(source);
        clock->setSmpteFormat(QVTClockSMPTEFormat25);
        clock->setMaxClockSMPTETime("01:00:00:00");
        recorder = std::make_unique<Recorder>(*clock);
    }
    void TearDown() override { recorder.reset(); }

    void cycles(int n)
    {
        for (int i = 0; i < n; ++i) {
            clock->runCycle(source->now.load());
        }
    }

    std::shared_ptr<FakeTimeSource> source = std::make_shared<FakeTimeSource>();
    std::shared_ptr<QVTClock> clock;
    std::unique_ptr<Recorder> recorder;
};

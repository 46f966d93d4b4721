#include "Clock/QVTClock.h"

#include "Audio/QVTAudioInput.h"
#include "DispatchQueue.h"
#include "Remote/KavioNMCManager.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "QVTMIDIManager.h"
#include "TonarilNotifications.h"

#include <ltc.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

namespace {

constexpr char kThreadName[] = "com.dalvek.kavio-clockrenderer";
// FIFO at a middle priority: ahead of all normal work, below the kernel's interrupt threads (50).
constexpr int kClockThreadPriority = 45;
constexpr double kJamSyncFrames = 3.0;
constexpr int kLTCQueueFrames = 16;

class HostTimeSource final : public QVTClockTimeSource {
public:
    uint64_t monotonicNanoseconds() override
    {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return uint64_t(ts.tv_sec) * 1'000'000'000u + uint64_t(ts.tv_nsec);
    }

    void sleepUntil(uint64_t deadline) override
    {
        const timespec ts{time_t(deadline / 1'000'000'000u), long(deadline % 1'000'000'000u)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
    }
};

// A step of the clock thread in seconds, rounded to single precision on the way, as the clock
// has always counted it.
float stepSeconds(uint64_t nanoseconds)
{
    return static_cast<float>(nanoseconds) / 1e9f;
}

// double -> int32 truncating toward zero; saturating instead of undefined for out-of-range
// values, NaN gives 0.
int32_t trunc32(double x)
{
    if (std::isnan(x)) {
        return 0;
    }
    if (x >= 2147483647.0) {
        return std::numeric_limits<int32_t>::max();
    }
    if (x <= -2147483648.0) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(x);
}

// Rounded to single precision first, then truncated.
int32_t truncSingle32(double x)
{
    return trunc32(static_cast<float>(x));
}

constexpr size_t kSMPTEBufferSize = 64;
using SMPTEBuffer = std::array<char, kSMPTEBufferSize>;

// The SMPTE form of a time, written into a fixed buffer so that the clock thread formats without
// allocating. `t` must not be NaN.
void formatSMPTETime(double t, int fps, double frameTime, SMPTEBuffer& out)
{
    int64_t h = trunc32(t / 3600);
    const double r1 = t - double(h) * 3600;
    int64_t m = trunc32(r1 / 60);
    const double r2 = r1 - double(m) * 60;
    int64_t s = truncSingle32(r2);
    const double r3 = r2 - double(s);
    double fr = r3 / frameTime;
    const double frac = std::fabs(double(truncSingle32(fr)) - fr);
    if (frac >= 0.94) {
        fr += 1 - frac;
        if (trunc32(std::fabs(fr)) == fps) {
            if (++s == 60) {
                s = 0;
                if (++m == 60) {
                    m = 0;
                    ++h;
                }
            }
            fr = 0;
        }
    }
    std::snprintf(out.data(), out.size(), "%02lld:%02lld:%02lld:%02d", static_cast<long long>(h),
                  static_cast<long long>(m), static_cast<long long>(s), truncSingle32(std::fabs(fr)));
}

// Reads a leading decimal integer the way the show's strings have always been read: leading
// white space and a sign allowed, no digits gives 0, out-of-range values saturate.
template <typename Int>
Int readIntegerField(QStringView field)
{
    qsizetype i = 0;
    while (i < field.size() && field[i].isSpace()) {
        ++i;
    }
    bool negative = false;
    if (i < field.size() && (field[i] == u'-' || field[i] == u'+')) {
        negative = field[i] == u'-';
        ++i;
    }
    constexpr Int limit = std::numeric_limits<Int>::max();
    Int value = 0;
    bool saturated = false;
    for (; i < field.size() && field[i] >= u'0' && field[i] <= u'9'; ++i) {
        const Int digit = Int(field[i].unicode() - u'0');
        if (value > (limit - digit) / 10) {
            saturated = true;
        } else if (!saturated) {
            value = value * 10 + digit;
        }
    }
    if (saturated) {
        return negative ? std::numeric_limits<Int>::min() : limit;
    }
    return negative ? -value : value;
}

// Hours, minutes, seconds and frames: the first four fields, missing leading fields as 0.
// Allocates nothing: the cue list's tick compares times this way on the clock thread.
std::array<int32_t, 4> fourFields(QStringView smpte)
{
    std::array<QStringView, 4> parts;
    size_t n = 0;
    for (qsizetype from = 0; n < parts.size();) {
        const qsizetype colon = smpte.indexOf(u':', from);
        parts[n++] = smpte.mid(from, colon < 0 ? -1 : colon - from);
        if (colon < 0) {
            break;
        }
        from = colon + 1;
    }
    std::array<int32_t, 4> fields{};
    for (size_t i = 0; i < n; ++i) {
        fields[4 - n + i] = readIntegerField<int32_t>(parts[i]);
    }
    return fields;
}

}  // namespace

std::shared_ptr<QVTClockTimeSource> QVTClockTimeSource::host()
{
    static const auto source = std::make_shared<HostTimeSource>();
    return source;
}

bool QVTClock::StateGuard::tryEnter()
{
    // Holders keep it for a few loads and stores: a short spin nearly always gets it.
    for (int attempt = 0; attempt < 128; ++attempt) {
        if (!busy_.load(std::memory_order_relaxed) && !busy_.exchange(true, std::memory_order_acquire)) {
            return true;
        }
    }
    return false;
}

void QVTClock::StateGuard::enter()
{
    while (!tryEnter()) {
        // Sleeping, not yielding, lets a preempted holder run even when the waiter is real-time.
        const timespec pause{0, 1000};
        nanosleep(&pause, nullptr);
    }
}

void QVTClock::StateGuard::leave()
{
    busy_.store(false, std::memory_order_release);
}

std::shared_ptr<QVTClock> QVTClock::initClock(std::shared_ptr<QVTClockTimeSource> timeSource)
{
    return std::shared_ptr<QVTClock>(new QVTClock(timeSource ? std::move(timeSource) : QVTClockTimeSource::host()));
}

QVTClock::QVTClock(std::shared_ptr<QVTClockTimeSource> timeSource)
    : timeSource_(std::move(timeSource)), notificationCenter_(std::make_unique<NotificationCenter>())
{
}

QVTClock::~QVTClock()
{
    if (thread_.joinable()) {
        threadShouldEnd_->store(true);
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
    delete completedHandler_.exchange(nullptr);
    if (ltcInput_) ltcInput_->setDelegate(nullptr);
    for (MIDISource* source : {&mtcSource_, &mmcSource_, &mscSource_}) {
        for (const auto token : source->tokens) {
            source->center->removeObserver(token);
        }
    }
    if (ltcDecoder) {
        ltc_decoder_free(ltcDecoder);
    }
}

void QVTClock::runClockRenderer()
{
    if (thread_.joinable()) {
        return;
    }
    KLOG_VERBOSE("runClockRenderer");
    threadShouldEnd_ = std::make_shared<std::atomic<bool>>(false);
    thread_ = std::thread(&QVTClock::render, this, threadShouldEnd_);
}

void QVTClock::render(QVTClock* clock, std::shared_ptr<std::atomic<bool>> end)
{
    sched_param param{};
    param.sched_priority = kClockThreadPriority;
    if (const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param)) {
        KLOG_WARN("pthread_setschedparam(SCHED_FIFO): {}; the clock thread runs at normal priority",
                  std::error_code(error, std::generic_category()).message());
    }
    clock->clockStateGuard.enter();
    clock->lasttime = clock->timeSource_->monotonicNanoseconds();
    clock->clockStateGuard.leave();
    pthread_setname_np(pthread_self(), std::string(kThreadName).substr(0, 15).c_str());

    while (!end->load()) {
        clock->runCycle(clock->timeSource_->monotonicNanoseconds());
    }
}

void QVTClock::runCycle(uint64_t now)
{
    if (isRunning_.load()) {
        if (!isMTCSlave_.load() && !isLTCSlave_.load()) {
            advanceInternalClock(now);
        } else {
            followTimecode(now);
        }
    } else if (clockStateGuard.tryEnter()) {
        if (!isRunning_.load()) {  // a start since the check has set its own lasttime
            lasttime = now;
        }
        clockStateGuard.leave();
    }
    timeSource_->sleepUntil(now + kCyclePeriodNanoseconds);
    completeRequestedStop();
}

void QVTClock::advanceInternalClock(uint64_t now)
{
    if (!clockStateGuard.tryEnter()) {
        return;  // lasttime stays: the next cycle's step covers this one's too
    }
    const uint64_t stored = lasttime;
    if (stored > now) {
        // Another thread set the time after this cycle took `now`: mirror, never a wrapped step.
        lasttime = 2 * now - stored;
    }
    const double before = clockTime_.load();
    const double after = before + stepSeconds(now - lasttime);
    clockTime_.store(after);
    lasttime = now;
    clockStateGuard.leave();

    if (stored > now) {
        KLOG_VERBOSE("error! now: {} lasttime : {}", now, stored);
    }
    postIfFrameChanged(before, after);
}

void QVTClock::followTimecode(uint64_t now)
{
    const double frameTime = frameTimeOfCurrentSMPTEFormat();
    const int32_t freeWheel = freeWheelFrames_.load();
    const bool connected = isConnectedToSlave_.load();

    if (!clockStateGuard.tryEnter()) {
        return;
    }
    // Unlike the internal clock's, this step is not mirrored: a time set after `now` gives 0.
    const float step = stepSeconds(now > lasttime ? now - lasttime : 0);
    lasttime = now;
    freewheeltimer += step;
    const double silence = freewheeltimer;

    const bool endless = freeWheel == kEndlessFreeWheel && connected;
    const bool loseLock = !endless && connected && silence > freeWheel * frameTime;
    const bool jamSync = endless && silence > kJamSyncFrames * frameTime;
    const bool entersJamSync = jamSync && !isInJamSync_.load();
    double before = 0;
    double after = 0;
    if (jamSync) {
        // The clock stood still while those frames were missing: catch up once.
        before = clockTime_.load() + (entersJamSync ? kJamSyncFrames * frameTime : 0.0);
        after = before + step;
        clockTime_.store(after);
    }
    clockStateGuard.leave();

    if (loseLock) {
        isConnectedToSlave_.store(false);
        post(QVTClockNotification::SlaveStateChanged);
        stopClockWithCompletedHandler(nullptr);
    }
    if (entersJamSync) {
        isInJamSync_.store(true);
        post(QVTClockNotification::SlaveStateChanged);
    }
    if (jamSync) {
        postIfFrameChanged(before, after);
    }
}

void QVTClock::completeRequestedStop()
{
    if (!shouldstop.load() || !clockStateGuard.tryEnter()) {
        return;  // nothing requested, or another thread is busy: the next cycle completes it
    }
    Callback* completion = nullptr;
    if (shouldstop.load()) {
        shouldstop.store(false);
        isRunning_.store(false);
        completion = completedHandler_.exchange(nullptr);
    }
    clockStateGuard.leave();
    if (completion) {
        (*completion)();
        delete completion;
    }
}

void QVTClock::postIfFrameChanged(double before, double after)
{
    if (std::isnan(before) || std::isnan(after)) {
        return;
    }
    const int fps = framerate();
    const double frameTime = frameTimeOfCurrentSMPTEFormat();
    SMPTEBuffer a;
    SMPTEBuffer b;
    formatSMPTETime(before, fps, frameTime, a);
    formatSMPTETime(after, fps, frameTime, b);
    if (std::strcmp(a.data(), b.data()) != 0) {
        post(QVTClockNotification::TimeChanged,
             {{QString::fromLatin1(QVTClockNotification::TimeChanged), QString::fromLatin1(b.data())}});
    }
}

void QVTClock::post(const char* name, const QVariantMap& userInfo)
{
    notificationCenter_->post(QString::fromLatin1(name), this, userInfo);
}

void QVTClock::postWithClockSMPTETime(const char* name)
{
    post(name, {{QString::fromLatin1(name), clockSMPTETime()}});
}

// --- Transport ------------------------------------------------------------------------------

void QVTClock::startClock()
{
    const QString s = clockSMPTETime();
    clockStateGuard.enter();
    Callback* cancelled = completedHandler_.exchange(nullptr);
    shouldstop.store(false);
    lasttime = timeSource_->monotonicNanoseconds();
    isRunning_.store(true);
    clockStateGuard.leave();
    delete cancelled;

    networkLink().sendPlayOnLocation(s, uint8_t(framerate()), 0);
    post(QVTClockNotification::Started,
         {{QString::fromLatin1(QVTClockNotification::Started), QString::fromLatin1(QVTClockNotification::Started)}});
    if (!isMTCSlave_.load() && !isLTCSlave_.load()) {
        post(QVTClockNotification::TimeChanged, {{QString::fromLatin1(QVTClockNotification::TimeChanged), s}});
    }
}

void QVTClock::stopClockWithCompletedHandler(Callback handler)
{
    auto* completion = new Callback([weak = weak_from_this(), handler] {
        const auto self = weak.lock();
        if (!self) {
            KLOG_VERBOSE("!!! no self in clock, this is a problem!");
            return;
        }
        self->networkLink().sendStopOnLocation(self->clockSMPTETime(), uint8_t(self->framerate()), 0);
        self->post(QVTClockNotification::Stopped, {{QString::fromLatin1(QVTClockNotification::Stopped),
                                                    QString::fromLatin1(QVTClockNotification::Stopped)}});
        if (handler) {
            handler();
        }
    });

    const StopRequest request = requestStop(completion);
    if (!request.running) {
        KLOG_VERBOSE("stopClockWithCompletedHandler called but the clock is not running, fallback...");
    } else if (request.pending) {
        KLOG_VERBOSE("!!! POSSIBLE ERROR - CLOCK ALREADY WAIT TO BE STOPPED! At least we will run the completed handler...");
    } else {
        return;
    }
    if (handler) {
        handler();
    }
}

void QVTClock::restartClockFromTimeWithoutNotifyingManager(double seconds, Callback handler)
{
    auto* completion = new Callback([weak = weak_from_this(), seconds, handler] {
        const auto self = weak.lock();
        if (!self) {
            KLOG_VERBOSE("!!! no self on restart clock, this is a problem!");
            return;
        }
        self->setClockStartTimeWithoutOffset(seconds);
        self->clockStateGuard.enter();
        self->shouldstop.store(false);
        self->lasttime = self->timeSource_->monotonicNanoseconds();
        self->isRunning_.store(true);
        self->clockStateGuard.leave();
        if (handler) {
            handler();
        }
    });

    if (!requestStop(completion).accepted()) {
        KLOG_VERBOSE("POSSIBLE ERROR: clock was stopped already, or it is not running when calling restartClockFromTime");
    }
}

QVTClock::StopRequest QVTClock::requestStop(Callback* completion)
{
    clockStateGuard.enter();
    const StopRequest request{isRunning_.load(), shouldstop.load()};
    Callback* replaced = nullptr;
    if (request.accepted()) {
        replaced = completedHandler_.exchange(completion);
        completion = nullptr;
        shouldstop.store(true);
    }
    clockStateGuard.leave();
    delete replaced;
    delete completion;
    return request;
}

void QVTClock::addStopCompletedHandler(Callback handler)
{
    delete completedHandler_.exchange(handler ? new Callback(std::move(handler)) : nullptr);
}

void QVTClock::doStopCompletedHandlerIfNeeded()
{
    if (Callback* completion = completedHandler_.exchange(nullptr)) {
        (*completion)();
        delete completion;
    }
}

void QVTClock::setClockStartTime(double seconds, bool useOffset)
{
    clockStateGuard.enter();
    lasttime = timeSource_->monotonicNanoseconds();
    clockTime_.store(useOffset ? seconds + clockOffset_.load() : seconds);
    clockStateGuard.leave();
    networkLink().sendLocateOnLocation(clockSMPTETime(), uint8_t(framerate()), 0);
}

void QVTClock::setClockStartTime(double seconds)
{
    setClockStartTime(seconds, true);
}

void QVTClock::setClockStartTimeWithoutOffset(double seconds)
{
    setClockStartTime(seconds, false);
}

void QVTClock::locateClockToTime(double seconds)
{
    setClockStartTimeWithoutOffset(seconds);
    postWithClockSMPTETime(QVTClockNotification::ExtStartTimeSet);
}

void QVTClock::handleNewTimeInSlaveMode(double seconds)
{
    if (!DispatchQueue::isMainThread()) {
        DispatchQueue::main().async([weak = weak_from_this(), seconds] {
            if (const auto self = weak.lock()) {
                self->handleNewTimeInSlaveMode(seconds);
            }
        });
        return;
    }
    const QString n = smpteRepresentationOfTime(seconds);
    if (!smpteTimeIsLowerThanSMPTETime(n, maxClockSMPTETime())) {
        handleOverMaxClockSMPTETime();
        return;
    }
    if (isRunning_.load()) {
        if (smpteTimeIsConsecutiveToSMPTETime(n, clockSMPTETime())) {
            setClockTime(seconds);
            postWithClockSMPTETime(QVTClockNotification::TimeChanged);
        } else {
            KLOG_VERBOSE("MTC/LTC is broken, restart clock");
            // The completion runs only while the clock lives (the stop's wrapper holds it).
            stopClockWithCompletedHandler([this, seconds] {
                setClockStartTimeWithoutOffset(seconds + frameTimeOfCurrentSMPTEFormat());
                postWithClockSMPTETime(QVTClockNotification::ExtStartTimeSet);
            });
        }
        return;
    }
    if (smpteTimeIsEqualOrGreatThanSMPTETime(n, smpteRepresentationOfTime(clockOffset()))) {
        setClockStartTimeWithoutOffset(seconds);
        postWithClockSMPTETime(QVTClockNotification::ExtStartTimeSet);
        startClock();
        postWithClockSMPTETime(QVTClockNotification::TimeChanged);
    }
}

void QVTClock::handleOverMaxClockSMPTETime()
{
    const auto clamp = [this] {
        const QString max = maxClockSMPTETime();
        if (clockSMPTETime() == max) {
            return;
        }
        setClockStartTimeWithoutOffset(secondsForSMPTEString(max));
        KLOG_VERBOSE("handle max to: {}", clockSMPTETime().toStdString());
        postWithClockSMPTETime(QVTClockNotification::ExtStartTimeSet);
        postWithClockSMPTETime(QVTClockNotification::TimeChanged);
    };
    if (isRunning_.load()) {
        stopClockWithCompletedHandler(clamp);
    } else {
        clamp();
    }
}

// --- Conversions ----------------------------------------------------------------------------

double QVTClock::frameTimeOfCurrentSMPTEFormat() const
{
    switch (smpteFormat_.load()) {
    case QVTClockSMPTEFormat24:
        return 1.0 / 24;
    case QVTClockSMPTEFormat25:
        return 0.04;
    default:
        return 1.0 / 30;
    }
}

int QVTClock::framerate() const
{
    switch (smpteFormat_.load()) {
    case QVTClockSMPTEFormat24:
        return 24;
    case QVTClockSMPTEFormat25:
        return 25;
    default:
        return 30;
    }
}

QString QVTClock::clockSMPTETime() const
{
    return smpteRepresentationOfTime(clockTime_.load());
}

QString QVTClock::smpteRepresentationOfTime(double seconds) const
{
    if (std::isnan(seconds)) {
        KLOG_VERBOSE("smpteRepresentationOfTime with nan, fallback...");
        return QStringLiteral("00:00:00:00");
    }
    SMPTEBuffer buffer;
    formatSMPTETime(seconds, framerate(), frameTimeOfCurrentSMPTEFormat(), buffer);
    return QString::fromLatin1(buffer.data());
}

QString QVTClock::smpteRepresentationOfFrames(uint64_t frames) const
{
    const uint64_t fps = uint64_t(framerate());
    const uint64_t h = frames / (fps * 3600);
    const uint64_t p = frames - h * fps * 3600;
    const uint64_t m = p / (fps * 60);
    const uint64_t q = p - m * fps * 60;
    const uint64_t s = q / fps;
    const uint64_t f = q - s * fps;
    return QString::asprintf("%02llu:%02llu:%02llu:%02llu", static_cast<unsigned long long>(h),
                             static_cast<unsigned long long>(m), static_cast<unsigned long long>(s),
                             static_cast<unsigned long long>(f));
}

double QVTClock::secondsForSMPTEString(const QString& smpte) const
{
    if (smpte.isNull()) {
        return 0.0;
    }
    QStringView trimmed(smpte);
    while (trimmed.startsWith(u'-')) {
        trimmed = trimmed.mid(1);
    }
    while (trimmed.endsWith(u'-')) {
        trimmed.chop(1);
    }
    const auto [h, m, s, f] = fourFields(trimmed);
    return f * frameTimeOfCurrentSMPTEFormat() + double(int64_t(s) + int64_t(m) * 60 + int64_t(h) * 3600);
}

int64_t QVTClock::frameCountSMPTEString(const QString& smpte) const
{
    if (smpte.isEmpty()) {
        return 0;
    }
    const QList<QStringView> parts = QStringView(smpte).split(u':');
    if (parts.size() > 4) {
        return 0;
    }
    // Unsigned arithmetic wraps instead of overflowing on absurd fields.
    const uint64_t fps = uint64_t(framerate());
    const uint64_t unitFrames[4] = {1, fps, fps * 60, fps * 3600};  // frames, seconds, minutes, hours
    uint64_t count = 0;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        count += uint64_t(readIntegerField<int64_t>(parts[parts.size() - 1 - i])) * unitFrames[i];
    }
    return int64_t(count);
}

namespace {

uint32_t frameNumber32(const QString& smpte, uint32_t fps)
{
    const auto [h, m, s, f] = fourFields(smpte);
    return uint32_t(h) * fps * 3600 + uint32_t(m) * fps * 60 + uint32_t(s) * fps + uint32_t(f);
}

}  // namespace

bool QVTClock::smpteTimeIsConsecutiveToSMPTETime(const QString& a, const QString& b) const
{
    const uint32_t fa = frameNumber32(a, uint32_t(framerate()));
    const uint32_t fb = frameNumber32(b, uint32_t(framerate()));
    return fa == fb || fa == fb + 1;
}

bool QVTClock::smpteTimeIsEqualOrGreatThanSMPTETime(const QString& a, const QString& b) const
{
    return frameNumber32(a, uint32_t(framerate())) >= frameNumber32(b, uint32_t(framerate()));
}

bool QVTClock::smpteTimeIsLowerThanSMPTETime(const QString& a, const QString& b) const
{
    return frameNumber32(a, uint32_t(framerate())) < frameNumber32(b, uint32_t(framerate()));
}

bool QVTClock::smpteTimeIsEqualOrLowerThanSMPTETime(const QString& a, const QString& b) const
{
    return frameNumber32(a, uint32_t(framerate())) <= frameNumber32(b, uint32_t(framerate()));
}

double QVTClock::delayInMs() const
{
    const int64_t ms = delay_.load();
    return ms == 0 ? 0.0 : double(float(ms) / 1000.0f);
}

// --- Properties -----------------------------------------------------------------------------

double QVTClock::clockTime() const { return clockTime_.load(); }

void QVTClock::setClockTime(double seconds)
{
    clockStateGuard.enter();
    clockTime_.store(seconds);
    clockStateGuard.leave();
}

double QVTClock::clockOffset() const { return clockOffset_.load(); }
void QVTClock::setClockOffset(double seconds) { clockOffset_.store(seconds); }
bool QVTClock::isRunning() const { return isRunning_.load(); }
void QVTClock::setIsRunning(bool running) { isRunning_.store(running); }
bool QVTClock::isMTCSlave() const { return isMTCSlave_.load(); }
void QVTClock::setIsMTCSlave(bool slave) { isMTCSlave_.store(slave); }
bool QVTClock::isLTCSlave() const { return isLTCSlave_.load(); }
void QVTClock::setIsLTCSlave(bool slave) { isLTCSlave_.store(slave); }
bool QVTClock::isConnectedToSlave() const { return isConnectedToSlave_.load(); }
void QVTClock::setIsConnectedToSlave(bool connected) { isConnectedToSlave_.store(connected); }
bool QVTClock::isInJamSync() const { return isInJamSync_.load(); }
void QVTClock::setIsInJamSync(bool jamSync) { isInJamSync_.store(jamSync); }
int32_t QVTClock::freeWheelFrames() const { return freeWheelFrames_.load(); }
void QVTClock::setFreeWheelFrames(int32_t frames) { freeWheelFrames_.store(frames); }
int32_t QVTClock::smpteFormat() const { return smpteFormat_.load(); }
void QVTClock::setSmpteFormat(int32_t format) { smpteFormat_.store(format); }
int64_t QVTClock::delay() const { return delay_.load(); }
void QVTClock::setDelay(int64_t milliseconds) { delay_.store(milliseconds); }
NotificationCenter& QVTClock::notificationCenter() const { return *notificationCenter_; }

QString QVTClock::maxClockSMPTETime() const
{
    clockStateGuard.enter();
    QString max = maxClockSMPTETime_;
    clockStateGuard.leave();
    return max;
}

void QVTClock::setMaxClockSMPTETime(const QString& smpte)
{
    QString value = smpte;
    clockStateGuard.enter();
    maxClockSMPTETime_.swap(value);
    clockStateGuard.leave();
}

// --- Slaving --------------------------------------------------------------------------------

namespace {

int intOf(const QVariantMap& info, const char* key)
{
    return info.value(QString::fromLatin1(key)).toInt();
}

// Device IDs 1 to 126 address one device: here, they name a cue.
bool deviceIDNamesACue(const QVariantMap& info)
{
    const auto it = info.find(QStringLiteral("deviceID"));
    return it != info.end() && it->toInt() >= 1 && it->toInt() <= 126;
}

}  // namespace

void QVTClock::followMIDISource(MIDISource& source, const std::shared_ptr<QVTMIDINode>& node,
                                std::initializer_list<std::pair<QString, MIDIHandler>> handlers)
{
    std::lock_guard lock(sourcesMutex_);
    for (const auto token : source.tokens) {
        source.center->removeObserver(token);
    }
    source.tokens.clear();
    source.center.reset();
    source.node = node;
    if (!node) {
        return;
    }
    QVTMIDIManager* manager = QVTMIDIManager::sharedManager();
    source.center = manager ? manager->midiKitNotificationCenter() : nullptr;
    if (!source.center) {
        KLOG_WARN("no MIDI manager: the MIDI source {} is not followed", node->nodeName().toStdString());
        return;
    }
    for (const auto& [name, handler] : handlers) {
        source.tokens.push_back(source.center->addObserver(
            this, name, node.get(), [weak = weak_from_this(), handler = handler](const Notification& n) {
                if (const auto self = weak.lock()) {
                    ((*self).*handler)(n.userInfo);
                }
            }));
    }
}

std::shared_ptr<QVTMIDINode> QVTClock::nodeOf(const MIDISource& source) const
{
    std::lock_guard lock(sourcesMutex_);
    return source.node.lock();
}

void QVTClock::setMtcSourceNode(const std::shared_ptr<QVTMIDINode>& node)
{
    _lastsec.store(0);
    followMIDISource(mtcSource_, node,
                     {{TonarilNotifications::kMTCQuarterFrameReceived, &QVTClock::receivedMTC},
                      {TonarilNotifications::kMTCFullFrameReceived, &QVTClock::receivedMTCFullframe}});
}

void QVTClock::setMmcSourceNode(const std::shared_ptr<QVTMIDINode>& node)
{
    followMIDISource(mmcSource_, node,
                     {{TonarilNotifications::kMMCPlay, &QVTClock::handleMMCPlay},
                      {TonarilNotifications::kMMCStop, &QVTClock::handleMMCStop},
                      {TonarilNotifications::kMMCRewind, &QVTClock::handleMMCRewind},
                      {TonarilNotifications::kMMCLocate, &QVTClock::handleMMCLocate}});
}

// ALL_OFF and RESTORE do nothing, so they are not observed.
void QVTClock::setMscSourceNode(const std::shared_ptr<QVTMIDINode>& node)
{
    followMIDISource(mscSource_, node,
                     {{TonarilNotifications::kMSCGo, &QVTClock::handleMSCGo},
                      {TonarilNotifications::kMSCStop, &QVTClock::handleMSCStop},
                      {TonarilNotifications::kMSCResume, &QVTClock::handleMSCResume},
                      {TonarilNotifications::kMSCReset, &QVTClock::handleMSCReset}});
}

std::shared_ptr<QVTMIDINode> QVTClock::mtcSourceNode() const { return nodeOf(mtcSource_); }
std::shared_ptr<QVTMIDINode> QVTClock::mmcSourceNode() const { return nodeOf(mmcSource_); }
std::shared_ptr<QVTMIDINode> QVTClock::mscSourceNode() const { return nodeOf(mscSource_); }

void QVTClock::timecodeFrameArrived()
{
    clockStateGuard.enter();
    freewheeltimer = 0.0;
    clockStateGuard.leave();
    if (isInJamSync_.exchange(false)) {
        post(QVTClockNotification::SlaveStateChanged);
    }
    if (!isConnectedToSlave_.exchange(true)) {
        post(QVTClockNotification::SlaveStateChanged);
    }
}

bool QVTClock::followsTimecode() const
{
    return isMTCSlave_.load() || isLTCSlave_.load();
}

void QVTClock::locateStoppingIfRunning(double seconds)
{
    const auto locate = [this, seconds] {
        setClockStartTimeWithoutOffset(seconds);
        postWithClockSMPTETime(QVTClockNotification::ExtStartTimeSet);
    };
    if (isRunning_.load()) {
        stopClockWithCompletedHandler([this, locate] {
            locate();
            startClock();
        });
    } else {
        locate();
    }
}

void QVTClock::jumpToItemAndStart(qlonglong index)
{
    stopClockWithCompletedHandler([this, index] {
        post(QVTClockNotification::JumpToItem, {{QString::fromLatin1(QVTClockNotification::JumpToItem), index}});
        startClock();
    });
}

void QVTClock::setSmpteFormatFromInput(int32_t format)
{
    if (smpteFormat_.exchange(format) != format) {
        post(QVTClockNotification::MTCFramerateChanged, {{QString::fromLatin1(QVTClockNotification::MTCFramerateChanged),
                                                          QString::fromLatin1(QVTClockNotification::MTCFramerateChanged)}});
    }
}

void QVTClock::receivedMTC(const QVariantMap& info)
{
    if (!isMTCSlave_.load() || info.isEmpty()) {
        return;
    }
    timecodeFrameArrived();
    const int d = intOf(info, "PACKETDATA");
    const auto setLow = [d](int32_t& field) { field = (field & ~0x0F) | (d & 0x0F); };
    const auto setHigh = [d](int32_t& field) { field = (field & 0x0F) | ((d << 4) & 0xF0); };
    switch (intOf(info, "PNUM")) {
    case 0: setLow(_f); return;
    case 1: setHigh(_f); return;
    case 2: setLow(_s); return;
    case 3: {
        setHigh(_s);
        // The seconds are complete before the minutes: a new minute still shows the old one.
        // A sequence starts on frame 0 or, at 25 frames a second, on frame 1 of the new minute.
        if (_f <= 1 && _s == 0 && _lastsec.load() == 59) {
            if (++_m == 60) {
                _m = 0;
                if (++_h > 23) {
                    _h = 0;
                }
            }
        }
        _lastsec.store(_s);
        if (!isRunning_.load()) {
            return;
        }
        // Four quarter frames, one frame, have passed since the sequence began.
        const double ft = frameTimeOfCurrentSMPTEFormat();
        handleNewTimeInSlaveMode(_f * ft + _s + _h * 3600 + _m * 60 + ft + delayInMs());
        return;
    }
    case 4: setLow(_m); return;
    case 5: setHigh(_m); return;
    case 6: setLow(_h); return;
    case 7: {
        _h = (_h & ~0x10) | ((d & 1) << 4);
        setSmpteFormatFromInput((d >> 1) & 3);
        // Eight quarter frames, two frames, have passed since the sequence began.
        _f += 2;
        handleNewTimeInSlaveMode(_f * frameTimeOfCurrentSMPTEFormat() + _s + _h * 3600 + _m * 60 + delayInMs());
        return;
    }
    default:
        return;
    }
}

void QVTClock::receivedMTCFullframe(const QVariantMap& info)
{
    if (!isMTCSlave_.load() || info.isEmpty()) {
        return;
    }
    const auto locate = [this, info] {
        if (isConnectedToSlave_.exchange(false)) {
            post(QVTClockNotification::SlaveStateChanged);
        }
        setSmpteFormatFromInput(intOf(info, "fm"));
        const int h = intOf(info, "HH");
        const int m = intOf(info, "mm");
        const int s = intOf(info, "ss");
        const int f = intOf(info, "ff");
        const QString smpte = QString::asprintf("%02d:%02d:%02d:%02d", h, m, s, f);
        if (!smpteTimeIsEqualOrGreatThanSMPTETime(smpte, smpteRepresentationOfTime(clockOffset()))) {
            setClockStartTimeWithoutOffset(clockOffset());
        } else if (smpteTimeIsLowerThanSMPTETime(smpte, maxClockSMPTETime())) {
            setClockStartTimeWithoutOffset(h * 3600 + m * 60 + s + f * frameTimeOfCurrentSMPTEFormat());
        } else {
            setClockStartTimeWithoutOffset(secondsForSMPTEString(maxClockSMPTETime()));
        }
        postWithClockSMPTETime(QVTClockNotification::ExtStartTimeSet);
    };
    if (isRunning_.load()) {
        stopClockWithCompletedHandler(locate);
    } else {
        locate();
    }
}

void QVTClock::handleMMCPlay(const QVariantMap& info)
{
    if (followsTimecode()) {
        return;
    }
    if (deviceIDNamesACue(info)) {
        jumpToItemAndStart(intOf(info, "deviceID") - 1);
    } else if (!isRunning_.load()) {
        startClock();
    }
}

void QVTClock::handleMMCStop(const QVariantMap&)
{
    if (isRunning_.load() && !followsTimecode()) {
        stopClockWithCompletedHandler(nullptr);
    }
}

void QVTClock::handleMMCRewind(const QVariantMap&)
{
    post(QVTClockNotification::Rewinded, {{QString::fromLatin1(QVTClockNotification::Rewinded),
                                           QString::fromLatin1(QVTClockNotification::Rewinded)}});
}

void QVTClock::handleMMCLocate(const QVariantMap& info)
{
    if (info.isEmpty() || deviceIDNamesACue(info)) {
        return;
    }
    const double t = intOf(info, "HH") * 3600 + intOf(info, "mm") * 60 + intOf(info, "ss") +
                     intOf(info, "ff") * frameTimeOfCurrentSMPTEFormat();
    if (clockSMPTETime() == smpteRepresentationOfTime(t) && !(isMTCSlave_.load() && isRunning_.load())) {
        return;
    }
    if (t <= secondsForSMPTEString(maxClockSMPTETime())) {
        locateStoppingIfRunning(t);
    }
}

void QVTClock::handleMSCGo(const QVariantMap& info)
{
    if (followsTimecode()) {
        return;
    }
    // -1: the GO names no cue. No negative number is a cue index.
    const qlonglong cue = info.value(QStringLiteral("cueNum"), -1).toLongLong();
    if (cue >= 0) {
        jumpToItemAndStart(cue);
    } else if (!isRunning_.load()) {
        startClock();
    }
}

void QVTClock::handleMSCStop(const QVariantMap&)
{
    if (!followsTimecode() && isRunning_.load()) {
        stopClockWithCompletedHandler(nullptr);
    }
}

void QVTClock::handleMSCResume(const QVariantMap&)
{
    if (!followsTimecode() && !isRunning_.load()) {
        startClock();
    }
}

void QVTClock::handleMSCReset(const QVariantMap& info)
{
    if (isRunning_.load() && !followsTimecode()) {
        stopClockWithCompletedHandler([this, info] { handleMMCRewind(info); });
    } else {
        handleMMCRewind(info);
    }
}

bool QVTClock::setLtcInputSampleRate(double deviceSampleRate)
{
    std::lock_guard lock(ltcMutex_);
    if (ltcDecoder) {
        ltc_decoder_free(ltcDecoder);
        ltcDecoder = nullptr;
    }
    ltcFrameCount = 0;
    if (!(deviceSampleRate > 0)) {
        return false;
    }
    const int32_t apv = trunc32(deviceSampleRate / framerate());
    ltcDecoder = ltc_decoder_create(apv, kLTCQueueFrames);
    KLOG_VERBOSE("LTC decoder apv: {}", apv);
    return ltcDecoder != nullptr;
}

void QVTClock::setLtcInputNode(std::shared_ptr<QVTAudioInput> input)
{
    if (ltcInput_ && ltcInput_ != input) ltcInput_->setDelegate(nullptr);
    ltcInput_ = std::move(input);
    if (!setLtcInputSampleRate(ltcInput_ ? ltcInput_->deviceSampleRate() : 0.0) || !ltcInput_) return;
    ltcInput_->setDelegate([this](const float* samples) { handleLTCData(samples); });
}

void QVTClock::handleLTCData(const float* samples)
{
    if (!isLTCSlave_.load()) {
        return;
    }
    std::array<double, kLTCQueueFrames> times;
    size_t count = 0;
    {
        std::unique_lock lock(ltcMutex_, std::try_to_lock);
        if (!lock.owns_lock() || !ltcDecoder) {
            return;
        }
        // libltc only reads the samples.
        ltc_decoder_write_float(ltcDecoder, const_cast<float*>(samples), kLTCBlockSamples, ltc_off_t(ltcFrameCount));
        ltcFrameCount += kLTCBlockSamples;
        LTCFrameExt frame;
        const double ft = frameTimeOfCurrentSMPTEFormat();
        while (count < times.size() && ltc_decoder_read(ltcDecoder, &frame)) {
            SMPTETimecode time;
            ltc_frame_to_time(&time, &frame.ltc, LTC_USE_DATE);
            times[count++] = time.hours * 3600 + time.mins * 60 + time.secs + time.frame * ft;
        }
    }
    // Outside the decoder's lock: observers of these may take their time.
    for (size_t i = 0; i < count; ++i) {
        timecodeFrameArrived();
        handleNewTimeInSlaveMode(times[i]);
    }
}

KavioNMCManager& QVTClock::networkLink() const
{
    KavioNMCManager* link = networkLink_.load();
    return link ? *link : KavioNMCManager::sharedManager();
}

void QVTClock::setNetworkLink(KavioNMCManager* link)
{
    networkLink_.store(link);
}

void QVTClock::receivedNMCMessage(std::span<const uint8_t> bytes)
{
    if (followsTimecode()) {
        return;
    }
    std::string error;
    const std::optional<NMC_Packet> packet = NMC_Packet::fromBytes(bytes, &error);
    if (!packet) {
        KLOG_WARN("network-link packet dropped: {}", error);
        return;
    }
    if (networkLink().isKavioBackup()) {
        KLOG_VERBOSE("BACKUP packet.command: {}", int(packet->command));
        if (packet->command >= KavioNetworkLinkCommandSeek) {
            handleKavioBackupCommand(*packet);
        }
        return;
    }
    KLOG_VERBOSE("NO BACKUP packet.command: {}", int(packet->command));
    switch (packet->command) {
    case KavioNetworkLinkCommandStop:
        if (isRunning_.load()) {
            stopClockWithCompletedHandler([this, p = *packet] { handleNMCLocate(p); });
        } else {
            handleNMCLocate(*packet);
        }
        break;
    case KavioNetworkLinkCommandLocate:
        handleNMCLocate(*packet);
        break;
    case KavioNetworkLinkCommandPlay:
        if (!isRunning_.load()) {
            startClock();
        }
        break;
    default:
        break;
    }
}

namespace {

// The format code of a packet's frame rate (24, 25 or 30).
int32_t formatOfFramerate(uint8_t fps)
{
    return fps == 24 ? QVTClockSMPTEFormat24 : fps == 25 ? QVTClockSMPTEFormat25 : QVTClockSMPTEFormat30;
}

}  // namespace

void QVTClock::handleNMCLocate(const NMC_Packet& packet)
{
    if (networkLink().isKavioBackup()) {
        return;
    }
    if (packet.fps != framerate()) {
        setSmpteFormatFromInput(formatOfFramerate(packet.fps));
    }
    const auto& time = packet.smptetime;
    const double t = time.hours * 3600 + time.minutes * 60 + time.seconds + time.frames * frameTimeOfCurrentSMPTEFormat();
    if (clockSMPTETime() == smpteRepresentationOfTime(t)) {
        return;
    }
    if (t <= secondsForSMPTEString(maxClockSMPTETime())) {
        KLOG_VERBOSE("nmc time to locate: {} (command: {})", t, int(packet.command));
        locateStoppingIfRunning(t);
    }
}

void QVTClock::handleKavioBackupCommand(const NMC_Packet& packet)
{
    if (packet.fps != framerate()) {
        smpteFormat_.store(formatOfFramerate(packet.fps));
    }
    const int cue = packet.cue;
    const auto postValue = [this](const char* name, const QVariant& value) {
        post(name, {{QString::fromLatin1(name), value}});
    };
    switch (packet.command) {
    case KavioNetworkLinkCommandSeek:
        postValue(QVTClockNotification::SeekNMCCommand, QVariantList{cue, QString::fromStdString(packet.timeString())});
        break;
    case KavioNetworkLinkCommandRewindCue:
        postValue(QVTClockNotification::RewindNMCCommand, cue);
        break;
    case KavioNetworkLinkCommandGoto:
        postValue(QVTClockNotification::GotoNMCCommand, QVariantList{cue, int(packet.smptetime.seconds)});
        break;
    case KavioNetworkLinkCommandJumpToCue:
        postValue(QVTClockNotification::JumpNMCCommand, cue);
        break;
    case KavioNetworkLinkCommandJumpToCueAndPlay:
        postValue(QVTClockNotification::JumpAndPlayNMCCommand, cue);
        break;
    case KavioNetworkLinkCommandBackupStop:
        postValue(QVTClockNotification::StopNMCCommand, QVariantList{cue, QString::fromStdString(packet.timeString())});
        break;
    case KavioNetworkLinkCommandBackupPlay:
        postValue(QVTClockNotification::PlayNMCCommand, QVariantList{cue, QString::fromStdString(packet.timeString())});
        break;
    case KavioNetworkLinkCommandPanic:
        postValue(QVTClockNotification::PanicNMCCommand, cue);
        break;
    default:
        break;
    }
}

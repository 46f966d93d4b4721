#include "Shell/KavioSleepWatch.h"

#include "Log.h"
#include "Shell/KavioSleepReceiver.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

namespace {
const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");

}  // namespace

struct KavioSleepWatch::Private {
    QDBusConnection bus = QDBusConnection::systemBus();
    KavioSleepReceiver receiver;
    // The login manager keeps the inhibitor while this descriptor is open.
    QDBusUnixFileDescriptor inhibitor;
};

KavioSleepWatch::KavioSleepWatch() : d_(std::make_unique<Private>()) {}

KavioSleepWatch::~KavioSleepWatch() = default;

bool KavioSleepWatch::start(std::function<void()> willSleep, std::function<void()> didWake)
{
    if (!d_->bus.isConnected()) {
        KLOG_WARN("no system bus: sleep is not watched ({})", d_->bus.lastError().message().toStdString());
        return false;
    }
    d_->receiver.willSleep = std::move(willSleep);
    d_->receiver.didWake = std::move(didWake);
    if (!d_->bus.connect(kService, kPath, kInterface, QStringLiteral("PrepareForSleep"), &d_->receiver,
                         SLOT(prepareForSleep(bool)))) {
        KLOG_WARN("sleep is not watched: {}", d_->bus.lastError().message().toStdString());
        return false;
    }
    return true;
}

bool KavioSleepWatch::beginActivity()
{
    if (!d_->bus.isConnected()) {
        KLOG_WARN("no system bus: the display may sleep while rendering");
        return false;
    }
    QDBusInterface manager(kService, kPath, kInterface, d_->bus);
    const QDBusReply<QDBusUnixFileDescriptor> reply =
        manager.call(QStringLiteral("Inhibit"), QStringLiteral("idle"), QStringLiteral("Kavio"),
                     QStringLiteral("rendering"), QStringLiteral("block"));
    if (!reply.isValid()) {
        KLOG_WARN("no idle inhibitor, the display may sleep while rendering: {}", reply.error().message().toStdString());
        return false;
    }
    d_->inhibitor = reply.value();
    return true;
}

void KavioSleepWatch::endActivity()
{
    d_->inhibitor = QDBusUnixFileDescriptor();
}

bool KavioSleepWatch::holdsActivity() const
{
    return d_->inhibitor.isValid();
}

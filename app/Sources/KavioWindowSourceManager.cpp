#include "Sources/KavioWindowSourceManager.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "X11WindowCapture.h"

#include <algorithm>

namespace {

QSet<QPair<QString, std::uint32_t>> setOf(const QList<QVariantList>& list)
{
    QSet<QPair<QString, std::uint32_t>> set;
    for (const QVariantList& entry : list)
        set.insert({entry.first().toString(), entry.last().toUInt()});
    return set;
}

}  // namespace

KavioWindowSourceManager& KavioWindowSourceManager::sharedManager()
{
    static KavioWindowSourceManager* manager = new KavioWindowSourceManager;
    return *manager;
}

KavioWindowSourceManager::KavioWindowSourceManager()
    : queue_(std::make_unique<DispatchQueue>("com.dalvek.windowsourcemanager"))
{
    queue_->sync([this] { windows_ = std::make_unique<X11WindowCapture>(); });
    lastList_ = setOf(listOfAvailableSources());
}

KavioWindowSourceManager::~KavioWindowSourceManager()
{
    pollTimer_.reset();
    queue_->sync([this] { windows_.reset(); });
}

QList<QVariantList> KavioWindowSourceManager::listOfAvailableSources()
{
    QList<QVariantList> list;
    queue_->sync([&] {
        for (const X11WindowInfo& window : windows_->windows())
            list.append(QVariantList{QStringLiteral("%1 / %2").arg(window.owner, window.name), window.id});
    });
    std::stable_sort(list.begin(), list.end(), [](const QVariantList& a, const QVariantList& b) {
        return QString::compare(a.first().toString(), b.first().toString(), Qt::CaseInsensitive) < 0;
    });
    return list;
}

std::uint32_t KavioWindowSourceManager::windowIDForTitle(const QString& title)
{
    for (const QVariantList& entry : listOfAvailableSources())
        if (entry.first().toString() == title)
            return entry.last().toUInt();
    return 0;
}

void KavioWindowSourceManager::increaseNumberOfListeners()
{
    ++listeners_;
    if (pollTimer_)
        return;
    KLOG_VERBOSE("start polling of possible Window Sources...");
    pollTimer_ = std::make_unique<DispatchTimer>(DispatchQueue::main(), std::chrono::seconds(1), [this] { poll(); });
    pollTimer_->start();
}

void KavioWindowSourceManager::decreaseNumberOfListeners()
{
    if (listeners_-- != 1)
        return;
    KLOG_VERBOSE("remove polling of possible Window Sources...");
    pollTimer_.reset();
}

void KavioWindowSourceManager::poll()
{
    const auto now = setOf(listOfAvailableSources());
    if (now == lastList_)
        return;
    lastList_ = now;
    NotificationCenter::defaultCenter().post(kKavioWindowSourcesChangedNotification);
}

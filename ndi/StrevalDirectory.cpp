#include "StrevalDirectory.h"

#include "Log.h"
#include "NdiBackend.h"
#include "NotificationCenter.h"

#include <QCoreApplication>
#include <QTimer>

StrevalDirectory& StrevalDirectory::sharedDirectory()
{
    static StrevalDirectory* directory = new StrevalDirectory(ndi::NdiBackend::shared());  // lives for the process
    return *directory;
}

StrevalDirectory::StrevalDirectory(ndi::NdiBackend& backend, bool withTimer) : findNode(backend.createFinder())
{
    if (!findNode)
        KLOG_ERROR("cannot create the NDI finder");
    listOfSources();
    if (withTimer && QCoreApplication::instance()) {
        discoveryTimer = std::make_unique<QTimer>();
        discoveryTimer->setInterval(kDiscoveryIntervalMs);
        QObject::connect(discoveryTimer.get(), &QTimer::timeout, [this] { discoverNodeChanges(); });
        discoveryTimer->start();
    }
}

StrevalDirectory::~StrevalDirectory() = default;

QVariantList StrevalDirectory::queryLocked()
{
    QVariantList list;
    if (findNode) {
        for (const ndi::Source& source : findNode->sources()) {
            if (source.name.empty() || source.address.empty())
                continue;
            list.append(QVariantMap{{kSourceName, QString::fromStdString(source.name)},
                                    {kSourceIP, QString::fromStdString(source.address)}});
        }
    }
    cachedSources = list;
    return list;
}

QVariantList StrevalDirectory::listOfSources()
{
    std::lock_guard lock(mutex_);
    return queryLocked();
}

QVariantList StrevalDirectory::serversMatchingName(const QString& name)
{
    std::lock_guard lock(mutex_);
    QVariantList matches;
    for (const QVariant& source : queryLocked())
        if (source.toMap().value(kSourceName).toString() == name)
            matches.append(source);
    return matches;
}

void StrevalDirectory::discoverNodeChanges()
{
    QVariantList now;
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        const QVariantList previous = cachedSources;
        now = queryLocked();
        changed = now.size() != previous.size();
        for (qsizetype i = 0; !changed && i < now.size(); ++i)
            changed = !previous.contains(now[i]);
    }
    if (changed)
        NotificationCenter::defaultCenter().post(kSourcesChangedNotification, this, {{kSourcesKey, now}});
}

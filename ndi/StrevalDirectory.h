#pragma once
// The process's directory of visible NDI sources. It keeps one finder of the NDI backend, lists
// the sources as dictionaries {"kQVTNDISourceName", "kQVTNDISourceIP"} (sources without a name
// or an address are left out) and posts "kQVTNDISourcesChangedNotification" (object: the
// directory; user info {"kQVTNDISourcesKey": the list}) on the default centre when the set
// changes: a source added or gone, also when the count stays; a new order alone is no change.
//
// Threads: every query runs under one mutex, so callers on any thread are safe (the finder's
// list is replaced by each query). The discovery timer (2.0 s) runs on the thread that made the
// directory, which must have a Qt event loop (without a Qt application there is no timer); the
// shared one is made on the main thread.

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <mutex>

class QTimer;
namespace ndi {
class Finder;
class NdiBackend;
}  // namespace ndi

class StrevalDirectory {
public:
    static constexpr const char* kSourcesChangedNotification = "kQVTNDISourcesChangedNotification";
    static constexpr const char* kSourcesKey = "kQVTNDISourcesKey";
    static constexpr const char* kSourceName = "kQVTNDISourceName";
    static constexpr const char* kSourceIP = "kQVTNDISourceIP";
    static constexpr int kDiscoveryIntervalMs = 2000;

    // Made on first use (thread-safe); lives for the process.
    static StrevalDirectory& sharedDirectory();

    // A directory of its own on `backend` (tests); `withTimer` starts the 2.0 s discovery.
    explicit StrevalDirectory(ndi::NdiBackend& backend, bool withTimer = true);
    ~StrevalDirectory();
    StrevalDirectory(const StrevalDirectory&) = delete;
    StrevalDirectory& operator=(const StrevalDirectory&) = delete;

    // Queries now; the visible sources in the finder's order (may be empty).
    QVariantList listOfSources();
    // Queries now; the sources whose name equals `name` exactly (case-sensitive).
    QVariantList serversMatchingName(const QString& name);
    // The timer's work: one query, at most one notification.
    void discoverNodeChanges();

private:
    QVariantList queryLocked();

    std::mutex mutex_;
    std::unique_ptr<ndi::Finder> findNode;
    QVariantList cachedSources;
    std::unique_ptr<QTimer> discoveryTimer;
};

#include "ImportedClasses/QVTPathChangeWatcher.h"

#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <thread>

namespace {

// Deleted, moved or renamed, or its volume unmounted. Writes, size, attribute and link-count
// changes are not watched.
constexpr uint32_t kWatchedEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

bool isPathOrBelow(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

}  // namespace

struct QVTPathChangeWatcher::State {
    DispatchQueue queue{"com.dalvek.QVTPathChangeWatcher"};
    // On `queue`.
    std::set<QString> watchedFiles;
    std::map<QString, int> watchOf;
    std::map<int, QStringList> pathsOf;  // two paths of one file share inotify's descriptor

    int inotifyFd = -1;
    int wakeFd = -1;
    std::thread reader;

    int startMonitoring(const QString& path)
    {
        const int wd = inotifyFd < 0 ? -1 : inotify_add_watch(inotifyFd, path.toLocal8Bit().constData(), kWatchedEvents);
        if (wd < 0)
            KLOG_VERBOSE("startMonitoringDirectoryWithGCD unable to open the directory: {}", path.toStdString());
        return wd;
    }

    // On `queue`: the path and every watched path below it are unwatched.
    void forget(const QString& fired)
    {
        for (auto it = watchOf.begin(); it != watchOf.end();) {
            if (!isPathOrBelow(it->first, fired)) {
                ++it;
                continue;
            }
            const int wd = it->second;
            watchedFiles.erase(it->first);
            QStringList& paths = pathsOf[wd];
            paths.removeAll(it->first);
            if (paths.isEmpty()) {
                pathsOf.erase(wd);
                inotify_rm_watch(inotifyFd, wd);  // fails harmlessly for a watch the kernel ended
            }
            it = watchOf.erase(it);
        }
    }

    void run()
    {
        alignas(inotify_event) char buffer[16 * 1024];
        pollfd fds[2] = {{inotifyFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        for (;;) {
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                KLOG_ERROR("watching media paths stopped: {}", std::strerror(errno));
                return;
            }
            if (fds[1].revents)
                return;
            const ssize_t length = read(inotifyFd, buffer, sizeof buffer);
            for (ssize_t offset = 0; length > 0 && offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                offset += ssize_t(sizeof(inotify_event) + event->len);
                if (!(event->mask & kWatchedEvents))
                    continue;
                QStringList fired;
                queue.sync([&] {
                    if (const auto it = pathsOf.find(event->wd); it != pathsOf.end())
                        fired = it->second;
                });
                // Posted here, on the reader thread; observers move to their own queues. The
                // watcher's own observer ends the watch.
                for (const QString& path : fired)
                    NotificationCenter::defaultCenter().post(kKavioWatchedFilepathChangedNotification, nullptr,
                                                             {{kKavioChangedFilepathKey, path}});
            }
        }
    }
};

QVTPathChangeWatcher& QVTPathChangeWatcher::sharedWatcher()
{
    static QVTPathChangeWatcher watcher;
    return watcher;
}

QVTPathChangeWatcher::QVTPathChangeWatcher() : state_(std::make_shared<State>())
{
    State& s = *state_;
    s.inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    s.wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (s.inotifyFd < 0 || s.wakeFd < 0) {
        KLOG_ERROR("cannot watch media paths: inotify is unavailable ({})", std::strerror(errno));
        return;
    }
    s.reader = std::thread([state = state_.get()] { state->run(); });
    // Re-arming: a path whose watch fired can be watched again.
    NotificationCenter::defaultCenter().addObserver(
        this, kKavioWatchedFilepathChangedNotification, nullptr,
        [weak = std::weak_ptr<State>(state_)](const Notification& note) {
            const auto state = weak.lock();
            if (!state)
                return;
            const QString path = note.userInfo.value(kKavioChangedFilepathKey).toString();
            state->queue.sync([&] { state->forget(path); });
        });
}

QVTPathChangeWatcher::~QVTPathChangeWatcher()
{
    State& s = *state_;
    NotificationCenter::defaultCenter().removeObserver(this);
    if (s.reader.joinable()) {
        const uint64_t one = 1;
        if (write(s.wakeFd, &one, sizeof one) < 0)
            KLOG_WARN("cannot stop the media path reader: {}", std::strerror(errno));
        s.reader.join();
    }
    s.queue.sync([&] {
        s.watchedFiles.clear();
        s.watchOf.clear();
        s.pathsOf.clear();
    });
    // Closing the descriptor ends every watch.
    if (s.inotifyFd >= 0)
        close(s.inotifyFd);
    if (s.wakeFd >= 0)
        close(s.wakeFd);
}

QStringList QVTPathChangeWatcher::prefixesOf(const QString& path)
{
    QStringList prefixes;
    QString prefix;
    for (const QString& component : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        prefix = prefix + QLatin1Char('/') + component;
        prefixes << prefix;
    }
    return prefixes;
}

void QVTPathChangeWatcher::watchPathForChange(const QString& path)
{
    State& s = *state_;
    s.queue.sync([&] {
        for (const QString& prefix : prefixesOf(path)) {
            if (s.watchedFiles.count(prefix))
                continue;
            const int wd = s.startMonitoring(prefix);
            if (wd < 0)
                continue;
            s.watchedFiles.insert(prefix);
            s.watchOf[prefix] = wd;
            s.pathsOf[wd] << prefix;
        }
    });
}

QStringList QVTPathChangeWatcher::watchedFiles() const
{
    QStringList paths;
    state_->queue.sync([&] {
        for (const QString& path : state_->watchedFiles)
            paths << path;
    });
    return paths;
}

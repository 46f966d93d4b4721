#include "FileWatch.h"

#include "DispatchQueue.h"
#include "Log.h"

#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

struct FileWatch::State {
    int fd = -1;
    int wd = -1;
    Handler removed;
    Handler cancelled;
    std::atomic<bool> active{true};
    // A file with no link left cannot get one back, so its removal is reported once, however
    // many of its link changes the reader sees only after the last one.
    std::atomic<bool> removalReported{false};
};

namespace {

constexpr uint32_t kWatchedEvents = IN_ATTRIB | IN_DELETE_SELF | IN_UNMOUNT;

// One inotify descriptor and one reader thread for every watch of the process. Two watches of
// the same file share inotify's watch descriptor, so each descriptor keeps its list of watches.
class WatchCenter {
public:
    static WatchCenter& shared()
    {
        static WatchCenter center;
        return center;
    }

    bool add(const std::shared_ptr<FileWatch::State>& state)
    {
        if (inotifyFd_ < 0)
            return false;
        // The descriptor's /proc link names the open file itself, wherever it now lives.
        const std::string link = "/proc/self/fd/" + std::to_string(state->fd);
        std::lock_guard lock(mutex_);
        state->wd = inotify_add_watch(inotifyFd_, link.c_str(), kWatchedEvents);
        if (state->wd < 0)
            return false;
        watches_[state->wd].push_back(state);
        return true;
    }

    void remove(const std::shared_ptr<FileWatch::State>& state)
    {
        std::lock_guard lock(mutex_);
        const auto it = watches_.find(state->wd);
        if (it == watches_.end())
            return;
        std::erase_if(it->second, [&](const auto& weak) { return weak.lock() == state || weak.expired(); });
        if (it->second.empty()) {
            inotify_rm_watch(inotifyFd_, state->wd);
            watches_.erase(it);
        }
    }

private:
    WatchCenter()
    {
        inotifyFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (inotifyFd_ < 0 || wakeFd_ < 0) {
            KLOG_ERROR("cannot watch files: inotify is unavailable");
            return;
        }
        reader_ = std::thread([this] { run(); });
    }

    ~WatchCenter()
    {
        if (reader_.joinable()) {
            const uint64_t one = 1;
            [[maybe_unused]] const auto written = write(wakeFd_, &one, sizeof one);
            reader_.join();
        }
        if (inotifyFd_ >= 0)
            close(inotifyFd_);
        if (wakeFd_ >= 0)
            close(wakeFd_);
    }

    void run()
    {
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            pollfd fds[2] = {{inotifyFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents)
                return;
            const ssize_t length = read(inotifyFd_, buffer, sizeof buffer);
            for (ssize_t offset = 0; length > 0 && offset < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                dispatch(event->wd, event->mask);
                offset += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
    }

    void dispatch(int wd, uint32_t mask)
    {
        std::vector<std::shared_ptr<FileWatch::State>> targets;
        {
            std::lock_guard lock(mutex_);
            const auto it = watches_.find(wd);
            if (it == watches_.end())
                return;
            for (const auto& weak : it->second)
                if (auto state = weak.lock())
                    targets.push_back(std::move(state));
        }
        for (const auto& state : targets) {
            // A change of attributes is a deletion only when no link to the file is left.
            struct stat info {};
            const bool gone = (mask & (IN_DELETE_SELF | IN_UNMOUNT)) ||
                              ((mask & IN_ATTRIB) && fstat(state->fd, &info) == 0 && info.st_nlink == 0);
            if (!gone || state->removalReported.exchange(true))
                continue;
            DispatchQueue::main().async([weak = std::weak_ptr(state)] {
                const auto alive = weak.lock();
                if (alive && alive->active && alive->removed)
                    alive->removed();
            });
        }
    }

    int inotifyFd_ = -1;
    int wakeFd_ = -1;
    std::mutex mutex_;
    std::map<int, std::vector<std::weak_ptr<FileWatch::State>>> watches_;
    std::thread reader_;
};

void closeAndForget(const std::shared_ptr<FileWatch::State>& state)
{
    state->active = false;
    WatchCenter::shared().remove(state);
    if (state->fd >= 0)
        close(state->fd);
    state->fd = -1;
}

}  // namespace

std::unique_ptr<FileWatch> FileWatch::open(const QString& path, Handler removed, Handler cancelled)
{
    auto state = std::make_shared<State>();
    state->fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (state->fd < 0)
        return nullptr;
    state->removed = std::move(removed);
    state->cancelled = std::move(cancelled);
    if (!WatchCenter::shared().add(state)) {
        close(state->fd);
        return nullptr;
    }
    return std::unique_ptr<FileWatch>(new FileWatch(std::move(state)));
}

FileWatch::FileWatch(std::shared_ptr<State> state) : state_(std::move(state)) {}

FileWatch::~FileWatch()
{
    if (state_->active)
        closeAndForget(state_);
}

void FileWatch::cancel()
{
    if (!state_->active)
        return;
    // The handler may destroy this watch: it runs on copies.
    const std::shared_ptr<State> state = state_;
    closeAndForget(state);
    const Handler cancelled = std::move(state->cancelled);
    if (cancelled)
        cancelled();
}

bool FileWatch::isCancelled() const
{
    return !state_->active;
}

int FileWatch::descriptor() const
{
    return state_->fd;
}

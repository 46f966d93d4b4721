#pragma once
// Tells the cues when the file a cue plays, or any folder on its path, is deleted, moved away or
// unmounted: "KavioWatchedFilepathChanged" is posted on the default notification centre with
// {"KavioChangedFilepathKey": the path whose watch fired}, on the watcher's reader thread.
//
// One inotify watch per path prefix (/a, /a/b, /a/b/clip.mov), shared by every cue below it.
// inotify tells a rename (IN_MOVE_SELF) from a write, which is not watched, and its watches
// never keep a volume from being unmounted (IN_UNMOUNT stands for the volume going away).
// A watch that fired is gone, together with the watches below it (they follow the moved
// inodes, not the paths): a later watchPathForChange() of that path watches it anew.

#include <QString>
#include <QStringList>

#include <memory>

class QVTPathChangeWatcher {
public:
    static QVTPathChangeWatcher& sharedWatcher();
    // A watcher of its own (tests); the program uses sharedWatcher().
    QVTPathChangeWatcher();
    ~QVTPathChangeWatcher();
    QVTPathChangeWatcher(const QVTPathChangeWatcher&) = delete;
    QVTPathChangeWatcher& operator=(const QVTPathChangeWatcher&) = delete;

    // Watches `path` and each of its folders that is not watched yet; returns when done. A
    // prefix that cannot be watched (missing, denied, the watch limit reached) is logged and
    // tried again by a later call. Any thread.
    void watchPathForChange(const QString& path);
    // The prefixes of a path, shortest first: "/a//b/c" gives /a, /a/b, /a/b/c.
    static QStringList prefixesOf(const QString& path);
    // The paths with a live watch, sorted. Any thread.
    QStringList watchedFiles() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

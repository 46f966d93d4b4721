#pragma once
// Watches one open file for its removal: the file is opened for reading and its descriptor kept,
// so the watch follows the file itself wherever it is renamed or moved, and reports when the
// last link to it is gone (deleted) or its file system is unmounted (revoked).
//
// Events come from inotify, read by one shared reader thread; handlers run on the main queue
// (DispatchQueue::main()). A FileWatch is made, cancelled and destroyed on the main thread.

#include <QString>

#include <functional>
#include <memory>

class FileWatch {
public:
    using Handler = std::function<void()>;

    // Opens `path` for reading and watches it. `removed` runs on the main queue for each
    // deletion or revocation seen while the watch is active; `cancelled` runs once, inside
    // cancel(). nullptr (and no handler ever) when the file cannot be opened or watched.
    static std::unique_ptr<FileWatch> open(const QString& path, Handler removed, Handler cancelled);
    // Ends the watch and closes the file without running `cancelled`.
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // Ends the watch (no `removed` call starts afterwards) and runs `cancelled` on the calling
    // thread; later calls do nothing.
    void cancel();
    bool isCancelled() const;
    // The open file's descriptor; -1 once cancelled.
    int descriptor() const;

    struct State;

private:
    explicit FileWatch(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

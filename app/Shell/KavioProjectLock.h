#pragma once
// The lock of an open project file, so that two running copies never write one show. A lock
// file per project (named by the canonical path's hash) in the runtime folder holds the
// holder's process id; a lock whose process has ended is taken over. Main thread.

#include <QString>

#include <memory>

class QLockFile;

class KavioProjectLock {
public:
    // Takes the lock for `projectPath`; isLocked() says whether it was had.
    explicit KavioProjectLock(const QString& projectPath);
    ~KavioProjectLock();
    KavioProjectLock(const KavioProjectLock&) = delete;
    KavioProjectLock& operator=(const KavioProjectLock&) = delete;

    bool isLocked() const;
    QString projectPath() const { return projectPath_; }
    // The path of the lock file of a project file.
    static QString lockFilePath(const QString& projectPath);

private:
    QString projectPath_;
    std::unique_ptr<QLockFile> lock_;
};

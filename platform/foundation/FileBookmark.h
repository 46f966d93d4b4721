#pragma once
// A bookmark of a file: a small blob that finds the file again after it, its folder or any
// folder above it was renamed or moved within the same file system.
//
// The blob is our own, versioned and little-endian: the path; the name, device and inode of
// the file and of each folder from the root down; the file's size and modification time.
// Resolving walks from the root: a component whose stored name still has its inode is kept,
// otherwise the parent folder is listed for the entry with that inode (one listing per renamed
// level). The file found must have its inode, size and modification time; a file of the same
// name that replaced it is not the bookmarked file.
//
// Plain functions of their arguments: any thread. Nothing throws.

#include <QByteArray>
#include <QString>

#include <optional>

namespace FileBookmark {

// The bookmark of the file at `path` (made absolute); empty with *error set when there is no
// regular file there.
QByteArray create(const QString& path, QString* error = nullptr);

struct Resolved {
    QString path;
    bool isStale = false;  // the file no longer lives at the stored path: bookmark it again
};

// Finds the bookmarked file. std::nullopt (with *error) when it is gone, or when the blob is
// not one of ours or is damaged (a foreign bookmark, a truncated record).
std::optional<Resolved> resolve(const QByteArray& bookmark, QString* error = nullptr);

}  // namespace FileBookmark

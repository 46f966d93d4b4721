#include "FileBookmark.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr char kMagic[4] = {'K', 'V', 'B', 'M'};
constexpr uint32_t kVersion = 1;
// Far more than any path has; keeps a damaged count from asking for huge allocations.
constexpr uint32_t kMaxComponents = 4096;
constexpr uint32_t kMaxNameLength = 4096;

struct Component {
    QByteArray name;  // file-system bytes; empty for the root
    uint64_t device = 0;
    uint64_t inode = 0;
};

struct Record {
    QByteArray path;
    std::vector<Component> components;  // the root first, the file last
    uint64_t size = 0;
    int64_t modifiedSeconds = 0;
    int64_t modifiedNanoseconds = 0;
};

void fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
}

class Writer {
public:
    template <typename T>
    void number(T value)
    {
        T little = qToLittleEndian(value);
        data.append(reinterpret_cast<const char*>(&little), sizeof little);
    }
    void bytes(const QByteArray& value)
    {
        number<uint32_t>(uint32_t(value.size()));
        data.append(value);
    }
    QByteArray data;
};

class Reader {
public:
    explicit Reader(const QByteArray& data) : data_(data) {}
    template <typename T>
    bool number(T& value)
    {
        if (data_.size() - offset_ < qsizetype(sizeof(T)))
            return false;
        std::memcpy(&value, data_.constData() + offset_, sizeof(T));
        value = qFromLittleEndian(value);
        offset_ += sizeof(T);
        return true;
    }
    bool bytes(QByteArray& value)
    {
        uint32_t length = 0;
        if (!number(length) || length > kMaxNameLength * kMaxComponents || data_.size() - offset_ < qsizetype(length))
            return false;
        value = data_.mid(offset_, length);
        offset_ += length;
        return true;
    }
    bool atEnd() const { return offset_ == data_.size(); }

private:
    const QByteArray& data_;
    qsizetype offset_ = 0;
};

QByteArray encode(const Record& record)
{
    Writer writer;
    writer.data.append(kMagic, sizeof kMagic);
    writer.number(kVersion);
    writer.bytes(record.path);
    writer.number(uint32_t(record.components.size()));
    for (const Component& component : record.components) {
        writer.bytes(component.name);
        writer.number(component.device);
        writer.number(component.inode);
    }
    writer.number(record.size);
    writer.number(record.modifiedSeconds);
    writer.number(record.modifiedNanoseconds);
    return writer.data;
}

std::optional<Record> decode(const QByteArray& data)
{
    if (data.size() < qsizetype(sizeof kMagic) || std::memcmp(data.constData(), kMagic, sizeof kMagic) != 0)
        return std::nullopt;
    const QByteArray body = data.mid(sizeof kMagic);
    Reader reader(body);
    uint32_t version = 0, count = 0;
    Record record;
    if (!reader.number(version) || version != kVersion || !reader.bytes(record.path) || !reader.number(count) ||
        count == 0 || count > kMaxComponents)
        return std::nullopt;
    record.components.resize(count);
    for (Component& component : record.components) {
        if (!reader.bytes(component.name) || component.name.size() > qsizetype(kMaxNameLength) ||
            component.name.contains('/') || !reader.number(component.device) || !reader.number(component.inode))
            return std::nullopt;
    }
    if (!reader.number(record.size) || !reader.number(record.modifiedSeconds) ||
        !reader.number(record.modifiedNanoseconds) || !reader.atEnd())
        return std::nullopt;
    return record;
}

bool statPath(const QByteArray& path, struct stat& info)
{
    return ::stat(path.constData(), &info) == 0;
}

QByteArray joined(const QByteArray& folder, const QByteArray& name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// The entry of `folder` that is the node (device, inode); empty when none is.
QByteArray entryWithInode(const QByteArray& folder, const Component& wanted)
{
    DIR* dir = opendir(folder.constData());
    if (!dir)
        return {};
    QByteArray found;
    while (const dirent* entry = readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat info {};
        const QByteArray candidate = joined(folder, name);
        if (statPath(candidate, info) && uint64_t(info.st_ino) == wanted.inode &&
            uint64_t(info.st_dev) == wanted.device) {
            found = candidate;
            break;
        }
    }
    closedir(dir);
    return found;
}

}  // namespace

namespace FileBookmark {

QByteArray create(const QString& path, QString* error)
{
    const QByteArray absolute = QFile::encodeName(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    struct stat info {};
    if (!statPath(absolute, info) || !S_ISREG(info.st_mode)) {
        fail(error, QStringLiteral("no file at %1").arg(path));
        return {};
    }
    Record record;
    record.path = absolute;
    record.size = uint64_t(info.st_size);
    record.modifiedSeconds = info.st_mtim.tv_sec;
    record.modifiedNanoseconds = info.st_mtim.tv_nsec;
    QByteArray walked = "/";
    struct stat node {};
    if (!statPath(walked, node)) {
        fail(error, QStringLiteral("cannot read the root folder"));
        return {};
    }
    record.components.push_back({{}, uint64_t(node.st_dev), uint64_t(node.st_ino)});
    for (const QByteArray& name : absolute.split('/')) {
        if (name.isEmpty())
            continue;
        walked = joined(walked, name);
        if (!statPath(walked, node)) {
            fail(error, QStringLiteral("cannot read %1").arg(QFile::decodeName(walked)));
            return {};
        }
        record.components.push_back({name, uint64_t(node.st_dev), uint64_t(node.st_ino)});
    }
    return encode(record);
}

std::optional<Resolved> resolve(const QByteArray& bookmark, QString* error)
{
    const auto record = decode(bookmark);
    if (!record) {
        fail(error, QStringLiteral("not a bookmark of this program, or a damaged one"));
        return std::nullopt;
    }
    QByteArray walked = "/";
    for (size_t i = 1; i < record->components.size(); ++i) {
        const Component& component = record->components[i];
        QByteArray next = joined(walked, component.name);
        struct stat info {};
        if (!statPath(next, info) || uint64_t(info.st_ino) != component.inode ||
            uint64_t(info.st_dev) != component.device)
            next = entryWithInode(walked, component);
        if (next.isEmpty()) {
            fail(error, QStringLiteral("%1 is gone").arg(QFile::decodeName(record->path)));
            return std::nullopt;
        }
        walked = next;
    }
    struct stat info {};
    if (!statPath(walked, info) || !S_ISREG(info.st_mode) || uint64_t(info.st_size) != record->size ||
        info.st_mtim.tv_sec != record->modifiedSeconds || info.st_mtim.tv_nsec != record->modifiedNanoseconds) {
        fail(error, QStringLiteral("%1 was changed").arg(QFile::decodeName(walked)));
        return std::nullopt;
    }
    return Resolved{QFile::decodeName(walked), walked != record->path};
}

}  // namespace FileBookmark

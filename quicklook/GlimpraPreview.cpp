#include "GlimpraPreview.h"

#include "KeyedArchive.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace GlimpraPreview {

namespace {

template <typename T>
T fail(QString* error, const QString& reason, T nothing = T())
{
    if (error)
        *error = reason;
    return nothing;
}

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

} // namespace

std::optional<QByteArray> extractPreviewPng(const QByteArray& fileBytes, QString* error)
{
    using Result = std::optional<QByteArray>;
    QString archiveError;
    const std::optional<QVariantMap> root = KeyedArchive::unarchiveDictionary(fileBytes, &archiveError);
    if (!root)
        return fail<Result>(error, archiveError);
    const QVariant quickLook = root->value(QStringLiteral("QLData"));
    if (quickLook.typeId() != QMetaType::QVariantMap)
        return fail<Result>(error, QStringLiteral("the file holds no QLData dictionary"));
    const QVariant png = quickLook.toMap().value(QStringLiteral("QLIMAGE"));
    if (png.typeId() != QMetaType::QByteArray)
        return fail<Result>(error, QStringLiteral("the file's QLData holds no QLIMAGE data"));
    return png.toByteArray();
}

QImage decodePreview(const QByteArray& png, QString* error)
{
    QByteArray bytes = png;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return fail<QImage>(error, QStringLiteral("the stored preview is no image: %1").arg(reader.errorString()));
    if (size.width() > kMaxImageSide || size.height() > kMaxImageSide)
        return fail<QImage>(error, QStringLiteral("the stored preview claims %1 x %2 pixels, more than %3 a side")
                                       .arg(size.width())
                                       .arg(size.height())
                                       .arg(kMaxImageSide));
    // Four bytes a pixel is what the decoder allocates for the usual formats; Qt refuses larger
    // allocations itself too, but only once decoding has begun.
    const qint64 bytesNeeded = qint64(size.width()) * size.height() * 4;
    if (reader.allocationLimit() > 0 && bytesNeeded > qint64(reader.allocationLimit()) * 1024 * 1024)
        return fail<QImage>(error, QStringLiteral("the stored preview of %1 x %2 pixels needs more than %3 MB")
                                       .arg(size.width())
                                       .arg(size.height())
                                       .arg(reader.allocationLimit()));
    QImage image = reader.read();
    if (image.isNull())
        return fail<QImage>(error, QStringLiteral("the stored preview cannot be decoded: %1").arg(reader.errorString()));
    return image;
}

std::optional<QByteArray> readProjectFile(const QString& path, QString* error)
{
    using Result = std::optional<QByteArray>;
    const QByteArray localPath = path.toLocal8Bit();
    struct stat info {};
    if (::stat(localPath.constData(), &info) != 0)
        return fail<Result>(error, systemError());
    if (!S_ISREG(info.st_mode))
        return fail<Result>(error, QStringLiteral("not a regular file"));
    if (info.st_size > kMaxFileBytes)
        return fail<Result>(error, QStringLiteral("larger than %1 bytes").arg(kMaxFileBytes));
    // O_NONBLOCK: should the path have been swapped for a FIFO since stat(), opening it must not
    // wait for a writer; fstat() below then refuses it.
    const int fd = ::open(localPath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail<Result>(error, systemError());
    const auto closeAndFail = [fd, error](const QString& reason) {
        ::close(fd);
        return fail<Result>(error, reason);
    };
    if (::fstat(fd, &info) != 0)
        return closeAndFail(systemError());
    if (!S_ISREG(info.st_mode))
        return closeAndFail(QStringLiteral("not a regular file"));
    if (info.st_size > kMaxFileBytes)
        return closeAndFail(QStringLiteral("larger than %1 bytes").arg(kMaxFileBytes));

    // One byte more than the stated size shows a file still growing; it may grow to the limit.
    QByteArray bytes;
    bytes.resize(qsizetype(info.st_size) + 1);
    qsizetype filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (bytes.size() > kMaxFileBytes)
                return closeAndFail(QStringLiteral("larger than %1 bytes").arg(kMaxFileBytes));
            bytes.resize(qsizetype(std::min<qint64>(qint64(bytes.size()) * 2, kMaxFileBytes + 1)));
        }
        const ssize_t got = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return closeAndFail(systemError());
        if (got == 0)
            break;
        filled += got;
    }
    ::close(fd);
    bytes.truncate(filled);
    return bytes;
}

QImage fitThumbnail(const QImage& image, int size)
{
    if (size <= 0 || (image.width() <= size && image.height() <= size))
        return image;
    // A very long, thin picture keeps at least one pixel across.
    const QSize fitted = image.size().scaled(size, size, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    return image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace GlimpraPreview

#pragma once
// The snapshot a project file carries for file managers: the PNG of the main window that saving
// stores under "QLData" / "QLIMAGE". Reading it shares nothing with the program but the project
// file's format (KeyedArchive), so the thumbnailer links only the foundation and Qt's images.
//
// Every step refuses bad input with an error text and never reads, allocates or decodes more
// than the limits below: a file manager hands over whatever file it is browsing.

#include <QByteArray>
#include <QString>

#include <optional>

class QImage;

namespace GlimpraPreview {

// Project files are a few megabytes; anything larger is not read at all.
inline constexpr qint64 kMaxFileBytes = qint64(256) * 1024 * 1024;
// A snapshot is a window; an image claiming more than this a side is refused from its header.
inline constexpr int kMaxImageSide = 16384;

// The "QLIMAGE" bytes of a project file's contents, or std::nullopt with the reason: not a keyed
// archive of the allowed classes, a root that is no dictionary, "QLData" missing, empty or no
// dictionary, "QLIMAGE" missing or no data. Pure; the file's name plays no part.
std::optional<QByteArray> extractPreviewPng(const QByteArray& fileBytes, QString* error = nullptr);

// Decodes a stored snapshot. Its size is read from the header first: more than kMaxImageSide a
// side, or more memory than Qt's image allocation limit, is refused before decoding. A null
// image and the reason when it is no image.
QImage decodePreview(const QByteArray& png, QString* error = nullptr);

// The contents of the file at `path`: regular files only (a folder, FIFO or device is refused
// before it is opened for reading, so nothing blocks), at most kMaxFileBytes, in one bounded read.
std::optional<QByteArray> readProjectFile(const QString& path, QString* error = nullptr);

// The picture to write for a request of `size` pixels: scaled down to fit size × size with its
// aspect kept, never enlarged; size <= 0 keeps the picture as it is (the full preview).
QImage fitThumbnail(const QImage& image, int size);

} // namespace GlimpraPreview

#pragma once
// What the caption fuzz targets share: the GUI application that fonts need, the text decoding of
// caption files, and the lookups that follow a read. Included by exactly one file per target.

#include "Caption/QVTCaptionReader.h"

#include <QGuiApplication>
#include <QStringDecoder>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace fuzz {

// The bytes as the caption file reader decodes them: by byte-order mark, else UTF-8 when valid,
// else Latin-1.
inline QString decodeText(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto bom = QStringConverter::encodingForData(bytes)) {
        QStringDecoder decoder(*bom);
        return decoder(bytes);
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

// Looks up every caption's start and end, the times around them and the special times, and
// describes what it finds, as a cue playing the captions would.
inline void exerciseLookups(const QVTCaptionReader& reader)
{
    reader.captionStartTime();
    const MediaTime specials[] = {MediaTime::invalid(), MediaTime::zero(), MediaTime::positiveInfinity(),
                                  MediaTime::negativeInfinity(), MediaTime::indefinite()};
    for (const MediaTime& t : specials) {
        if (const auto caption = reader.captionForTime(t)) {
            caption->description();
        }
    }
    const MediaTime tick = MediaTime::make(1, 1000);
    const std::size_t count = std::min<std::size_t>(reader.captions().size(), 64);
    for (std::size_t i = 0; i < count; ++i) {
        const auto& caption = reader.captions()[i];
        for (const MediaTime& t : {caption->startTime - tick, caption->startTime, caption->endTime, caption->endTime + tick}) {
            if (const auto found = reader.captionForTime(t)) {
                found->description();
                found->anyLineContainsText(QStringLiteral("a"));
            }
        }
    }
}

// A text reader (SRT, SCC) over the decoded bytes, then the lookups when it accepted them.
template <typename Reader>
void readText(const std::uint8_t* data, std::size_t size)
{
    Reader reader;
    reader.setFontSizeToUse(20);
    if (reader.readText(decodeText(data, size))) {
        exerciseLookups(reader);
    }
}

}  // namespace fuzz

// Fonts and text layout need a QGuiApplication; the offscreen platform needs no display. Qt gets
// an argument list of its own so that it cannot eat libFuzzer's flags.
extern "C" int LLVMFuzzerInitialize(int*, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    static QGuiApplication app(argc, qtArgv);
    return 0;
}

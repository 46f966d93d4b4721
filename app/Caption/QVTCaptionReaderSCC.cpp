#include "Caption/QVTCaptionReaderSCC.h"

#include "Caption/CaptionScanner.h"
#include "Log.h"

#include <vector>

bool QVTCaptionReaderSCC::initWithMovieFile(const QUrl& movie, const QString& track, long fontSize)
{
    fontSizeToUse_ = fontSize;
    QString error;
    const auto text = readTextFile(captionURLForMovieFile(movie, track).toLocalFile(), &error);
    if (!text) {
        KLOG_VERBOSE("QVTCaptionReaderSCC Error: Couldn't read caption file: {}", error.toStdString());
        return false;
    }
    return readText(*text);
}

bool QVTCaptionReaderSCC::readText(const QString& text)
{
    bool headerSeen = false;
    std::vector<std::uint8_t> bytes;
    for (const QString& line : splitLines(text)) {
        if (!headerSeen) {
            if (line != "Scenarist_SCC V1.0") {
                break;
            }
            headerSeen = true;
            continue;
        }
        if (line.isEmpty()) {
            continue;
        }
        CaptionScanner scanner(line, true);
        // Whole seconds are real seconds; frames count 1001/30000 s each. A time code too large
        // for the arithmetic is no time code.
        std::int64_t hh, mm, ss, ff, frames, value;
        if (!(scanner.scanInteger(&hh) && scanner.scanString(":") && scanner.scanInteger(&mm) &&
              scanner.scanString(":") && scanner.scanInteger(&ss) && scanner.scanCharactersFromSet(":;") &&
              scanner.scanInteger(&ff) && checkedMulAdd(ff, 1001, 0, &frames) && checkedMulAdd(hh, 60, mm, &value) &&
              checkedMulAdd(value, 60, ss, &value) && checkedMulAdd(value, 30000, frames, &value))) {
            continue;
        }
        const MediaTime time = MediaTime::make(value, 30000);
        bytes.clear();
        std::uint32_t word;
        while (scanner.scanHexInt(&word)) {
            bytes.push_back(std::uint8_t(word >> 8));
            bytes.push_back(std::uint8_t(word));
        }
        parseBytes(bytes.data(), bytes.size(), time);
    }
    if (!headerSeen) {
        KLOG_VERBOSE("QVTCaptionReaderSCC Error: File doesn't have header 'Scenarist_SCC V1.0'.");
        return false;
    }
    finishStream();
    return true;
}

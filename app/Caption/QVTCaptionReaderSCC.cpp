#include "QVTCaptionReaderSCC.h"

#include "CaptionScanner.h"
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
        std::int64_t hh, mm, ss, ff;
        if (!(scanner.scanInteger(&hh) && scanner.scanString(":") && scanner.scanInteger(&mm) &&
              scanner.scanString(":") && scanner.scanInteger(&ss) && scanner.scanCharactersFromSet(":;") &&
              scanner.scanInteger(&ff))) {
            continue;
        }
        // Whole seconds are real seconds; frames count 1001/30000 s each.
        const MediaTime time = MediaTime::make(ff * 1001 + ((hh * 60 + mm) * 60 + ss) * 30000, 30000);
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

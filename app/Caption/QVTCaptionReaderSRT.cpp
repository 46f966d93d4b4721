#include "Caption/QVTCaptionReaderSRT.h"

#include "Caption/CaptionScanner.h"
#include "Rendering/KavioOverlayFontManager.h"
#include "Log.h"

namespace {

// "hh:mm:ss,mmm" as a time at timescale 1000; false also when the value does not fit.
bool scanTime(CaptionScanner& scanner, MediaTime* time)
{
    std::int64_t h, m, s, ms, value;
    if (scanner.scanInteger(&h) && scanner.scanString(":") && scanner.scanInteger(&m) && scanner.scanString(":") &&
        scanner.scanInteger(&s) && scanner.scanString(",") && scanner.scanInteger(&ms) &&
        checkedMulAdd(h, 60, m, &value) && checkedMulAdd(value, 60, s, &value) &&
        checkedMulAdd(value, 1000, ms, &value)) {
        *time = MediaTime::make(value, 1000);
        return true;
    }
    return false;
}

struct Styler {
    long fontSize;
    bool bold = false;
    bool italic = false;
    TextAttributes pen;

    void newPen()
    {
        auto& fonts = KavioOverlayFontManager::sharedManager();
        pen = {};
        pen.font = fonts.subtitleFont(bold, italic, fontSize);
        pen.foreground = fonts.subtitleFontColor();
        pen.background = KavioColor{0, 0, 0, 0};
    }

    void remakeFont() { pen.font = KavioOverlayFontManager::sharedManager().subtitleFont(bold, italic, fontSize); }

    AttributedString style(const QString& line)
    {
        AttributedString out;
        CaptionScanner scanner(line, false);
        while (!scanner.isAtEnd()) {
            QString text;
            if (scanner.scanUpToString("<", &text)) {
                out.append(text, pen);
            }
            if (scanner.isAtEnd()) {
                break;
            }
            std::uint32_t rgb = 0;
            if (scanner.scanString("<font color=\"#")) {
                if (scanner.scanHexInt(&rgb) && scanner.scanString("\">")) {
                    pen.foreground = KavioColor{(rgb >> 16) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, 1.0};
                }
            } else if (scanner.scanString("</font>")) {
                pen.foreground = KavioOverlayFontManager::sharedManager().subtitleFontColor();
            } else if (scanner.scanString("<b>")) {
                bold = true;
                remakeFont();
            } else if (scanner.scanString("</b>")) {
                bold = false;
                remakeFont();
            } else if (scanner.scanString("<i>")) {
                italic = true;
                remakeFont();
            } else if (scanner.scanString("</i>")) {
                italic = false;
                remakeFont();
            } else if (scanner.scanString("<u>")) {
                pen.underlineStyle = 1;
            } else if (scanner.scanString("</u>")) {
                pen.underlineStyle.reset();
            } else {
                out.append("<", pen);
                scanner.advance(1);
            }
        }
        return out;
    }
};

}  // namespace

bool QVTCaptionReaderSRT::initWithMovieFile(const QUrl& movie, const QString& track, long fontSize)
{
    fontSizeToUse_ = fontSize;
    const QUrl url = captionURLForMovieFile(movie, track);
    QString error;
    const auto text = readTextFile(url.toLocalFile(), &error);
    if (!text) {
        KLOG_VERBOSE("QVTCaptionReaderSRT Error: Couldn't read caption file: {}", error.toStdString());
        return false;
    }
    return readText(*text);
}

bool QVTCaptionReaderSRT::readText(const QString& text)
{
    enum { ExpectNumber, ExpectTiming, ExpectText } state = ExpectNumber;
    Styler styler{fontSizeToUse_, false, false, {}};
    QVTCaptionPtr caption;
    for (const QString& line : splitLines(text)) {
        switch (state) {
        case ExpectNumber: {
            if (line.trimmed().isEmpty()) {
                break;
            }
            CaptionScanner scanner(line, true);
            std::int64_t sequence;
            if (!scanner.scanInteger(&sequence)) {
                KLOG_VERBOSE("QVTCaptionReaderSRT Error: Expected a sequence number, but got \"{}\".", line.toStdString());
                return false;
            }
            caption = std::make_shared<QVTCaption>();
            caption->alignment = 2;
            caption->drawBackgroundRectangle = true;
            styler.newPen();
            state = ExpectTiming;
            break;
        }
        case ExpectTiming: {
            CaptionScanner scanner(line, true);
            if (scanTime(scanner, &caption->startTime) && scanner.scanString("-->") &&
                scanTime(scanner, &caption->endTime)) {
                state = ExpectText;
            }
            break;
        }
        case ExpectText:
            if (line.isEmpty()) {
                if (!caption->lines.empty()) {
                    captions_.push_back(caption);
                }
                state = ExpectNumber;
            } else {
                caption->lines.push_back({styler.style(line)});
            }
            break;
        }
    }
    if (state == ExpectText) {
        captions_.push_back(caption);
    }
    return true;
}

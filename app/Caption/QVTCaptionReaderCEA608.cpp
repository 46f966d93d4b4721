#include "Caption/QVTCaptionReaderCEA608.h"

#include "Rendering/KavioOverlayFontManager.h"
#include "Log.h"

namespace {

const MediaTime kFrame = MediaTime::make(1001, 30000);

constexpr KavioColor kWhite{1, 1, 1, 1}, kGreen{0, 1, 0, 1}, kBlue{0, 0, 1, 1}, kCyan{0, 1, 1, 1}, kRed{1, 0, 0, 1},
    kYellow{1, 1, 0, 1}, kMagenta{1, 0, 1, 1}, kBlack{0, 0, 0, 1};

// The colour of attribute bits (b2 & 0x0E) in preamble and mid-row codes; 0x0E is white italic.
KavioColor attributeColor(std::uint8_t attribute)
{
    switch (attribute) {
    case 0x02: return kGreen;
    case 0x04: return kBlue;
    case 0x06: return kCyan;
    case 0x08: return kRed;
    case 0x0A: return kYellow;
    case 0x0C: return kMagenta;
    default: return kWhite;
    }
}

KavioColor backgroundColor(std::uint8_t b2)
{
    static const KavioColor table[] = {kWhite, kGreen, kBlue, kCyan, kRed, kYellow, kMagenta, kBlack};
    if (b2 < 0x20 || b2 > 0x2F) {
        return kWhite;
    }
    KavioColor c = table[(b2 - 0x20) >> 1];
    if (b2 & 0x01) {
        c.alpha = 0.5;
    }
    return c;
}

// The character for b2 0x20 to 0x3F of an extended-character set; empty and logged otherwise.
QString extendedCharacter(const char16_t (&table)[32], std::uint8_t b1, std::uint8_t b2)
{
    if (b2 < 0x20 || b2 > 0x3F) {
        KLOG_VERBOSE("QVTCaptionReaderCEA608 Warning: Unknown extended character 0x{:02x}{:02x}.  Skipping.", b1, b2);
        return {};
    }
    return QString(QChar(table[b2 - 0x20]));
}

}  // namespace

QVTCaptionReaderCEA608::QVTCaptionReaderCEA608()
    : offscreen_(emptyRows()), onscreen_(emptyRows())
{
    clearOnscreenBuffer();
    flipBuffers();
    clearOnscreenBuffer();
}

QVTCaptionReaderCEA608::Rows QVTCaptionReaderCEA608::emptyRows()
{
    Rows rows;
    for (auto& row : rows) {
        row = std::make_shared<AttributedString>();
    }
    return rows;
}

void QVTCaptionReaderCEA608::parseBytes(const std::uint8_t* bytes, std::size_t length, const MediaTime& start)
{
    decoderTime_ = start;
    std::uint8_t cursor = 0;
    length &= ~std::size_t(1);
    for (std::size_t i = 0; i < length; i += 2) {
        const std::uint8_t b1 = removeParity(bytes[i]);
        const std::uint8_t b2 = removeParity(bytes[i + 1]);
        decoderTime_ = decoderTime_ + kFrame;
        // Held by pointer: a code may replace the memory's rows while the pair is handled.
        const Row target = offscreen_[cursor];

        if (isControlCode(b1)) {
            // Control codes are sent twice in a row for robustness; the copy is not acted on.
            const std::uint16_t code = std::uint16_t(b1 << 8 | b2);
            const bool repeated = lastControlCode_ == code;
            lastControlCode_ = repeated ? -1 : code;
            if (repeated) {
                continue;
            }
        } else {
            lastControlCode_ = -1;
        }

        if (!isControlCode(b1)) {
            appendText(convertToUTF8(b1), *target);
            appendText(convertToUTF8(b2), *target);
            if (state_ == PaintOn || state_ == RollUp) {
                flushBuffer();
            }
        } else if (isPreambleAddressCode(b1, b2)) {
            const Preamble pac = decodePreambleAddressCode(b1, b2);
            cursor = pac.row;
            resetAttributes();
            currentAttributes_->font = KavioOverlayFontManager::sharedManager().captionFont(false, pac.italic, fontSizeToUse_);
            currentAttributes_->foreground = pac.color;
            if (pac.underline) {
                currentAttributes_->underlineStyle = 2;
            }
            TextAttributes indentAttributes = *currentAttributes_;
            indentAttributes.background.reset();
            offscreen_[cursor]->append(QString(pac.indent, u' '), indentAttributes);
        } else {
            controlCode(b1 & 0xF7, b2, *target);
        }
    }
}

void QVTCaptionReaderCEA608::controlCode(std::uint8_t b1, std::uint8_t b2, AttributedString& target)
{
    switch (b1) {
    case 0x10:
        if (currentAttributes_) {
            currentAttributes_->background = backgroundColor(b2);
        }
        backspaceOnRow(target);
        appendText(" ", target);
        return;
    case 0x11:
        if (b2 >= 0x30 && b2 <= 0x3F) {
            appendText(decodeSpecialCharacter(b1, b2), target);
        } else if (b2 >= 0x20 && b2 <= 0x2F) {
            if (currentAttributes_) {
                const std::uint8_t attribute = b2 & 0x0E;
                if (attribute == 0x0E) {
                    currentAttributes_->font = KavioOverlayFontManager::sharedManager().captionFont(false, true, fontSizeToUse_);
                }
                currentAttributes_->foreground = attributeColor(attribute);
                if (b2 & 0x01) {
                    currentAttributes_->underlineStyle = 2;
                } else {
                    currentAttributes_->underlineStyle.reset();
                }
            }
        } else {
            unknownControlCode(b1, b2);
        }
        return;
    case 0x12:
        backspaceOnRow(target);
        appendText(decodeExtendedCharacter_5_6_7(b1, b2), target);
        return;
    case 0x13:
        backspaceOnRow(target);
        appendText(decodeExtendedCharacter_8_9_10(b1, b2), target);
        return;
    case 0x14:
        switch (b2) {
        case 0x20: state_ = PopOn; return;
        case 0x25:
        case 0x26:
        case 0x27:
            rollUpRows_ = b2 - 0x23;
            startCurrentCaption(offscreen_);
            state_ = RollUp;
            return;
        case 0x29:
            rollUpRows_ = 6;
            startCurrentCaption(offscreen_);
            state_ = PaintOn;
            return;
        case 0x2C: clearOnscreenBuffer(); return;
        case 0x2D: rollUp(); return;
        case 0x2E: clearOffscreenBuffer(); return;
        case 0x2F: flipBuffers(); return;
        default: unknownControlCode(b1, b2); return;
        }
    case 0x17:
        switch (b2) {
        case 0x21:
        case 0x22:
        case 0x23:
            for (int n = b2 - 0x20; n > 0; --n) {
                insertSpaceInto(target, target.length());
            }
            return;
        case 0x2D:
            if (currentAttributes_) {
                currentAttributes_->background.reset();
            }
            backspaceOnRow(target);
            appendText(" ", target);
            return;
        case 0x2E:
        case 0x2F:
            if (currentAttributes_) {
                currentAttributes_->foreground = kBlack;
                if (b2 == 0x2F) {
                    currentAttributes_->underlineStyle = 2;
                }
            }
            return;
        default: unknownControlCode(b1, b2); return;
        }
    default:
        unknownControlCode(b1, b2);
        return;
    }
}

void QVTCaptionReaderCEA608::unknownControlCode(std::uint8_t b1, std::uint8_t b2) const
{
    KLOG_VERBOSE("QVTCaptionReaderCEA608 Warning: Unknown control code 0x{:02x}{:02x}.  Skipping.", b1, b2);
}

void QVTCaptionReaderCEA608::startCurrentCaption(const Rows& rows)
{
    currentCaption_ = rows;
    currentCaptionStartTime_ = decoderTime_;
}

void QVTCaptionReaderCEA608::endCurrentCaption()
{
    auto caption = std::make_shared<QVTCaption>();
    caption->startTime = currentCaptionStartTime_;
    caption->endTime = decoderTime_;
    if (currentCaption_) {
        for (const Row& row : *currentCaption_) {
            if (row->isEmpty()) {
                continue;
            }
            AttributedString line = *row;
            qsizetype p = 0;
            while (p < line.length() - 1 && line.string().at(p) == u' ') {
                ++p;
            }
            insertSpaceInto(line, p);
            insertSpaceInto(line, line.length());
            for (const auto& run : line.runs()) {
                if (!run.attributes.background || run.attributes.background->alpha < 1.0) {
                    caption->setHasTransparency(true);
                }
            }
            caption->lines.push_back({std::move(line)});
        }
    }
    if (!caption->lines.empty()) {
        captions_.push_back(caption);
    }
    currentCaptionStartTime_ = MediaTime::zero();
    currentCaption_.reset();
}

void QVTCaptionReaderCEA608::flipBuffers()
{
    endCurrentCaption();
    std::swap(offscreen_, onscreen_);
    startCurrentCaption(onscreen_);
}

void QVTCaptionReaderCEA608::clearOffscreenBuffer()
{
    offscreen_ = emptyRows();
}

void QVTCaptionReaderCEA608::clearOnscreenBuffer()
{
    onscreen_ = emptyRows();
    endCurrentCaption();
}

void QVTCaptionReaderCEA608::extendLastCaptionTo16SecondsOr(const MediaTime& t)
{
    if (captions_.empty()) {
        return;
    }
    QVTCaption& last = *captions_.back();
    last.endTime = MediaTime::minimum(last.startTime + MediaTime::make(16, 1), t);
}

void QVTCaptionReaderCEA608::flushBuffer()
{
    // The previous caption ends where this one began, and never later than 16 s after its own
    // start. It is only ever shortened here: lengthening it would bring back a caption that an
    // erase code had already taken off the screen. Without a caption under way there is no start
    // to end it at.
    if (currentCaption_ && !captions_.empty()) {
        QVTCaption& last = *captions_.back();
        last.endTime = MediaTime::minimum(last.endTime, MediaTime::minimum(last.startTime + MediaTime::make(16, 1),
                                                                           currentCaptionStartTime_));
    }
    endCurrentCaption();
    startCurrentCaption(offscreen_);
}

void QVTCaptionReaderCEA608::rollUp()
{
    const long n = long(rollUpRows_);
    long last = -1;
    for (long i = 15; i >= 1; --i) {
        if (!offscreen_[i]->isEmpty()) {
            last = i;
            break;
        }
    }
    for (long i = 0; i < 16; ++i) {
        if (i <= last - n || i >= last) {
            offscreen_[i] = std::make_shared<AttributedString>();
        } else {
            offscreen_[i] = offscreen_[i + 1];
        }
    }
    flushBuffer();
    resetAttributes();
}

void QVTCaptionReaderCEA608::resetAttributes()
{
    auto& fonts = KavioOverlayFontManager::sharedManager();
    TextAttributes pen;
    pen.font = fonts.captionFont(false, false, fontSizeToUse_);
    pen.foreground = fonts.subtitleFontColor();
    pen.background = fonts.subtitleBackgroundColor();
    currentAttributes_ = pen;
}

void QVTCaptionReaderCEA608::insertSpaceInto(AttributedString& row, qsizetype index) const
{
    const TextAttributes attributes =
        row.isEmpty() ? currentAttributes_.value_or(TextAttributes{}) : row.attributesAt(std::min(index, row.length() - 1));
    row.insert(index, " ", attributes);
}

void QVTCaptionReaderCEA608::backspaceOnRow(AttributedString& row) const
{
    row.removeLast();
}

void QVTCaptionReaderCEA608::appendText(const QString& text, AttributedString& row) const
{
    row.append(text, currentAttributes_.value_or(TextAttributes{}));
}

void QVTCaptionReaderCEA608::finishStream()
{
    if (currentCaption_) {
        flushBuffer();
    }
    extendLastCaptionTo16SecondsOr(MediaTime::positiveInfinity());
}

QString QVTCaptionReaderCEA608::convertToUTF8(std::uint8_t byte)
{
    switch (byte) {
    case 0x00: return {};
    case 0x2A: return QStringLiteral("á");
    case 0x5C: return QStringLiteral("é");
    case 0x5E: return QStringLiteral("í");
    case 0x5F: return QStringLiteral("ó");
    case 0x60: return QStringLiteral("ú");
    case 0x7B: return QStringLiteral("ç");
    case 0x7C: return QStringLiteral("÷");
    case 0x7D: return QStringLiteral("Ñ");
    case 0x7E: return QStringLiteral("ñ");
    case 0x7F: return QString(QChar(0x2588));
    default: return QString(QChar(byte));
    }
}

QVTCaptionReaderCEA608::Preamble QVTCaptionReaderCEA608::decodePreambleAddressCode(std::uint8_t b1, std::uint8_t b2)
{
    static constexpr std::uint8_t rows[16] = {11, 1, 3, 12, 14, 5, 7, 9, 0, 2, 4, 13, 15, 6, 8, 10};
    Preamble pac;
    pac.underline = b2 & 0x01;
    if (b2 & 0x10) {
        pac.indent = (b2 & 0x0E) * 2;
    } else {
        const std::uint8_t attribute = b2 & 0x0E;
        pac.color = attributeColor(attribute);
        pac.italic = attribute == 0x0E;
    }
    const std::uint8_t index = (b2 & 0x20) ? ((b1 & 0x07) | 0x08) : (b1 & 0x07);
    pac.row = rows[index];
    return pac;
}

QString QVTCaptionReaderCEA608::decodeSpecialCharacter(std::uint8_t b1, std::uint8_t b2)
{
    static constexpr char16_t table[16] = {u'®', u'°', u'½', u'¿', u'™', u'¢', u'£', u'♪',
                                           u'à', 0x00A0, u'è', u'â', u'ê', u'î', u'ô', u'û'};
    if (b2 < 0x30 || b2 > 0x3F) {
        KLOG_VERBOSE("QVTCaptionReaderCEA608 Warning: Unknown special character 0x{:02x}{:02x}.  Skipping.", b1, b2);
        return {};
    }
    return QString(QChar(table[b2 - 0x30]));
}

QString QVTCaptionReaderCEA608::decodeExtendedCharacter_5_6_7(std::uint8_t b1, std::uint8_t b2)
{
    static constexpr char16_t table[32] = {u'Á', u'É', u'Ó', u'Ú', u'Ü', u'ü', 0x2018, u'¡', u'*', u'\'', 0x2500,
                                           u'©', 0x2120, 0x00B7, 0x201C, 0x201D, u'À', u'Â', u'Ç', u'È', u'Ê', u'Ë',
                                           u'ë', u'Î', u'Ï', u'ï', u'Ô', u'Ù', u'ù', u'Û', u'«', u'»'};
    return extendedCharacter(table, b1, b2);
}

QString QVTCaptionReaderCEA608::decodeExtendedCharacter_8_9_10(std::uint8_t b1, std::uint8_t b2)
{
    static constexpr char16_t table[32] = {u'Ã', u'ã', u'Í', u'Ì', u'ì', u'Ò', u'ò', u'Õ', u'õ', u'{', u'}',
                                           u'\\', u'^', u'_', u'|', u'~', u'Ä', u'ä', u'Ö', u'ö', u'ß', u'¥',
                                           u'¤', 0x2502, u'Å', u'å', u'Ø', u'ø', 0x250C, 0x2510, 0x2514, 0x2518};
    return extendedCharacter(table, b1, b2);
}

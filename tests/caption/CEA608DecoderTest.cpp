#include "Caption/QVTCaptionReaderCEA608.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The decoder on its own, fed byte pairs directly.
class Decoder : public QVTCaptionReaderCEA608 {
public:
    bool initWithMovieFile(const QUrl&, const QString&, long) override { return false; }

    void feed(std::vector<std::uint8_t> bytes, MediaTime start = MediaTime::zero())
    {
        parseBytes(bytes.data(), bytes.size(), start);
    }
    QString row(int i) const { return offscreenBuffer()[i]->string(); }
    QString shown(int i) const { return onscreenBuffer()[i]->string(); }
};

const MediaTime kFrame = MediaTime::make(1001, 30000);

MediaTime frames(int n, MediaTime start = MediaTime::zero()) { return start + MediaTime::make(1001 * n, 30000); }

}  // namespace

TEST(CEA608Tables, CharactersAndCodes)
{
    EXPECT_EQ(QVTCaptionReaderCEA608::convertToUTF8(0x41), "A");
    EXPECT_EQ(QVTCaptionReaderCEA608::convertToUTF8(0x2A), QString::fromUtf8("á"));
    EXPECT_EQ(QVTCaptionReaderCEA608::convertToUTF8(0x7F), QString(QChar(0x2588)));
    EXPECT_EQ(QVTCaptionReaderCEA608::convertToUTF8(0x00), "");
    EXPECT_EQ(QVTCaptionReaderCEA608::decodeSpecialCharacter(0x11, 0x37), QString::fromUtf8("♪"));
    EXPECT_EQ(QVTCaptionReaderCEA608::decodeSpecialCharacter(0x11, 0x39), QString(QChar(0x00A0)));
    EXPECT_EQ(QVTCaptionReaderCEA608::decodeSpecialCharacter(0x11, 0x20), "");
    EXPECT_EQ(QVTCaptionReaderCEA608::decodeExtendedCharacter_5_6_7(0x12, 0x20), QString::fromUtf8("Á"));
    EXPECT_EQ(QVTCaptionReaderCEA608::decodeExtendedCharacter_5_6_7(0x12, 0x3F), QString::fromUtf8("»"));
    EXPECT_EQ(QVTCaptionReaderCEA608::decodeExtendedCharacter_8_9_10(0x13, 0x3F), QString(QChar(0x2518)));
    EXPECT_EQ(QVTCaptionReaderCEA608::decodeExtendedCharacter_8_9_10(0x13, 0x40), "");
    EXPECT_EQ(QVTCaptionReaderCEA608::removeParity(0x94), 0x14);
    EXPECT_TRUE(QVTCaptionReaderCEA608::isPreambleAddressCode(0x1F, 0x7F));
    EXPECT_FALSE(QVTCaptionReaderCEA608::isPreambleAddressCode(0x14, 0x2F));
}

TEST(CEA608Tables, PreambleAddressCodes)
{
    struct Case {
        std::uint8_t b1, b2;
        int row;
        bool italic, underline;
        int indent;
        KavioColor color;
    };
    const KavioColor white{1, 1, 1, 1}, green{0, 1, 0, 1};
    const Case cases[] = {
        {0x11, 0x4F, 1, true, true, 0, white},   // white italic underlined
        {0x11, 0x43, 1, false, true, 0, green},  // green underlined
        {0x11, 0x60, 2, false, false, 0, white},
        {0x14, 0x70, 15, false, false, 0, white},
        {0x14, 0x54, 14, false, false, 8, white},  // indent 8
        {0x10, 0x40, 11, false, false, 0, white},
        {0x10, 0x60, 0, false, false, 0, white},
        {0x1F, 0x7E, 10, false, false, 28, white},  // channel 2, indent 28
    };
    for (const auto& c : cases) {
        const auto pac = QVTCaptionReaderCEA608::decodePreambleAddressCode(c.b1, c.b2);
        SCOPED_TRACE(testing::Message() << std::hex << int(c.b1) << " " << int(c.b2));
        EXPECT_EQ(pac.row, c.row);
        EXPECT_EQ(pac.italic, c.italic);
        EXPECT_EQ(pac.underline, c.underline);
        EXPECT_EQ(pac.indent, c.indent);
        EXPECT_EQ(pac.color, c.color);
    }
}

TEST(CEA608Decoder, PopOnCaptionsWithTransmittedCopiesOfControlCodes)
{
    Decoder d;
    // RCL, PAC row 15, "HI", EOC, each control code sent twice as the standard transmits them.
    d.feed({0x14, 0x20, 0x14, 0x20, 0x14, 0x70, 0x14, 0x70, 'H', 'I', 0x14, 0x2F, 0x14, 0x2F});
    EXPECT_EQ(d.shown(15), "HI");  // one swap, not two
    EXPECT_EQ(d.decoderTime(), frames(7));
    EXPECT_TRUE(d.captions().empty());
    d.feed({0x14, 0x2C, 0x14, 0x2C}, frames(10));  // EDM, twice
    ASSERT_EQ(d.captions().size(), 1u);
    EXPECT_EQ(d.captions()[0]->startTime, frames(6));
    EXPECT_EQ(d.captions()[0]->endTime, frames(11));
    EXPECT_EQ(d.captions()[0]->lines[0].text.string(), " HI ");
    EXPECT_TRUE(d.captions()[0]->hasTransparency());  // the default background has alpha 0.65
    EXPECT_EQ(d.shown(15), "");

    // A copy is skipped only once, and also when it arrives in the next call.
    Decoder swaps;
    swaps.feed({0x14, 0x70, 'A', 'B', 0x14, 0x2F});
    swaps.feed({0x14, 0x2F, 0x14, 0x2F}, frames(10));
    EXPECT_EQ(swaps.shown(15), "");  // first swap, copy skipped, third acts and swaps back
    EXPECT_EQ(swaps.captions().size(), 1u);
}

TEST(CEA608Decoder, ClockRowCursorAndOddLengths)
{
    Decoder d;
    d.feed({0x00, 0x00, 'A', 0x00, 'B'});  // null pair, then "A" with an empty second byte, odd byte ignored
    EXPECT_EQ(d.row(0), "A");              // no preamble in this call: row 0
    EXPECT_EQ(d.decoderTime(), frames(2));
    EXPECT_FALSE(d.currentAttributes());  // no pen until a preamble or roll-up
    d.feed({'Z'}, frames(7));
    EXPECT_EQ(d.decoderTime(), frames(7));  // a single byte only sets the clock

    d.feed({0x14, 0x54, 0x14, 0x54, 0x11, 0x37, 0x11, 0x37});  // PAC and note, each with its copy
    EXPECT_EQ(d.row(14), QString(8, u' ') + QString::fromUtf8("♪"));
    d.feed({'X', 'Y'});  // a later call starts again at row 0
    EXPECT_EQ(d.row(0), "AXY");
}

TEST(CEA608Decoder, StylesColoursAndBackgrounds)
{
    Decoder d;
    // PAC row 15; "A"; mid-row red underlined; "B"; background magenta at 50 % (replaces the last
    // character by a space); "C"; background transparent (the same); tab offset 1; "D".
    d.feed({0x14, 0x70, 'A', 0x00, 0x11, 0x29, 'B', 0x00, 0x10, 0x2D, 'C', 0x00, 0x17, 0x2D, 0x17, 0x21, 'D', 0x00});
    const AttributedString& row = *d.offscreenBuffer()[15];
    EXPECT_EQ(row.string(), "A   D");
    EXPECT_EQ(*row.attributesAt(0).foreground, (KavioColor{1, 1, 1, 1}));
    EXPECT_FALSE(row.attributesAt(0).underlineStyle);
    EXPECT_EQ(*row.attributesAt(1).foreground, (KavioColor{1, 0, 0, 1}));
    EXPECT_EQ(row.attributesAt(1).underlineStyle, 2);
    EXPECT_EQ(*row.attributesAt(1).background, (KavioColor{1, 0, 1, 0.5}));
    EXPECT_FALSE(row.attributesAt(2).background);
    EXPECT_EQ(row.attributesAt(3), row.attributesAt(2));  // the tab's space copies its neighbour
    EXPECT_EQ(*row.attributesAt(4).foreground, (KavioColor{1, 0, 0, 1}));
}

TEST(CEA608Decoder, CodesBeforeAnyPenChangeOnlyTheText)
{
    Decoder d;
    d.feed({'A', 'B', 0x11, 0x22, 0x17, 0x2E, 0x10, 0x20, 0x12, 0x25});
    // mid-row and black foreground do nothing; background: backspace + space; extended: backspace + ü
    EXPECT_EQ(d.row(0), QString::fromUtf8("Aü"));
    EXPECT_EQ(d.offscreenBuffer()[0]->attributesAt(0), TextAttributes{});
    Decoder fresh;
    fresh.feed({0x13, 0x30});  // on an empty row only the character is added
    EXPECT_EQ(fresh.row(0), QString::fromUtf8("Ä"));
}

TEST(CEA608Decoder, RollUpMovesTheWindowAndEmitsCaptions)
{
    Decoder d;
    d.feed({0x14, 0x26});  // RU3
    EXPECT_EQ(d.state(), QVTCaptionReaderCEA608::RollUp);
    EXPECT_EQ(d.rollUpRows(), 3u);
    d.feed({0x13, 0x70, 'a', 'a'});  // PAC row 13
    d.feed({0x14, 0x50, 'b', 'b'});  // PAC row 14
    d.feed({0x14, 0x70, 'c', 'c'});  // PAC row 15
    const auto emitted = d.captions().size();
    EXPECT_EQ(emitted, 3u);  // one per printable pair
    d.feed({0x14, 0x2D});    // CR
    EXPECT_EQ(d.row(13), "bb");
    EXPECT_EQ(d.row(14), "cc");
    EXPECT_EQ(d.row(15), "");
    for (int i : {0, 1, 12}) {
        EXPECT_EQ(d.row(i), "") << i;
    }
    EXPECT_EQ(d.captions().size(), emitted + 1);
    // The caption emitted by the CR still shows the rows as they were before the scroll.
    QStringList lines;
    for (const auto& line : d.captions().back()->lines) {
        lines << line.text.string();
    }
    EXPECT_EQ(lines, (QStringList{" aa ", " bb ", " cc "}));

    Decoder rowZero;
    rowZero.feed({0x14, 0x25, 'X', 'Y', 0x14, 0x2D});  // text only in row 0, then CR: all rows emptied
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(rowZero.row(i), "") << i;
    }
}

TEST(CEA608Decoder, PaddingOfEmittedLines)
{
    Decoder d;
    d.feed({0x14, 0x29, 0x14, 0x70, ' ', ' ', 'A', 'B'});  // RDC (paint-on), PAC, two spaces, AB
    EXPECT_EQ(d.state(), QVTCaptionReaderCEA608::PaintOn);
    EXPECT_EQ(d.captions().back()->lines[0].text.string(), "   AB ");
}

TEST(CEA608Decoder, ErasedCaptionStaysErasedWhenRollUpStarts)
{
    Decoder d;
    d.feed({0x14, 0x70, 'H', 'I', 0x14, 0x2F});  // pop-on caption shown at frame 3
    d.feed({0x14, 0x2C}, frames(30));             // erased at frame 31
    d.feed({0x14, 0x25, 0x14, 0x70, 'A', 'B'}, frames(120));
    ASSERT_GE(d.captions().size(), 2u);
    EXPECT_EQ(d.captions()[0]->endTime, frames(31));
}

TEST(CEA608Decoder, FinishStreamKeepsTheCaptionOnShowForSixteenSeconds)
{
    Decoder d;
    d.feed({0x14, 0x70, 'H', 'I', 0x14, 0x2F}, MediaTime::make(10, 1));
    EXPECT_TRUE(d.captions().empty());  // on show, not yet ended
    d.finishStream();
    ASSERT_EQ(d.captions().size(), 1u);
    EXPECT_EQ(d.captions()[0]->startTime, frames(3, MediaTime::make(10, 1)));
    EXPECT_EQ(d.captions()[0]->endTime, frames(3, MediaTime::make(26, 1)));
}

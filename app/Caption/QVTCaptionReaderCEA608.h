#pragma once
// Decoder of CEA-608 (line 21) caption byte pairs into timed captions. It keeps the two caption
// memories, 16 rows each: text is always written into the non-displayed memory; in pop-on mode
// an end-of-caption code swaps the memories, in roll-up and paint-on modes the non-displayed
// memory is itself on show and every printable pair emits a caption.
//
// The decoder clock advances 1001/30000 s (one frame at 29.97 fps) for every pair. The SCC and
// embedded-track readers feed it; all decoding happens while they initialise.

#include "Caption/QVTCaptionReader.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

class QVTCaptionReaderCEA608 : public QVTCaptionReader {
public:
    enum State : std::int32_t { PopOn = 0, PaintOn = 1, RollUp = 2 };
    using Row = std::shared_ptr<AttributedString>;
    using Rows = std::array<Row, 16>;

    QVTCaptionReaderCEA608();

    // Decodes the pairs of `bytes` (an odd last byte is ignored), the clock starting at `start`.
    // The cursor row starts at 0 in every call. A control pair that repeats the pair just before
    // it (also across calls) is the transmitted copy and is skipped; a third copy acts again.
    void parseBytes(const std::uint8_t* bytes, std::size_t length, const MediaTime& start);

    void startCurrentCaption(const Rows& rows);
    void endCurrentCaption();
    void flipBuffers();
    void clearOffscreenBuffer();
    void clearOnscreenBuffer();
    // Caps the last caption's end at the earlier of its start + 16 s and t.
    void extendLastCaptionTo16SecondsOr(const MediaTime& t);
    void flushBuffer();
    void rollUp();
    void resetAttributes();
    void insertSpaceInto(AttributedString& row, qsizetype index) const;
    void backspaceOnRow(AttributedString& row) const;
    void appendText(const QString& text, AttributedString& row) const;
    // End of the byte stream: the caption still on show is closed and kept, and the last
    // caption lasts 16 s from its start.
    void finishStream();

    State state() const { return state_; }
    const Rows& offscreenBuffer() const { return offscreen_; }
    const Rows& onscreenBuffer() const { return onscreen_; }
    std::uint64_t rollUpRows() const { return rollUpRows_; }
    const std::optional<TextAttributes>& currentAttributes() const { return currentAttributes_; }
    MediaTime decoderTime() const { return decoderTime_; }

    // Pure character and code tables.
    static std::uint8_t removeParity(std::uint8_t byte) { return byte & 0x7F; }
    static QString convertToUTF8(std::uint8_t byte);
    static bool isControlCode(std::uint8_t byte) { return byte < 0x20; }
    static bool isPreambleAddressCode(std::uint8_t b1, std::uint8_t b2)
    {
        return b1 >= 0x10 && b1 <= 0x1F && b2 >= 0x40 && b2 <= 0x7F;
    }
    struct Preamble {
        std::uint8_t row = 0;
        bool italic = false;
        bool underline = false;
        std::int32_t indent = 0;
        KavioColor color{1, 1, 1, 1};
    };
    static Preamble decodePreambleAddressCode(std::uint8_t b1, std::uint8_t b2);
    static QString decodeSpecialCharacter(std::uint8_t b1, std::uint8_t b2);
    static QString decodeExtendedCharacter_5_6_7(std::uint8_t b1, std::uint8_t b2);
    static QString decodeExtendedCharacter_8_9_10(std::uint8_t b1, std::uint8_t b2);

private:
    static Rows emptyRows();
    void controlCode(std::uint8_t b1, std::uint8_t b2, AttributedString& target);
    void unknownControlCode(std::uint8_t b1, std::uint8_t b2) const;

    State state_ = PopOn;
    Rows offscreen_;
    Rows onscreen_;
    std::uint64_t rollUpRows_ = 0;
    std::optional<TextAttributes> currentAttributes_;
    std::optional<Rows> currentCaption_;
    MediaTime decoderTime_ = MediaTime::zero();
    MediaTime currentCaptionStartTime_ = MediaTime::zero();
    int lastControlCode_ = -1;  // the previous pair when it was a control code, else -1
};

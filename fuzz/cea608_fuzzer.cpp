// Fuzzes the CEA-608 decoder with runs of byte pairs, as the SCC and embedded-track readers feed
// it, then ends the stream and looks captions up.
//
// Input: records of [frames][pair count][pairs...]. A run starts `frames` frames after the
// previous one (before it when the high bit is set, as a file with times out of order would);
// a short last record is fed as far as it goes.

#include "FuzzSupport.h"
#include "Caption/QVTCaptionReaderCEA608.h"

#include <algorithm>

namespace {

class Decoder : public QVTCaptionReaderCEA608 {
public:
    bool initWithMovieFile(const QUrl&, const QString&, long) override { return false; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Decoder decoder;
    decoder.setFontSizeToUse(20);
    std::int64_t frame = 0;
    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::uint8_t step = data[at];
        frame += (step & 0x80) ? -std::int64_t(step & 0x7F) : std::int64_t(step);
        const std::size_t length = std::min<std::size_t>(std::size_t(data[at + 1]) * 2, size - at - 2);
        decoder.parseBytes(data + at + 2, length, MediaTime::make(frame * 1001, 30000));
        at += 2 + length;
    }
    decoder.finishStream();
    fuzz::exerciseLookups(decoder);
    return 0;
}

// Fuzzes the loopback NDI message reader as a receiver's or sender's socket feeds it: the input
// arrives in pieces of [length] bytes. Every message that comes out must describe memory it
// owns, as large as its header says.

#include "FuzzInput.h"
#include "NdiLoopbackCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    namespace Codec = NdiLoopbackCodec;
    fuzz::Input input(data, size);
    Codec::Reader reader;
    while (!input.atEnd() && !reader.failed()) {
        const auto piece = input.take(std::size_t(input.byte()) * 16 + 1);
        reader.append(piece.data(), piece.size());
        while (auto message = reader.next()) {
            if (auto* video = std::get_if<Codec::DecodedVideo>(&*message)) {
                const auto& f = video->frame;
                const std::size_t rows = f.fourCC == ndi::kFourCC_P216 ? std::size_t(f.height) * 2 : std::size_t(f.height);
                if (f.data != video->bytes.data() || std::size_t(f.lineStride) * rows != video->bytes.size())
                    fuzz::brokenPromise();
            } else if (auto* audio = std::get_if<Codec::DecodedAudio>(&*message)) {
                const auto& f = audio->frame;
                if (f.data != audio->samples.data()
                    || std::size_t(f.channels) * std::size_t(f.samples) != audio->samples.size()
                    || f.channelStride != f.samples * 4)
                    fuzz::brokenPromise();
            }
        }
    }
    return 0;
}

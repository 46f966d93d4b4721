// Fuzzes the Hap section parser with packets, as the Hap frame source hands them over with its
// track's subtype and picture size.
//
// Input: [subtype selector][width: 2 bytes][height: 2 bytes][packet...].

#include "FuzzInput.h"
#include "HapDecoderFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static constexpr std::uint32_t kSubTypes[] = {fourCC("Hap1"), fourCC("Hap5"), fourCC("HapY"), fourCC("HapM"),
                                                  fourCC("HapA")};
    fuzz::Input input(data, size);
    const std::uint32_t subType = kSubTypes[input.byte() % std::size(kSubTypes)];
    const int width = input.u16();
    const int height = input.u16();
    const auto packet = input.rest();
    const HapFrameRef frame = HapDecoderFrame::decode(packet.data(), packet.size(), subType, width, height);
    if (frame->isValid() != (frame->dxtPlaneCount() > 0))
        fuzz::brokenPromise();
    for (int plane = 0; plane < frame->dxtPlaneCount(); ++plane) {
        const HapPlaneFormat format = hapPlaneFormat(frame->dxtPixelFormat(plane), plane);
        const HapSize dxt = frame->dxtImgSize();
        if (frame->dxtDataSize(plane) != std::size_t(format.bitsPerPixel) * std::size_t(dxt.width) * std::size_t(dxt.height) / 8)
            fuzz::brokenPromise();
    }
    return 0;
}

// Fuzzes the SubRip reader with whole files, then looks captions up.

#include "FuzzSupport.h"
#include "Caption/QVTCaptionReaderSRT.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::readText<QVTCaptionReaderSRT>(data, size);
    return 0;
}

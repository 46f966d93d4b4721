// Fuzzes the Scenarist reader with whole files, then looks captions up.

#include "FuzzSupport.h"
#include "Caption/QVTCaptionReaderSCC.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::readText<QVTCaptionReaderSCC>(data, size);
    return 0;
}

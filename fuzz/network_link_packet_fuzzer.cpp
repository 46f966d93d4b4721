// Fuzzes the network-link packet reader with datagrams, as the master clock reads them.

#include "FuzzInput.h"
#include "NMCPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string error;
    const auto packet = NMC_Packet::fromBytes(std::span<const std::uint8_t>(data, size), &error);
    if (!packet) {
        if (error.empty())
            fuzz::brokenPromise();
        return 0;
    }
    packet->timeString();
    return 0;
}

// Fuzzes the network-link packet reader with datagrams, as the master clock reads them, and the
// writer with what it read: a packet read back from its own bytes is the same packet.

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
    const auto again = NMC_Packet::fromBytes(packet->toBytes());
    if (!again || again->command != packet->command || again->fps != packet->fps || again->cue != packet->cue ||
        again->timeString() != packet->timeString())
        fuzz::brokenPromise();
    const auto fromText = NMC_Packet::fromTimeText(packet->command, packet->timeString(), packet->fps, packet->cue);
    if (!fromText || fromText->toBytes() != packet->toBytes())
        fuzz::brokenPromise();
    return 0;
}

// Fuzzes the Art-Net codec with datagrams, as the receiving node reads them: the OpCode, then an
// ArtDmx applied to the slot cache, or an ArtPollReply searched for output ports.

#include "ArtNetPacket.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray datagram(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto opCode = ArtNet::opCodeOf(datagram);
    if (!opCode)
        return 0;
    if (*opCode == ArtNet::OpDmx) {
        const auto dmx = ArtNet::parseArtDmx(datagram);
        if (!dmx)
            return 0;
        if (dmx->slotValues.size() > std::min<qsizetype>(dmx->length, ArtNet::kDmxSlots))
            fuzz::brokenPromise();
        std::array<std::uint8_t, ArtNet::kDmxSlots> cache{};
        ArtNet::applyDmxSlots(dmx->slotValues, cache, [](int slot, int value) {
            if (slot < 1 || slot > ArtNet::kDmxSlots || value < 0 || value > 255)
                fuzz::brokenPromise();
        });
    } else if (*opCode == ArtNet::OpPollReply) {
        const auto reply = ArtNet::ArtNet_Packet_ArtPollReply::decode(datagram);
        ArtNet::outputPortsOfPollReply(reply, QStringLiteral("Kavio"));
        if (ArtNet::ArtNet_Packet_ArtPollReply::decode(reply.encode()).encode() != reply.encode())
            fuzz::brokenPromise();
    }
    return 0;
}

// Fuzzes the MIDI input parser with a stream of packets, as a receiver node feeds them: each
// packet is [length][bytes], and the SysEx gathered so far carries over from packet to packet.

#include "FuzzInput.h"
#include "MIDIMessageCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input input(data, size);
    std::vector<std::uint8_t> sysexBuffer;
    std::uint64_t timeStamp = 0;
    while (!input.atEnd()) {
        const auto packet = input.take(input.byte());
        MIDIMessageCodec::decodePacket(packet, timeStamp++, sysexBuffer);
        if (sysexBuffer.size() > MIDIMessageCodec::kMaxSysexLength)
            fuzz::brokenPromise();
    }
    return 0;
}

// Fuzzes the switcher protocol's reader with datagrams as the session receives them: the
// datagram, then each command block through its payload reader; a datagram read whole writes
// back to bytes that read the same, and the receiving side of the reliable link takes its packet id.

#include "SwitcherProtocol.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace switcherwire;
    const std::span<const std::uint8_t> bytes(data, size);
    const auto datagram = parse(bytes);
    if (!datagram)
        return 0;
    for (const Command& command : datagram->commands) {
        (void)readVersion(command.payload);
        (void)readProductName(command.payload);
        (void)readMixEffectCount(command.payload);
        (void)readSourceOnBlock(command.payload);
        (void)readBlock(command.payload);
        if (const auto input = readInputProperties(command.payload); input && input->longName.size() > 20)
            fuzz::brokenPromise();
        if (const auto tally = readTally(command.payload); tally && tally->size() * 3 + 2 > command.payload.size())
            fuzz::brokenPromise();
    }
    const Header& header = datagram->header;
    if (!(header.flags & kHello) && (header.flags & kReliable) && !datagram->commandsCut) {
        // Unused fields are not kept, so the promise is about what was read.
        const auto again = parse(encode(header, datagram->commands));
        if (!again || !(again->header == header) || again->commands != datagram->commands)
            fuzz::brokenPromise();
    }
    ReliableLink link;
    (void)link.receive(header.packetId);
    link.acknowledged(header.ackId);
    link.resendRequested(header.resendId);
    return 0;
}

#pragma once
// Checks on raw OSC packets made before they are parsed. Pure functions over bytes.

#include <cstddef>

namespace QVTOSCPacket {

// Deepest bundle nesting in the packet: 0 for a plain message, 1 for a bundle of messages, 2
// for a bundle holding a bundle, and so on. Looks no deeper than `cap` levels: a deeper packet
// answers cap + 1. Elements whose size runs past their bundle are not followed (the parser
// rejects such packets anyway).
int bundleNestingDepth(const char* data, std::size_t size, int cap);

}  // namespace QVTOSCPacket

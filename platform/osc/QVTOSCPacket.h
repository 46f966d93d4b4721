#pragma once
// Checks on raw OSC datagrams made before liblo parses them. Pure functions over bytes.
//
// liblo 0.31 trusts parts of a datagram it has not measured (it reads past the end for a blob
// argument without its size and for an empty last bundle element), so every datagram is
// checked here first, in full, and liblo only ever sees well-formed ones.

#include <cstddef>

namespace QVTOSCPacket {

enum class Verdict {
    WellFormed,
    Malformed,  // not OSC that liblo would take, or bytes it would read past the datagram for
    TooDeep,    // well-formed as far as checked, but bundles nest deeper than allowed
};

// Checks one datagram: a message (an address string, a type-tag string starting with ',', then
// each argument: i f c m 4 bytes, h t d 8 bytes, s S a string, b a size then that many bytes,
// T F N I none) or a bundle ("#bundle", an 8-byte time tag, then elements, each a size that is
// a positive multiple of 4 and a message or bundle of exactly that size). Strings end with a
// zero byte and are padded with zeros to a multiple of 4, and so are blobs;
// nothing may follow the last argument or element. A plain message is at depth 0, a bundle of
// messages 1, and so on; bundles deeper than `maxBundleDepth` are not looked into.
Verdict check(const char* data, std::size_t size, int maxBundleDepth);

}  // namespace QVTOSCPacket

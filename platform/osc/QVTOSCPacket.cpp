#include "QVTOSCPacket.h"

#include <cstdint>
#include <cstring>

namespace {

// "#bundle" with its terminator, then an 8-byte time tag.
constexpr char kBundleTag[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', '\0'};
constexpr std::size_t kBundleHeader = 16;

bool isBundle(const char* data, std::size_t size)
{
    return size >= kBundleHeader && std::memcmp(data, kBundleTag, sizeof kBundleTag) == 0;
}

std::uint32_t readSize(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
}

}  // namespace

int QVTOSCPacket::bundleNestingDepth(const char* data, std::size_t size, int cap)
{
    if (!isBundle(data, size))
        return 0;
    if (cap <= 0)
        return 1;
    int deepest = 0;
    std::size_t pos = kBundleHeader;
    while (pos + 4 <= size) {
        const std::uint32_t length = readSize(data + pos);
        pos += 4;
        if (length > size - pos)
            break;
        const int inner = bundleNestingDepth(data + pos, length, cap - 1);
        if (inner > deepest)
            deepest = inner;
        pos += length;
    }
    return 1 + deepest;
}

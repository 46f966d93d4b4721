#include "QVTOSCPacket.h"

#include <cstdint>
#include <cstring>

namespace {

using QVTOSCPacket::Verdict;

// "#bundle" with its terminator, then an 8-byte time tag.
constexpr char kBundleTag[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', '\0'};
constexpr std::size_t kBundleHeader = 16;

std::uint32_t readSize(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
}

// Steps `pos` over a zero-terminated string padded with zeros to a multiple of 4; false when it
// does not end, padded, inside [pos, size).
bool skipString(const char* data, std::size_t size, std::size_t& pos)
{
    const void* end = std::memchr(data + pos, '\0', size - pos);
    if (!end)
        return false;
    std::size_t next = std::size_t(static_cast<const char*>(end) - data) + 1;
    for (; next % 4; ++next) {
        if (next >= size || data[next] != '\0')
            return false;
    }
    pos = next;
    return true;
}

// Steps `pos` over `n` bytes; false when fewer are left.
bool skip(std::size_t size, std::size_t& pos, std::size_t n)
{
    if (n > size - pos)
        return false;
    pos += n;
    return true;
}

// Steps `pos` over a blob: its size, then that many bytes padded with zeros to a multiple of 4.
bool skipBlob(const char* data, std::size_t size, std::size_t& pos)
{
    if (!skip(size, pos, 4))
        return false;
    const std::uint32_t length = readSize(data + pos - 4);
    const std::size_t bytesAt = pos;
    if (length > 0x7fffffff || !skip(size, pos, (std::size_t(length) + 3) & ~std::size_t(3)))
        return false;
    for (std::size_t pad = bytesAt + length; pad < pos; ++pad) {
        if (data[pad] != '\0')
            return false;
    }
    return true;
}

bool messageIsWellFormed(const char* data, std::size_t size)
{
    std::size_t pos = 0;
    if (size == 0 || !skipString(data, size, pos))
        return false;
    const std::size_t typesAt = pos;
    if (pos >= size || data[pos] != ',' || !skipString(data, size, pos))
        return false;
    for (const char* type = data + typesAt + 1; *type; ++type) {
        bool fits = true;
        switch (*type) {
        case 'i': case 'f': case 'c': case 'm': fits = skip(size, pos, 4); break;
        case 'h': case 't': case 'd': fits = skip(size, pos, 8); break;
        case 's': case 'S': fits = pos < size && skipString(data, size, pos); break;
        case 'b': fits = skipBlob(data, size, pos); break;
        case 'T': case 'F': case 'N': case 'I': break;
        default: return false;
        }
        if (!fits)
            return false;
    }
    return pos == size;
}

Verdict checkAt(const char* data, std::size_t size, int depthLeft)
{
    if (size < sizeof kBundleTag || std::memcmp(data, kBundleTag, sizeof kBundleTag) != 0)
        return messageIsWellFormed(data, size) ? Verdict::WellFormed : Verdict::Malformed;
    if (size < kBundleHeader)
        return Verdict::Malformed;
    if (depthLeft <= 0)
        return Verdict::TooDeep;
    std::size_t pos = kBundleHeader;
    while (pos < size) {
        if (size - pos < 4)
            return Verdict::Malformed;
        const std::uint32_t length = readSize(data + pos);
        pos += 4;
        if (length == 0 || length % 4 || length > size - pos)
            return Verdict::Malformed;
        const Verdict inner = checkAt(data + pos, length, depthLeft - 1);
        if (inner != Verdict::WellFormed)
            return inner;
        pos += length;
    }
    return Verdict::WellFormed;
}

}  // namespace

Verdict QVTOSCPacket::check(const char* data, std::size_t size, int maxBundleDepth)
{
    return checkAt(data, size, maxBundleDepth);
}

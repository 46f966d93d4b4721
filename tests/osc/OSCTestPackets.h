#pragma once
// OSC packets written out by hand, so that tests can also make broken ones.

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<char>;

inline void putString(Bytes& b, const std::string& s)
{
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
    while (b.size() % 4)
        b.push_back(0);
}
inline void put32(Bytes& b, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back(char((v >> shift) & 0xff));
}
inline void put64(Bytes& b, uint64_t v)
{
    put32(b, uint32_t(v >> 32));
    put32(b, uint32_t(v));
}
inline Bytes message(const std::string& address, int32_t value)
{
    Bytes b;
    putString(b, address);
    putString(b, ",i");
    put32(b, uint32_t(value));
    return b;
}
inline Bytes bundleAround(const Bytes& content)
{
    Bytes b;
    putString(b, "#bundle");
    put64(b, 1);  // "immediately"
    put32(b, uint32_t(content.size()));
    b.insert(b.end(), content.begin(), content.end());
    return b;
}

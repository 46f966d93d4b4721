#include "OSCTestPackets.h"
#include "QVTOSCPacket.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using QVTOSCPacket::Verdict;

Bytes withArguments(const std::string& types, const std::function<void(Bytes&)>& arguments)
{
    Bytes b;
    putString(b, "/a");
    putString(b, types);
    arguments(b);
    return b;
}

Bytes bundleOf(const std::vector<Bytes>& elements)
{
    Bytes b;
    putString(b, "#bundle");
    put64(b, 1);
    for (const Bytes& e : elements) {
        put32(b, uint32_t(e.size()));
        b.insert(b.end(), e.begin(), e.end());
    }
    return b;
}

Bytes nested(Bytes packet, int levels)
{
    for (int i = 0; i < levels; ++i)
        packet = bundleAround(packet);
    return packet;
}

}  // namespace

TEST(QVTOSCPacket, ChecksEveryPartOfADatagramBeforeLibloReadsIt)
{
    const Bytes plain = message("/a", 1);
    Bytes every = withArguments(",ifcmhtdsSbTFNI", [](Bytes& b) {
        for (int i = 0; i < 4; ++i) put32(b, 1);
        for (int i = 0; i < 3; ++i) put64(b, 1);
        putString(b, "s");
        putString(b, "S");
        put32(b, 5);
        b.insert(b.end(), {'b', 'l', 'o', 'b', '!', 0, 0, 0});
    });
    Bytes lyingElement = bundleAround(plain);
    lyingElement[19] = 100;  // element size past the end
    Bytes unpaddedAddress{'/', 'a', 0};
    putString(unpaddedAddress, ",i");
    put32(unpaddedAddress, 1);
    Bytes dirtyPadding = plain;
    dirtyPadding[3] = 'x';
    Bytes trailing = plain;
    trailing.push_back(0);

    struct Case {
        const char* what;
        Bytes packet;
        Verdict verdict;
    } cases[] = {
        {"message", plain, Verdict::WellFormed},
        {"every argument type", every, Verdict::WellFormed},
        {"no arguments", withArguments(",", [](Bytes&) {}), Verdict::WellFormed},
        {"empty blob", withArguments(",b", [](Bytes& b) { put32(b, 0); }), Verdict::WellFormed},
        {"empty bundle", bundleOf({}), Verdict::WellFormed},
        {"bundle of two", bundleOf({plain, message("/b", 2)}), Verdict::WellFormed},
        {"eight levels", nested(plain, 8), Verdict::WellFormed},
        {"nine levels", nested(plain, 9), Verdict::TooDeep},
        // liblo 0.31 read 4 bytes past the datagram for this one ...
        {"blob without its size", withArguments(",b", [](Bytes&) {}), Verdict::Malformed},
        // ... and up to 8 past it for these.
        {"empty last bundle element", bundleOf({plain, {}}), Verdict::Malformed},
        {"only an empty element", bundleOf({{}}), Verdict::Malformed},
        {"empty datagram", {}, Verdict::Malformed},
        {"address only", [] { Bytes b; putString(b, "/a"); return b; }(), Verdict::Malformed},
        {"type tags without comma", withArguments("i", [](Bytes& b) { put32(b, 1); }), Verdict::Malformed},
        {"address not padded", unpaddedAddress, Verdict::Malformed},
        {"padding not zero", dirtyPadding, Verdict::Malformed},
        {"bytes after the arguments", trailing, Verdict::Malformed},
        {"argument cut short", withArguments(",h", [](Bytes& b) { put32(b, 1); }), Verdict::Malformed},
        {"string without terminator", withArguments(",s", [](Bytes& b) { b.insert(b.end(), {'a', 'b', 'c', 'd'}); }), Verdict::Malformed},
        {"blob past the end", withArguments(",b", [](Bytes& b) { put32(b, 0x7fffffff); }), Verdict::Malformed},
        {"negative blob size", withArguments(",b", [](Bytes& b) { put32(b, 0xfffffffc); }), Verdict::Malformed},
        {"blob not padded", withArguments(",b", [](Bytes& b) { put32(b, 1); b.push_back('x'); }), Verdict::Malformed},
        {"blob padding not zero", withArguments(",b", [](Bytes& b) { put32(b, 1); b.insert(b.end(), {'x', 0, 1, 0}); }), Verdict::Malformed},
        {"unknown type", withArguments(",r", [](Bytes& b) { put32(b, 1); }), Verdict::Malformed},
        {"element past the end", lyingElement, Verdict::Malformed},
        {"element size not a multiple of 4", [&] { Bytes b = bundleOf({plain}); b[19] -= 2; b.resize(b.size() - 2); return b; }(), Verdict::Malformed},
        {"bundle without its time tag", [] { Bytes b; putString(b, "#bundle"); return b; }(), Verdict::Malformed},
        {"malformed message inside a bundle", bundleOf({plain, withArguments(",i", [](Bytes&) {})}), Verdict::Malformed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QVTOSCPacket::check(c.packet.data(), c.packet.size(), 8), c.verdict) << c.what;
    EXPECT_EQ(QVTOSCPacket::check(plain.data(), plain.size(), 0), Verdict::WellFormed);
    EXPECT_EQ(QVTOSCPacket::check(bundleOf({}).data(), 16, 0), Verdict::TooDeep);
}

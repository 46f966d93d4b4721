#include "OSCTestPackets.h"
#include "QVTOSCPacket.h"

#include <gtest/gtest.h>

TEST(QVTOSCPacket, MeasuresBundleNestingUpToTheCap)
{
    const Bytes plain = message("/a", 1);
    const Bytes one = bundleAround(plain);
    const Bytes three = bundleAround(bundleAround(one));
    Bytes lying = one;
    lying[19] = 100;  // element size past the end: not followed
    struct Case {
        const char* what;
        const Bytes& packet;
        int cap;
        int depth;
    } cases[] = {
        {"message", plain, 8, 0},  {"bundle", one, 8, 1},     {"three levels", three, 8, 3},
        {"cut at cap", three, 2, 3}, {"cap zero", three, 0, 1}, {"broken element", lying, 8, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QVTOSCPacket::bundleNestingDepth(c.packet.data(), c.packet.size(), c.cap), c.depth)
            << c.what;
    EXPECT_EQ(QVTOSCPacket::bundleNestingDepth("#bundle", 8, 8), 0);  // too short for a bundle
}

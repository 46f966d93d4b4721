#include "Zeroconf.h"

#include <gtest/gtest.h>

TEST(Zeroconf, TheSystemInstanceWorksWithOrWithoutItsDaemon)
{
    auto zeroconf = Zeroconf::system();
    ASSERT_TRUE(zeroconf);
    const auto token = zeroconf->publish("kavio-test", "_osc._udp", 45999);
    if (token == 0)
        GTEST_SKIP() << "no zeroconf daemon: publishing is off, as intended";
    zeroconf->withdraw(token);
}

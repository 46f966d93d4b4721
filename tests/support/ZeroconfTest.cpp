#include "Zeroconf.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>

TEST(Zeroconf, TheSystemInstanceWorksWithOrWithoutItsDaemon)
{
    auto zeroconf = Zeroconf::system();
    ASSERT_TRUE(zeroconf);
    const auto token = zeroconf->publish("kavio-test", "_osc._udp", 45999);
    if (token == 0)
        GTEST_SKIP() << "no zeroconf daemon: publishing is off, as intended";
    zeroconf->withdraw(token);
}

TEST(Zeroconf, BrowsingFindsAPublishedServiceWithItsAddressesAndTxtRecords)
{
    auto zeroconf = Zeroconf::system();
    const QString type = QStringLiteral("_kaviotest._udp");
    const QString name = QStringLiteral("kavio-test-%1").arg(::getpid());
    const auto token = zeroconf->publish(name, type, 45998, {{"version", "1"}, {"role", "test"}});
    if (token == 0)
        GTEST_SKIP() << "no zeroconf daemon";
    std::mutex mutex;
    std::condition_variable found;
    std::optional<Zeroconf::Service> mine;
    zeroconf->browse(type, [&](const std::vector<Zeroconf::Service>& services) {
        std::lock_guard lock(mutex);
        for (const auto& s : services)
            if (s.name == name)
                mine = s;
        found.notify_all();
    });
    std::unique_lock lock(mutex);
    found.wait_for(lock, std::chrono::seconds(30), [&] { return mine.has_value(); });
    zeroconf->withdraw(token);
    if (!mine)
        GTEST_SKIP() << "the daemon publishes on no interface this process can resolve";
    EXPECT_EQ(mine->port, 45998);
    ASSERT_FALSE(mine->addresses.empty());
    for (const auto& a : mine->addresses)
        EXPECT_TRUE(a.family == AF_INET || a.family == AF_INET6) << a.text.toStdString();
    auto txt = mine->txt;
    std::sort(txt.begin(), txt.end());
    EXPECT_EQ(txt, (Zeroconf::TxtRecords{{"role", "test"}, {"version", "1"}}));
}

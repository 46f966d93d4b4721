// Switcher discovery over a zeroconf stand-in, and the library's string helpers.

#include "FakeZeroconf.h"
#include "Vistrel.h"
#include "VistrelDeviceBrowser.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace {

const QString kTcp = QStringLiteral("_blackmagic._tcp");
const QString kUdp = QStringLiteral("_switcher_ctrl._udp");

Zeroconf::Service switcher(const QString& name, std::vector<Zeroconf::Address> addresses, Zeroconf::TxtRecords txt)
{
    return Zeroconf::Service{name, QString(), 9910, std::move(addresses), std::move(txt)};
}

Zeroconf::Address v4(const char* text)
{
    return {AF_INET, QString::fromLatin1(text)};
}

using Row = std::tuple<QString, QString, QString, QString>;  // id, product, custom name, ip

std::vector<Row> rows(const std::vector<std::shared_ptr<QVTAtemDeviceInfo>>& devices)
{
    std::vector<Row> out;
    for (const auto& device : devices)
        out.emplace_back(device->deviceID(), device->productName(), device->customName(), device->ip());
    return out;
}

class VistrelDeviceBrowserTest : public ::testing::Test {
protected:
    VistrelDeviceBrowserTest()
    {
        observer_ = NotificationCenter::defaultCenter().addObserver(
            this, VistrelNetworkDevicesChangedNotification, nullptr, [this](const Notification&) { ++posts_; });
    }
    ~VistrelDeviceBrowserTest() override { NotificationCenter::defaultCenter().removeObserver(observer_); }

    // Announces, then waits until the list has `expected` records.
    void announce(const QString& type, const std::vector<Zeroconf::Service>& services, size_t expected)
    {
        zeroconf_->announce(type, services);
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return browser_.devices().size() == expected; }, 30.0));
        DispatchQueue::drainMain();
    }

    std::shared_ptr<FakeZeroconf> zeroconf_ = std::make_shared<FakeZeroconf>();
    DispatchQueue queue_{"VistrelTestQueue"};
    VistrelDeviceBrowser browser_{zeroconf_, queue_};
    std::atomic<int> posts_{0};
    NotificationCenter::Token observer_ = 0;
};

}  // namespace

TEST_F(VistrelDeviceBrowserTest, ListsAcceptedServicesPerIPv4AddressAndOncePerIdInNetworkDevices)
{
    const Zeroconf::TxtRecords studio = {{"unique id", "A1"}, {"name", "Studio 4K"}, {"class", "AtemSwitcher"}};
    announce(kTcp,
             {switcher("Studio", {v4("10.0.0.5"), {AF_INET6, "fe80::1"}, v4("10.0.1.5")}, studio),
              switcher("Unnamed", {v4("10.0.0.6")}, {{"unique id", "B2"}}),
              switcher("Empty class", {v4("10.0.0.7")}, {{"unique id", "C3"}, {"class", ""}}),
              switcher("Recorder", {v4("10.0.0.8")}, {{"unique id", "D4"}, {"class", "HyperDeck"}}),
              switcher("No id", {v4("10.0.0.9")}, {{"name", "Mini"}}),
              switcher("Cut", {v4("10.0.0.10")}, {{"unique id", QString::fromUtf8("E5\0tail", 7)}}),
              switcher("Unresolved", {}, {{"unique id", "F6"}})},
             5);
    EXPECT_EQ(rows(browser_.devices()),
              (std::vector<Row>{{"A1", "Studio 4K", "Studio", "10.0.0.5"},
                                {"A1", "Studio 4K", "Studio", "10.0.1.5"},
                                {"B2", "", "Unnamed", "10.0.0.6"},
                                {"C3", "", "Empty class", "10.0.0.7"},
                                {"E5", "", "Cut", "10.0.0.10"}}));
    EXPECT_EQ(posts_, 5);

    // The same switcher under the other type stands in the list again, but once in networkDevices,
    // as its earliest record.
    announce(kUdp, {switcher("Studio", {v4("10.0.2.5")}, studio)}, 6);
    const auto unique = rows(browser_.networkDevices());
    EXPECT_EQ(unique.size(), 4u);
    EXPECT_NE(std::find(unique.begin(), unique.end(), Row{"A1", "Studio 4K", "Studio", "10.0.0.5"}), unique.end());

    // A service that goes takes every record of its name, whatever the type they came by.
    announce(kUdp, {}, 3);
    EXPECT_EQ(rows(browser_.devices()),
              (std::vector<Row>{{"B2", "", "Unnamed", "10.0.0.6"},
                                {"C3", "", "Empty class", "10.0.0.7"},
                                {"E5", "", "Cut", "10.0.0.10"}}));
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return posts_ == 7; }, 30.0));

    // A service resolved later (it had no address yet) is listed then.
    announce(kTcp,
             {switcher("Unnamed", {v4("10.0.0.6")}, {{"unique id", "B2"}}),
              switcher("Empty class", {v4("10.0.0.7")}, {{"unique id", "C3"}, {"class", ""}}),
              switcher("Cut", {v4("10.0.0.10")}, {{"unique id", QString::fromUtf8("E5\0tail", 7)}}),
              switcher("Unresolved", {v4("10.0.0.11")}, {{"unique id", "F6"}})},
             4);
    EXPECT_EQ(std::get<0>(rows(browser_.devices()).back()), "F6");
}

TEST(VistrelStrings, FourCCAndUnterminatedData)
{
    EXPECT_EQ(stringWithFourCC(0x61626364), QStringLiteral("abcd"));
    EXPECT_EQ(stringWithFourCC(0x61620064), QStringLiteral("ab"));
    EXPECT_EQ(stringWithFourCC(0x6D656F20), QStringLiteral("meo "));
    EXPECT_EQ(stringWithFourCC(0xFF616263), std::nullopt);
    const QByteArray cut("AtemSwitcher\0junk", 17);
    EXPECT_EQ(stringWithUnterminatedData(&cut), QStringLiteral("AtemSwitcher"));
    EXPECT_EQ(stringWithUnterminatedData(nullptr), QStringLiteral(""));
    const QByteArray invalid("\xC3\x28", 2);
    EXPECT_EQ(stringWithUnterminatedData(&invalid), std::nullopt);
}

TEST(VistrelDeviceBrowser, FindsASwitcherPublishedThroughTheZeroconfDaemon)
{
    const auto zeroconf = Zeroconf::system();
    const QString id = QStringLiteral("kavio-test-%1").arg(::getpid());
    const auto token = zeroconf->publish(id, QStringLiteral("_switcher_ctrl._udp"), 45997,
                                         {{"unique id", id}, {"class", "AtemSwitcher"}, {"name", "Test Switcher"}});
    if (token == 0)
        GTEST_SKIP() << "no zeroconf daemon";
    DispatchQueue queue("VistrelAvahiTest");
    VistrelDeviceBrowser browser(zeroconf, queue);
    const auto mine = [&] {
        const auto devices = browser.devices();
        return std::count_if(devices.begin(), devices.end(), [&](const auto& device) { return device->deviceID() == id; });
    };
    const bool found = DispatchQueue::runMainUntil([&] { return mine() > 0; }, 30.0);
    zeroconf->withdraw(token);
    if (!found)
        GTEST_SKIP() << "the daemon publishes on no IPv4 interface this process can resolve";
    for (const auto& device : browser.devices()) {
        if (device->deviceID() == id) {
            EXPECT_EQ(device->customName(), id);
            EXPECT_EQ(device->productName(), QStringLiteral("Test Switcher"));
            EXPECT_FALSE(device->ip().contains(QLatin1Char(':')));
        }
    }
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return mine() == 0; }, 30.0));
}

#include "FakeZeroconf.h"
#include "QVTClockTestSupport.h"
#include "Remote/KavioNMCManager.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"

#include <sys/socket.h>

#include <gtest/gtest.h>

namespace {

using Service = Zeroconf::Service;

Service service(const QString& name, const QStringList& addresses, int port = 5000)
{
    Service s{name, {}, port};
    for (const QString& a : addresses) {
        s.addresses.push_back({a.contains(u':') ? AF_INET6 : AF_INET, a});
        if (s.host.isEmpty() && !a.contains(u':'))
            s.host = a;
    }
    return s;
}

// Runs the main queue until what is queued on it now has run.
void settle()
{
    bool done = false;
    DispatchQueue::main().async([&done] { done = true; });
    ASSERT_TRUE(DispatchQueue::runMainUntil([&done] { return done; }, 30.0));
}

struct Peer {
    explicit Peer(uint16_t port) : manager(zeroconf, port, [] { return QVariantMap(); }) { manager.startManager(); }
    void announce(const std::vector<Service>& services)
    {
        zeroconf->announce(services);
        settle();
    }
    std::shared_ptr<FakeZeroconf> zeroconf = std::make_shared<FakeZeroconf>();
    KavioNMCManager manager;
};

const QString kOther = QStringLiteral("Other : 10.0.0.2");
const QString kKavio = QStringLiteral("Kavio : 10.0.0.1");
const Service kOtherService = service("Other : desk", {"10.0.0.2"});
const Service kKavioService = service("Kavio : booth", {"10.0.0.1", "fe80::1"});

QStringList menuOf(const QStringList& masters)
{
    return QStringList{"Disabled", ""} + masters;
}

}  // namespace

TEST(KavioNMCMenu, EntriesAndTitlesOfResolvedServices)
{
    using KavioNMCMenu::Entry;
    const struct {
        const char* what;
        std::vector<Service> services;
        QStringList titles;
    } cases[] = {
        {"IPv4 and IPv6: one entry", {kKavioService}, {kKavio}},
        {"IPv6 only: none", {service("Kavio : v6", {"fe80::2", "2001:db8::1"})}, {}},
        {"no port: none", {service("Kavio : noport", {"10.0.0.3"}, 0)}, {}},
        {"two IPv4 addresses: two entries",
         {service("Kavio : two", {"10.0.0.5", "192.168.1.5"})},
         {"Kavio : 10.0.0.5", "Kavio : 192.168.1.5"}},
        {"sorted by service name, each title once",
         {kOtherService, kKavioService, service("Kavio : booth", {"10.0.0.1"})},
         {kKavio, kOther}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Entry> entries;
        for (const Service& s : c.services) {
            const auto e = KavioNMCMenu::entriesOfService(s);
            entries.insert(entries.end(), e.begin(), e.end());
        }
        EXPECT_EQ(KavioNMCMenu::masterTitles(entries), c.titles);
    }
    EXPECT_EQ(KavioNMCMenu::hostOfTitle("Kavio : a : 10.0.0.1"), "10.0.0.1");
    EXPECT_EQ(KavioNMCMenu::appOfTitle("Kavio : a : 10.0.0.1"), "Kavio");
}

TEST(KavioNMCManager, FollowsTheLastMasterFirstFoundThenMarksItMissingAndReconnects)
{
    Peer peer(9);
    EXPECT_EQ(peer.zeroconf->browsedType(), "_nmc._udp.");
    EXPECT_EQ(peer.manager.menu().titles, menuOf({}));
    EXPECT_FALSE(peer.manager.isFollowing());

    peer.announce({kOtherService, kKavioService});
    EXPECT_EQ(peer.manager.menu().titles, menuOf({kKavio, kOther}));
    EXPECT_EQ(peer.manager.menu().selected, kOther);
    EXPECT_TRUE(peer.manager.isFollowing());
    EXPECT_FALSE(peer.manager.isKavioBackup());

    peer.announce({kKavioService});
    EXPECT_EQ(peer.manager.menu().titles, menuOf({kKavio, kOther + " - DISCONNECTED"}));
    EXPECT_EQ(peer.manager.menu().selected, kOther + " - DISCONNECTED");
    EXPECT_FALSE(peer.manager.isFollowing());
    EXPECT_EQ(peer.manager.saveData().value("serversPopup"), kOther + " - DISCONNECTED");

    peer.announce({kKavioService, kOtherService});
    EXPECT_EQ(peer.manager.menu().titles, menuOf({kKavio, kOther}));
    EXPECT_EQ(peer.manager.menu().selected, kOther);
    EXPECT_TRUE(peer.manager.isFollowing());

    // Once chosen, a list with other masters changes nothing.
    peer.announce({kKavioService, kOtherService, service("Zed : x", {"10.0.0.7"})});
    EXPECT_EQ(peer.manager.menu().selected, kOther);
}

TEST(KavioNMCManager, BackupModeAndTheLocateSuppressionFollowTheSelection)
{
    Peer peer(9);
    peer.announce({kKavioService, kOtherService});
    peer.manager.selectServer(kKavio);
    EXPECT_TRUE(peer.manager.isKavioBackup());
    EXPECT_TRUE(peer.manager.isFollowing());

    peer.manager.setShouldSkipSendingNextLocate(true);
    peer.manager.selectServer(kOther);
    EXPECT_FALSE(peer.manager.isKavioBackup());
    EXPECT_FALSE(peer.manager.shouldSkipSendingNextLocate());

    peer.manager.selectServer(kKavio);
    peer.manager.selectServer("Disabled");
    EXPECT_FALSE(peer.manager.isKavioBackup());
    EXPECT_FALSE(peer.manager.isFollowing());
    // "Disabled" forgets the master: its loss adds no disconnected entry.
    peer.announce({kOtherService});
    EXPECT_EQ(peer.manager.menu().titles, menuOf({kOther}));
    EXPECT_EQ(peer.manager.menu().selected, "Disabled");
}

TEST(KavioNMCManager, LoadingAMissingMasterShowsItDisconnectedUntilTheNextList)
{
    const struct {
        const char* what;
        std::vector<Service> next;
        QString selected;
        bool following;
        QStringList titles;
    } cases[] = {
        {"the saved master appears", {kKavioService, kOtherService}, kKavio, true, menuOf({kKavio, kOther})},
        {"only others appear", {kOtherService}, "Disabled", false, menuOf({kOther})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Peer peer(9);
        peer.manager.loadData({{"enableButton", false}, {"serversPopup", kKavio}});
        EXPECT_EQ(peer.manager.menu().titles, menuOf({kKavio + " - DISCONNECTED"}));
        EXPECT_EQ(peer.manager.menu().selected, kKavio + " - DISCONNECTED");
        EXPECT_FALSE(peer.manager.isFollowing());

        peer.announce(c.next);
        EXPECT_EQ(peer.manager.menu().selected, c.selected);
        EXPECT_EQ(peer.manager.isFollowing(), c.following);
        EXPECT_EQ(peer.manager.menu().titles, c.titles);
    }

    // A saved disconnected title is kept as it is, never with a second suffix.
    Peer peer(9);
    peer.manager.loadData({{"enableButton", false}, {"serversPopup", kKavio + " - DISCONNECTED"}});
    EXPECT_EQ(peer.manager.menu().titles, menuOf({kKavio + " - DISCONNECTED"}));
    peer.manager.loadData({});  // ignored
    EXPECT_EQ(peer.manager.menu().selected, kKavio + " - DISCONNECTED");
}

TEST(KavioNMCManager, TheMasterSwitchDisablesTheMenuAndIsRecorded)
{
    Peer peer(0);
    peer.manager.setMasterSwitch(true);
    EXPECT_NE(peer.manager.masterPort(), 0);
    EXPECT_FALSE(peer.manager.menu().enabled);
    ASSERT_EQ(peer.zeroconf->published().size(), 1u);
    EXPECT_TRUE(std::get<0>(peer.zeroconf->published()[0]).startsWith("Kavio : "));

    peer.announce({kOtherService});
    EXPECT_EQ(peer.manager.menu().selected, "Disabled");
    EXPECT_FALSE(peer.manager.menu().enabled);
    EXPECT_EQ(peer.manager.saveData(), (QVariantMap{{"enableButton", true}, {"serversPopup", "Disabled"}}));

    peer.manager.setMasterSwitch(false);
    EXPECT_EQ(peer.manager.masterPort(), 0);
    EXPECT_TRUE(peer.zeroconf->published().empty());
    EXPECT_TRUE(peer.manager.menu().enabled);
}

TEST(KavioNMCManager, ANetworkChangeResolvesTheMastersAgainAndAnEqualSnapshotChangesNothing)
{
    QVariantMap interfaces{{"eth0", QVariantMap{{"Addresses", QStringList{"10.0.0.5"}}}}};
    auto zeroconf = std::make_shared<FakeZeroconf>();
    KavioNMCManager manager(zeroconf, 9, [&interfaces] { return interfaces; });
    manager.startManager();
    int menus = 0;
    manager.setMenuHandler([&menus](const KavioNMCManager::Menu&) { ++menus; });
    zeroconf->announce({kKavioService});
    settle();
    ASSERT_EQ(manager.menu().selected, kKavio);

    const auto networkChanged = [&] {
        menus = 0;
        NotificationCenter::defaultCenter().post("KavioNetworkConfigurationDidChangeNotification");
        settle();
    };
    networkChanged();  // the first snapshot differs from none
    EXPECT_GT(menus, 0);
    networkChanged();
    EXPECT_EQ(menus, 0);
    interfaces["eth0"] = QVariantMap{{"Addresses", QStringList{"10.0.0.6"}}};
    networkChanged();
    EXPECT_GT(menus, 0);
    EXPECT_EQ(manager.menu().titles, menuOf({kKavio}));
    EXPECT_EQ(manager.menu().selected, kKavio);
    EXPECT_TRUE(manager.isFollowing());
}

// Two copies in one process on 127.0.0.1: a master and its followers, each with its own clock.
class KavioNMCLink : public QVTClockCycles {
protected:
    void SetUp() override
    {
        QVTClockCycles::SetUp();
        master.startManager();
        master.setMasterSwitch(true);
        clock->setNetworkLink(&master);
    }
    void TearDown() override
    {
        clock->setNetworkLink(nullptr);
        QVTClockCycles::TearDown();
    }
    // A follower of the master under `name`, whose clock receives the packets.
    std::unique_ptr<Peer> follower(const QString& name, const std::shared_ptr<QVTClock>& followerClock)
    {
        auto peer = std::make_unique<Peer>(master.masterPort());
        peer->manager.setDelegate(followerClock);
        followerClock->setNetworkLink(&peer->manager);
        peer->announce({service(name, {"127.0.0.1"}, master.masterPort())});
        return peer;
    }
    void waitForFollowers(size_t n)
    {
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return master.followerCount() == n; }, 30.0));
    }

    KavioNMCManager master{std::make_shared<FakeZeroconf>(), 0, [] { return QVariantMap(); }};
};

TEST_F(KavioNMCLink, ABackupGetsTheCueCommandsButNoneForACueTheByteCannotCarry)
{
    const auto backupClock = clockAt(QVTClockSMPTEFormat25, source);
    Recorder posted(*backupClock);
    const auto backup = follower("Kavio : booth", backupClock);
    EXPECT_TRUE(backup->manager.isKavioBackup());
    waitForFollowers(1);

    master.sendKavioJumpToCue(300, 25);
    master.sendKavioJumpToCue(3, 25);
    master.sendKavioGoto("00:00:20:00", 25, 2);
    master.sendKavioPanic();
    std::vector<Posted> events;
    ASSERT_TRUE(DispatchQueue::runMainUntil(
        [&] {
            for (auto& p : posted.take())
                events.push_back(std::move(p));
            return events.size() >= 3;
        },
        30.0));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].name, "KavioJumpNMCCommand");
    EXPECT_EQ(events[0].userInfo.value("KavioJumpNMCCommand"), 3);
    EXPECT_EQ(events[1].name, "KavioGotoNMCCommand");
    EXPECT_EQ(events[1].userInfo.value("KavioGotoNMCCommand"), (QVariantList{2, 20}));
    EXPECT_EQ(events[2].name, "KavioPanicNMCCommand");
    backupClock->setNetworkLink(nullptr);
}

TEST_F(KavioNMCLink, APlainSlaveClockStartsStopsAndLocatesWithTheMaster)
{
    const auto slaveClock = clockAt(QVTClockSMPTEFormat25, source);
    slaveClock->setMaxClockSMPTETime("01:00:00:00");
    Recorder posted(*slaveClock);
    const auto slave = follower("Other : desk", slaveClock);
    EXPECT_FALSE(slave->manager.isKavioBackup());
    waitForFollowers(1);

    // The slave's clock runs its cycles while the test waits, as its own thread would.
    const auto waitFor = [&](const QString& name) {
        return DispatchQueue::runMainUntil(
            [&] {
                slaveClock->runCycle(source->now.load());
                return posted.takeNames().contains(name);
            },
            30.0);
    };
    clock->setClockStartTimeWithoutOffset(5.0);
    ASSERT_TRUE(waitFor(kExtStartTimeSet));
    EXPECT_EQ(slaveClock->clockSMPTETime(), "00:00:05:00");

    clock->startClock();
    ASSERT_TRUE(waitFor(kStarted));
    EXPECT_TRUE(slaveClock->isRunning());

    source->now += 2'000'000'000;
    cycles(1);
    clock->stopClockWithCompletedHandler({});
    cycles(1);
    ASSERT_FALSE(clock->isRunning());
    // Both clocks run on one time source, so the slave stands where the master stopped.
    ASSERT_TRUE(waitFor(kStopped));
    EXPECT_FALSE(slaveClock->isRunning());
    EXPECT_EQ(slaveClock->clockSMPTETime(), clock->clockSMPTETime());
    slaveClock->setNetworkLink(nullptr);
}

// The node against a real Art-Net controller: the Open Lighting Architecture's olad. Both bind
// UDP 6454, so each gets a network namespace of its own, joined by a veth pair on 10.0.0.0/8 (a
// usual Art-Net network, wider than /24): this process moves into a private namespace before it
// starts any thread, and olad runs in another one, as an unprivileged user (it refuses root).
// Where that cannot be set up (not root, no namespaces, no olad) the tests skip with the reason.

#include "QVTLightingManager.h"
#include "QVTLightingReceiverNode.h"

#include "DispatchQueue.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sched.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <map>
#include <mutex>

namespace {

// Why the tests cannot run here; empty when this process has its private network.
std::string g_unavailable;

const QString kNodeAddress = QStringLiteral("10.0.0.1");
const QString kOlaAddress = QStringLiteral("10.0.0.2");
const QString kOlaLongName = QStringLiteral("OLA peer of the lighting tests");

// Runs a command to its end; its standard output, or nullopt when it failed.
std::optional<QString> run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

// "net:[inode]" of a process ("self" or a pid); empty when it cannot be read.
std::string networkNamespaceOf(const std::string& process)
{
    char target[64] = {};
    const ssize_t n = ::readlink(("/proc/" + process + "/ns/net").c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, std::size_t(n)) : std::string();
}

// olad in a network namespace of its own, holding the far end ("v1", 10.0.0.2/8) of a veth pair
// whose near end ("v0", 10.0.0.1/8) lies in this process's namespace.
class OlaPeer {
public:
    bool start(std::string* reason)
    {
        if (QStandardPaths::findExecutable(QStringLiteral("olad")).isEmpty()) {
            *reason = "olad is not installed (package ola)";
            return false;
        }
        // olad runs as nobody and writes its configuration back.
        QFile::setPermissions(config_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                                  QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
        writeConfig(QStringLiteral("ola-artnet.conf"), {QStringLiteral("enabled = true"), QStringLiteral("ip = ") + kOlaAddress,
                                                        QStringLiteral("always_broadcast = false"), QStringLiteral("net = 0"),
                                                        QStringLiteral("subnet = 0"), QStringLiteral("output_ports = 1"),
                                                        QStringLiteral("short_name = OLA peer"), QStringLiteral("long_name = ") + kOlaLongName});
        for (const char* other : {"dummy", "e131", "espnet", "ftdidmx", "gpio", "karate", "kinet", "milinst", "opendmx",
                                  "openpixelcontrol", "osc", "pathport", "renard", "sandnet", "shownet", "spi", "stageprofi",
                                  "uartdmx", "usbdmx", "usbserial"})
            writeConfig(QStringLiteral("ola-%1.conf").arg(QLatin1String(other)), {QStringLiteral("enabled = false")});

        const QString script = QStringLiteral(
                                   "i=0; while ! ip link show v1 >/dev/null 2>&1; do i=$((i+1)); [ $i -gt 600 ] && exit 3; sleep 0.1; done; "
                                   "ip link set lo up && ip addr add %1/8 broadcast + dev v1 && ip link set v1 up && "
                                   "exec setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=%2 "
                                   "olad --no-register-with-dns-sd --no-http -l 2 -c %2")
                                   .arg(kOlaAddress, config_.path());
        olad_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        olad_.start(QStringLiteral("unshare"), {QStringLiteral("-n"), QStringLiteral("sh"), QStringLiteral("-c"), script});
        if (!olad_.waitForStarted(30000)) {
            *reason = "cannot start olad in a network namespace (unshare)";
            return false;
        }
        const QString pid = QString::number(olad_.processId());
        // The child runs unshare some time after it has started: the far end must not be made
        // before the child has its own namespace, or it would land in ours.
        const std::string ownNamespace = networkNamespaceOf("self");
        bool separate = false;
        for (int attempt = 0; attempt < 600 && !separate; ++attempt) {
            const std::string childNamespace = networkNamespaceOf(pid.toStdString());
            separate = !childNamespace.empty() && childNamespace != ownNamespace;
            if (!separate && olad_.waitForFinished(50))
                break;
        }
        if (!separate) {
            *reason = "olad's namespace was not made (unshare -n)";
            return false;
        }
        if (!run(QStringLiteral("ip"), {QStringLiteral("link"), QStringLiteral("add"), QStringLiteral("v0"), QStringLiteral("type"),
                                        QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"), QStringLiteral("v1"),
                                        QStringLiteral("netns"), pid}) ||
            !run(QStringLiteral("ip"), {QStringLiteral("addr"), QStringLiteral("add"), kNodeAddress + QStringLiteral("/8"),
                                        QStringLiteral("broadcast"), QStringLiteral("+"), QStringLiteral("dev"), QStringLiteral("v0")}) ||
            !run(QStringLiteral("ip"), {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("v0"), QStringLiteral("up")})) {
            *reason = "cannot join the namespaces with a veth pair (ip link add ... type veth)";
            return false;
        }
        // olad answers its clients once its plugins have started.
        for (int attempt = 0; attempt < 300; ++attempt) {
            const auto devices = ola({QStringLiteral("ola_dev_info")});
            for (const QString& line : devices.value_or(QString()).split(QLatin1Char('\n'))) {
                if (line.startsWith(QLatin1String("Device ")) && line.contains(QLatin1String("ArtNet"))) {
                    device_ = line.section(QLatin1Char(' '), 1, 1).chopped(1);
                    return true;
                }
            }
            if (olad_.waitForFinished(200))
                break;
        }
        *reason = "olad did not start its Art-Net device";
        return false;
    }

    ~OlaPeer()
    {
        if (olad_.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(olad_.processId()), SIGINT);
        if (!olad_.waitForFinished(30000)) {
            olad_.kill();
            olad_.waitForFinished(30000);
        }
    }

    // An OLA client program run in olad's namespace.
    std::optional<QString> ola(QStringList command) const
    {
        const QString program = command.takeFirst();
        return run(QStringLiteral("nsenter"), QStringList{QStringLiteral("-t"), QString::number(olad_.processId()), QStringLiteral("-n"), program} + command);
    }
    const QString& device() const { return device_; }

private:
    void writeConfig(const QString& name, const QStringList& lines)
    {
        QFile file(QDir(config_.path()).filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
        file.setPermissions(file.permissions() | QFileDevice::ReadOther | QFileDevice::WriteOther);
    }

    QTemporaryDir config_;
    QProcess olad_;
    QString device_;
};

class ArtNetOlaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!g_unavailable.empty())
            GTEST_SKIP() << g_unavailable;
        std::string reason;
        if (!ola.start(&reason))
            GTEST_SKIP() << reason;
        manager->setPortName(QStringLiteral("Kavio \u00e9clairage"));
        auto& center = manager->lightingKitNotificationCenter();
        center.addObserver(this, QVTLightingReceivedDMXNotification, manager.get(), [this](const Notification& n) {
            const QVariantList pair = n.userInfo.value(QVTLightingUpdatedChannelKey).toList();
            std::lock_guard lock(mutex);
            dmxSlots[pair.value(0).toInt()] = pair.value(1).toInt();
        });
        center.addObserver(this, QVTLightingPollRepliesNotification, manager.get(),
                           [this](const Notification& n) { polls.push_back(n.userInfo.value(QVTLightingNodesKey).toList()); });
        // By name: the reply then carries the interface's address all the same.
        manager->setInputPortInterface(QStringLiteral("v0"));
        ASSERT_NE(manager->receiverNode(), nullptr);
    }
    void TearDown() override
    {
        if (manager)
            manager->lightingKitNotificationCenter().removeObserver(this);
    }

    std::map<int, int> receivedSlots()
    {
        std::lock_guard lock(mutex);
        return dmxSlots;
    }

    OlaPeer ola;
    std::shared_ptr<QVTLightingManager> manager = std::make_shared<QVTLightingManager>();
    std::mutex mutex;
    std::map<int, int> dmxSlots;
    std::vector<QVariantList> polls;
};

}  // namespace

// OLA sends unicast to the nodes whose poll replies advertise the universe, so DMX arrives only
// when the node advertises the Port-Address it listens to.
TEST_F(ArtNetOlaTest, UnicastDmxReachesTheNodeOnTheUniverseItAdvertises)
{
    const struct {
        int net, subNet, universe;
        int base;  // of the slot values: the node posts only slots that change, so no value repeats
    } cases[] = {{1, 2, 3, 1}, {0, 0, 0, 128}};
    for (const auto& c : cases) {
        const auto valueOf = [&](int slot) { return c.base + slot % 127; };
        const std::string where = std::to_string(c.net) + ":" + std::to_string(c.subNet) + ":" + std::to_string(c.universe);
        manager->listenNet(c.net, c.subNet << 4 | c.universe);
        {
            std::lock_guard lock(mutex);
            dmxSlots.clear();
        }
        // OLA's Art-Net universe is its own universe number's low nibble under the device's net
        // and sub-net.
        const QString olaUniverse = QString::number(16 * (c.net + 1) + c.universe);
        ASSERT_TRUE(ola.ola({QStringLiteral("ola_artnet"), QStringLiteral("-d"), ola.device(), QStringLiteral("--net"),
                             QString::number(c.net), QStringLiteral("-s"), QString::number(c.subNet)}))
            << where;
        ASSERT_TRUE(ola.ola({QStringLiteral("ola_patch"), QStringLiteral("-d"), ola.device(), QStringLiteral("-p"), QStringLiteral("0"),
                             QStringLiteral("-u"), olaUniverse}))
            << where;

        // OLA's own poll finds the node on that universe.
        const auto olaKnowsTheNode = [&] {
            const auto nodes = ola.ola({QStringLiteral("ola_artnet"), QStringLiteral("-d"), ola.device(), QStringLiteral("-u"), olaUniverse});
            return nodes && nodes->contains(kNodeAddress);
        };
        bool known = false;
        for (int attempt = 0; attempt < 240 && !(known = olaKnowsTheNode()); ++attempt)
            DispatchQueue::runMainUntil([] { return false; }, 0.5);
        ASSERT_TRUE(known) << where << ": OLA never listed the node for its universe";

        QStringList values;
        for (int slot = 1; slot <= 512; ++slot)
            values.append(QString::number(valueOf(slot)));
        ASSERT_TRUE(ola.ola({QStringLiteral("ola_set_dmx"), QStringLiteral("-u"), olaUniverse, QStringLiteral("-d"), values.join(',')}))
            << where;
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return receivedSlots().size() == 512; }, 60.0))
            << where << ": " << receivedSlots().size() << " slots arrived";
        const auto got = receivedSlots();
        for (int slot = 1; slot <= 512; ++slot)
            EXPECT_EQ(got.at(slot), valueOf(slot)) << where << " slot " << slot;
    }
}

TEST_F(ArtNetOlaTest, DiscoveryListsOlasOutputPorts)
{
    // OLA receives Art-Net on its input ports: Art-Net output ports, which can input too (0xC0).
    ASSERT_TRUE(ola.ola({QStringLiteral("ola_patch"), QStringLiteral("-i"), QStringLiteral("-d"), ola.device(), QStringLiteral("-p"),
                         QStringLiteral("0"), QStringLiteral("-u"), QStringLiteral("21")}));
    const auto olaPorts = [&] {
        QVariantList ports;
        for (const QVariant& node : polls.empty() ? QVariantList() : polls.back())
            if (node.toList().value(1).toString() == kOlaAddress)
                ports.append(node);
        return ports;
    };
    const auto hasUniverse5 = [&] {
        for (const QVariant& port : olaPorts())
            if (port.toList().value(3).toInt() == 5)
                return true;
        return false;
    };
    for (int attempt = 0; attempt < 20 && !hasUniverse5(); ++attempt) {
        const std::size_t before = polls.size();
        manager->discoverOutputs();
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return polls.size() > before; }, 30.0));
    }
    ASSERT_TRUE(hasUniverse5()) << olaPorts().size() << " ports of OLA found";
    for (const QVariant& port : olaPorts())
        EXPECT_EQ(port.toList().value(0).toString(), kOlaLongName);
}

int main(int argc, char** argv)
{
    // Before any thread starts: threads made later, and the sockets they open, share this
    // namespace.
    if (geteuid() != 0)
        g_unavailable = "needs root: a private network namespace with a veth pair, and olad run as another user";
    else if (::unshare(CLONE_NEWNET) != 0)
        g_unavailable = std::string("cannot make a private network namespace: ") + std::strerror(errno);
    else if (std::system("ip link set lo up") != 0)
        g_unavailable = "cannot bring up loopback in the private network namespace (ip)";
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

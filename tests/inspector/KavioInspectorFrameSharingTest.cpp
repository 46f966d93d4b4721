// The frame-sharing menu over a real server list: servers on the private PipeWire session of
// tests/support, one published as the program's own frame-sharing output publishes it, one by
// another program.

#include "InspectorTestSupport.h"

#include "Inspector/KavioInspectorSourceDirectories.h"
#include "PipeWireTestServer.h"
#include "SyphonDirectory.h"
#include "SyphonServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

// A server made under that application name, as the daemon lists a program's streams.
std::unique_ptr<SyphonServer> serverOf(const char* application, const QString& name)
{
    setenv("PIPEWIRE_PROPS", (std::string("{ application.name = \"") + application + "\" }").c_str(), 1);
    auto server = std::make_unique<SyphonServer>(name, QSize(32, 16), 30, 1);
    unsetenv("PIPEWIRE_PROPS");
    return server;
}

TEST(KavioInspectorFrameSharing, TheProgramsOwnOutputIsLeftOutOfTheSessionsServers)
{
    auto& session = PipeWireTestServer::shared();
    if (!session.isRunning())
        GTEST_SKIP() << session.reason().toStdString();
    // The daemon names a program after its executable, "kavio" here; its output is named as a
    // frame-sharing output names itself.
    const auto own = serverOf("kavio", QStringLiteral("Kavio Syphon #1"));
    const auto other = serverOf("Titler", QStringLiteral("Lower - Third"));
    ASSERT_TRUE(own->isConnected() && other->isConnected());
    SyphonDirectory directory;
    QVariantList servers;
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] {
        servers = directory.servers();
        return servers.size() >= 2;
    }, 30.0)) << servers.size();
    EXPECT_EQ(KavioSourceMenus::syphonTitles(servers), QStringList{"Titler - Lower - Third"})
        << QVariant(servers).toString().toStdString();
}

}  // namespace

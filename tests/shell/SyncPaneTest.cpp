// The preferences window's "Sync & Triggers" pane and the main window's network link controls,
// driven as an operator does under the test's X server: pop-up menus chosen from, buttons
// clicked. Pictures of both are kept in the build folder.

#include "ShellTestSupport.h"

#include "../artnet/UdpTestPeer.h"
#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "DispatchQueue.h"
#include "NotificationCenter.h"
#include "QVTLightingManager.h"
#include "Remote/KavioNMCManager.h"
#include "Shell/KavioWindow.h"
#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioTextField.h"

#include <QAction>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <limits>
#include <sys/socket.h>

namespace {

// Opens the pop-up's menu with a click and chooses `title` from it; the menu runs modally, so
// it is answered from a timer once it shows.
void chooseFromMenu(KavioPopUpButtonInterface* control, const QString& title)
{
    auto* popup = dynamic_cast<KavioPopUpButton*>(control);
    ASSERT_TRUE(popup);
    ASSERT_TRUE(popup->isEnabled());
    auto* chooser = new QTimer(popup);
    QObject::connect(chooser, &QTimer::timeout, popup, [popup, chooser, title] {
        QMenu* menu = popup->openMenu();
        if (!menu || !menu->isVisible())
            return;
        chooser->stop();
        chooser->deleteLater();
        for (QAction* action : menu->actions())
            if (action->text() == title)
                menu->setActiveAction(action);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    chooser->start(20);
    QTest::mouseClick(popup, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return popup->titleOfSelectedItem() == title; }, 10000)) << title.toStdString();
}

KavioButton* widget(KavioButtonInterface* button)
{
    return dynamic_cast<KavioButton*>(button);
}

void keepPicture(QWidget& window, const char* name)
{
    QDir().mkpath(QStringLiteral(KAVIO_SCREENSHOT_DIR));
    const QString path = QStringLiteral(KAVIO_SCREENSHOT_DIR "/") + QLatin1String(name);
    EXPECT_TRUE(window.grab().save(path)) << path.toStdString();
}

}  // namespace

TEST(SyncPane, TheOperatorChoosesTheInterfaceLearnsAndClears)
{
    QVTLightingManager& lighting = QVTLightingManager::sharedManager();
    lighting.setPortsForTesting({UdpTestPeer::freePort(), UdpTestPeer::freePort()});
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    AppDelegate& app = program.app();
    const AppDelegateOutlets& o = app.outlets();
    QWidget& window = program.ui->preferencesWindow();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTabWidget* tabs = o.preferencesTabView;
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->tabText(i) == QStringLiteral("Sync & Triggers"))
            o.preferencesTableView->setCurrentRow(i);
    ASSERT_EQ(tabs->tabText(tabs->currentIndex()), QStringLiteral("Sync & Triggers"));
    KavioButton* learn = widget(o.learnTriggerButtons[size_t(KavioTriggerField::DmxPrevious)]);
    KavioButton* clear = widget(o.clearTriggerButtons[size_t(KavioTriggerField::DmxPrevious)]);
    ASSERT_TRUE(learn && clear);
    ASSERT_TRUE(QTest::qWaitFor([&] { return learn->isVisible(); }, 5000));

    // Without an interface nothing is learned; the loopback interface enables learning and the
    // sub-net and universe.
    EXPECT_FALSE(learn->isEnabled());
    EXPECT_FALSE(o.dmxSubNetPopup->isEnabled());
    chooseFromMenu(o.dmxSourcePopup, QStringLiteral("(Loopback Interface) - 127.0.0.1"));
    EXPECT_TRUE(learn->isEnabled());
    EXPECT_EQ(lighting.inputPortInterface(), QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(lighting.receiverNode());
    chooseFromMenu(o.dmxSubNetPopup, QStringLiteral("16"));
    chooseFromMenu(o.dmxUniversePopup, QStringLiteral("3"));
    EXPECT_EQ(app.lastInterfaces().dmx, QStringLiteral("(Loopback Interface) - 127.0.0.1"));

    // Learn on, then off with a second click; another tab ends learning too.
    QTest::mouseClick(learn, Qt::LeftButton);
    EXPECT_EQ(app.learnDestination(), KavioTriggerField::DmxPrevious);
    EXPECT_EQ(learn->state(), 1);
    QTest::mouseClick(learn, Qt::LeftButton);
    EXPECT_EQ(app.learnDestination(), std::nullopt);
    QTest::mouseClick(learn, Qt::LeftButton);
    o.dmxPreviousField->setStringValue(QStringLiteral("Channel: 12"));
    keepPicture(window, "preferences-sync-pane.png");
    o.preferencesTableView->setCurrentRow(0);
    EXPECT_EQ(app.learnDestination(), std::nullopt);
    EXPECT_EQ(learn->state(), 0);
    o.preferencesTableView->setCurrentRow(tabs->indexOf(tabs->findChild<QWidget*>(QStringLiteral("sync"))));
    app.setHasUnsavedChanges(false);
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_TRUE(o.dmxPreviousField->stringValue().isEmpty());
    EXPECT_TRUE(app.hasUnsavedChanges());

    // Free-wheel from its pop-up: "Disabled" never gives up the lock.
    const std::shared_ptr<QVTClock> clock = program.ui->controller()->masterClock();
    chooseFromMenu(o.freeWheelTimePopup, QStringLiteral("Disabled"));
    EXPECT_EQ(clock->freeWheelFrames(), std::numeric_limits<int32_t>::max());
    chooseFromMenu(o.freeWheelTimePopup, QStringLiteral("25"));
    EXPECT_EQ(clock->freeWheelFrames(), 25);

    // Without an audio input the LTC channel shows "None", disabled; the LTC item is off.
    EXPECT_EQ(o.ltcSourceChannelPopup->titleOfSelectedItem(), QStringLiteral("None"));
    EXPECT_FALSE(o.ltcSourceChannelPopup->isEnabled());
    EXPECT_FALSE(o.ltcSource->isEnabled());

    // A network change that leaves the interface as it was keeps its receiver (and its channel
    // values) and marks nothing changed.
    const QString loopback = QStringLiteral("(Loopback Interface)");
    QVariantMap configuration{{loopback, QStringLiteral("127.0.0.1")}, {QStringLiteral("eth9"), QStringLiteral("1")}};
    app.setNetworkInterfacesProvider([&configuration] { return configuration; });
    const auto receiver = lighting.receiverNode();
    app.setHasUnsavedChanges(false);
    configuration.insert(QStringLiteral("eth9"), QStringLiteral("192.168.7.7"));
    NotificationCenter::defaultCenter().post(kKavioNetworkConfigurationDidChangeNotification);
    EXPECT_TRUE(dynamic_cast<KavioPopUpButton*>(o.dmxSourcePopup)->indexOfItemWithTitle("eth9 - 192.168.7.7") >= 0);
    EXPECT_EQ(o.dmxSourcePopup->titleOfSelectedItem(), QStringLiteral("(Loopback Interface) - 127.0.0.1"));
    EXPECT_EQ(lighting.receiverNode(), receiver);
    EXPECT_FALSE(app.hasUnsavedChanges());
    // Its address changed: the remembered title shows disconnected and reception stops.
    configuration.insert(loopback, QStringLiteral("127.0.0.2"));
    app.refreshNetworkInterfaceList();
    EXPECT_EQ(o.dmxSourcePopup->titleOfSelectedItem(), QStringLiteral("(Loopback Interface) - 127.0.0.1 - DISCONNECTED"));
    EXPECT_FALSE(lighting.receiverNode());
    EXPECT_FALSE(learn->isEnabled());
    configuration.insert(loopback, QStringLiteral("127.0.0.1"));
    app.refreshNetworkInterfaceList();
    EXPECT_EQ(o.dmxSourcePopup->titleOfSelectedItem(), QStringLiteral("(Loopback Interface) - 127.0.0.1"));
    EXPECT_TRUE(lighting.receiverNode());

    // "Disable" stops reception and learning.
    QTest::mouseClick(learn, Qt::LeftButton);
    chooseFromMenu(o.dmxSourcePopup, QStringLiteral("Disable"));
    EXPECT_FALSE(lighting.receiverNode());
    EXPECT_EQ(app.learnDestination(), std::nullopt);
    EXPECT_FALSE(learn->isEnabled());
    EXPECT_FALSE(o.dmxUniversePopup->isEnabled());
    EXPECT_TRUE(app.lastInterfaces().dmx.isEmpty());
    window.close();
    lighting.setPortsForTesting({});
}

TEST(SyncPane, NetworkLinkControlsInTheMainWindow)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    const AppDelegateOutlets& o = program.app().outlets();
    KavioWindow& window = program.ui->window();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    KavioButton* master = widget(o.nmcEnableButton);
    auto* servers = dynamic_cast<KavioPopUpButton*>(o.nmcServersPopup);
    ASSERT_TRUE(master && servers);
    KavioNMCManager& link = KavioNMCManager::sharedManager();
    EXPECT_EQ(servers->titleOfSelectedItem(), QStringLiteral("Disabled"));

    // A master found on the network is listed and, being the first, followed.
    Zeroconf::Service other{QStringLiteral("Kavio : stage-left"), QStringLiteral("127.0.0.1"), 4000,
                            {{AF_INET, QStringLiteral("127.0.0.1")}}};
    link.servicesChanged({other});
    const QString title = QStringLiteral("Kavio : 127.0.0.1");
    EXPECT_TRUE(QTest::qWaitFor([&] { return servers->titleOfSelectedItem() == title; }, 10000));
    EXPECT_TRUE(link.isFollowing());
    EXPECT_TRUE(link.isKavioBackup());
    keepPicture(window, "main-window-network-link.png");
    chooseFromMenu(servers, QStringLiteral("Disabled"));
    EXPECT_FALSE(link.isFollowing());
    EXPECT_FALSE(link.isKavioBackup());

    // The master switch makes this copy master and locks the menu.
    QTest::mouseClick(master, Qt::LeftButton);
    EXPECT_TRUE(link.menu().masterSwitch);
    EXPECT_FALSE(servers->isEnabled());
    EXPECT_EQ(program.app().saveData().value("nmcManager").toMap().value("enableButton"), true);
    QTest::mouseClick(master, Qt::LeftButton);
    EXPECT_FALSE(link.menu().masterSwitch);
    EXPECT_EQ(master->state(), 0);
    EXPECT_TRUE(servers->isEnabled());
    link.servicesChanged({});
}

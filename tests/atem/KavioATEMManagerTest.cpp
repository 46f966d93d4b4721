// The switcher integration with its preferences pane, the simulated switcher on 127.0.0.1 and a
// real cue list controller.

#include "../controller/SteppedShow.h"
#include "FakeZeroconf.h"
#include "SimulatedSwitcher.h"

#include "Remote/KavioATEMManager.h"
#include "Remote/KavioATEMPreferencesPane.h"
#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioTextField.h"

#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

// The library browses a stand-in, set before its first use.
[[maybe_unused]] const bool kZeroconf = (Vistrel::setZeroconf(std::make_shared<FakeZeroconf>()), true);

bool waitFor(const std::function<bool()>& done)
{
    return DispatchQueue::runMainUntil(done, 30.0);
}

// Every report the switcher queue has begun has been handled there.
void drainSwitcherQueue()
{
    Vistrel::queue().sync([] {});
    DispatchQueue::runMainUntil([] { return DispatchQueue::drainMain() == 0; }, 10.0);
}

// The manager with its pane, on a cue list controller fixture: `Base` gives the controller (a
// plain one with two cues when it has none yet); the controller reports pause-at-end to the manager.
template <class Base>
struct ManagerOn : Base {
    QWidget preferences;
    KavioATEMManagerOutlets o;
    std::unique_ptr<QWidget> pane;
    std::shared_ptr<KavioATEMManager> manager;

    template <class... Args>
    explicit ManagerOn(Args&&... args) : Base(std::forward<Args>(args)...)
    {
        if (!this->controller) {
            this->connected();
            this->controller->setCurrentItem(this->addCues({25, 25})[0]);
        }
        pane.reset(buildATEMPreferencesPane(o, &preferences));
        manager = std::make_shared<KavioATEMManager>(*this->defaults);
        manager->setOutlets(o);
        manager->setDelegate(this->controller);
        manager->setHyperDeckServer(this->hyperdeck);
        KavioVideoItemManagerOutlets outlets = this->outlets();
        outlets.atemManager = manager;
        this->controller->setOutlets(outlets);
    }
    ~ManagerOn() { manager->resetIntegration(); }

    // Starts with the simulator saved as the manual switcher and waits for the connection.
    bool startConnectedTo(const SimulatedSwitcher& simulator)
    {
        const QString address = QString::fromStdString(simulator.address());
        this->defaults->setString(address, QStringLiteral("ATEMManualIP"));
        this->defaults->setString(QStringLiteral("Manual IP: ") + address, QStringLiteral("selectedATEMTitle"));
        manager->startManager();
        return waitFor([&] { return o.atemSwitchersStatusField->text() == QStringLiteral("Connected."); });
    }
    static void choose(KavioPopUpButton* menu, const QString& title)
    {
        const int index = menu->indexOfItemWithTitle(title);
        ASSERT_GE(index, 0) << title.toStdString();
        menu->chooseItemAtIndex(index);
    }
    // Whether the connected switcher's input `id` is on program, as the listener last read it.
    bool onProgram(std::int64_t id) const
    {
        const auto listener = manager->listener();
        const auto device = listener ? listener->deviceInfo() : nullptr;
        for (const auto& input : device ? device->inputs().value_or(QVTAtemDeviceInfo::Inputs{}) : QVTAtemDeviceInfo::Inputs{}) {
            if (input->id == id)
                return input->isProgramTallied;
        }
        return false;
    }
    bool logged(const QString& call) { return this->log.calls.contains(call); }
};

using ManagerFixture = ManagerOn<ControllerFixture>;

}  // namespace

TEST(KavioATEMManager, ConnectsToTheSavedSwitcherAndFillsTheMenus)
{
    SimulatedSwitcher simulator;
    ManagerFixture f;
    ASSERT_TRUE(f.startConnectedTo(simulator));
    EXPECT_EQ(f.o.atemSwitchersPopup->titleOfSelectedItem(), QStringLiteral("Manual IP: ") + QString::fromStdString(simulator.address()));
    // Inputs: the external ones; the pause-at-end menu adds the media player.
    QStringList inputs;
    for (int i = 0; i < f.o.atemSwitchersInputsPopup->numberOfItems(); ++i)
        inputs << f.o.atemSwitchersInputsPopup->itemAtIndex(i).title;
    EXPECT_EQ(inputs, QStringList({"1: Camera 1", "2: Camera 2", "3: Camera 3", "4: Camera 4"}));
    EXPECT_TRUE(f.o.atemSwitchersInputsPopup->isEnabled());
    QStringList pauseAtEnd;
    for (int i = 0; i < f.o.atemSwitchersOnPauseAtEndBehaviour->numberOfItems(); ++i) {
        const auto entry = f.o.atemSwitchersOnPauseAtEndBehaviour->itemAtIndex(i);
        pauseAtEnd << (entry.isSeparator ? QStringLiteral("-") : entry.title + QLatin1Char('=') + entry.representedObject.toString());
    }
    EXPECT_EQ(pauseAtEnd, QStringList({"Do Nothing=0", "-", "CUT to Preview=-10", "AUTO to Preview=-20", "-",
                                       "CUT to 1: Camera 1=1", "CUT to 2: Camera 2=2", "CUT to 3: Camera 3=3",
                                       "CUT to 4: Camera 4=4", "CUT to Media Player 1=3010", "-", "AUTO to 1: Camera 1=1",
                                       "AUTO to 2: Camera 2=2", "AUTO to 3: Camera 3=3", "AUTO to 4: Camera 4=4",
                                       "AUTO to Media Player 1=3010"}));
    // A connection by address saves the record's empty id; the first input is taken.
    EXPECT_EQ(f.defaults->objectForKey(QStringLiteral("selectedATEMUUID")).toString(), QStringLiteral(""));
    EXPECT_TRUE(f.defaults->hasKey(QStringLiteral("selectedATEMUUID")));
    EXPECT_EQ(f.manager->selectedInputID(), 1);
    // The HyperDeck switch starts on, and its server with it.
    EXPECT_TRUE(f.logged(QStringLiteral("hyperdeck.start")));

    // As the preferences window shows it.
    f.preferences.setAutoFillBackground(true);
    QPalette palette = f.preferences.palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(0.18f, 0.18f, 0.18f, 1.0f));
    palette.setColor(QPalette::WindowText, Qt::white);
    f.preferences.setPalette(palette);
    f.preferences.resize(560, 300);
    auto* layout = new QVBoxLayout(&f.preferences);
    layout->addWidget(f.pane.release());
    f.preferences.show();
    ASSERT_TRUE(waitFor([&] { return f.preferences.isVisible(); }));
    QDir().mkpath(QStringLiteral(KAVIO_SCREENSHOT_DIR));
    EXPECT_TRUE(f.preferences.grab().save(QStringLiteral(KAVIO_SCREENSHOT_DIR "/atem-preferences-pane.png")));
}

TEST(KavioATEMManager, TheChosenInputStartsAndStopsTheShow)
{
    SimulatedSwitcher simulator;
    ManagerFixture f;
    ASSERT_TRUE(f.startConnectedTo(simulator));
    ManagerFixture::choose(f.o.atemSwitchersInputsPopup, QStringLiteral("3: Camera 3"));
    EXPECT_EQ(f.manager->selectedInputID(), 3);
    EXPECT_EQ(f.defaults->integerForKey(QStringLiteral("selectedATEMInput")), 3);
    f.log.take();

    // Other inputs, and any change while a project loads, are ignored.
    simulator.takeToProgram(2);
    f.controller->setIsLoadingProject(true);
    simulator.takeToProgram(3);
    ASSERT_TRUE(waitFor([&] { return f.onProgram(3); }));
    drainSwitcherQueue();
    f.controller->setIsLoadingProject(false);
    EXPECT_FALSE(f.logged(QStringLiteral("app.togglePlay")));

    // The chosen input going on program starts a stopped show.
    simulator.takeToProgram(2);
    simulator.takeToProgram(3);
    ASSERT_TRUE(waitFor([&] { return f.logged(QStringLiteral("app.togglePlay")); }));
    EXPECT_EQ(f.app->play.state(), 1);

    struct Case {
        const char* title;
        bool loadNext, rewind, stops;
    };
    for (const Case& c : {Case{"Stop and Load Next Cue", true, false, true}, Case{"Stop and Rewind Cue", false, true, true},
                          Case{"Do Nothing", false, false, false}}) {
        SCOPED_TRACE(c.title);
        ManagerFixture::choose(f.o.atemSwitchersOnSwitchBehaviour, QString::fromLatin1(c.title));
        f.controller->setShouldLoadNextCueByATEM(false);
        f.controller->setShouldRewindCueByATEM(false);
        f.controller->setIsPlaying(true);
        f.app->play.setState(1);
        f.log.take();
        simulator.takeToProgram(1);  // 3 leaves program
        ASSERT_TRUE(waitFor([&] { return f.onProgram(1) && !f.onProgram(3); }));
        drainSwitcherQueue();
        EXPECT_EQ(f.controller->shouldLoadNextCueByATEM(), c.loadNext);
        EXPECT_EQ(f.controller->shouldRewindCueByATEM(), c.rewind);
        EXPECT_EQ(f.app->play.state(), c.stops ? 0 : 1);
        // Coming back while the show plays changes nothing.
        f.app->play.setState(1);
        f.log.take();
        simulator.takeToProgram(3);
        ASSERT_TRUE(waitFor([&] { return f.onProgram(3); }));
        drainSwitcherQueue();
        EXPECT_FALSE(f.logged(QStringLiteral("app.togglePlay")));
        f.controller->setIsPlaying(false);
    }
    EXPECT_EQ(f.defaults->integerForKey(QStringLiteral("ATEMOnSwitchBehaviour")), 0);
}

TEST(KavioATEMManager, PauseAtEndSwitchesTheSwitcher)
{
    SimulatedSwitcher simulator;
    ManagerFixture f;
    ASSERT_TRUE(f.startConnectedTo(simulator));
    struct Case {
        const char* title;
        std::int32_t method;
        std::vector<std::string> commands;  // with the switcher's preview at 2
    };
    for (const Case& c : {Case{"CUT to Preview", KavioATEMSwitchMethodCut, {"CPvI 2", "DCut"}},
                          Case{"AUTO to 4: Camera 4", KavioATEMSwitchMethodAuto, {"CPvI 4", "DAut"}},
                          Case{"CUT to Media Player 1", KavioATEMSwitchMethodCut, {"CPvI 3010", "DCut"}},
                          Case{"Do Nothing", KavioATEMSwitchMethodNone, {}}}) {
        SCOPED_TRACE(c.title);
        simulator.takeToProgram(2);
        simulator.takeToProgram(1);  // program 1, preview 2 again
        ASSERT_TRUE(waitFor([&] { return f.manager->listener()->getPreviewInput() == 2; }));
        ManagerFixture::choose(f.o.atemSwitchersOnPauseAtEndBehaviour, QString::fromLatin1(c.title));
        EXPECT_EQ(f.manager->pauseAtEndSwitchMethod(), c.method);
        EXPECT_EQ(f.defaults->integerForKey(QStringLiteral("ATEMOnPauseAtEndBehaviour_Method")), c.method);
        const size_t before = simulator.commands().size();
        f.manager->handleCueAtPauseAtEnd();
        if (c.commands.empty()) {
            drainSwitcherQueue();
            drainSwitcherQueue();
            EXPECT_EQ(simulator.commands().size(), before);
            continue;
        }
        ASSERT_TRUE(waitFor([&] { return simulator.commands().size() == before + 2; }));
        const auto all = simulator.commands();
        EXPECT_EQ(std::vector<std::string>(all.end() - 2, all.end()), c.commands);
    }
    // The choice and its method come back on the next connection.
    EXPECT_EQ(f.defaults->integerForKey(QStringLiteral("ATEMOnPauseAtEndBehaviour")), 0);
}

TEST(KavioATEMManager, ManualAddressSheet)
{
    ManagerFixture f;
    f.defaults->setString(QStringLiteral("10.1.1.1"), QStringLiteral("ATEMManualIP"));
    f.manager->startManager();
    EXPECT_EQ(f.o.manualATEMIPTextField->stringValue(), QStringLiteral("10.1.1.1"));

    // Choosing the manual entry always opens the sheet; nothing connects before Connect.
    ManagerFixture::choose(f.o.atemSwitchersPopup, QStringLiteral("Manual IP: 10.1.1.1"));
    EXPECT_TRUE(f.o.manualATEMIPWindow->isVisible());
    EXPECT_EQ(f.manager->listener(), nullptr);

    struct Case {
        const char* text;
        bool enabled;
    };
    for (const Case& c : {Case{"192.168.0.10", true}, Case{"192.168.0", false}, Case{"192.168.0.256", false},
                          Case{"a.b.c.d", true}, Case{"1.2.3.4.5", false}, Case{"-1.0.0.0", false}, Case{"", false}}) {
        SCOPED_TRACE(c.text);
        f.o.manualATEMIPTextField->setText(QString::fromLatin1(c.text));
        EXPECT_EQ(f.o.manualIPConnectButton->isEnabled(), c.enabled);
    }
    f.o.manualATEMIPTextField->setText(QStringLiteral("127.0.0.1"));
    f.manager->manualATEMIPConnect();
    EXPECT_FALSE(f.o.manualATEMIPWindow->isVisible());
    EXPECT_EQ(f.o.atemSwitchersPopup->titleOfSelectedItem(), QStringLiteral("Manual IP: 127.0.0.1"));
    EXPECT_EQ(f.defaults->stringForKey(QStringLiteral("ATEMManualIP")), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(f.defaults->stringForKey(QStringLiteral("selectedATEMTitle")), QStringLiteral("Manual IP: 127.0.0.1"));
    ASSERT_TRUE(f.manager->listener());
    EXPECT_EQ(f.manager->listener()->manualIP(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(f.o.atemSwitchersStatusField->text(), QStringLiteral("Connecting..."));

    // "Disabled" lets go of the listener.
    ManagerFixture::choose(f.o.atemSwitchersPopup, QStringLiteral("Disabled"));
    EXPECT_EQ(f.manager->listener(), nullptr);
    EXPECT_EQ(f.o.atemSwitchersStatusField->text(), QString());
}

TEST(KavioATEMManager, SavedSettingsInTheProject)
{
    ManagerFixture f;
    f.manager->startManager();
    // Without a saved switcher its title is left out; the method is always there.
    QVariantMap saved = f.manager->saveData();
    EXPECT_FALSE(saved.contains(QStringLiteral("selectedATEMTitle")));
    EXPECT_EQ(saved.value(QStringLiteral("ATEMOnPauseAtEndBehaviour_Method")).toInt(), 0);
    EXPECT_TRUE(saved.contains(QStringLiteral("ATEMOnSwitchBehaviour")));

    // A project's switcher that is not on the network shows as disconnected and is not connected to.
    const QVariantMap project = {{"selectedATEMTitle", "Studio - 10.0.0.5"},
                                 {"selectedATEMUUID", "A1"},
                                 {"selectedATEMInput", 4},
                                 {"ATEMOnSwitchBehaviour", 30},
                                 {"ATEMOnPauseAtEndBehaviour", -10},
                                 {"ATEMOnPauseAtEndBehaviour_Method", 10},
                                 {"ATEMManualIP", "10.2.2.2"}};
    f.manager->loadWithData(project);
    EXPECT_EQ(f.o.atemSwitchersPopup->titleOfSelectedItem(), QStringLiteral("Studio - 10.0.0.5 - DISCONNECTED"));
    EXPECT_FALSE(f.o.atemSwitchersInputsPopup->isEnabled());
    EXPECT_EQ(f.manager->listener(), nullptr);
    EXPECT_GE(f.o.atemSwitchersPopup->indexOfItemWithTitle(QStringLiteral("Manual IP: 10.2.2.2")), 0);
    ManagerFixture::choose(f.o.atemSwitchersPopup, QStringLiteral("Studio - 10.0.0.5 - DISCONNECTED"));
    EXPECT_EQ(f.manager->listener(), nullptr);
    EXPECT_EQ(f.defaults->stringForKey(QStringLiteral("selectedATEMTitle")), QStringLiteral("Studio - 10.0.0.5"));
    saved = f.manager->saveData();
    for (const char* key : {"selectedATEMTitle", "selectedATEMUUID", "selectedATEMInput", "ATEMOnSwitchBehaviour",
                               "ATEMOnPauseAtEndBehaviour", "ATEMManualIP"})
        EXPECT_EQ(saved.value(key).toString(), project.value(key).toString()) << key;
    // An empty part changes nothing.
    f.manager->loadWithData({});
    EXPECT_EQ(f.defaults->stringForKey(QStringLiteral("selectedATEMTitle")), QStringLiteral("Studio - 10.0.0.5"));
}

TEST(KavioATEMManager, HyperDeckSwitchAndAddress)
{
    ManagerFixture f;
    f.defaults->setBool(false, QStringLiteral("HyperDeckState"));
    f.manager->startManager();
    EXPECT_EQ(f.log.take().filter(QStringLiteral("hyperdeck.st")), QStringList({"hyperdeck.stop"}));
    EXPECT_EQ(f.o.hyperdeckEnabledButton->state(), 0);
    f.o.hyperdeckEnabledButton->setState(1);
    f.manager->hyperDeckStateChanged();
    EXPECT_EQ(f.log.take().filter(QStringLiteral("hyperdeck.st")), QStringList({"hyperdeck.start"}));
    EXPECT_TRUE(f.defaults->boolForKey(QStringLiteral("HyperDeckState")));

    const QVariantMap networks = {{"eth0", QVariantMap{{"Addresses", QVariantList{"10.0.0.2", "10.0.0.3"}}}},
                                  {"eth1", QVariantMap{{"Addresses", QVariantList{"192.168.1.5"}}}},
                                  {"wlan0", QVariantMap{{"Addresses", QVariantList{"172.16.0.9"}}}}};
    EXPECT_EQ(KavioATEMManager::hyperDeckAddress({"eth0"}, networks), QStringLiteral("10.0.0.2"));
    EXPECT_EQ(KavioATEMManager::hyperDeckAddress({"eth0", "eth1"}, networks), QStringLiteral("192.168.1.5"));
    EXPECT_EQ(KavioATEMManager::hyperDeckAddress({"eth2"}, networks), QStringLiteral("-"));
    EXPECT_EQ(KavioATEMManager::hyperDeckAddress({}, networks), QStringLiteral("-"));
}

TEST(KavioATEMManager, WithoutTheSwitcherInterfaceTheMenuIsOffAndTheButtonShows)
{
    VistrelSetDiscoveryLoader([]() -> IBMDSwitcherDiscovery* { return nullptr; });
    {
        ManagerFixture f;
        f.defaults->setString(QStringLiteral("USB"), QStringLiteral("selectedATEMTitle"));
        f.manager->startManager();
        EXPECT_FALSE(f.o.atemSwitchersPopup->isEnabled());
        EXPECT_FALSE(f.o.noDriverErrorButton->isHidden());
        EXPECT_EQ(f.manager->listener(), nullptr);
    }
    VistrelSetDiscoveryLoader(nullptr);
    ManagerFixture f;
    f.manager->startManager();
    EXPECT_TRUE(f.o.noDriverErrorButton->isHidden());
    EXPECT_TRUE(f.o.atemSwitchersPopup->isEnabled());
}

TEST(KavioATEMManager, ACueStoppingAtItsEndCutsTheSwitcherToItsPreview)
{
    SimulatedSwitcher simulator;
    ManagerOn<SteppedShowFixture<>> f(std::vector<std::int64_t>{20, 20});
    ASSERT_TRUE(f.startConnectedTo(simulator));
    ManagerFixture::choose(f.o.atemSwitchersOnPauseAtEndBehaviour, QStringLiteral("CUT to Preview"));
    simulator.takeToProgram(4);  // program 4, preview 1
    ASSERT_TRUE(waitFor([&] { return f.manager->listener()->getPreviewInput() == 1; }));
    f.cues[0]->setShouldStopAtEnd(true);
    f.go();
    f.runUntilStopped();
    ASSERT_TRUE(waitFor([&] { return simulator.commands().size() == 2; }));
    EXPECT_EQ(simulator.commands(), (std::vector<std::string>{"CPvI 1", "DCut"}));
    EXPECT_TRUE(waitFor([&] { return simulator.program() == 1; }));
}

// The preferences' "Sync & Triggers" pane and the main window's network link controls.

#include "Shell/KavioMainInterface.h"

#include "Remote/KavioNMCManager.h"
#include "Shell/AppDelegate.h"
#include "Shell/KavioSyncSourceLists.h"
#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioStylishButtonCell.h"
#include "Views/KavioTextField.h"

#include <QBoxLayout>
#include <QFormLayout>
#include <QPointer>
#include <QTabWidget>

namespace {

// A control's action that runs on the delegate while it lives.
template <typename Call>
std::function<void()> onDelegate(const std::weak_ptr<AppDelegate>& app, Call call)
{
    return [app, call] {
        if (const auto self = app.lock())
            call(*self);
    };
}

KavioPopUpButton* addPopUp(QFormLayout* form, const QString& label, const QStringList& titles)
{
    auto* popup = new KavioPopUpButton;
    for (const QString& title : titles) {
        if (title.isEmpty())
            popup->insertSeparatorItem(popup->numberOfItems());
        else
            popup->addItem(title, 0);
    }
    popup->selectItemAtIndex(0);
    form->addRow(label, popup);
    return popup;
}

}  // namespace

void KavioMainInterface::buildSyncPane(AppDelegateOutlets& outlets)
{
    using namespace KavioSyncSourceLists;
    const std::weak_ptr<AppDelegate> app = appDelegate_;
    auto* sync = new QWidget;
    auto* form = new QFormLayout(sync);
    // The source pop-ups start with their two fixed entries; the sources there are follow.
    const QStringList fixed = {kDisabled, kSeparator};
    const auto source = [&](const QString& label, KavioMIDISourceKind kind) {
        KavioPopUpButton* popup = addPopUp(form, label, fixed);
        popup->setAction(onDelegate(app, [kind](AppDelegate& a) { a.midiSourceSelected(kind); }));
        return popup;
    };
    outlets.mtcSourcePopup = source(QStringLiteral("MTC source"), KavioMIDISourceKind::MTC);
    KavioPopUpButton* ltc = addPopUp(form, QStringLiteral("LTC source"), fixed);
    ltc->setAction(onDelegate(app, [](AppDelegate& a) { a.ltcSourceSelected(); }));
    outlets.ltcSourcePopup = ltc;
    KavioPopUpButton* ltcChannel = addPopUp(form, QStringLiteral("LTC channel"), {kNone});
    ltcChannel->setAction(onDelegate(app, [](AppDelegate& a) { a.ltcSourceChannelSelected(); }));
    outlets.ltcSourceChannelPopup = ltcChannel;
    KavioPopUpButton* freeWheel = addPopUp(form, QStringLiteral("Free wheel (frames)"),
                                           {kDisabled, QStringLiteral("5"), QStringLiteral("10"), QStringLiteral("25"),
                                            QStringLiteral("50"), QStringLiteral("100")});
    freeWheel->selectItemWithTitle(QStringLiteral("10"));
    freeWheel->setAction(onDelegate(app, [](AppDelegate& a) { a.changeFreeWheelTime(); }));
    outlets.freeWheelTimePopup = freeWheel;
    outlets.mmcSourcePopup = source(QStringLiteral("MMC source"), KavioMIDISourceKind::MMC);
    outlets.mscSourcePopup = source(QStringLiteral("MSC source"), KavioMIDISourceKind::MSC);
    outlets.midiSourcePopup = source(QStringLiteral("MIDI trigger source"), KavioMIDISourceKind::MIDI);

    // Each trigger field with its Learn toggle and Clear button.
    const auto trigger = [&](const QString& label, KavioTriggerField field) {
        auto* row = new QHBoxLayout;
        auto* text = new KavioTextField;
        row->addWidget(text, 1);
        auto* learn = new KavioButton(nullptr, std::make_unique<KavioStylishButtonCell>());
        learn->setTitle(QStringLiteral("Learn"));
        learn->setButtonType(KavioButtonType::OnOff);
        learn->setAction(onDelegate(app, [field](AppDelegate& a) { a.learnTrigger(field); }));
        learn->setEnabled(false);  // until a source or interface is there
        row->addWidget(learn);
        auto* clear = new KavioButton;
        clear->setTitle(QStringLiteral("Clear"));
        clear->setAction(onDelegate(app, [field](AppDelegate& a) { a.clearTrigger(field); }));
        row->addWidget(clear);
        QObject::connect(text, &QLineEdit::editingFinished, text,
                         onDelegate(app, [](AppDelegate& a) { a.triggerFieldsChanged(); }));
        form->addRow(label, row);
        outlets.learnTriggerButtons[size_t(field)] = learn;
        outlets.clearTriggerButtons[size_t(field)] = clear;
        return text;
    };
    using F = KavioTriggerField;
    outlets.midiStartField = trigger(QStringLiteral("MIDI start"), F::MidiStart);
    outlets.midiStopField = trigger(QStringLiteral("MIDI stop"), F::MidiStop);
    outlets.midiPreviousField = trigger(QStringLiteral("MIDI previous"), F::MidiPrevious);
    outlets.midiNextField = trigger(QStringLiteral("MIDI next"), F::MidiNext);
    outlets.midiMainFaderField = trigger(QStringLiteral("MIDI main fader"), F::MidiMainFader);

    KavioPopUpButton* dmx = addPopUp(form, QStringLiteral("Art-Net interface"), {kDisable});
    dmx->setAction(onDelegate(app, [](AppDelegate& a) { a.dmxSourceSelected(); }));
    outlets.dmxSourcePopup = dmx;
    // Their numbers add up to Art-Net's Sub-Uni byte: the sub-net in its high four bits.
    QStringList subNets, universes;
    for (int n = 0; n < 16; ++n) {
        subNets.append(QString::number(n * 16));
        universes.append(QString::number(n));
    }
    for (auto [label, titles, slot] : {std::tuple{QStringLiteral("Art-Net sub-net"), subNets, &outlets.dmxSubNetPopup},
                                       {QStringLiteral("Art-Net universe"), universes, &outlets.dmxUniversePopup}}) {
        KavioPopUpButton* popup = addPopUp(form, label, titles);
        popup->setAction(onDelegate(app, [](AppDelegate& a) { a.dmxSourceSelected(); }));
        popup->setEnabled(false);
        *slot = popup;
    }
    outlets.dmxStartStopField = trigger(QStringLiteral("DMX start / stop"), F::DmxStartStop);
    outlets.dmxPreviousField = trigger(QStringLiteral("DMX previous"), F::DmxPrevious);
    outlets.dmxNextField = trigger(QStringLiteral("DMX next"), F::DmxNext);
    outlets.dmxMainFaderField = trigger(QStringLiteral("DMX main fader"), F::DmxMainFader);
    sync->setObjectName(QStringLiteral("sync"));
    preferencesTabs_->addTab(sync, QStringLiteral("Sync & Triggers"));
}

void KavioMainInterface::buildNetworkLinkControls(QBoxLayout* transport, AppDelegateOutlets& outlets)
{
    auto* master = new KavioButton(nullptr, std::make_unique<KavioStylishButtonCell>());
    master->setTitle(QStringLiteral("Network Master"));
    master->setButtonType(KavioButtonType::OnOff);
    master->setAction([master] { KavioNMCManager::sharedManager().setMasterSwitch(master->state() != 0); });
    auto* servers = new KavioPopUpButton;
    servers->addItem(KavioNMCMenu::kDisabled, 0);
    servers->setToolTip(QStringLiteral("Follow a network master"));
    servers->setMinimumWidth(220);  // "<name> : <address>" titles
    servers->setAction([servers] { KavioNMCManager::sharedManager().selectServer(servers->titleOfSelectedItem()); });
    // The manager's state is what the controls show; the handler outlives nothing it shows.
    KavioNMCManager::sharedManager().setMenuHandler(
        [shownMaster = QPointer<KavioButton>(master), shownServers = QPointer<KavioPopUpButton>(servers)](
            const KavioNMCManager::Menu& menu) {
            if (shownMaster)
                shownMaster->setStateByOSC(menu.masterSwitch ? 1 : 0);
            if (!shownServers)
                return;
            shownServers->removeAllItems();
            for (const QString& title : menu.titles) {
                if (title.isEmpty())
                    shownServers->insertSeparatorItem(shownServers->numberOfItems());
                else
                    shownServers->addItem(title, 0);
            }
            shownServers->selectItemWithTitle(menu.selected);
            shownServers->setEnabled(menu.enabled);
        });
    transport->addWidget(master);
    transport->addWidget(servers);
    outlets.nmcEnableButton = master;
    outlets.nmcServersPopup = servers;
}

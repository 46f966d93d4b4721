// The sync-source and interface settings: the MIDI sources of MTC, MMC, MSC and the triggers,
// the LTC input device and channel, the free-wheel time and the Art-Net interface, kept in step
// with the devices that come and go. The list rules are KavioSyncSourceLists'; here they are fed
// and shown. Main thread.

#include "Shell/AppDelegate.h"

#include "AudioBackend.h"
#include "Audio/QVTAudioInput.h"
#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NetworkInterfaces.h"
#include "QVTLightingManager.h"
#include "QVTMIDIManager.h"
#include "Shell/KavioSyncSourceLists.h"
#include "Support/KavioPopUpButtonInterface.h"
#include "Views/KavioPopUpButton.h"

#include <QAction>

using namespace KavioSyncSourceLists;

namespace {

constexpr int kFixedEntries = 2;  // "Disabled" and the separator lead the source pop-ups
constexpr uint64_t kArtNetOemCode = 0x13F8;

// Shows `titles` from entry `from` on (the entries before it stay) and selects `selected`.
// An empty title is a separator where the pop-up draws one.
void showTitles(KavioPopUpButtonInterface* popup, int from, const QStringList& titles, const QString& selected)
{
    if (!popup)
        return;
    for (int i = popup->numberOfItems() - 1; i >= from; --i)
        popup->removeItemAtIndex(i);
    auto* drawn = dynamic_cast<KavioPopUpButton*>(popup);
    for (const QString& title : titles) {
        if (title.isEmpty()) {
            if (drawn)
                drawn->insertSeparatorItem(drawn->numberOfItems());
        } else {
            popup->addItem(title, 0);
        }
    }
    popup->selectItemWithTitle(selected);
}

void setMenuItemEnabled(QAction* item, bool enabled)
{
    if (!item)
        return;
    // The window's validation keeps what the owner gave (see KavioWindow).
    item->setProperty("kavioOwnEnabled", enabled);
    item->setEnabled(enabled);
}

QString titleOf(const KavioPopUpButtonInterface* popup)
{
    return popup ? popup->titleOfSelectedItem() : QString();
}

bool isConnectedTitle(const QString& title)
{
    return !title.isEmpty() && title != kDisabled && !title.contains(kDisconnected);
}

}  // namespace

// --- MIDI sources ----------------------------------------------------------------------------

AppDelegate::MIDISourceChoice AppDelegate::midiSourceChoice(KavioMIDISourceKind kind)
{
    AppDelegateLastInterfaces& last = lastInterfaces_;
    switch (kind) {
    case KavioMIDISourceKind::MTC:
        return {outlets_.mtcSourcePopup, &selectedMTCSyncSource_, &last.mtc};
    case KavioMIDISourceKind::MMC:
        return {outlets_.mmcSourcePopup, &selectedMMCSource_, &last.mmc};
    case KavioMIDISourceKind::MSC:
        return {outlets_.mscSourcePopup, &selectedMSCSource_, &last.msc};
    case KavioMIDISourceKind::MIDI:
        break;
    }
    return {outlets_.midiSourcePopup, &selectedMIDISource_, &last.midi};
}

QString AppDelegate::selectedSource(KavioMIDISourceKind kind) const
{
    return *const_cast<AppDelegate*>(this)->midiSourceChoice(kind).selected;
}

std::shared_ptr<QVTMIDIReceiverNode> AppDelegate::currentSource(KavioMIDISourceKind kind) const
{
    const QString name = selectedSource(kind);
    return midiManager_ && !name.isNull() ? midiManager_->sourceNodeNamed(name) : nullptr;
}

void AppDelegate::midiSetupChanged()
{
    // Posted on the thread that ran the manager's refresh. The move is not waited for: the MIDI
    // input thread must never wait for the main thread (a refresh there may wait for it).
    if (!DispatchQueue::isMainThread()) {
        DispatchQueue::main().async([weakSelf = weak_from_this()] {
            if (const auto self = weakSelf.lock())
                self->midiSetupChanged();
        });
        return;
    }
    const QStringList names = midiManager_ ? midiManager_->midiSourceNames() : QStringList();
    constexpr KavioMIDISourceKind kinds[] = {KavioMIDISourceKind::MIDI, KavioMIDISourceKind::MMC,
                                             KavioMIDISourceKind::MSC, KavioMIDISourceKind::MTC};
    for (const KavioMIDISourceKind kind : kinds) {
        const MIDISourceChoice choice = midiSourceChoice(kind);
        QStringList titles = names;
        // A fresh start takes the first source for every function.
        QString selected = choice.selected->isNull() && !names.isEmpty() ? names.first() : *choice.selected;
        if (!choice.lastInterface->isEmpty()) {
            QStringList all = QStringList{kDisabled, kSeparator} + titles;
            selected = rememberedTitle(all, *choice.lastInterface);
            titles = all.mid(kFixedEntries);
        }
        showTitles(choice.popup, kFixedEntries, titles, selected);
        if (kind == KavioMIDISourceKind::MTC)
            setSelectedMTCSyncSource(selected);
        else
            *choice.selected = selected;
    }
    for (const KavioMIDISourceKind kind : {KavioMIDISourceKind::MTC, KavioMIDISourceKind::MMC,
                                           KavioMIDISourceKind::MSC, KavioMIDISourceKind::MIDI})
        refreshMenuForSelectedSource(kind);
    setupMMCListener();
    setupMSCListener();
    setupMIDIListener();
}

void AppDelegate::midiSourceSelected(KavioMIDISourceKind kind)
{
    setHasUnsavedChanges(true);
    const MIDISourceChoice choice = midiSourceChoice(kind);
    const QString title = titleOf(choice.popup);
    if (kind == KavioMIDISourceKind::MTC)
        setSelectedMTCSyncSource(title);
    else
        *choice.selected = title;
    if (!title.contains(kDisconnected))
        *choice.lastInterface = title == kDisabled ? QString() : title;
    refreshMenuForSelectedSource(kind);
    switch (kind) {
    case KavioMIDISourceKind::MMC:
        setupMMCListener();
        break;
    case KavioMIDISourceKind::MSC:
        setupMSCListener();
        break;
    case KavioMIDISourceKind::MIDI:
        setupMIDIListener();
        break;
    case KavioMIDISourceKind::MTC:
        break;
    }
}

void AppDelegate::refreshMenuForSelectedSource(KavioMIDISourceKind kind)
{
    const MIDISourceChoice choice = midiSourceChoice(kind);
    if (choice.selected->isNull() || !choice.popup)
        return;
    if (choice.popup->selectItemWithTitle(*choice.selected))
        return;
    // The selection falls back to the first source.
    QStringList titles;
    if (auto* drawn = dynamic_cast<KavioPopUpButton*>(choice.popup))
        for (int i = 0; i < drawn->numberOfItems(); ++i)
            titles.append(drawn->itemAtIndex(i).title);
    const QString fallback = fallbackSelection(titles, *choice.selected);
    // Shown too: a pop-up that lost its selected entry would otherwise show none.
    choice.popup->selectItemWithTitle(fallback);
    if (kind == KavioMIDISourceKind::MTC)
        setSelectedMTCSyncSource(fallback);
    else
        *choice.selected = fallback;
}

void AppDelegate::setSelectedMTCSyncSource(const QString& name)
{
    selectedMTCSyncSource_ = name;
    if (const auto controller = outlets_.controller)
        controller->syncSourceChanged(currentSource(KavioMIDISourceKind::MTC));
    validateMIDISyncSource();
}

void AppDelegate::validateMIDISyncSource()
{
    setMenuItemEnabled(outlets_.mtcSource, currentSource(KavioMIDISourceKind::MTC) != nullptr);
}

void AppDelegate::setupMMCListener()
{
    KLOG_INFO("setupMMCListener: {} ", selectedMMCSource_.toStdString());
    if (const auto controller = outlets_.controller)
        controller->masterClock()->setMmcSourceNode(currentSource(KavioMIDISourceKind::MMC));
}

void AppDelegate::setupMSCListener()
{
    KLOG_INFO("setupMSCListener: {} ", selectedMSCSource_.toStdString());
    if (const auto controller = outlets_.controller)
        controller->masterClock()->setMscSourceNode(currentSource(KavioMIDISourceKind::MSC));
}

// --- LTC -------------------------------------------------------------------------------------

void AppDelegate::buildLTCSourcesList()
{
    const std::shared_ptr<AudioBackend> backend = AudioBackend::shared();
    ltcDevices_ = ltcDevices(backend->devices());
    AudioDeviceInfo defaultInput;
    const bool hasDefault = backend->deviceInfo(backend->defaultInputDevice(), &defaultInput);
    QStringList titles;
    QString selected = titleOf(outlets_.ltcSourcePopup);
    for (const auto& [name, uid] : ltcDevices_) {
        KLOG_INFO("(input) UID: {} Name: {}", uid.toStdString(), name.toStdString());
        titles.append(name);
        if (hasDefault && QString::fromStdString(defaultInput.uid) == uid)
            selected = name;
    }
    const QString remembered = lastInterfaces_.ltc;
    if (!remembered.isEmpty()) {
        QStringList all = QStringList{kDisabled, kSeparator} + titles;
        selected = rememberedTitle(all, remembered);
        titles = all.mid(kFixedEntries);
    } else if (!selectedLTCSyncSource_.isEmpty() && (titles.contains(selectedLTCSyncSource_) ||
                                                     selectedLTCSyncSource_ == kDisabled)) {
        selected = selectedLTCSyncSource_;
    }
    showTitles(outlets_.ltcSourcePopup, kFixedEntries, titles, selected);
    // A device list change that leaves the chosen device where it was changes nothing.
    if (titleOf(outlets_.ltcSourcePopup) == selectedLTCSyncSource_ && (!isConnectedTitle(selectedLTCSyncSource_) ||
                                                                        ltcInput_))
        return;
    ltcSourceSelected();
}

void AppDelegate::ltcSourceSelected()
{
    setHasUnsavedChanges(true);
    const QString title = titleOf(outlets_.ltcSourcePopup);
    selectedLTCSyncSource_ = title;
    QString uid;
    for (const auto& [name, deviceUID] : ltcDevices_)
        if (name == title)
            uid = deviceUID;
    if (isConnectedTitle(title) && !uid.isEmpty()) {
        if (ltcInput_)
            ltcInput_->setDeviceUID(uid);
        else
            ltcInput_ = std::make_shared<QVTAudioInput>(uid);
        lastInterfaces_.ltc = title;
    } else {
        if (title == kDisabled)
            lastInterfaces_.ltc.clear();
        ltcInput_.reset();
    }
    refreshMenuForSelectedLTCSource();
    if (const auto controller = outlets_.controller)
        controller->masterClock()->setLtcInputNode(ltcInput_);
    validateLTCSyncSource();
}

void AppDelegate::validateLTCSyncSource()
{
    setMenuItemEnabled(outlets_.ltcSource, !selectedLTCSyncSource_.isEmpty() && selectedLTCSyncSource_ != kDisabled);
}

void AppDelegate::refreshMenuForSelectedLTCSource()
{
    KavioPopUpButtonInterface* popup = outlets_.ltcSourceChannelPopup;
    if (!popup)
        return;
    if (!ltcInput_ || !isConnectedTitle(selectedLTCSyncSource_)) {
        showTitles(popup, 0, {kNone}, kNone);
        popup->setEnabled(false);
        return;
    }
    popup->setEnabled(true);
    QStringList titles;
    for (uint64_t n = 1; n <= ltcInput_->deviceChannelCount(); ++n)
        titles.append(QString::number(n));
    const QString current = QString::number(ltcInput_->inputChannel() + 1);
    showTitles(popup, 0, titles, current);
    if (popup->titleOfSelectedItem() != current)
        ltcSourceChannelSelected();
}

void AppDelegate::ltcSourceChannelSelected()
{
    if (ltcInput_)
        ltcInput_->setInputChannel(ltcChannelForTitle(titleOf(outlets_.ltcSourceChannelPopup),
                                                      ltcInput_->deviceChannelCount()));
}

void AppDelegate::changeFreeWheelTime()
{
    if (const auto controller = outlets_.controller)
        controller->masterClock()->setFreeWheelFrames(freeWheelFrames(titleOf(outlets_.freeWheelTimePopup)));
}

// --- Art-Net interface -----------------------------------------------------------------------

void AppDelegate::setNetworkInterfacesProvider(NetworkInterfacesProvider provider)
{
    networkInterfaces_ = std::move(provider);
}

void AppDelegate::refreshNetworkInterfaceList()
{
    const QVariantMap configuration = networkInterfaces_ ? networkInterfaces_()
                                                         : networkConfiguration(systemNetworkInterfaces());
    if (hasNetworkConfiguration_ && configuration == currentNetworkConfiguration_)
        return;
    if (hasNetworkConfiguration_)
        KLOG_INFO("new network config: {}", QStringList(configuration.keys()).join(QStringLiteral(", ")).toStdString());
    hasNetworkConfiguration_ = true;
    currentNetworkConfiguration_ = configuration;
    rebuildNetworkInterfacesMenu();
}

void AppDelegate::rebuildNetworkInterfacesMenu()
{
    const DmxMenu menu = dmxMenu(currentNetworkConfiguration_, lastInterfaces_.dmx, titleOf(outlets_.dmxSourcePopup));
    dmxTitles_ = menu.titles;
    dmxAddresses_ = menu.addresses;
    showTitles(outlets_.dmxSourcePopup, 0, menu.titles, menu.selected);
    dmxSourceSelected(false);
}

void AppDelegate::dmxSourceSelected(bool markChanged)
{
    if (markChanged)
        setHasUnsavedChanges(true);
    const QString title = titleOf(outlets_.dmxSourcePopup);
    QVTLightingManager& lighting = QVTLightingManager::sharedManager();
    const qsizetype index = dmxTitles_.indexOf(title);
    const QString address = index < 0 ? QString() : dmxAddresses_.value(index);
    const bool real = title != kDisable && !title.contains(kDisconnected) && !address.isEmpty();
    for (KavioPopUpButtonInterface* popup : {outlets_.dmxSubNetPopup, outlets_.dmxUniversePopup})
        if (popup)
            popup->setEnabled(real);
    if (real) {
        lastInterfaces_.dmx = title;
        setLearnButtonsEnabled(true, true);
        // A new receiver starts from an empty channel cache: the next ArtDmx would then report
        // every channel as changed and fire each bound trigger. The same address keeps it.
        if (lighting.inputPortInterface() != address || !lighting.receiverNode())
            lighting.setInputPortInterface(address);
        KLOG_INFO("start listening DMX on {}", lighting.inputPortInterface().value_or(QString()).toStdString());
        lighting.setOemCode(kArtNetOemCode);
        lighting.listenNet(0, dmxSubUni(titleOf(outlets_.dmxSubNetPopup), titleOf(outlets_.dmxUniversePopup)));
        return;
    }
    if (title == kDisable)
        lastInterfaces_.dmx.clear();
    lighting.setInputPortInterface(QString());
    disableLearns();
    setLearnButtonsEnabled(true, false);
}

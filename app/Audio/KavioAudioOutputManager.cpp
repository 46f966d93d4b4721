#include "Audio/KavioAudioOutputManager.h"

#include "Audio/KavioAudioChannelsView.h"
#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Audio/KavioAudioStreamersManager.h"
#include "Controller/KavioVideoItemManagerInterface.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "Support/KavioAlert.h"
#include "UserDefaults.h"
#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioSlider.h"
#include "Views/KavioTextField.h"

#include <QSpinBox>
#include <QTabWidget>

#include <cmath>

namespace {

const QString kExtendMonoFilesPopup = QStringLiteral("extendMonoFilesPopup");
const QString kExtendMonoFiles = QStringLiteral("extendMonoFiles");
const QString kAudioVolumeNormalization = QStringLiteral("audioVolumeNormalization");
const QString kAudioOutput = QStringLiteral("audioOutput");
const QString kAudioChannels = QStringLiteral("audioChannels");
const QString kShouldUseStereoDownmix = QStringLiteral("shouldUseStereoDownmix");

const QString kRecordDevicesPopup = QStringLiteral("audioDevicesPopup");
const QString kRecordDeviceUID = QStringLiteral("selectedDefaultOutputDeviceUUID");
const QString kRecordMainVolume = QStringLiteral("mainVolumeSlider");
const QString kRecordChannelsView = QStringLiteral("audioChannelsView");
const QString kRecordDelay = QStringLiteral("audioDelay");
const QString kRecordChannels = QStringLiteral("audioChannels");

UserDefaults& defaults() { return UserDefaults::standardUserDefaults(); }
NotificationCenter& center() { return NotificationCenter::defaultCenter(); }

// A device item's represented object: device id, UID, output channels.
QVariantList deviceOf(const KavioPopUpButton* popup, int index) {
    const QVariantList device = popup->itemAtIndex(index).representedObject.toList();
    return device.size() == 3 ? device : QVariantList{};
}

}  // namespace

KavioAudioOutputManager::KavioAudioOutputManager(KavioAudioEngine& engine,
                                                 KavioAudioStreamersManager& streamers)
    : engine_(engine), streamers_(streamers), panel_(new KavioAudioOutputPanel),
      alive_(std::make_shared<KavioAudioOutputManager*>(this)) {
    panel_->setActions({
        [this] { audioDeviceSelected(); },
        [this] { changeAudioChannels(); },
        [this] { masterVolumeChanged(VolumeSender::Slider); },
        [this] { masterVolumeChanged(VolumeSender::Field); },
        [this] { audioDelayChanged(); },
        [this] { changeExtendMonoFiles(); },
        [this] { changeAudioNormalizationEnabled(); },
    });
}

KavioAudioOutputManager::KavioAudioOutputManager()
    : KavioAudioOutputManager(KavioAudioEngine::sharedEngine(), KavioAudioStreamersManager::sharedManager()) {}

KavioAudioOutputManager::~KavioAudioOutputManager() {
    alive_.reset();
    for (NotificationCenter::Token token : tokens_) center().removeObserver(token);
    if (panel_ && !panel_->parent()) delete panel_.data();
}

void KavioAudioOutputManager::setController(std::weak_ptr<KavioVideoItemManagerInterface> controller) {
    controller_ = std::move(controller);
}

bool KavioAudioOutputManager::projectIsLoading() const {
    auto controller = controller_.lock();
    return controller && controller->isLoadingProject();
}

QList<int> KavioAudioOutputManager::outputChannelMapping() const {
    // The grid lives on the main thread; other threads get the routing it last showed there.
    std::lock_guard lock(mappingGuard_);
    if (DispatchQueue::isMainThread() && panel_) mapping_ = panel_->channelsView()->channelMapping();
    return mapping_;
}

std::optional<AudioDeviceID> KavioAudioOutputManager::selectedOutputDeviceUID() const {
    const AudioDeviceID device = selectedOutputDevice_;
    return device ? std::optional(device) : std::nullopt;
}

bool KavioAudioOutputManager::isMainVolumeEnabled() const { return panel_->mainVolumeSliderWidget()->isEnabled(); }

void KavioAudioOutputManager::grabDefaultAudioDeviceID() {
    const AudioDeviceID device = engine_.backend()->defaultOutputDevice();
    if (device == 0) KLOG_VERBOSE("error, cannot get kAudioHardwarePropertyDefaultOutputDevice: {}", 0);
    defaultAudioDeviceID_ = device;
}

// --- Start -----------------------------------------------------------------------------------

void KavioAudioOutputManager::startManager() {
    KavioPopUpButton* spread = panel_->extendMonoFilesEnabledPopup();
    if (defaults().hasKey(kExtendMonoFilesPopup)) {
        spread->selectItemWithTag(defaults().integerForKey(kExtendMonoFilesPopup));
    } else {
        if (defaults().hasKey(kExtendMonoFiles) && defaults().boolForKey(kExtendMonoFiles)) spread->selectItemWithTag(10);
        defaults().setInteger(int(spread->selectedTag()), kExtendMonoFilesPopup);
    }
    if (defaults().hasKey(kAudioVolumeNormalization))
        panel_->audioVolumeNormalizationEnabledButton()->setState(defaults().boolForKey(kAudioVolumeNormalization) ? 1 : 0);
    else
        defaults().setBool(true, kAudioVolumeNormalization);

    delay_ = 0;
    defaultAudioDeviceID_ = 0;
    selectedOutputDevice_ = 0;
    hasNoOutputDeviceAtAll_ = true;
    isDisabled_ = false;
    isSystemsDefault_ = true;
    panel_->audioDevicesPopup()->selectItemWithTitle(KavioAudioOutputPanel::kSystemsDefaultAndStreams);
    audioOutputKind_ = kKindDefaultAndStreams;
    grabDefaultAudioDeviceID();
    buildAudioDevicesList();
    if (defaults().hasKey(kAudioOutput))
        panel_->audioDevicesPopup()->selectItemWithTitle(defaults().stringForKey(kAudioOutput));
    else
        defaults().setString(KavioAudioOutputPanel::kSystemsDefaultAndStreams, kAudioOutput);

    shouldUseStereoDownMix_ = true;
    panel_->channelsView()->disableEditing();
    KavioPopUpButton* channelsPopup = panel_->audioChannelsPopup();
    long channels = 2;
    if (!defaults().hasKey(kAudioChannels)) {
        defaults().setInteger(2, kAudioChannels);
        defaults().synchronize();
    } else if (defaults().integerForKey(kAudioChannels) == 0) {
        KLOG_VERBOSE("error, no channels in user preferences...");
        defaults().setInteger(2, kAudioChannels);
    } else {
        channels = defaults().integerForKey(kAudioChannels);
        if (!channelsPopup->selectItemWithTitle(QString::number(channels))) {
            KLOG_VERBOSE("error, there are no audio channel popup item with: {}", channels);
            // Two channels everywhere, so the pop-up, the grid and the engine agree.
            channels = 2;
            defaults().setInteger(2, kAudioChannels);
        }
    }
    if (channels == 2) channelsPopup->selectItemWithTitle(QStringLiteral("2"));
    if (defaults().hasKey(kShouldUseStereoDownmix)) {
        shouldUseStereoDownMix_ = defaults().boolForKey(kShouldUseStereoDownmix);
    } else {
        defaults().setBool(true, kShouldUseStereoDownmix);
        defaults().synchronize();
    }
    // The down-mix is stored apart from the count: with 2 channels it shows as "Stereo", so it
    // survives a restart.
    if (shouldUseStereoDownMix_ && channels == 2) channelsPopup->selectItemWithTitle(KavioAudioOutputPanel::kStereo);
    panel_->channelsView()->setPlayerChannelCount(uint64_t(channels));
    panel_->channelsView()->rebuildChannelsViewWithCount(int(channels));

    audioDeviceSelected();
    audioChannelsSelected();
    if (!engine_.isRunning()) KLOG_VERBOSE("error, engine is not running!");
    observeSystem();
}

void KavioAudioOutputManager::observeSystem() {
    std::weak_ptr<KavioAudioOutputManager*> alive = alive_;
    auto onMain = [alive](std::function<void(KavioAudioOutputManager&)> work) {
        DispatchQueue::main().async([alive, work = std::move(work)] {
            if (auto self = alive.lock()) work(**self);
        });
    };
    tokens_.push_back(center().addObserver(this, KavioAudioEngine::kConfigurationChangeNotification, &engine_,
                                           [onMain](const Notification&) {
                                               onMain([](KavioAudioOutputManager& self) {
                                                   KLOG_VERBOSE("KavioAudioEngine interrupted!");
                                                   self.restartAudioEngineWithNewSettings();
                                               });
                                           }));
    tokens_.push_back(center().addObserver(this, KavioAudioEngine::kDevicesChangedNotification, &engine_,
                                           [onMain](const Notification&) {
                                               KLOG_VERBOSE("audio configuration has been changed!");
                                               onMain([](KavioAudioOutputManager& self) {
                                                   center().post(KavioAudioNotification::SetupChanged);
                                                   self.buildAudioDevicesList();
                                               });
                                           }));
    tokens_.push_back(center().addObserver(
        this, KavioAudioEngine::kDefaultOutputChangedNotification, &engine_, [alive, onMain](const Notification&) {
            KLOG_VERBOSE("default audio device has been changed!");
            auto self = alive.lock();
            if (!self) return;
            (*self)->grabDefaultAudioDeviceID();
            if (!(*self)->isSystemsDefault()) return;
            onMain([](KavioAudioOutputManager& manager) {
                manager.selectedOutputDevice_ = manager.defaultAudioDeviceID_.load();
                manager.restartAudioEngineWithNewSettings();
            });
        }));
    tokens_.push_back(center().addObserver(this, KavioAudioChannelsView::kChannelMappingChanged,
                                           panel_->channelsView(),
                                           [this](const Notification&) { channelRoutingChanged(); }));
}

// --- Devices ---------------------------------------------------------------------------------

void KavioAudioOutputManager::buildAudioDevicesList() {
    KLOG_VERBOSE("buildAudioDevicesList");
    KavioPopUpButton* popup = panel_->audioDevicesPopup();
    const QString remembered = popup->titleOfSelectedItem();
    while (popup->numberOfItems() > KavioAudioOutputPanel::kFixedOutputItems) popup->removeItemAtIndex(popup->numberOfItems() - 1);
    const std::vector<AudioDeviceInfo> devices = engine_.backend()->devices();
    KLOG_VERBOSE("audiodevice count: {}", devices.size());
    for (const AudioDeviceInfo& device : devices) {
        if (device.outputChannels <= 0) {
            KLOG_VERBOSE("current device has no output, move to the next...");
            continue;
        }
        const QString name = device.name.empty() ? QStringLiteral(" ") : QString::fromStdString(device.name);
        const QString uid = QString::fromStdString(device.uid);
        KLOG_VERBOSE("(output) UID:{} Name:{} Channels:{}", device.uid, name.toStdString(), device.outputChannels);
        if (name == uid) continue;
        // Titled after it is added, so that two devices of one name both appear.
        popup->addItemWithTitle(QString());
        const int index = popup->numberOfItems() - 1;
        popup->setItemTitle(index, name);
        popup->setItemRepresentedObject(index, QVariantList{uint(device.id), uid, device.outputChannels});
        hasNoOutputDeviceAtAll_ = false;
    }
    handleAudioDeviceSelectionWithLastSelectedOption(remembered, [this] { audioDeviceSelected(); });
}

void KavioAudioOutputManager::handleAudioDeviceSelectionWithLastSelectedOption(const QString& title,
                                                                               const std::function<void()>& ifChanged) {
    KavioPopUpButton* popup = panel_->audioDevicesPopup();
    if (popup->selectItemWithTitle(title)) return;
    if (title.contains(kDisconnectedSuffix)) {
        QString stripped = title;
        stripped.remove(kDisconnectedSuffix);
        if (popup->selectItemWithTitle(stripped)) {
            isDisabled_ = false;
        } else {
            // Still missing: it stays selected as disconnected, and output stays off.
            popup->addItemWithTitle(title);
            popup->selectItemWithTitle(title);
            isDisabled_ = true;
        }
    } else {
        const QString disconnected = title + kDisconnectedSuffix;
        if (popup->indexOfItemWithTitle(disconnected) < 0) popup->addItemWithTitle(disconnected);
        popup->selectItemWithTitle(disconnected);
        isDisabled_ = true;
    }
    if (ifChanged) ifChanged();
}

// --- Output choice ---------------------------------------------------------------------------

void KavioAudioOutputManager::audioDeviceSelected() {
    KLOG_VERBOSE("audioDeviceSelected");
    KavioPopUpButton* popup = panel_->audioDevicesPopup();
    if (!projectIsLoading() && popup->titleOfSelectedItem().contains(QStringLiteral("Blackmagic"))) {
        KavioAlertSpec alert;
        alert.messageText = QStringLiteral("Please confirm selection");
        alert.informativeText = QStringLiteral(
            "If you intend to output audio & video thru a Blackmagic device, please select the \"NDI & SDI\" output "
            "option instead to maintain sync between audio & video.");
        alert.buttons = {QStringLiteral("Use NDI & SDI"), QStringLiteral("Keep selection")};
        if (KavioAlert::runModal(alert).response == KavioAlert::FirstButtonReturn)
            popup->selectItemWithTitle(KavioAudioOutputPanel::kStreamsOnly);
    }
    center().post(KavioAudioNotification::ProjectHasUnsavedChanges);
    const QString title = popup->titleOfSelectedItem();
    auto announceVolume = [] { center().post(KavioAudioNotification::MasterVolumeChanged, nullptr); };
    if (title == KavioAudioOutputPanel::kDisabled) {
        isDisabled_ = true;
        streamers_.setIsEnabled(false);
        isSystemsDefault_ = false;
        panel_->setMainVolumeEnabled(false);
        announceVolume();
    } else if (title == KavioAudioOutputPanel::kSystemsDefault || title == KavioAudioOutputPanel::kSystemsDefaultAndStreams) {
        const bool wasSystemsDefault = isSystemsDefault_;
        isDisabled_ = false;
        isSystemsDefault_ = true;
        const bool withStreams = title == KavioAudioOutputPanel::kSystemsDefaultAndStreams;
        streamers_.setIsEnabled(withStreams);
        audioOutputKind_ = withStreams ? kKindDefaultAndStreams : kKindDevice;
        selectedOutputDevice_ = defaultAudioDeviceID_.load();
        panel_->setMainVolumeEnabled(true);
        announceVolume();
        if (!wasSystemsDefault) audioChannelsSelected();
    } else if (title == KavioAudioOutputPanel::kStreamsOnly) {
        isDisabled_ = false;
        isSystemsDefault_ = true;
        streamers_.setIsEnabled(true);
        audioOutputKind_ = kKindStreamsOnly;
        selectedOutputDevice_ = defaultAudioDeviceID_.load();
        panel_->setMainVolumeEnabled(true);
        announceVolume();
    } else if (title.contains(kDisconnectedSuffix)) {
        isDisabled_ = true;
        panel_->setMainVolumeEnabled(false);
        announceVolume();
    } else {
        isDisabled_ = false;
        isSystemsDefault_ = false;
        audioOutputKind_ = kKindDevice;
        streamers_.setIsEnabled(false);
        panel_->setMainVolumeEnabled(true);
        const QVariantList device = deviceOf(popup, popup->indexOfSelectedItem());
        const AudioDeviceID id = device.isEmpty() ? 0 : device[0].toUInt();
        if (id == selectedOutputDevice_) {
            announceVolume();
        } else {
            selectedOutputDevice_ = id;
            KLOG_VERBOSE("setSelectedOutputDeviceUID: {}", id);
            audioChannelsSelected();
        }
    }
    restartAudioEngineWithNewSettings();
}

void KavioAudioOutputManager::restartAudioEngineWithNewSettings() {
    if (!engine_.processingFormat()) return;
    engine_.stopEngine();
    engine_.setupProcessingFormatWithChannels(int(outputChannelMapping().size()), shouldUseStereoDownMix_);
    if (engine_.setAUDeviceID(selectedOutputDevice_) != 0) {
        KLOG_VERBOSE("cannot set AU device ID, device is possibly missing. Fallback to system's default...");
        if (engine_.setAUDeviceID(defaultAudioDeviceID_) != 0)
            KLOG_VERBOSE("... couldn't set it, there is a BIG problem now!");
    }
    center().post(KavioAudioNotification::MasterVolumeChanged, this);
    engine_.startEngine();
}

// --- Channels --------------------------------------------------------------------------------

void KavioAudioOutputManager::changeAudioChannels() {
    const QString title = panel_->audioChannelsPopup()->titleOfSelectedItem();
    int channels = 2;
    if (title == KavioAudioOutputPanel::kStereo) {
        defaults().setBool(true, kShouldUseStereoDownmix);
    } else {
        channels = std::clamp(title.toInt(), 1, KavioAudioOutputPanel::kMaxChannels);
        defaults().setBool(false, kShouldUseStereoDownmix);
    }
    applyChannelCount(channels);
}

void KavioAudioOutputManager::applyChannelCount(int channels) {
    defaults().setInteger(channels, kAudioChannels);
    defaults().synchronize();
    panel_->channelsView()->setPlayerChannelCount(uint64_t(channels));
    panel_->channelsView()->rebuildChannelsViewWithCount(channels);
    audioChannelsSelected();
}

void KavioAudioOutputManager::audioChannelsSelected() {
    center().post(KavioAudioNotification::ProjectHasUnsavedChanges);
    const bool oldDownMix = shouldUseStereoDownMix_;
    shouldUseStereoDownMix_ = panel_->audioChannelsPopup()->titleOfSelectedItem() == KavioAudioOutputPanel::kStereo;
    applyGridEditing();
    const QList<int> mapping = outputChannelMapping();
    const auto format = engine_.processingFormat();
    const bool rebuild =
        !format || int(format->channelCount()) != mapping.size() || oldDownMix != shouldUseStereoDownMix_;
    if (rebuild) {
        engine_.stopEngine();
        engine_.setupProcessingFormatWithChannels(int(mapping.size()), shouldUseStereoDownMix_);
    }
    streamers_.setChannelCount(int32_t(mapping.size()));
    if (!rebuild) return;
    QVariantMap info;
    if (const AudioDeviceID device = selectedOutputDevice_) {
        QVariantList routing;
        for (int v : mapping) routing.append(v);
        info = {{KavioAudioNotification::DeviceIDKey, uint(device)}, {KavioAudioNotification::ChannelMappingKey, routing}};
    }
    center().post(KavioAudioNotification::ChannelsChanged, this, info);
    engine_.startEngine();
}

void KavioAudioOutputManager::applyGridEditing() {
    if (shouldUseStereoDownMix_)
        panel_->channelsView()->disableEditing();
    else
        panel_->channelsView()->enableEditing();
}

void KavioAudioOutputManager::channelRoutingChanged() { center().post(KavioAudioNotification::RoutingChanged, this); }

// --- Volume, delay, mono spread, normalisation -----------------------------------------------

void KavioAudioOutputManager::masterVolumeChanged(VolumeSender sender) {
    KavioTextField* field = panel_->mainVolumeField();
    if (sender == VolumeSender::Field) {
        bool ok = false;
        const double decibels = field->text().toDouble(&ok);
        if (ok && std::isfinite(decibels)) panel_->setMainVolume(std::pow(10.0, decibels / 20.0));
    }
    mainVolume_ = panel_->mainVolume();
    field->setStringValue(QString::number(20.0 * std::log10(mainVolume_.load()), 'g', 4));
    center().post(KavioAudioNotification::ProjectHasUnsavedChanges);
    center().post(KavioAudioNotification::MasterVolumeChanged, this);
}

void KavioAudioOutputManager::audioDelayChanged() {
    const int delay = panel_->audioDelayField()->value();
    if (delay == delay_) return;
    delay_ = delay;
    center().post(KavioAudioNotification::DelayChanged, this);
}

void KavioAudioOutputManager::changeExtendMonoFiles() {
    defaults().setInteger(int(panel_->extendMonoFilesEnabledPopup()->selectedTag()), kExtendMonoFilesPopup);
    defaults().synchronize();
    channelRoutingChanged();
}

void KavioAudioOutputManager::changeAudioNormalizationEnabled() {
    defaults().setBool(panel_->audioVolumeNormalizationEnabledButton()->state() != 0, kAudioVolumeNormalization);
    defaults().synchronize();
}

void KavioAudioOutputManager::orderFrontAudioSetupWindow() {
    // The panel is a tab of the preferences window: that tab comes to the front.
    for (QWidget* w = panel_->parentWidget(); w; w = w->parentWidget())
        if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
            for (int i = 0; i < tabs->count(); ++i)
                if (tabs->widget(i)->objectName() == KavioAudioOutputPanel::kTabIdentifier ||
                    tabs->widget(i)->isAncestorOf(panel_))
                    tabs->setCurrentIndex(i);
            break;
        }
    panel_->window()->show();
    panel_->window()->raise();
    panel_->window()->activateWindow();
}

// --- Record ----------------------------------------------------------------------------------

QVariantMap KavioAudioOutputManager::saveData() const {
    KavioPopUpButton* popup = panel_->audioDevicesPopup();
    QVariantMap record;
    record.insert(kRecordDevicesPopup, popup->titleOfSelectedItem());
    const QVariantList device = deviceOf(popup, popup->indexOfSelectedItem());
    if (!device.isEmpty()) record.insert(kRecordDeviceUID, device[1].toString());
    record.insert(kRecordMainVolume, float(mainVolume_.load()));
    record.insert(kRecordChannelsView, panel_->channelsView()->saveData());
    record.insert(kRecordDelay, int(delay_));
    record.insert(kRecordChannels, panel_->audioChannelsPopup()->titleOfSelectedItem());
    return record;
}

void KavioAudioOutputManager::loadWithData(const QVariantMap& record) {
    if (record.isEmpty()) return;
    delay_ = record.value(kRecordDelay).toInt();
    panel_->audioDelayField()->setValue(delay_);

    if (record.contains(kRecordChannels) &&
        !panel_->audioChannelsPopup()->selectItemWithTitle(record.value(kRecordChannels).toString()))
        panel_->audioChannelsPopup()->selectItemWithTitle(QStringLiteral("2"));
    changeAudioChannels();

    // The device's UID finds it even when another device now has its name.
    KavioPopUpButton* popup = panel_->audioDevicesPopup();
    bool found = false;
    const QString uid = record.value(kRecordDeviceUID).toString();
    for (int i = KavioAudioOutputPanel::kFixedOutputItems; i < popup->numberOfItems() && !uid.isEmpty() && !found; ++i) {
        const QVariantList device = deviceOf(popup, i);
        if (!device.isEmpty() && device[1].toString() == uid) {
            popup->selectItemAtIndex(i);
            found = true;
        }
    }
    if (!found && record.contains(kRecordDevicesPopup))
        handleAudioDeviceSelectionWithLastSelectedOption(record.value(kRecordDevicesPopup).toString(), {});
    audioDeviceSelected();

    KavioAudioChannelsView* grid = panel_->channelsView();
    const uint64_t players = grid->playerChannelCount();
    grid->loadWithData(record.value(kRecordChannelsView).toMap());
    if (grid->playerChannelCount() != players) {
        KLOG_VERBOSE("devicechannels: {}, playerchannelcount: {}", players, grid->playerChannelCount());
        grid->setPlayerChannelCount(players);
        grid->rebuildChannelsViewWithCount(int32_t(players));
        audioChannelsSelected();
    }
    // The loaded grid comes editable; with the down-mix the routing is not its to decide.
    applyGridEditing();

    if (record.contains(kRecordMainVolume)) panel_->setMainVolume(record.value(kRecordMainVolume).toDouble());
    masterVolumeChanged(VolumeSender::Slider);
}

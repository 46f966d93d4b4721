#include "Remote/KavioATEMManager.h"

#include "Controller/KavioVideoItemManager.h"
#include "Remote/KavioHyperDeckServerInterface.h"
#include "Support/KavioAlert.h"
#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioTextField.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "NetworkInterfaces.h"
#include "NotificationCenter.h"
#include "UserDefaults.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QUrl>
#include <QVariantList>

#include <net/if.h>

namespace {

const QString kSelectedTitle = QStringLiteral("selectedATEMTitle");
const QString kSelectedUUID = QStringLiteral("selectedATEMUUID");
const QString kSelectedInput = QStringLiteral("selectedATEMInput");
const QString kOnSwitch = QStringLiteral("ATEMOnSwitchBehaviour");
const QString kOnPauseAtEnd = QStringLiteral("ATEMOnPauseAtEndBehaviour");
const QString kOnPauseAtEndMethod = QStringLiteral("ATEMOnPauseAtEndBehaviour_Method");
const QString kManualIP = QStringLiteral("ATEMManualIP");
const QString kHyperDeckState = QStringLiteral("HyperDeckState");
const QString kNetworkConfigurationDidChange = QStringLiteral("KavioNetworkConfigurationDidChangeNotification");
const QString kDisabled = QStringLiteral("Disabled");
const QString kManualIPTitle = QStringLiteral("Manual IP");
const QString kManualIPPrefix = QStringLiteral("Manual IP: ");
const QString kDisconnectedSuffix = QStringLiteral(" - DISCONNECTED");
const QString kSupportPage = QStringLiteral("https://www.blackmagicdesign.com/support/family/atem-live-production-switchers");

// The interfaces of Ethernet type, in the system's order.
QStringList ethernetInterfaces()
{
    QStringList names;
    if (struct if_nameindex* list = if_nameindex()) {
        for (struct if_nameindex* entry = list; entry->if_index != 0; ++entry) {
            const QString name = QString::fromLocal8Bit(entry->if_name);
            QFile type(QStringLiteral("/sys/class/net/%1/type").arg(name));
            // ARPHRD_ETHER, without a wireless part.
            if (type.open(QIODevice::ReadOnly) && type.readAll().trimmed() == "1" &&
                !QFile::exists(QStringLiteral("/sys/class/net/%1/wireless").arg(name)))
                names << name;
        }
        if_freenameindex(list);
    }
    return names;
}

bool isDottedQuad(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts) {
        // A part that is not a number counts as 0.
        const long long value = part.toLongLong();
        if (value < 0 || value > 255)
            return false;
    }
    return true;
}

}  // namespace

KavioATEMManager::KavioATEMManager(UserDefaults& defaults) : defaults_(defaults) {}

KavioATEMManager::~KavioATEMManager()
{
    NotificationCenter::defaultCenter().removeObserver(devicesObserver_);
    NotificationCenter::defaultCenter().removeObserver(networkObserver_);
    if (listener_)
        listener_->removeResources();
}

QVariantMap KavioATEMManager::allConnectedNetworks()
{
    return NetworkInterfaces::ipv4Snapshot();
}

QSet<QString> KavioATEMManager::localIPs()
{
    QSet<QString> ips;
    const QVariantMap networks = allConnectedNetworks();
    for (auto it = networks.cbegin(); it != networks.cend(); ++it) {
        const QVariantList addresses = it.value().toMap().value(QStringLiteral("Addresses")).toList();
        if (!addresses.isEmpty())
            ips.insert(addresses.front().toString());
    }
    return ips;
}

QString KavioATEMManager::hyperDeckAddress(const QStringList& interfaces, const QVariantMap& networks)
{
    QString address = QStringLiteral("-");
    for (const QString& name : interfaces) {
        const QVariantList addresses = networks.value(name).toMap().value(QStringLiteral("Addresses")).toList();
        if (addresses.isEmpty())
            continue;
        address = addresses.front().toString();
        KLOG_INFO("found interface, address: {}", address.toStdString());
    }
    return address;
}

void KavioATEMManager::setOutlets(const KavioATEMManagerOutlets& outlets)
{
    outlets_ = outlets;
    const std::weak_ptr<KavioATEMManager> weak = weak_from_this();
    const auto run = [weak](void (KavioATEMManager::*call)()) {
        return [weak, call] {
            if (const auto self = weak.lock())
                ((*self).*call)();
        };
    };
    if (outlets_.atemSwitchersPopup)
        outlets_.atemSwitchersPopup->setAction([weak] {
            if (const auto self = weak.lock())
                self->atemSwitcherSelected(true);
        });
    if (outlets_.atemSwitchersInputsPopup)
        outlets_.atemSwitchersInputsPopup->setAction(run(&KavioATEMManager::atemSwitcherInputSelected));
    if (outlets_.atemSwitchersOnSwitchBehaviour)
        outlets_.atemSwitchersOnSwitchBehaviour->setAction(run(&KavioATEMManager::atemSwitchersOnSwitchBehaviourChanged));
    if (outlets_.atemSwitchersOnPauseAtEndBehaviour)
        outlets_.atemSwitchersOnPauseAtEndBehaviour->setAction(run(&KavioATEMManager::atemSwitchersOnPauseAtEndBehaviourChanged));
    if (outlets_.hyperdeckEnabledButton)
        outlets_.hyperdeckEnabledButton->setAction(run(&KavioATEMManager::hyperDeckStateChanged));
    if (outlets_.manualIPConnectButton)
        outlets_.manualIPConnectButton->setAction(run(&KavioATEMManager::manualATEMIPConnect));
    if (outlets_.manualIPCancelButton)
        outlets_.manualIPCancelButton->setAction(run(&KavioATEMManager::manualATEMIPCancel));
    if (outlets_.manualATEMIPTextField) {
        QObject::connect(outlets_.manualATEMIPTextField, &QLineEdit::textChanged, outlets_.manualATEMIPTextField,
                         run(&KavioATEMManager::controlTextDidChange));
        // Return in the field clicks Connect.
        QObject::connect(outlets_.manualATEMIPTextField, &QLineEdit::returnPressed, outlets_.manualATEMIPTextField, [weak] {
            const auto self = weak.lock();
            if (self && self->outlets_.manualIPConnectButton && self->outlets_.manualIPConnectButton->isEnabled())
                self->manualATEMIPConnect();
        });
    }
    awakeFromNib();
}

void KavioATEMManager::awakeFromNib()
{
    if (outlets_.atemSwitchersProgressIndicator) {
        outlets_.atemSwitchersProgressIndicator->setRange(0, 0);
        outlets_.atemSwitchersProgressIndicator->setTextVisible(false);
        outlets_.atemSwitchersProgressIndicator->setVisible(false);
    }
    if (outlets_.atemSwitchersStatusField)
        outlets_.atemSwitchersStatusField->clear();
}

void KavioATEMManager::setBusy(bool busy, const QString& status)
{
    if (outlets_.atemSwitchersProgressIndicator)
        outlets_.atemSwitchersProgressIndicator->setVisible(busy);
    if (outlets_.atemSwitchersStatusField)
        outlets_.atemSwitchersStatusField->setText(status);
}

void KavioATEMManager::startManager()
{
    if (outlets_.manualATEMIPTextField && defaults_.hasKey(kManualIP))
        outlets_.manualATEMIPTextField->setStringValue(defaults_.stringForKey(kManualIP));
    defaultsSelected_ = false;
    driverInstalled_ = Vistrel::isAtemDriverInstalled();
    {
        std::lock_guard lock(mutex_);
        usePreviewForPauseAtEndTarget_ = false;
        inputs_.clear();
        inputToSelectOnPauseAtEnd_.reset();
        pauseAtEndSwitchMethod_ = KavioATEMSwitchMethodNone;
    }
    dropListener();
    selectedInputID_ = 0;

    updateATEMDeviceSelector();
    const std::weak_ptr<KavioATEMManager> weak = weak_from_this();
    NotificationCenter& center = NotificationCenter::defaultCenter();
    devicesObserver_ = center.addObserver(this, VistrelNetworkDevicesChangedNotification, nullptr, [weak](const Notification&) {
        if (const auto self = weak.lock())
            self->updateATEMDeviceSelector();
    });
    updateATEMInputSelector();
    updateATEMOnPauseAtEndSelector();

    if (KavioPopUpButton* onSwitch = outlets_.atemSwitchersOnSwitchBehaviour) {
        if (defaults_.hasKey(kOnSwitch))
            onSwitch->selectItemWithTag(defaults_.integerForKey(kOnSwitch));
        else
            defaults_.setInteger(onSwitch->selectedTag(), kOnSwitch);
        onSwitchBehaviour_ = onSwitch->selectedTag();
    }
    if (!defaults_.hasKey(kOnPauseAtEnd)) {
        defaults_.setInteger(0, kOnPauseAtEnd);
        defaults_.setInteger(0, kOnPauseAtEndMethod);
    } else {
        const auto method = std::int32_t(defaults_.integerForKey(kOnPauseAtEndMethod));
        {
            std::lock_guard lock(mutex_);
            pauseAtEndSwitchMethod_ = method;
        }
        selectSavedPauseAtEndEntry(defaults_.objectForKey(kOnPauseAtEnd), method);
    }

    if (!defaults_.hasKey(kHyperDeckState))
        defaults_.setBool(true, kHyperDeckState);
    if (outlets_.hyperdeckEnabledButton)
        outlets_.hyperdeckEnabledButton->setStateByOSC(defaults_.boolForKey(kHyperDeckState) ? 1 : 0);
    hyperDeckStateChanged();

    if (KavioButton* noDriver = outlets_.noDriverErrorButton) {
        noDriver->setButtonType(KavioButtonType::MomentaryPushIn);
        noDriver->cell().setDrawColor(QColor::fromRgbF(0.98f, 0.822f, 0.0f, 1.0f));
        noDriver->setDrawsErrorColor(true);
        noDriver->setVisible(!driverInstalled_);
        if (!driverInstalled_) {
            KLOG_WARN("ATEM driver is not installed!");
            noDriver->setAction([weak] {
                if (const auto self = weak.lock())
                    self->openBMDWebsite();
            });
        }
    }
    if (!driverInstalled_ && outlets_.atemSwitchersPopup)
        outlets_.atemSwitchersPopup->setEnabled(false);

    refreshHyperdeckIPField();
    networkObserver_ = center.addObserver(this, kNetworkConfigurationDidChange, nullptr, [weak](const Notification&) {
        DispatchQueue::main().async([weak] {
            if (const auto self = weak.lock())
                self->refreshHyperdeckIPField();
        });
    });
}

void KavioATEMManager::dropListener()
{
    std::shared_ptr<Vistrel> old;
    {
        std::lock_guard lock(mutex_);
        old = std::exchange(listener_, nullptr);
    }
    if (old)
        old->removeResources();
}

std::shared_ptr<Vistrel> KavioATEMManager::listener() const
{
    std::lock_guard lock(mutex_);
    return listener_;
}

std::int32_t KavioATEMManager::pauseAtEndSwitchMethod() const
{
    std::lock_guard lock(mutex_);
    return pauseAtEndSwitchMethod_;
}

std::shared_ptr<QVTAtemInput> KavioATEMManager::inputWithID(std::int64_t id) const
{
    for (const auto& input : inputs_) {
        if (input->id == id)
            return input;
    }
    return nullptr;
}

void KavioATEMManager::resetIntegration()
{
    dropListener();
    {
        std::lock_guard lock(mutex_);
        inputs_.clear();
        inputToSelectOnPauseAtEnd_.reset();
        usePreviewForPauseAtEndTarget_ = false;
    }
    selectedInputID_ = 0;
    defaultsSelected_ = false;
    updateATEMInputSelector();
    updateATEMOnPauseAtEndSelector();
}

void KavioATEMManager::updateATEMDeviceSelector()
{
    KavioPopUpButton* menu = outlets_.atemSwitchersPopup;
    if (!menu)
        return;
    const QString previous = menu->titleOfSelectedItem();
    KLOG_INFO("updateATEMDeviceSelector, _prevselected: {}", previous.toStdString());
    menu->removeAllItems();
    menu->addItemWithTitle(kDisabled);
    menu->insertSeparatorItem(menu->numberOfItems());
    menu->addItemWithTitle(QStringLiteral("USB"));
    menu->addItemWithTitle(defaults_.hasKey(kManualIP) ? kManualIPPrefix + defaults_.stringForKey(kManualIP) : kManualIPTitle);
    menu->insertSeparatorItem(menu->numberOfItems());
    for (const auto& device : Vistrel::networkDevices()) {
        const QString title = QStringLiteral("%1 - %2").arg(device->customName(), device->ip());
        menu->addItemWithTitle(title);
        menu->setItemRepresentedObject(menu->indexOfItemWithTitle(title), device->deviceID());
        KLOG_INFO("added item: {}", title.toStdString());
    }

    bool found = false;
    const bool titleSaved = defaults_.hasKey(kSelectedTitle);
    const QString savedTitle = defaults_.stringForKey(kSelectedTitle);
    if (titleSaved && menu->indexOfItemWithTitle(savedTitle) >= 0) {
        menu->selectItemWithTitle(savedTitle);
        found = true;
    } else if (titleSaved && defaults_.hasKey(kSelectedUUID)) {
        const QString uuid = defaults_.stringForKey(kSelectedUUID);
        for (int i = 0; i < menu->numberOfItems() && !found; ++i) {
            const QVariant object = menu->itemAtIndex(i).representedObject;
            if (object.isValid() && object.toString() == uuid) {
                menu->selectItemAtIndex(i);
                found = true;
            }
        }
    }
    if (found) {
        if (!previous.isEmpty() && (menu->titleOfSelectedItem() != previous || !listener())) {
            KLOG_INFO("found previously used ATEM, yeah!");
            defaultsSelected_ = false;
            atemSwitcherSelected(false);
        }
    } else if (titleSaved) {
        const QString title = savedTitle + kDisconnectedSuffix;
        menu->addItemWithTitle(title);
        menu->selectItemWithTitle(title);
        if (outlets_.atemSwitchersInputsPopup)
            outlets_.atemSwitchersInputsPopup->setEnabled(false);
    }
}

void KavioATEMManager::updateATEMInputSelector()
{
    KavioPopUpButton* menu = outlets_.atemSwitchersInputsPopup;
    if (!menu)
        return;
    QVTAtemDeviceInfo::Inputs inputs;
    {
        std::lock_guard lock(mutex_);
        inputs = inputs_;
    }
    menu->removeAllItems();
    for (const auto& input : inputs) {
        if (input->portType != QLatin1String("extn"))
            continue;
        const QString title = QStringLiteral("%1: %2").arg(input->id).arg(input->longName);
        menu->addItemWithTitle(title);
        menu->setItemRepresentedObject(menu->indexOfItemWithTitle(title), qlonglong(input->id));
    }
    // The chosen input stays chosen; otherwise the first, as a pop-up shows one.
    int chosen = 0;
    for (int i = 0; i < menu->numberOfItems(); ++i) {
        if (menu->itemAtIndex(i).representedObject.toLongLong() == selectedInputID_)
            chosen = i;
    }
    menu->selectItemAtIndex(menu->numberOfItems() > 0 ? chosen : -1);
    const bool disabled = outlets_.atemSwitchersPopup && outlets_.atemSwitchersPopup->titleOfSelectedItem() == kDisabled;
    menu->setEnabled(!disabled && !inputs.empty());
}

void KavioATEMManager::updateATEMOnPauseAtEndSelector()
{
    KavioPopUpButton* menu = outlets_.atemSwitchersOnPauseAtEndBehaviour;
    if (!menu)
        return;
    const QString previous = menu->titleOfSelectedItem();
    QVTAtemDeviceInfo::Inputs inputs;
    {
        std::lock_guard lock(mutex_);
        inputs = inputs_;
    }
    while (menu->numberOfItems() > 1)
        menu->removeItemAtIndex(menu->numberOfItems() - 1);
    if (menu->numberOfItems() == 1)
        menu->setItemRepresentedObject(0, qlonglong(0));
    const auto add = [menu](const QString& title, qlonglong value) {
        menu->addItemWithTitle(title);
        menu->setItemRepresentedObject(menu->indexOfItemWithTitle(title), value);
    };
    menu->insertSeparatorItem(menu->numberOfItems());
    add(QStringLiteral("CUT to Preview"), -10);
    add(QStringLiteral("AUTO to Preview"), -20);
    for (const QString& method : {QStringLiteral("CUT"), QStringLiteral("AUTO")}) {
        menu->insertSeparatorItem(menu->numberOfItems());
        for (const auto& input : inputs) {
            if (input->portType == QLatin1String("extn"))
                add(QStringLiteral("%1 to %2: %3").arg(method).arg(input->id).arg(input->longName), input->id);
            else if (input->portType == QLatin1String("mpfl"))
                add(QStringLiteral("%1 to %2").arg(method, input->longName), input->id);
        }
    }
    if (!menu->selectItemWithTitle(previous))
        menu->selectItemAtIndex(0);
    menu->setEnabled(!inputs.empty() && menu->titleOfSelectedItem() != kDisabled);
}

void KavioATEMManager::atemSwitcherSelected(bool fromMenu)
{
    KavioPopUpButton* menu = outlets_.atemSwitchersPopup;
    if (!menu)
        return;
    const QString title = menu->titleOfSelectedItem();
    if (fromMenu && title.startsWith(kManualIPTitle)) {
        setBusy(false, QString());
        resetIntegration();
        if (outlets_.manualATEMIPWindow) {
            controlTextDidChange();
            outlets_.manualATEMIPWindow->open();
        }
        return;
    }
    if (title.contains(kDisconnectedSuffix))
        return;
    if (title == kDisabled) {
        setBusy(false, QString());
        resetIntegration();
    } else if (driverInstalled_) {
        setBusy(true, QStringLiteral("Connecting..."));
        dropListener();
        const std::weak_ptr<VistrelDelegate> self = weak_from_this();
        std::shared_ptr<Vistrel> made;
        if (title.startsWith(kManualIPPrefix)) {
            made = Vistrel::initNetworkListenerWithDelegateIP(self, defaults_.stringForKey(kManualIP));
        } else {
            // A network entry carries the switcher's id; "USB" none, which opens the one on USB.
            const QVariant id = menu->representedObjectOfSelectedItem();
            made = id.isValid() ? Vistrel::initNetworkListenerWithDelegate(self, id.toString())
                                : Vistrel::initUSBListenerWithDelegate(self);
        }
        std::lock_guard lock(mutex_);
        listener_ = std::move(made);
    }
    defaults_.setString(title, kSelectedTitle);
}

void KavioATEMManager::atemSwitcherInputSelected()
{
    if (!outlets_.atemSwitchersInputsPopup)
        return;
    const QVariant id = outlets_.atemSwitchersInputsPopup->representedObjectOfSelectedItem();
    if (!id.isValid())
        return;
    selectedInputID_ = id.toLongLong();
    defaults_.setObject(QVariant::fromValue(quint64(selectedInputID_)), kSelectedInput);
}

void KavioATEMManager::atemSwitchersOnSwitchBehaviourChanged()
{
    if (!outlets_.atemSwitchersOnSwitchBehaviour)
        return;
    onSwitchBehaviour_ = outlets_.atemSwitchersOnSwitchBehaviour->selectedTag();
    defaults_.setInteger(onSwitchBehaviour_, kOnSwitch);
}

void KavioATEMManager::selectSavedPauseAtEndEntry(const QVariant& value, std::int32_t method)
{
    KavioPopUpButton* menu = outlets_.atemSwitchersOnPauseAtEndBehaviour;
    if (!menu || !value.isValid())
        return;
    for (int i = 0; i < menu->numberOfItems(); ++i) {
        const KavioPopUpButton::Entry entry = menu->itemAtIndex(i);
        if (entry.isSeparator || !entry.representedObject.isValid() ||
            entry.representedObject.toLongLong() != value.toLongLong())
            continue;
        if ((method == KavioATEMSwitchMethodAuto && !entry.title.startsWith(QLatin1String("AUTO"))) ||
            (method == KavioATEMSwitchMethodCut && !entry.title.startsWith(QLatin1String("CUT "))))
            continue;
        menu->selectItemAtIndex(i);
        return;
    }
}

void KavioATEMManager::atemSwitchersOnPauseAtEndBehaviourChanged()
{
    KavioPopUpButton* menu = outlets_.atemSwitchersOnPauseAtEndBehaviour;
    if (!menu)
        return;
    const qlonglong value = menu->representedObjectOfSelectedItem().toLongLong();
    const QString title = menu->titleOfSelectedItem();
    defaults_.setObject(value, kOnPauseAtEnd);
    KLOG_INFO("ATEM inputid_to_select: {}", value);
    std::int32_t method = KavioATEMSwitchMethodNone;
    {
        std::lock_guard lock(mutex_);
        usePreviewForPauseAtEndTarget_ = value < 0;
        inputToSelectOnPauseAtEnd_ = value > 0 ? inputWithID(value) : nullptr;
        if (value != 0)
            method = title.size() > 3 && title.startsWith(QLatin1String("CUT ")) ? KavioATEMSwitchMethodCut
                                                                                 : KavioATEMSwitchMethodAuto;
        pauseAtEndSwitchMethod_ = method;
    }
    defaults_.setInteger(method, kOnPauseAtEndMethod);
}

void KavioATEMManager::handleCueAtPauseAtEnd()
{
    // The switcher's objects are used on its queue only; this may be the clock thread.
    Vistrel::queue().async([weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self)
            return;
        std::unique_lock lock(self->mutex_);
        const std::shared_ptr<Vistrel> listener = self->listener_;
        if (!listener)
            return;
        if (self->usePreviewForPauseAtEndTarget_) {
            lock.unlock();
            const std::int64_t preview = listener->getPreviewInput();
            lock.lock();
            if (const auto input = self->inputWithID(preview))
                self->inputToSelectOnPauseAtEnd_ = input;
        }
        const auto input = self->inputToSelectOnPauseAtEnd_;
        const std::int32_t method = self->pauseAtEndSwitchMethod_;
        lock.unlock();
        if (!input)
            return;
        if (method == KavioATEMSwitchMethodCut)
            listener->performCutToInput(input);
        else if (method == KavioATEMSwitchMethodAuto)
            listener->performAutoToInput(input);
    });
}

void KavioATEMManager::controlTextDidChange()
{
    if (outlets_.manualIPConnectButton && outlets_.manualATEMIPTextField)
        outlets_.manualIPConnectButton->setEnabled(isDottedQuad(outlets_.manualATEMIPTextField->stringValue()));
}

void KavioATEMManager::manualATEMIPConnect()
{
    if (!outlets_.manualATEMIPTextField || !outlets_.atemSwitchersPopup)
        return;
    if (outlets_.manualATEMIPWindow)
        outlets_.manualATEMIPWindow->accept();
    const QString address = outlets_.manualATEMIPTextField->stringValue();
    KavioPopUpButton* menu = outlets_.atemSwitchersPopup;
    menu->setItemTitle(menu->indexOfSelectedItem(), kManualIPPrefix + address);
    defaults_.setString(address, kManualIP);
    atemSwitcherSelected(false);
}

void KavioATEMManager::manualATEMIPCancel()
{
    if (outlets_.manualATEMIPWindow)
        outlets_.manualATEMIPWindow->reject();
}

void KavioATEMManager::openBMDWebsite()
{
    KavioAlertSpec spec;
    spec.messageText = QStringLiteral("This function needs the Blackmagic \"ATEM Switchers\" drivers to be installed.");
    KavioAlert::runModal(spec);
    QDesktopServices::openUrl(QUrl(kSupportPage));
}

void KavioATEMManager::hyperDeckStateChanged()
{
    const bool on = outlets_.hyperdeckEnabledButton ? outlets_.hyperdeckEnabledButton->state() == 1
                                                    : defaults_.boolForKey(kHyperDeckState);
    if (hyperDeckServer_) {
        if (on)
            hyperDeckServer_->start();
        else
            hyperDeckServer_->stop();
    }
    defaults_.setBool(on, kHyperDeckState);
}

void KavioATEMManager::refreshHyperdeckIPField()
{
    if (outlets_.hyperdeckComputerIPLabel)
        outlets_.hyperdeckComputerIPLabel->setText(hyperDeckAddress(ethernetInterfaces(), allConnectedNetworks()));
}

QVariantMap KavioATEMManager::saveData() const
{
    QVariantMap data;
    for (const QString& key : {kSelectedTitle, kSelectedUUID, kSelectedInput, kOnSwitch, kOnPauseAtEnd}) {
        if (defaults_.hasKey(key))
            data.insert(key, defaults_.objectForKey(key));
    }
    data.insert(kOnPauseAtEndMethod, pauseAtEndSwitchMethod());
    if (defaults_.hasKey(kManualIP))
        data.insert(kManualIP, defaults_.stringForKey(kManualIP));
    return data;
}

void KavioATEMManager::loadWithData(const QVariantMap& data)
{
    if (data.isEmpty())
        return;
    for (const QString& key :
         {kSelectedTitle, kSelectedUUID, kSelectedInput, kOnSwitch, kOnPauseAtEnd, kOnPauseAtEndMethod, kManualIP}) {
        if (data.contains(key))
            defaults_.setObject(data.value(key), key);
    }
    KLOG_INFO("selectedATEMTitle: {}", defaults_.stringForKey(kSelectedTitle).toStdString());
    updateATEMDeviceSelector();
    atemSwitcherSelected(false);
}

void KavioATEMManager::connectedToDevice(const std::shared_ptr<QVTAtemDeviceInfo>& device)
{
    DispatchQueue::main().async([weak = weak_from_this(), device] {
        const auto self = weak.lock();
        if (!self)
            return;
        self->defaults_.setString(device->deviceID(), kSelectedUUID);
        {
            std::lock_guard lock(self->mutex_);
            self->inputs_ = device->inputs().value_or(QVTAtemDeviceInfo::Inputs{});
        }
        self->setBusy(false, QStringLiteral("Connected."));
        self->updateATEMInputSelector();
        self->updateATEMOnPauseAtEndSelector();
        KavioPopUpButton* inputs = self->outlets_.atemSwitchersInputsPopup;
        if (self->defaultsSelected_ || !inputs || !inputs->isEnabled())
            return;
        self->defaultsSelected_ = true;
        if (self->defaults_.hasKey(kSelectedInput)) {
            const qlonglong saved = self->defaults_.integerForKey(kSelectedInput);
            for (int i = 0; i < inputs->numberOfItems(); ++i) {
                if (inputs->itemAtIndex(i).representedObject.toLongLong() == saved) {
                    inputs->selectItemAtIndex(i);
                    KLOG_INFO("selecting: {}", inputs->titleOfSelectedItem().toStdString());
                }
            }
        }
        self->atemSwitcherInputSelected();
        const auto method = std::int32_t(self->defaults_.integerForKey(kOnPauseAtEndMethod));
        self->selectSavedPauseAtEndEntry(self->defaults_.objectForKey(kOnPauseAtEnd), method);
        self->atemSwitchersOnPauseAtEndBehaviourChanged();
    });
}

void KavioATEMManager::connectionFailed(const VistrelError& error)
{
    KLOG_INFO("error: {}", error.localizedDescription.toStdString());
    {
        std::lock_guard lock(mutex_);
        inputToSelectOnPauseAtEnd_.reset();
    }
    DispatchQueue::main().async([weak = weak_from_this()] {
        const auto self = weak.lock();
        if (self && self->outlets_.atemSwitchersPopup && self->outlets_.atemSwitchersPopup->titleOfSelectedItem() != kDisabled)
            self->setBusy(true, QStringLiteral("Connecting..."));
    });
}

void KavioATEMManager::statusChangedForInput(const std::shared_ptr<QVTAtemInput>& input,
                                             const std::shared_ptr<QVTAtemDeviceInfo>&)
{
    const auto controller = delegate_.lock();
    if (!controller || !input || controller->isLoadingProject() || input->id != selectedInputID_)
        return;
    const bool playing = controller->isPlaying();
    const bool onProgram = input->isProgramTallied;
    const long behaviour = onSwitchBehaviour_;
    const auto prepare = [&] {
        if (behaviour == KavioATEMOnSwitchLoadNextCue)
            controller->setShouldLoadNextCueByATEM(true);
        else if (behaviour == KavioATEMOnSwitchRewindCue)
            controller->setShouldRewindCueByATEM(true);
    };
    if (!playing && onProgram) {
        controller->startPlayback();
    } else if (playing && !onProgram) {
        prepare();
        if (behaviour != KavioATEMOnSwitchNothing)
            controller->stopPlaybackWithCompletedHandler({});
    } else if (!playing && !onProgram) {
        prepare();
        DispatchQueue::main().async([weak = std::weak_ptr<KavioVideoItemManager>(controller)] {
            if (const auto cueList = weak.lock())
                cueList->handleIntegrationsOnPauseAtEnd();
        });
    }
}

#include "Outputs/KavioNDIManager.h"

#include "Support/KavioVariantKinds.h"
#include "Controller/KavioVideoItemManager.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioPopUpButtonInterface.h"

#include "Log.h"
#include "NotificationCenter.h"
#include "QVTNDISender.h"
#include "UserDefaults.h"

namespace {

// The cue list controller as the tally reaction sees it. The controller's loading flag is the
// application controller's, mirrored for the whole project load.
class ControllerTallyTarget : public KavioNDITallyTarget {
public:
    explicit ControllerTallyTarget(std::weak_ptr<KavioVideoItemManager> controller)
        : controller_(std::move(controller))
    {
    }
    bool isLoadingProject() const override
    {
        const auto c = controller_.lock();
        return !c || c->isLoadingProject();
    }
    bool isPlaying() const override
    {
        const auto c = controller_.lock();
        return c && c->isPlaying();
    }
    void startPlayback() override
    {
        if (const auto c = controller_.lock())
            c->startPlayback();
    }
    void stopPlaybackWithCompletedHandler(std::function<void()> handler) override
    {
        if (const auto c = controller_.lock())
            c->stopPlaybackWithCompletedHandler(std::move(handler));
    }
    void setShouldLoadNextCueByNDI(bool value) override
    {
        if (const auto c = controller_.lock())
            c->setShouldLoadNextCueByNDI(value);
    }
    void setShouldRewindCueByNDI(bool value) override
    {
        if (const auto c = controller_.lock())
            c->setShouldRewindCueByNDI(value);
    }

private:
    std::weak_ptr<KavioVideoItemManager> controller_;
};

}  // namespace

KavioNDIManager::KavioNDIManager(UserDefaults* defaults)
    : defaults_(defaults ? *defaults : UserDefaults::standardUserDefaults())
{
}

KavioNDIManager::~KavioNDIManager()
{
    NotificationCenter::defaultCenter().removeObserver(this);
}

void KavioNDIManager::setDelegate(std::weak_ptr<KavioVideoItemManager> delegate)
{
    target_ = std::make_shared<ControllerTallyTarget>(std::move(delegate));
}

void KavioNDIManager::startManager()
{
    if (ndiOnSwitchBehaviour_) {
        if (defaults_.hasKey(kKavioNDIOnSwitchBehaviourKey)) {
            ndiOnSwitchBehaviour_->selectItemWithTag(defaults_.integerForKey(kKavioNDIOnSwitchBehaviourKey));
        } else {
            defaults_.setInteger(ndiOnSwitchBehaviour_->selectedTag(), kKavioNDIOnSwitchBehaviourKey);
            defaults_.synchronize();
        }
    }
    if (defaults_.hasKey(kKavioNDIIntegrationEnabledKey)) {
        if (ndiIntegrationEnabledButton_)
            ndiIntegrationEnabledButton_->setState(defaults_.boolForKey(kKavioNDIIntegrationEnabledKey) ? 1 : 0);
    } else {
        defaults_.setBool(false, kKavioNDIIntegrationEnabledKey);
        defaults_.synchronize();
    }
    ndiIntegrationEnabledChanged();
}

void KavioNDIManager::ndiOnSwitchBehaviourChanged()
{
    if (!ndiOnSwitchBehaviour_)
        return;
    defaults_.setInteger(ndiOnSwitchBehaviour_->selectedTag(), kKavioNDIOnSwitchBehaviourKey);
    defaults_.synchronize();
}

void KavioNDIManager::ndiIntegrationEnabledChanged()
{
    const bool on = ndiIntegrationEnabledButton_ && ndiIntegrationEnabledButton_->state() != 0;
    NotificationCenter& center = NotificationCenter::defaultCenter();
    if (on && !observing_) {
        center.addObserver(this, QString::fromLatin1(QVTNDISender::kTallyStateChangeNotification), nullptr,
                           [this](const Notification& n) { handleNDITallyStateChange(n); });
    } else if (!on && observing_) {
        center.removeObserver(this, QString::fromLatin1(QVTNDISender::kTallyStateChangeNotification), nullptr);
    }
    observing_ = on;
    defaults_.setBool(on, kKavioNDIIntegrationEnabledKey);
    defaults_.synchronize();
}

void KavioNDIManager::handleNDITallyStateChange(const Notification& notification)
{
    if (!target_ || target_->isLoadingProject())
        return;
    const QVariant state = notification.userInfo.value(QStringLiteral("state"));
    if (state.typeId() != QMetaType::Bool) {
        KLOG_WARN("NDI tally change without a boolean state ignored");
        return;
    }
    const bool onProgram = state.toBool();
    const bool playing = target_->isPlaying();
    if (!playing && onProgram) {
        target_->startPlayback();
        return;
    }
    if (!playing || onProgram)
        return;
    const long tag = ndiOnSwitchBehaviour_ ? ndiOnSwitchBehaviour_->selectedTag() : KavioNDIOnSwitchBehaviourNothing;
    if (tag == KavioNDIOnSwitchBehaviourLoadNextCue)
        target_->setShouldLoadNextCueByNDI(true);
    else if (tag == KavioNDIOnSwitchBehaviourRewindCue)
        target_->setShouldRewindCueByNDI(true);
    if (tag != KavioNDIOnSwitchBehaviourNothing)
        target_->stopPlaybackWithCompletedHandler({});
}

QVariantMap KavioNDIManager::saveData() const
{
    QVariantMap record;
    if (defaults_.hasKey(kKavioNDIOnSwitchBehaviourKey))
        record.insert(kKavioNDIOnSwitchBehaviourKey, qlonglong(defaults_.integerForKey(kKavioNDIOnSwitchBehaviourKey)));
    if (defaults_.hasKey(kKavioNDIIntegrationEnabledKey))
        record.insert(kKavioNDIIntegrationEnabledKey, defaults_.boolForKey(kKavioNDIIntegrationEnabledKey));
    return record;
}

void KavioNDIManager::loadWithData(const QVariantMap& data)
{
    if (data.contains(kKavioNDIOnSwitchBehaviourKey)) {
        const QVariant tag = data.value(kKavioNDIOnSwitchBehaviourKey);
        if (kavioIsIntegerKind(tag))
            defaults_.setInteger(long(tag.toLongLong()), kKavioNDIOnSwitchBehaviourKey);
        else
            KLOG_WARN("\"NDIOnSwitchBehaviour\" of type {} is no number, default kept", tag.typeName() ? tag.typeName() : "none");
    }
    if (data.contains(kKavioNDIIntegrationEnabledKey)) {
        const QVariant on = data.value(kKavioNDIIntegrationEnabledKey);
        if (on.typeId() == QMetaType::Bool || kavioIsIntegerKind(on))
            defaults_.setBool(on.toBool(), kKavioNDIIntegrationEnabledKey);
        else
            KLOG_WARN("\"NDIIntegrationEnabledButton\" of type {} is no boolean, default kept",
                      on.typeName() ? on.typeName() : "none");
    }
}

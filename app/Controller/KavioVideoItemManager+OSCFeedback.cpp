// Cue feedback over OSC: which cue is current, next and previous, their names, IDs and values,
// the current cue's running time, the selection and the pong.

#include "Controller/KavioVideoItemManager.h"

#include "Cue/KavioVideoItem.h"
#include "NotificationCenter.h"
#include "QVTOSCManager.h"

namespace {

// The toggles a missing neighbour reports as off, in sending order.
constexpr const char* kZeroedToggleTails[] = {"toggleVideoFx",          "toggleAudio",      "toggleFadeIn",
                                              "toggleFadeOut",          "toggleLoop",       "togglePauseAtBeginning",
                                              "togglePauseAtEnd",       "toggleTransition"};

QString indexPrefix(const KavioVideoItem& item)
{
    return QStringLiteral("/kavio/%1/").arg(qulonglong(item.index()));
}

void send(const QVTOSCMessage& message)
{
    QVTOSCManager::sharedManager().sendOSCMessage(message);
}

void setFirstValue(const QVTOSCMessage& message, const QVariant& value)
{
    const auto values = message.values();
    if (!values.empty())
        values.front()->setValue(value);
}

void sendZeroedToggles(const QString& roleAddress)
{
    QVTOSCMessage zero(roleAddress);
    zero.addOSCValue(std::make_shared<QVTOSCValue>(QVTOSCValueTypeInteger, 0));
    for (const char* tail : kZeroedToggleTails) {
        zero.setAddress(roleAddress + QLatin1String(tail));
        send(zero);
    }
}

void sendName(QVTOSCMessage& message, const QString& address, const QString& value)
{
    message.setAddress(address);
    setFirstValue(message, value);
    send(message);
}

// The next or previous cue's feedback: its prefix mirrored under the role, its values and
// name; without one the role's toggles zeroed and the name "-".
void sendNeighbourFeedback(QVTOSCMessage& name, const std::shared_ptr<KavioVideoItem>& neighbour,
                           void (QVTOSCSenderNode::*setSource)(const QString&), const QString& roleAddress,
                           const QString& nameAddress)
{
    QVTOSCSenderNode& node = QVTOSCManager::sharedManager().defaultSenderNode();
    if (neighbour) {
        (node.*setSource)(indexPrefix(*neighbour));
        neighbour->sendOSCFeedback();
        sendName(name, nameAddress, neighbour->cueName());
    } else {
        (node.*setSource)({});
        sendZeroedToggles(roleAddress);
        sendName(name, nameAddress, QStringLiteral("-"));
    }
}

}  // namespace

void KavioVideoItemManager::sendCurrentCueOSCFeedback()
{
    std::lock_guard lock(feedbackMutex_);
    QVTOSCSenderNode& node = QVTOSCManager::sharedManager().defaultSenderNode();
    QVTOSCMessage name(QStringLiteral("/kavio/currentCueName"));
    name.addOSCValue(std::make_shared<QVTOSCValue>(QVTOSCValueTypeString, QStringLiteral("-")));
    const auto current = currentItem();
    if (!current) {
        node.setSourceForCurrentAddress({});
        node.setSourceForNextAddress({});
        node.setSourceForPreviousAddress({});
        for (const char* address : {"/kavio/currentCueName", "/kavio/nextCueName", "/kavio/previousCueName"})
            sendName(name, QLatin1String(address), QStringLiteral("-"));
        sendZeroedToggles(kQVTOSCPreviousAddress);
        sendZeroedToggles(kQVTOSCNextAddress);
        sendZeroedToggles(kQVTOSCCurrentAddress);
        return;
    }
    node.setSourceForCurrentAddress(indexPrefix(*current));
    current->sendOSCFeedback();
    sendName(name, QStringLiteral("/kavio/currentCueName"), current->cueName());
    sendCurrentCueTRTOSCFeedback();
    sendName(name, QStringLiteral("/kavio/currentCueID"), current->cueIDForOSC());

    sendNeighbourFeedback(name, current->nextItemToPlay(), &QVTOSCSenderNode::setSourceForNextAddress,
                          kQVTOSCNextAddress, QStringLiteral("/kavio/nextCueName"));
    sendNeighbourFeedback(name, current->prevItem(), &QVTOSCSenderNode::setSourceForPreviousAddress,
                          kQVTOSCPreviousAddress, QStringLiteral("/kavio/previousCueName"));
}

void KavioVideoItemManager::sendCurrentCueTRTOSCFeedback()
{
    std::lock_guard lock(feedbackMutex_);
    const auto current = currentItem();
    if (!current || !trtmsg_ || trtmsg_->values().empty())
        return;
    setFirstValue(*trtmsg_, current->videoTRTSMPTE());
    send(*trtmsg_);
}

void KavioVideoItemManager::sendSelectedCueOSCFeedback()
{
    std::lock_guard lock(feedbackMutex_);
    if (!selectedcuenamemsg_ || !selectedcueidmsg_ || selectedcuenamemsg_->values().empty() ||
        selectedcueidmsg_->values().empty())
        return;
    const KavioVideoItemList selected = itemsWithSelection(true);
    const bool one = selected.size() == 1;
    setFirstValue(*selectedcuenamemsg_, one ? selected.front()->cueName() : QStringLiteral("-"));
    setFirstValue(*selectedcueidmsg_, one ? selected.front()->cueIDForOSC() : QStringLiteral("-"));
    send(*selectedcuenamemsg_);
    send(*selectedcueidmsg_);
}

void KavioVideoItemManager::sendPongOSCFeedback()
{
    std::lock_guard lock(feedbackMutex_);
    if (pongmsg_)
        send(*pongmsg_);
}

void KavioVideoItemManager::handleOSCFeedbackOnCueChanges(const Notification& notification)
{
    if (isLoadingProject())
        return;
    const auto* changed = static_cast<const KavioVideoItem*>(notification.object);
    if (!changed)
        return;
    const auto current = currentItem();
    if (current && current.get() == changed)
        sendCurrentCueOSCFeedback();
    if (changed->isSelected())
        sendSelectedCueOSCFeedback();
}

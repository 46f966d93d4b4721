#pragma once
// KavioNDIManager: NDI tally drives the show. While its switch is on it observes
// "StrevalSenderTallyStateChange" (any sender): a stream going on program while the cue list
// stands still starts playback; a stream going off program while it plays stops it, after
// setting the cue list's load-next or rewind flag as the behaviour pop-up's tag says:
//   0 nothing; 10 load the next cue, then stop; 30 rewind the cue, then stop; other tags stop.
// Tallies arriving while a project loads are dropped, not deferred.
//
// The settings live in the user defaults "NDIOnSwitchBehaviour" (integer tag) and
// "NDIIntegrationEnabledButton" (bool); a project carries a copy as its "ndiIntegrationSettings"
// record, which loadWithData writes back into the defaults only: the controls and the
// observation follow at the next startManager.
//
// The switch and pop-up are outlets the main interface places and owns; they must outlive the
// manager's use of them. Main thread only.

#include "Outputs/KavioNDIManagerInterface.h"

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

class KavioButtonInterface;
class KavioPopUpButtonInterface;
struct Notification;
class UserDefaults;

// The behaviour tags of the pop-up (stored under "NDIOnSwitchBehaviour").
enum KavioNDIOnSwitchBehaviour : long {
    KavioNDIOnSwitchBehaviourNothing = 0,
    KavioNDIOnSwitchBehaviourLoadNextCue = 10,
    KavioNDIOnSwitchBehaviourRewindCue = 30,
};

inline const QString kKavioNDIOnSwitchBehaviourKey = QStringLiteral("NDIOnSwitchBehaviour");
inline const QString kKavioNDIIntegrationEnabledKey = QStringLiteral("NDIIntegrationEnabledButton");

// What the tally reaction asks of the cue list. The cue list controller answers it through
// setDelegate; tests give a recording fake.
class KavioNDITallyTarget {
public:
    virtual ~KavioNDITallyTarget() = default;
    virtual bool isLoadingProject() const = 0;
    virtual bool isPlaying() const = 0;
    virtual void startPlayback() = 0;
    virtual void stopPlaybackWithCompletedHandler(std::function<void()> handler) = 0;
    virtual void setShouldLoadNextCueByNDI(bool value) = 0;
    virtual void setShouldRewindCueByNDI(bool value) = 0;
};

class KavioNDIManager : public KavioNDIManagerInterface {
public:
    // `defaults` (outliving the manager) defaults to the program's settings. Idle until
    // startManager.
    explicit KavioNDIManager(UserDefaults* defaults = nullptr);
    ~KavioNDIManager() override;
    KavioNDIManager(const KavioNDIManager&) = delete;
    KavioNDIManager& operator=(const KavioNDIManager&) = delete;

    // The cue list controller, held weakly; a missing or ended controller ignores tallies.
    void setDelegate(std::weak_ptr<KavioVideoItemManager> delegate) override;
    void setTallyTarget(std::shared_ptr<KavioNDITallyTarget> target) { target_ = std::move(target); }

    KavioPopUpButtonInterface* ndiOnSwitchBehaviour() const { return ndiOnSwitchBehaviour_; }
    void setNdiOnSwitchBehaviour(KavioPopUpButtonInterface* popup) { ndiOnSwitchBehaviour_ = popup; }
    KavioButtonInterface* ndiIntegrationEnabledButton() const { return ndiIntegrationEnabledButton_; }
    void setNdiIntegrationEnabledButton(KavioButtonInterface* button) { ndiIntegrationEnabledButton_ = button; }

    // Brings the controls in line with the defaults (storing the missing ones: the pop-up's
    // selection and NO) and makes the observation follow the switch.
    void startManager() override;
    // The pop-up's action: stores the selected tag and synchronises.
    void ndiOnSwitchBehaviourChanged();
    // The switch's action: observes tallies exactly while it is on, stores its state and
    // synchronises.
    void ndiIntegrationEnabledChanged();
    // The tally reaction; a notification without a boolean "state" is logged and ignored.
    void handleNDITallyStateChange(const Notification& notification);
    bool isObservingTally() const { return observing_; }

    // The record: each key present only when its default is stored.
    QVariantMap saveData() const;
    // Writes each key of `data` into the defaults (no synchronise, controls untouched); a value
    // of the wrong type leaves that default alone and is logged.
    void loadWithData(const QVariantMap& data);

private:
    UserDefaults& defaults_;
    std::shared_ptr<KavioNDITallyTarget> target_;
    KavioPopUpButtonInterface* ndiOnSwitchBehaviour_ = nullptr;
    KavioButtonInterface* ndiIntegrationEnabledButton_ = nullptr;
    bool observing_ = false;
};

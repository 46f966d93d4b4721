#pragma once
// The switcher integration: the operator picks a switcher (on the network, on USB or at a typed
// address) and one of its inputs. That input going on program starts a stopped show; leaving
// program stops it or prepares a rewind or the next cue, as chosen; a cue pausing at its end can
// cut or auto-transition the switcher to a chosen input or to its preview. The manager owns one
// Vistrel listener at a time and is its delegate; it also switches the HyperDeck-protocol server
// and shows this computer's address for it. Its controls sit in the preferences window
// (KavioATEMPreferencesPane).
//
// Threads: the controls and settings on the main thread; listener reports arrive on
// "VistrelQueue" (interface work hops to the main queue; tally reactions drive the cue list,
// which moves to the main queue itself); handleCueAtPauseAtEnd from any thread, its switcher work
// on "VistrelQueue". Must be owned by a shared_ptr.

#include "Remote/KavioATEMManagerInterface.h"
#include "Vistrel.h"

#include <QSet>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class KavioButton;
class KavioHyperDeckServerInterface;
class KavioPopUpButton;
class KavioTextField;
class QDialog;
class QLabel;
class QProgressBar;
class QWidget;
class UserDefaults;

// KavioATEMSwitchMethod
enum : std::int32_t { KavioATEMSwitchMethodNone = 0, KavioATEMSwitchMethodCut = 10, KavioATEMSwitchMethodAuto = 20 };
// KavioATEMOnSwitchBehaviour: any non-zero tag stops a playing show.
enum : long {
    KavioATEMOnSwitchNothing = 0,
    KavioATEMOnSwitchLoadNextCue = 10,
    KavioATEMOnSwitchStop = 20,
    KavioATEMOnSwitchRewindCue = 30,
};

struct KavioATEMManagerOutlets {
    KavioPopUpButton* atemSwitchersPopup = nullptr;
    KavioPopUpButton* atemSwitchersInputsPopup = nullptr;
    KavioPopUpButton* atemSwitchersOnSwitchBehaviour = nullptr;  // entries with their tags
    KavioPopUpButton* atemSwitchersOnPauseAtEndBehaviour = nullptr;  // its first entry (value 0)
    QProgressBar* atemSwitchersProgressIndicator = nullptr;  // busy while shown
    QLabel* atemSwitchersStatusField = nullptr;
    KavioButton* noDriverErrorButton = nullptr;
    KavioButton* hyperdeckEnabledButton = nullptr;
    QLabel* hyperdeckComputerIPLabel = nullptr;
    QDialog* manualATEMIPWindow = nullptr;  // the address sheet, on the preferences window
    KavioTextField* manualATEMIPTextField = nullptr;
    KavioButton* manualIPConnectButton = nullptr;
    KavioButton* manualIPCancelButton = nullptr;
};

class KavioATEMManager : public KavioATEMManagerInterface,
                         public VistrelDelegate,
                         public std::enable_shared_from_this<KavioATEMManager> {
public:
    explicit KavioATEMManager(UserDefaults& defaults);
    ~KavioATEMManager() override;
    KavioATEMManager(const KavioATEMManager&) = delete;
    KavioATEMManager& operator=(const KavioATEMManager&) = delete;

    // Interface name → {"Addresses": [IPv4 texts]}, read fresh (NetworkInterfaces); interfaces
    // without IPv4 are absent. Any thread.
    static QVariantMap allConnectedNetworks();
    // The first IPv4 address of every interface that has one. Any thread.
    static QSet<QString> localIPs();
    // What the HyperDeck address label shows: the first address of the last Ethernet interface
    // (in the system's order) that has IPv4 state, else "-". Pure.
    static QString hyperDeckAddress(const QStringList& ethernetInterfaces, const QVariantMap& networks);

    // Connects the controls' actions; before startManager. The manager does not own them.
    void setOutlets(const KavioATEMManagerOutlets& outlets);
    const KavioATEMManagerOutlets& outlets() const { return outlets_; }
    // The server the HyperDeck switch starts and stops.
    void setHyperDeckServer(std::shared_ptr<KavioHyperDeckServerInterface> server) { hyperDeckServer_ = std::move(server); }

    // --- KavioATEMManagerInterface ----------------------------------------------------------
    void setDelegate(std::weak_ptr<KavioVideoItemManager> delegate) override { delegate_ = std::move(delegate); }
    // Restores the settings, builds the menus, connects to the saved switcher.
    void startManager() override;
    void handleCueAtPauseAtEnd() override;

    // --- Controls (main thread) -------------------------------------------------------------
    void awakeFromNib();
    void resetIntegration();
    // Rebuilds the switcher menu and restores the saved choice; also on every change of the
    // network's switchers.
    void updateATEMDeviceSelector();
    void updateATEMInputSelector();
    void updateATEMOnPauseAtEndSelector();
    // The switcher menu's action (fromMenu) or the manager's own call.
    void atemSwitcherSelected(bool fromMenu);
    void atemSwitcherInputSelected();
    void atemSwitchersOnSwitchBehaviourChanged();
    void atemSwitchersOnPauseAtEndBehaviourChanged();
    // The address field: Connect is enabled for four parts of 0…255.
    void controlTextDidChange();
    void manualATEMIPConnect();
    void manualATEMIPCancel();
    // Explains that the switcher interface is missing.
    void openBMDWebsite();
    void hyperDeckStateChanged();
    void refreshHyperdeckIPField();

    // --- Project file ("atemIntegrationSettings") ---------------------------------------------
    QVariantMap saveData() const;
    // Nothing for an empty map.
    void loadWithData(const QVariantMap& data);

    // --- VistrelDelegate (from "VistrelQueue") -------------------------------------------------
    void connectedToDevice(const std::shared_ptr<QVTAtemDeviceInfo>& device) override;
    void connectionFailed(const VistrelError& error) override;
    void statusChangedForInput(const std::shared_ptr<QVTAtemInput>& input,
                               const std::shared_ptr<QVTAtemDeviceInfo>& device) override;

    // For tests and the pane's look: the current listener, the chosen input and method.
    std::shared_ptr<Vistrel> listener() const;
    std::int64_t selectedInputID() const { return selectedInputID_; }
    std::int32_t pauseAtEndSwitchMethod() const;

private:
    std::shared_ptr<QVTAtemInput> inputWithID(std::int64_t id) const;  // caller holds mutex_
    void selectSavedPauseAtEndEntry(const QVariant& value, std::int32_t method);
    void setBusy(bool busy, const QString& status);
    void dropListener();

    UserDefaults& defaults_;
    KavioATEMManagerOutlets outlets_;
    std::weak_ptr<KavioVideoItemManager> delegate_;
    std::shared_ptr<KavioHyperDeckServerInterface> hyperDeckServer_;
    bool driverInstalled_ = true;
    bool defaultsSelected_ = false;  // main thread
    std::atomic<std::int64_t> selectedInputID_{0};
    std::atomic<long> onSwitchBehaviour_{KavioATEMOnSwitchNothing};
    // What pause-at-end and the tally reactions read from other threads.
    mutable std::mutex mutex_;
    std::shared_ptr<Vistrel> listener_;
    QVTAtemDeviceInfo::Inputs inputs_;
    std::shared_ptr<QVTAtemInput> inputToSelectOnPauseAtEnd_;
    std::int32_t pauseAtEndSwitchMethod_ = KavioATEMSwitchMethodNone;
    bool usePreviewForPauseAtEndTarget_ = false;
    std::uint64_t devicesObserver_ = 0;
    std::uint64_t networkObserver_ = 0;
};

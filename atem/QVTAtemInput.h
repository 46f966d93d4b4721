#pragma once
// One input of a connected switcher, made by the listener on connection. Names, id and port type
// are set before the record is handed out; the tally flags change as the switcher reports.
// The switcher object and the callback are the listener's business, used on "VistrelQueue" only.

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

class IBMDSwitcherInput;
class QVTAtemDeviceInfo;
class VistrelBMDSwitcherInputCallback;
class VistrelDelegate;

class QVTAtemInput : public std::enable_shared_from_this<QVTAtemInput> {
public:
    // Stores both weakly and makes the input's callback (count 1).
    static std::shared_ptr<QVTAtemInput> initWithDevice(const std::shared_ptr<QVTAtemDeviceInfo>& device,
                                                        const std::weak_ptr<VistrelDelegate>& delegate);
    // Gives up the callback (Release: the switcher may still hold it for a moment).
    ~QVTAtemInput();
    QVTAtemInput(const QVTAtemInput&) = delete;
    QVTAtemInput& operator=(const QVTAtemInput&) = delete;

    std::atomic<bool> isProgramTallied{false};
    std::atomic<bool> isPreviewTallied{false};  // read once, at connection
    int64_t id = 0;
    QString portType;  // the four letters of the port type, e.g. "extn", "mpfl"
    QString shortName, longName;  // null when the switcher did not give them

    std::shared_ptr<VistrelDelegate> delegate() const { return delegate_.lock(); }
    std::shared_ptr<QVTAtemDeviceInfo> deviceInfo() const { return deviceInfo_.lock(); }

    IBMDSwitcherInput* bmdInput = nullptr;  // one reference, released on disconnection
    VistrelBMDSwitcherInputCallback* bmdSwitcherInputCallback() const { return callback_; }

    // "<QVTAtemInput id=%5lld type=… shortName='%-4s' longName='%-20s' programTallied=%d previewTallied=%d>"
    QString description() const;

    QVTAtemInput() = default;

private:
    std::weak_ptr<VistrelDelegate> delegate_;
    std::weak_ptr<QVTAtemDeviceInfo> deviceInfo_;
    VistrelBMDSwitcherInputCallback* callback_ = nullptr;
};

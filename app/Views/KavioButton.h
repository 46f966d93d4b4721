#pragma once
// KavioButton: the program's button, drawn by its cell (KavioButtonCell or a subclass) in the
// dark style, with hover colours, an error colour, an undo cache of its state and OSC feedback.
//
// OSC feedback: with an address set, the button sends its state as one integer to that address
// through QVTOSCManager::sharedManager() whenever the main thread sets its state with setState()
// (changed or not), after a click on an on/off button (unless its action is "togglePlay:", whose
// feedback the transport sends itself), and whenever "processOSCFeedback" is posted on the
// default centre. States set from OSC (setStateByOSC, toggleStateByOSC) send nothing.
//
// Threads: setState, setEnabled, setImageName, setNeedsDisplayInRect and toggleStateByOSC may be
// called from any thread; off the main thread they move to the main queue and return before the
// change shows. oscAddress and processOSCFeedback are safe from any thread. Everything else:
// main thread.

#include "Support/KavioButtonInterface.h"
#include "Support/KavioSnapshotCell.h"
#include "Views/KavioButtonCell.h"

#include <QWidget>

#include <atomic>
#include <memory>
#include <mutex>

class QVTOSCMessage;

inline const QString kKavioProcessOSCFeedbackNotification = QStringLiteral("processOSCFeedback");

class KavioButton : public QWidget, public KavioButtonInterface {
    Q_OBJECT
public:
    // `cell` draws the button; a KavioButtonCell when none is given.
    explicit KavioButton(QWidget* parent = nullptr, std::unique_ptr<KavioButtonCell> cell = {});
    ~KavioButton() override;

    KavioButtonCell& cell() const { return *cell_; }

    // --- KavioButtonInterface
    int state() const override { return state_.load(); }
    void setState(int state) override;
    // Stores the state without feedback and without running the action. Main thread.
    void setStateByOSC(int state) override;
    bool isEnabled() const override { return QWidget::isEnabled(); }
    void setEnabled(bool enabled) override;
    QString title() const override { return cell_->title(); }
    void setTitle(const QString& title) override;
    long tag() const override { return tag_; }
    void setTag(long tag) override { tag_ = tag; }
    QString imageName() const override { return imageName_; }
    // Loads the template image of that name and empties the tint cache.
    void setImageName(const QString& name) override;
    QString toolTip() const override { return QWidget::toolTip(); }
    void setToolTip(const QString& toolTip) override { QWidget::setToolTip(toolTip); }
    // OnOff is the platform's on/off type, MomentaryPushIn its momentary push-in type.
    KavioButtonType buttonType() const override;
    void setButtonType(KavioButtonType type) override;
    QString oscAddress() const override { return oscAddress_.load(); }
    void setOSCAddress(const QString& address) override { oscAddress_.store(address); }
    void setAction(std::function<void()> action) override { action_ = std::move(action); }
    void performClick() override;

    // The platform type code (KavioButtonCell::ButtonType) for types the interface has no name for.
    void setButtonTypeCode(unsigned type);
    // The name of the action as the interface files give it ("togglePlay:").
    void setActionSelector(const QString& selector) { actionSelector_ = selector; }
    // Flips the state without feedback. Any thread.
    void toggleStateByOSC();
    // Sends the state to the OSC address (nothing without one). Any thread.
    void processOSCFeedback();
    // Stops answering "processOSCFeedback" and drops the OSC address and its message: the
    // button of a released cue sends nothing more. Any thread.
    void removeResources();
    void setNeedsDisplayInRect(const QRect& rect);
    void setAlternateImageName(const QString& name);

    bool drawsErrorColor() const { return drawsErrorColor_; }
    void setDrawsErrorColor(bool value) { drawsErrorColor_ = value; }
    bool oldState() const { return oldState_; }
    void cacheToOldValue() { oldState_ = state() != 0; }

    QSize sizeHint() const override;

Q_SIGNALS:
    // The state changed, whoever set it (main thread).
    void stateChanged(int state);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

    // Runs what a click runs.
    void sendAction();
    // The end of a click: the state by the button's type, the action, the feedback.
    void completeClick();

private:
    // Runs `task` now on the main thread, else queues it there for as long as the button lives.
    bool runOnMain(std::function<void()> task);

    std::unique_ptr<KavioButtonCell> cell_;
    std::atomic<int> state_{0};
    long tag_ = 0;
    QString imageName_;
    QString actionSelector_;
    std::function<void()> action_;
    KavioSnapshotCell<QString> oscAddress_;
    std::mutex feedbackMutex_;
    std::shared_ptr<QVTOSCMessage> oscFeedbackMessage_;
    bool drawsErrorColor_ = false;
    bool oldState_ = false;
};

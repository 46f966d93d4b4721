#pragma once
// The main window's waveform strip and its busy bar as the waveform manager's outlets. The
// widgets belong to the window; these outlets hold them by QPointer and do nothing once they are
// gone. Main thread.

#include "Audio/KavioWaveformManager.h"

#include <QPointer>

class KavioWaveformView;
class QProgressBar;

class KavioWaveformStripOutlet final : public KavioWaveformViewInterface, public KavioWaveformProgressInterface {
public:
    // `busy` is an indeterminate bar shown only while waveforms are being built.
    KavioWaveformStripOutlet(KavioWaveformView* view, QProgressBar* busy);

    // KavioWaveformViewInterface: hidden when the strip (the view or its panel) is hidden.
    bool isHidden() const override;
    void setDisplayMin(float min) override;
    void setDisplayMax(float max) override;
    void setIsBuilding(bool building) override;
    void setImage(std::shared_ptr<const QImage> image) override;
    void setChannels(int channels) override;
    void setShowsWarning(bool shows) override;
    void setWarningText(const QString& text) override;
    void setWarningType(int type) override;
    void redraw() override;

    // KavioWaveformProgressInterface.
    void startAnimation() override;
    void stopAnimation() override;

private:
    QPointer<KavioWaveformView> view_;
    QPointer<QProgressBar> busy_;
};

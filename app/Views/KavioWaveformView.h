#pragma once
// The waveform strip under the position bar: the current cue's ready-made waveform image (one
// band per channel), the parts outside the in and out points dimmed, and status texts (a
// transition in progress, no audio, a file warning, a waveform being built). It holds no logic:
// the waveform manager sets what it shows; only the mixing flag, the building flag (when set)
// and the image redraw by themselves. Drawing is described y upwards. Main thread.

#include <QImage>
#include <QString>
#include <QWidget>

class KavioWaveformView : public QWidget {
public:
    explicit KavioWaveformView(QWidget* parent = nullptr);

    void setShowsWarning(bool shows) { shoulddrawwarning_ = shows; }
    void setWarningText(const QString& text) { warningstring_ = text; }
    // 0 a file problem (yellow text, error icon), 10 information (green text, no icon).
    int warningType() const { return warningType_; }
    void setWarningType(int type) { warningType_ = type; }
    int channels() const { return channels_; }
    void setChannels(int channels) { channels_ = channels; }
    // Width of the dimmed area left of the in point, from the left margin.
    float displayMin() const { return displayMin_; }
    void setDisplayMin(float value) { displayMin_ = value; }
    // Where the dimmed area right of the out point begins.
    float displayMax() const { return displayMax_; }
    void setDisplayMax(float value) { displayMax_ = value; }
    void setDrawsMixing(bool mixing);
    void setWaveformIsBuilding(bool building);
    const QImage& image() const { return image_; }
    void setImage(const QImage& image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool shoulddrawwarning_ = false;
    bool shoulddrawsmixing_ = false;
    bool shoulddrawwaveformisbuilding_ = false;
    QString warningstring_;
    int channels_ = 2;
    float displayMin_ = 0.0f;
    float displayMax_ = 0.0f;
    int warningType_ = 0;
    QImage image_;
};

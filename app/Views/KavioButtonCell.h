#pragma once
// KavioButtonCell: how every KavioButton draws itself in the dark style: thin rounded outline,
// title in the light face, template image tinted at draw time, the accent colour for the on
// look and a dark shade while pressed. The owning button feeds it its state, title, image and
// type; tests draw a cell straight into an image. Main thread.
//
// The on look: buttons of the stateful types (on/off, push-on/push-off) show it in any state but
// off (mixed counts as on); the others while pressed; a bordered button whose key equivalent is
// Return always. It is recomputed at every draw.

#include "Views/KavioTintCache.h"

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QString>

class QPainter;

class KavioButtonCell {
public:
    // The platform's button type codes; buttonType() answers the code last set, 0 until then.
    enum ButtonType : unsigned {
        MomentaryLight = 0,
        PushOnPushOff = 1,
        Toggle = 2,
        Switch = 3,
        Radio = 4,
        MomentaryChange = 5,
        OnOff = 6,
        MomentaryPushIn = 7,
        Accelerator = 8,
        MultiLevelAccelerator = 9,
    };
    // The bezel style whose title sits a point higher.
    static constexpr int kSmallSquareBezelStyle = 10;

    KavioButtonCell();
    virtual ~KavioButtonCell();
    KavioButtonCell(const KavioButtonCell&) = delete;
    KavioButtonCell& operator=(const KavioButtonCell&) = delete;

    // Draws the whole button into `frame`: on-look decision, bezel, interior, pressed shade.
    virtual void drawWithFrame(QPainter& painter, const QRectF& frame);

    unsigned buttonType() const { return buttonType_; }
    void setButtonType(unsigned type) { buttonType_ = type; }
    QColor drawColor() const { return drawColor_; }
    void setDrawColor(const QColor& color) { drawColor_ = color; }
    bool shouldDrawAsOnState() const { return shouldDrawAsOnState_; }
    void setShouldDrawAsOnState(bool value) { shouldDrawAsOnState_ = value; }
    bool shouldShowAlternateImage() const { return shouldShowAlternateImage_; }
    void setShouldShowAlternateImage(bool value) { shouldShowAlternateImage_ = value; }
    bool shouldTintWhenOnState() const { return shouldTintWhenOnState_; }
    void setShouldTintWhenOnState(bool value) { shouldTintWhenOnState_ = value; }

    // The control's state as the button hands it over.
    int state() const { return state_; }  // 0 off, 1 on, -1 mixed
    void setState(int state) { state_ = state; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    bool isHighlighted() const { return highlighted_; }  // pressed
    void setHighlighted(bool highlighted) { highlighted_ = highlighted; }
    bool isBordered() const { return bordered_; }
    void setBordered(bool bordered) { bordered_ = bordered; }
    QString keyEquivalent() const { return keyEquivalent_; }
    void setKeyEquivalent(const QString& key) { keyEquivalent_ = key; }
    int bezelStyle() const { return bezelStyle_; }
    void setBezelStyle(int style) { bezelStyle_ = style; }
    QString title() const { return title_; }
    void setTitle(const QString& title) { title_ = title; }
    QImage image() const { return image_; }
    // The owner clears the tint cache when it replaces the image (it is keyed by colour only).
    void setImage(const QImage& image) { image_ = image; }
    QImage alternateImage() const { return alternateImage_; }
    void setAlternateImage(const QImage& image) { alternateImage_ = image; }

    // The image tinted with `color`, cached under the colour's hexadecimal value.
    QImage imageWithColor(const QColor& color);
    void clearImageCache() { imageCache_.clear(); }

protected:
    virtual void drawBezel(QPainter& painter, const QRectF& frame);
    virtual void drawInterior(QPainter& painter, const QRectF& frame);
    // Draws the title and answers the rectangle it computed (before making it integral).
    virtual QRectF drawTitle(QPainter& painter, const QRectF& frame);

    QPainterPath bezelPath_;

private:
    void drawImage(QPainter& painter, const QRectF& frame, const QImage& image);

    unsigned buttonType_ = 0;
    QColor drawColor_;
    bool shouldDrawAsOnState_ = false;
    bool shouldShowAlternateImage_ = false;
    bool shouldTintWhenOnState_ = true;
    int state_ = 0;
    bool enabled_ = true;
    bool highlighted_ = false;
    bool bordered_ = true;
    QString keyEquivalent_;
    int bezelStyle_ = 0;
    QString title_;
    QImage image_;
    QImage alternateImage_;
    KavioTintCache imageCache_;
};

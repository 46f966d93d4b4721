#pragma once
// KavioVideoOutputCornerHandle: one of the geometry editor's four corner pins, a 12 x 12 child
// of the canvas (KavioVideoOutputSetupView). Positions are in canvas points with y upwards, as
// the canvas counts them. The handle's centre travels over the canvas's inner area (its bounds
// inset by 18), so its origin stays within [12, 12 + maxX] x [12, 12 + maxY].
//
// The coordinate chain: origin <-> display-normalised ((origin - 12) / max, 0..1) <-> output
// pixels (pixelValue, 0..pixelMaximum, y up) <-> corner coordinate (2 x pixel-normalised - 1).
// A travel range or a pixel size of zero leaves the values as they were instead of dividing by
// it, so no NaN ever reaches an output's corners.
//
// A press selects the handle and makes the canvas the keyboard focus; a drag moves it within
// its range, one undo group from the first move to the release. Main thread only.

#include <QPointF>
#include <QSizeF>
#include <QWidget>

class KavioVideoOutputSetupView;

class KavioVideoOutputCornerHandle : public QWidget {
public:
    static constexpr int kSize = 12;

    explicit KavioVideoOutputCornerHandle(KavioVideoOutputSetupView* delegate);

    // The frame origin in canvas points, y upwards. The widget stands at the nearest whole
    // pixel; the exact origin (a drag or a zoom may leave fractions) is kept.
    QPointF frameOrigin() const;
    void setFrameOrigin(QPointF origin);

    // maxX, maxY = the canvas's width and height - 36.
    void calculateMaximums();
    QPointF normalizedDisplayCoordinates() const;
    void setNormaliedDisplayCoordinates(QPointF normalised);
    // pixelValue from the handle's place; nothing while the travel range is empty.
    void calculatePixelValueByDisplayNormals();
    QPointF normalisedPixelCoordinates() const;
    // Places the handle at its pixel value; nothing while the pixel size is empty.
    void redrawByPixelValues();
    // Whether the travel range and the pixel size allow the conversions.
    bool hasUsableRanges() const;

    double maxX() const { return maxX_; }
    double maxY() const { return maxY_; }
    QPointF pixelValue() const { return pixelValue_; }
    void setPixelValue(QPointF value) { pixelValue_ = value; }
    QSizeF pixelMaximum() const { return pixelMaximum_; }
    void setPixelMaximum(QSizeF size) { pixelMaximum_ = size; }
    bool isSelected() const { return isSelected_; }
    void setIsSelected(bool selected);
    bool shouldHover() const { return shouldHover_; }
    void setShouldHover(bool hover);
    bool undoGroupingStarted() const { return undogroupingstarted_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // The pointer in canvas points, y upwards.
    QPointF pointerInCanvas(const QMouseEvent* event) const;

    KavioVideoOutputSetupView* delegate_;
    bool undogroupingstarted_ = false;
    bool isSelected_ = false;
    bool shouldHover_ = false;
    double maxX_ = 0, maxY_ = 0;
    QPointF exactOrigin_;
    QPointF pointOfMouseDown_;
    QPointF pixelValue_;
    QSizeF pixelMaximum_;
};

#pragma once
// The rounded tile at the top of the inspector that shows the current cue's thumbnail,
// letterboxed into the tile inset by 1.25 points. setCGImage may be called from any thread:
// the image is handed over on the main thread, so a drawing never sees it being replaced.

#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QWidget>

#include <memory>

class KavioInspectorThumbnailView : public QWidget {
    Q_OBJECT
public:
    explicit KavioInspectorThumbnailView(QWidget* parent = nullptr);

    // Shows the image from the next drawing on; nullptr shows an empty tile. Any thread.
    void setCGImage(std::shared_ptr<const QImage> image);
    std::shared_ptr<const QImage> image() const { return image_; }
    // Where an image of that pixel size is drawn in bounds of that size (y-up, from the bottom
    // left, as the drawing lays it out).
    static QRectF imageRectForBounds(const QSizeF& bounds, const QSize& imageSize);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<const QImage> image_;
    QPainterPath path_;
};

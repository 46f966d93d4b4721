#pragma once
// The rounded picture frame of a cue row. The setters take a picture on any thread, scale it
// into an image of the view's size there (letterboxed, optionally on white), keep it under a
// lock and ask for a redraw on the main queue; painting reads the kept image on the main thread.
// A null image is refused ("Invalid Image") and leaves the previous picture.

#include <QImage>
#include <QSize>
#include <QWidget>

#include <memory>
#include <mutex>

class KavioThumbnailView : public QWidget {
public:
    explicit KavioThumbnailView(QWidget* parent = nullptr);

    // The picture as shown, already scaled to the view's size; nullptr before the first one.
    std::shared_ptr<const QImage> image() const;

    void setThumbnailFromImage(const QImage& image) { resizeAndSetImage(image, false); }
    // PDF pages have no background of their own: the page area is filled white first.
    void setThumbnailFromPDFPage(const QImage& page) { resizeAndSetImage(page, true); }
    void resizeAndSetImage(const QImage& image, bool shouldMakeWhiteBackground = false);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const QImage> image_;
    QSize boundsSize_;
};

#pragma once
// A tile of the start-up window: one recent project with the preview stored in its file and
// its file name, or an offer to start a new project. It draws itself (y upwards from its bottom
// edge, as its layout is given), shows a focus border while the mouse is over it and hands a
// click to its delegate. Main thread.

#include <QImage>
#include <QString>
#include <QWidget>

class QPainter;

// What a tile asks for. Both close the start-up window.
class KavioRecentProjectsViewDelegate {
public:
    virtual ~KavioRecentProjectsViewDelegate() = default;
    virtual void loadProjectWithURL(const QString& path) = 0;
    virtual void newProject() = 0;
};

class KavioRecentProjectsView : public QWidget {
public:
    // The height of the title strip at the bottom, under the preview.
    static constexpr int kTitleStripHeight = 17;
    // Previews larger than this many megabytes of pixels are not decoded.
    static constexpr int kPreviewAllocationLimitMB = 64;

    explicit KavioRecentProjectsView(QWidget* parent = nullptr);

    // The preview inside a project file ("QLData" / "QLIMAGE" of its archive): a null image when
    // the file cannot be read, is not a project archive, or holds no decodable preview within
    // the limit; `error` then says why.
    static QImage previewOfProjectFile(const QString& path, QString* error = nullptr);

    QImage image() const { return image_; }
    void setImage(const QImage& image) { image_ = image; }
    // The project file; empty for a tile that starts a new project.
    QString url() const { return url_; }
    void setUrl(const QString& url) { url_ = url; }
    void setDelegate(KavioRecentProjectsViewDelegate* delegate) { delegate_ = delegate; }
    bool hasFocus() const { return hasFocus_; }

    // What the tile shows in its middle ("Create New Project...", "Preview not available") or
    // empty when it shows a preview.
    QString middleTitle() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // Both titles in the same face; the middle title centred on the tile, the project title on
    // the middle of the title strip.
    void drawTitle(QPainter& painter, const QString& text, bool middle) const;

    QImage image_;
    QString url_;
    KavioRecentProjectsViewDelegate* delegate_ = nullptr;
    bool hasFocus_ = false;
};

#pragma once
// KavioVideoOutputView: one output's tile in the set-up window's grid (128 x 72, placed by the
// output manager). Shows the output's number, resolution and screen name, an error mark and a
// bar on each side with edge blending, in the tile's colour: selection blue when selected, else
// hover grey while the pointer is over it, else idle grey. Drawn y upwards.
//
// A left click (Ctrl or not) selects the tile and posts "KavioOutputViewDidSelected" with the
// output; a right click selects nothing and posts nothing. Hover follows enter and leave only
// while the tile is not selected, so a tile the manager deselects keeps its hover colour until
// the pointer leaves. The tile decides nothing else: the manager sets selection and errors.
//
// Main thread only.

#include <QColor>
#include <QWidget>

#include <memory>

class KavioVideoOutputObject;

inline const QString kKavioOutputViewDidSelectedNotification = QStringLiteral("KavioOutputViewDidSelected");

class KavioVideoOutputView : public QWidget {
public:
    explicit KavioVideoOutputView(QWidget* parent = nullptr);

    std::shared_ptr<KavioVideoOutputObject> object() const { return object_.lock(); }
    void setObject(const std::shared_ptr<KavioVideoOutputObject>& object);
    bool isSelected() const { return isSelected_; }
    void setIsSelected(bool selected);
    bool shouldHover() const { return shouldHover_; }
    void setShouldHover(bool hover);
    bool hasError() const { return hasError_; }
    void setHasError(bool error);
    // The colour of the tile's state.
    QColor drawColor() const;
    // Forgets the output and leaves the grid without a redraw; the manager drops the tile after.
    void removeResources();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    std::weak_ptr<KavioVideoOutputObject> object_;
    bool isSelected_ = false;
    bool shouldHover_ = false;
    bool hasError_ = false;
};

#pragma once
// The inspector's stacking view, the document view of its scroll area: it holds the section
// views its data source gives, stands at least as tall as its window less 50 points, and in its
// empty state hides every section and draws "No Cue Selected". The sections' places are laid
// out with y growing upwards from the bottom, as the controller computes them; setSectionOrigin
// converts (qt_y = H − y − h). Main thread.

#include <QWidget>

#include <memory>
#include <vector>

class KavioVideoItemPreferencesViewItem;

class KavioVideoItemPreferencesViewDataSource {
public:
    virtual ~KavioVideoItemPreferencesViewDataSource() = default;
    // The sections in display order.
    virtual const std::vector<std::unique_ptr<KavioVideoItemPreferencesViewItem>>& preferenceItems() const = 0;
};

class KavioVideoItemPreferencesView : public QWidget {
    Q_OBJECT
public:
    // The room the window keeps for the rest of the panel.
    static constexpr int kWindowMargin = 50;

    explicit KavioVideoItemPreferencesView(QWidget* parent = nullptr);

    KavioVideoItemPreferencesViewDataSource* dataSource() const { return dataSource_; }
    // Takes in every section's view in order, then updateHeight().
    void setDataSource(KavioVideoItemPreferencesViewDataSource* dataSource);
    // The larger of the visible sections' total height and the window's height less 50.
    void updateHeight();
    // The window's height less 50 (−50 outside a window).
    int floorHeight() const;

    bool shouldDrawThereAreNoItems() const { return shouldDrawThereAreNoItems_; }
    // Hides (true) or shows again (false) every section; nothing when the flag is unchanged.
    void setShouldDrawThereAreNoItems(bool flag);

    // Places a child with its bottom-left corner at y (y growing upwards).
    void setSectionOrigin(QWidget* view, double y);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    KavioVideoItemPreferencesViewDataSource* dataSource_ = nullptr;
    bool shouldDrawThereAreNoItems_ = false;
};

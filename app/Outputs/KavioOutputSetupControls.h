#pragma once
// The output set-up window's controls, as the output manager reads and sets them: the outputs
// grid on top, the geometry editor with its fields below it, the settings beside it.
// TODO(control interfaces): the settings' pop-ups and fields are still plain Qt
// widgets; the control library's take their place behind the same members, and the basic and
// advanced settings are swapped in their placeholder.
//
// Main thread only.

#include <QComboBox>
#include <QVariant>
#include <QWidget>

#include <functional>

class QAction;
class QLineEdit;
class QPushButton;
class KavioScrollView;
class KavioVideoOutputsView;
class KavioVideoOutputSetupView;
class KavioControllableTextField;
class KavioPopUpButton;
class KavioButton;
class QVTMetalManager;

// A pop-up whose items carry a tag and a represented object. Items may share a title: every item
// is added with an empty title and then titled, so none replaces another.
class KavioOutputPopUp : public QComboBox {
public:
    explicit KavioOutputPopUp(QWidget* parent = nullptr);
    // Adds an item; answers its position.
    int addItemWithTitle(const QString& title, long tag = 0, const QVariant& representedObject = {});
    void addSeparator();
    long tagAt(int position) const;
    QVariant representedObjectAt(int position) const;
    // Position of the first item of that title or tag, or -1.
    int indexOfItemWithTitle(const QString& title) const;
    int indexOfItemWithTag(long tag) const;
    // How many items carry exactly that title.
    int countOfItemsWithTitle(const QString& title) const;
    // Select the first item of that title or tag; false (selection kept) when there is none.
    bool selectItemWithTitle(const QString& title);
    bool selectItemWithTag(long tag);
    QString titleOfSelectedItem() const { return currentText(); }
    long selectedTag() const { return tagAt(currentIndex()); }
    // Remembers the selected title as the undo value.
    void cacheToOldValue() { oldItemTitle_ = currentText(); }
    QString oldItemTitle() const { return oldItemTitle_; }

private:
    QString oldItemTitle_;
};

class KavioOutputSetupControls : public QWidget {
public:
    explicit KavioOutputSetupControls(QVTMetalManager& gpu, QWidget* parent = nullptr);
    // Called when the window closes.
    void setWillClose(std::function<void()> willClose) { willClose_ = std::move(willClose); }

    KavioOutputPopUp* renderingBitDepth;
    KavioOutputPopUp* screensPopup;
    KavioOutputPopUp* resolutionPopup;
    KavioOutputPopUp* currentScreenPopup;
    KavioOutputPopUp* orientationPopup;
    KavioOutputPopUp* warpTypePopup;
    // The video format of an NDI or DeckLink destination, and a DeckLink card's keyer.
    KavioOutputPopUp* outputFormatPopup;
    KavioOutputPopUp* outputKeyerPopup;
    KavioButton* spanModeButton;
    KavioButton* edgeBlendEnableButton;
    KavioButton* testCardButton;
    KavioButton* enableMatteColorButton;
    KavioButton* enableTimeOverlaysButton;
    KavioButton* enableSubtitlesButton;
    KavioButton* disableDisplayMirroringButton;
    KavioButton* disableMouseCursorHideButton;
    QLineEdit* screenRowsField;
    QLineEdit* screenColsField;
    QLineEdit* resolutionWidthField;
    QLineEdit* resolutionHeightField;
    // The outputs switch ("/kavio/toggleVideoOutputs"), and its error-coloured stand-in shown
    // while a destination is missing.
    KavioButton* fullscreenButton;
    KavioButton* fullscreenErrorButton;
    QPushButton* restartNeededAlertButton;
    QAction* fullscreenMenuItem;  // checkable
    // The outputs grid on top of the window, in its scroll view; the manager places the tiles.
    KavioScrollView* outputsViewScrollView;
    KavioVideoOutputsView* outputsView;
    // The geometry editor in its scroll view, with its zoom, corner and edge-blend controls.
    KavioScrollView* warpViewScrollView;
    KavioVideoOutputSetupView* outputSetupView;
    KavioPopUpButton* zoomPopup;
    KavioButton* resetCornersButton;
    KavioControllableTextField* currentCornerX;
    KavioControllableTextField* currentCornerY;
    // Left, right, top, bottom.
    KavioControllableTextField* edgeBlendWidths[4];
    KavioControllableTextField* edgeBlendPowers[4];
    KavioButton* edgeBlendResetButton;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<void()> willClose_;
};

#pragma once
// The output set-up window's controls, as the output manager reads and sets them: the outputs
// grid on top, the geometry editor with its fields below it, the settings beside it. The
// settings come in a basic and an advanced view, one at a time in their placeholder.
//
// Main thread only.

#include <QVariant>
#include <QWidget>

#include <functional>

class QAction;
class QVBoxLayout;
class KavioScrollView;
class KavioVideoOutputsView;
class KavioVideoOutputSetupView;
class KavioControllableTextField;
class KavioPopUpButton;
class KavioButton;
class KavioPlaceholderView;
class QVTMetalManager;

// Appends an item to the pop-up and answers its position. Unlike KavioPopUpButton::addItem it
// replaces no item of the same title: destinations and card formats may share one, so the item
// is added untitled and then titled.
int appendPopUpItem(KavioPopUpButton& popup, const QString& title, long tag = 0, const QVariant& representedObject = {});
// How many items carry exactly that title.
int countOfPopUpItemsWithTitle(const KavioPopUpButton& popup, const QString& title);

class KavioOutputSetupControls : public QWidget {
public:
    explicit KavioOutputSetupControls(QVTMetalManager& gpu, QWidget* parent = nullptr);
    // Called when the window closes.
    void setWillClose(std::function<void()> willClose) { willClose_ = std::move(willClose); }
    // Puts the basic or the advanced settings view into the placeholder, the other out of it.
    void showSettingsView(bool advanced);
    bool showsAdvancedSettings() const;

    KavioPopUpButton* renderingBitDepth;
    KavioPopUpButton* screensPopup;
    KavioPopUpButton* resolutionPopup;
    KavioPopUpButton* currentScreenPopup;
    KavioPopUpButton* orientationPopup;
    KavioPopUpButton* warpTypePopup;
    // The video format of an NDI or DeckLink destination, and a DeckLink card's keyer.
    KavioPopUpButton* outputFormatPopup;
    KavioPopUpButton* outputKeyerPopup;
    // Beside the format pop-up while a card's format does not fit the render resolution.
    KavioButton* formatErrorButton;
    KavioButton* spanModeButton;
    KavioButton* edgeBlendEnableButton;
    KavioButton* testCardButton;
    KavioButton* enableMatteColorButton;
    KavioButton* enableTimeOverlaysButton;
    KavioButton* enableSubtitlesButton;
    KavioButton* disableDisplayMirroringButton;
    KavioButton* disableMouseCursorHideButton;
    KavioControllableTextField* screenRowsField;
    KavioControllableTextField* screenColsField;
    KavioControllableTextField* resolutionWidthField;
    KavioControllableTextField* resolutionHeightField;
    // The outputs switch ("/kavio/toggleVideoOutputs"), and its error-coloured stand-in shown
    // while a destination is missing.
    KavioButton* fullscreenButton;
    KavioButton* fullscreenErrorButton;
    KavioButton* restartNeededAlertButton;
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
    // The settings: the two views, their placeholder and the switches between them.
    KavioPlaceholderView* settingsPlaceholder;
    QWidget* basicSettingsView;
    QWidget* advancedSettingsView;
    KavioButton* basicSettingsButton;
    KavioButton* advancedSettingsButton;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QVBoxLayout* placeholderLayout_;
    std::function<void()> willClose_;
};

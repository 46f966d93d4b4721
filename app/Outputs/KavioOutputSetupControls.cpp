#include "Outputs/KavioOutputSetupControls.h"

#include "Outputs/KavioVideoOutputSetupView.h"
#include "Outputs/KavioVideoOutputsView.h"
#include "Views/KavioButton.h"
#include "Views/KavioControllableTextField.h"
#include "Views/KavioPlaceholderView.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioScrollView.h"
#include "Views/KavioStylishButtonCell.h"

#include <QAction>
#include <QFormLayout>
#include <QPalette>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

int appendPopUpItem(KavioPopUpButton& popup, const QString& title, long tag, const QVariant& representedObject)
{
    popup.addItem(QString(), tag);
    const int position = popup.numberOfItems() - 1;
    popup.setItemTitle(position, title);
    popup.setItemRepresentedObject(position, representedObject);
    return position;
}

int countOfPopUpItemsWithTitle(const KavioPopUpButton& popup, const QString& title)
{
    int n = 0;
    for (int i = 0; i < popup.numberOfItems(); ++i) {
        const KavioPopUpButton::Entry item = popup.itemAtIndex(i);
        n += !item.isSeparator && item.title == title ? 1 : 0;
    }
    return n;
}

KavioOutputSetupControls::KavioOutputSetupControls(QVTMetalManager& gpu, QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Video Outputs"));
    // The program's dark window grey, under controls drawn for it.
    QPalette dark = palette();
    dark.setColor(QPalette::Window, QColor::fromRgbF(0.18f, 0.18f, 0.18f));
    dark.setColor(QPalette::WindowText, QColor::fromRgbF(0.75f, 0.75f, 0.75f));
    setPalette(dark);
    setAutoFillBackground(true);
    auto* column = new QVBoxLayout(this);
    outputsViewScrollView = new KavioScrollView(this);
    outputsViewScrollView->setFixedHeight(135);
    outputsView = new KavioVideoOutputsView;
    outputsView->resize(448, 125);
    outputsViewScrollView->setWidget(outputsView);
    column->addWidget(outputsViewScrollView);

    // The geometry editor beside the settings.
    auto* middle = new QHBoxLayout;
    column->addLayout(middle);
    auto* editor = new QVBoxLayout;
    middle->addLayout(editor, 1);
    warpViewScrollView = new KavioScrollView(this);
    warpViewScrollView->setMinimumSize(402, 245);
    outputSetupView = new KavioVideoOutputSetupView(gpu);
    outputSetupView->resize(400, 243);
    warpViewScrollView->setWidget(outputSetupView);
    editor->addWidget(warpViewScrollView, 1);
    auto* geometry = new QGridLayout;
    editor->addLayout(geometry);
    auto numberField = [this](bool floats, double maximum) {
        auto* f = new KavioControllableTextField(this);
        f->setAllowsFloats(floats);
        f->setBounds(0, maximum);
        f->setFixedWidth(70);
        return f;
    };
    zoomPopup = new KavioPopUpButton(this);
    for (const char* level : {"Fit", "25%", "50%", "75%", "100%", "150%", "200%"})
        zoomPopup->addItemWithTitle(QString::fromLatin1(level));
    zoomPopup->selectItemWithTitle(QStringLiteral("Fit"));
    resetCornersButton = new KavioButton(this);
    resetCornersButton->setTitle(QStringLiteral("Reset Corners"));
    currentCornerX = numberField(false, 16384);
    currentCornerY = numberField(false, 16384);
    geometry->addWidget(new QLabel(QStringLiteral("Zoom"), this), 0, 0);
    geometry->addWidget(zoomPopup, 0, 1);
    geometry->addWidget(new QLabel(QStringLiteral("Corner X"), this), 0, 2);
    geometry->addWidget(currentCornerX, 0, 3);
    geometry->addWidget(new QLabel(QStringLiteral("Y"), this), 0, 4);
    geometry->addWidget(currentCornerY, 0, 5);
    geometry->addWidget(resetCornersButton, 0, 6);
    const char* sides[] = {"Left", "Right", "Top", "Bottom"};
    for (int i = 0; i < 4; ++i) {
        edgeBlendWidths[i] = numberField(false, 8192);
        edgeBlendPowers[i] = numberField(true, 10);
        geometry->addWidget(new QLabel(QString::fromLatin1(sides[i]), this), 1 + i / 2, (i % 2) * 3);
        geometry->addWidget(edgeBlendWidths[i], 1 + i / 2, (i % 2) * 3 + 1);
        geometry->addWidget(edgeBlendPowers[i], 1 + i / 2, (i % 2) * 3 + 2);
    }
    edgeBlendResetButton = new KavioButton(this);
    edgeBlendResetButton->setTitle(QStringLiteral("Reset Edge Blending"));
    geometry->addWidget(edgeBlendResetButton, 1, 6);

    // The settings: the switches between the two views above their placeholder, the outputs
    // switch below it.
    auto* settings = new QVBoxLayout;
    middle->addLayout(settings);
    auto* views = new QHBoxLayout;
    settings->addLayout(views);
    auto viewSwitch = [&](const QString& title) {
        auto* b = new KavioButton(this);
        b->setTitle(title);
        b->setButtonType(KavioButtonType::OnOff);
        views->addWidget(b);
        return b;
    };
    basicSettingsButton = viewSwitch(QStringLiteral("Basic"));
    advancedSettingsButton = viewSwitch(QStringLiteral("Advanced"));
    settingsPlaceholder = new KavioPlaceholderView(this);
    settingsPlaceholder->setFixedWidth(300);
    placeholderLayout_ = new QVBoxLayout(settingsPlaceholder);
    placeholderLayout_->setContentsMargins(6, 6, 6, 6);
    settings->addWidget(settingsPlaceholder, 1);
    basicSettingsView = new QWidget;
    advancedSettingsView = new QWidget;
    auto* basic = new QFormLayout(basicSettingsView);
    auto* advanced = new QFormLayout(advancedSettingsView);
    for (QFormLayout* form : {basic, advanced})
        form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    auto popUp = [](QFormLayout* form, const QString& label) {
        auto* p = new KavioPopUpButton;
        form->addRow(label, p);
        return p;
    };
    auto check = [](QFormLayout* form, const QString& label) {
        auto* c = new KavioButton(nullptr, std::make_unique<KavioStylishButtonCell>());
        c->setTitle(label);
        c->setButtonType(KavioButtonType::OnOff);
        form->addRow(c);
        return c;
    };
    auto field = [](QFormLayout* form, const QString& label, int maximum) {
        auto* f = new KavioControllableTextField;
        f->setBounds(1, maximum);
        f->setFixedWidth(70);
        form->addRow(label, f);
        return f;
    };
    auto titled = [](KavioPopUpButton* popup, std::initializer_list<std::pair<const char*, long>> items) {
        for (const auto& [title, tag] : items)
            popup->addItem(QString::fromUtf8(title), tag);
        popup->selectItemAtIndex(0);
    };
    screensPopup = popUp(basic, QStringLiteral("Screens"));
    titled(screensPopup, {{"1", 0}, {"2", 2}, {"3", 3}});
    screenRowsField = field(basic, QStringLiteral("Rows"), 16);
    screenColsField = field(basic, QStringLiteral("Columns"), 16);
    resolutionPopup = popUp(basic, QStringLiteral("Resolution"));
    titled(resolutionPopup, {{"1280 x 720", 0}, {"1920 x 1080", 0}, {"2560 x 1440", 0}, {"3840 x 2160", 0}});
    resolutionWidthField = field(basic, QStringLiteral("Width"), 16384);
    resolutionHeightField = field(basic, QStringLiteral("Height"), 16384);
    // The grid and resolution a first start has, until the manager shows others.
    screenRowsField->setText(QStringLiteral("1"));
    screenColsField->setText(QStringLiteral("1"));
    resolutionPopup->selectItemWithTitle(QStringLiteral("1920 x 1080"));
    resolutionWidthField->setText(QStringLiteral("1920"));
    resolutionHeightField->setText(QStringLiteral("1080"));
    currentScreenPopup = popUp(basic, QStringLiteral("Destination"));
    orientationPopup = popUp(basic, QStringLiteral("Orientation"));
    for (int degrees : {0, 90, 180, 270})
        orientationPopup->addItem(QString::number(degrees) + QChar(0x00B0), degrees);
    orientationPopup->selectItemAtIndex(0);
    warpTypePopup = popUp(basic, QStringLiteral("Warp"));
    warpTypePopup->addItem(QStringLiteral("Corners"), 0);
    for (int mode = 1; mode <= 12; ++mode) {
        const int cells = mode * 8 + 1;
        warpTypePopup->addItem(QStringLiteral("%1 x %1").arg(cells), mode);
    }
    warpTypePopup->selectItemAtIndex(0);
    // The format pop-up with its error mark beside it.
    auto* format = new QHBoxLayout;
    outputFormatPopup = new KavioPopUpButton;
    formatErrorButton = new KavioButton;
    formatErrorButton->setTitle(QStringLiteral("!"));
    formatErrorButton->setDrawsErrorColor(true);
    formatErrorButton->setFixedWidth(24);
    formatErrorButton->hide();
    format->addWidget(outputFormatPopup, 1);
    format->addWidget(formatErrorButton);
    basic->addRow(QStringLiteral("Format"), format);
    outputKeyerPopup = popUp(basic, QStringLiteral("Keyer"));
    spanModeButton = check(basic, QStringLiteral("Span"));
    edgeBlendEnableButton = check(basic, QStringLiteral("Edge blending"));
    testCardButton = check(basic, QStringLiteral("Test card"));

    renderingBitDepth = popUp(advanced, QStringLiteral("Bit depth"));
    titled(renderingBitDepth, {{"8 bit", 0}, {"10 bit", 10}});
    restartNeededAlertButton = new KavioButton;
    restartNeededAlertButton->setTitle(QStringLiteral("Restart needed"));
    restartNeededAlertButton->setDrawsErrorColor(true);
    advanced->addRow(restartNeededAlertButton);
    enableMatteColorButton = check(advanced, QStringLiteral("Matte colour"));
    enableTimeOverlaysButton = check(advanced, QStringLiteral("Time overlay"));
    enableSubtitlesButton = check(advanced, QStringLiteral("Subtitles / CC"));
    disableDisplayMirroringButton = check(advanced, QStringLiteral("Disable display mirroring"));
    disableMouseCursorHideButton = check(advanced, QStringLiteral("Hide the cursor over outputs"));
    // The view not shown is kept by the window, out of the placeholder.
    basicSettingsView->setParent(this);
    advancedSettingsView->setParent(this);
    showSettingsView(false);

    fullscreenButton = new KavioButton(this);
    fullscreenButton->setTitle(QStringLiteral("Outputs"));
    fullscreenButton->setButtonType(KavioButtonType::OnOff);
    fullscreenButton->setOSCAddress(QStringLiteral("/kavio/toggleVideoOutputs"));
    fullscreenErrorButton = new KavioButton(this);
    fullscreenErrorButton->setTitle(QStringLiteral("Outputs"));
    fullscreenErrorButton->setDrawsErrorColor(true);
    settings->addWidget(fullscreenButton);
    settings->addWidget(fullscreenErrorButton);
    fullscreenMenuItem = new QAction(QStringLiteral("Video Outputs"), this);
    fullscreenMenuItem->setCheckable(true);
}

void KavioOutputSetupControls::showSettingsView(bool advanced)
{
    QWidget* shown = advanced ? advancedSettingsView : basicSettingsView;
    QWidget* hidden = advanced ? basicSettingsView : advancedSettingsView;
    placeholderLayout_->removeWidget(hidden);
    hidden->hide();
    hidden->setParent(this);
    shown->setParent(settingsPlaceholder);
    placeholderLayout_->addWidget(shown);
    shown->show();
    basicSettingsButton->setState(advanced ? 0 : 1);
    advancedSettingsButton->setState(advanced ? 1 : 0);
}

bool KavioOutputSetupControls::showsAdvancedSettings() const
{
    return advancedSettingsView->parentWidget() == settingsPlaceholder;
}

void KavioOutputSetupControls::closeEvent(QCloseEvent* event)
{
    if (willClose_)
        willClose_();
    QWidget::closeEvent(event);
}

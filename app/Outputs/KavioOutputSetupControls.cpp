#include "Outputs/KavioOutputSetupControls.h"

#include "Outputs/KavioVideoOutputSetupView.h"
#include "Outputs/KavioVideoOutputsView.h"
#include "Views/KavioButton.h"
#include "Views/KavioControllableTextField.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioScrollView.h"
#include "Views/KavioStylishButtonCell.h"

#include <QAction>
#include <QFormLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {
constexpr int kTagRole = Qt::UserRole + 1;
constexpr int kObjectRole = Qt::UserRole + 2;
}  // namespace

KavioOutputPopUp::KavioOutputPopUp(QWidget* parent)
    : QComboBox(parent)
{
}

int KavioOutputPopUp::addItemWithTitle(const QString& title, long tag, const QVariant& representedObject)
{
    addItem(QString());
    const int position = count() - 1;
    setItemText(position, title);
    setItemData(position, QVariant::fromValue<qlonglong>(tag), kTagRole);
    setItemData(position, representedObject, kObjectRole);
    return position;
}

void KavioOutputPopUp::addSeparator()
{
    insertSeparator(count());
}

long KavioOutputPopUp::tagAt(int position) const
{
    return position < 0 ? 0 : long(itemData(position, kTagRole).toLongLong());
}

QVariant KavioOutputPopUp::representedObjectAt(int position) const
{
    return itemData(position, kObjectRole);
}

int KavioOutputPopUp::indexOfItemWithTitle(const QString& title) const
{
    for (int i = 0; i < count(); ++i)
        if (itemText(i) == title && itemData(i, kTagRole).isValid())
            return i;
    return -1;
}

int KavioOutputPopUp::indexOfItemWithTag(long tag) const
{
    for (int i = 0; i < count(); ++i)
        if (itemData(i, kTagRole).isValid() && tagAt(i) == tag)
            return i;
    return -1;
}

int KavioOutputPopUp::countOfItemsWithTitle(const QString& title) const
{
    int n = 0;
    for (int i = 0; i < count(); ++i)
        n += itemText(i) == title && itemData(i, kTagRole).isValid() ? 1 : 0;
    return n;
}

bool KavioOutputPopUp::selectItemWithTitle(const QString& title)
{
    const int position = indexOfItemWithTitle(title);
    if (position >= 0)
        setCurrentIndex(position);
    return position >= 0;
}

bool KavioOutputPopUp::selectItemWithTag(long tag)
{
    const int position = indexOfItemWithTag(tag);
    if (position >= 0)
        setCurrentIndex(position);
    return position >= 0;
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

    auto* form = new QFormLayout;
    middle->addLayout(form);
    auto popUp = [&](const QString& label) {
        auto* p = new KavioOutputPopUp(this);
        form->addRow(label, p);
        return p;
    };
    auto check = [&](const QString& label) {
        auto* c = new KavioButton(this, std::make_unique<KavioStylishButtonCell>());
        c->setTitle(label);
        c->setButtonType(KavioButtonType::OnOff);
        form->addRow(c);
        return c;
    };
    auto field = [&](const QString& label, int minimum, int maximum) {
        auto* f = new QLineEdit(this);
        f->setValidator(new QIntValidator(minimum, maximum, f));
        form->addRow(label, f);
        return f;
    };
    renderingBitDepth = popUp(QStringLiteral("Bit depth"));
    renderingBitDepth->addItemWithTitle(QStringLiteral("8 bit"), 0);
    renderingBitDepth->addItemWithTitle(QStringLiteral("10 bit"), 10);
    screensPopup = popUp(QStringLiteral("Screens"));
    screensPopup->addItemWithTitle(QStringLiteral("1"), 0);
    screensPopup->addItemWithTitle(QStringLiteral("2"), 2);
    screensPopup->addItemWithTitle(QStringLiteral("3"), 3);
    screenRowsField = field(QStringLiteral("Rows"), 1, 16);
    screenColsField = field(QStringLiteral("Columns"), 1, 16);
    resolutionPopup = popUp(QStringLiteral("Resolution"));
    for (const char* title : {"1280 x 720", "1920 x 1080", "2560 x 1440", "3840 x 2160"})
        resolutionPopup->addItemWithTitle(QString::fromLatin1(title));
    resolutionWidthField = field(QStringLiteral("Width"), 1, 16384);
    resolutionHeightField = field(QStringLiteral("Height"), 1, 16384);
    currentScreenPopup = popUp(QStringLiteral("Destination"));
    orientationPopup = popUp(QStringLiteral("Orientation"));
    for (int degrees : {0, 90, 180, 270})
        orientationPopup->addItemWithTitle(QString::number(degrees) + QChar(0x00B0), degrees);
    warpTypePopup = popUp(QStringLiteral("Warp"));
    warpTypePopup->addItemWithTitle(QStringLiteral("Corners"), 0);
    for (int mode = 1; mode <= 12; ++mode) {
        const int cells = mode * 8 + 1;
        warpTypePopup->addItemWithTitle(QStringLiteral("%1 x %1").arg(cells), mode);
    }
    outputFormatPopup = popUp(QStringLiteral("Format"));
    outputKeyerPopup = popUp(QStringLiteral("Keyer"));
    spanModeButton = check(QStringLiteral("Span"));
    edgeBlendEnableButton = check(QStringLiteral("Edge blending"));
    testCardButton = check(QStringLiteral("Test card"));
    enableMatteColorButton = check(QStringLiteral("Matte colour"));
    enableTimeOverlaysButton = check(QStringLiteral("Time overlay"));
    enableSubtitlesButton = check(QStringLiteral("Subtitles / CC"));
    disableDisplayMirroringButton = check(QStringLiteral("Disable display mirroring"));
    disableMouseCursorHideButton = check(QStringLiteral("Hide the cursor over outputs"));
    fullscreenButton = new KavioButton(this);
    fullscreenButton->setTitle(QStringLiteral("Outputs"));
    fullscreenButton->setButtonType(KavioButtonType::OnOff);
    fullscreenButton->setOSCAddress(QStringLiteral("/kavio/toggleVideoOutputs"));
    fullscreenErrorButton = new KavioButton(this);
    fullscreenErrorButton->setTitle(QStringLiteral("Outputs"));
    fullscreenErrorButton->setDrawsErrorColor(true);
    restartNeededAlertButton = new QPushButton(QStringLiteral("Restart needed"), this);
    form->addRow(fullscreenButton);
    form->addRow(fullscreenErrorButton);
    form->addRow(restartNeededAlertButton);
    fullscreenMenuItem = new QAction(QStringLiteral("Video Outputs"), this);
    fullscreenMenuItem->setCheckable(true);
}

void KavioOutputSetupControls::closeEvent(QCloseEvent* event)
{
    if (willClose_)
        willClose_();
    QWidget::closeEvent(event);
}

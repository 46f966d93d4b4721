// The NDI and DeckLink format tables, applying a row to an output, the rows a card plays, and
// the undoable format and keyer changes.
#include "Outputs/KavioDeckLinkBrowser.h"
#include "Outputs/KavioDecklinkOutput.h"
#include "Outputs/KavioOutputSetupControls.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"

#include "Log.h"
#include "NotificationCenter.h"
#include "UndoManager.h"
#include "UserDefaults.h"

#include <algorithm>

namespace {

const QString kDisplayName = QStringLiteral("displayName");
const QString kTimeValue = QStringLiteral("timeValue");
const QString kTimeScale = QStringLiteral("timeScale");
const QString kFormat = QStringLiteral("format");
const QString kDisplayMode = QStringLiteral("bmdDisplayMode");
const QString kRenderWidth = QStringLiteral("renderWidth");
const QString kRenderHeight = QStringLiteral("renderHeight");
const QString kLastUsedNDI = QStringLiteral("lastUsedFormat_NDI");
const QString kLastUsedBMD = QStringLiteral("lastUsedFormat_BMD");
const QString kUnavailable = QStringLiteral("Unavailable");

QVariantMap rowNamed(const QVariantList& rows, const QString& name)
{
    for (const QVariant& row : rows)
        if (row.toMap().value(kDisplayName).toString() == name)
            return row.toMap();
    return {};
}

// Sets the rate when the row has both halves of it.
void applyRate(KavioVideoOutputObject& output, const QVariantMap& row)
{
    if (row.contains(kTimeValue) && row.contains(kTimeScale))
        output.setFramerate({row.value(kTimeValue).toLongLong(), row.value(kTimeScale).toInt(), 0});
}

QString keyerTitle(decklink::KeyingMode mode)
{
    switch (mode) {
    case decklink::KeyingMode::Internal: return QStringLiteral("Internal");
    case decklink::KeyingMode::External: return QStringLiteral("External");
    case decklink::KeyingMode::None: break;
    }
    return QStringLiteral("None");
}

}  // namespace

KavioDeckLinkBrowser& KavioVideoOutputManager::deckLinkBrowser() const
{
    return decklinkBrowser_ ? *decklinkBrowser_ : KavioDeckLinkBrowser::sharedBrowser();
}

QVariantList KavioVideoOutputManager::ndiOutputFormats() const
{
    static const struct {
        const char* rate;
        int timeValue, timeScale;
    } rates[] = {{"23.98", 24000, 1001}, {"24", 24000, 1000}, {"25", 25000, 1000}, {"29.97", 30000, 1001},
                 {"30", 30000, 1000},    {"50", 50000, 1000}, {"59.94", 60000, 1001}, {"60", 60000, 1000}};
    QVariantList rows;
    const auto family = [&](const char* prefix, const char* format) {
        for (const auto& r : rates)
            rows.append(QVariantMap{{kDisplayName, QStringLiteral("%1 - %2fps").arg(prefix, r.rate)},
                                    {kTimeValue, r.timeValue},
                                    {kTimeScale, r.timeScale},
                                    {kFormat, QString::fromLatin1(format)}});
    };
    if (useHighBitDepthRendering_) {
        family("P216", "p216");
    } else {
        family("YUV", "yuv");
        family("RGBA", "rgba");
    }
    return rows;
}

QVariantList KavioVideoOutputManager::decklinkOutputFormats()
{
    QVariantList rows;
    for (const decklink::DisplayMode& mode : decklink::displayModes())
        rows.append(QVariantMap{{kDisplayName, QString::fromLatin1(mode.name)},
                                {kDisplayMode, QVariant::fromValue<uint>(mode.code)},
                                {kTimeValue, qlonglong(mode.timeValue)},
                                {kTimeScale, mode.timeScale},
                                {QStringLiteral("fields"), mode.fields},
                                {kRenderWidth, mode.width},
                                {kRenderHeight, mode.height}});
    return rows;
}

void KavioVideoOutputManager::fallbackToDefaultNDIOutputFormat()
{
    controls_->outputFormatPopup->selectItemWithTitle(useHighBitDepthRendering_ ? QStringLiteral("P216 - 30fps")
                                                                                 : QStringLiteral("YUV - 30fps"));
}

void KavioVideoOutputManager::applyNDIOutputFormatByName(const QString& name, unsigned long screenIndex)
{
    const OutputPtr output = outputAtIndex(screenIndex);
    const QVariantMap row = rowNamed(ndiOutputFormats(), name);
    if (!output || row.isEmpty()) {
        KLOG_ERROR(":: error, there is no selected NDI output format!");
        return;
    }
    applyRate(*output, row);
    const QString format = row.value(kFormat).toString();
    if (format == "yuv" || format == "p216")
        output->setConvertToYUV(true);
    else if (format == "rgba")
        output->setConvertToYUV(false);
    output->setVideoOutputFormatString(name);
    // An NDI output always sends pictures of the render size.
    output->changeFrameIfNeeded(QRectF(QPointF(0, 0), renderResolution()));
}

void KavioVideoOutputManager::applyDecklinkOutputFormatByName(const QString& name, unsigned long screenIndex)
{
    const OutputPtr output = outputAtIndex(screenIndex);
    const QVariantMap row = rowNamed(decklinkOutputFormats(), name);
    if (!output || row.isEmpty()) {
        KLOG_ERROR(":: error, there is no selected Decklink output format!");
        return;
    }
    // A card sends pictures of its mode's size.
    output->changeFrameIfNeeded(QRectF(0, 0, row.value(kRenderWidth).toDouble(), row.value(kRenderHeight).toDouble()));
    applyRate(*output, row);
    output->setVideoOutputFormatString(name);
    output->setDecklinkFormat(row.value(kDisplayMode).toUInt());
}

std::vector<KavioVideoOutputManager::FormatItem>
KavioVideoOutputManager::supportedDecklinkFormatForDevice(const decklink::DeckLinkDevice& device) const
{
    const QVariantList rows = decklinkOutputFormats();
    std::vector<FormatItem> items;
    for (const auto& format : device.playbackVideoFormatDescriptions()) {
        if (format.pixelFormat != decklink::kPixelFormatBGRA && format.pixelFormat != decklink::kPixelFormat2vuy
            && format.pixelFormat != decklink::kPixelFormatARGB32)
            continue;
        for (const QVariant& row : rows) {
            const QVariantMap map = row.toMap();
            if (map.value(kDisplayMode).toUInt() == format.displayMode) {
                items.push_back({map.value(kDisplayName).toString(), map});
                break;
            }
        }
    }
    return items;
}

void KavioVideoOutputManager::changeOutputFormat()
{
    undoChangeOutputFormat(controls_->outputFormatPopup->titleOfSelectedItem(), selectedoutput_);
}

void KavioVideoOutputManager::undoChangeOutputFormat(const QString& name, unsigned long screenIndex)
{
    postUnsavedChanges();
    const OutputPtr output = outputAtIndex(screenIndex);
    if (!output)
        return;
    const QString old = output->videoOutputFormatString();
    output->setVideoOutputFormatString(name);
    const auto kind = output->videoOutputType();
    if (kind == KavioVideoOutputTypeNDI) {
        applyNDIOutputFormatByName(name, screenIndex);
        defaults_.setString(name, kLastUsedNDI);
        defaults_.synchronize();
    } else if (kind == KavioVideoOutputTypeDeckLink) {
        applyDecklinkOutputFormatByName(name, screenIndex);
        defaults_.setString(name, kLastUsedBMD);
        defaults_.synchronize();
    }
    checkOutputsForBestRenderMethod();
    // The tiles' marks follow the format as the pop-up's does.
    validateOutputs();
    selectScreenAtIndex(screenIndex);
    validateFormatPopupForOutput(output);
    undoManager_->registerUndo(this, [this, old, screenIndex] { undoChangeOutputFormat(old, screenIndex); });
    undoManager_->setActionName("Change Output Format");
}

void KavioVideoOutputManager::changeOutputKeyer()
{
    undoChangeOutputKeyer(controls_->outputKeyerPopup->titleOfSelectedItem(), selectedoutput_);
}

void KavioVideoOutputManager::undoChangeOutputKeyer(const QString& keyer, unsigned long screenIndex)
{
    postUnsavedChanges();
    const OutputPtr output = outputAtIndex(screenIndex);
    // The pop-up shows the output whose keyer changes.
    selectScreenAtIndex(screenIndex);
    KavioPopUpButton* popup = controls_->outputKeyerPopup;
    const QString old = popup->oldItemTitle();
    popup->selectItemWithTitle(keyer);
    popup->cacheToOldValue();
    if (output)
        output->setDecklinkKeyer(keyer);
    undoManager_->registerUndo(this, [this, old, screenIndex] { undoChangeOutputKeyer(old, screenIndex); });
    undoManager_->setActionName("Change Keyer");
}

bool KavioVideoOutputManager::rateOfFormatRow(const KavioVideoOutputObject& output, GpuTime& rate) const
{
    const auto kind = output.videoOutputType();
    const QVariantList rows = kind == KavioVideoOutputTypeNDI        ? ndiOutputFormats()
                              : kind == KavioVideoOutputTypeDeckLink ? decklinkOutputFormats()
                                                                     : QVariantList{};
    const QVariantMap row = rowNamed(rows, output.videoOutputFormatString());
    if (!row.contains(kTimeValue) || !row.contains(kTimeScale))
        return false;
    rate = {row.value(kTimeValue).toLongLong(), row.value(kTimeScale).toInt(), 0};
    return rate.timeValue > 0;
}

void KavioVideoOutputManager::fillFormatPopupForKind(std::int32_t kind, const decklink::DeckLinkDevice* device)
{
    KavioPopUpButton* popup = controls_->outputFormatPopup;
    popup->removeAllItems();
    if (kind == KavioVideoOutputTypeNDI) {
        for (const QVariant& row : ndiOutputFormats())
            appendPopUpItem(*popup, row.toMap().value(kDisplayName).toString(), 0, row);
    } else if (device) {
        // Smallest pictures first; a card's own order within one width.
        std::vector<FormatItem> items = supportedDecklinkFormatForDevice(*device);
        std::stable_sort(items.begin(), items.end(), [](const FormatItem& a, const FormatItem& b) {
            return a.row.value(kRenderWidth).toInt() < b.row.value(kRenderWidth).toInt();
        });
        for (const FormatItem& item : items)
            appendPopUpItem(*popup, item.title, 0, item.row);
    }
}

void KavioVideoOutputManager::selectPreferredFormat(std::int32_t kind)
{
    KavioPopUpButton* popup = controls_->outputFormatPopup;
    const QString last = defaults_.stringForKey(kind == KavioVideoOutputTypeNDI ? kLastUsedNDI : kLastUsedBMD);
    const bool found = !last.isEmpty() && popup->selectItemWithTitle(last);
    if (found)
        return;
    if (kind == KavioVideoOutputTypeNDI) {
        fallbackToDefaultNDIOutputFormat();
        return;
    }
    // A card takes the last of its formats that fits the render resolution, else its first.
    int fitting = 0;
    for (int i = 0; i < popup->numberOfItems(); ++i) {
        const QVariantMap row = popup->itemAtIndex(i).representedObject.toMap();
        if (QSizeF(row.value(kRenderWidth).toDouble(), row.value(kRenderHeight).toDouble()) == renderResolution())
            fitting = i;
    }
    popup->selectItemAtIndex(fitting);
}

void KavioVideoOutputManager::fillKeyerPopupForDevice(const decklink::DeckLinkDevice& device)
{
    KavioPopUpButton* keyer = controls_->outputKeyerPopup;
    keyer->removeAllItems();
    for (decklink::KeyingMode mode : device.playbackKeyingModes())
        keyer->addItemWithTitle(keyerTitle(mode));
}

void KavioVideoOutputManager::bindNDIDestination(const OutputPtr& output)
{
    fillFormatPopupForKind(KavioVideoOutputTypeNDI, nullptr);
    selectPreferredFormat(KavioVideoOutputTypeNDI);
    controls_->outputKeyerPopup->removeAllItems();
    if (!isLoadingProject_)
        applyNDIOutputFormatByName(controls_->outputFormatPopup->titleOfSelectedItem(), output->index());
}

void KavioVideoOutputManager::bindDecklinkDestination(const OutputPtr& output,
                                                      const std::shared_ptr<decklink::DeckLinkDevice>& device)
{
    output->setDecklinkOutputDevice(device);
    fillFormatPopupForKind(KavioVideoOutputTypeDeckLink, device.get());
    selectPreferredFormat(KavioVideoOutputTypeDeckLink);
    fillKeyerPopupForDevice(*device);
    KavioPopUpButton* keyer = controls_->outputKeyerPopup;
    if (!keyer->selectItemWithTitle(output->decklinkKeyer()))
        keyer->selectItemAtIndex(0);
    keyer->cacheToOldValue();
    KavioPopUpButton* popup = controls_->outputFormatPopup;
    if (!isLoadingProject_ && popup->numberOfItems() > 0)
        applyDecklinkOutputFormatByName(popup->titleOfSelectedItem(), output->index());
}

namespace {

// The card of a DeckLink output that is online, or nullptr.
std::shared_ptr<decklink::DeckLinkDevice> onlineCardOf(const KavioVideoOutputObject& output)
{
    if (output.videoOutputType() != KavioVideoOutputTypeDeckLink || !output.isOnline())
        return nullptr;
    const auto deckLink = output.decklinkOutput();
    return deckLink ? deckLink->outputDevice() : nullptr;
}

// The pop-up holds only "Unavailable", selected, and cannot be opened.
void makeUnavailable(KavioPopUpButton& popup)
{
    if (popup.indexOfItemWithTitle(kUnavailable) < 0)
        popup.addItem(kUnavailable, 0);
    popup.selectItemWithTitle(kUnavailable);
    popup.cacheToOldValue();
    popup.setEnabled(false);
}

}  // namespace

void KavioVideoOutputManager::validateFormatPopupForOutput(const OutputPtr& output)
{
    controls_->formatErrorButton->hide();
    KavioPopUpButton* popup = controls_->outputFormatPopup;
    const auto card = output ? onlineCardOf(*output) : nullptr;
    const std::int32_t kind = output ? output->videoOutputType() : KavioVideoOutputTypeScreen;
    if (kind != KavioVideoOutputTypeNDI && !card) {
        popup->removeAllItems();
        makeUnavailable(*popup);
        return;
    }
    // The rows of this output's kind, whichever output the pop-up listed before.
    fillFormatPopupForKind(kind, card.get());
    popup->setEnabled(true);
    const QString format = output->videoOutputFormatString();
    if (format.isEmpty()) {
        // A destination bound while a project loaded has no row yet: it takes the preferred
        // one as an edit of its own, though not while loading or while undo steps replay.
        selectPreferredFormat(kind);
        if (!popup->titleOfSelectedItem().isEmpty() && !isLoadingProject_ && !undoManager_->isUndoing()
            && !undoManager_->isRedoing())
            changeOutputFormat();
        return;
    }
    if (popup->indexOfItemWithTitle(format) < 0)
        appendPopUpItem(*popup, format);
    popup->selectItemWithTitle(format);
    popup->cacheToOldValue();
    if (kind != KavioVideoOutputTypeDeckLink)
        return;
    const QVariantMap row = rowNamed(decklinkOutputFormats(), format);
    const QSizeF size(row.value(kRenderWidth).toDouble(), row.value(kRenderHeight).toDouble());
    if (size != renderResolution()) {
        controls_->formatErrorButton->setToolTip(QStringLiteral("Rendering Resolution Mismatch..."));
        controls_->formatErrorButton->show();
    }
}

void KavioVideoOutputManager::validateKeyerPopupForOutput(const OutputPtr& output)
{
    KavioPopUpButton* keyer = controls_->outputKeyerPopup;
    const auto card = output ? onlineCardOf(*output) : nullptr;
    if (card)
        fillKeyerPopupForDevice(*card);
    else
        keyer->removeAllItems();
    // High bit depth pictures go out without a key.
    if (!card || keyer->numberOfItems() <= 1 || useHighBitDepthRendering_) {
        makeUnavailable(*keyer);
        return;
    }
    keyer->setEnabled(true);
    if (!keyer->selectItemWithTitle(output->decklinkKeyer()))
        keyer->selectItemAtIndex(0);
    keyer->cacheToOldValue();
}

void KavioVideoOutputManager::restoreFormatOfOutput(const OutputPtr& output)
{
    const QString format = output->videoOutputFormatString();
    if (output->videoOutputType() == KavioVideoOutputTypeNDI) {
        if (!format.isEmpty())
            applyNDIOutputFormatByName(format, output->index());
    } else if (output->videoOutputType() == KavioVideoOutputTypeDeckLink) {
        if (auto device = deckLinkBrowser().deviceWithName(output->screenName()))
            output->setDecklinkOutputDevice(device);
        if (!format.isEmpty())
            applyDecklinkOutputFormatByName(format, output->index());
        output->setDecklinkKeyer(output->decklinkKeyer());
    }
}

// The inspector's sections: building them, their collapsed flags, stacking and heights, the
// selection and its predicates, the observers and the helpers every concern shares.

#include "Inspector/KavioVideoItemPreferencesController.h"

#include "Audio/KavioAudioChannelsView.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Inspector/KavioInspectorNumberFormatter.h"
#include "Inspector/KavioInspectorThumbnailView.h"
#include "Inspector/KavioVideoItemPreferencesViewItem.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioFonts.h"
#include "Views/KavioButton.h"
#include "Views/KavioButtonCell.h"
#include "Views/KavioCharLengthFormatter.h"
#include "Views/KavioColorTagIndicator.h"
#include "Views/KavioColorTagView.h"
#include "Views/KavioItemsViewInterface.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioScrollView.h"
#include "Views/KavioTextField.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "UserDefaults.h"

#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kTitleBar = 30;

}  // namespace

std::shared_ptr<KavioVideoItemPreferencesController>
KavioVideoItemPreferencesController::create(UserDefaults& defaults, std::weak_ptr<KavioVideoItemManager> videoManager)
{
    std::shared_ptr<KavioVideoItemPreferencesController> controller(
        new KavioVideoItemPreferencesController(defaults, std::move(videoManager)));
    controller->buildInterface();
    controller->connectActions();
    controller->awakeFromNib();
    return controller;
}

KavioVideoItemPreferencesController::KavioVideoItemPreferencesController(UserDefaults& defaults,
                                                                         std::weak_ptr<KavioVideoItemManager> videoManager)
    : defaults_(defaults), videoManager_(std::move(videoManager))
{
}

KavioVideoItemPreferencesController::~KavioVideoItemPreferencesController()
{
    NotificationCenter::defaultCenter().removeObserver(this);
    // The sections refer to views the stacking view owns; the scroll view is ours until placed.
    prefitems_.clear();
    if (o_.scrollView && !o_.scrollView->parent())
        delete o_.scrollView;
}

void KavioVideoItemPreferencesController::awakeFromNib()
{
    oldmediatype_ = -1;
    const QColor grey = QColor::fromRgbF(0.65f, 0.65f, 0.65f);
    const QFont oblique13 = KavioFonts::font(QStringLiteral("Helvetica-LightOblique"), 13);
    placeholderattributes_ = {oblique13, grey, Qt::AlignLeft | Qt::AlignVCenter};
    placeholderattributescenter_ = {oblique13, grey, Qt::AlignCenter};
    placeholderattributessmall_ = {KavioFonts::font(QStringLiteral("Helvetica-LightOblique"), 11), grey,
                                   Qt::AlignLeft | Qt::AlignVCenter};
    placeholderattributesid_ = {KavioFonts::font(QStringLiteral("Menlo"), 13), grey, Qt::AlignLeft | Qt::AlignVCenter};
    QPalette palette = o_.scrollView->palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(0.18f, 0.18f, 0.18f));
    o_.scrollView->setPalette(palette);
    o_.scrollView->setAutoFillBackground(true);
    o_.scrollView->viewport()->setPalette(palette);
    o_.scrollView->viewport()->setAutoFillBackground(true);
    // The first goto entry stands for no target.
    o_.gotoPopup->setItemRepresentedObject(0, QVariant());
}

void KavioVideoItemPreferencesController::loadPreferenceItems()
{
    if (loaded_)
        return;
    loaded_ = true;
    KavioVideoItemPreferencesOutlets& o = o_;
    const std::pair<QWidget*, const char*> sections[] = {
        {o.thumbnailView, "Thumbnail"},
        {o.mediaInfoView, "Media Info"},
        {o.infoView, "General"},
        {o.subtitlesView, "Subtitle / Closed Caption"},
        {o.browserSourceView, "Browser"},
        {o.windowSourceView, "Window"},
        {o.sourceView, "Source"},
        {o.geometryView, "Geometry"},
        {o.colorControlsView, "Color Controls"},
        {o.audioOutputView, "Audio Output"},
        {o.transitionView, "Transition & Fade In/Out"},
    };
    prefitems_.clear();
    for (const auto& [view, title] : sections)
        prefitems_.push_back(std::make_unique<KavioVideoItemPreferencesViewItem>(view, QString::fromUtf8(title)));
    o.preferencesView->setDataSource(this);

    // A value that is not a dictionary counts as absent and is written afresh.
    const QVariant stored = defaults_.objectForKey(kKavioPreferenceItemsStatesKey);
    if (!stored.isValid() || stored.typeId() != QMetaType::QVariantMap) {
        itemstates_.clear();
        storeItemStates();
    }
    itemstates_ = defaults_.dictionaryForKey(kKavioPreferenceItemsStatesKey);
    restoreItemStates();

    for (KavioButton* b : {o.inTimeFromPlayheadButton, o.outTimeFromPlayheadButton, o.subtitleStartTimeFromPlayheadButton,
                           o.geometryOptionsButton, o.colorControlsOptionsButton, o.browserReloadURLButton,
                           o.browserInteractButton, o.windowSourceReloadButton, o.refreshListOfCaptionsButton})
        b->setButtonType(KavioButtonType::MomentaryPushIn);
    for (KavioButton* b : {o.geometryScaleLinkButton, o.browserShouldUnloadOnPauseButton, o.windowSourceShouldShowCursor})
        b->setButtonType(KavioButtonType::OnOff);
    o.geometryScaleLinkButton->cell().setShouldTintWhenOnState(false);
    const std::weak_ptr<KavioVideoItemPreferencesController> weakSelf = weak_from_this();
    o.geometryOptionsButton->setAction(runAction(&KavioVideoItemPreferencesController::popupGeometryOptions));
    o.geometryScaleLinkButton->setAction(runAction(&KavioVideoItemPreferencesController::changeGeometryScaleLink));
    o.colorControlsOptionsButton->setAction(runAction(&KavioVideoItemPreferencesController::popupColorControlsOptions));

    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.addObserver(this, kKavioPreferencesViewItemCollapsedOrExpandedNotification, nullptr,
                       [weakSelf](const Notification& n) {
                           if (const auto self = weakSelf.lock())
                               self->handleItemsCollapsedOrExpanded(static_cast<KavioVideoItemPreferencesViewItem*>(n.object));
                       });

    // The no-tag swatch draws in the inspector's style; a click reaches switchColorTags.
    for (KavioColorTagIndicator* swatch : o.colorTagView->swatches()) {
        if (swatch->colorTag() == 0) {
            swatch->setShouldDrawAsPreferencesItem(true);
            swatch->update();
            break;
        }
    }
    for (QWidget* b : {o.ndiInfoBox, o.deckLinkFormatBox, o.durationBox, o.videoSourceBox, o.pdfPageBox,
                       o.audioOptionsBox, o.audioVolumeBox, o.topOptionsBox, o.bottomOptionsBox, o.gotoBox,
                       o.playbackSpeedBox, o.inOutPointsBox})
        b->setAutoFillBackground(false);

    const auto observe = [this, &center](const QString& name, void* object, void (KavioVideoItemPreferencesController::*handler)()) {
        center.addObserver(this, name, object, [run = runAction(handler)](const Notification&) { run(); });
    };
    observe(kKavioSelectionChangedNotification, nullptr, &KavioVideoItemPreferencesController::pullCurrentItemData);
    observe(KavioAudioChannelsView::kChannelMappingChanged, o.audioChannelsView,
            &KavioVideoItemPreferencesController::channelRoutingChanged);
    observe(kKavioCurrentItemThumbnailChangedNotification, nullptr, &KavioVideoItemPreferencesController::thumbnailChanged);
    observe(kKavioRenderSizeChangedNotification, nullptr, &KavioVideoItemPreferencesController::renderSizeChanged);
    handleGeometryFieldsNumberFormatters();

    cueIDFieldFormatter_ = new KavioCharLengthFormatter(o.cueIDField);
    cueIDFieldFormatter_->setMaximumLength(6);
    o.cueIDField->setValidator(cueIDFieldFormatter_);

    o.preferencesView->setShouldDrawThereAreNoItems(true);
    pullCurrentItemData();
}

void KavioVideoItemPreferencesController::storeItemStates()
{
    for (const auto& item : prefitems_)
        itemstates_.insert(item->title(), item->isCollapsed());
    defaults_.setDictionary(itemstates_, kKavioPreferenceItemsStatesKey);
    defaults_.synchronize();
}

void KavioVideoItemPreferencesController::restoreItemStates()
{
    KLOG_VERBOSE("_itemstates: {}", QStringList(itemstates_.keys()).join(QStringLiteral(", ")).toStdString());
    for (const auto& item : prefitems_) {
        const bool collapsed = itemstates_.value(item->title(), false).toBool();
        if (collapsed)
            item->collapse();
        else
            item->expand();
    }
}

void KavioVideoItemPreferencesController::handleItemsCollapsedOrExpanded(KavioVideoItemPreferencesViewItem* toggled)
{
    const bool isSection = std::any_of(prefitems_.begin(), prefitems_.end(),
                                       [toggled](const auto& item) { return item.get() == toggled; });
    const auto manager = videoManager();
    const auto app = manager ? manager->delegate() : nullptr;
    if (isSection && app && app->altPressed()) {
        for (const auto& item : prefitems_) {
            if (item.get() == toggled || item->isCollapsed() == toggled->isCollapsed())
                continue;
            if (toggled->isCollapsed())
                item->collapse();
            else
                item->expand();
        }
    }
    updateHeightOfPreferencesViewWithDisplay(true);
    storeItemStates();
}

void KavioVideoItemPreferencesController::rearrangeItems()
{
    KavioVideoItemPreferencesView* view = o_.preferencesView;
    double y = view->height();
    for (const auto& item : prefitems_) {
        QWidget* section = item->view();
        if (!section || section->isHidden())
            continue;
        y -= section->height();
        view->setSectionOrigin(section, y);
    }
}

void KavioVideoItemPreferencesController::updateHeightOfPreferencesViewWithDisplay(bool display)
{
    QScrollBar* bar = o_.scrollView->verticalScrollBar();
    const int scrollValue = bar->value();
    const int before = o_.preferencesView->height();
    o_.preferencesView->updateHeight();
    const int after = o_.preferencesView->height();
    rearrangeItems();
    // Laid out y-up, a growth moves the visible origin up by as much; with y down the sections
    // stay where they were from the top, so the same scroll value keeps them in view.
    if (display && after > before) {
        bar->setValue(scrollValue);
        o_.scrollView->viewport()->update();
    }
}

void KavioVideoItemPreferencesController::makeHeightTo(double height, QWidget* view)
{
    if (!view)
        return;
    const double delta = height - view->height();
    if (delta >= -0.5 && delta <= 0.5)
        return;
    KLOG_VERBOSE("heightdelta: {}", delta);
    KavioVideoItemPreferencesViewItem* item = preferenceItemForView(view);
    const bool wasCollapsed = item && item->isCollapsed();
    if (wasCollapsed) {
        KLOG_VERBOSE("prefviewitem is collapsed at makeHeightTo:");
        item->expand();
    }
    // The section grows by the change; the content keeps its distance to the title bar.
    if (QWidget* section = view->parentWidget())
        section->resize(section->width(), int(std::lround(section->height() + delta)));
    view->resize(view->width(), int(std::lround(height)));
    if (wasCollapsed)
        item->collapse();
    updateHeightOfPreferencesViewWithDisplay(false);
}

KavioVideoItemPreferencesViewItem* KavioVideoItemPreferencesController::preferenceItemForView(const QWidget* view) const
{
    for (const auto& item : prefitems_)
        if (item->contentView() == view)
            return item.get();
    return nullptr;
}

KavioVideoItemPreferencesViewItem* KavioVideoItemPreferencesController::preferenceItemWithTitle(const QString& title) const
{
    for (const auto& item : prefitems_)
        if (item->title() == title)
            return item.get();
    return nullptr;
}

void KavioVideoItemPreferencesController::setSectionHidden(const QString& title, bool hidden)
{
    if (KavioVideoItemPreferencesViewItem* item = preferenceItemWithTitle(title); item && item->view())
        item->view()->setHidden(hidden);
}

bool KavioVideoItemPreferencesController::isSectionHidden(const QString& title) const
{
    const KavioVideoItemPreferencesViewItem* item = preferenceItemWithTitle(title);
    return !item || !item->view() || item->view()->isHidden();
}

void KavioVideoItemPreferencesController::placeBox(QWidget* box, double y)
{
    const QWidget* parent = box->parentWidget();
    const int height = parent ? parent->height() : 0;
    box->move(box->x(), int(std::lround(height - y - box->height())));
}

void KavioVideoItemPreferencesController::thumbnailChanged()
{
    const auto item = currentItem();
    o_.theThumbnailView->setCGImage(item ? item->thumbnailImage() : nullptr);
}

bool KavioVideoItemPreferencesController::validateUserInterfaceItem(KavioInspectorMenuAction action) const
{
    switch (action) {
    case KavioInspectorMenuAction::SetInTimeOnCurrentCue:
        return o_.inTimeFromPlayheadButton->isEnabled();
    case KavioInspectorMenuAction::SetOutTimeOnCurrentCue:
        return o_.outTimeFromPlayheadButton->isEnabled();
    case KavioInspectorMenuAction::Other:
        break;
    }
    return true;
}

// --- Selection -----------------------------------------------------------------------------------

KavioVideoItemList KavioVideoItemPreferencesController::items() const
{
    const auto manager = videoManager();
    return manager ? manager->selectedItems() : KavioVideoItemList{};
}

std::shared_ptr<KavioVideoItem> KavioVideoItemPreferencesController::currentItem() const
{
    const KavioVideoItemList selected = items();
    return selected.empty() ? nullptr : selected.front();
}

bool KavioVideoItemPreferencesController::hasMultipleItems() const
{
    return items().size() > 1;
}

namespace {

template <typename Predicate>
bool allOf(const KavioVideoItemList& selected, Predicate predicate)
{
    return std::all_of(selected.begin(), selected.end(), [&](const auto& item) { return predicate(*item); });
}

}  // namespace

bool KavioVideoItemPreferencesController::matchingMediaTypeOnSelectedItems() const
{
    const KavioVideoItemList selected = items();
    return selected.empty() || allOf(selected, [&](const KavioVideoItem& i) { return i.mediaType() == selected.front()->mediaType(); });
}

bool KavioVideoItemPreferencesController::audioSupportedOnSelectedItems() const
{
    const KavioVideoItemList selected = items();
    return !selected.empty() && allOf(selected, [](const KavioVideoItem& i) { return i.hasAudioChannels(); });
}

bool KavioVideoItemPreferencesController::browserSourceSettingsSupportedOnSelectedItems() const
{
    return allOf(items(), [](const KavioVideoItem& i) { return i.mediaType() == KavioMediaTypeBrowser; });
}

bool KavioVideoItemPreferencesController::windowSourceSettingsSupportedOnSelectedItems() const
{
    return allOf(items(), [](const KavioVideoItem& i) { return i.mediaType() == KavioMediaTypeWindow; });
}

bool KavioVideoItemPreferencesController::sourceSettingsSupportedOnSelectedItems() const
{
    const KavioVideoItemList selected = items();
    return !selected.empty() && allOf(selected, [](const KavioVideoItem& i) {
        return i.mediaType() != KavioMediaTypeMovie && i.mediaType() != KavioMediaTypeAudio;
    });
}

bool KavioVideoItemPreferencesController::sourcePopupSupportedOnSelectedItems() const
{
    const KavioVideoItemList selected = items();
    return !selected.empty() && allOf(selected, [](const KavioVideoItem& i) {
        return i.mediaType() == KavioMediaTypeCamera || i.mediaType() == KavioMediaTypeSyphon ||
               i.mediaType() == KavioMediaTypeNDI;
    });
}

bool KavioVideoItemPreferencesController::decklinkSettingsSupportedOnSelectedItems() const
{
    const KavioVideoItemList selected = items();
    return !selected.empty() && allOf(selected, [](const KavioVideoItem& i) { return i.isDeckLinkDevice(); });
}

bool KavioVideoItemPreferencesController::pdfPageSupportedOnSelectedItems() const
{
    const KavioVideoItemList selected = items();
    return !selected.empty() && allOf(selected, [](const KavioVideoItem& i) { return i.isPDF(); });
}

// --- Shared helpers ----------------------------------------------------------------------------

std::function<void()> KavioVideoItemPreferencesController::runAction(void (KavioVideoItemPreferencesController::*action)())
{
    const std::weak_ptr<KavioVideoItemPreferencesController> weakSelf = weak_from_this();
    return [weakSelf, action] {
        if (const auto self = weakSelf.lock())
            (self.get()->*action)();
    };
}

UndoManager* KavioVideoItemPreferencesController::undoManager() const
{
    const auto manager = videoManager();
    const auto app = manager ? manager->delegate() : nullptr;
    return app ? &app->undoManager() : nullptr;
}

void KavioVideoItemPreferencesController::giveKeyboardToCueList() const
{
    const auto manager = videoManager();
    const auto list = manager ? manager->outlets().itemsView.lock() : nullptr;
    if (auto* widget = dynamic_cast<QWidget*>(list.get()))
        widget->setFocus(Qt::OtherFocusReason);
    else if (QWidget* focused = o_.scrollView->focusWidget(); focused && o_.scrollView->isAncestorOf(focused))
        focused->clearFocus();
}

void KavioVideoItemPreferencesController::markUnsaved() const
{
    if (const auto manager = videoManager())
        manager->setHasUnsavedChanges(true);
}

void KavioVideoItemPreferencesController::showInField(KavioTextField* field, const QString& text,
                                                      const QString& placeholder, const KavioPlaceholderStyle* style) const
{
    field->setStringValue(text);
    const KavioPlaceholderStyle& look = style ? *style : placeholderattributes_;
    field->setPlaceholder(placeholder, look.font, look.color, look.alignment);
}

KavioInspectorNumberFormatter* KavioVideoItemPreferencesController::numberFormatter(KavioTextField* field)
{
    return dynamic_cast<KavioInspectorNumberFormatter*>(const_cast<QValidator*>(field->validator()));
}

std::optional<double> KavioVideoItemPreferencesController::typedNumber(KavioTextField* field) const
{
    const KavioInspectorNumberFormatter* formatter = numberFormatter(field);
    const auto value = formatter ? formatter->valueOf(field->stringValue()) : std::nullopt;
    if (!value)
        field->setStringValue(field->oldTitle());
    return value;
}

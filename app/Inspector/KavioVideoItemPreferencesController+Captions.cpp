// The caption controls (track, list refresh, start time as a delay against the track's own
// start), the PDF page of a PDF still and the fade time popup.

#include "Inspector/KavioVideoItemPreferencesController.h"

#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Inspector/KavioInspectorMixedValues.h"
#include "Inspector/KavioInspectorNumberFormatter.h"
#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioTextField.h"

#include "Log.h"

#include <QLabel>

#include <algorithm>
#include <cmath>

namespace {

const QString kProjectDefault = QStringLiteral("Project's Default");
// The popup's two fixed entries come before the tracks: entry = track + 2.
constexpr int kCaptionEntryOffset = 2;
}  // namespace

// --- Captions ------------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::handleSubtitlesPopup()
{
    const auto item = currentItem();
    if (!item)
        return;
    const std::int32_t track = item->selectedCaptionTrack();
    o_.subtitlesPopup->selectItemAtIndex(track < 0 ? 0 : track + kCaptionEntryOffset);
    KavioTextField* field = o_.subtitleStartTimeField;
    if (track < 0)
        showInField(field, {}, QStringLiteral("-"), &placeholderattributescenter_);
    else if (item->captionDelaySeconds() != 0)
        showInField(field, item->actualCaptionStartTimeSMTPE());
    else
        // An unshifted track shows its own start time in grey.
        showInField(field, {}, item->actualCaptionStartTimeSMTPE(), &placeholderattributescenter_);
    field->setEnabled(track >= 0);
    field->setEditable(track >= 0);
    o_.subtitleStartTimeFromPlayheadButton->setEnabled(track >= 0);
}

void KavioVideoItemPreferencesController::refreshListOfCaptions()
{
    for (const auto& item : items())
        item->searchForCaptions();
    handleSubtitlesPopup();
}

void KavioVideoItemPreferencesController::changeSelectedCaptionTrack()
{
    const int index = o_.subtitlesPopup->indexOfSelectedItem();
    const std::int32_t track = index < kCaptionEntryOffset ? -1 : index - kCaptionEntryOffset;
    applyToSelectedItems(QStringLiteral("Change Selected Caption Track"),
                         [this, track](const QString& uid) { undoChangeSelectedCaptionTrack(track, uid); });
}

void KavioVideoItemPreferencesController::undoChangeSelectedCaptionTrack(std::int32_t track, const QString& uid)
{
    const auto item = itemWithUID(uid);
    if (!item)
        return;
    markUnsaved();
    const std::int32_t old = item->selectedCaptionTrack();
    // A track the cue does not have (another cue's list) means none.
    item->setSelectedCaptionTrack(track < item->availableCaptions().size() ? track : -1);
    handleSubtitlesPopup();
    giveKeyboardToCueList();
    registerInverse(QStringLiteral("Change Selected Caption Track"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeSelectedCaptionTrack(old, uid); });
}

void KavioVideoItemPreferencesController::changeSubtitleStartTimeField()
{
    KavioTextField* field = o_.subtitleStartTimeField;
    QString smpte = field->stringValue().trimmed();
    if (!smpte.isEmpty()) {
        // Text that is no timecode puts back what the field showed.
        const auto seconds = typedTimecodeSeconds(field, field->oldTitle());
        const auto manager = videoManager();
        if (!seconds || !manager)
            return;
        smpte = manager->masterClock()->smpteRepresentationOfTime(*seconds);
    }
    // Read once: every selected cue gets the typed time, not the field as a cue's step left it.
    applyToSelectedItems(QStringLiteral("Change Caption Tracks Start Time"),
                         [this, &smpte](const QString& uid) { undoChangeSubtitleStartTime(smpte, uid); });
}

void KavioVideoItemPreferencesController::undoChangeSubtitleStartTime(const QString& smpte, const QString& uid)
{
    const auto item = itemWithUID(uid);
    const auto manager = videoManager();
    if (!item || !manager || item->selectedCaptionTrack() < 0)
        return;
    markUnsaved();
    const QString old = item->captionDelaySeconds() != 0 ? item->actualCaptionStartTimeSMTPE() : QString();
    double delay = 0;
    if (!smpte.isEmpty()) {
        const QVTClock& clock = *manager->masterClock();
        delay = clock.secondsForSMPTEString(smpte) - clock.secondsForSMPTEString(item->originalCaptionStartTimeSMTPE());
        if (!std::isfinite(delay))
            delay = 0;
        KLOG_VERBOSE("subtitle delay: {}", delay);
    }
    item->setCaptionDelaySeconds(delay);
    handleSubtitlesPopup();
    giveKeyboardToCueList();
    registerInverse(QStringLiteral("Change Caption Tracks Start Time"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeSubtitleStartTime(old, uid); });
}

void KavioVideoItemPreferencesController::changeSubtitleStartTimeToPlayhead()
{
    const auto item = currentItem();
    const auto manager = videoManager();
    if (!item || !manager)
        return;
    undoChangeSubtitleStartTime(manager->masterClock()->smpteRepresentationOfTime(item->absoluteCurrentCMTime().seconds()),
                                item->uid());
}

// --- Fade time -----------------------------------------------------------------------------------

QString KavioVideoItemPreferencesController::titleForFadeTimeOnItem(const KavioVideoItem& item)
{
    if (item.isUsingDefaultFadeDuration())
        return kProjectDefault;
    const float fade = item.fadetime();
    if (fade < 0.1f)
        return QStringLiteral("0 (cut)");
    if (fade > 0.9f)
        return QString::asprintf("%.0f", double(fade));
    return QStringLiteral("0.5");
}

void KavioVideoItemPreferencesController::handleFadeTimePopup()
{
    KavioPopUpButton* popup = o_.fadeTimePopup;
    KavioInspectorMixed::removeEntry(popup);
    const KavioVideoItemList selected = items();
    const QString title = selected.empty() ? QString() : titleForFadeTimeOnItem(*selected.front());
    for (const auto& item : selected) {
        if (titleForFadeTimeOnItem(*item) != title) {
            KavioInspectorMixed::showEntry(popup);
            return;
        }
    }
    // A whole-second length the popup does not offer gets its own entry, so the cue's value shows.
    if (!title.isEmpty() && popup->indexOfItemWithTitle(title) < 0)
        popup->addItemWithTitle(title);
    popup->selectItemWithTitle(title);
}

void KavioVideoItemPreferencesController::changeFadeTime()
{
    const QString title = o_.fadeTimePopup->titleOfSelectedItem();
    if (title == kKavioMixedTitle)
        return;
    applyToSelectedItems(QStringLiteral("Change Fade Durations"),
                         [this, &title](const QString& uid) { undoChangeFadeTime(title, uid); });
}

void KavioVideoItemPreferencesController::undoChangeFadeTime(const QString& title, const QString& uid)
{
    const auto item = itemWithUID(uid);
    const auto manager = videoManager();
    if (!item || !manager)
        return;
    markUnsaved();
    const QString old = titleForFadeTimeOnItem(*item);
    const bool useDefault = title == kProjectDefault;
    QString lengthTitle = title;
    if (useDefault) {
        const KavioPopUpButtonInterface* defaults = manager->outlets().defaultFadeDurationPopup;
        lengthTitle = defaults ? defaults->titleOfSelectedItem() : QString();
    }
    // "0 (cut)" and anything that is no number read as a cut.
    bool ok = false;
    float fade = lengthTitle.section(QLatin1Char(' '), 0, 0).toFloat(&ok);
    if (!ok || !std::isfinite(fade) || fade < 0)
        fade = 0;
    item->setIsUsingDefaultFadeDuration(useDefault);
    item->setFadetime(fade);
    handleFadeTimePopup();
    registerInverse(QStringLiteral("Change Fade Duration"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangeFadeTime(old, uid); });
}

// --- PDF page ------------------------------------------------------------------------------------

void KavioVideoItemPreferencesController::handlePDFPageField()
{
    o_.pdfPageBox->show();
    KavioTextField* field = o_.pdfPageField;
    const KavioVideoItemList selected = items();
    if (selected.size() == 1) {
        const auto& item = selected.front();
        const std::uint64_t count = item->pdfPageCount();
        if (count > 0) {
            showInField(field, QString::number(qulonglong(item->pdfPage())));
            if (auto* formatter = numberFormatter(field))
                formatter->setMaximum(double(count));
            o_.pdfPagesLabel->setText(QStringLiteral("1-%1").arg(qulonglong(count)));
        } else {
            showInField(field, QStringLiteral("0"));
            o_.pdfPagesLabel->setText(QString());
        }
        field->setEnabled(count > 0);
        field->setEditable(count > 0);
        return;
    }
    if (selected.empty())
        return showInField(field, {});
    const std::uint64_t page = selected.front()->pdfPage();
    const bool same = std::all_of(selected.begin(), selected.end(), [page](const auto& i) { return i->pdfPage() == page; });
    // Each cue keeps to its own pages; the field takes what the longest has.
    std::uint64_t longest = 1;
    for (const auto& item : selected)
        longest = std::max(longest, item->pdfPageCount());
    if (auto* formatter = numberFormatter(field))
        formatter->setMaximum(double(longest));
    if (same)
        showInField(field, QString::number(qulonglong(page)));
    else
        showInField(field, {}, kKavioMixedTitle);
}

void KavioVideoItemPreferencesController::changePDFPage()
{
    const auto page = typedNumber(o_.pdfPageField);
    if (!page)
        return;
    const QString text = QString::number(qulonglong(*page));
    applyToSelectedItems(QStringLiteral("Change PDF Pages"), [this, &text](const QString& uid) { undoChangePDFPage(text, uid); });
}

void KavioVideoItemPreferencesController::undoChangePDFPage(const QString& page, const QString& uid)
{
    const auto item = itemWithUID(uid);
    const std::uint64_t count = item ? item->pdfPageCount() : 0;
    if (!item || count == 0)
        return;
    // Cues of a group differ in length: each keeps to its own pages.
    const std::uint64_t wanted = std::clamp<std::uint64_t>(page.toULongLong(), 1, count);
    if (wanted == item->pdfPage())
        return;
    markUnsaved();
    const QString old = QString::number(qulonglong(item->pdfPage()));
    item->setPdfPage(wanted);
    giveKeyboardToCueList();
    handlePDFPageField();
    registerInverse(QStringLiteral("Change PDF Page"),
                    [old, uid](KavioVideoItemPreferencesController& self) { self.undoChangePDFPage(old, uid); });
}

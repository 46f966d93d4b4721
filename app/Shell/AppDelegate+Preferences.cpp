#include "Shell/AppDelegate.h"

#include "Audio/KavioAudioOutputManager.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Remote/KavioNMCManager.h"
#include "Shell/KavioWindow.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioPopUpButtonInterface.h"
#include "Support/KavioSliderInterface.h"
#include "Support/KavioTextFieldInterface.h"
#include "Support/KavioTimecodeTextFieldInterface.h"

#include <QAction>
#include <QGuiApplication>
#include <QListWidget>
#include <QTabWidget>
#include <QRegularExpression>
#include <QScreen>

#include <array>

// The show's settings record: a snapshot of the live controls, written in a fixed key order and
// applied key by key; a value of the wrong kind or a title no item has leaves its control as it is.

namespace {

QString frameString(const QRect& r)
{
    return QStringLiteral("{{%1, %2}, {%3, %4}}").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

std::optional<QRect> frameFromString(const QString& text)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(^\{\{\s*(-?[\d.]+)\s*,\s*(-?[\d.]+)\s*\}\s*,\s*\{\s*([\d.]+)\s*,\s*([\d.]+)\s*\}\}$)"));
    const QRegularExpressionMatch m = pattern.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    return QRect(qRound(m.captured(1).toDouble()), qRound(m.captured(2).toDouble()), qRound(m.captured(3).toDouble()),
                 qRound(m.captured(4).toDouble()));
}

// A frame off every screen moves onto the nearest one, keeping its size.
QRect ontoNearestScreen(QRect frame)
{
    const QScreen* nearest = nullptr;
    long best = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect area = screen->availableGeometry();
        if (area.intersects(frame))
            return frame;
        const QPoint d = area.center() - frame.center();
        const long distance = long(d.x()) * d.x() + long(d.y()) * d.y();
        if (!nearest || distance < best) {
            nearest = screen;
            best = distance;
        }
    }
    if (nearest) {
        const QRect area = nearest->availableGeometry();
        frame.moveTopLeft(QPoint(std::clamp(frame.x(), area.left(), std::max(area.left(), area.right() - frame.width())),
                                 std::clamp(frame.y(), area.top(), std::max(area.top(), area.bottom() - frame.height()))));
    }
    return frame;
}

bool isKind(const QVariant& value, QMetaType::Type kind)
{
    const int id = value.typeId();
    if (kind == QMetaType::Double)  // numbers of any width
        return id == QMetaType::Double || id == QMetaType::Float || id == QMetaType::Int || id == QMetaType::LongLong ||
               id == QMetaType::UInt || id == QMetaType::ULongLong || id == QMetaType::Bool;
    return id == kind;
}

// The toggles new cues take their settings from, with their keys, in record order.
std::array<std::pair<const char*, KavioButtonInterface*>, 7> defaultCueToggles(const KavioVideoItemManagerOutlets& c)
{
    return {{{"defaultToggleAudio", c.defaultToggleAudio},
             {"defaultToggleFadeIn", c.defaultToggleFadeIn},
             {"defaultToggleFadeOut", c.defaultToggleFadeOut},
             {"defaultToggleTransition", c.defaultToggleTransition},
             {"defaultTogglePauseAtBeginning", c.defaultTogglePauseAtBeginning},
             {"defaultTogglePauseAtEnd", c.defaultTogglePauseAtEnd},
             {"defaultToggleLoop", c.defaultToggleLoop}}};
}

void selectTitle(KavioPopUpButtonInterface* popup, const QVariant& value)
{
    if (popup && isKind(value, QMetaType::QString))
        popup->selectItemWithTitle(value.toString());
}

// The learned trigger messages, with their keys, in record order.
std::array<std::pair<const char*, KavioTextFieldInterface*>, 9> triggerFields(const AppDelegateOutlets& o)
{
    return {{{"midiStartField", o.midiStartField},
             {"midiStopField", o.midiStopField},
             {"midiPreviousField", o.midiPreviousField},
             {"midiNextField", o.midiNextField},
             {"midiMainFaderField", o.midiMainFaderField},
             {"dmxStartStopField", o.dmxStartStopField},
             {"dmxPreviousField", o.dmxPreviousField},
             {"dmxNextField", o.dmxNextField},
             {"dmxMainFaderField", o.dmxMainFaderField}}};
}

const QString kDisconnected = QStringLiteral(" - DISCONNECTED");

// Selects the stored source; one that is not there now is shown, and kept, with the marker, and
// a marked one that is back loses it. The title becomes the kind's last interface. False, with
// nothing changed, when the record holds no title.
bool restoreSource(KavioPopUpButtonInterface* popup, const QVariant& value, QString& lastInterface)
{
    if (!popup || !isKind(value, QMetaType::QString))
        return false;
    const QString title = value.toString();
    lastInterface = title;
    if (popup->selectItemWithTitle(title))
        return true;
    if (title.contains(kDisconnected) && popup->selectItemWithTitle(QString(title).remove(kDisconnected)))
        return true;
    const QString shown = title.contains(kDisconnected) ? title : title + kDisconnected;
    popup->addItem(shown, 0);
    popup->selectItemWithTitle(shown);
    return true;
}

}  // namespace

QVariantMap AppDelegate::saveData() const
{
    QVariantMap record;
    const auto controller = outlets_.controller;
    const KavioVideoItemManagerOutlets* c = controller ? &controller->outlets() : nullptr;
    if (controller)
        record.insert(QStringLiteral("smpteFormat"), controller->masterClock()->smpteFormat());
    if (c && c->startTimeField)
        record.insert(QStringLiteral("startTime"), c->startTimeField->stringValue());
    if (c && c->defaultFadeDurationPopup)
        record.insert(QStringLiteral("defaultFadeDurationPopup"), c->defaultFadeDurationPopup->titleOfSelectedItem());
    const AppDelegateOutlets& o = outlets_;
    // A pop-up without a selection writes nothing, so loading leaves it as it is.
    const auto title = [&record](const char* key, const KavioPopUpButtonInterface* popup) {
        if (popup && !popup->titleOfSelectedItem().isEmpty())
            record.insert(QLatin1String(key), popup->titleOfSelectedItem());
    };
    title("mtcSource", o.mtcSourcePopup);
    title("mmcSource", o.mmcSourcePopup);
    title("mscSource", o.mscSourcePopup);
    title("midiSource", o.midiSourcePopup);
    record.insert(QStringLiteral("nmcManager"), KavioNMCManager::sharedManager().saveData());
    title("ltcSource", o.ltcSourcePopup);
    title("ltcSourceChannel", o.ltcSourceChannelPopup);
    title("freewheel", o.freeWheelTimePopup);
    if (outlets_.loopButton)
        record.insert(QStringLiteral("loopButton"), outlets_.loopButton->state() != 0);
    if (c && c->masterSlider)
        record.insert(QStringLiteral("masterSlider"), float(c->masterSlider->doubleValue()));
    if (outlets_.globalTransitionButton)
        record.insert(QStringLiteral("globalTransitionButton"), outlets_.globalTransitionButton->state() != 0);
    if (outlets_.audioOutputManager)
        record.insert(QStringLiteral("audioOutputData"), outlets_.audioOutputManager->saveData());
    for (const auto& [key, field] : triggerFields(o))
        if (field)
            record.insert(QLatin1String(key), field->stringValue());
    title("dmxSourcePopup", o.dmxSourcePopup);
    title("dmxSubNetPopup", o.dmxSubNetPopup);
    title("dmxUniversePopup", o.dmxUniversePopup);
    if (o.oscEnableButton)
        record.insert(QStringLiteral("oscEnableButton"), o.oscEnableButton->state() != 0);
    title("oscFeedbackTargetPopup", o.oscFeedbackTargetPopup);
    if (o.oscFeedbackTargetPort && o.oscFeedbackTargetIP) {
        record.insert(QStringLiteral("oscFeedbackTargetPort"), o.oscFeedbackTargetPort->stringValue());
        record.insert(QStringLiteral("oscFeedbackTargetIP"), o.oscFeedbackTargetIP->stringValue());
    }
    if (outlets_.window) {
        record.insert(QStringLiteral("alwaysOnTop"), outlets_.window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        record.insert(QStringLiteral("mainWindowFrame"), frameString(outlets_.window->geometry()));
    } else {
        record.insert(QStringLiteral("mainWindowFrame"), frameString(QRect()));
    }
    savePanels(record);
    if (c) {
        for (const auto& [key, button] : defaultCueToggles(*c))
            if (button)
                record.insert(QString::fromLatin1(key), button->state() != 0);
        record.insert(QStringLiteral("defaultNonMovieCueDuration"), float(controller->defaultNonMovieCueDuration()));
        record.insert(QStringLiteral("jumpBehaviour"), controller->jumpBehaviour());
        if (c->defaultTransitionPopup)
            record.insert(QStringLiteral("defaultTransition"), c->defaultTransitionPopup->titleOfSelectedItem());
        if (c->defaultTransitionDurationPopup)
            record.insert(QStringLiteral("defaultTransitionDurationPopup"),
                          c->defaultTransitionDurationPopup->titleOfSelectedItem());
    }
    return record;
}

void AppDelegate::loadWithData(const QVariantMap& record)
{
    const auto value = [&record](const char* key) { return record.value(QLatin1String(key)); };
    const auto controller = outlets_.controller;
    const KavioVideoItemManagerOutlets* c = controller ? &controller->outlets() : nullptr;

    if (const QVariant v = value("smpteFormat"); controller && isKind(v, QMetaType::Double)) {
        controller->masterClock()->setSmpteFormat(v.toInt());
        controller->refreshStartTimeAndFPS();
    }
    if (const QVariant v = value("startTime"); c && c->startTimeField && isKind(v, QMetaType::QString)) {
        c->startTimeField->setStringValue(v.toString());
        controller->changeStartTime();
    }
    if (c) {
        selectTitle(c->defaultFadeDurationPopup, value("defaultFadeDurationPopup"));
        selectTitle(c->defaultTransitionDurationPopup, value("defaultTransitionDurationPopup"));
        selectTitle(c->defaultTransitionPopup, value("defaultTransition"));
        controller->changeDefaultTransitionDuration();
    }
    loadRemoteControlSettings(record);
    for (const auto& [key, button] :
         {std::pair{"loopButton", outlets_.loopButton}, {"globalTransitionButton", outlets_.globalTransitionButton}})
        if (const QVariant v = value(key); button && isKind(v, QMetaType::Double))
            button->setState(v.toBool() ? 1 : 0);
    if (c && c->masterSlider) {
        const QVariant v = value("masterSlider");
        c->masterSlider->setDoubleValue(isKind(v, QMetaType::Double) ? v.toDouble() : 1.0);
    }
    if (const QVariant v = value("audioOutputData"); outlets_.audioOutputManager && isKind(v, QMetaType::QVariantMap))
        outlets_.audioOutputManager->loadWithData(v.toMap());

    if (KavioWindow* window = outlets_.window) {
        if (const QVariant v = value("alwaysOnTop"); isKind(v, QMetaType::Double)) {
            window->setWindowFlag(Qt::WindowStaysOnTopHint, v.toBool());
            window->show();
            if (outlets_.alwaysOnTopMenuItem)
                outlets_.alwaysOnTopMenuItem->setChecked(v.toBool());
        }
        if (const QVariant v = value("mainWindowFrame"); isKind(v, QMetaType::QString)) {
            const std::optional<QRect> frame = frameFromString(v.toString());
            if (frame && !frame->isEmpty())
                window->setGeometry(ontoNearestScreen(*frame));
        }
    }
    restorePanels(record);
    if (c) {
        for (const auto& [key, button] : defaultCueToggles(*c))
            if (button)
                button->setState(isKind(value(key), QMetaType::Double) && value(key).toBool() ? 1 : 0);
        // A record may hold a combination the checkboxes would not allow (hand-edited, or saved
        // by an older version): the coupling rules make it consistent.
        controller->handleDefaultCueToggleStates();
        if (const QVariant v = value("defaultNonMovieCueDuration"); isKind(v, QMetaType::Double))
            controller->setDefaultNonMovieCueDuration(v.toDouble());
        if (const QVariant v = value("jumpBehaviour"); isKind(v, QMetaType::Double))
            controller->setJumpBehaviour(v.toInt());
        if (c->jumpBehaviourPopup)
            c->jumpBehaviourPopup->selectItemWithTag(controller->jumpBehaviour());
    }
    if (const QVariant v = value("stopNextButton"); isKind(v, QMetaType::Double) && v.toBool())
        shouldEnablePauseAtEnd_ = true;
}

void AppDelegate::loadRemoteControlSettings(const QVariantMap& record)
{
    const auto value = [&record](const char* key) { return record.value(QLatin1String(key)); };
    const AppDelegateOutlets& o = outlets_;
    AppDelegateLastInterfaces& last = lastInterfaces_;
    // Each restored choice is applied by its pop-up's own action.
    if (restoreSource(o.mtcSourcePopup, value("mtcSource"), last.mtc))
        mtcSourceSelected();
    if (restoreSource(o.ltcSourcePopup, value("ltcSource"), last.ltc))
        ltcSourceSelected();
    if (const QVariant v = value("ltcSourceChannel"); isKind(v, QMetaType::QString)) {
        selectTitle(o.ltcSourceChannelPopup, v);
        ltcSourceChannelSelected();
    }
    if (restoreSource(o.mscSourcePopup, value("mscSource"), last.msc))
        mscSourceSelected();
    if (restoreSource(o.mmcSourcePopup, value("mmcSource"), last.mmc))
        mmcSourceSelected();
    if (const QVariant v = value("nmcManager"); isKind(v, QMetaType::QVariantMap))
        KavioNMCManager::sharedManager().loadData(v.toMap());
    if (const QVariant v = value("freewheel"); isKind(v, QMetaType::QString)) {
        selectTitle(o.freeWheelTimePopup, v);
        changeFreeWheelTime();
    }
    if (restoreSource(o.midiSourcePopup, value("midiSource"), last.midi))
        midiTriggerSourceSelected();

    // An older record's one start-and-stop message fills both fields; newer keys override it.
    if (const QVariant v = value("midiStartStopField"); isKind(v, QMetaType::QString))
        for (KavioTextFieldInterface* field : {o.midiStartField, o.midiStopField})
            if (field)
                field->setStringValue(v.toString());
    for (const auto& [key, field] : triggerFields(o))
        if (const QVariant v = value(key); field && isKind(v, QMetaType::QString))
            field->setStringValue(v.toString());
    triggerFieldsChanged();
    selectTitle(o.dmxSubNetPopup, value("dmxSubNetPopup"));
    selectTitle(o.dmxUniversePopup, value("dmxUniversePopup"));
    restoreSource(o.dmxSourcePopup, value("dmxSourcePopup"), last.dmx);
    dmxSourceSelected();

    if (const QVariant v = value("oscEnableButton"); o.oscEnableButton && isKind(v, QMetaType::Double)) {
        o.oscEnableButton->setState(v.toBool() ? 1 : 0);
        oscSettingsChanged();
    }
    KavioPopUpButtonInterface* target = o.oscFeedbackTargetPopup;
    if (const QVariant v = value("oscFeedbackTargetPopup"); target && isKind(v, QMetaType::QString)) {
        // A target that is not offered now (a client no longer seen) comes back as its address.
        const QString custom = QStringLiteral("Custom");
        const bool offered = target->selectItemWithTitle(v.toString());
        if (!offered)
            target->selectItemWithTitle(custom);
        if (target->titleOfSelectedItem() == custom) {
            const QVariant host = value("oscFeedbackTargetIP");
            const QVariant port = value("oscFeedbackTargetPort");
            // A stored "Custom" takes its host only together with its port.
            const bool hostApplies = !offered || isKind(port, QMetaType::QString);
            if (o.oscFeedbackTargetIP && hostApplies && isKind(host, QMetaType::QString))
                o.oscFeedbackTargetIP->setStringValue(host.toString());
            if (o.oscFeedbackTargetPort && isKind(port, QMetaType::QString))
                o.oscFeedbackTargetPort->setStringValue(port.toString());
        }
        oscFeedbackTargetSelected();
    }
}

// --- The playlist settings' reach into the windows ----------------------------------------------------

void AppDelegate::setMainTimecodeFieldEnabled(bool enabled)
{
    if (auto* field = dynamic_cast<QWidget*>(outlets_.mainTimecodeField))
        field->setEnabled(enabled);
}

bool AppDelegate::isPreferencesWindowVisible() const
{
    return outlets_.preferencesWindow && outlets_.preferencesWindow->isVisible();
}

void AppDelegate::endPreferencesEditing()
{
    if (outlets_.preferencesTableView)
        outlets_.preferencesTableView->setFocus();
}

void AppDelegate::showPlaylistPreferences()
{
    QWidget* window = outlets_.preferencesWindow;
    if (!window)
        return;
    window->show();
    window->raise();
    window->activateWindow();
    QTabWidget* tabs = outlets_.preferencesTabView;
    if (!tabs || !outlets_.preferencesTableView)
        return;
    for (int index = 0; index < tabs->count(); ++index)
        if (tabs->widget(index)->objectName() == QLatin1String("playlist"))
            outlets_.preferencesTableView->setCurrentRow(index);
}

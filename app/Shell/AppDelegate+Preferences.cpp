#include "Shell/AppDelegate.h"

#include "Audio/KavioAudioOutputManager.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Shell/KavioWindow.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioPopUpButtonInterface.h"
#include "Support/KavioSliderInterface.h"
#include "Support/KavioTextFieldInterface.h"

#include <QAction>
#include <QGuiApplication>
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
    // TODO(triggers and sync sources): "mtcSource", "mmcSource", "mscSource", "midiSource".
    // TODO(network link): "nmcManager".
    // TODO(triggers and sync sources): "ltcSource", "ltcSourceChannel", "freewheel".
    if (outlets_.loopButton)
        record.insert(QStringLiteral("loopButton"), outlets_.loopButton->state() != 0);
    if (c && c->masterSlider)
        record.insert(QStringLiteral("masterSlider"), float(c->masterSlider->doubleValue()));
    if (outlets_.globalTransitionButton)
        record.insert(QStringLiteral("globalTransitionButton"), outlets_.globalTransitionButton->state() != 0);
    if (outlets_.audioOutputManager)
        record.insert(QStringLiteral("audioOutputData"), outlets_.audioOutputManager->saveData());
    // TODO(triggers and sync sources): the MIDI and DMX trigger fields and the DMX source pop-ups.
    // TODO(OSC): "oscEnableButton", "oscFeedbackTargetPopup", "oscFeedbackTargetPort", "oscFeedbackTargetIP".
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
        if (c->frameratePopup)
            c->frameratePopup->selectItemWithTag(v.toInt());
    }
    if (const QVariant v = value("startTime"); c && c->startTimeField && isKind(v, QMetaType::QString)) {
        c->startTimeField->setStringValue(v.toString());
        // TODO(clock control): the controller's changeStartTime.
    }
    if (c)
        selectTitle(c->defaultFadeDurationPopup, value("defaultFadeDurationPopup"));
    // TODO(triggers and sync sources): sources, trigger fields, "freewheel", "midiStartStopField".
    // TODO(network link): "nmcManager" to the network-link manager's loadData.
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
    // TODO(OSC): the OSC enable button and feedback target.

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
        if (const QVariant v = value("defaultNonMovieCueDuration"); isKind(v, QMetaType::Double))
            controller->setDefaultNonMovieCueDuration(v.toDouble());
        if (const QVariant v = value("jumpBehaviour"); isKind(v, QMetaType::Double))
            controller->setJumpBehaviour(v.toInt());
        if (c->jumpBehaviourPopup)
            c->jumpBehaviourPopup->selectItemWithTag(controller->jumpBehaviour());
        selectTitle(c->defaultTransitionPopup, value("defaultTransition"));
        selectTitle(c->defaultTransitionDurationPopup, value("defaultTransitionDurationPopup"));
    }
    if (const QVariant v = value("stopNextButton"); isKind(v, QMetaType::Double) && v.toBool())
        shouldEnablePauseAtEnd_ = true;
}

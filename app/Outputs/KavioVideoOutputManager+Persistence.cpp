// The output set-up record: saving, loading, the stored default and a clean reset.
#include "Outputs/KavioVideoOutputManager.h"

#include "Outputs/KavioOutputSetupControls.h"
#include "Views/KavioButton.h"
#include "Views/KavioControllableTextField.h"
#include "Views/KavioPopUpButton.h"

#include "Log.h"
#include "UndoManager.h"
#include "UserDefaults.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>

QVariantMap KavioVideoOutputManager::saveData() const
{
    QVariantMap data;
    data.insert("spanModeButton", (controls_->spanModeButton->state() != 0));
    data.insert("edgeBlendEnableButton", (controls_->edgeBlendEnableButton->state() != 0));
    data.insert("testCardButton", (controls_->testCardButton->state() != 0));
    data.insert("screensRows", qlonglong(controls_->screenRowsField->text().toInt()));
    data.insert("screensCols", qlonglong(controls_->screenColsField->text().toInt()));
    const QSizeF resolution = renderResolution();
    data.insert("renderResolution", QString::asprintf("%d x %d", int(resolution.width()), int(resolution.height())));
    QVariantMap outputs;
    for (const auto& output : outputObjects_)
        outputs.insert(QString::number(qulonglong(output->index())), output->saveData());
    data.insert("outputs", outputs);
    return data;
}

void KavioVideoOutputManager::loadWithData(const QVariantMap& data)
{
    undoManager_->disableUndoRegistration();
    isLoadingProject_ = true;
    bool anyDisconnected = false;
    if (!data.isEmpty()) {
        for (const auto& output : outputObjects_)
            output->removeResources();
        outputObjects_.clear();
        publishOutputs();

        controls_->spanModeButton->setState((data.value("spanModeButton").toBool()) ? 1 : 0);
        controls_->edgeBlendEnableButton->setState((data.value("edgeBlendEnableButton").toBool()) ? 1 : 0);
        controls_->testCardButton->setState((data.value("testCardButton").toBool()) ? 1 : 0);
        auto side = [&](const char* key) {
            const long value = data.contains(key) ? long(data.value(key).toLongLong()) : 1;
            if (value < 1 || value > 16) {
                KLOG_ERROR("set-up record: {} {} out of range, 1 taken", key, value);
                return 1L;
            }
            return value;
        };
        controls_->screenRowsField->setText(QString::number(side("screensRows")));
        controls_->screenColsField->setText(QString::number(side("screensCols")));
        changeNumberOfScreensManually();
        if (data.contains("renderResolution")) {
            undoChangeOutputResolutionTo(data.value("renderResolution").toString());
            KLOG_INFO("threading out");
        }

        const QVariantMap records = data.value("outputs").toMap();
        if (qsizetype(records.size()) > qsizetype(outputObjects_.size()))
            KLOG_INFO("set-up record: {} output records for {} outputs, the rest ignored", records.size(),
                      outputObjects_.size());
        for (qsizetype i = 1; i <= records.size(); ++i) {
            if (std::size_t(i) > outputObjects_.size())
                break;
            OutputPtr output = outputObjects_[std::size_t(i - 1)];
            output->loadWithData(records.value(QString::number(i)).toMap());
            output->setIndex(std::uint64_t(i));
            restoreFormatOfOutput(output);
            bool matched = false;
            for (int item = 0; item < controls_->currentScreenPopup->numberOfItems() && !matched; ++item)
                matched = itemMatchesOutput(item, *output);
            const KavioNameAndInfo pair{output->screenName(), output->screenInfo()};
            if (matched) {
                if (const auto display = screenWithNameAndInfo(pair))
                    output->changeFrameIfNeeded(display->frame);
                else if (output->videoOutputType() != KavioVideoOutputTypeScreen)
                    applyScreenNameAndInfo(pair, output);
            } else {
                addDisconnectedItem(pair);
                output->setIsOnline(false);
                KLOG_INFO("found disconnected screen: {}", pair.title.toStdString());
                anyDisconnected = true;
            }
        }
        publishOutputs();
        undoChangeEdgeBlendToState((controls_->edgeBlendEnableButton->state() != 0));
        outputViewDidSelected(nullptr);
        handleHasDisconnectedSreens(anyDisconnected);
    }
    isLoadingProject_ = false;
    KLOG_INFO("finished loading project...");
    checkOutputsForBestRenderMethod();
    undoManager_->enableUndoRegistration();
    if (defaults_.boolForKey("autoFullscreen") || controls_->fullscreenButton->state() != 0) {
        KLOG_INFO("autoFullscreen");
        controls_->fullscreenMenuItem->setChecked(false);
        toggleFullscreen();
    }
}

void KavioVideoOutputManager::loadDefaultStateWhenRenderIsNotRunning()
{
    if (defaults_.hasKey("videoOutputSetup")) {
        loadWithData(defaults_.dictionaryForKey("videoOutputSetup"));
        undoManager_->removeAllActions();
        return;
    }
    resetOutputsWhenRenderIsNotRunning();
    checkOutputsForBestRenderMethod();
}

void KavioVideoOutputManager::resetOutputsWhenRenderIsNotRunning()
{
    isResetingSettings_ = true;
    while (!outputObjects_.empty()) {
        outputObjects_.back()->removeResources();
        outputObjects_.pop_back();
    }
    publishOutputs();
    controls_->screensPopup->selectItemWithTitle("1");
    undoChangeNumberOfScreensWithTitle("1", {}, [this] {
        outputViewDidSelected(nullptr);
        undoManager_->removeAllActions();
        isResetingSettings_ = false;
    });
}

#pragma once
// A web page source that records what its cue asks of it, for the cue and inspector suites.
// Subclasses hand out a real window where a test needs one.

#include "Cue/KavioLiveSourceInterfaces.h"

#include <QList>
#include <QSizeF>
#include <QStringList>
#include <QWindow>

struct RecordingBrowserSource : KavioBrowserSourceInterface {
    QString css;
    bool unload = false;
    std::int32_t tag = 0;
    QList<QSizeF> renderSizes;
    QStringList calls;                       // "render 0/1", "load", "safeArea", "unload"
    QList<Qt::WindowFlags> flagsWhenParked;  // the window's flags at each "safeArea"

    QVariantMap saveData() const override { return {}; }
    void loadWithData(const QVariantMap&) override {}
    void setShouldRender(bool on) override { calls << QStringLiteral("render %1").arg(on); }
    QString customCSS() const override { return css; }
    void setCustomCSS(const QString& value) override { css = value; }
    bool shouldUnloadOnPause() const override { return unload; }
    void setShouldUnloadOnPause(bool value) override { unload = value; }
    std::int32_t renderSizeMultiplierTag() const override { return tag; }
    void setRenderSizeMultiplierTag(std::int32_t value) override { tag = value; }
    void setRenderSize(QSizeF size) override { renderSizes << size; }
    void loadURL(const QUrl&) override { calls << QStringLiteral("load"); }
    QWindow* webWindow() const override { return nullptr; }
    void setWindowOriginToASafeArea() override
    {
        calls << QStringLiteral("safeArea");
        if (QWindow* window = webWindow())
            flagsWhenParked << window->flags();
    }
    void unloadPage() override { calls << QStringLiteral("unload"); }
};

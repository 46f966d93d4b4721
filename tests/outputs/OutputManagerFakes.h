#pragma once
// Stand-ins the output manager suites give the manager: the displays a test arranges and a cue
// list controller that answers as an idle one.

#include "IdleVideoManager.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "Rendering/KavioRenderClock.h"

#include "UserDefaults.h"

// Displays as a test arranges them.
class FakeDisplayList : public KavioDisplayListInterface {
public:
    std::vector<KavioDisplay> list;
    std::vector<KavioDisplay> displays() const override { return list; }
};

inline KavioDisplay display(const QString& name, QRectF frame, bool isMain, KavioScreenInfo info)
{
    return {name, frame, isMain, info, nullptr};
}

class FakeVideoManager : public IdleVideoManager {
public:
    std::shared_ptr<KavioRenderClock> clock;
    std::shared_ptr<KavioRenderClock> renderClock() const override { return clock; }
};


// A manager started on `displays` as at a first launch: the output defaults are removed first.
inline std::unique_ptr<KavioVideoOutputManager> startOutputManager(QVTMetalManager& gpu,
                                                                   std::shared_ptr<FakeDisplayList> displays,
                                                                   std::shared_ptr<FakeVideoManager> videoManager)
{
    auto& defaults = UserDefaults::standardUserDefaults();
    for (const char* key : {"useHighBitDepthRendering", "disableDisplayMirroring", "disableMouseCursorHide",
                            "videoOutputSetup", "autoFullscreen"})
        defaults.removeObjectForKey(key);
    auto outputs = std::make_unique<KavioVideoOutputManager>(gpu, nullptr, std::move(displays));
    outputs->setVideoManager(std::move(videoManager));
    outputs->initManager();
    return outputs;
}

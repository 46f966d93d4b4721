#pragma once
// What the fuzz targets that go through the cue list controller share: the application the
// loading sheet needs (offscreen, no display), a controller on settings of its own, and the
// removal that leaves the list empty for the next input. Included by exactly one file per target.

#include "Controller/KavioVideoItemManager.h"
#include "DispatchQueue.h"
#include "FuzzInput.h"
#include "Log.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QTemporaryDir>

namespace fuzz {

// For LLVMFuzzerInitialize. Skipped keys and missing media are logged; millions of runs need no
// such lines. Qt gets an argument list of its own so that it cannot eat libFuzzer's flags.
inline void startCueListApplication(char** argv)
{
    KavioLog::logger().set_level(spdlog::level::off);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    // Never destroyed: at exit Qt's own globals may already be gone, and tearing down the
    // windows the loads left (the loading sheet) would then crash the run that just passed.
    static auto* application = new QApplication(argc, qtArgv);
    (void)application;
    DispatchQueue::main();
}

struct CueList {
    QTemporaryDir settings;
    UserDefaults defaults{settings.filePath("Kavio.conf")};
    std::shared_ptr<KavioVideoItemManager> controller = KavioVideoItemManager::init(defaults);

    // Removes every cue (a cue per event-loop turn), so the next input starts on an empty list;
    // a removal that never ends is a broken promise.
    void clear()
    {
        bool removed = false;
        controller->removeItems(*controller->items(), [&removed] { removed = true; });
        if (!DispatchQueue::runMainUntil([&removed] { return removed; }, 20))
            brokenPromise();
    }
};

}  // namespace fuzz

// Fuzzes a project file as the program opens it: the keyed archive read whole, its
// "playlistData" handed to the cue list controller's loader with restoring on, every cue made
// through the controller's create request and the staged cue loader (off screen). The load must
// end, and what the list saves must archive again.

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "FuzzInput.h"
#include "KeyedArchive.h"
#include "Log.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QTemporaryDir>

namespace {

struct ProjectOpener {
    QTemporaryDir settings;
    UserDefaults defaults{settings.filePath("Kavio.conf")};
    std::shared_ptr<KavioVideoItemManager> controller = KavioVideoItemManager::init(defaults);
};

}  // namespace

// Skipped keys and missing media are logged; millions of runs need no such lines. The loading
// sheet needs an application; the offscreen platform needs no display, and Qt gets an argument
// list of its own so that it cannot eat libFuzzer's flags.
extern "C" int LLVMFuzzerInitialize(int*, char*** argv)
{
    KavioLog::logger().set_level(spdlog::level::off);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    // Never destroyed: at exit Qt's own globals may already be gone, and tearing down the
    // windows the loads left (the loading sheet) would then crash the run that just passed.
    static auto* application = new QApplication(argc, qtArgv);
    (void)application;
    DispatchQueue::main();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static ProjectOpener opener;
    KavioVideoItemManager& controller = *opener.controller;
    const auto root = KeyedArchive::unarchiveDictionary(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!root)
        return 0;
    controller.setIsLoadingProject(true);
    if (controller.loadWithData(root->value(QStringLiteral("playlistData")), true, {}) &&
        !DispatchQueue::runMainUntil([&controller] { return !controller.isLoadingCues(); }, 20))
        fuzz::brokenPromise();
    controller.setIsLoadingProject(false);
    if (!controller.items()->empty() && KeyedArchive::archive(controller.saveData()).isEmpty())
        fuzz::brokenPromise();
    // Removal goes a cue per event-loop turn; the next input starts on an empty list.
    bool removed = false;
    controller.removeItems(*controller.items(), [&removed] { removed = true; });
    if (!DispatchQueue::runMainUntil([&removed] { return removed; }, 20))
        fuzz::brokenPromise();
    return 0;
}

// Fuzzes a project file as the program opens it: the keyed archive read whole, its
// "playlistData" handed to the cue list controller's loader with restoring on, every cue made
// through the controller's create request and the staged cue loader (off screen). The load must
// end, and what the list saves must archive again.

#include "CueListFuzzSupport.h"
#include "Cue/KavioVideoItem.h"
#include "KeyedArchive.h"

extern "C" int LLVMFuzzerInitialize(int*, char*** argv)
{
    fuzz::startCueListApplication(*argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static fuzz::CueList list;
    KavioVideoItemManager& controller = *list.controller;
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
    list.clear();
    return 0;
}

// Fuzzes one cue record as the cue list restores it: a keyed archive holding the record, handed
// to the controller's create request as a project load does (the initialiser's stage with the
// record, loadWithData, and for a movie whose media opens the cached data once it is ready), off
// screen. What the cue saves must archive.

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
    const auto record = KeyedArchive::unarchiveDictionary(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!record)
        return 0;
    controller.setIsLoadingProject(true);
    const auto cue = controller.restoreItemWithData(*record);
    // A movie whose media opens gets its cached data when it is ready; one that never becomes
    // ready is the media's matter, not the record's.
    if (cue)
        DispatchQueue::runMainUntil([&cue] { return cue->isReady() || cue->isMissing(); }, 5);
    controller.setIsLoadingProject(false);
    if (cue && KeyedArchive::archive(cue->saveData()).isEmpty())
        fuzz::brokenPromise();
    list.clear();
    return 0;
}

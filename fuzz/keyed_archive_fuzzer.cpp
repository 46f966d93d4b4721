// Fuzzes keyed-archive reading, as a project file or a clipboard record is read. What reads
// must write back (the writer refuses what it cannot represent, so a value read too deep or
// too large would fail here) and read again to the same bytes.

#include "FuzzInput.h"
#include "KeyedArchive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto value = KeyedArchive::unarchive(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!value)
        return 0;
    const QByteArray written = KeyedArchive::archive(*value);
    if (written.isEmpty())
        fuzz::brokenPromise();
    const auto reread = KeyedArchive::unarchive(written);
    if (!reread || KeyedArchive::archive(*reread) != written)
        fuzz::brokenPromise();
    return 0;
}

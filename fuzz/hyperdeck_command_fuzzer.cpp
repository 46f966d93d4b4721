// Fuzzes the HyperDeck command reader with a byte stream cut into pieces, as a connection reads
// it: [n][n bytes]... Every piece is fed in turn; each parsed command must either carry a
// request or an error code, never both or neither, and the same stream fed in one piece must
// come to the same commands.

#include "FuzzInput.h"
#include "ZelmoraProtocol.h"

#include <string>
#include <vector>

namespace {

std::vector<int> codes(const std::vector<zelmora::Parsed>& parsed)
{
    std::vector<int> out;
    for (const auto& p : parsed) {
        if (p.request.has_value() == (p.error != zelmora::ReplyCode::Ok))
            fuzz::brokenPromise();
        out.push_back(p.request ? int(p.request->command) : -int(p.error));
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input input(data, size);
    // A small cap, so overlong lines are reached.
    zelmora::CommandReader pieces(64), whole(64);
    std::string stream;
    std::vector<int> fromPieces;
    while (!input.atEnd()) {
        const auto piece = input.take(input.byte());
        const std::string bytes(reinterpret_cast<const char*>(piece.data()), piece.size());
        stream += bytes;
        const auto got = codes(pieces.feed(bytes));
        fromPieces.insert(fromPieces.end(), got.begin(), got.end());
    }
    if (codes(whole.feed(stream)) != fromPieces || whole.isMidCommand() != pieces.isMidCommand())
        fuzz::brokenPromise();
    return 0;
}

// Runs a fuzz target's entry point over stored inputs, without libFuzzer, so that the normal
// build keeps every target compiling and every seed and regression input passing; then a short
// fuzz run of its own: mutants of those inputs, made by a fixed-seed generator so that every run
// tries the same ones and a fault found is found again.
//
// Usage: <replay> [--mutants=N] <file or directory>...; directories are read recursively.
// N mutants in all (default 0), shared out over the inputs. Fails when no input was found at
// all, so that a missing corpus cannot pass unnoticed. A mutant that crashes the target is
// written to `crash-mutant` in the working folder before the process dies.

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

using Bytes = std::vector<std::uint8_t>;

// The input being run, for the crash handler.
const Bytes* running = nullptr;

extern "C" void saveRunningInput(int signal)
{
    if (running) {
        const int fd = ::open("crash-mutant", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            [[maybe_unused]] const ssize_t written = ::write(fd, running->data(), running->size());
            ::close(fd);
        }
        static const char note[] = "a mutant crashed the target: saved as crash-mutant\n";
        [[maybe_unused]] const ssize_t noted = ::write(STDERR_FILENO, note, sizeof note - 1);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void run(const Bytes& input)
{
    // As libFuzzer does: the input in a buffer of exactly its size, so reads past it are caught.
    const Bytes exact(input.begin(), input.end());
    running = &exact;
    LLVMFuzzerTestOneInput(exact.data(), exact.size());
    running = nullptr;
}

Bytes readFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Mutator {
public:
    explicit Mutator(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}

    // One to four stacked changes of the kinds that find faults in parsers: bits, boundary
    // values, lengths, and pieces moved or taken from another input.
    Bytes mutate(const Bytes& input, const Bytes& other)
    {
        Bytes out = input;
        const int changes = 1 + int(below(4));
        for (int i = 0; i < changes; ++i)
            change(out, other);
        return out;
    }

private:
    std::uint64_t next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    std::size_t below(std::size_t n) { return n ? std::size_t(next() % n) : 0; }

    void change(Bytes& out, const Bytes& other)
    {
        static const std::uint8_t boundaries[] = {0x00, 0x01, 0x7f, 0x80, 0xff, 0xfe, 0x40, 0x20};
        switch (below(out.empty() ? 2 : 7)) {
        case 0:  // insert a few bytes
            out.insert(out.begin() + std::ptrdiff_t(below(out.size() + 1)), 1 + below(4), std::uint8_t(next()));
            break;
        case 1:  // splice in a piece of another input
            if (!other.empty()) {
                const std::size_t from = below(other.size());
                const std::size_t length = 1 + below(std::min<std::size_t>(other.size() - from, 64));
                out.insert(out.begin() + std::ptrdiff_t(below(out.size() + 1)), other.begin() + std::ptrdiff_t(from),
                           other.begin() + std::ptrdiff_t(from + length));
            }
            break;
        case 2:  // flip a bit
            out[below(out.size())] ^= std::uint8_t(1u << below(8));
            break;
        case 3:  // a boundary value
            out[below(out.size())] = boundaries[below(std::size(boundaries))];
            break;
        case 4: {  // a 32-bit boundary value, either byte order
            const std::size_t at = below(out.size());
            const std::uint8_t fill = below(2) ? 0xff : 0x00;
            for (std::size_t i = at; i < std::min(at + 4, out.size()); ++i)
                out[i] = (i == at && below(2)) ? 0x7f : fill;
            break;
        }
        case 5: {  // erase a range
            const std::size_t at = below(out.size());
            out.erase(out.begin() + std::ptrdiff_t(at),
                      out.begin() + std::ptrdiff_t(std::min(out.size(), at + 1 + below(16))));
            break;
        }
        default:  // cut the end off
            out.resize(below(out.size()));
            break;
        }
    }

    std::uint64_t state_;
};

}  // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    for (const int signal : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGTRAP})
        std::signal(signal, saveRunningInput);

    std::size_t mutants = 0;
    std::vector<Bytes> inputs;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--mutants=", 10) == 0) {
            mutants = std::strtoull(argv[i] + 10, nullptr, 10);
            continue;
        }
        const std::filesystem::path root(argv[i]);
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(root)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
        } else if (std::filesystem::is_regular_file(root)) {
            files.push_back(root);
        }
        // Directory order differs between machines; the mutants must not.
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            inputs.push_back(readFile(file));
            run(inputs.back());
        }
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    std::fflush(stdout);  // still shown when a mutant kills the process
    if (inputs.empty())
        return 1;

    Mutator mutator(inputs.size());
    for (std::size_t n = 0; n < mutants; ++n)
        run(mutator.mutate(inputs[n % inputs.size()], inputs[(n * 7 + 3) % inputs.size()]));
    std::printf("ran %zu mutants\n", mutants);
    return 0;
}

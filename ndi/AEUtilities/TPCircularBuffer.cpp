#include "TPCircularBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kAttempts = 4;

void reportFailure(int line, const char* step, int error) {
    std::printf("%s:%d: %s: %s\n", __FILE__, line, step, std::strerror(error));
}

}  // namespace

bool _TPCircularBufferInit(TPCircularBuffer* ring, int32_t length, size_t recordSize) {
    if (recordSize != sizeof(TPCircularBuffer)) {
        std::fprintf(stderr,
                     "TPCircularBuffer: Header version mismatch. Check for old versions of "
                     "TPCircularBuffer in your project\n");
        std::abort();
    }
    if (length <= 0) return false;

    const long page = sysconf(_SC_PAGESIZE);
    const int64_t rounded = (int64_t(length) + page - 1) / page * page;
    if (rounded > INT32_MAX) return false;
    const size_t size = size_t(rounded);

    // One shared-memory object mapped twice, side by side, inside a range reserved first so
    // that no other mapping can take the upper half in between.
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const bool last = attempt == kAttempts - 1;
        const int fd = memfd_create("TPCircularBuffer", MFD_CLOEXEC);
        if (fd < 0 || ftruncate(fd, off_t(size)) != 0) {
            const int error = errno;
            if (fd >= 0) close(fd);
            if (last) reportFailure(__LINE__, "Buffer allocation", error);
            continue;
        }
        void* range = mmap(nullptr, 2 * size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (range == MAP_FAILED) {
            const int error = errno;
            close(fd);
            if (last) reportFailure(__LINE__, "Buffer allocation", error);
            continue;
        }
        auto* lower = static_cast<char*>(range);
        void* first = mmap(lower, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
        void* second = first == MAP_FAILED
                           ? MAP_FAILED
                           : mmap(lower + size, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
        const int error = errno;
        close(fd);
        if (first == MAP_FAILED || second == MAP_FAILED) {
            munmap(range, 2 * size);
            if (last) reportFailure(__LINE__, "Remap buffer memory", error);
            continue;
        }
        if (first != lower || second != lower + size) {
            munmap(range, 2 * size);
            if (last) std::printf("Couldn't map buffer memory to end of buffer\n");
            continue;
        }
        ring->buffer = lower;
        ring->length = int32_t(size);
        ring->tail = 0;
        ring->head = 0;
        ring->fillCount.store(0);
        ring->atomic = true;
        return true;
    }
    return false;
}

int TPCircularBufferCleanup(TPCircularBuffer* ring) {
    int result = 0;
    if (ring->buffer && munmap(ring->buffer, 2 * size_t(ring->length)) != 0) result = errno;
    ring->buffer = nullptr;
    ring->length = 0;
    ring->tail = 0;
    ring->head = 0;
    ring->fillCount.store(0);
    ring->atomic = false;
    return result;
}

void TPCircularBufferClear(TPCircularBuffer* ring) {
    int32_t fill = 0;
    if (TPCircularBufferTail(ring, &fill)) TPCircularBufferConsume(ring, fill);
}

void TPCircularBufferSetAtomic(TPCircularBuffer* ring, bool atomic) { ring->atomic = atomic; }

void* TPCircularBufferTail(TPCircularBuffer* ring, int32_t* availableBytes) {
    const int32_t fill = ring->buffer ? ring->fillCount.load() : 0;
    *availableBytes = fill;
    if (fill == 0) return nullptr;
    return static_cast<char*>(ring->buffer) + ring->tail;
}

void TPCircularBufferConsume(TPCircularBuffer* ring, int32_t amount) {
    ring->tail = (ring->tail + amount) % ring->length;
    ring->fillCount.fetch_sub(amount);
}

void* TPCircularBufferHead(TPCircularBuffer* ring, int32_t* availableBytes) {
    const int32_t room = ring->buffer ? ring->length - ring->fillCount.load() : 0;
    *availableBytes = room;
    if (room == 0) return nullptr;
    return static_cast<char*>(ring->buffer) + ring->head;
}

void TPCircularBufferProduce(TPCircularBuffer* ring, int32_t amount) {
    ring->head = (ring->head + amount) % ring->length;
    ring->fillCount.fetch_add(amount);
}

#include "allocation_counter.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace Corvex::Tracking::Testing {

namespace {

// Each block carries its size in front, so that live bytes can be counted.
constexpr size_t PREFIX = alignof(std::max_align_t);
std::atomic<int64_t> liveBytes{0};
thread_local int64_t threadAllocations = 0;

void* countedNew(size_t size) {
    void* block = std::malloc(size + PREFIX);
    if (block == nullptr) throw std::bad_alloc();
    *static_cast<size_t*>(block) = size;
    liveBytes.fetch_add(static_cast<int64_t>(size), std::memory_order_relaxed);
    ++threadAllocations;
    return static_cast<char*>(block) + PREFIX;
}

void countedDelete(void* pointer) {
    if (pointer == nullptr) return;
    void* block = static_cast<char*>(pointer) - PREFIX;
    liveBytes.fetch_sub(static_cast<int64_t>(*static_cast<size_t*>(block)),
                        std::memory_order_relaxed);
    std::free(block);
}

}  // namespace

int64_t allocationsOnThisThread() {
    return threadAllocations;
}

int64_t liveHeapBytes() {
    return liveBytes.load(std::memory_order_relaxed);
}

}  // namespace Corvex::Tracking::Testing

using Corvex::Tracking::Testing::countedDelete;
using Corvex::Tracking::Testing::countedNew;

void* operator new(size_t size) {
    return countedNew(size);
}
void* operator new[](size_t size) {
    return countedNew(size);
}
void operator delete(void* pointer) noexcept {
    countedDelete(pointer);
}
void operator delete[](void* pointer) noexcept {
    countedDelete(pointer);
}
void operator delete(void* pointer, size_t) noexcept {
    countedDelete(pointer);
}
void operator delete[](void* pointer, size_t) noexcept {
    countedDelete(pointer);
}

// The program's global allocation operators, replaced so that every heap
// block passes through AllocationCounter. The plain, array, nothrow and
// sized forms are all replaced, so no block escapes the count through a
// library's own operator; over-aligned blocks, which nothing measured
// uses, keep the library's operators.
#include <malloc.h>

#include <cstdlib>
#include <new>

#include "AllocationCounter.h"

namespace {
void* allocate(std::size_t size) noexcept {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr) {
        AllocationCounter::allocated(malloc_usable_size(block));
    }
    return block;
}

void release(void* block) noexcept {
    if (block != nullptr) {
        AllocationCounter::released(malloc_usable_size(block));
        std::free(block);
    }
}

void* allocateOrThrow(std::size_t size) {
    if (void* block = allocate(size)) {
        return block;
    }
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) {
    return allocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return allocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void operator delete(void* block) noexcept {
    release(block);
}
void operator delete[](void* block) noexcept {
    release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    release(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    release(block);
}

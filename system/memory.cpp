// Every allocation of the program comes from the process heap, and one the
// system refuses ends in the allocation failure report with its byte count
// instead of an exception nobody catches.
#include <cstddef>
#include <new>

#include "platform/platform.h"
#include "system/fatal.h"

void* operator new(std::size_t bytes) {
    if (void* block = PlatformAllocate(bytes == 0 ? 1 : bytes)) return block;
    ReportAllocationFailure(bytes);
}

void* operator new[](std::size_t bytes) { return ::operator new(bytes); }

void operator delete(void* block) noexcept { PlatformRelease(block); }
void operator delete[](void* block) noexcept { PlatformRelease(block); }
void operator delete(void* block, std::size_t) noexcept { PlatformRelease(block); }
void operator delete[](void* block, std::size_t) noexcept { PlatformRelease(block); }

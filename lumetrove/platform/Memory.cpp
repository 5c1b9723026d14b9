#include "lumetrove/platform/Memory.h"

#include <cstdlib> // defines __GLIBC__ with the C library

// Under the address sanitizer the C library's heap holds nothing of ours, and its first trim, made on two
// threads at once, can race on setting that unused heap up.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
#define LUMETROVE_GLIBC_HEAP 1
#include <malloc.h>
#endif

namespace lumetrove {

void returnFreedMemoryToSystem()
{
#ifdef LUMETROVE_GLIBC_HEAP
    malloc_trim(0);
#endif
}

void returnLargeBlocksWhenFreed()
{
#ifdef LUMETROVE_GLIBC_HEAP
    // The library's own starting size; setting it turns its raising off.
    constexpr int largeBlockBytes = 128 * 1024;
    mallopt(M_MMAP_THRESHOLD, largeBlockBytes);
#endif
}

void useOneHeapForAllThreads()
{
#ifdef LUMETROVE_GLIBC_HEAP
    mallopt(M_ARENA_MAX, 1);
#endif
}

} // namespace lumetrove

#include "lumetrove/platform/Memory.h"

#include <cstdlib> // defines __GLIBC__ with the C library

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace lumetrove {

void returnFreedMemoryToSystem()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

void returnLargeBlocksWhenFreed()
{
#ifdef __GLIBC__
    // The library's own starting size; setting it turns its raising off.
    constexpr int largeBlockBytes = 128 * 1024;
    mallopt(M_MMAP_THRESHOLD, largeBlockBytes);
#endif
}

} // namespace lumetrove

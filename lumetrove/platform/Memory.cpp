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

} // namespace lumetrove

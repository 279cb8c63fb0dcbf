#include "platform/free_memory.h"

#include <cstdlib> // tells which C library this is

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace orvane::platform {

void returnFreeHeapMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace orvane::platform

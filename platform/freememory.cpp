#include "platform/freememory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

void returnFreedMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace platform

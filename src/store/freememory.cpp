#include "store/freememory.h"

#include <QtGlobal>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace store {

void returnFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void mapLargeBlocksApart()
{
#if defined(__GLIBC__)
    static const bool set = mallopt(M_MMAP_THRESHOLD, 1 << 20) != 0;
    Q_UNUSED(set);
#endif
}

} // namespace store

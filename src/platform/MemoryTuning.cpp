#include "platform/MemoryTuning.h"

#include <malloc.h>

namespace velm {

void TuneAllocatorForLargeBuffers() { mallopt(M_MMAP_THRESHOLD, 1 << 20); }

}  // namespace velm

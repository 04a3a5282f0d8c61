#include "platform/MemoryTuning.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>

namespace velm {

void TuneAllocatorForLargeBuffers() { mallopt(M_MMAP_THRESHOLD, 1 << 20); }

void AdviseHugePages(void* data, size_t size) {
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kHugePage - 1);
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

}  // namespace velm

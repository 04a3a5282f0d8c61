// Process-wide allocator settings for a program that moves whole files through memory.
#pragma once

#include <cstddef>

namespace velm {

// Buffers of 1 MiB and more (whole game files, downloads) are taken straight from the system and
// given back when freed, instead of staying in per-thread pools after a burst of large answers.
void TuneAllocatorForLargeBuffers();

// Asks for huge pages behind the whole 2 MiB pages of a large buffer that is about to be filled:
// a 64 MiB body then costs 32 page faults instead of 16,384. Only advice; nothing changes when
// the system does not give them.
void AdviseHugePages(void* data, size_t size);

}  // namespace velm

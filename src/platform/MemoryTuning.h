// Process-wide allocator settings for a program that moves whole files through memory.
#pragma once

namespace velm {

// Buffers of 1 MiB and more (whole game files, downloads) are taken straight from the system and
// given back when freed, instead of staying in per-thread pools after a burst of large answers.
void TuneAllocatorForLargeBuffers();

}  // namespace velm

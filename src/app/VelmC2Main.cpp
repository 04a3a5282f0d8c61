#include "app/VelmC2.h"
#include "platform/MemoryTuning.h"

int main(int argc, char** argv) {
  velm::TuneAllocatorForLargeBuffers();
  return velm::RunVelmC2(argc, argv);
}

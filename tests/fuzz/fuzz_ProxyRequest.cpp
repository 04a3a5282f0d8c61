// Bytes a local program sends to the proxy port: request lines and heads read one request after
// another, as a kept-alive connection would carry them, until the reader gives up.
#include <cstdint>
#include <cstdlib>

#include "ProxyFuzzAccess.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velm::TSocketPair pair;
  pair.Feed(std::string_view(reinterpret_cast<const char*>(data), size));
  velm::TProxyTestAccess worker;
  worker.AttachClient(pair.Release());
  // Each request takes at least one byte, so the loop ends; the bound only guards the fuzzer.
  for (size_t i = 0; i <= size && worker.ProcessRequest(); ++i) {
    // The head line, the connection line and at most the header limit.
    if (worker.HeaderCount() > velm::kProxyMaxHeaderLines + 2) std::abort();
  }
  return 0;
}

// Bytes a site sends back: the answer head, interim answers, a length-counted, chunked or
// closing body, relayed to the browser and kept in a store as for a missing mirror file. The
// first byte picks the request (GET or HEAD, HTTP/1.1 or 1.0, kept alive or not).
#include <cstdint>
#include <cstdlib>

#include "ProxyFuzzAccess.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  velm::TSocketPair browser, site;
  site.Feed(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  velm::TProxyTestAccess worker;
  worker.AttachClient(browser.Release());
  worker.AttachUpstream(site.Release(), "127.0.0.1", "80");
  worker.SetRequest(mode & 1 ? "HEAD" : "GET", mode & 2 ? "HTTP/1.0" : "HTTP/1.1", mode & 4);
  velm::TMemoryStream store;
  worker.ProcessQuery(mode & 8 ? &store : nullptr);
  // Nothing is kept that the site did not send.
  if (store.Size() > size) std::abort();
  browser.Drain();
  site.Drain();
  return 0;
}

// URL percent coding: DecodeURL takes any text; what EncodeURL made must decode to the original.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/URLCoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string decoded = velm::DecodeURL(text);
  if (decoded.size() > text.size()) std::abort();
  if (velm::DecodeURL(velm::EncodeURL(text)) != text) std::abort();
  velm::EncodeQuery(text);
  return 0;
}

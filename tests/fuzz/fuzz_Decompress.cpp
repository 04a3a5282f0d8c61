// Compressed bodies: the first byte picks the decoder (gzip, zlib/raw deflate, "deflate" label),
// the rest is the body. Only EDecompressionError may come out, and the output stays bounded.
#include <cstdint>
#include <cstdlib>

#include "net/ZLib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  velm::TMemoryStream in(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  velm::TMemoryStream out;
  in.SetPosition(0);
  try {
    switch (data[0] % 3) {
      case 0:
        velm::GZipDecompress(in, out);
        break;
      case 1:
        velm::DecompressStream(in, out);
        break;
      default:
        velm::DeflateDecompress(in, out);
        break;
    }
  } catch (const velm::EDecompressionError&) {
  }
  if (out.Size() > velm::kMaxDecompressedSize) std::abort();
  if (in.Position() > in.Size()) std::abort();
  return 0;
}

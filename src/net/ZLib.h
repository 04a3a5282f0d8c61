// Inflate of gzip and deflate HTTP bodies on zlib. Nothing here compresses.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/MemoryStream.h"

namespace velm {

// A zlib result code with zlib's own text for it (zError).
class EZlibError : public std::runtime_error {
 public:
  explicit EZlibError(int code);
  int32_t ErrorCode;

 protected:
  EZlibError(int code, const std::string& text);
};

// The only error the decoders raise.
class EDecompressionError : public EZlibError {
 public:
  using EZlibError::EZlibError;
};

// The most a decoder writes for one body. A few hundred bytes of deflate data can expand to
// gigabytes; nothing the site sends (file lists, pages, graphics) comes near this.
inline constexpr size_t kMaxDecompressedSize = size_t{64} << 20;

// A body whose decoded size would pass kMaxDecompressedSize; what was decoded up to the limit
// stays in Out.
class EDecompressionLimitError : public EDecompressionError {
 public:
  EDecompressionLimitError();
};

// Returns a non-negative zlib result; raises EDecompressionError for a negative one.
int CheckZlib(int code);

// Decodes one deflate stream, with or without a two-byte zlib header, from In's position into
// Out at its position. In is decoded in place and left right after the compressed data used;
// a zlib stream's Adler-32 trailer is neither read nor checked. More than kMaxDecompressedSize
// bytes of output fail with EDecompressionLimitError.
void DecompressStream(TMemoryStream& in, TMemoryStream& out);

// Decodes the gzip member that starts at In's position. In is changed: two header bytes are
// overwritten with a zlib header and the last 8 bytes (the trailer, never checked) are cut off.
// Only the first member is decoded; bytes after its final block are ignored. A header that runs
// past the end of In, or no room for the trailer after it, fails with EDecompressionError.
void GZipDecompress(TMemoryStream& in, TMemoryStream& out);

// A body labelled "deflate". The site sends the ten fixed gzip header bytes followed by raw
// deflate data; those ten bytes are skipped. A body without them (a zlib stream or raw deflate,
// as other servers send) is decoded as it is.
void DeflateDecompress(TMemoryStream& in, TMemoryStream& out);

}  // namespace velm

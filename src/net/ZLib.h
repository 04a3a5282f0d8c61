// Inflate of gzip and deflate HTTP bodies on zlib. Nothing here compresses.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "platform/MemoryStream.h"

namespace velm {

// A zlib result code with zlib's own text for it (zError).
class EZlibError : public std::runtime_error {
 public:
  explicit EZlibError(int code);
  int32_t ErrorCode;
};

// The only error the decoders raise.
class EDecompressionError : public EZlibError {
 public:
  using EZlibError::EZlibError;
};

// Returns a non-negative zlib result; raises EDecompressionError for a negative one.
int CheckZlib(int code);

// Decodes one deflate stream, with or without a two-byte zlib header, from In's position into
// Out at its position. In is decoded in place and left right after the compressed data used;
// a zlib stream's Adler-32 trailer is neither read nor checked.
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

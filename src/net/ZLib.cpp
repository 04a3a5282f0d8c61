#include "net/ZLib.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/MemoryTuning.h"

namespace velm {
namespace {

constexpr int kWindowBits = 15;
constexpr size_t kWindowSize = size_t{1} << kWindowBits;
// zlib counts input in unsigned int; larger bodies are handed out in pieces of this size.
constexpr size_t kMaxPiece = size_t{1} << 30;

constexpr uint8_t kGzipId1 = 0x1F, kGzipId2 = 0x8B;
constexpr size_t kGzipFixedHeader = 10;
constexpr size_t kGzipTrailer = 8;
constexpr uint8_t kFlagHeaderCrc = 2, kFlagExtra = 4, kFlagName = 8, kFlagComment = 16;

// Deflate data expands at most about 1032 times; a size hint beyond that is not believed.
constexpr size_t kMaxDeflateRatio = 1032;
constexpr size_t kFirstOutputGuess = 64 * 1024;

// Ends the inflate state however the decoding leaves.
struct TInflateEnd {
  z_stream* strm;
  ~TInflateEnd() { inflateEnd(strm); }
};

// Length of the zlib header at data, or 0 when the data does not start with one.
size_t ZlibHeaderLength(uint8_t* data, size_t size) {
  z_stream probe{};
  CheckZlib(inflateInit2(&probe, kWindowBits));
  uint8_t none = 0;
  probe.next_in = data;
  probe.avail_in = static_cast<unsigned>(size < kMaxPiece ? size : kMaxPiece);
  probe.next_out = &none;
  probe.avail_out = 0;
  // Z_BLOCK stops right after the stream header, before the first deflate block.
  const int result = inflate(&probe, Z_BLOCK);
  const size_t used = result == Z_OK ? probe.total_in : 0;
  inflateEnd(&probe);
  return used;
}

[[noreturn]] void FailHeader() {
  throw EDecompressionError(Z_DATA_ERROR);
}

}  // namespace

EZlibError::EZlibError(int code) : std::runtime_error(zError(code)), ErrorCode(code) {}

EZlibError::EZlibError(int code, const std::string& text)
    : std::runtime_error(text), ErrorCode(code) {}

EDecompressionLimitError::EDecompressionLimitError()
    : EDecompressionError(Z_BUF_ERROR, "decoded body larger than " +
                                           std::to_string(kMaxDecompressedSize) + " bytes") {}

int CheckZlib(int code) {
  if (code < 0) throw EDecompressionError(code);
  return code;
}

namespace {

// Inflates raw deflate data straight into Out's buffer, which is sized once from the hint (the
// decoded size a gzip trailer announces, when there is one) and doubled when the data needs more.
void InflateInto(TMemoryStream& in, TMemoryStream& out, size_t sizeHint) {
  const size_t size = in.Size();
  const size_t start = in.Position() < size ? in.Position() : size;
  in.SetPosition(size);
  uint8_t* next = size ? in.Memory() + start : nullptr;
  size_t left = size - start;
  const size_t header = ZlibHeaderLength(next, left);
  next += header;
  left -= header;

  z_stream strm{};
  CheckZlib(inflateInit2(&strm, -kWindowBits));
  TInflateEnd end{&strm};

  // Room up to one byte past the limit: a body that fills that byte is too large.
  const size_t pos = out.Position();
  const size_t oldSize = out.Size();
  const size_t room = kMaxDecompressedSize + 1;
  // A position past the end leaves zero bytes in between, as a write there would.
  if (pos > oldSize) out.SetSize(pos);
  TByteBuffer& bytes = out.Bytes();
  size_t guess = sizeHint ? sizeHint + 1 : std::max(left * 4, kFirstOutputGuess);
  guess = std::min({guess, left * kMaxDeflateRatio + kFirstOutputGuess, room});
  if (bytes.size() < pos + guess) {
    bytes.resize(pos + guess);
    AdviseHugePages(bytes.data() + pos, guess);
  }

  size_t written = 0;
  int result = Z_OK;
  for (;;) {
    if (pos + written == bytes.size()) {
      if (written >= room) break;
      bytes.resize(pos + std::min(room, std::max(written * 2, kFirstOutputGuess)));
      AdviseHugePages(bytes.data() + pos + written, bytes.size() - (pos + written));
    }
    if (strm.avail_in == 0 && left > 0) {
      const size_t n = std::min(left, kMaxPiece);
      strm.next_in = next;
      strm.avail_in = static_cast<unsigned>(n);
      next += n;
      left -= n;
    }
    const size_t space = std::min(bytes.size() - (pos + written), kMaxPiece);
    strm.next_out = bytes.data() + pos + written;
    strm.avail_out = static_cast<unsigned>(space);
    result = inflate(&strm, Z_NO_FLUSH);
    written += space - strm.avail_out;
    if (result == Z_STREAM_END) break;
    // No progress with all input handed out: the data ends before its final block.
    if (result == Z_BUF_ERROR && strm.avail_in == 0 && left == 0) break;
    if (result < 0 && result != Z_BUF_ERROR) break;
  }
  // Input handed out but not used goes back, so In ends right after the compressed data.
  in.SetPosition(size - left - strm.avail_in);
  const size_t kept = std::min(written, kMaxDecompressedSize);
  bytes.resize(std::max(oldSize, pos + kept));
  out.SetPosition(pos + kept);
  if (written > kMaxDecompressedSize) throw EDecompressionLimitError();
  if (result != Z_STREAM_END) CheckZlib(result == Z_OK ? Z_BUF_ERROR : result);
}

}  // namespace

void DecompressStream(TMemoryStream& in, TMemoryStream& out) {
  InflateInto(in, out, 0);
}

void GZipDecompress(TMemoryStream& in, TMemoryStream& out) {
  const size_t size = in.Size();
  uint8_t* data = in.Memory();
  size_t p = in.Position();
  auto need = [&](size_t n) {
    if (p > size || size - p < n) FailHeader();
  };
  auto skipZeroTerminated = [&] {
    const void* zero = p < size ? std::memchr(data + p, 0, size - p) : nullptr;
    if (!zero) FailHeader();
    p = static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) + 1;
  };

  // ID1, ID2 and CM are not checked: the loader calls this only for gzip-labelled bodies.
  need(kGzipFixedHeader);
  const uint8_t flags = data[p + 3];
  p += kGzipFixedHeader;
  if (flags & kFlagExtra) {
    need(2);
    const size_t extraLength = data[p] | (size_t{data[p + 1]} << 8);
    p += 2;
    need(extraLength);
    p += extraLength;
  }
  if (flags & kFlagName) skipZeroTerminated();
  if (flags & kFlagComment) skipZeroTerminated();
  if (flags & kFlagHeaderCrc) {
    need(2);
    p += 2;
  }
  need(kGzipTrailer);

  // The trailer's last four bytes give the decoded size (modulo 4 GiB): the output is sized
  // from it once instead of growing as it fills.
  const uint8_t* isize = data + size - 4;
  const size_t announced = isize[0] | (size_t{isize[1]} << 8) | (size_t{isize[2]} << 16) |
                           (size_t{isize[3]} << 24);
  // The last two header bytes become a zlib header, so the deflate data decodes as a zlib
  // stream whose (missing) Adler-32 is never looked at.
  data[p - 2] = 0x78;
  data[p - 1] = 0x9C;
  in.SetPosition(p - 2);
  in.SetSize(size - kGzipTrailer);
  InflateInto(in, out, announced);
}

void DeflateDecompress(TMemoryStream& in, TMemoryStream& out) {
  const size_t p = in.Position();
  if (p <= in.Size() && in.Size() - p >= kGzipFixedHeader && in.Memory()[p] == kGzipId1 &&
      in.Memory()[p + 1] == kGzipId2)
    in.SetPosition(p + kGzipFixedHeader);
  DecompressStream(in, out);
}

}  // namespace velm

#include "net/ZLib.h"

#include <zlib.h>

#include <climits>
#include <cstring>
#include <exception>
#include <memory>

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

// Input and output of one inflateBack run. The input is the memory stream's own buffer.
struct TInflateContext {
  uint8_t* next = nullptr;  // start of the input not yet handed to zlib
  size_t left = 0;          // bytes from there to the end of the input
  TMemoryStream* out = nullptr;
  size_t written = 0;  // bytes this run has put into out
  std::exception_ptr outError;
};

unsigned TakeInput(void* desc, z_const unsigned char** buf) {
  auto* c = static_cast<TInflateContext*>(desc);
  const size_t n = c->left < kMaxPiece ? c->left : kMaxPiece;
  *buf = c->next;
  c->next += n;
  c->left -= n;
  return static_cast<unsigned>(n);
}

int PutOutput(void* desc, unsigned char* buf, unsigned len) {
  auto* c = static_cast<TInflateContext*>(desc);
  try {
    if (len > kMaxDecompressedSize - c->written) throw EDecompressionLimitError();
    c->out->Write(buf, len);
    c->written += len;
    return 0;
  } catch (...) {
    // Never let an exception unwind through zlib; it is raised again once zlib has returned.
    c->outError = std::current_exception();
    return 1;
  }
}

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

void DecompressStream(TMemoryStream& in, TMemoryStream& out) {
  const size_t size = in.Size();
  const size_t start = in.Position() < size ? in.Position() : size;
  in.SetPosition(size);

  TInflateContext context;
  context.out = &out;
  context.next = size ? in.Memory() + start : nullptr;
  context.left = size - start;
  const size_t header = ZlibHeaderLength(context.next, context.left);
  context.next += header;
  context.left -= header;

  auto window = std::make_unique_for_overwrite<uint8_t[]>(kWindowSize);
  z_stream strm{};
  CheckZlib(inflateBackInit(&strm, kWindowBits, window.get()));
  strm.next_in = nullptr;
  strm.avail_in = 0;
  const int result = inflateBack(&strm, TakeInput, &context, PutOutput, &context);
  // Input handed out but not used goes back, so In ends right after the compressed data.
  in.SetPosition(size - context.left - strm.avail_in);
  inflateBackEnd(&strm);
  if (context.outError) std::rethrow_exception(context.outError);
  CheckZlib(result);
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

  // The last two header bytes become a zlib header, so the deflate data decodes as a zlib
  // stream whose (missing) Adler-32 is never looked at.
  data[p - 2] = 0x78;
  data[p - 1] = 0x9C;
  in.SetPosition(p - 2);
  in.SetSize(size - kGzipTrailer);
  DecompressStream(in, out);
}

void DeflateDecompress(TMemoryStream& in, TMemoryStream& out) {
  const size_t p = in.Position();
  if (p <= in.Size() && in.Size() - p >= kGzipFixedHeader && in.Memory()[p] == kGzipId1 &&
      in.Memory()[p + 1] == kGzipId2)
    in.SetPosition(p + kGzipFixedHeader);
  DecompressStream(in, out);
}

}  // namespace velm

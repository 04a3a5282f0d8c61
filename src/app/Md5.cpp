#include "app/Md5.h"

#include <algorithm>
#include <cstring>

namespace velm {
namespace {

class TMD5Context {
 public:
  void Update(const uint8_t* data, size_t size) {
    size_t used = static_cast<size_t>(fLength % 64);
    fLength += size;
    if (used) {
      size_t take = std::min(size, 64 - used);
      std::memcpy(fBuffer + used, data, take);
      data += take;
      size -= take;
      if (used + take < 64) return;
      Transform(fBuffer);
    }
    for (; size >= 64; data += 64, size -= 64) Transform(data);
    std::memcpy(fBuffer, data, size);
  }

  TMD5Digest Final() {
    uint64_t bits = fLength * 8;
    static const uint8_t kPad[64] = {0x80};
    size_t used = static_cast<size_t>(fLength % 64);
    Update(kPad, used < 56 ? 56 - used : 120 - used);
    uint8_t len[8];
    for (int i = 0; i < 8; ++i) len[i] = static_cast<uint8_t>(bits >> (8 * i));
    Update(len, 8);
    TMD5Digest out;
    for (int i = 0; i < 4; ++i)
      for (int k = 0; k < 4; ++k) out[i * 4 + k] = static_cast<uint8_t>(fState[i] >> (8 * k));
    return out;
  }

 private:
  static uint32_t Rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

  void Transform(const uint8_t* block) {
    static const uint32_t K[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
        0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
        0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
        0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
        0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
        0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
        0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
        0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
        0xeb86d391};
    static const int S[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                              5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                              4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                              6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    uint32_t M[16];
    for (int i = 0; i < 16; ++i)
      M[i] = block[i * 4] | (block[i * 4 + 1] << 8) | (block[i * 4 + 2] << 16) |
             (static_cast<uint32_t>(block[i * 4 + 3]) << 24);
    uint32_t a = fState[0], b = fState[1], c = fState[2], d = fState[3];
    for (int i = 0; i < 64; ++i) {
      uint32_t f;
      int g;
      if (i < 16)
        f = (b & c) | (~b & d), g = i;
      else if (i < 32)
        f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
      else if (i < 48)
        f = b ^ c ^ d, g = (3 * i + 5) % 16;
      else
        f = c ^ (b | ~d), g = (7 * i) % 16;
      uint32_t t = d;
      d = c;
      c = b;
      b = b + Rotl(a + f + K[i] + M[g], S[i]);
      a = t;
    }
    fState[0] += a;
    fState[1] += b;
    fState[2] += c;
    fState[3] += d;
  }

  uint32_t fState[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  uint64_t fLength = 0;
  uint8_t fBuffer[64] = {};
};

}  // namespace

TMD5Digest MD5Buffer(const void* data, size_t size) {
  TMD5Context ctx;
  ctx.Update(static_cast<const uint8_t*>(data), size);
  return ctx.Final();
}

TMD5Digest MD5Stream(TMemoryStream& stream) {
  const size_t saved = stream.Position();
  stream.SetPosition(0);
  TMD5Context ctx;
  uint8_t block[4096];
  for (size_t n; (n = stream.Read(block, sizeof block)) > 0;) ctx.Update(block, n);
  stream.SetPosition(saved);
  return ctx.Final();
}

std::string MD5DigestToHex(const TMD5Digest& digest) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string r;
  for (uint8_t b : digest) {
    r.push_back(kHex[b >> 4]);
    r.push_back(kHex[b & 15]);
  }
  return r;
}

bool MD5Equal(const TMD5Digest& a, const TMD5Digest& b) {
  return a == b;
}

TMD5Digest MakeDigest(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  TMD5Digest r;
  const uint32_t words[4] = {a, b, c, d};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) r[i * 4 + k] = static_cast<uint8_t>(words[i] >> (8 * k));
  return r;
}

}  // namespace velm

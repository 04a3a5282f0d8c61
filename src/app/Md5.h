// MD5 (RFC 1321) for the plug-in digests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/MemoryStream.h"

namespace velm {

using TMD5Digest = std::array<uint8_t, 16>;

TMD5Digest MD5Buffer(const void* data, size_t size);
// The digest of the stream's whole content, read from its start in 4096-byte blocks; the
// stream's position is restored afterwards.
TMD5Digest MD5Stream(TMemoryStream& stream);
// 32 upper-case hexadecimal characters, first byte first.
std::string MD5DigestToHex(const TMD5Digest& digest);
bool MD5Equal(const TMD5Digest& a, const TMD5Digest& b);
// The digest whose 32-bit words, in memory order (little-endian), are a, b, c, d.
TMD5Digest MakeDigest(uint32_t a, uint32_t b, uint32_t c, uint32_t d);

}  // namespace velm

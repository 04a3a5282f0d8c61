// A gzip member of many zero bytes, compressed a piece at a time: a bomb of a few kilobytes.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

namespace velm::test {

inline std::string GzipOfZeros(size_t size) {
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY), Z_OK);
  const std::string zeros(1 << 20, '\0');
  std::string out;
  char buf[65536];
  for (size_t left = size;;) {
    const size_t piece = left < zeros.size() ? left : zeros.size();
    left -= piece;
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    s.avail_in = static_cast<uInt>(piece);
    const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    int result;
    do {
      s.next_out = reinterpret_cast<Bytef*>(buf);
      s.avail_out = sizeof buf;
      result = deflate(&s, flush);
      out.append(buf, sizeof buf - s.avail_out);
    } while (s.avail_out == 0);
    if (result == Z_STREAM_END) break;
  }
  deflateEnd(&s);
  return out;
}

}  // namespace velm::test

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>

#include "net/ZLib.h"
#include "support/GzipBomb.h"
#include "support/TestFolder.h"

using namespace velm;

namespace {

std::string Fixture(const std::string& name) {
  const std::string bytes =
      test::ReadWholeFile(std::string(VELM_FIXTURES_DIR) + "/inflate/" + name);
  EXPECT_FALSE(bytes.empty()) << "missing fixture " << name;
  return bytes;
}

using TDecoder = void (*)(TMemoryStream&, TMemoryStream&);

std::string Decode(TDecoder decoder, const std::string& body) {
  TMemoryStream in(body), out;
  decoder(in, out);
  return out.ToString();
}

// The error a decoder raises for the body; fails the test when it raises none.
EDecompressionError DecodeError(TDecoder decoder, const std::string& body) {
  try {
    Decode(decoder, body);
  } catch (const EDecompressionError& e) {
    return e;
  }
  ADD_FAILURE() << "no EDecompressionError";
  return EDecompressionError(Z_OK);
}

// Compresses with zlib: windowBits 31 gives a gzip member, 15 a zlib stream, -15 raw deflate.
std::string Compress(const std::string& data, int windowBits) {
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&s, data.size()) + 32, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

}  // namespace

TEST(ZLib, GzipMembersDecodeWithAnyHeaderFields) {
  const std::string data = Fixture("data.bin");
  for (const char* name : {"plain.gz", "fname.gz", "fextra.gz", "fcomment.gz", "fhcrc.gz",
                           "allfields.gz", "badcrc.gz", "trailing.gz"})
    EXPECT_EQ(Decode(GZipDecompress, Fixture(name)), data) << name;
}

TEST(ZLib, GzipInputIsRewrittenInPlace) {
  const std::string body = Fixture("plain.gz");
  TMemoryStream in(body), out;
  GZipDecompress(in, out);
  EXPECT_EQ(in.Size(), body.size() - 8);                       // the trailer is cut off
  EXPECT_EQ(in.View().substr(8, 2), std::string("\x78\x9C"));  // zlib header over XFL, OS
  EXPECT_EQ(in.Position(), in.Size());  // the deflate data runs right up to the trailer
}

TEST(ZLib, ZlibAndRawDeflateDecodeAlikeAndStopAfterTheirData) {
  const std::string data = Fixture("data.bin");
  const std::string trailing = "TRAILING";
  struct TCase {
    const char* name;
    size_t unread;  // bytes of the fixture after the compressed data
  } cases[] = {{"data.zlib", 4 /* Adler-32, not read */}, {"data.deflate", 0}};
  for (const auto& c : cases) {
    const std::string body = Fixture(c.name);
    TMemoryStream in(body + trailing), out;
    DecompressStream(in, out);
    EXPECT_EQ(out.ToString(), data) << c.name;
    EXPECT_EQ(in.Position(), body.size() - c.unread) << c.name;
  }
}

TEST(ZLib, DecodeStartsAtThePositionsOfBothStreams) {
  const std::string data = Fixture("data.bin");
  TMemoryStream in("skip" + Fixture("data.deflate")), out("PREFIX");
  in.SetPosition(4);
  out.SetPosition(out.Size());
  DecompressStream(in, out);
  EXPECT_EQ(out.ToString(), "PREFIX" + data);
}

TEST(ZLib, DeflateBodiesWithAndWithoutTheTenByteHeader) {
  const std::string data = Fixture("data.bin");
  // The site's form: the fixed gzip header bytes, then raw deflate (its trailer is ignored).
  EXPECT_EQ(Decode(DeflateDecompress, Fixture("plain.gz")), data);
  // What other servers label "deflate": a zlib stream, or raw deflate data.
  EXPECT_EQ(Decode(DeflateDecompress, Fixture("data.zlib")), data);
  EXPECT_EQ(Decode(DeflateDecompress, Fixture("data.deflate")), data);
}

TEST(ZLib, BadBodiesRaiseWithZlibText) {
  std::string corrupt = Fixture("data.zlib");
  corrupt[2] = static_cast<char>(0xFF);  // reserved block type
  const std::string plain = Fixture("plain.gz");
  struct TCase {
    const char* what;
    TDecoder decoder;
    std::string body;
    int code;
  } cases[] = {
      {"truncated gzip", GZipDecompress, Fixture("truncated.gz"), Z_BUF_ERROR},
      {"truncated deflate", DecompressStream, Fixture("data.deflate").substr(0, 100), Z_BUF_ERROR},
      {"corrupt block", DecompressStream, corrupt, Z_DATA_ERROR},
      {"name without end", GZipDecompress, Fixture("unterminated_name.gz"), Z_DATA_ERROR},
      {"comment without end", GZipDecompress, Fixture("unterminated_comment.gz"), Z_DATA_ERROR},
      {"no room for trailer", GZipDecompress, Fixture("short.gz"), Z_DATA_ERROR},
      {"fixed header only", GZipDecompress, plain.substr(0, 10), Z_DATA_ERROR},
      {"five bytes", GZipDecompress, plain.substr(0, 5), Z_DATA_ERROR},
      {"extra field past end", GZipDecompress,
       std::string("\x1F\x8B\x08\x04\0\0\0\0\0\x03\xFF\x7F"
                   "abc",
                   15),
       Z_DATA_ERROR},
      {"empty gzip", GZipDecompress, "", Z_DATA_ERROR},
      {"empty deflate", DeflateDecompress, "", Z_BUF_ERROR},
      {"empty stream", DecompressStream, "", Z_BUF_ERROR},
  };
  for (const auto& c : cases) {
    const EDecompressionError e = DecodeError(c.decoder, c.body);
    EXPECT_EQ(e.ErrorCode, c.code) << c.what;
    EXPECT_STREQ(e.what(), zError(c.code)) << c.what;
  }
}

TEST(ZLib, TruncatedBodyKeepsOnlyAPrefixOfTheData) {
  // More than one window of output, so some of it is written before the data runs out.
  std::string data;
  for (int i = 0; data.size() < 200000; ++i) data += std::to_string(i * 7919) + ",";
  const std::string body = Compress(data, 31);
  TMemoryStream in(body.substr(0, body.size() / 2)), out;
  EXPECT_THROW(GZipDecompress(in, out), EDecompressionError);
  EXPECT_GT(out.Size(), 0u);
  EXPECT_EQ(out.ToString(), data.substr(0, out.Size()));
}

TEST(ZLib, CheckZlibPassesNonNegativeResults) {
  EXPECT_EQ(CheckZlib(Z_OK), Z_OK);
  EXPECT_EQ(CheckZlib(Z_STREAM_END), Z_STREAM_END);
  EXPECT_THROW(CheckZlib(Z_MEM_ERROR), EDecompressionError);
  try {
    CheckZlib(Z_STREAM_ERROR);
    ADD_FAILURE() << "no error raised";
  } catch (const EZlibError& e) {
    EXPECT_EQ(e.ErrorCode, Z_STREAM_ERROR);
    EXPECT_STREQ(e.what(), "stream error");
  }
}

TEST(ZLib, LargeGzipRoundTripIsByteExact) {
  // 48 MiB of mixed text and noise, compressed here with zlib.
  constexpr size_t kSize = size_t{48} << 20;
  std::string data(kSize, '\0');
  uint32_t seed = 12345;
  for (size_t i = 0; i < kSize; ++i) {
    seed = seed * 1103515245u + 12345u;
    data[i] = (i / 4096) % 3 == 0 ? static_cast<char>(seed >> 24) : "velmara "[i % 8];
  }
  const std::string body = Compress(data, 31);
  ASSERT_LT(body.size(), data.size());
  TMemoryStream in(body), out;
  GZipDecompress(in, out);
  ASSERT_EQ(out.Size(), data.size());
  EXPECT_TRUE(out.View() == data);
}

TEST(ZLib, EveryCutAndSpoiledHeaderByteFailsCleanly) {
  // Run under the sanitizer build: no cut or spoiled byte may make a decoder read out of bounds
  // or raise anything but EDecompressionError.
  const std::string body = Fixture("allfields.gz");
  const std::string data = Fixture("data.bin");
  auto decodeOrFail = [](TDecoder decoder, const std::string& bytes) {
    try {
      return Decode(decoder, bytes);
    } catch (const EDecompressionError&) {
      return std::string("<failed>");
    }
  };
  for (size_t n = 0; n < body.size(); ++n) {
    const std::string cut = body.substr(0, n);
    EXPECT_NE(decodeOrFail(GZipDecompress, cut), data) << n;  // the trailer is cut at least
    decodeOrFail(DeflateDecompress, cut);
    decodeOrFail(DecompressStream, cut);
  }
  for (size_t i = 0; i < 40; ++i) {
    for (char value : {'\0', '\xFF', '\x1E'}) {
      std::string spoiled = body;
      spoiled[i] = value;
      decodeOrFail(GZipDecompress, spoiled);
      decodeOrFail(DeflateDecompress, spoiled);
    }
  }
}

TEST(ZLib, OutputLimitStopsABombAndPassesABodyOfExactlyTheLimit) {
  {
    const std::string body = test::GzipOfZeros(kMaxDecompressedSize);
    TMemoryStream in(body), out;
    GZipDecompress(in, out);
    EXPECT_EQ(out.Size(), kMaxDecompressedSize);
  }
  for (size_t size : {kMaxDecompressedSize + 1, kMaxDecompressedSize * 4}) {
    const std::string bomb = test::GzipOfZeros(size);
    ASSERT_LT(bomb.size(), size_t{300} << 10);
    for (TDecoder decoder : {&GZipDecompress, &DeflateDecompress}) {
      TMemoryStream in(bomb), out;
      try {
        decoder(in, out);
        ADD_FAILURE() << "no limit error for " << size;
      } catch (const EDecompressionLimitError& e) {
        EXPECT_EQ(e.ErrorCode, Z_BUF_ERROR);
        EXPECT_NE(std::string(e.what()).find(std::to_string(kMaxDecompressedSize)),
                  std::string::npos);
      }
      EXPECT_LE(out.Size(), kMaxDecompressedSize);
    }
  }
}

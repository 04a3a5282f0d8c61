// GZipDecompress of a large gzip body next to a plain zlib inflate loop into a buffer that is
// allocated once, in the same binary on the same bytes.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/ZLib.h"
#include "platform/MemoryStream.h"

using namespace velm;

namespace {

constexpr size_t kBodySize = size_t{64} << 20;

// What the loader meets in practice: file-list text, with stretches of pictures that hardly
// compress in between.
std::string Body() {
  std::string s;
  s.reserve(kBodySize);
  std::mt19937 random(7);
  for (int i = 0; s.size() < kBodySize; ++i) {
    if (i % 8 == 7) {
      for (int k = 0; k < 4096; ++k) s += static_cast<char>(random() & 0xFF);
    } else {
      s += "images/items/weapon" + std::to_string(random() % 20000) + ".gif\t2010.05.06 12-30-" +
           std::to_string(random() % 60) + "\n";
    }
  }
  s.resize(kBodySize);
  return s;
}

std::string Gzip(const std::string& body) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&z, body.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  z.avail_in = static_cast<uInt>(body.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

const std::string& Packed() {
  static const std::string packed = Gzip(Body());
  return packed;
}

// GZipDecompress rewrites its input, so each round starts from a fresh copy; the copy is not
// timed.
void BM_GZipDecompress(benchmark::State& state) {
  const std::string& packed = Packed();
  TMemoryStream in;
  for (auto _ : state) {
    state.PauseTiming();
    in.Clear();
    in.Write(packed);
    in.SetPosition(0);
    state.ResumeTiming();
    TMemoryStream out;
    GZipDecompress(in, out);
    if (out.Size() != kBodySize) state.SkipWithError("wrong size");
    benchmark::DoNotOptimize(out.Memory());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBodySize));
  state.counters["packed_MiB"] = double(packed.size()) / (1 << 20);
}
BENCHMARK(BM_GZipDecompress)->Unit(benchmark::kMillisecond)->UseRealTime();

// zlib's own gzip reader into an output buffer sized once for the whole body.
void BM_ZlibInflatePreallocated(benchmark::State& state) {
  const std::string& packed = Packed();
  std::vector<uint8_t> out(kBodySize);
  for (auto _ : state) {
    z_stream z{};
    if (inflateInit2(&z, 15 + 16) != Z_OK) state.SkipWithError("inflateInit2");
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&z, Z_FINISH);
    if (rc != Z_STREAM_END || z.total_out != kBodySize) state.SkipWithError("inflate");
    inflateEnd(&z);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBodySize));
}
BENCHMARK(BM_ZlibInflatePreallocated)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same decoder with the output stream sized up front: what the growth of the output costs.
void BM_GZipDecompressReservedOut(benchmark::State& state) {
  const std::string& packed = Packed();
  TMemoryStream in;
  for (auto _ : state) {
    state.PauseTiming();
    in.Clear();
    in.Write(packed);
    in.SetPosition(0);
    state.ResumeTiming();
    TMemoryStream out;
    out.Bytes().reserve(kBodySize);
    GZipDecompress(in, out);
    if (out.Size() != kBodySize) state.SkipWithError("wrong size");
    benchmark::DoNotOptimize(out.Memory());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBodySize));
}
BENCHMARK(BM_GZipDecompressReservedOut)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same decoder into an output stream kept from round to round, as the peer keeps its
// buffer: what is left is the decoder itself (window copy-out, zero-filled growth).
void BM_GZipDecompressReusedOut(benchmark::State& state) {
  const std::string& packed = Packed();
  TMemoryStream in, out;
  for (auto _ : state) {
    state.PauseTiming();
    in.Clear();
    in.Write(packed);
    in.SetPosition(0);
    out.Clear();
    state.ResumeTiming();
    GZipDecompress(in, out);
    if (out.Size() != kBodySize) state.SkipWithError("wrong size");
    benchmark::DoNotOptimize(out.Memory());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBodySize));
}
BENCHMARK(BM_GZipDecompressReusedOut)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

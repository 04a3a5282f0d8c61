// HTTP dates, URL coding, inflate and file-list lines next to the C library, libcurl and zlib
// doing the same work.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "net/URLCoding.h"
#include "net/ZLib.h"
#include "proxy/DateTimeStamp.h"
#include "update/UpdatePackage.h"

using namespace velm;

namespace {

const char kHeaderDate[] = "Sun, 06 Nov 1994 08:49:37 GMT";

struct TZoneSetter {
  TZoneSetter() {
    setenv("TZ", "<+03>-3", 1);
    tzset();
  }
} zoneSetter;

// A game path with blanks, Cyrillic bytes and reserved characters.
const std::string kPath = "/images/items/\xEC\xE5\xF7 \xE1\xEE\xE3\xE0\xF2\xFB\xF0\xFF/sword+1 [gold].gif?x=1&y=2";

std::string Text(size_t size) {
  std::string s;
  for (int i = 0; s.size() < size; ++i)
    s += "images/items/weapon" + std::to_string(i % 977) + ".gif\t2010.05.06 12-30-45\n";
  s.resize(size);
  return s;
}

std::string Gzip(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

void ParseHttpDate_Velm(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ParseHttpDate(kHeaderDate));
}
BENCHMARK(ParseHttpDate_Velm);

// Peer: strptime of the RFC 1123 form, timegm, then the local wall-clock value.
void ParseHttpDate_Strptime(benchmark::State& state) {
  for (auto _ : state) {
    struct tm tm {};
    strptime(kHeaderDate, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    time_t t = timegm(&tm);
    struct tm local {};
    localtime_r(&t, &local);
    benchmark::DoNotOptimize(local);
  }
}
BENCHMARK(ParseHttpDate_Strptime);

void FormatHttpDate_Velm(benchmark::State& state) {
  const TDateTime value = EncodeDateTime(2011, 2, 5, 13, 20, 30);
  for (auto _ : state) benchmark::DoNotOptimize(FormatHttpDate(value));
}
BENCHMARK(FormatHttpDate_Velm);

void FormatHttpDate_Strftime(benchmark::State& state) {
  const time_t t = 1296901230;
  for (auto _ : state) {
    struct tm tm {};
    localtime_r(&t, &tm);
    char buf[64];
    size_t n = strftime(buf, sizeof buf, "%a, %e %b %Y %H:%M:%S %z", &tm);
    benchmark::DoNotOptimize(std::string(buf, n));
  }
}
BENCHMARK(FormatHttpDate_Strftime);

void EncodeURL_Velm(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(EncodeURL(kPath));
  state.SetBytesProcessed(state.iterations() * kPath.size());
}
BENCHMARK(EncodeURL_Velm);

void EncodeURL_Curl(benchmark::State& state) {
  CURL* curl = curl_easy_init();
  for (auto _ : state) {
    char* s = curl_easy_escape(curl, kPath.data(), static_cast<int>(kPath.size()));
    benchmark::DoNotOptimize(std::string(s));
    curl_free(s);
  }
  curl_easy_cleanup(curl);
  state.SetBytesProcessed(state.iterations() * kPath.size());
}
BENCHMARK(EncodeURL_Curl);

void DecodeURL_Velm(benchmark::State& state) {
  const std::string encoded = EncodeURL(kPath);
  for (auto _ : state) benchmark::DoNotOptimize(DecodeURL(encoded));
  state.SetBytesProcessed(state.iterations() * encoded.size());
}
BENCHMARK(DecodeURL_Velm);

void DecodeURL_Curl(benchmark::State& state) {
  CURL* curl = curl_easy_init();
  const std::string encoded = EncodeURL(kPath);
  for (auto _ : state) {
    int n = 0;
    char* s = curl_easy_unescape(curl, encoded.data(), static_cast<int>(encoded.size()), &n);
    benchmark::DoNotOptimize(std::string(s, n));
    curl_free(s);
  }
  curl_easy_cleanup(curl);
  state.SetBytesProcessed(state.iterations() * encoded.size());
}
BENCHMARK(DecodeURL_Curl);

// Both sides copy the body first: GZipDecompress rewrites its input in place.
void GZipDecompress_Velm(benchmark::State& state) {
  const std::string data = Text(4 << 20), body = Gzip(data);
  for (auto _ : state) {
    TMemoryStream in(body), out;
    GZipDecompress(in, out);
    benchmark::DoNotOptimize(out.Memory());
  }
  state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(GZipDecompress_Velm)->Unit(benchmark::kMillisecond);

// Peer: zlib's own gzip decoding (inflate with window bits 31) into a growing buffer.
void GZipDecompress_ZlibInflate(benchmark::State& state) {
  const std::string data = Text(4 << 20), body = Gzip(data);
  for (auto _ : state) {
    TMemoryStream in(body);
    std::string out;
    z_stream z{};
    inflateInit2(&z, 31);
    z.next_in = in.Memory();
    z.avail_in = static_cast<uInt>(in.Size());
    int r = Z_OK;
    while (r == Z_OK) {
      const size_t used = out.size();
      out.resize(used + 65536);
      z.next_out = reinterpret_cast<Bytef*>(out.data() + used);
      z.avail_out = 65536;
      r = inflate(&z, Z_NO_FLUSH);
      out.resize(used + 65536 - z.avail_out);
    }
    inflateEnd(&z);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * data.size());
}
BENCHMARK(GZipDecompress_ZlibInflate)->Unit(benchmark::kMillisecond);

const char kListLine[] = "images/items/weapon123.gif\t2010.05.06 12-30-45";

void ParseFileListLine_Velm(benchmark::State& state) {
  std::string name;
  TDateTime date;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ParseFileListLine(kListLine, name, date));
    benchmark::DoNotOptimize(date);
  }
}
BENCHMARK(ParseFileListLine_Velm);

void ParseFileListLine_Sscanf(benchmark::State& state) {
  std::string name;
  for (auto _ : state) {
    char buf[256];
    int y, mo, d, h, mi, s;
    int n = std::sscanf(kListLine, "%255[^\t]\t%d.%d.%d %d-%d-%d", buf, &y, &mo, &d, &h, &mi, &s);
    name.assign(buf);
    TDateTime date;
    if (n == 7 && TryEncodeDate(y, mo, d, date)) benchmark::DoNotOptimize(date);
  }
}
BENCHMARK(ParseFileListLine_Sscanf);

}  // namespace

// HTTP GET of one resource from the site into a memory stream, a string or a file. One loader
// keeps one HTTP client (and so one kept-alive connection) for its whole life; it asks for and
// undoes gzip/deflate content encoding itself. A loader serves one request at a time and takes no
// lock: callers sharing one across threads serialise their calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/MemoryStream.h"

namespace velm {

// A request ends when no byte has moved for this long.
inline constexpr int kDataLoaderTimeoutMs = 90000;
// The User-Agent line of every request.
inline constexpr const char* kDataLoaderUserAgent = "Mozilla/4.0 (compatible; VelmC2)";

class TDataLoader {
 public:
  // Copies the connection settings once: later changes do not reach this loader.
  explicit TDataLoader(int timeoutMs = kDataLoaderTimeoutMs);
  ~TDataLoader();
  TDataLoader(const TDataLoader&) = delete;
  TDataLoader& operator=(const TDataLoader&) = delete;

  // GET of url (percent-encoded here; pass it unencoded). True for any answer below 400, with
  // body a new stream at position 0 holding the decoded body; false leaves body as it was. A
  // gzip/deflate body that does not decode raises EDecompressionError.
  bool Get(const std::string& url, std::unique_ptr<TMemoryStream>& body, bool acceptCompressed);
  // The decoded body byte for byte; s is left unchanged on failure.
  bool GetString(const std::string& url, std::string& s, bool acceptCompressed);
  // The decoded body written to fileName (folders created, under the file lock). Every failure,
  // decoding and writing included, gives false.
  bool GetToFile(const std::string& url, const std::string& fileName, bool acceptCompressed);

  // Length of the last body Get delivered, after decoding.
  int32_t Size = 0;

  // The last answer: status code (0 when none came) and raw header lines.
  int ResultCode() const;
  const std::vector<std::string>& ResponseHeaders() const;

  struct THttpClient;

 private:
  std::unique_ptr<THttpClient> HTTP;
};

// The content encoding named by raw response header lines, in upper case: the text after the
// first blank of the first line that begins with "CONTENT-ENCODING" (letter case ignored),
// trimmed; the whole line when it has no blank; empty when no line names one.
std::string FindContentEncoding(const std::vector<std::string>& headerLines);

}  // namespace velm

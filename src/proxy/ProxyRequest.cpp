// Reading one browser request: the request line, the header lines (PROXY- headers kept apart),
// the keep-alive wish, the body length and If-Modified-Since, and the target sent upstream.
#include <string>

#include "net/URLCoding.h"
#include "platform/Encoding.h"
#include "proxy/DateTimeStamp.h"
#include "proxy/HttpProxyThread.h"

namespace velm {
namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

// The part before the first space; text keeps what follows it (nothing when there is no space).
std::string SplitAtSpace(std::string& text) {
  size_t p = text.find(' ');
  std::string head = text.substr(0, p);
  text = p == std::string::npos ? std::string() : text.substr(p + 1);
  return head;
}

std::string AfterFirstSpace(const std::string& line) {
  size_t p = line.find(' ');
  return p == std::string::npos ? std::string() : line.substr(p + 1);
}

bool IsValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = s[i];
    int extra;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      unsigned char cc = s[i + k];
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

// A path the browser sent in UTF-8 percent-encoding goes upstream in the client's code page.
std::string NormalisePath(const std::string& path) {
  std::string decoded = DecodeURL(path);
  if (decoded.empty() || !IsValidUtf8(decoded)) return path;
  std::string ansi = Utf8ToCp1251(decoded);
  // A character the code page cannot hold would turn into "?", which upstream reads as the start
  // of a query: such a path goes on as it came.
  if (Cp1251ToUtf8(ansi) != decoded) return path;
  return EncodeURL(ansi);
}

}  // namespace

bool THttpProxyThread::ProcessRequest() {
  headers.clear();
  proxyHeaders.clear();
  keepAlive = false;
  ifModifiedSince = 0;

  std::string line;
  do {
    line = sock->RecvString(timeout);
    if (sock->LastError() != 0) return false;
  } while (line.empty());

  std::string rest = line;
  method = Trim(SplitAtSpace(rest));
  uri = Trim(SplitAtSpace(rest));
  commandProtocol = Trim(SplitAtSpace(rest));
  if (method.empty() || uri.empty()) return false;
  contentLength = 0;

  if (!commandProtocol.empty()) {
    if (!commandProtocol.starts_with("HTTP/")) return false;
    size_t count = 0;
    for (;;) {
      line = sock->RecvString(timeout);
      if (sock->LastError() != 0) return false;
      if (line.empty()) break;
      if (++count > kProxyMaxHeaderLines) return false;
      const std::string upper = UpperCase(line);
      if (upper.starts_with("PROXY-"))
        proxyHeaders.push_back(line);
      else
        headers.push_back(line);
      if (upper.starts_with("CONTENT-LENGTH:"))
        contentLength = StrToInt64Def(AfterFirstSpace(line), 0);
      else if (upper.starts_with("PROXY-CONNECTION:") && upper.find("KEEP") != std::string::npos)
        keepAlive = true;
      else if (upper.starts_with("IF-MODIFIED-SINCE:"))
        ifModifiedSince = ParseHttpDate(AfterFirstSpace(line));
    }
  }
  headers.push_back(keepAlive ? "Connection: keep-alive" : "Connection: close");

  ParseURL(uri, prot, host, port, path, para);
  path = NormalisePath(path);

  transport = TransportSettings();
  std::string target = path;
  if (!para.empty()) target += "?" + para;
  if (transport.UseProxy) target = prot + "://" + host + ":" + port + target;
  headers.insert(headers.begin(), method + " " + target + " " + commandProtocol);
  return true;
}

}  // namespace velm

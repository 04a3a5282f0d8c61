#include "net/DataLoader.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <exception>
#include <mutex>
#include <new>

#include "app/Debug.h"
#include "net/Transport.h"
#include "net/URLCoding.h"
#include "net/ZLib.h"
#include "platform/Encoding.h"
#include "update/FileIO.h"

namespace velm {

// One libcurl easy handle, kept for the loader's life so its kept-alive connection is reused
// from one request to the next. libcurl only moves bytes here: it never decodes a body, never
// follows a redirect and never takes a proxy from the environment.
struct TDataLoader::THttpClient {
  using TClock = std::chrono::steady_clock;

  CURL* Curl = nullptr;
  curl_slist* RequestHeaders = nullptr;
  std::string Proxy, ProxyUser, ProxyPass;
  int TimeoutMs = kDataLoaderTimeoutMs;

  int ResultCode = 0;
  std::vector<std::string> Headers;  // the answer's header lines, without the status line
  TMemoryStream Document;

  curl_off_t LastDown = 0, LastUp = 0;
  TClock::time_point LastActivity;

  THttpClient() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    Curl = curl_easy_init();
  }
  ~THttpClient() {
    if (Curl) curl_easy_cleanup(Curl);
    curl_slist_free_all(RequestHeaders);
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    static_cast<THttpClient*>(self)->Document.Write(data, size * count);
    return size * count;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* client = static_cast<THttpClient*>(self);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    // A new status line starts the header block of another answer (an interim one was before).
    if (line.rfind("HTTP/", 0) == 0)
      client->Headers.clear();
    else if (!line.empty())
      client->Headers.push_back(line);
    return size * count;
  }

  // The inactivity limit: any byte moving either way restarts the clock.
  static int OnProgress(void* self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto* client = static_cast<THttpClient*>(self);
    TClock::time_point now = TClock::now();
    if (down != client->LastDown || up != client->LastUp) {
      client->LastDown = down;
      client->LastUp = up;
      client->LastActivity = now;
      return 0;
    }
    auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(now - client->LastActivity);
    return idle.count() > client->TimeoutMs ? 1 : 0;
  }

  void Clear() {
    curl_slist_free_all(RequestHeaders);
    RequestHeaders = nullptr;
    Headers.clear();
    Document.Clear();
    ResultCode = 0;
  }

  void AddHeader(const std::string& line) {
    curl_slist* grown = curl_slist_append(RequestHeaders, line.c_str());
    if (!grown) throw std::bad_alloc();
    RequestHeaders = grown;
  }

  // The request itself; false when no complete answer came.
  bool Request(const std::string& url) {
    if (!Curl) return false;
    AddHeader("Connection: keep-alive");
    curl_easy_reset(Curl);  // keeps the connection cache of the handle
    curl_easy_setopt(Curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(Curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(Curl, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(Curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(Curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(Curl, CURLOPT_USERAGENT, kDataLoaderUserAgent);
    curl_easy_setopt(Curl, CURLOPT_HTTPHEADER, RequestHeaders);
    curl_easy_setopt(Curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(Curl, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(Curl, CURLOPT_HTTP_TRANSFER_DECODING, 1L);
    curl_easy_setopt(Curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // An empty proxy text makes libcurl ignore http_proxy and its kin.
    curl_easy_setopt(Curl, CURLOPT_PROXY, Proxy.c_str());
    if (!Proxy.empty()) {
      curl_easy_setopt(Curl, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
      if (!ProxyUser.empty()) {
        curl_easy_setopt(Curl, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(Curl, CURLOPT_PROXYUSERNAME, ProxyUser.c_str());
        curl_easy_setopt(Curl, CURLOPT_PROXYPASSWORD, ProxyPass.c_str());
      }
    }
    curl_easy_setopt(Curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(TimeoutMs));
    curl_easy_setopt(Curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(Curl, CURLOPT_XFERINFOFUNCTION, &THttpClient::OnProgress);
    curl_easy_setopt(Curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(Curl, CURLOPT_WRITEFUNCTION, &THttpClient::OnBody);
    curl_easy_setopt(Curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(Curl, CURLOPT_HEADERFUNCTION, &THttpClient::OnHeader);
    curl_easy_setopt(Curl, CURLOPT_HEADERDATA, this);
    LastDown = LastUp = 0;
    LastActivity = TClock::now();
    CURLcode rc = curl_easy_perform(Curl);
    long code = 0;
    curl_easy_getinfo(Curl, CURLINFO_RESPONSE_CODE, &code);
    ResultCode = static_cast<int>(code);
    Document.SetPosition(0);
    return rc == CURLE_OK && code > 0;
  }
};

std::string FindContentEncoding(const std::vector<std::string>& headerLines) {
  static constexpr std::string_view kName = "CONTENT-ENCODING";
  for (const std::string& line : headerLines) {
    std::string upper = UpperCase(line);
    if (upper.compare(0, kName.size(), kName) != 0) continue;
    size_t blank = upper.find(' ');
    if (blank == std::string::npos) return upper;
    size_t b = upper.find_first_not_of(" \t", blank);
    if (b == std::string::npos) return {};
    size_t e = upper.find_last_not_of(" \t");
    return upper.substr(b, e - b + 1);
  }
  return {};
}

TDataLoader::TDataLoader(int timeoutMs) : HTTP(std::make_unique<THttpClient>()) {
  HTTP->TimeoutMs = timeoutMs;
  const TTransportSettings settings = TransportSettings();
  // A proxy without an address means a direct connection, as for the client object we replace.
  if (settings.UseProxy && !settings.ProxyAddress.empty()) {
    HTTP->Proxy = "http://" + settings.ProxyAddress + ":" + std::to_string(settings.ProxyPort);
    if (settings.UseProxyAuth) {
      HTTP->ProxyUser = settings.ProxyUserName;
      HTTP->ProxyPass = settings.ProxyPassword;
    }
  }
}

TDataLoader::~TDataLoader() = default;

int TDataLoader::ResultCode() const {
  return HTTP->ResultCode;
}

const std::vector<std::string>& TDataLoader::ResponseHeaders() const {
  return HTTP->Headers;
}

bool TDataLoader::Get(const std::string& url, std::unique_ptr<TMemoryStream>& body,
                      bool acceptCompressed) {
  const std::string encoded = EncodeURL(url);
  bool ok = false;
  try {
    HTTP->Clear();
    if (acceptCompressed) HTTP->AddHeader("Accept-Encoding: gzip, deflate");
    ok = HTTP->Request(encoded);
  } catch (const std::exception&) {
    ok = false;
  }
  if (HTTP->ResultCode >= 400) {
    ok = false;
    if (Debug)
      Debug->LogError("HTTP error " + std::to_string(HTTP->ResultCode) + " - " + encoded, true);
  }
  if (!ok) return false;

  const std::string encoding = FindContentEncoding(HTTP->Headers);
  auto decoded = std::make_unique<TMemoryStream>();
  HTTP->Document.SetPosition(0);
  try {
    if (encoding == "GZIP") {
      GZipDecompress(HTTP->Document, *decoded);
    } else if (encoding == "DEFLATE") {
      DeflateDecompress(HTTP->Document, *decoded);
    } else {
      std::swap(*decoded, HTTP->Document);
    }
  } catch (const EDecompressionLimitError& e) {
    // A body that unpacks beyond any real one is refused, not kept in memory half decoded.
    if (Debug) Debug->LogError(std::string("Body refused, ") + e.what() + " - " + encoded);
    return false;
  }
  decoded->SetPosition(0);
  Size = static_cast<int32_t>(std::min<size_t>(decoded->Size(), INT32_MAX));
  body = std::move(decoded);
  return true;
}

bool TDataLoader::GetString(const std::string& url, std::string& s, bool acceptCompressed) {
  std::unique_ptr<TMemoryStream> body;
  if (!Get(url, body, acceptCompressed)) return false;
  s = body->ToString();
  return true;
}

bool TDataLoader::GetToFile(const std::string& url, const std::string& fileName,
                            bool acceptCompressed) {
  try {
    std::unique_ptr<TMemoryStream> body;
    if (!Get(url, body, acceptCompressed)) return false;
    SaveStreamToFile(*body, fileName);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace velm

// Answers from the local folder: the file of the request path with a 200 or 304 head, or, when
// it is missing (or a versioned file is due for a refresh), fetched through the relay and kept.

#include <cmath>
#include <memory>
#include <string>

#include "net/URLCoding.h"
#include "platform/DateTime.h"
#include "platform/Encoding.h"
#include "proxy/DateTimeStamp.h"
#include "proxy/HttpProxyThread.h"
#include "update/FileIO.h"
#include "update/SingleFileUpdate.h"
#include "update/UpdatePackage.h"

namespace velm {
namespace {

// Dates within this distance of If-Modified-Since count as the browser's own copy.
constexpr double kNotModifiedTolerance = 2.0 / 86400.0;
// Bodies from this size on are sent from the page cache; smaller ones are read and sent whole.
constexpr size_t kSendFileFrom = 64 * 1024;

std::string ContentTypeLine(const std::string& fileName) {
  std::string name = fileName.substr(fileName.find_last_of('/') + 1);
  size_t dot = name.find_last_of('.');
  std::string ext = dot == std::string::npos ? std::string() : LowerCase(name.substr(dot));
  if (ext == ".jpg" || ext == ".jpeg") return "Content-Type: image/jpeg";
  if (ext == ".gif") return "Content-Type: image/gif";
  if (ext == ".swf") return "Content-Type: application/x-shockwave-flash";
  return {};
}

}  // namespace

std::string THttpProxyThread::LocalFileName() const {
  std::string decoded = DecodeURL(path);
  // Control bytes (a decoded NUL above all) would name another file than the one asked for.
  for (char c : decoded)
    if (static_cast<unsigned char>(c) < 32) return {};
  // Resolve the path by its segments; one that climbs above the root is not ours to answer.
  std::string relative;
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= decoded.size()) {
    size_t end = decoded.find('/', start);
    if (end == std::string::npos) end = decoded.size();
    std::string segment = decoded.substr(start, end - start);
    if (segment == "..") {
      if (segments.empty()) return {};
      segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  if (segments.empty() || rootFolder.empty()) return {};
  std::string name = rootFolder;
  if (name.empty() || name.back() != '/') name += '/';
  for (size_t i = 0; i < segments.size(); ++i) {
    if (i > 0) name += '/';
    name += segments[i];
  }
  return name;
}

void THttpProxyThread::MakeFileAnswerHead(const std::string& fileName, size_t size,
                                          TDateTime date) {
  answerHeaders.clear();
  answerHeaders.push_back("HTTP/1.1 200 OK");
  answerHeaders.push_back("Server: localproxy");
  answerHeaders.push_back("Date: " + FormatHttpDate(Now()));
  std::string type = ContentTypeLine(fileName);
  if (!type.empty()) answerHeaders.push_back(type);
  answerHeaders.push_back("Content-Length: " + std::to_string(size));
  if (date != kNoFileDate) answerHeaders.push_back("Last-Modified: " + FormatHttpDate(date));
  answerHeaders.push_back("Accept-Ranges: bytes");
  answerHeaders.push_back(keepAlive ? "Connection: keep-alive" : "Connection: close");
}

void THttpProxyThread::MakeNotModifiedHead(TDateTime date) {
  answerHeaders.clear();
  answerHeaders.push_back("HTTP/1.1 304 Not Modified");
  answerHeaders.push_back("Server: localproxy");
  answerHeaders.push_back("Date: " + FormatHttpDate(Now()));
  answerHeaders.push_back("Last-Modified: " + FormatHttpDate(date));
  answerHeaders.push_back(keepAlive ? "Connection: keep-alive" : "Connection: close");
}

void THttpProxyThread::RemoveAcceptEncoding() {
  std::erase_if(headers,
                [](const std::string& h) { return UpperCase(h).starts_with("ACCEPT-ENCODING"); });
}

bool THttpProxyThread::NoContentEncoding() const {
  for (const std::string& h : headers)
    if (UpperCase(h).starts_with("CONTENT-ENCODING")) return false;
  return true;
}

bool THttpProxyThread::ProcessCache() {
  const std::string fileName = LocalFileName();
  // A path that leaves the local folder is relayed, never answered from disk or stored.
  if (fileName.empty()) return ProcessQuery(nullptr);

  // One open serves the existence check, the date and the body.
  TLocalFile file;
  bool exists = file.Open(fileName);
  if (exists && !FilesUpdated && !para.empty() && !IsFileRefreshed(fileName)) exists = false;

  if (exists) {
    const TDateTime date = file.Date();
    if (std::fabs(date - ifModifiedSince) < kNotModifiedTolerance) {
      MakeNotModifiedHead(date);
      sock->SendString(HeadText(answerHeaders));
    } else {
      MakeFileAnswerHead(fileName, file.Size(), date);
      // A body after the head of a HEAD answer would be read as the next answer.
      if (method == "HEAD") {
        sock->SendString(HeadText(answerHeaders));
      } else if (file.Size() >= kSendFileFrom) {
        // Large files go from the page cache to the socket without a copy in between.
        sock->SendString(HeadText(answerHeaders));
        if (sock->LastError() == 0) sock->SendFile(file.Handle(), file.Size());
      } else {
        std::unique_ptr<TMemoryStream> body = file.ReadAll();
        // A file cut while it was read gets the length it was read with.
        if (body->Size() != file.Size()) MakeFileAnswerHead(fileName, body->Size(), date);
        sock->SendString(HeadText(answerHeaders));
        if (sock->LastError() == 0) sock->SendString(body->View());
      }
    }
    if (keepAlive && commandProtocol != "HTTP/1.1") keepAlive = false;
    return true;
  }

  TMemoryStream store;
  RemoveAcceptEncoding();
  if (!ProcessQuery(&store)) return false;
  if (statusCode / 100 == 2 && store.Size() > 0) {
    std::string url = para.empty() ? uri : uri.substr(0, uri.find('?'));
    if (NoContentEncoding() && SingleFileUpdater)
      SingleFileUpdater->UpdateSingleFile(url, fileName, store);
  }
  return true;
}

}  // namespace velm

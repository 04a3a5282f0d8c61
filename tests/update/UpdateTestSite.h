// A game site for the update tests, served by the loopback server: build pages, the three file
// lists (gzip-encoded when the request accepts it), the files themselves and the one-file
// queries, with switches for the faults the tests need.
#pragma once

#include <zlib.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "support/LoopbackHttpServer.h"

namespace velm::test {

inline std::string ListDate(TDateTime d) {
  int y, mo, da, h, mi, s, ms;
  DecodeDate(d, y, mo, da);
  DecodeTime(d, h, mi, s, ms);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d.%02d.%02d %02d-%02d-%02d", y, mo, da, h, mi, s);
  return buf;
}

inline std::string GzipBytes(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
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

class TUpdateTestSite {
 public:
  // Paths of the three packages below the site root.
  static constexpr const char* kInfoBuild = "info/build.html";
  static constexpr const char* kInfoList = "info/filelist.php";
  static constexpr const char* kGameBuild = "shared/build.html";
  static constexpr const char* kGameList = "pub/filelist.php";
  static constexpr const char* kClientBuild = "info/client/build.html";
  static constexpr const char* kClientList = "info/client/filelist.php";

  TUpdateTestSite() {
    fBuilds[kInfoBuild] = "100";
    fBuilds[kGameBuild] = "200";
    fBuilds[kClientBuild] = "300";
    Server.SetHandler([this](const TRecordedRequest& r) { return Answer(r); });
  }

  std::string Root() const { return Server.Url("/"); }

  void SetBuild(const std::string& buildPath, const std::string& text) {
    std::lock_guard<std::mutex> lock(fMutex);
    fBuilds[buildPath] = text;
  }
  void PutFile(const std::string& path, const std::string& bytes, TDateTime date) {
    std::lock_guard<std::mutex> lock(fMutex);
    fFiles[path] = {bytes, date};
  }
  // Listed with its date, but the download answers 404.
  void SetBroken(const std::string& path, bool broken) {
    std::lock_guard<std::mutex> lock(fMutex);
    if (broken)
      fBroken.insert(path);
    else
      fBroken.erase(path);
  }
  // An extra list line, verbatim (for names the site should never send).
  void AddRawListLine(const std::string& listPath, const std::string& line) {
    std::lock_guard<std::mutex> lock(fMutex);
    fRawLines[listPath].push_back(line);
  }
  // Answers this path with the given bytes instead of what the site would say; closeAfter
  // drops the connection after them (a site that goes away in the middle of a body).
  void OverrideAnswer(const std::string& path, const std::string& httpBytes,
                      bool closeAfter = false) {
    std::lock_guard<std::mutex> lock(fMutex);
    fOverrides[path] = httpBytes;
    if (closeAfter)
      fCloseAfter.insert(path);
    else
      fCloseAfter.erase(path);
  }
  void SetAnswerDelay(const std::string& path, int ms) {
    std::lock_guard<std::mutex> lock(fMutex);
    fDelays[path] = ms;
  }

  // The request targets as received, without the leading "/".
  std::vector<std::string> Targets() const {
    std::vector<std::string> out;
    for (const auto& r : Server.Requests()) out.push_back(r.Target.substr(1));
    return out;
  }
  size_t CountTarget(const std::string& target) const {
    size_t n = 0;
    for (const auto& t : Targets()) n += t == target;
    return n;
  }
  std::vector<TRecordedRequest> Requests() const { return Server.Requests(); }

  // The file list as the site sends it before encoding.
  std::string ListText(const std::string& listPath) const {
    std::string text = "filelist v1\n";
    for (const auto& [path, file] : fFiles)
      if (InList(listPath, path)) text += path + "\t" + ListDate(file.Date) + "\n";
    auto raw = fRawLines.find(listPath);
    if (raw != fRawLines.end())
      for (const auto& line : raw->second) text += line + "\n";
    return text;
  }

  TLoopbackHttpServer Server;

 private:
  struct TFile {
    std::string Bytes;
    TDateTime Date;
  };

  static bool StartsWith(const std::string& s, const std::string& p) {
    return s.compare(0, p.size(), p) == 0;
  }
  static bool InList(const std::string& listPath, const std::string& path) {
    if (listPath == kInfoList)
      return StartsWith(path, "info/") && !StartsWith(path, "info/client/");
    if (listPath == kGameList) return StartsWith(path, "images/");
    if (listPath == kClientList) return StartsWith(path, "info/client/");
    return false;
  }

  TScriptedAnswer Answer(const TRecordedRequest& r) {
    std::lock_guard<std::mutex> lock(fMutex);
    std::string target = r.Target.substr(1);
    TScriptedAnswer answer;
    auto delay = fDelays.find(target);
    if (delay != fDelays.end()) answer.DelayMs = delay->second;
    auto over = fOverrides.find(target);
    if (over != fOverrides.end()) {
      answer.Bytes = over->second;
      answer.CloseAfter = fCloseAfter.count(target) > 0;
      return answer;
    }
    answer.Bytes = Body(r, target);
    return answer;
  }

  std::string Body(const TRecordedRequest& r, const std::string& target) {
    auto build = fBuilds.find(target);
    if (build != fBuilds.end()) return HttpAnswer("200 OK", build->second);
    if (target == kInfoList || target == kGameList || target == kClientList) {
      std::string text = ListText(target);
      if (r.Header("Accept-Encoding").find("gzip") != std::string::npos)
        return HttpAnswer("200 OK", GzipBytes(text), {"Content-Encoding: gzip"});
      return HttpAnswer("200 OK", text);
    }
    for (const char* query : {"info/filelist.php?mask=", "pub/filelist.php?name="}) {
      if (StartsWith(target, query)) {
        std::string path = target.substr(std::string(query).size());
        auto f = fFiles.find(path);
        if (f == fFiles.end()) return HttpAnswer("200 OK", "filelist v1\n");
        return HttpAnswer("200 OK",
                          "filelist v1\n" + path + "\t" + ListDate(f->second.Date) + "\n");
      }
    }
    auto f = fFiles.find(target);
    if (f != fFiles.end() && !fBroken.count(target)) return HttpAnswer("200 OK", f->second.Bytes);
    return HttpAnswer("404 Not Found", "<html>not found</html>");
  }

  std::mutex fMutex;
  std::map<std::string, std::string> fBuilds;
  std::map<std::string, TFile> fFiles;
  std::set<std::string> fBroken;
  std::map<std::string, std::vector<std::string>> fRawLines;
  std::map<std::string, std::string> fOverrides;
  std::set<std::string> fCloseAfter;
  std::map<std::string, int> fDelays;
};

}  // namespace velm::test

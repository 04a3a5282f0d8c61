#include "update/SingleFileUpdate.h"

#include <exception>

#include "app/AppSettings.h"
#include "net/DataLoader.h"
#include "net/URLCoding.h"
#include "platform/Encoding.h"
#include "update/FileIO.h"
#include "update/TextLines.h"

namespace velm {

TRefreshedFiles* RefreshedFiles = nullptr;
TUpdateProcessor* SingleFileUpdater = nullptr;

namespace {

std::unique_ptr<TRefreshedFiles> gRefreshedFiles;
std::unique_ptr<TSingleFileUpdateLogger> gSingleFileLogger;
std::unique_ptr<TUpdateProcessor> gSingleFileUpdater;

std::string AsciiLowerCase(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

}  // namespace

bool TRefreshedFiles::Contains(const std::string& localPath) {
  std::string key = LowerCase(localPath);
  std::lock_guard<std::mutex> lock(fLock);
  return fFiles.count(key) != 0;
}

void TRefreshedFiles::Add(const std::string& localPath) {
  std::string key = LowerCase(localPath);
  std::lock_guard<std::mutex> lock(fLock);
  fFiles.insert(std::move(key));
}

size_t TRefreshedFiles::Count() {
  std::lock_guard<std::mutex> lock(fLock);
  return fFiles.size();
}

void InitializeUpdateProcessor() {
  gRefreshedFiles = std::make_unique<TRefreshedFiles>();
  RefreshedFiles = gRefreshedFiles.get();
}

void FinalizeUpdateProcessor() {
  SingleFileUpdater = nullptr;
  gSingleFileUpdater.reset();
  gSingleFileLogger.reset();
  RefreshedFiles = nullptr;
  gRefreshedFiles.reset();
}

void CreateSingleFileUpdater() {
  SingleFileUpdater = nullptr;
  gSingleFileUpdater.reset();
  gSingleFileLogger = std::make_unique<TSingleFileUpdateLogger>();
  gSingleFileUpdater = std::make_unique<TUpdateProcessor>(gSingleFileLogger.get());
  SingleFileUpdater = gSingleFileUpdater.get();
}

bool IsFileRefreshed(const std::string& localPath) {
  return RefreshedFiles && RefreshedFiles->Contains(localPath);
}

void AddRefreshedFile(const std::string& localPath) {
  if (RefreshedFiles) RefreshedFiles->Add(localPath);
}

bool TUpdateProcessor::UpdateSingleFile(const std::string& url, const std::string& localFile,
                                        TMemoryStream& data) {
  if (url.empty() || url.back() == '/') return false;
  std::lock_guard<std::mutex> serialised(fLoaderLock);
  std::string address = DecodeURL(url);
  SaveStreamToFile(data, localFile);
  address = AsciiLowerCase(address);

  const TUpdatePackageDesc* package = nullptr;
  if (AppSettings) {
    for (const TUpdatePackageDesc& p : AppSettings->Packages) {
      if (p.Matches(address)) {
        package = &p;
        break;
      }
    }
  }
  if (package) {
    std::string rel =
        address.size() > package->SiteRoot.size() ? address.substr(package->SiteRoot.size()) : "";
    std::string answer;
    bool fetched = false;
    try {
      fetched = GetLoader().GetString(package->FileQueryURL + rel, answer, false);
    } catch (const std::exception&) {
      // An answer that does not decode is a failed query like any other.
      fetched = false;
    }
    if (fetched) {
      std::vector<std::string> lines = SplitTextLines(answer);
      std::string name;
      TDateTime date = 0;
      if (lines.size() >= 2 && ParseFileListLine(lines[1], name, date)) {
        SetFileDate(localFile, date);
        AddRefreshedFile(localFile);
        return true;
      }
    }
  }
  SetFileDate(localFile, BuildToDate(NewBuild));
  return false;
}

}  // namespace velm

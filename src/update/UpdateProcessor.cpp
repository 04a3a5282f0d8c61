#include "update/UpdateProcessor.h"

#include <chrono>
#include <thread>

#include "app/IniFile.h"
#include "net/DataLoader.h"
#include "platform/Encoding.h"
#include "platform/ProgramPath.h"
#include "update/FileIO.h"
#include "update/TextLines.h"

namespace velm {

namespace {

constexpr TDateTime kOneMinute = 1.0 / (24 * 60);

std::string TrimBuildText(const std::string& s) {
  const char* blanks = "\t\n\r ";
  size_t first = s.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  size_t last = s.find_last_not_of(blanks);
  return s.substr(first, last - first + 1);
}

bool EndsWithNoCase(const std::string& s, std::string_view tail) {
  return s.size() >= tail.size() &&
         SameText(std::string_view(s).substr(s.size() - tail.size()), tail);
}

}  // namespace

TUpdateProcessor::TUpdateProcessor(IUpdateLogger* logger) : Logger(logger) {}

TUpdateProcessor::~TUpdateProcessor() = default;

TDataLoader& TUpdateProcessor::GetLoader() {
  if (!fLoader) fLoader = std::make_unique<TDataLoader>();
  return *fLoader;
}

void TUpdateProcessor::OnEvent(uint8_t kind, const std::string& text) {
  if (Logger) Logger->OnEvent(kind, text);
}

void TUpdateProcessor::ReportError(const std::string& text) {
  if (Logger) Logger->OnEvent(kUpdEventError, text);
}

bool TUpdateProcessor::CancelExit() {
  OnEvent(kUpdEventLine, Ansi("Обновление прервано пользователем"));
  OnEvent(kUpdEventLine, "");
  return false;
}

bool TUpdateProcessor::CheckBuild(const std::string& buildURL, int id) {
  {
    auto ini = GetIniFile();
    OldBuild = ini->ReadString(kUpdateSection, BuildKey(id), kNoBuild);
    FullCheck = !ini->ReadBool(kUpdateSection, kUpdatedSuccessfullyKey, false);
  }
  NewBuild.clear();
  GetLoader().GetString(buildURL, NewBuild, false);
  NewBuild = TrimBuildText(NewBuild);
  if (NewBuild.empty()) {
    // An unreadable build page always leads to the file list.
    NewBuild = "0";
    OldBuild = kNoBuild;
  }
  return NewBuild != OldBuild;
}

void TUpdateProcessor::SaveBuild(int id) {
  GetIniFile()->WriteString(kUpdateSection, BuildKey(id), NewBuild);
}

bool TUpdateProcessor::NeedsUpdate(const std::string& localFile, TDateTime siteDate) {
  TDateTime localDate = GetFileDate(localFile);
  bool need;
  if (FullCheck) {
    // No update has reached the site yet: a local copy that is not older is adopted.
    need = localDate + kOneMinute < siteDate;
    if (!need) SetFileDate(localFile, siteDate);
  } else {
    need = !SameFileDate(siteDate, localDate);
    std::string stamped;
    if (need && DateToBuild(localDate, stamped) && stamped == NewBuild) {
      // Stamped with this very build by a single-file update: current after all.
      SetFileDate(localFile, siteDate);
      need = false;
    }
  }
  if (!need && (EndsWithNoCase(localFile, ".gif") || EndsWithNoCase(localFile, ".jpg") ||
                EndsWithNoCase(localFile, ".swf") || EndsWithNoCase(localFile, ".js"))) {
    // An error page stored in place of a graphic or a script is fetched again; so is a copy
    // that cannot even be read, rather than ending the whole run.
    try {
      if (LowerCase(ReadFileStart(localFile, 6)) == "<html>") need = true;
    } catch (const EInOutError&) {
      need = true;
    }
  }
  return need;
}

bool TUpdateProcessor::RedirectClientExe(std::string& localFile) {
  std::string exeName = ExtractFileName(ExePath());
  if (exeName.empty() || !SameText(localFile, exeName)) return false;
  // The executable's own spelling: the hand-off starts exactly this name.
  localFile = exeName + kNewExeSuffix;
  return true;
}

void TUpdateProcessor::Pause(int milliseconds) {
  // The worker thread has no windows of its own to keep alive; it only waits.
  if (!StartupUpdateDone) return;
  for (int i = 0; i < 10; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds / 10));
}

bool TUpdateProcessor::UpdatePackage(const TUpdatePackageDesc& package, bool& listFailed) {
  listFailed = false;
  OnEvent(kUpdEventPackage, package.Title);
  if (Logger && Logger->CancelUpdate()) return CancelExit();

  OnEvent(kUpdEventStep, Ansi("Запрос свежих обновлений"));
  if (!CheckBuild(package.BuildURL, package.Id)) {
    OnEvent(kUpdEventResult, Ansi(" нет."));
    Pause(500);
    return true;
  }

  std::unique_ptr<TMemoryStream> list;
  if (!GetLoader().Get(package.FileListURL, list, true)) {
    ReportError(Ansi("ошибка: загрузить не удалось (") + package.FileListURL + ").");
    listFailed = true;
    Pause(3000);
    return true;
  }
  OnEvent(kUpdEventResult, Ansi("новый список файлов получен"));
  if (Logger && Logger->CancelUpdate()) return CancelExit();

  std::vector<std::string> lines = SplitTextLines(list->View());
  list.reset();
  const size_t total = lines.empty() ? 0 : lines.size() - 1;
  bool anyFailed = false;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (Logger && total > 0) Logger->OnDownloading(double(i - 1) / double(total));
    std::string name;
    TDateTime siteDate = 0;
    if (!ParseFileListLine(lines[i], name, siteDate)) continue;
    std::string localFile = LocalPathOf(package, name);
    // The list comes from the network: a name that would leave the program folder is skipped.
    if (localFile.empty()) continue;
    std::string address = package.SiteRoot + name;
    if (Logger && Logger->CancelUpdate()) return CancelExit();
    if (!NeedsUpdate(localFile, siteDate)) continue;

    bool isClient = RedirectClientExe(localFile);
    OnEvent(kUpdEventDownload, "");
    OnEvent(kUpdEventStep, Ansi("Загрузка ") + ExtractFileName(localFile));
    TDataLoader& loader = GetLoader();
    if (loader.GetToFile(address, localFile, false)) {
      int kb = (loader.Size + 1000) / 1024;
      // "Oк": a Latin capital O, then the Cyrillic small letter ka.
      OnEvent(kUpdEventResult, "[" + std::to_string(kb) + "kb]. O" + Ansi("к"));
      if (!SetFileDate(localFile, siteDate))
        ReportError(Ansi("не удалось исправить дату у файла ") + "\"" + localFile + "\"");
      if (isClient) ClientUpdated = true;
    } else {
      anyFailed = true;
      ReportError(Ansi("ошибка: загрузить не удалось"));
    }
  }
  if (Logger) Logger->OnDownloading(1);
  if (!anyFailed) SaveBuild(package.Id);
  OnEvent(kUpdEventLine, "");
  return true;
}

}  // namespace velm

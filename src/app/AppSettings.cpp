#include "app/AppSettings.h"

#include <cstdlib>

#include "app/Debug.h"
#include "app/FightAlert.h"
#include "platform/Encoding.h"
#include "platform/FlashPlayer.h"
#include "platform/ProgramPath.h"

namespace velm {

TAppSettings* AppSettings = nullptr;

namespace {

constexpr int kMaxTabCaption = 18;

const char* EnvValue(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? v : nullptr;
}

}  // namespace

std::string GetSiteRoot() {
  if (const char* env = EnvValue("VELM_SITE_ROOT")) {
    std::string root = env;
    if (root.back() != '/') root += '/';
    return root;
  }
  return VELM_SITE_ROOT_DEFAULT;
}

std::string GetSiteHost() {
  std::string root = GetSiteRoot();
  size_t start = root.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  size_t end = root.find('/', start);
  return LowerCase(root.substr(start, end == std::string::npos ? std::string::npos : end - start));
}

TMD5Digest BuiltInPluginDigest() {
  return MakeDigest(VELM_DIGEST_A, VELM_DIGEST_B, VELM_DIGEST_C, VELM_DIGEST_D);
}

int TAppSettings::GetMaxTabCaption() {
  return kMaxTabCaption;
}

bool TAppSettings::GetFile(const std::string& path, const std::string& url,
                           std::string& rootFolder) {
  if (Debug) Debug->LogInfo("GetFile: " + url);
  if (path.size() <= 1) return false;
  const std::string lower = LowerCase(url);
  if (lower.find(".php?") != std::string::npos || lower.ends_with(".php") ||
      lower.find(".js?") != std::string::npos)
    return false;
  for (const TUpdatePackageDesc& package : Packages) {
    if (package.Matches(lower)) {
      rootFolder = LocalRoot;
      return true;
    }
  }
  return false;
}

void TAppSettings::SetPackages(const std::vector<TUpdatePackageDesc>& packages) {
  Packages = packages;
}

std::u16string TAppSettings::GetFlashDownloadUrl() const {
  return Utf8ToUtf16(std::string(VELM_FLASH_DOWNLOAD_HOST) +
                     "shockwave/download/index.cgi?P1_Prod_Version=ShockwaveFlash");
}

void TAppSettings::Initialize() {
  InitPackages();
  std::string text;
  int32_t version = -1;
  if (DetectFlashPlayer(text, version)) {
    FlashVersionText = text;
    FlashVersion = version;
  } else {
    FlashVersionText = "Unknown";
    FlashVersion = -1;
  }
}

TVelmAppSettings::TVelmAppSettings() : TVelmAppSettings(BuiltInPluginDigest()) {}

TVelmAppSettings::TVelmAppSettings(const TMD5Digest& storedPluginDigest)
    : fStoredDigest(storedPluginDigest) {
  Initialize();
}

void TVelmAppSettings::InitPackages() {
  // Prefixes are compared with lower-cased request addresses.
  const std::string root = GetSiteRoot();
  const std::string match = LowerCase(root);
  SetPackages({
      {3, Ansi("Обновление файлов графики Инфопортала"), root + "info/build.html",
       root + "info/filelist.php", root + "info/filelist.php?mask=", root, "pub/", match + "info/",
       true},
      {2, Ansi("Обновление файлов графики Игры"), root + "shared/build.html",
       root + "pub/filelist.php", root + "pub/filelist.php?name=", root, "pub/", match + "images/",
       true},
      // Every address below info/client/ matches the portal package first, so the client
      // package's one-file query is never used; it names the client list's own query form.
      {1, Ansi("Обновление файлов Клиента"), root + "info/client/build.html",
       root + "info/client/filelist.php", root + "info/client/filelist.php?name=", root,
       "-info/client/", match + "info/client/", false},
  });
  LocalRoot = ExeDir() + "pub";
}

std::string TVelmAppSettings::GetClientVersion() {
  return "2.05";
}

int TVelmAppSettings::GetProxyPort() {
  if (const char* env = EnvValue("VELM_PROXY_PORT")) {
    char* end = nullptr;
    long port = std::strtol(env, &end, 10);
    if (*end == '\0' && port > 0 && port < 65536) return static_cast<int>(port);
  }
  return kDefaultProxyPort;
}

std::string TVelmAppSettings::GetRegistryKey() {
  return "Software\\Velm2";
}

std::string TVelmAppSettings::GetStartPage() {
  return GetSiteRoot() + "index.php";
}

bool TVelmAppSettings::IsKnownPluginDigest(const TMD5Digest& digest) {
  return MD5Equal(digest, fStoredDigest);
}

bool TVelmAppSettings::GetFile(const std::string& path, const std::string& url,
                               std::string& rootFolder) {
  bool local = TAppSettings::GetFile(path, url, rootFolder);
  const std::string lower = LowerCase(url);
  if (lower.find("/game.swf?") != std::string::npos)
    StartFightAlert();
  else if (lower.find("/fight_finish.php") != std::string::npos)
    ResetFightAlert();
  return local;
}

void CreateAppSettings() {
  if (!AppSettings) AppSettings = new TVelmAppSettings();
}

void FreeAppSettings() {
  delete AppSettings;
  AppSettings = nullptr;
}

}  // namespace velm

// The client's fixed facts and what was learnt about the Flash Player: TAppSettings holds what
// any client of this kind needs, TVelmAppSettings fills in this game's values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/Md5.h"
#include "update/UpdatePackage.h"

namespace velm {

class TAppSettings {
 public:
  virtual ~TAppSettings() = default;
  TAppSettings(const TAppSettings&) = delete;
  TAppSettings& operator=(const TAppSettings&) = delete;

  // The virtual operations in their fixed order.
  virtual void InitPackages() = 0;
  virtual std::string GetClientVersion() = 0;
  virtual int GetProxyPort() = 0;
  virtual std::string GetRegistryKey() = 0;
  virtual std::string GetStartPage() = 0;
  virtual bool IsKnownPluginDigest(const TMD5Digest& digest) = 0;
  virtual int GetMaxTabCaption();
  // Whether the proxy answers the request from the local folder; rootFolder receives that folder.
  virtual bool GetFile(const std::string& path, const std::string& url, std::string& rootFolder);

  void SetPackages(const std::vector<TUpdatePackageDesc>& packages);
  // The Flash Player download page.
  std::u16string GetFlashDownloadUrl() const;

  std::vector<TUpdatePackageDesc> Packages;
  std::string LocalRoot;
  std::string FlashVersionText;
  int32_t FlashVersion = -1;

 protected:
  TAppSettings() = default;
  // Fills the package table and detects the Flash Player; the derived class's constructor calls
  // it once its own operations are in place.
  void Initialize();
};

class TVelmAppSettings : public TAppSettings {
 public:
  TVelmAppSettings();
  // Tests choose the stored plug-in digest.
  explicit TVelmAppSettings(const TMD5Digest& storedPluginDigest);

  void InitPackages() override;
  std::string GetClientVersion() override;
  int GetProxyPort() override;
  std::string GetRegistryKey() override;
  std::string GetStartPage() override;
  bool IsKnownPluginDigest(const TMD5Digest& digest) override;
  // As the base rule; the game's Flash request and its fight-finish page drive the fight alert.
  bool GetFile(const std::string& path, const std::string& url, std::string& rootFolder) override;

 private:
  TMD5Digest fStoredDigest;
};

inline constexpr int kDefaultProxyPort = 15220;

// The game site's root: scheme, host and "/". The build setting, unless the environment
// variable VELM_SITE_ROOT gives another.
std::string GetSiteRoot();
// The text between "://" and the next "/" of the site root, lower-cased (it may carry a port).
std::string GetSiteHost();
// The digest fixed at build time.
TMD5Digest BuiltInPluginDigest();

// The process-wide settings, always a TVelmAppSettings; freed last of all.
extern TAppSettings* AppSettings;
void CreateAppSettings();
void FreeAppSettings();

}  // namespace velm

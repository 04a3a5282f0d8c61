#include "browser/BrowserProfile.h"

#include <QCoreApplication>
#include <QEvent>
#include <QString>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

#include "app/AppSettings.h"
#include "app/HotKeys.h"
#include "browser/PageScripts.h"
#include "browser/RuffleScheme.h"
#include "platform/FlashPlayer.h"

namespace velm {

namespace {

QWebEngineProfile* gProfile = nullptr;

void InstallPageScripts(QWebEngineProfile* profile) {
  QWebEngineScript tracker;
  tracker.setName(QStringLiteral("velm-composition"));
  tracker.setSourceCode(QString::fromUtf8(kCompositionTrackerScript));
  tracker.setInjectionPoint(QWebEngineScript::DocumentCreation);
  tracker.setWorldId(QWebEngineScript::MainWorld);
  tracker.setRunsOnSubFrames(true);
  profile->scripts()->insert(tracker);
}

}  // namespace

std::string BrowserStorageName(const std::string& registryKey) {
  std::string name;
  for (char c : registryKey) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '.';
    name += plain ? c : '_';
  }
  return name.empty() ? std::string("Velm") : name;
}

QWebEngineProfile* BrowserProfile() {
  if (!gProfile) {
    std::string key = AppSettings ? AppSettings->GetRegistryKey() : std::string();
    gProfile = new QWebEngineProfile(QString::fromStdString(BrowserStorageName(key)));
    gProfile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
    gProfile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    gProfile->settings()->setAttribute(QWebEngineSettings::LocalStorageEnabled, true);
    InstallPageScripts(gProfile);
    // Flash content plays through the emulator when its files are beside the executable.
    InstallRuffle(gProfile, RuffleFolder());
  }
  return gProfile;
}

void ReleaseBrowserProfile() {
  if (!gProfile) return;
  // Views of closed tabs still waiting for deletion hold pages of the profile: they go first.
  if (QCoreApplication::instance())
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  delete gProfile;
  gProfile = nullptr;
}

void InitializeIETab() {
  HotKeysEnabled = true;
}

void FinalizeIETab() {
  ReleaseBrowserProfile();
}

}  // namespace velm

// Shared pieces of the plug-in tests: the test plug-ins built beside the tests, a program folder
// with a debug log and settings, a browser that records what plug-ins ask of it, and the
// recorder plug-in's own hooks.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/AppSettings.h"
#include "app/Debug.h"
#include "platform/Beep.h"
#include "plugins/PluginEvent.h"
#include "plugins/Plugins.h"
#include "support/TestFolder.h"

namespace velm::test {

// The built test plug-in `name` ("Recorder", "NoEvents", ...).
std::string TestPluginPath(const std::string& name);

// A temporary program folder with a debug log, settings whose stored digest the test chooses,
// and an empty plug-in table; all of it is put back at the end.
class TPluginFolder {
 public:
  TPluginFolder();
  ~TPluginFolder();

  // Copies the built plug-in `name` into the folder as `fileName`; `tail` bytes are appended
  // (the library still loads, its digest differs). Returns the file's digest.
  TMD5Digest Install(const std::string& name, const std::string& fileName,
                     const std::string& tail = "");
  // The settings' stored digest from now on.
  void SetKnownDigest(const TMD5Digest& digest);
  // Loads the folder's plug-ins.
  int Load();
  std::string DebugLog() const;

  TTestProgramFolder Folder;
  std::string Report;
  int UnknownCount = -1;

 private:
  std::unique_ptr<TDebug> fDebug;
  std::unique_ptr<TAppSettings> fSettings;
  TBeepHandler fOldBeep;
};

// Collects the lines the recorder plug-ins emit, each prefixed with the plug-in's file name.
class TRecording {
 public:
  // Attaches to every loaded plug-in that has the recorder's hooks.
  TRecording();
  ~TRecording();
  std::vector<std::string> Lines;
  // Called with each line while the plug-in is still inside the call it records.
  std::function<void(const std::string& line)> OnLine;
  // Lines that contain `part`.
  std::vector<std::string> With(const std::string& part) const;
  void Clear() { Lines.clear(); }

 private:
  struct TSource {
    TRecording* Owner;
    std::string Name;
  };
  std::vector<std::unique_ptr<TSource>> fSources;
};

// A recorder hook of a loaded plug-in (null when it has none).
void* PluginSymbol(const TPlugin& plugin, const char* name);
// "%p" of an address, as the C plug-ins print it.
std::string PointerText(const void* p);

// A browser that records the operations plug-ins call on it.
class TRecordingBrowser : public IPluginBrowser {
 public:
  void GoBack() override { Calls.push_back("GoBack"); }
  void GoForward() override { Calls.push_back("GoForward"); }
  void Navigate(const std::u16string& url, int32_t flags, const std::u16string& targetFrameName,
                const std::string& postData, const std::u16string& headers) override;
  void Refresh() override { Calls.push_back("Refresh"); }
  void Refresh2(int32_t level) override { Calls.push_back("Refresh2 " + std::to_string(level)); }
  void Stop() override;
  VelmObject Application() override { return ToPluginObject(this); }
  VelmObject Parent() override { return ToPluginObject(this); }
  VelmObject Container() override { return ToPluginObject(this); }
  VelmObject Document() override { return DocumentHandle; }
  int32_t Left() override { return 1; }
  int32_t Top() override { return 2; }
  int32_t Width() override { return 640; }
  int32_t Height() override { return -480; }
  std::u16string LocationName() override { return Name; }
  std::u16string LocationURL() override { return Url; }
  bool Busy() override { return true; }

  std::vector<std::string> Calls;
  VelmObject DocumentHandle = nullptr;
  std::u16string Name = u"Главная";
  std::u16string Url = u"http://site/index.php";
  bool StopThrows = false;
};

// One tab as the tab list makes it: a browser, its page record and the plug-ins' tables.
struct TTestTab {
  TRecordingBrowser Browser;
  TBrowserPage Page{};
  TPluginEventTables Tables;
  char FrameAnchor = 0;
  TPluginPageObjects Objects;
  TTestTab() {
    Objects.Browser = ToPluginObject(&Browser);
    Objects.Frame = ToPluginObject(&FrameAnchor);
    FillBrowserPage(Page, Browser);
    OpenPluginPages(Page, Tables);
  }
  ~TTestTab() { ClosePluginPages(Page); }
  void Fire(TBrowserEventArgs& args) { DispatchPluginEvent(Tables, Page, args, Objects); }
  std::string Id() const { return PointerText(&Page); }
};

}  // namespace velm::test

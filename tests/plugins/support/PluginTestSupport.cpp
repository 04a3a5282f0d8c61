#include "plugins/support/PluginTestSupport.h"

#include <dlfcn.h>

#include <cstdio>
#include <stdexcept>

#include "app/Md5.h"
#include "platform/Encoding.h"

namespace velm::test {

std::string TestPluginPath(const std::string& name) {
  return std::string(VELM_TEST_PLUGIN_DIR) + name + ".so";
}

TPluginFolder::TPluginFolder() {
  fOldBeep = SetBeepHandler([](int, int) {});
  fDebug = std::make_unique<TDebug>("VelmC2.log");
  Debug = fDebug.get();
  SetKnownDigest(MakeDigest(0, 0, 0, 0));
  InitializePlugins();
}

TPluginFolder::~TPluginFolder() {
  FinalizePlugins();
  AppSettings = nullptr;
  Debug = nullptr;
  SetBeepHandler(fOldBeep);
}

TMD5Digest TPluginFolder::Install(const std::string& name, const std::string& fileName,
                                  const std::string& tail) {
  std::string bytes = ReadWholeFile(TestPluginPath(name));
  if (bytes.empty()) throw std::runtime_error("test plug-in not built: " + name);
  bytes += tail;
  WriteWholeFile(Folder.Path(fileName), bytes);
  return MD5Buffer(bytes.data(), bytes.size());
}

void TPluginFolder::SetKnownDigest(const TMD5Digest& digest) {
  AppSettings = nullptr;
  fSettings = std::make_unique<TVelmAppSettings>(digest);
  AppSettings = fSettings.get();
}

int TPluginFolder::Load() {
  return LoadPlugins(Report, UnknownCount);
}

std::string TPluginFolder::DebugLog() const {
  return FileExists(Folder.Path("VelmC2.log")) ? ReadWholeFile(Folder.Path("VelmC2.log")) : "";
}

void* PluginSymbol(const TPlugin& plugin, const char* name) {
  return dlsym(plugin.Handle, name);
}

std::string PointerText(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", p);
  return buf;
}

namespace {
using TObserver = void (*)(void*, const char*);
using TSetObserver = void (*)(TObserver, void*);
}  // namespace

TRecording::TRecording() {
  for (const TPlugin& plugin : LoadedPlugins) {
    auto set = reinterpret_cast<TSetObserver>(PluginSymbol(plugin, "RecorderSetObserver"));
    if (!set) continue;
    fSources.push_back(std::make_unique<TSource>(TSource{this, plugin.FileName}));
    set(
        [](void* context, const char* line) {
          auto* source = static_cast<TSource*>(context);
          source->Owner->Lines.push_back(source->Name + ": " + line);
          if (source->Owner->OnLine) source->Owner->OnLine(source->Owner->Lines.back());
        },
        fSources.back().get());
  }
}

TRecording::~TRecording() {
  for (const TPlugin& plugin : LoadedPlugins) {
    auto set = reinterpret_cast<TSetObserver>(PluginSymbol(plugin, "RecorderSetObserver"));
    if (set) set(nullptr, nullptr);
  }
}

std::vector<std::string> TRecording::With(const std::string& part) const {
  std::vector<std::string> found;
  for (const std::string& line : Lines)
    if (line.find(part) != std::string::npos) found.push_back(line);
  return found;
}

void TRecordingBrowser::Navigate(const std::u16string& url, int32_t flags,
                                 const std::u16string& targetFrameName, const std::string& postData,
                                 const std::u16string& headers) {
  Calls.push_back("Navigate " + Utf16ToUtf8(url) + " " + std::to_string(flags) + " [" +
                  Utf16ToUtf8(targetFrameName) + "] [" + postData + "] [" + Utf16ToUtf8(headers) +
                  "]");
}

void TRecordingBrowser::Stop() {
  Calls.push_back("Stop");
  if (StopThrows) throw std::runtime_error("browser gone");
}

}  // namespace velm::test

#include "plugins/Plugins.h"

#include <dirent.h>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/AppSettings.h"
#include "app/HotKeys.h"
#include "app/Md5.h"
#include "platform/MemoryStream.h"
#include "platform/ProgramPath.h"

namespace velm {

std::vector<TPlugin> LoadedPlugins;

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() > tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// File names here are UTF-8: only the Latin letters have a case to set aside.
std::string AsciiUpper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// The plug-in candidates of the current folder: ordinary "*.so" files, names beginning with "."
// (hidden files) skipped. They come sorted by name, letter case aside, which is the
// order a Windows file system lists them in, so menus and reports keep a stable order.
std::vector<std::string> ListPluginFiles() {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir("."), closedir);
  if (!dir) return names;
  while (dirent* entry = readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name.empty() || name[0] == '.' || !EndsWith(name, kPluginExtension)) continue;
    struct stat st {};
    if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    std::string ua = AsciiUpper(a), ub = AsciiUpper(b);
    return ua != ub ? ua < ub : a < b;
  });
  return names;
}

// The current folder with a trailing "/"; "./" when it cannot be told.
std::string CurrentFolder() {
  std::unique_ptr<char, void (*)(void*)> cwd(getcwd(nullptr, 0), std::free);
  if (!cwd) return "./";
  std::string folder = cwd.get();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

template <class F>
bool LookUp(void* handle, const char* name, F& entry) {
  void* address = dlsym(handle, name);
  if (!address) return false;
  entry = reinterpret_cast<F>(address);
  return true;
}

// True when the file holds every part of it that the library loader maps. The loader maps a
// library's segments as its program headers describe them and does not compare them with the
// file's length: a library cut off in the middle (a copy or download that stopped early) would
// end the whole process with SIGBUS as soon as the loader touches a page past the file's end.
// A file that is no library of this machine's word size is refused here as the loader would.
bool SegmentsWithinFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool whole = false;
  struct stat st {};
  ElfW(Ehdr) header{};
  if (fstat(fd, &st) == 0 &&
      pread(fd, &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
      std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
      header.e_ident[EI_CLASS] == (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) &&
      header.e_phentsize == sizeof(ElfW(Phdr))) {
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    whole = header.e_phoff <= size && header.e_phnum * sizeof(ElfW(Phdr)) <= size - header.e_phoff;
    for (unsigned i = 0; whole && i < header.e_phnum; ++i) {
      ElfW(Phdr) segment{};
      const off_t at = static_cast<off_t>(header.e_phoff + i * sizeof segment);
      whole = pread(fd, &segment, sizeof segment, at) == static_cast<ssize_t>(sizeof segment) &&
              (segment.p_type != PT_LOAD ||
               (segment.p_offset <= size && segment.p_filesz <= size - segment.p_offset));
    }
  }
  close(fd);
  return whole;
}

// Loads one library and looks up the five exports in their order; false (and unloaded) when the
// library cannot be loaded or one export is missing.
bool LoadPlugin(const std::string& folder, const std::string& fileName, TPlugin& plugin) {
  if (!SegmentsWithinFile(folder + fileName)) return false;
  // A path makes the loader take the file of the program folder instead of searching its
  // library paths. The full path, not "./NAME": the loader hands back any library it already
  // opened under the same name, even when that name now means another file.
  void* handle = dlopen((folder + fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return false;
  plugin.Handle = handle;
  if (!LookUp(handle, "GetVersion", plugin.GetVersion) ||
      !LookUp(handle, "GetDescription", plugin.GetDescription) ||
      !LookUp(handle, "OpenBrowserPage", plugin.OpenBrowserPage) ||
      !LookUp(handle, "CloseBrowserPage", plugin.CloseBrowserPage) ||
      !LookUp(handle, "ShowSettings", plugin.ShowSettings)) {
    dlclose(handle);
    return false;
  }
  plugin.FileName = fileName;
  return true;
}

// The whole content of a file of the current folder; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& fileName, TMemoryStream& content) {
  int fd = open(("./" + fileName).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    content.Write(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return ok;
}

}  // namespace

std::string PluginDescription(const TPlugin& plugin) {
  return CallGetDescription(plugin.GetDescription);
}

int32_t PluginVersion(const TPlugin& plugin) {
  return CallPlugin(plugin.GetVersion);
}

std::string DescribePlugin(const TPlugin& plugin, int& unknownCount) {
  std::string entry = ChangeFileExt(plugin.FileName, "");
  try {
    TMemoryStream content;
    if (!ReadWholeFile(plugin.FileName, content)) return entry + kPluginLoadError;
    TMD5Digest digest = MD5Stream(content);
    if (AppSettings && AppSettings->IsKnownPluginDigest(digest)) return entry;
    std::string described = entry + ";" + PluginDescription(plugin) + ";" + MD5DigestToHex(digest);
    ++unknownCount;
    return described;
  } catch (const std::exception&) {
    return entry + kPluginLoadError;
  }
}

int LoadPlugins(std::string& report, int& unknownCount) {
  report.clear();
  unknownCount = 0;
  int loaded = 0;
  std::string folder = CurrentFolder();
  for (const std::string& fileName : ListPluginFiles()) {
    TPlugin plugin;
    if (!LoadPlugin(folder, fileName, plugin)) continue;
    if (!report.empty()) report += "|";
    report += DescribePlugin(plugin, unknownCount);
    LoadedPlugins.push_back(plugin);
    ++loaded;
  }
  return loaded;
}

void OpenPluginPages(TBrowserPage& page, TPluginEventTables& tables) {
  tables.assign(LoadedPlugins.size(), ::TBrowserPageEvents{});
  for (size_t i = 0; i < LoadedPlugins.size(); ++i) {
    try {
      CallPlugin(LoadedPlugins[i].OpenBrowserPage, &page, &tables[i]);
    } catch (...) {
    }
  }
}

void ClosePluginPages(TBrowserPage& page) {
  for (const TPlugin& plugin : LoadedPlugins) {
    try {
      CallPlugin(plugin.CloseBrowserPage, &page);
    } catch (...) {
    }
  }
}

void PluginMenuClick(int tag) {
  if (tag < 0 || static_cast<size_t>(tag) >= LoadedPlugins.size()) return;
  THotKeysDisabled hotKeysOff;
  CallPlugin(LoadedPlugins[static_cast<size_t>(tag)].ShowSettings);
}

void InitializePlugins() {
  LoadedPlugins.clear();
}

// The libraries stay mapped: tabs may still be going away, and plug-ins may have left threads or
// exit handlers behind.
void FinalizePlugins() {
  LoadedPlugins.clear();
}

}  // namespace velm

#include "app/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <mutex>

#include "platform/Encoding.h"
#include "platform/ProgramPath.h"

namespace velm {
namespace {

// Read-modify-write of the file is serialised within the process.
std::mutex gIniWriteMutex;

bool ReadFileBytes(const std::string& path, std::string& bytes) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bytes.clear();
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
      ++end;
    start = end + 1;
  }
  return lines;
}

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// "[name]" gives name; anything else is not a section header.
bool SectionName(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return false;
  size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  name = Trim(line.substr(1, close - 1));
  return true;
}

bool KeyLine(std::string_view line, std::string_view& key, std::string_view& value) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';') return false;
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(t.substr(0, eq));
  value = Trim(t.substr(eq + 1));
  return !key.empty();
}

// Locates the first section of that name and, in it, the first line of that key.
struct TLocation {
  long sectionLine = -1;
  long keyLine = -1;
  long lastLineOfSection = -1;  // last non-blank line that belongs to the section
  std::string_view value;
};

TLocation Locate(const std::vector<std::string_view>& lines, const std::string& section,
                 const std::string& key) {
  TLocation loc;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (SectionName(lines[i], name)) {
      if (inSection) break;
      if (loc.sectionLine < 0 && SameText(name, section)) {
        inSection = true;
        loc.sectionLine = loc.lastLineOfSection = static_cast<long>(i);
      }
      continue;
    }
    if (!inSection) continue;
    if (!Trim(lines[i]).empty()) loc.lastLineOfSection = static_cast<long>(i);
    std::string_view k, v;
    if (loc.keyLine < 0 && KeyLine(lines[i], k, v) && SameText(k, key)) {
      loc.keyLine = static_cast<long>(i);
      loc.value = v;
    }
  }
  return loc;
}

std::string OneLine(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c == '\r' || c == '\n') c = ' ';
  return r;
}

// Writes the whole file beside the old one and renames it over it.
void ReplaceFile(const std::string& path, const std::string& content) {
  std::string tmpl = path + ".XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return;
  fchmod(fd, 0644);
  bool ok = true;
  size_t done = 0;
  while (ok && done < content.size()) {
    ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(name.data(), path.c_str()) != 0) unlink(name.data());
}

}  // namespace

bool TryParseIniInteger(const std::string& text, int& value) {
  std::string s = text;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s = "$" + s.substr(2);
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  }
  if (i >= s.size()) return false;
  long long v = 0;
  for (; i < s.size(); ++i) {
    char c = s[i];
    int d = c >= '0' && c <= '9'                 ? c - '0'
            : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
            : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
    if (d < 0) return false;
    v = v * base + d;
    // Hexadecimal text may spell any 32-bit pattern; decimal must fit a signed integer.
    if (v > (base == 16 ? 0xFFFFFFFFLL : static_cast<long long>(INT_MAX) + 1)) return false;
  }
  if (base == 16 && v > INT_MAX) v -= 0x100000000LL;
  if (negative) v = -v;
  if (v < INT_MIN || v > INT_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

bool TIniFile::Lookup(const std::string& section, const std::string& key,
                      std::string& value) const {
  std::string bytes;
  if (!ReadFileBytes(fFileName, bytes)) return false;
  auto lines = SplitLines(bytes);
  TLocation loc = Locate(lines, section, key);
  if (loc.keyLine < 0) return false;
  std::string_view v = loc.value;
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  value.assign(v.substr(0, kIniMaxValueLength));
  return true;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  std::string value;
  return Lookup(section, key, value) ? value : defaultValue.substr(0, kIniMaxValueLength);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key,
                          int defaultValue) const {
  std::string text;
  int value;
  if (!Lookup(section, key, text) || !TryParseIniInteger(text, value)) return defaultValue;
  return value;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key,
                        bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  std::string value;
  return Lookup(section, key, value);
}

bool TIniFile::SectionExists(const std::string& section) const {
  std::string bytes;
  if (!ReadFileBytes(fFileName, bytes)) return false;
  return Locate(SplitLines(bytes), section, std::string()).sectionLine >= 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  std::lock_guard<std::mutex> lock(gIniWriteMutex);
  std::string bytes;
  ReadFileBytes(fFileName, bytes);
  auto lines = SplitLines(bytes);
  TLocation loc = Locate(lines, section, key);
  const std::string entry = OneLine(key) + "=" + OneLine(value);
  std::string out;
  out.reserve(bytes.size() + entry.size() + section.size() + 8);
  auto emit = [&out](std::string_view line) {
    out.append(line);
    out.append("\r\n");
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    const long li = static_cast<long>(i);
    if (li == loc.keyLine) {
      emit(entry);
      continue;
    }
    emit(lines[i]);
    if (loc.keyLine < 0 && li == loc.lastLineOfSection) emit(entry);
  }
  if (loc.sectionLine < 0) {
    if (!out.empty() && !(lines.empty() || Trim(lines.back()).empty())) emit("");
    emit("[" + OneLine(section) + "]");
    emit(entry);
  }
  ReplaceFile(fFileName, out);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

namespace {

std::mutex gIniNameMutex;
std::string gIniFileName;

}  // namespace

void SetIniFileName(const std::string& fileName) {
  std::lock_guard<std::mutex> lock(gIniNameMutex);
  gIniFileName = fileName;
}

std::unique_ptr<TIniFile> GetIniFile() {
  std::string name;
  {
    std::lock_guard<std::mutex> lock(gIniNameMutex);
    name = gIniFileName;
  }
  if (name.empty()) return std::make_unique<TIniFile>(ChangeFileExt(ExePath(), ".ini"));
  if (name.find('/') == std::string::npos) name = ExeDir() + name;
  return std::make_unique<TIniFile>(name);
}

}  // namespace velm

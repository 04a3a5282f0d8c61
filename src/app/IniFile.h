// The program's INI file: bracketed sections, key=value lines, names compared without regard to
// letter case, Windows-1251 text, CR LF line ends. Nothing stays open: every read looks at the
// file as it is now, and every write is on disk (temporary file renamed over the old one) when
// the call returns. An unwritable file loses writes silently; reads then give the defaults.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace velm {

// The longest string value a read returns.
inline constexpr size_t kIniMaxValueLength = 2047;

class TIniFile {
 public:
  explicit TIniFile(std::string fileName) : fFileName(std::move(fileName)) {}

  const std::string& FileName() const { return fFileName; }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  // Decimal; "0x"/"0X" with more than two characters or "$" for hexadecimal; else the default.
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
  // Any integer other than 0 is true.
  bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  bool SectionExists(const std::string& section) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  // Written as "1" or "0".
  void WriteBool(const std::string& section, const std::string& key, bool value);

 private:
  bool Lookup(const std::string& section, const std::string& key, std::string& value) const;

  std::string fFileName;
};

// A new INI object on the executable's path with ".ini"; the caller owns it.
std::unique_ptr<TIniFile> GetIniFile();
// The headless tool shares the client's INI file: a name without folder is placed in the
// executable's folder. An empty name restores the executable's own INI file.
void SetIniFileName(const std::string& fileName);

// The integer forms of the INI file; false when the text is not one.
bool TryParseIniInteger(const std::string& text, int& value);

}  // namespace velm

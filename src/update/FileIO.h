// File routines shared by the updater, which writes the mirror's files and sets their dates, and
// the local proxy, which reads them and answers with their dates.
#pragma once

#include <cstddef>
#include <memory>
#include <shared_mutex>
#include <stdexcept>
#include <string>

#include "platform/DateTime.h"
#include "platform/MemoryStream.h"

namespace velm {

// Writers of file contents hold it exclusively, readers shared; date routines do not take it.
// A process-wide object for the whole run, so no start-up step is needed for it.
extern std::shared_mutex FileLock;

// A file that cannot be created, written or read; ErrorCode is the errno value.
class EInOutError : public std::runtime_error {
 public:
  EInOutError(const std::string& message, int errorCode)
      : std::runtime_error(message), ErrorCode(errorCode) {}
  int ErrorCode;
};

// 1 January of the year 100: the date of a missing file, older than any file-list date.
inline constexpr TDateTime kNoFileDate = -657434.0;

// Last-write time of the file or folder as local time; kNoFileDate when there is none.
TDateTime GetFileDate(const std::string& path);
// Sets the access and last-write times of an existing file (Linux keeps no settable creation
// time); false when the file cannot be opened for writing or the date cannot be converted.
bool SetFileDate(const std::string& path, TDateTime date);
// True when the dates lie less than one minute apart.
bool SameFileDate(TDateTime a, TDateTime b);

// Writes the stream's whole content, whatever its position, to path, creating missing folders.
// The content goes to a temporary file beside the target which is then renamed over it, all
// under the exclusive lock, so readers and a process that dies mid-write never leave a partial
// file behind. A replaced file keeps its permission bits. Raises EInOutError.
void SaveStreamToFile(const TMemoryStream& stream, const std::string& path);
// The whole file in a new stream positioned at 0, read under the shared lock (TLocalFile's
// ReadAll). Raises EInOutError.
std::unique_ptr<TMemoryStream> LoadFileToStream(const std::string& path);
// The first n bytes of the file, fewer when it is shorter; no lock. Raises EInOutError.
std::string ReadFileStart(const std::string& path, size_t n);

// A regular file opened once to be answered from: its size and date come from the open file,
// so the answer's head and body describe the same file even while the updater replaces it.
class TLocalFile {
 public:
  TLocalFile() = default;
  ~TLocalFile();
  TLocalFile(const TLocalFile&) = delete;
  TLocalFile& operator=(const TLocalFile&) = delete;

  // False (and nothing open) when the path names no regular file that can be read; OpenError()
  // then gives the errno value.
  bool Open(const std::string& path);
  int OpenError() const { return fOpenError; }
  size_t Size() const { return fSize; }
  TDateTime Date() const { return fDate; }
  // The open file's descriptor, for sending it straight from the page cache.
  int Handle() const { return fFd; }
  // The file's Size() bytes (fewer if it was cut since) in a new stream at position 0, read
  // under the shared lock. Raises EInOutError.
  std::unique_ptr<TMemoryStream> ReadAll();

 private:
  int fFd = -1;
  size_t fSize = 0;
  TDateTime fDate = kNoFileDate;
  int fOpenError = 0;
  std::string fPath;
};

}  // namespace velm

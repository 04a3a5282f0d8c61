#include "update/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>

#include "platform/ProgramPath.h"

namespace velm {

std::shared_mutex FileLock;

namespace {

constexpr TDateTime kOneMinute = 1.0 / (24 * 60);
constexpr int kTempNameAttempts = 100;

[[noreturn]] void RaiseIo(const char* what, const std::string& path, int error) {
  throw EInOutError(std::string(what) + " \"" + path + "\": " + std::strerror(error), error);
}

// Closes the descriptor at the end of its scope.
class TFileHandle {
 public:
  explicit TFileHandle(int fd) : fFd(fd) {}
  ~TFileHandle() {
    if (fFd >= 0) ::close(fFd);
  }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
  int Get() const { return fFd; }
  // Closes now and reports the error close gives (a delayed write error shows up here).
  int Close() {
    const int r = ::close(fFd);
    fFd = -1;
    return r == 0 ? 0 : errno;
  }

 private:
  int fFd;
};

int OpenForReading(const std::string& path) {
  int fd;
  do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) RaiseIo("Cannot open file", path, errno);
  return fd;
}

// 0 on success, else the errno value.
int WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

// Reads up to limit bytes (all when limit is SIZE_MAX) into out, sized first for expected bytes;
// 0 on success, else errno.
int ReadUpTo(int fd, TByteBuffer& out, size_t limit, size_t expected) {
  out.resize(std::min(limit, expected + 1));
  size_t used = 0;
  while (used < limit) {
    if (out.size() == used) out.resize(std::min(limit, std::max<size_t>(used * 2, 65536)));
    const ssize_t n = ::read(fd, out.data() + used, out.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  out.resize(used);
  return 0;
}

// Size of a regular file, 0 for anything else (its bytes are read until the end anyway).
size_t SizeOf(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) : 0;
}

// Creates every missing folder of dir ("/a/b/c/").
void CreateFolders(const std::string& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
  for (size_t i = dir.find('/', 1); i != std::string::npos; i = dir.find('/', i + 1)) {
    const std::string part = dir.substr(0, i);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
      RaiseIo("Cannot create folder", part, errno);
  }
}

// A new temporary file beside the target: ".<name>.<pid>.<n>.tmp".
int CreateTempFile(const std::string& dir, const std::string& name, std::string& tempPath) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    tempPath = dir + "." + name + "." + std::to_string(::getpid()) + "." +
               std::to_string(counter.fetch_add(1)) + ".tmp";
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST && errno != EINTR) RaiseIo("Cannot create file", tempPath, errno);
  }
  RaiseIo("Cannot create file", tempPath, EEXIST);
}

}  // namespace

TDateTime GetFileDate(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return kNoFileDate;
  return UnixToLocalDateTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

bool SetFileDate(const std::string& path, TDateTime date) {
  time_t t;
  long nsec;
  if (!LocalDateTimeToUnix(date, t, nsec)) return false;
  // Opened for writing as Windows requires; O_NONBLOCK keeps a FIFO from
  // blocking the caller.
  TFileHandle file(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.Get() < 0) return false;
  const struct timespec times[2] = {{t, nsec}, {t, nsec}};
  return ::futimens(file.Get(), times) == 0;
}

bool SameFileDate(TDateTime a, TDateTime b) {
  return std::fabs(a - b) < kOneMinute;
}

void SaveStreamToFile(const TMemoryStream& stream, const std::string& path) {
  std::unique_lock lock(FileLock);
  const std::string full = ExpandFileName(path);
  const std::string dir = ExtractFilePath(full);
  const std::string name = ExtractFileName(full);
  if (name.empty()) RaiseIo("Cannot create file", full, EISDIR);
  CreateFolders(dir);

  std::string tempPath;
  TFileHandle temp(CreateTempFile(dir, name, tempPath));
  struct stat old {};
  int error = 0;
  if (::stat(full.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
      ::fchmod(temp.Get(), old.st_mode & 07777) != 0)
    error = errno;
  if (!error) error = WriteAll(temp.Get(), stream.Memory(), stream.Size());
  const int closeError = temp.Close();
  if (!error) error = closeError;
  if (!error && ::rename(tempPath.c_str(), full.c_str()) != 0) error = errno;
  if (error) {
    ::unlink(tempPath.c_str());
    RaiseIo("Cannot write file", full, error);
  }
}

std::unique_ptr<TMemoryStream> LoadFileToStream(const std::string& path) {
  TLocalFile file;
  if (!file.Open(path)) RaiseIo("Cannot open file", path, file.OpenError());
  return file.ReadAll();
}

std::string ReadFileStart(const std::string& path, size_t n) {
  TFileHandle file(OpenForReading(path));
  TByteBuffer bytes;
  if (const int error = ReadUpTo(file.Get(), bytes, n, SizeOf(file.Get())))
    RaiseIo("Cannot read file", path, error);
  return std::string(bytes.begin(), bytes.end());
}

TLocalFile::~TLocalFile() {
  if (fFd >= 0) ::close(fFd);
}

bool TLocalFile::Open(const std::string& path) {
  if (fFd >= 0) ::close(fFd);
  fFd = -1;
  do fFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  while (fFd < 0 && errno == EINTR);
  if (fFd < 0) {
    fOpenError = errno;
    return false;
  }
  struct stat st {};
  if (::fstat(fFd, &st) != 0 || !S_ISREG(st.st_mode)) {
    fOpenError = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fFd);
    fFd = -1;
    return false;
  }
  fSize = static_cast<size_t>(st.st_size);
  fDate = UnixToLocalDateTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  fPath = path;
  return true;
}

std::unique_ptr<TMemoryStream> TLocalFile::ReadAll() {
  std::shared_lock lock(FileLock);
  auto stream = std::make_unique<TMemoryStream>();
  TByteBuffer& bytes = stream->Bytes();
  bytes.resize(fSize);
  size_t used = 0;
  while (used < fSize) {
    const ssize_t n = ::pread(fFd, bytes.data() + used, fSize - used, static_cast<off_t>(used));
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseIo("Cannot read file", fPath, errno);
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  bytes.resize(used);
  return stream;
}

}  // namespace velm

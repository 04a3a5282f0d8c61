// Blocking TCP socket of the proxy: bind, listen, accept, connect, sends, line and block reads
// through its own read buffer, each read bounded by a time-out, and a last-error code in the
// Winsock numbering the proxy code tests for (10054 peer closed, 10060 timed out).
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace velm {

// Error codes of LastError. Other failures give other non-zero codes.
inline constexpr int kSockErrAddrInUse = 10048;
inline constexpr int kSockErrNoBuffers = 10055;  // a line longer than MaxLineLength
inline constexpr int kSockErrNotConnected = 10057;
inline constexpr int kSockErrConnReset = 10054;  // the peer has closed (or reset) the connection
inline constexpr int kSockErrTimedOut = 10060;
inline constexpr int kSockErrConnRefused = 10061;
inline constexpr int kSockErrHostNotFound = 11001;

inline constexpr int kInvalidSocket = -1;

// Holds SIGPIPE back for this thread while it lives, for the calls that have no flag against it
// (sendfile, splice); a SIGPIPE they raised is taken off again before the signal is let through.
class TSigPipeHeld {
 public:
  TSigPipeHeld();
  ~TSigPipeHeld();
  TSigPipeHeld(const TSigPipeHeld&) = delete;
  TSigPipeHeld& operator=(const TSigPipeHeld&) = delete;

 private:
  sigset_t fPrevious;
  bool fWasPending = false;
};

class TTCPBlockSocket {
 public:
  TTCPBlockSocket() = default;
  ~TTCPBlockSocket();
  TTCPBlockSocket(const TTCPBlockSocket&) = delete;
  TTCPBlockSocket& operator=(const TTCPBlockSocket&) = delete;

  // The system handle, kInvalidSocket while none is open.
  int Socket() const { return fSocket; }
  // Takes over an accepted handle (closing any handle held before).
  void SetSocket(int handle);
  void CloseSocket();
  int LastError() const { return fLastError; }
  void ResetLastError() { fLastError = 0; }

  // Listening side. Bind sets SO_REUSEADDR, so a restart right after a stop binds again, while a
  // port another listener holds still fails (kSockErrAddrInUse).
  void Bind(const std::string& ip, const std::string& port);
  // The port the socket is bound to (useful after binding port "0").
  int GetLocalPort() const;
  // Linger in milliseconds, applied in whole seconds as the system takes it.
  void SetLinger(bool enable, int lingerMs);
  void Listen();
  // Returns the accepted handle, or kInvalidSocket with LastError set.
  int Accept();

  // Client side: resolves host, connects (ConnectionTimeout ms when above 0) and sets TCP_NODELAY.
  void Connect(const std::string& host, const std::string& port);

  // Sends everything; waits up to SendTimeout ms (0: no limit) whenever the peer is not reading.
  void SendString(std::string_view data);
  void SendBuffer(const void* data, size_t size) {
    SendString(std::string_view(static_cast<const char*>(data), size));
  }

  // Sends count bytes of the open file fileFd from its start, straight from the page cache,
  // within SendTimeout like SendString. A file that ends early fails with the reset error.
  void SendFile(int fileFd, size_t count);

  // One line without its end, the whole line within timeoutMs. With ConvertLineEnd a line ends at
  // CR LF, LF or CR; without it only at CR LF. A line that grows past MaxLineLength (when above 0)
  // fails with kSockErrNoBuffers. On any failure returns "" with LastError set.
  std::string RecvString(int timeoutMs);
  // What is available: the buffered bytes, or else whatever arrives first within timeoutMs.
  std::string RecvPacket(int timeoutMs);
  // Exactly length bytes within timeoutMs; on failure returns what was not consumed as "" and
  // keeps the partial bytes buffered.
  std::string RecvBufferStr(size_t length, int timeoutMs);

  // Without waiting, up to capacity bytes into buffer: the buffered ones first, else what the
  // system holds. Returns the count; 0 when the peer has closed (LastError set); -1 when nothing
  // is waiting (LastError 0) or on an error (LastError set).
  ssize_t RecvSome(char* buffer, size_t capacity);

  // Moves up to piece bytes that can be read without waiting to `to`, through the pipe
  // (pipeFds: read end, write end) so that they never enter this process; buffered bytes go
  // first. Returns the count moved; 0 when this peer has closed; -1 when nothing was waiting
  // (LastError 0) or on an error (LastError set here or on `to`). The caller holds SIGPIPE back.
  ssize_t SpliceTo(TTCPBlockSocket& to, const int pipeFds[2], size_t piece);

  // Bytes that can be read without waiting: the read buffer plus what the system holds.
  size_t WaitingData() const;
  // Bytes read from the system and not yet consumed (read past a request head, for instance).
  size_t LineBufferSize() const { return fBuffer.size() - fBufferPos; }
  // True when a read would not wait (data buffered or the system reports readiness, which
  // includes a closed peer); false on time-out or error.
  bool CanRead(int timeoutMs);

  // Waits until a or b is readable. False on time-out (neither set) or error; the flags say
  // which one is readable (buffered data counts).
  static bool CanReadEither(TTCPBlockSocket& a, TTCPBlockSocket& b, int timeoutMs, bool& aReady,
                            bool& bReady);

  bool ConvertLineEnd = false;
  size_t MaxLineLength = 0;
  int SendTimeout = 0;
  int ConnectionTimeout = 0;

 private:
  // Reads once from the system into the buffer, waiting until the deadline (steady ms).
  bool FillBuffer(int64_t deadlineMs);
  // Waits until a send would not block, within SendTimeout's deadline; false with LastError
  // set on time-out or error.
  bool WaitWritable(int64_t deadlineMs);
  // One recv that does not wait; recv's result with errno.
  ssize_t RecvNow(char* buffer, size_t capacity);
  void SetErrorFromErrno(int err);
  std::string TakeBuffered(size_t count);
  void CompactBuffer();

  int fSocket = kInvalidSocket;
  int fLastError = 0;
  std::string fBuffer;
  size_t fBufferPos = 0;
  std::unique_ptr<char[]> fScratch;
  // A CR ended the last line at the end of the buffer; an LF right after it belongs to it.
  bool fSkipLeadingLF = false;
};

}  // namespace velm

// The relay's copy step on real loopback sockets: 64 MiB from a sender, through the copier under
// test, to a reader that drops it. The proxy's socket layer (exact 64 KiB pieces as a relayed
// body is copied; what is waiting, as a tunnel copies) next to a plain recv/send loop over one
// buffer allocated once.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/TCPBlockSocket.h"

using namespace velm;

namespace {

constexpr size_t kTotal = size_t{64} << 20;
constexpr size_t kPiece = 65536;
constexpr int kTimeoutMs = 120000;

// A connected loopback TCP pair.
void TcpPair(int& a, int& b) {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    std::abort();
  a = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) std::abort();
  b = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (b < 0) std::abort();
  ::close(listener);
  int one = 1;
  ::setsockopt(a, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::setsockopt(b, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void SendAll(int fd, size_t total) {
  std::vector<char> buf(kPiece, 'x');
  size_t sent = 0;
  while (sent < total) {
    ssize_t n = ::send(fd, buf.data(), std::min(kPiece, total - sent), MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += size_t(n);
  }
}

void DrainAll(int fd, size_t total) {
  std::vector<char> buf(1 << 18);
  size_t got = 0;
  while (got < total) {
    ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
    if (n <= 0) return;
    got += size_t(n);
  }
}

// One round: sender -> [in ... copier ... out] -> drain. The copier runs on the timed thread.
template <class TCopier>
void Round(benchmark::State& state, TCopier copy) {
  int senderFd, inFd, outFd, drainFd;
  TcpPair(senderFd, inFd);
  TcpPair(outFd, drainFd);
  std::thread sender(SendAll, senderFd, kTotal);
  std::thread drain(DrainAll, drainFd, kTotal);
  if (!copy(inFd, outFd)) state.SkipWithError("copy failed");
  sender.join();
  drain.join();
  for (int fd : {senderFd, drainFd}) ::close(fd);
}

void BM_RelaySockPieces(benchmark::State& state) {
  for (auto _ : state) {
    Round(state, [](int inFd, int outFd) {
      TTCPBlockSocket in, out;
      in.SetSocket(inFd);
      out.SetSocket(outFd);
      for (size_t done = 0; done < kTotal; done += kPiece) {
        std::string piece = in.RecvBufferStr(kPiece, kTimeoutMs);
        if (in.LastError() != 0) return false;
        out.SendString(piece);
        if (out.LastError() != 0) return false;
      }
      return true;
    });
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}
BENCHMARK(BM_RelaySockPieces)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TunnelSteps(benchmark::State& state) {
  for (auto _ : state) {
    Round(state, [](int inFd, int outFd) {
      TTCPBlockSocket in, out;
      in.SetSocket(inFd);
      out.SetSocket(outFd);
      // The tunnel's steps: wait for either side, one read into the piece buffer, send it on.
      std::vector<char> piece(kPiece);
      size_t done = 0;
      while (done < kTotal) {
        bool inReady = false, outReady = false;
        if (!TTCPBlockSocket::CanReadEither(in, out, kTimeoutMs, inReady, outReady)) return false;
        if (!inReady) continue;
        const ssize_t n = in.RecvSome(piece.data(), piece.size());
        if (n == 0 || in.LastError() != 0) return false;
        if (n < 0) continue;
        out.SendBuffer(piece.data(), size_t(n));
        if (out.LastError() != 0) return false;
        done += size_t(n);
      }
      return true;
    });
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}
BENCHMARK(BM_TunnelSteps)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainRecvSend(benchmark::State& state) {
  std::vector<char> buf(kPiece);
  for (auto _ : state) {
    Round(state, [&buf](int inFd, int outFd) {
      // Closing both ends, also on a failure, lets the sender and the reader finish.
      TTCPBlockSocket inOwner, outOwner;
      inOwner.SetSocket(inFd);
      outOwner.SetSocket(outFd);
      size_t done = 0;
      while (done < kTotal) {
        ssize_t n = ::recv(inFd, buf.data(), buf.size(), 0);
        if (n <= 0) return false;
        for (ssize_t sent = 0; sent < n;) {
          ssize_t m = ::send(outFd, buf.data() + sent, size_t(n - sent), MSG_NOSIGNAL);
          if (m <= 0) return false;
          sent += m;
        }
        done += size_t(n);
      }
      return true;
    });
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}
BENCHMARK(BM_PlainRecvSend)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

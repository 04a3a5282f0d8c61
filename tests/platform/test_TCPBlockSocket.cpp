#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/TCPBlockSocket.h"

using namespace velm;
using namespace std::chrono;

namespace {

// A connected pair on loopback: `client` connected by our socket, `server` the accepted side.
struct TSocketPair {
  TTCPBlockSocket listener, client, server;
  TSocketPair() {
    listener.Bind("127.0.0.1", "0");
    listener.Listen();
    client.Connect("127.0.0.1", std::to_string(listener.GetLocalPort()));
    server.SetSocket(listener.Accept());
  }
};

int64_t ElapsedMs(steady_clock::time_point since) {
  return duration_cast<milliseconds>(steady_clock::now() - since).count();
}

}  // namespace

TEST(TCPBlockSocket, ConnectsOverLoopbackWithNoDelay) {
  TSocketPair p;
  ASSERT_EQ(p.client.LastError(), 0);
  ASSERT_NE(p.server.Socket(), kInvalidSocket);
  for (TTCPBlockSocket* s : {&p.client, &p.server}) {
    int value = 0;
    socklen_t len = sizeof(value);
    ASSERT_EQ(getsockopt(s->Socket(), IPPROTO_TCP, TCP_NODELAY, &value, &len), 0);
    EXPECT_NE(value, 0);
  }
}

struct TLineCase {
  const char* name;
  std::vector<std::string> packets;
  bool convertLineEnd;
  std::vector<std::string> lines;
};

TEST(TCPBlockSocket, LineReadsEndAtCrLfLfOrCr) {
  const TLineCase cases[] = {
      {"mixed ends", {"a\r\nb\nc\rd\r\n"}, true, {"a", "b", "c", "d"}},
      {"empty lines", {"\r\n\r\nx\n\n"}, true, {"", "", "x", ""}},
      {"CR then LF in the next packet", {"a\r", "\nb\r\n"}, true, {"a", "b"}},
      {"line over three packets", {"GE", "T / HT", "TP/1.1\r\n"}, true, {"GET / HTTP/1.1"}},
      {"CR LF only without conversion", {"a\nb\rc\r\nd\r", "\n"}, false, {"a\nb\rc", "d"}},
  };
  for (const TLineCase& c : cases) {
    SCOPED_TRACE(c.name);
    TSocketPair p;
    p.client.ConvertLineEnd = c.convertLineEnd;
    size_t lineIndex = 0;
    for (const std::string& packet : c.packets) {
      p.server.SendString(packet);
      std::this_thread::sleep_for(milliseconds(20));
      // Read whatever lines this packet completes.
      while (lineIndex < c.lines.size()) {
        std::string line = p.client.RecvString(50);
        if (p.client.LastError() == kSockErrTimedOut) break;
        ASSERT_EQ(p.client.LastError(), 0);
        EXPECT_EQ(line, c.lines[lineIndex]);
        ++lineIndex;
      }
    }
    EXPECT_EQ(lineIndex, c.lines.size());
  }
}

TEST(TCPBlockSocket, ExactAndAvailableReadsShareTheLineBuffer) {
  TSocketPair p;
  p.client.ConvertLineEnd = true;
  p.server.SendString("CONNECT x:443 HTTP/1.1\r\n\r\n0123456789");
  EXPECT_EQ(p.client.RecvString(1000), "CONNECT x:443 HTTP/1.1");
  EXPECT_EQ(p.client.RecvString(1000), "");
  EXPECT_EQ(p.client.LineBufferSize(), 10u);
  EXPECT_EQ(p.client.WaitingData(), 10u);
  EXPECT_TRUE(p.client.CanRead(0));
  EXPECT_EQ(p.client.RecvBufferStr(4, 1000), "0123");
  EXPECT_EQ(p.client.RecvPacket(1000), "456789");
  EXPECT_EQ(p.client.LineBufferSize(), 0u);

  // An exact read waits for pieces that arrive later.
  std::thread sender([&] {
    for (int i = 0; i < 5; ++i) {
      p.server.SendString(std::string(30000, char('a' + i)));
      std::this_thread::sleep_for(milliseconds(10));
    }
  });
  std::string body = p.client.RecvBufferStr(150000, 5000);
  sender.join();
  ASSERT_EQ(p.client.LastError(), 0);
  ASSERT_EQ(body.size(), 150000u);
  EXPECT_EQ(body.substr(0, 3), "aaa");
  EXPECT_EQ(body.substr(149997), "eee");
}

TEST(TCPBlockSocket, TimeOutIsOneBudgetForTheWholeLine) {
  TSocketPair p;
  p.client.ConvertLineEnd = true;
  // A byte every 30 ms never completes the line; the 200 ms budget still runs out.
  std::atomic<bool> stop{false};
  std::thread trickle([&] {
    while (!stop) {
      p.server.SendString("x");
      std::this_thread::sleep_for(milliseconds(30));
    }
  });
  auto start = steady_clock::now();
  std::string line = p.client.RecvString(200);
  int64_t took = ElapsedMs(start);
  stop = true;
  trickle.join();
  EXPECT_EQ(line, "");
  EXPECT_EQ(p.client.LastError(), kSockErrTimedOut);
  EXPECT_GE(took, 190);
  EXPECT_LT(took, 1000);

  p.client.RecvPacket(100);  // drain
  p.client.RecvPacket(100);
  EXPECT_EQ(p.client.LastError(), kSockErrTimedOut);
  EXPECT_EQ(p.client.RecvBufferStr(1, 50), "");
  EXPECT_EQ(p.client.LastError(), kSockErrTimedOut);
  EXPECT_FALSE(p.client.CanRead(30));
  EXPECT_EQ(p.client.LastError(), 0);
}

TEST(TCPBlockSocket, PeerCloseGives10054OnEveryRead) {
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    TSocketPair p;
    p.client.ConvertLineEnd = true;
    p.server.SendString("partial");
    p.server.CloseSocket();
    std::string got;
    if (kind == 0) got = p.client.RecvString(1000);
    if (kind == 1) got = p.client.RecvBufferStr(100, 1000);
    if (kind == 2) {
      EXPECT_EQ(p.client.RecvPacket(1000), "partial");
      got = p.client.RecvPacket(1000);
    }
    EXPECT_EQ(got, "");
    EXPECT_EQ(p.client.LastError(), kSockErrConnReset);
    // A closed peer makes the socket readable with nothing waiting: how the tunnel sees the end.
    if (kind == 2) {
      EXPECT_TRUE(p.client.CanRead(0));
      EXPECT_EQ(p.client.WaitingData(), 0u);
    }
  }
}

TEST(TCPBlockSocket, LineLongerThanTheLimitFailsAtOnce) {
  TSocketPair p;
  p.client.ConvertLineEnd = true;
  p.client.MaxLineLength = 100;
  // One line over the limit arrives whole with its line end; a second never ends at all.
  p.server.SendString("short\r\n" + std::string(101, 'x') + "\r\nnext\r\n" + std::string(500, 'z'));
  EXPECT_EQ(p.client.RecvString(1000), "short");
  auto start = steady_clock::now();
  EXPECT_EQ(p.client.RecvString(5000), "");
  EXPECT_EQ(p.client.LastError(), kSockErrNoBuffers);
  EXPECT_LT(ElapsedMs(start), 2000);
  TSocketPair r;
  r.client.ConvertLineEnd = true;
  r.client.MaxLineLength = 100;
  r.server.SendString(std::string(500, 'z'));
  start = steady_clock::now();
  EXPECT_EQ(r.client.RecvString(5000), "");
  EXPECT_EQ(r.client.LastError(), kSockErrNoBuffers);
  EXPECT_LT(ElapsedMs(start), 2000);

  // A line of exactly the limit still passes.
  TSocketPair q;
  q.client.ConvertLineEnd = true;
  q.client.MaxLineLength = 100;
  q.server.SendString(std::string(100, 'y') + "\n");
  EXPECT_EQ(q.client.RecvString(1000), std::string(100, 'y'));
  EXPECT_EQ(q.client.LastError(), 0);
}

TEST(TCPBlockSocket, ListenerRebindsAfterStopButNotWhileHeld) {
  int port;
  {
    TTCPBlockSocket listener;
    listener.Bind("127.0.0.1", "0");
    listener.Listen();
    ASSERT_EQ(listener.LastError(), 0);
    port = listener.GetLocalPort();

    TTCPBlockSocket other;
    other.Bind("127.0.0.1", std::to_string(port));
    EXPECT_EQ(other.LastError(), kSockErrAddrInUse);
    other.Listen();
    EXPECT_NE(other.LastError(), 0);

    // The server side closes first, leaving its end in TIME_WAIT on this port.
    TTCPBlockSocket client, served;
    client.Connect("127.0.0.1", std::to_string(port));
    served.SetSocket(listener.Accept());
    served.SendString("bye");
    served.CloseSocket();
    client.RecvPacket(1000);
    client.RecvPacket(1000);
    client.CloseSocket();
    std::this_thread::sleep_for(milliseconds(50));
  }
  TTCPBlockSocket again;
  again.Bind("127.0.0.1", std::to_string(port));
  EXPECT_EQ(again.LastError(), 0);
  again.Listen();
  EXPECT_EQ(again.LastError(), 0);
  EXPECT_EQ(again.GetLocalPort(), port);
}

TEST(TCPBlockSocket, ConnectFailuresSetAnError) {
  int port;
  {
    TTCPBlockSocket probe;
    probe.Bind("127.0.0.1", "0");
    port = probe.GetLocalPort();
  }
  TTCPBlockSocket s;
  s.Connect("127.0.0.1", std::to_string(port));
  EXPECT_EQ(s.LastError(), kSockErrConnRefused);
  EXPECT_EQ(s.Socket(), kInvalidSocket);
  s.Connect("no-such-host.invalid", "80");
  EXPECT_NE(s.LastError(), 0);
  s.SendString("x");
  EXPECT_EQ(s.LastError(), kSockErrNotConnected);
}

TEST(TCPBlockSocket, WaitOnTwoSocketsSeesTheReadyOne) {
  TSocketPair a, b;
  bool ra = true, rb = true;
  EXPECT_FALSE(TTCPBlockSocket::CanReadEither(a.client, b.client, 50, ra, rb));
  EXPECT_FALSE(ra || rb);
  std::thread later([&] {
    std::this_thread::sleep_for(milliseconds(30));
    b.server.SendString("hello");
  });
  EXPECT_TRUE(TTCPBlockSocket::CanReadEither(a.client, b.client, 5000, ra, rb));
  later.join();
  EXPECT_FALSE(ra);
  EXPECT_TRUE(rb);
  EXPECT_EQ(b.client.WaitingData(), 5u);
}

TEST(TCPBlockSocket, SendWaitsForASlowReaderUpToItsTimeOut) {
  TSocketPair p;
  std::string big(4 << 20, 'z');
  std::string received;
  std::thread reader([&] {
    while (received.size() < big.size()) {
      std::string piece = p.client.RecvPacket(5000);
      if (p.client.LastError() != 0) break;
      received += piece;
    }
  });
  p.server.SendString(big);
  EXPECT_EQ(p.server.LastError(), 0);
  reader.join();
  EXPECT_EQ(received.size(), big.size());

  // Nobody reads: the send gives up after its time-out instead of blocking the worker forever.
  p.server.SendTimeout = 200;
  auto start = steady_clock::now();
  p.server.SendString(std::string(64 << 20, 'q'));
  EXPECT_EQ(p.server.LastError(), kSockErrTimedOut);
  EXPECT_LT(ElapsedMs(start), 3000);
}

// The loopback server is the ground truth of the network tests: it must record exactly what
// arrived and answer exactly what was scripted, on one connection when the client keeps it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/LoopbackHttpServer.h"

namespace velm::test {
namespace {

int ConnectTo(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  return fd;
}

std::string ReadExactly(int fd, size_t n) {
  std::string out;
  char buf[4096];
  while (out.size() < n) {
    ssize_t got = recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
    if (got <= 0) break;
    out.append(buf, static_cast<size_t>(got));
  }
  return out;
}

TEST(LoopbackHttpServer, RecordsRawRequestsAndAnswersScriptedBytesOnOneConnection) {
  TLoopbackHttpServer server;
  const std::string a = HttpAnswer("200 OK", "first");
  server.SetAnswer("/a", a);
  const std::string notFound = HttpAnswer("404 Not Found", "not found");

  int fd = ConnectTo(server.Port());
  const std::string post =
      "POST /a HTTP/1.0\r\nConnection: keep-alive\r\nContent-Length: 3\r\nX-Test:  v \r\n\r\nxyz";
  ASSERT_EQ(send(fd, post.data(), post.size(), 0), static_cast<ssize_t>(post.size()));
  EXPECT_EQ(ReadExactly(fd, a.size()), a);
  const std::string get = "GET /missing HTTP/1.0\n\n";
  ASSERT_EQ(send(fd, get.data(), get.size(), 0), static_cast<ssize_t>(get.size()));
  EXPECT_EQ(ReadExactly(fd, notFound.size()), notFound);
  close(fd);

  ASSERT_TRUE(server.WaitForRequests(2));
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Raw, post);
  EXPECT_EQ(requests[0].Method, "POST");
  EXPECT_EQ(requests[0].Target, "/a");
  EXPECT_EQ(requests[0].Body, "xyz");
  EXPECT_EQ(requests[0].Header("x-test"), "v");
  EXPECT_EQ(requests[1].Target, "/missing");
  EXPECT_EQ(requests[1].Connection, requests[0].Connection);
  EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST(LoopbackHttpServer, ForwardingModeRelaysAbsoluteTargetsToTheOrigin) {
  TLoopbackHttpServer origin, proxy;
  origin.SetAnswer("/file?x=1", HttpAnswer("200 OK", "payload"));
  proxy.SetForwarding(true);

  int fd = ConnectTo(proxy.Port());
  const std::string get = "GET " + origin.Url("/file?x=1") +
                          " HTTP/1.0\r\nProxy-Authorization: Basic eA==\r\nHost: h\r\n\r\n";
  ASSERT_EQ(send(fd, get.data(), get.size(), 0), static_cast<ssize_t>(get.size()));
  std::string answer = ReadExactly(fd, 1 << 16);
  close(fd);

  EXPECT_EQ(answer, HttpAnswer("200 OK", "payload"));
  ASSERT_EQ(origin.Requests().size(), 1u);
  EXPECT_EQ(origin.Requests()[0].Target, "/file?x=1");
  EXPECT_FALSE(origin.Requests()[0].HasHeader("Proxy-Authorization"));
  EXPECT_EQ(proxy.Requests()[0].Header("Proxy-Authorization"), "Basic eA==");
}

}  // namespace
}  // namespace velm::test

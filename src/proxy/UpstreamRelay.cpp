// Relaying a request to the site (or the upstream proxy) and its answer back to the browser,
// unchanged: the answer head is read only for the body length and the keep-alive decision.
#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "platform/Encoding.h"
#include "proxy/HttpProxyThread.h"

namespace velm {
namespace {

// Bodies from this size on are relayed through a pipe with splice, never entering the process.
constexpr int64_t kSpliceFrom = 64 * 1024;

// A pipe for moving pieces between two sockets; Ok() false when none could be made.
class TRelayPipe {
 public:
  TRelayPipe() {
    if (::pipe2(fFds, O_CLOEXEC) != 0) fFds[0] = fFds[1] = -1;
  }
  ~TRelayPipe() {
    if (Ok()) {
      ::close(fFds[0]);
      ::close(fFds[1]);
    }
  }
  TRelayPipe(const TRelayPipe&) = delete;
  TRelayPipe& operator=(const TRelayPipe&) = delete;
  bool Ok() const { return fFds[0] >= 0; }
  const int* Fds() const { return fFds; }

 private:
  int fFds[2];
};

}  // namespace
namespace {

// A chunk-size line: the text before the first space, then before the first ";", trimmed, read
// as hexadecimal; anything that is not a hexadecimal number counts as 0.
int64_t ChunkSize(const std::string& line) {
  std::string text = TrimBlanks(line.substr(0, line.find(' ')));
  text = TrimBlanks(text.substr(0, text.find(';')));
  if (text.empty() || text.size() > 15) return 0;
  int64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return 0;
    value = value * 16 + digit;
  }
  return value;
}

void SendErrorAnswer(TTCPBlockSocket& socket, const std::string& body, const std::string& code) {
  socket.SendString("HTTP/1.0 " + code + "\r\n");
  socket.SendString("Content-type: text/html\r\n");
  socket.SendString("Content-length: " + std::to_string(body.size()) + "\r\n");
  socket.SendString("proxy-Connection: close\r\n");
  socket.SendString("\r\n");
  socket.SendString(body);
}

}  // namespace

std::string THttpProxyThread::UpstreamHost() const {
  return transport.UseProxy ? transport.ProxyAddress : host;
}

std::string THttpProxyThread::UpstreamPort() const {
  return transport.UseProxy ? std::to_string(transport.ProxyPort) : port;
}

void THttpProxyThread::SendConnectError() {
  static const char* const kBefore[] = {"<html>", "<head><title>Connection error</title></head>",
                                        "<body>", "<H1>Connection error</H1>", "<P>"};
  static const char* const kAfter[] = {
      "<P>",    "Requested address is bad, or server is not accessible now.",
      "<P>",    "<H2>Error 502</H2>",
      "<P>",    "</body>",
      "</html>"};
  std::string body;
  for (const char* line : kBefore) body += std::string(line) + "\r\n";
  body += "Unable to connect with: " + UpstreamHost() + ":" + UpstreamPort() + "\r\n";
  for (const char* line : kAfter) body += std::string(line) + "\r\n";
  SendErrorAnswer(*sock, body, "502");
}

bool THttpProxyThread::ProcessQuery(TMemoryStream* store) {
  // The open upstream connection serves only the host and port it was opened for: a request
  // for another port of the same host must not reach the server behind the first one.
  // A tunnel always gets a connection of its own, never one that has carried requests.
  if (lastHost != host || lastPort != port || method == "CONNECT") querySock->CloseSocket();
  if (querySock->Socket() == kInvalidSocket) {
    querySock->Connect(UpstreamHost(), UpstreamPort());
    if (querySock->LastError() != 0) {
      SendConnectError();
      return false;
    }
    lastHost = host;
    lastPort = port;
  }

  if (method == "CONNECT") {
    // Through an upstream proxy the tunnel has to be asked of that proxy first.
    if (transport.UseProxy && !OpenProxyTunnel()) return false;
    sock->SendString(commandProtocol + " 200 Connection established\r\n\r\n");
    if (sock->LastError() == 0) RelayTunnel(*sock, *querySock);
    return false;
  }

  if (transport.UseProxy && transport.UseProxyAuth) {
    headers.insert(headers.begin() + 1,
                   "Proxy-Authorization: Basic " +
                       EncodeBase64(transport.ProxyUserName + ":" + transport.ProxyPassword));
  }
  querySock->SendString(HeadText(headers));
  if (querySock->LastError() != 0) return false;
  if (contentLength > 0 && !RelaySock(*sock, *querySock, nullptr, contentLength)) return false;

  std::string line;
  for (;;) {
    headers.clear();
    line = querySock->RecvString(timeout);
    if (querySock->LastError() != 0 || line.empty()) return false;
    headers.push_back(line);
    size_t space = line.find(' ');
    responseCommandProtocol = TrimBlanks(line.substr(0, space));
    std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    statusCode = static_cast<int>(StrToInt64Def(rest.substr(0, rest.find(' ')), 0));
    if (statusCode != 100) break;
    // An interim answer goes to the browser whole; the final answer follows.
    std::string interim = responseCommandProtocol + " " + rest + "\r\n";
    for (;;) {
      std::string h = querySock->RecvString(timeout);
      if (querySock->LastError() != 0) break;
      interim += h + "\r\n";
      if (h.empty()) break;
    }
    sock->SendString(interim);
  }
  if (!responseCommandProtocol.starts_with("HTTP/")) return false;

  contentLength = -1;
  bool chunked = false;
  for (;;) {
    line = querySock->RecvString(timeout);
    if (querySock->LastError() != 0) return false;
    if (line.empty()) break;
    if (headers.size() > kProxyMaxHeaderLines) return false;
    headers.push_back(line);
    const std::string upper = UpperCase(line);
    if (upper.starts_with("CONTENT-LENGTH:"))
      contentLength = StrToInt64Def(AfterFirstSpace(line), 0);
    else if (upper.starts_with("TRANSFER-ENCODING:") && upper.find("CHUNKED") != std::string::npos)
      chunked = true;
    else if (upper.starts_with("CONNECTION:") && upper.find("CLOSE") != std::string::npos)
      keepAlive = false;
  }
  if (!chunked && contentLength == -1) keepAlive = false;
  if (keepAlive && commandProtocol != "HTTP/1.1") keepAlive = false;

  sock->SendString(HeadText(headers));
  if (sock->LastError() != 0) return false;

  if (method == "HEAD") {
    // no body
  } else if (contentLength > 0) {
    if (!RelaySock(*querySock, *sock, store, contentLength)) return false;
  } else if (chunked) {
    // A chunked body cut off before its last chunk must not be kept as the file.
    if (!RelayChunks(store) && store) store->Clear();
  } else if (contentLength == -1 && method == "GET" && statusCode / 100 == 2) {
    for (;;) {
      std::string piece = querySock->RecvPacket(timeout);
      if (querySock->LastError() != 0) break;
      sock->SendString(piece);
      if (sock->LastError() != 0) break;
    }
  }
  return true;
}

bool THttpProxyThread::RelayChunks(TMemoryStream* store) {
  for (;;) {
    std::string line;
    for (;;) {
      line = querySock->RecvString(timeout);
      if (querySock->LastError() != 0) return false;
      sock->SendString(line + "\r\n");
      if (!line.empty()) break;
    }
    contentLength = ChunkSize(line);
    if (contentLength == 0) {
      for (size_t count = 0; count <= kProxyMaxHeaderLines; ++count) {
        std::string trailer = querySock->RecvString(timeout);
        if (querySock->LastError() != 0) return false;
        sock->SendString(trailer + "\r\n");
        if (trailer.empty()) return true;
      }
      return false;
    }
    if (!RelaySock(*querySock, *sock, store, contentLength)) return false;
  }
}

bool THttpProxyThread::RelaySock(TTCPBlockSocket& from, TTCPBlockSocket& to, TMemoryStream* store,
                                 int64_t size) {
  // A large body that is not kept goes from socket to socket in pieces through a pipe.
  if (!store && size >= kSpliceFrom) {
    TRelayPipe relayPipe;
    if (relayPipe.Ok()) {
      TSigPipeHeld heldBack;
      while (size > 0) {
        const int64_t piece = size > kRelayPieceSize ? kRelayPieceSize : size;
        const ssize_t n = from.SpliceTo(to, relayPipe.Fds(), static_cast<size_t>(piece));
        if (n > 0) {
          size -= n;
          continue;
        }
        if (n == 0 || from.LastError() != 0 || to.LastError() != 0) return false;
        if (!from.CanRead(timeout)) return false;
      }
      return true;
    }
  }
  while (size > 0) {
    int64_t piece = size > kRelayPieceSize ? kRelayPieceSize : size;
    std::string data = from.RecvBufferStr(static_cast<size_t>(piece), timeout);
    if (from.LastError() != 0) return false;
    if (store && !data.empty()) store->Write(data);
    to.SendString(data);
    if (to.LastError() != 0) return false;
    size -= piece;
  }
  return true;
}

bool THttpProxyThread::OpenProxyTunnel() {
  std::string target = host + ":" + port;
  std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
  if (transport.UseProxyAuth)
    request += "Proxy-Authorization: Basic " +
               EncodeBase64(transport.ProxyUserName + ":" + transport.ProxyPassword) + "\r\n";
  request += "\r\n";
  querySock->SendString(request);
  std::string status = querySock->RecvString(timeout);
  bool ok = querySock->LastError() == 0;
  std::string rest = AfterFirstSpace(status);
  int code = static_cast<int>(StrToInt64Def(rest.substr(0, rest.find(' ')), 0));
  for (size_t count = 0; ok; ++count) {
    std::string line = querySock->RecvString(timeout);
    if (querySock->LastError() != 0 || count > kProxyMaxHeaderLines) ok = false;
    if (line.empty()) break;
  }
  if (ok && status.starts_with("HTTP/") && code / 100 == 2) return true;
  SendConnectError();
  return false;
}

void THttpProxyThread::RelayTunnel(TTCPBlockSocket& client, TTCPBlockSocket& upstream) {
  if (client.LineBufferSize() > 0) {
    std::string early = client.RecvPacket(0);
    if (client.LastError() != 0) return;
    upstream.SendString(early);
    if (upstream.LastError() != 0) return;
  }
  // Each readable side moves one piece on before the other side is looked at: through a pipe,
  // so the bytes never come into this process, or, without one, through one piece buffer.
  TSigPipeHeld heldBack;
  TRelayPipe relayPipe;
  const bool spliced = relayPipe.Ok();
  std::unique_ptr<char[]> piece;
  if (!spliced) piece = std::make_unique_for_overwrite<char[]>(kRelayPieceSize);
  const size_t pieceSize = static_cast<size_t>(kRelayPieceSize);
  for (;;) {
    bool clientReady = false, upstreamReady = false;
    if (!TTCPBlockSocket::CanReadEither(client, upstream, timeout, clientReady, upstreamReady))
      break;
    struct {
      bool ready;
      TTCPBlockSocket& from;
      TTCPBlockSocket& to;
    } sides[] = {{clientReady, client, upstream}, {upstreamReady, upstream, client}};
    bool ended = false;
    for (auto& side : sides) {
      if (!side.ready) continue;
      if (spliced) {
        const ssize_t n = side.from.SpliceTo(side.to, relayPipe.Fds(), pieceSize);
        // Closed, or failed on either side; nothing moved without an error was a spurious wake-up.
        ended = n == 0 || side.from.LastError() != 0 || side.to.LastError() != 0;
      } else {
        const ssize_t n = side.from.RecvSome(piece.get(), pieceSize);
        ended = n == 0 || side.from.LastError() != 0;
        if (!ended && n > 0) {
          side.to.SendBuffer(piece.get(), static_cast<size_t>(n));
          ended = side.to.LastError() != 0;
        }
      }
      if (ended) break;
    }
    if (ended) break;
  }
}

}  // namespace velm

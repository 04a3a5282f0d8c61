#include "proxy/HttpProxyThread.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "app/AppSettings.h"
#include "app/Debug.h"
#include "platform/Encoding.h"

namespace velm {
namespace {

// Guards the hand-over of a connection to an idle worker.
std::mutex WorkerLock;
std::atomic<int> gRunningWorkers{0};

}  // namespace

THttpProxyThread::THttpProxyThread(int index, std::shared_ptr<TDebug> log, int timeoutMs)
    : fIndex(index), fLog(std::move(log)), timeout(timeoutMs) {}

THttpProxyThread::~THttpProxyThread() {
  // A connection assigned but never served is closed here.
  if (clientSocket != kInvalidSocket) {
    TTCPBlockSocket unused;
    unused.SetSocket(clientSocket);
  }
}

std::shared_ptr<THttpProxyThread> THttpProxyThread::Create(int index, std::shared_ptr<TDebug> log,
                                                           int timeoutMs) {
  auto worker = std::make_shared<THttpProxyThread>(index, std::move(log), timeoutMs);
  worker->fSelf = worker;
  // The thread owns a share of its object, so a worker still serving after the stop lives on
  // until its connection ends, then frees itself.
  ++gRunningWorkers;
  std::thread([worker]() mutable {
    worker->Execute();
    worker->fStopped = true;
    worker.reset();
    --gRunningWorkers;
  }).detach();
  return worker;
}

int RunningProxyWorkers() {
  return gRunningWorkers.load();
}

bool THttpProxyThread::AssignConnection(int socketHandle) {
  std::lock_guard<std::mutex> lock(WorkerLock);
  if (!fIdle) return false;
  clientSocket = socketHandle;
  headers.clear();
  proxyHeaders.clear();
  answerHeaders.clear();
  fIdle = false;
  workEvent.SetEvent();
  return true;
}

void THttpProxyThread::StopWorker() {
  fTerminated = true;
  stopEvent.SetEvent();
}

void THttpProxyThread::Execute() {
  for (;;) {
    fIdle = true;
    int which = -1;
    TEvent::WaitForEither(workEvent, stopEvent, -1, which);
    if (which != 0) break;
    workEvent.ResetEvent();
    ServeConnection();
    if (fTerminated) break;
  }
  // Ended: serving nothing. The listener has stopped before any worker is asked to end, so no
  // connection can be handed to it any more.
  fIdle = true;
}

void THttpProxyThread::ServeConnection() {
  try {
    sock = std::make_unique<TTCPBlockSocket>();
    querySock = std::make_unique<TTCPBlockSocket>();
    sock->SetSocket(clientSocket);
    clientSocket = kInvalidSocket;
    lastHost.clear();
    lastPort.clear();
    for (TTCPBlockSocket* s : {sock.get(), querySock.get()}) {
      s->ConvertLineEnd = true;
      s->MaxLineLength = kProxyMaxLineLength;
      // A peer that stops reading must not hold the worker for ever.
      s->SendTimeout = timeout;
      s->ConnectionTimeout = timeout;
    }
    for (;;) {
      int repeatCount = 1;
      bool ok = ProcessRequest();
      while (!ok && sock->LastError() == kSockErrConnReset && repeatCount < 10) {
        ++repeatCount;
        ok = ProcessRequest();
      }
      if (!ok) break;
      bool local = AppSettings && AppSettings->GetFile(path, uri, rootFolder);
      ok = local ? ProcessCache() : ProcessQuery(nullptr);
      if (!ok) break;
      if (querySock->LastError() != 0 || sock->LastError() != 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (!keepAlive || fTerminated) break;
    }
    sock.reset();
    querySock.reset();
  } catch (const std::exception& e) {
    sock.reset();
    querySock.reset();
    if (fLog) fLog->LogError(std::string("Exception in THttpProxyThread.Execute: ") + e.what());
  }
}

std::string HeadText(const TTextList& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  text += "\r\n";
  return text;
}

int64_t StrToInt64Def(const std::string& text, int64_t def) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return def;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return def;
    if (value > (INT64_MAX - (c - '0')) / 10) return def;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

std::string EncodeBase64(std::string_view data) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    uint32_t v = (uint8_t(data[i]) << 16) | (uint8_t(data[i + 1]) << 8) | uint8_t(data[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i + 1 == data.size()) {
    uint32_t v = uint8_t(data[i]) << 16;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == data.size()) {
    uint32_t v = (uint8_t(data[i]) << 16) | (uint8_t(data[i + 1]) << 8);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

void ParseURL(const std::string& url, std::string& prot, std::string& host, std::string& port,
              std::string& path, std::string& para) {
  prot = "http";
  std::string rest = url;
  size_t scheme = rest.find("://");
  if (scheme != std::string::npos) {
    prot = rest.substr(0, scheme);
    rest = rest.substr(scheme + 3);
  }
  port = SameText(prot, "https") ? "443" : "80";
  size_t slash = rest.find('/');
  size_t at = rest.find('@');
  if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
    rest = rest.substr(at + 1);  // user and password are not used
    slash = rest.find('/');
  }
  std::string authority = slash == std::string::npos ? rest : rest.substr(0, slash);
  std::string target = slash == std::string::npos ? "/" : rest.substr(slash);
  size_t colon = authority.find(':');
  if (colon != std::string::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  } else {
    host = authority;
  }
  size_t query = target.find('?');
  if (query != std::string::npos) {
    path = target.substr(0, query);
    para = target.substr(query + 1);
  } else {
    path = target;
    para.clear();
  }
}

}  // namespace velm

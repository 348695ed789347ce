#include "tests/support/http_test_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>

#include "tests/support/test_support.h"

namespace testing_support {

namespace {
const int kPollMs = 50;  // how often waiting threads look at the stop flag
const size_t kMaxRequestBytes = 1 << 20;

bool HasHeaderEnd(const std::string& bytes) {
  return bytes.find("\r\n\r\n") != std::string::npos || bytes.find("\n\n") != std::string::npos;
}

std::string PathOf(const std::string& request) {
  size_t start = request.find(' ');
  if (start == std::string::npos) return "";
  size_t end = request.find_first_of(" \r\n", start + 1);
  std::string target = request.substr(start + 1, end == std::string::npos ? std::string::npos
                                                                           : end - start - 1);
  // Absolute targets (as through a proxy) count by their path.
  if (target.compare(0, 7, "http://") == 0) {
    size_t slash = target.find('/', 7);
    target = slash == std::string::npos ? "/" : target.substr(slash);
  }
  return target;
}

// Waits until s is readable (or writable); false when the server stops.
bool WaitSocket(SOCKET s, bool for_write, const std::atomic<bool>& stopping) {
  while (!stopping) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv = {0, kPollMs * 1000};
    int r = select(0, for_write ? nullptr : &set, for_write ? &set : nullptr, nullptr, &tv);
    if (r > 0) return true;
    if (r < 0) return false;
  }
  return false;
}
}  // namespace

struct HttpTestServer::Connection {
  SOCKET socket = INVALID_SOCKET;
  size_t index = 0;
  std::thread thread;
};

HttpReply HttpReply::Canned(const std::string& bytes) {
  HttpReply r;
  r.chunks.push_back(bytes);
  return r;
}

HttpReply HttpReply::Chunks(const std::vector<std::string>& chunks, int pause_ms) {
  HttpReply r;
  r.chunks = chunks;
  r.pause_ms = pause_ms;
  return r;
}

HttpReply HttpReply::CloseWithoutData() { return HttpReply(); }

HttpReply HttpReply::NeverAnswer() {
  HttpReply r;
  r.hold_open = true;
  return r;
}

HttpReply HttpReply::Status(int code, const std::string& reason, const std::string& body,
                            const std::string& extra_headers) {
  return Canned("HTTP/1.1 " + std::to_string(code) + " " + reason + "\r\n" + extra_headers +
                "Content-Length: " + std::to_string(body.size()) +
                "\r\nConnection: close\r\n\r\n" + body);
}

HttpReply HttpReply::LargeBody(unsigned long long byte_count) {
  HttpReply r;
  r.chunks.push_back("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(byte_count) +
                     "\r\nConnection: close\r\n\r\n");
  r.generated_bytes = byte_count;
  return r;
}

char HttpReply::PatternByte(unsigned long long index) {
  // Period 251 (prime), so a shifted or repeated block shows.
  return static_cast<char>('!' + index % 251 % 90);
}

HttpTestServer::HttpTestServer(int a, int b) : address_(TestAddress(a, b)) {
  WSADATA data;
  wsa_started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (!wsa_started_) return;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return;
  BOOL on = TRUE;
  // A previous test's connections on this address may still be in TIME_WAIT.
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in at = {};
  at.sin_family = AF_INET;
  at.sin_port = htons(80);
  at.sin_addr.s_addr = inet_addr(address_.c_str());
  if (bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(s, 64) != 0) {
    closesocket(s);
    return;
  }
  listener_ = s;
  acceptor_ = std::thread(&HttpTestServer::AcceptLoop, this);
}

HttpTestServer::~HttpTestServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);  // no waiter misses the wake-up
    stopping_ = true;
  }
  changed_.notify_all();
  if (acceptor_.joinable()) acceptor_.join();
  if (listener_ != INVALID_SOCKET) closesocket(listener_);
  std::vector<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections.swap(connections_);
  }
  for (auto& c : connections) {
    if (c->thread.joinable()) c->thread.join();
    closesocket(c->socket);
  }
  if (wsa_started_) WSACleanup();
}

void HttpTestServer::AcceptLoop() {
  while (WaitSocket(listener_, false, stopping_)) {
    sockaddr_in peer = {};
    int peer_size = sizeof peer;
    SOCKET s = accept(listener_, reinterpret_cast<sockaddr*>(&peer), &peer_size);
    if (s == INVALID_SOCKET) continue;
    u_long nonblocking = 1;
    ioctlsocket(s, FIONBIO, &nonblocking);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!only_from_.empty() && only_from_ != inet_ntoa(peer.sin_addr)) {
      closesocket(s);
      continue;
    }
    connections_.emplace_back(new Connection);
    Connection* c = connections_.back().get();
    c->socket = s;
    c->index = requests_.size();
    requests_.emplace_back();
    c->thread = std::thread(&HttpTestServer::Serve, this, c);
    changed_.notify_all();
  }
}

bool HttpTestServer::PauseFor(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}

bool HttpTestServer::SendAll(SOCKET s, const char* data, size_t size) {
  while (size > 0) {
    int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
    int sent = send(s, data, chunk, 0);
    if (sent > 0) {
      data += sent;
      size -= sent;
      last_send_tick_ = GetTickCount();
      continue;
    }
    if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
      if (!WaitSocket(s, true, stopping_)) return false;
      continue;
    }
    return false;
  }
  return true;
}

HttpReply HttpTestServer::ChooseReply(const std::string& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& text : refused_) {
    if (request.find(text) != std::string::npos) return HttpReply::Status(404, "Not Found", "refused");
  }
  if (!queue_.empty()) {
    HttpReply r = queue_.front();
    queue_.erase(queue_.begin());
    return r;
  }
  if (script_) return *script_;
  std::string path = PathOf(request);
  path = path.substr(0, path.find('?'));
  auto found = paths_.find(path);
  if (found != paths_.end()) return found->second;
  return HttpReply::Status(404, "Not Found", "<html><body>404 Not Found</body></html>\r\n",
                           "Content-Type: text/html\r\n");
}

void HttpTestServer::Serve(Connection* c) {
  SOCKET s = c->socket;
  HttpReply reply;
  bool chosen = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!queue_.empty() && queue_.front().answer_before_request) {
      reply = queue_.front();
      queue_.erase(queue_.begin());
      chosen = true;
    }
  }
  std::string received;
  if (!chosen) {
    char buffer[4096];
    while (!HasHeaderEnd(received) && received.size() < kMaxRequestBytes &&
           WaitSocket(s, false, stopping_)) {
      int got = recv(s, buffer, sizeof buffer, 0);
      if (got == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
      if (got <= 0) break;
      received.append(buffer, got);
      std::lock_guard<std::mutex> lock(mutex_);
      requests_[c->index] = received;
    }
    if (stopping_) return;
    reply = ChooseReply(received);
  }
  for (size_t i = 0; i < reply.chunks.size(); ++i) {
    if (i > 0 && reply.pause_ms > 0 && !PauseFor(reply.pause_ms)) return;
    if (!SendAll(s, reply.chunks[i].data(), reply.chunks[i].size())) return;
  }
  if (reply.generated_bytes > 0) {
    // 251 * 1024 bytes: a whole number of pattern periods, so blocks repeat.
    static const std::string block = [] {
      std::string b(251 * 1024, '\0');
      for (size_t i = 0; i < b.size(); ++i) b[i] = HttpReply::PatternByte(i);
      return b;
    }();
    unsigned long long left = reply.generated_bytes;
    while (left > 0) {
      size_t n = static_cast<size_t>(std::min<unsigned long long>(left, block.size()));
      if (!SendAll(s, block.data(), n)) return;
      left -= n;
    }
  }
  if (reply.hold_open) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stopping_.load(); });
    return;
  }
  // Orderly close: the client reads everything, then sees the end.
  shutdown(s, SD_SEND);
  char drain[512];
  for (int i = 0; i < 20 && WaitSocket(s, false, stopping_); ++i) {
    if (recv(s, drain, sizeof drain, 0) <= 0) break;
  }
}

void HttpTestServer::ServeFile(const std::string& path, const std::string& body) {
  ServePath(path, HttpReply::Ok(body));
}

void HttpTestServer::ServePath(const std::string& path, const HttpReply& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  paths_[path] = reply;
}

void HttpTestServer::RemovePath(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  paths_.erase(path);
}

void HttpTestServer::SetScript(const HttpReply& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.reset(new HttpReply(reply));
}

void HttpTestServer::ClearScript() {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.reset();
}

void HttpTestServer::QueueReply(const HttpReply& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(reply);
}

void HttpTestServer::AcceptOnlyFrom(const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  only_from_ = address;
}

void HttpTestServer::RefuseRequestsContaining(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  refused_.push_back(text);
}

std::vector<std::string> HttpTestServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<std::string> HttpTestServer::Targets() {
  std::vector<std::string> targets;
  for (const std::string& r : Requests()) targets.push_back(PathOf(r));
  return targets;
}

int HttpTestServer::ConnectionCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(requests_.size());
}

bool HttpTestServer::WaitForConnections(int count, int timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return static_cast<int>(requests_.size()) >= count; });
}

}  // namespace testing_support

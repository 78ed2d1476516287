#include "testing/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

#include "platform/core/AsciiText.h"
#include "testing/IsolatedCacheFolder.h"

namespace velmora::testing {

namespace {
// Before any test makes the SDK's shared URL cache.
[[maybe_unused]] const bool cacheFolderIsolated = (isolateUserCacheFolder(), true);
}  // namespace

namespace {

constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;
constexpr int kPollMillis = 250;
// How many bytes a truncated reply declares beyond those it sends.
constexpr std::size_t kTruncateShortfall = 64;

using platform::equalsIgnoringAsciiCase;

bool containsIgnoreCase(std::string_view haystack, std::string_view needle) {
  if (needle.size() > haystack.size()) return false;
  for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
    if (equalsIgnoringAsciiCase(haystack.substr(i, needle.size()), needle)) return true;
  }
  return false;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

const char* reasonPhrase(int status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
  }
}

std::optional<std::string> findHeader(const std::vector<std::pair<std::string, std::string>>& headers,
                                      std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringAsciiCase(key, name)) return value;
  }
  return std::nullopt;
}

// Reads from one connection socket; gives up when the peer closes, on an error, or when the
// server stops (the wake descriptor turns readable).
class SocketReader {
 public:
  SocketReader(int fd, int wakeFd, const std::atomic<bool>& stop) : fd_(fd), wakeFd_(wakeFd), stop_(stop) {}

  // Appends more bytes to the buffer; false on EOF, error or stop.
  bool fill() {
    while (!stop_.load()) {
      pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
      int ready = ::poll(fds, 2, kPollMillis);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (ready == 0) continue;
      if (fds[1].revents != 0) return false;
      if (fds[0].revents == 0) continue;
      char chunk[16 * 1024];
      ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
    return false;
  }

  // A line ending in CRLF (or a bare LF), without its terminator.
  std::optional<std::string> line(std::size_t limit) {
    std::size_t searched = 0;
    for (;;) {
      std::size_t lf = buffer_.find('\n', searched);
      if (lf != std::string::npos) {
        std::size_t end = (lf > 0 && buffer_[lf - 1] == '\r') ? lf - 1 : lf;
        std::string result = buffer_.substr(0, end);
        buffer_.erase(0, lf + 1);
        return result;
      }
      searched = buffer_.size();
      if (buffer_.size() > limit || !fill()) return std::nullopt;
    }
  }

  std::optional<std::string> bytes(std::size_t n) {
    while (buffer_.size() < n) {
      if (!fill()) return std::nullopt;
    }
    std::string result = buffer_.substr(0, n);
    buffer_.erase(0, n);
    return result;
  }

 private:
  int fd_;
  int wakeFd_;
  const std::atomic<bool>& stop_;
  std::string buffer_;
};

bool sendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::optional<std::string> readChunkedBody(SocketReader& reader) {
  std::string body;
  for (;;) {
    auto sizeLine = reader.line(kMaxHeaderBytes);
    if (!sizeLine) return std::nullopt;
    std::string_view sizeText = trim(std::string_view(*sizeLine).substr(0, sizeLine->find(';')));
    if (sizeText.empty()) return std::nullopt;
    std::string digits(sizeText);
    char* end = nullptr;
    errno = 0;
    unsigned long long size = std::strtoull(digits.c_str(), &end, 16);
    if (errno != 0 || end != digits.c_str() + digits.size()) return std::nullopt;
    if (size == 0) break;
    if (size > kMaxBodyBytes - body.size()) return std::nullopt;
    auto data = reader.bytes(static_cast<std::size_t>(size));
    if (!data) return std::nullopt;
    body += *data;
    auto terminator = reader.line(2);
    if (!terminator || !terminator->empty()) return std::nullopt;
  }
  // Trailer fields, up to the empty line.
  for (;;) {
    auto trailer = reader.line(kMaxHeaderBytes);
    if (!trailer) return std::nullopt;
    if (trailer->empty()) return body;
  }
}

}  // namespace

struct LoopbackHttpServer::Connection {
  int fd = -1;
  std::thread thread;
  std::atomic<bool> finished{false};
};

std::optional<std::string> LoopbackHttpServer::RecordedRequest::header(std::string_view name) const {
  return findHeader(headers, name);
}

LoopbackHttpServer::LoopbackHttpServer() {
  defaultReply_.status = 404;

  auto fail = [this](const char* what) {
    std::error_code code(errno, std::generic_category());
    if (listenFd_ >= 0) ::close(listenFd_);
    if (wakeRead_ >= 0) ::close(wakeRead_);
    if (wakeWrite_ >= 0) ::close(wakeWrite_);
    throw std::system_error(code, what);
  };

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) fail("loopback server: pipe");
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];

  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) fail("loopback server: socket");
  int on = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fail("loopback server: bind");
  if (::listen(listenFd_, 1024) != 0) fail("loopback server: listen");
  socklen_t length = sizeof address;
  if (::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    fail("loopback server: getsockname");
  }
  port_ = ntohs(address.sin_port);

  acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stopFlag_.store(true);
  changed_.notify_all();
  char byte = 1;
  while (::write(wakeWrite_, &byte, 1) < 0 && errno == EINTR) {
  }
  if (acceptThread_.joinable()) acceptThread_.join();

  // The accept thread is gone, so the list no longer grows.
  std::vector<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard lock(mutex_);
    connections.swap(connections_);
  }
  for (auto& connection : connections) ::shutdown(connection->fd, SHUT_RDWR);
  for (auto& connection : connections) {
    if (connection->thread.joinable()) connection->thread.join();
    ::close(connection->fd);
  }
  ::close(listenFd_);
  ::close(wakeRead_);
  ::close(wakeWrite_);
}

std::string LoopbackHttpServer::baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

void LoopbackHttpServer::setReply(std::string target, Reply reply) {
  std::lock_guard lock(mutex_);
  replies_.insert_or_assign(std::move(target), std::move(reply));
}

void LoopbackHttpServer::setDefaultReply(Reply reply) {
  std::lock_guard lock(mutex_);
  defaultReply_ = std::move(reply);
}

std::vector<LoopbackHttpServer::RecordedRequest> LoopbackHttpServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool LoopbackHttpServer::waitForRequests(std::size_t n, std::chrono::milliseconds bound) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, bound, [&] { return requests_.size() >= n; });
}

void LoopbackHttpServer::setHandler(std::string target, Handler handler) {
  std::lock_guard lock(mutex_);
  handlers_[std::move(target)] = std::move(handler);
}

LoopbackHttpServer::Reply LoopbackHttpServer::replyFor(const RecordedRequest& request) const {
  const std::string& target = request.target;
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    if (auto it = handlers_.find(target); it != handlers_.end()) {
      handler = it->second;
    } else if (auto query = target.find('?'); query != std::string::npos) {
      if (auto q = handlers_.find(std::string_view(target).substr(0, query)); q != handlers_.end()) handler = q->second;
    }
  }
  if (handler) return handler(request);
  Handler fallback;
  {
    std::lock_guard lock(mutex_);
    if (auto it = replies_.find(target); it != replies_.end()) return it->second;
    if (auto query = target.find('?'); query != std::string::npos) {
      if (auto it = replies_.find(std::string_view(target).substr(0, query)); it != replies_.end()) return it->second;
    }
    if (!fallbackHandler_) return defaultReply_;
    fallback = fallbackHandler_;
  }
  return fallback(request);
}

void LoopbackHttpServer::setFallbackHandler(Handler handler) {
  std::lock_guard lock(mutex_);
  fallbackHandler_ = std::move(handler);
}

std::size_t LoopbackHttpServer::connectionsAccepted() const {
  std::lock_guard lock(mutex_);
  return connectionsAccepted_;
}

bool LoopbackHttpServer::waitForStop(std::chrono::milliseconds bound) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, bound, [&] { return stopping_; });
}

bool LoopbackHttpServer::waitForStop() const {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return stopping_; });
  return true;
}

void LoopbackHttpServer::reapFinishedLocked() {
  auto finished = std::stable_partition(connections_.begin(), connections_.end(),
                                        [](const auto& c) { return !c->finished.load(); });
  for (auto it = finished; it != connections_.end(); ++it) {
    (*it)->thread.join();
    ::close((*it)->fd);
  }
  connections_.erase(finished, connections_.end());
}

void LoopbackHttpServer::acceptLoop() {
  while (!stopFlag_.load()) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    int ready = ::poll(fds, 2, kPollMillis);
    {
      std::lock_guard lock(mutex_);
      reapFinishedLocked();
    }
    if (ready < 0 && errno != EINTR) return;
    if (ready <= 0) continue;
    if (fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;

    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // Replies go out in several writes; without this, Nagle's algorithm and the client's
    // delayed acknowledgement add tens of milliseconds to every exchange.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::lock_guard lock(mutex_);
    ++connectionsAccepted_;
    if (stopping_ || connections_.size() >= kMaxConnections) {
      ::close(fd);
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection* raw = connection.get();
    connections_.push_back(std::move(connection));
    raw->thread = std::thread([this, raw] {
      serve(*raw);
      // The descriptor stays open until the thread is joined so that its number cannot be
      // reused while someone else might still shut it down.
      ::shutdown(raw->fd, SHUT_RDWR);
      raw->finished.store(true);
    });
  }
}

void LoopbackHttpServer::serve(Connection& connection) {
  SocketReader reader(connection.fd, wakeRead_, stopFlag_);
  for (;;) {
    // Request line; tolerate stray empty lines between requests.
    std::optional<std::string> requestLine;
    do {
      requestLine = reader.line(kMaxHeaderBytes);
      if (!requestLine) return;
    } while (requestLine->empty());

    RecordedRequest request;
    std::string_view lineView(*requestLine);
    std::size_t firstSpace = lineView.find(' ');
    std::size_t lastSpace = lineView.rfind(' ');
    if (firstSpace == std::string_view::npos || lastSpace == firstSpace) return;
    request.method = std::string(lineView.substr(0, firstSpace));
    request.target = std::string(trim(lineView.substr(firstSpace + 1, lastSpace - firstSpace - 1)));
    std::string version(lineView.substr(lastSpace + 1));

    std::size_t headerBytes = 0;
    for (;;) {
      auto headerLine = reader.line(kMaxHeaderBytes);
      if (!headerLine) return;
      if (headerLine->empty()) break;
      headerBytes += headerLine->size();
      if (headerBytes > kMaxHeaderBytes) return;
      std::size_t colon = headerLine->find(':');
      if (colon == std::string::npos) return;
      std::string_view view(*headerLine);
      request.headers.emplace_back(std::string(view.substr(0, colon)), std::string(trim(view.substr(colon + 1))));
    }

    auto expect = request.header("Expect");
    if (expect && equalsIgnoringAsciiCase(trim(*expect), "100-continue")) {
      if (!sendAll(connection.fd, "HTTP/1.1 100 Continue\r\n\r\n")) return;
    }

    auto transferEncoding = request.header("Transfer-Encoding");
    if (transferEncoding && containsIgnoreCase(*transferEncoding, "chunked")) {
      auto body = readChunkedBody(reader);
      if (!body) return;
      request.body = std::move(*body);
    } else if (auto contentLength = request.header("Content-Length")) {
      std::string digits(trim(*contentLength));
      char* end = nullptr;
      errno = 0;
      unsigned long long length = std::strtoull(digits.c_str(), &end, 10);
      if (digits.empty() || errno != 0 || end != digits.c_str() + digits.size() || length > kMaxBodyBytes) return;
      auto body = reader.bytes(static_cast<std::size_t>(length));
      if (!body) return;
      request.body = std::move(*body);
    }

    auto connectionHeader = request.header("Connection");
    bool keepAlive = version == "HTTP/1.0" ? (connectionHeader && containsIgnoreCase(*connectionHeader, "keep-alive"))
                                           : !(connectionHeader && containsIgnoreCase(*connectionHeader, "close"));
    bool isHead = request.method == "HEAD";
    Reply reply = replyFor(request);

    {
      std::lock_guard lock(mutex_);
      if (requests_.size() < kMaxRequests) requests_.push_back(std::move(request));
    }
    changed_.notify_all();

    if (reply.delay.count() > 0 && waitForStop(reply.delay)) return;

    switch (reply.mode) {
      case Reply::Mode::Close:
        return;
      case Reply::Mode::Stall:
        waitForStop();
        return;
      case Reply::Mode::Raw:
        sendAll(connection.fd, reply.body);
        return;
      case Reply::Mode::Reset: {
        // Disconnecting an established TCP socket (connect with AF_UNSPEC) aborts it with
        // RST at once, while the descriptor itself stays open until the thread is joined.
        struct linger abort {};
        abort.l_onoff = 1;
        abort.l_linger = 0;
        ::setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        sockaddr unspecified{};
        unspecified.sa_family = AF_UNSPEC;
        ::connect(connection.fd, &unspecified, sizeof unspecified);
        return;
      }
      case Reply::Mode::StallAfterHeaders:
      case Reply::Mode::Normal:
      case Reply::Mode::Truncate:
        break;
    }

    bool truncate = reply.mode == Reply::Mode::Truncate;
    if (truncate) keepAlive = false;
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reasonPhrase(reply.status) + "\r\n";
    for (const auto& [name, value] : reply.headers) {
      if (truncate && equalsIgnoringAsciiCase(name, "Content-Length")) continue;
      head += name + ": " + value + "\r\n";
    }
    if (!findHeader(reply.headers, "Content-Type")) head += "Content-Type: application/json\r\n";
    if (truncate) {
      head += "Content-Length: " + std::to_string(reply.body.size() + kTruncateShortfall) + "\r\n";
    } else if (!findHeader(reply.headers, "Content-Length")) {
      head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    }
    if (!keepAlive) head += "Connection: close\r\n";
    head += "\r\n";

    if (!sendAll(connection.fd, head)) return;
    if (reply.mode == Reply::Mode::StallAfterHeaders) {
      waitForStop();
      return;
    }
    if (!isHead && reply.trickleBytes > 0) {
      std::string_view rest(reply.body);
      while (!rest.empty()) {
        const std::string_view piece = rest.substr(0, reply.trickleBytes);
        if (!sendAll(connection.fd, piece)) return;
        rest.remove_prefix(piece.size());
        if (!rest.empty() && waitForStop(reply.trickleInterval)) return;
      }
    } else if (!isHead && !sendAll(connection.fd, reply.body)) {
      return;
    }
    if (!keepAlive) return;
  }
}

}  // namespace velmora::testing

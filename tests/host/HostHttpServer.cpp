#include "HostHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace hostsuite {

HostHttpServer::HostHttpServer() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 64) != 0) {
    ::close(listener_);
    throw std::runtime_error("bind/listen");
  }
  socklen_t length = sizeof address;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve(); });
}

HostHttpServer::~HostHttpServer() {
  stopping_ = true;
  thread_.join();
  ::close(listener_);
}

std::string HostHttpServer::baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

void HostHttpServer::handle(std::string path, Handler handler) {
  std::lock_guard lock(mutex_);
  handlers_[std::move(path)] = std::move(handler);
}

std::vector<HostHttpServer::Request> HostHttpServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t HostHttpServer::count(const std::string& path) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(requests_.begin(), requests_.end(), [&](const Request& r) { return r.path == path; }));
}

void HostHttpServer::serve() {
  while (!stopping_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    answer(fd);
    ::close(fd);
  }
}

namespace {

// Reads until the predicate holds or the peer goes quiet for two seconds.
template <class Done>
bool readUntil(int fd, std::string& data, Done done) {
  char buffer[4096];
  while (!done()) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 2000) <= 0) return false;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "+" stays itself: the SDK percent-encodes it in query values.
std::string percentDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::map<std::string, std::string> parseQuery(const std::string& query) {
  std::map<std::string, std::string> out;
  std::size_t start = 0;
  while (start < query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string pair = query.substr(start, end - start);
    const std::size_t eq = pair.find('=');
    if (!pair.empty()) {
      out[percentDecode(pair.substr(0, eq))] = eq == std::string::npos ? "" : percentDecode(pair.substr(eq + 1));
    }
    start = end + 1;
  }
  return out;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

void HostHttpServer::answer(int fd) {
  std::string data;
  if (!readUntil(fd, data, [&] { return data.find("\r\n\r\n") != std::string::npos; })) return;
  const std::size_t headEnd = data.find("\r\n\r\n");
  Request request;
  std::size_t lineEnd = data.find("\r\n");
  const std::string requestLine = data.substr(0, lineEnd);
  const std::size_t sp1 = requestLine.find(' ');
  const std::size_t sp2 = requestLine.find(' ', sp1 + 1);
  request.method = requestLine.substr(0, sp1);
  std::string target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
  request.path = target.substr(0, target.find('?'));
  if (const std::size_t q = target.find('?'); q != std::string::npos) request.query = parseQuery(target.substr(q + 1));
  std::size_t at = lineEnd + 2;
  while (at < headEnd) {
    const std::size_t end = data.find("\r\n", at);
    const std::string line = data.substr(at, end - at);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      request.headers[lower(line.substr(0, colon))] = value;
    }
    at = end + 2;
  }
  std::size_t length = 0;
  if (auto it = request.headers.find("content-length"); it != request.headers.end()) length = std::stoul(it->second);
  if (!readUntil(fd, data, [&] { return data.size() >= headEnd + 4 + length; })) return;
  request.body = data.substr(headEnd + 4, length);

  Handler handler;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    if (auto it = handlers_.find(request.path); it != handlers_.end()) handler = it->second;
  }
  Reply reply = handler ? handler(request) : Reply{404, ""};
  const std::string text = "HTTP/1.1 " + std::to_string(reply.status) + (reply.status == 200 ? " OK" : " Error") +
                           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(reply.body.size()) +
                           "\r\nConnection: close\r\n\r\n" + reply.body;
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

}  // namespace hostsuite

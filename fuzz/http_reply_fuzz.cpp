// Feeds arbitrary bytes to the URL session as the whole reply of a loopback server: status
// line, headers, framing and body as the engine reads them off the socket. Nothing may
// crash; every exchange ends in exactly one reply, and the reply keeps its promises: a
// response comes with data and no error, an error with neither, and no body passes the cap.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "platform/net/URLSession.h"

namespace {

constexpr std::size_t kCap = 16 * 1024;

// Answers each connection with the current input, byte for byte, then closes it.
class RawReplyServer {
 public:
  RawReplyServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 16) != 0) {
      std::abort();
    }
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    std::thread([this] { serve(); }).detach();  // lives as long as the fuzzing process
  }

  int port() const { return port_; }

  void setReply(std::string reply) {
    std::lock_guard lock(mutex_);
    reply_ = std::move(reply);
  }

 private:
  void serve() {
    for (;;) {
      const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      // Read the request head so that the reply cannot race ahead of it.
      std::string head;
      char buffer[4096];
      while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 2000) <= 0) break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        head.append(buffer, static_cast<std::size_t>(n));
      }
      std::string reply;
      {
        std::lock_guard lock(mutex_);
        reply = reply_;
      }
      std::string_view rest(reply);
      while (!rest.empty()) {
        const ssize_t n = ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
        if (n <= 0) break;
        rest.remove_prefix(static_cast<std::size_t>(n));
      }
      ::shutdown(fd, SHUT_RDWR);
      ::close(fd);
    }
  }

  int listenFd_ = -1;
  int port_ = 0;
  std::mutex mutex_;
  std::string reply_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static RawReplyServer* server = new RawReplyServer();
  static auto* session = new std::shared_ptr<velmora::platform::net::URLSession>(
      velmora::platform::net::URLSession::create({.maximumResponseBytes = kCap}));
  server->setReply(std::string(reinterpret_cast<const char*>(data), size));

  // The server closes after every reply, so no exchange waits for the time-out; it is
  // there for a reply that makes the engine wait for more than the server sends.
  const velmora::platform::net::URLSessionReply reply = (*session)->sendSynchronousRequest(
      {.url = "http://127.0.0.1:" + std::to_string(server->port()) + "/fuzz", .timeoutSeconds = 2});
  if (reply.error) {
    if (reply.response || reply.data) std::abort();
  } else {
    if (!reply.response || !reply.data) std::abort();
    if (reply.data->size() > kCap) std::abort();
  }
  return 0;
}

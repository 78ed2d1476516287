#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hostsuite {

// A small HTTP/1.1 server on 127.0.0.1 and an ephemeral port, as a host's own tests would
// write one: each connection carries one request (the reply closes it); every request is
// recorded; a path answers through its handler, anything else 404.
class HostHttpServer {
 public:
  struct Request {
    std::string method;
    std::string path;  // without the query
    std::map<std::string, std::string> query;  // names and values percent-decoded
    std::map<std::string, std::string> headers;  // names lower-cased
    std::string body;
  };
  struct Reply {
    int status = 200;
    std::string body;
  };
  using Handler = std::function<Reply(const Request&)>;

  HostHttpServer();
  ~HostHttpServer();
  HostHttpServer(const HostHttpServer&) = delete;
  HostHttpServer& operator=(const HostHttpServer&) = delete;

  std::string baseUrl() const;
  void handle(std::string path, Handler handler);
  std::vector<Request> requests() const;
  std::size_t count(const std::string& path) const;

 private:
  void serve();
  void answer(int fd);

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::map<std::string, Handler> handlers_;
  std::vector<Request> requests_;
  std::thread thread_;
};

}  // namespace hostsuite

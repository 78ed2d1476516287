#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace velmora::testing {

// A small HTTP/1.1 server for tests, listening on 127.0.0.1 with an ephemeral port.
//
// It records every request exactly as it arrived (raw request-target, headers in order with their
// names as sent) and answers with scripted replies. One thread accepts connections and each
// connection gets a thread of its own; keep-alive connections serve several requests. The
// destructor stops everything promptly, including replies that are delayed or stalled.
// It is a socket server of its own rather than a library's so that the request line is seen
// byte for byte: no decoding or normalising of the target.
class LoopbackHttpServer {
 public:
  struct RecordedRequest {
    std::string method;
    // The request-target exactly as sent, e.g. "//v4.0/user/login?x=1".
    std::string target;
    // In the order received, names as sent, empty values kept.
    std::vector<std::pair<std::string, std::string>> headers;
    // Decoded body (Content-Length or chunked).
    std::string body;

    // Value of the first header with this name, compared case-insensitively.
    std::optional<std::string> header(std::string_view name) const;
  };

  struct Reply {
    int status = 200;
    std::string body;
    // Sent in this order. Content-Type defaults to "application/json" when not given here;
    // Content-Length is computed unless given here.
    std::vector<std::pair<std::string, std::string>> headers;
    // Wait this long before answering (cut short when the server stops).
    std::chrono::milliseconds delay{0};
    enum class Mode {
      Normal,
      Truncate,  // declare a Content-Length larger than the bytes sent, send the body, then close
      Close,     // close the connection without sending anything
      Stall,     // never answer; the connection is released when the server stops
      StallAfterHeaders,  // send the status line and headers, then nothing more until the server stops
      Raw,       // send `body` as the whole reply, status line included, byte for byte, then close
      Reset,     // abort the connection with a TCP reset (RST) instead of answering
    } mode = Mode::Normal;
    // With trickleBytes > 0, the body goes out trickleBytes at a time, trickleInterval apart.
    std::size_t trickleBytes = 0;
    std::chrono::milliseconds trickleInterval{0};
  };

  // Starts listening; throws std::system_error when the socket cannot be set up.
  LoopbackHttpServer();
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>"
  std::string baseUrl() const;

  // Reply for one target. A request matches when its raw target equals `target`, or when its
  // target without the query string does.
  void setReply(std::string target, Reply reply);
  // Computes the reply for one target from the request (its body, say). A handler takes
  // precedence over a fixed reply for the same target and is matched the same way. It runs
  // on the connection's thread, outside the server's lock.
  using Handler = std::function<Reply(const RecordedRequest& request)>;
  void setHandler(std::string target, Handler handler);
  // Reply for every target without a reply of its own; initially 404 with an empty body.
  void setDefaultReply(Reply reply);
  // Computes the reply for every target without a reply or handler of its own, in place of
  // the default reply (fakes that route on the path themselves). Runs like a handler.
  void setFallbackHandler(Handler handler);

  // Every request received so far, in the order they were completely read.
  std::vector<RecordedRequest> requests() const;
  // Waits until at least `n` requests were received or `bound` elapsed; true when they were.
  bool waitForRequests(std::size_t n, std::chrono::milliseconds bound) const;
  // Connections accepted so far, whether or not a request came over them.
  std::size_t connectionsAccepted() const;

 private:
  struct Connection;

  void acceptLoop();
  void serve(Connection& connection);
  void reapFinishedLocked();
  Reply replyFor(const RecordedRequest& request) const;
  // Waits until the server stops or `bound` elapses; true when the server is stopping.
  bool waitForStop(std::chrono::milliseconds bound) const;
  bool waitForStop() const;

  // Bounds: connections beyond kMaxConnections open at once are closed at once, and only the
  // first kMaxRequests requests are recorded (later ones are still answered), so a long
  // benchmark run keeps its memory flat.
  static constexpr std::size_t kMaxConnections = 1024;
  static constexpr std::size_t kMaxRequests = 10'000;

  int listenFd_ = -1;
  int wakeRead_ = -1;   // readable once the server stops
  int wakeWrite_ = -1;
  int port_ = 0;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::atomic<bool> stopFlag_{false};
  std::vector<RecordedRequest> requests_;
  std::size_t connectionsAccepted_ = 0;
  std::map<std::string, Reply, std::less<>> replies_;
  std::map<std::string, Handler, std::less<>> handlers_;
  Handler fallbackHandler_;
  Reply defaultReply_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::thread acceptThread_;
};

}  // namespace velmora::testing

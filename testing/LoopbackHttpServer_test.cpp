#include "testing/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;
using Headers = std::vector<std::pair<std::string, std::string>>;
using Reply = LoopbackHttpServer::Reply;

// A bare client socket so that these tests depend on nothing but the server itself.
class RawClient {
 public:
  explicit RawClient(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    connected_ = fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return connected_; }

  // Whether anything arrived that has not been read yet; does not wait.
  bool hasBytesWaiting() {
    if (!buffer_.empty()) return true;
    pollfd pfd{fd_, POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0;
  }

  bool send(std::string_view data) {
    while (!data.empty()) {
      ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  // Reads whatever arrives until the server closes or `bound` elapses; `eof` tells which.
  std::string readUntilClose(bool& eof, std::chrono::milliseconds bound = 5s) {
    eof = false;
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (readSome(deadline)) {
    }
    eof = eof_;
    std::string all;
    all.swap(buffer_);
    return all;
  }

  // Waits until a whole header block has arrived, leaving it unread.
  bool waitForHead(std::chrono::milliseconds bound = 5s) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (buffer_.find("\r\n\r\n") == std::string::npos) {
      if (!readSome(deadline)) return false;
    }
    return true;
  }

  struct Response {
    int status = 0;
    Headers headers;
    std::string body;
    std::optional<std::string> header(std::string_view name) const {
      for (const auto& [key, value] : headers) {
        if (key.size() == name.size() && ::strncasecmp(key.data(), name.data(), name.size()) == 0) return value;
      }
      return std::nullopt;
    }
  };

  // One response framed by its Content-Length; nullopt when it does not arrive complete within `bound`.
  std::optional<Response> readResponse(std::chrono::milliseconds bound = 5s) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    std::size_t headEnd;
    while ((headEnd = buffer_.find("\r\n\r\n")) == std::string::npos) {
      if (!readSome(deadline)) return std::nullopt;
    }
    Response response;
    std::string head = buffer_.substr(0, headEnd);
    std::size_t lineEnd = head.find("\r\n");
    std::string statusLine = head.substr(0, lineEnd);
    if (statusLine.rfind("HTTP/1.1 ", 0) != 0) return std::nullopt;
    response.status = std::atoi(statusLine.c_str() + 9);
    while (lineEnd != std::string::npos) {
      std::size_t start = lineEnd + 2;
      lineEnd = head.find("\r\n", start);
      std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
      std::size_t colon = line.find(':');
      std::size_t valueStart = line.find_first_not_of(' ', colon + 1);
      response.headers.emplace_back(line.substr(0, colon),
                                    valueStart == std::string::npos ? std::string() : line.substr(valueStart));
    }
    std::size_t length = std::stoul(response.header("Content-Length").value_or("0"));
    while (buffer_.size() < headEnd + 4 + length) {
      if (!readSome(deadline)) return std::nullopt;
    }
    response.body = buffer_.substr(headEnd + 4, length);
    buffer_.erase(0, headEnd + 4 + length);
    return response;
  }

 private:
  bool readSome(std::chrono::steady_clock::time_point deadline) {
    if (eof_) return false;
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd pfd{fd_, POLLIN, 0};
      int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
      if (ready <= 0) continue;
      char chunk[4096];
      ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) {
        eof_ = true;
        return false;
      }
      buffer_.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
  }

  int fd_ = -1;
  bool connected_ = false;
  bool eof_ = false;
  std::string buffer_;
};

TEST(LoopbackHttpServer, ListensOnLoopbackWithAnEphemeralPort) {
  LoopbackHttpServer a;
  LoopbackHttpServer b;
  EXPECT_GT(a.port(), 0);
  EXPECT_NE(a.port(), b.port());
  EXPECT_EQ(a.baseUrl(), "http://127.0.0.1:" + std::to_string(a.port()));
}

TEST(LoopbackHttpServer, RecordsRawTargetHeadersInOrderAndBodyByContentLength) {
  LoopbackHttpServer server;
  RawClient client(server.port());
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.send(
      "POST //v4.0/user/login?lang=en&x=%2F HTTP/1.1\r\n"
      "Host: 127.0.0.1\r\n"
      "X-Empty:\r\n"
      "x-Custom-Case: First\r\n"
      "X-CUSTOM-CASE: Second\r\n"
      "Content-Length: 11\r\n"
      "\r\n"
      "{\"a\":\"b c\"}"));
  auto response = client.readResponse();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 404);
  EXPECT_EQ(response->body, "");

  auto recorded = server.requests();
  ASSERT_EQ(recorded.size(), 1u);
  const auto& request = recorded[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "//v4.0/user/login?lang=en&x=%2F");
  EXPECT_EQ(request.headers, (Headers{{"Host", "127.0.0.1"},
                                      {"X-Empty", ""},
                                      {"x-Custom-Case", "First"},
                                      {"X-CUSTOM-CASE", "Second"},
                                      {"Content-Length", "11"}}));
  EXPECT_EQ(request.body, "{\"a\":\"b c\"}");
  EXPECT_EQ(request.header("X-Custom-Case"), "First");
  EXPECT_EQ(request.header("x-empty"), "");
  EXPECT_EQ(request.header("Authorization"), std::nullopt);
}

TEST(LoopbackHttpServer, DecodesChunkedBodies) {
  LoopbackHttpServer server;
  RawClient client(server.port());
  ASSERT_TRUE(client.send(
      "PUT /upload HTTP/1.1\r\n"
      "Transfer-Encoding: chunked\r\n"
      "\r\n"
      "5\r\nhello\r\n"
      "C;ext=1\r\n, chunked!!!\r\n"
      "0\r\n"
      "X-Trailer: t\r\n"
      "\r\n"
      "GET /after HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(client.readResponse());
  ASSERT_TRUE(client.readResponse());
  auto recorded = server.requests();
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[0].body, "hello, chunked!!!");
  EXPECT_EQ(recorded[1].target, "/after");
  EXPECT_EQ(recorded[1].body, "");
}

TEST(LoopbackHttpServer, ServesSeveralRequestsOnOneKeepAliveConnectionUntilConnectionClose) {
  LoopbackHttpServer server;
  server.setReply("/one", Reply{.status = 200, .body = "1"});
  server.setReply("/two", Reply{.status = 201, .body = "22"});
  RawClient client(server.port());

  ASSERT_TRUE(client.send("GET /one HTTP/1.1\r\nHost: h\r\n\r\n"));
  auto first = client.readResponse();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->body, "1");
  EXPECT_EQ(first->header("Connection"), std::nullopt);

  // The second request goes out only after the first reply: it is the same connection that answers.
  ASSERT_TRUE(client.send("POST /two HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"));
  auto second = client.readResponse();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->status, 201);
  EXPECT_EQ(second->body, "22");

  ASSERT_TRUE(client.send("GET /one HTTP/1.1\r\nConnection: close\r\n\r\n"));
  auto last = client.readResponse();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->header("Connection"), "close");
  bool eof = false;
  EXPECT_EQ(client.readUntilClose(eof), "");
  EXPECT_TRUE(eof);

  auto recorded = server.requests();
  ASSERT_EQ(recorded.size(), 3u);
  EXPECT_EQ(recorded[0].target, "/one");
  EXPECT_EQ(recorded[1].target, "/two");
  EXPECT_EQ(recorded[1].body, "abc");
  EXPECT_EQ(recorded[2].target, "/one");
}

TEST(LoopbackHttpServer, ChoosesScriptedRepliesByExactTargetThenWithoutQuery) {
  LoopbackHttpServer server;
  server.setReply("/v1/items", Reply{.status = 200, .body = "items"});
  server.setReply("/v1/items?page=2", Reply{.status = 206, .body = "page two"});
  server.setReply("//v4.0/user/login", Reply{.status = 401, .body = "login"});
  server.setReply("/replaced", Reply{.status = 500});
  server.setReply("/replaced", Reply{.status = 202, .body = "new"});

  struct Case {
    std::string target;
    int status;
    std::string body;
  };
  const std::vector<Case> before = {
      {"/v1/items", 200, "items"},
      {"/v1/items?page=1", 200, "items"},
      {"/v1/items?page=2", 206, "page two"},
      {"//v4.0/user/login", 401, "login"},
      {"/v4.0/user/login", 404, ""},  // the doubled slash is part of the target
      {"/v1/items/", 404, ""},
      {"/replaced", 202, "new"},
  };
  RawClient client(server.port());
  for (const auto& c : before) {
    SCOPED_TRACE(c.target);
    ASSERT_TRUE(client.send("GET " + c.target + " HTTP/1.1\r\n\r\n"));
    auto response = client.readResponse();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, c.status);
    EXPECT_EQ(response->body, c.body);
  }

  server.setDefaultReply(Reply{.status = 503, .body = "down"});
  for (const auto& c : std::vector<Case>{{"/unknown", 503, "down"}, {"/v1/items", 200, "items"}}) {
    SCOPED_TRACE(c.target);
    ASSERT_TRUE(client.send("GET " + c.target + " HTTP/1.1\r\n\r\n"));
    auto response = client.readResponse();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, c.status);
    EXPECT_EQ(response->body, c.body);
  }
}

TEST(LoopbackHttpServer, SendsScriptedHeadersAndDefaultsContentTypeToJson) {
  LoopbackHttpServer server;
  server.setReply("/json", Reply{.status = 200, .body = "{\"ok\":true}", .headers = {{"X-Trace", "t1"}, {"X-Two", ""}}});
  server.setReply("/xml", Reply{.status = 200, .body = "<a/>", .headers = {{"content-type", "text/xml"}}});
  RawClient client(server.port());

  ASSERT_TRUE(client.send("GET /json HTTP/1.1\r\n\r\nGET /xml HTTP/1.1\r\n\r\n"));
  auto json = client.readResponse();
  ASSERT_TRUE(json);
  EXPECT_EQ(json->status, 200);
  EXPECT_EQ(json->body, "{\"ok\":true}");
  EXPECT_EQ(json->header("Content-Type"), "application/json");
  EXPECT_EQ(json->header("Content-Length"), "11");
  ASSERT_GE(json->headers.size(), 2u);
  EXPECT_EQ(json->headers[0], (std::pair<std::string, std::string>{"X-Trace", "t1"}));
  EXPECT_EQ(json->headers[1], (std::pair<std::string, std::string>{"X-Two", ""}));

  auto xml = client.readResponse();
  ASSERT_TRUE(xml);
  EXPECT_EQ(xml->body, "<a/>");
  int contentTypes = 0;
  for (const auto& [name, value] : xml->headers) {
    if (::strcasecmp(name.c_str(), "Content-Type") == 0) {
      ++contentTypes;
      EXPECT_EQ(value, "text/xml");
    }
  }
  EXPECT_EQ(contentTypes, 1);
}

TEST(LoopbackHttpServer, CloseModeEndsTheConnectionWithoutAnyBytes) {
  LoopbackHttpServer server;
  server.setReply("/close", Reply{.status = 200, .body = "never", .mode = Reply::Mode::Close});
  RawClient client(server.port());
  ASSERT_TRUE(client.send("GET /close HTTP/1.1\r\n\r\n"));
  bool eof = false;
  EXPECT_EQ(client.readUntilClose(eof), "");
  EXPECT_TRUE(eof);
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST(LoopbackHttpServer, TruncateModeSendsFewerBytesThanDeclaredThenCloses) {
  LoopbackHttpServer server;
  server.setReply("/cut", Reply{.status = 200, .body = "{\"partial\":", .mode = Reply::Mode::Truncate});
  RawClient client(server.port());
  ASSERT_TRUE(client.send("GET /cut HTTP/1.1\r\n\r\n"));
  bool eof = false;
  std::string raw = client.readUntilClose(eof);
  ASSERT_TRUE(eof);
  std::size_t headEnd = raw.find("\r\n\r\n");
  ASSERT_NE(headEnd, std::string::npos) << raw;
  EXPECT_EQ(raw.rfind("HTTP/1.1 200 ", 0), 0u) << raw;
  std::size_t lengthAt = raw.find("Content-Length: ");
  ASSERT_LT(lengthAt, headEnd);
  std::size_t declared = std::stoul(raw.substr(lengthAt + 16));
  std::string body = raw.substr(headEnd + 4);
  EXPECT_EQ(body, "{\"partial\":");
  EXPECT_GT(declared, body.size());
}

// A delayed reply is held back: a later client is answered first while it still waits; a
// short delay ends in the reply.
TEST(LoopbackHttpServer, HoldsDelayedRepliesBackWhileAnsweringOthers) {
  LoopbackHttpServer server;
  server.setReply("/held", Reply{.status = 200, .body = "late", .delay = 10min});
  server.setReply("/soon", Reply{.status = 200, .body = "soon", .delay = 20ms});
  server.setReply("/now", Reply{.status = 200, .body = "now"});
  RawClient held(server.port());
  RawClient soon(server.port());
  ASSERT_TRUE(held.send("GET /held HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(soon.send("GET /soon HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(server.waitForRequests(2, 5s));
  RawClient now(server.port());
  ASSERT_TRUE(now.send("GET /now HTTP/1.1\r\n\r\n"));
  auto answered = now.readResponse();
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->body, "now");
  EXPECT_FALSE(held.hasBytesWaiting());
  auto late = soon.readResponse();
  ASSERT_TRUE(late);
  EXPECT_EQ(late->body, "soon");
}

// Stalled and long-delayed replies must not hold the destructor; the client then sees the
// connection close without a reply.
TEST(LoopbackHttpServer, DestructorReleasesStalledAndDelayedRepliesPromptly) {
  auto server = std::make_unique<LoopbackHttpServer>();
  server->setReply("/stall", Reply{.mode = Reply::Mode::Stall});
  server->setReply("/headers", Reply{.body = "never", .mode = Reply::Mode::StallAfterHeaders});
  server->setReply("/delay", Reply{.status = 200, .body = "x", .delay = 10min});
  RawClient stalled(server->port());
  RawClient headersOnly(server->port());
  RawClient delayed(server->port());
  RawClient idle(server->port());  // connected, never sends anything
  ASSERT_TRUE(stalled.send("GET /stall HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(headersOnly.send("GET /headers HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(delayed.send("GET /delay HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(server->waitForRequests(3, 5s));
  // The server records a request before it answers: wait for the headers it then sends.
  ASSERT_TRUE(headersOnly.waitForHead());

  // The destructor runs on a thread of its own so that a hang fails here instead of
  // holding the whole test binary.
  auto destroyed = std::make_shared<std::promise<void>>();
  std::thread([server = std::move(server), destroyed]() mutable {
    server.reset();
    destroyed->set_value();
  }).detach();
  ASSERT_EQ(destroyed->get_future().wait_for(30s), std::future_status::ready)
      << "the server's destructor waited for a stalled or delayed reply";

  for (RawClient* client : {&stalled, &delayed, &idle}) {
    bool eof = false;
    EXPECT_EQ(client->readUntilClose(eof), "");
    EXPECT_TRUE(eof);
  }
  // The headers went out, with the length of a body that never followed.
  bool eof = false;
  const std::string head = headersOnly.readUntilClose(eof);
  EXPECT_TRUE(eof);
  EXPECT_EQ(head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("Content-Length: 5\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
}

TEST(LoopbackHttpServer, SendsRawRepliesVerbatimAndTricklesBodiesWhole) {
  LoopbackHttpServer server;
  const std::string raw("GARBAGE \x00\xff\r\n\r\nbody", 19);
  const std::string big(100'000, 'b');
  server.setReply("/raw", Reply{.body = raw, .mode = Reply::Mode::Raw});
  server.setReply("/trickle", Reply{.body = big, .trickleBytes = 7'000, .trickleInterval = 1ms});
  RawClient rawClient(server.port());
  ASSERT_TRUE(rawClient.send("GET /raw HTTP/1.1\r\n\r\n"));
  bool eof = false;
  EXPECT_EQ(rawClient.readUntilClose(eof), raw);
  EXPECT_TRUE(eof);

  RawClient trickleClient(server.port());
  ASSERT_TRUE(trickleClient.send("GET /trickle HTTP/1.1\r\n\r\n"));
  auto response = trickleClient.readResponse();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->header("Content-Length"), std::to_string(big.size()));
  EXPECT_TRUE(response->body == big);
}

TEST(LoopbackHttpServer, WaitForRequestsTimesOutThenSeesConcurrentClients) {
  LoopbackHttpServer server;
  server.setDefaultReply(Reply{.status = 204});
  EXPECT_FALSE(server.waitForRequests(1, 0ms));
  EXPECT_TRUE(server.waitForRequests(0, 0ms));

  constexpr int kClients = 8;
  std::vector<std::thread> clients;
  std::vector<int> statuses(kClients, 0);
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      RawClient client(server.port());
      if (!client.send("GET /c/" + std::to_string(i) + " HTTP/1.1\r\n\r\n")) return;
      if (auto response = client.readResponse()) statuses[static_cast<std::size_t>(i)] = response->status;
    });
  }
  EXPECT_TRUE(server.waitForRequests(kClients, 10s));
  for (auto& t : clients) t.join();
  EXPECT_EQ(statuses, std::vector<int>(kClients, 204));

  std::vector<std::string> targets;
  for (const auto& request : server.requests()) targets.push_back(request.target);
  std::sort(targets.begin(), targets.end());
  std::vector<std::string> expected;
  for (int i = 0; i < kClients; ++i) expected.push_back("/c/" + std::to_string(i));
  EXPECT_EQ(targets, expected);
}

TEST(LoopbackHttpServer, AnswersExpectContinueBeforeReadingTheBody) {
  LoopbackHttpServer server;
  server.setDefaultReply(Reply{.status = 200, .body = "ok"});
  RawClient client(server.port());
  ASSERT_TRUE(client.send("POST /big HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\n"));
  auto interim = client.readResponse();
  ASSERT_TRUE(interim);
  EXPECT_EQ(interim->status, 100);
  ASSERT_TRUE(client.send("data"));
  auto response = client.readResponse();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "ok");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].body, "data");
}

}  // namespace
}  // namespace velmora::testing

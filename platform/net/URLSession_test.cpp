#include "platform/net/URLSession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/dispatch/ThreadScheduler.h"
#include "platform/net/URLError.h"
#include "testing/LoopbackHttpServer.h"
#include "testing/LoopbackTlsServer.h"
#include "testing/TempDir.h"

namespace platform::net {
namespace {

using velmora::testing::LoopbackHttpServer;
using namespace std::chrono_literals;

struct Outcome {
  std::optional<std::string> data;
  std::optional<HTTPURLResponse> response;
  std::optional<Error> error;
  bool onCallbackQueue = false;
};

// Collects completions and lets the test wait for them (bounded in real time).
class Collector {
 public:
  URLSessionDataTask::Completion completion(std::shared_ptr<dispatch::Queue> queue = nullptr) {
    return [this, queue](std::optional<std::string> d, std::optional<HTTPURLResponse> r, std::optional<Error> e) {
      std::lock_guard lock(mutex_);
      outcomes_.push_back(Outcome{std::move(d), std::move(r), std::move(e), queue && queue->isCurrent()});
      changed_.notify_all();
    };
  }
  bool waitFor(std::size_t n, std::chrono::milliseconds bound = 10s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, bound, [&] { return outcomes_.size() >= n; });
  }
  std::vector<Outcome> outcomes() {
    std::lock_guard lock(mutex_);
    return outcomes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Outcome> outcomes_;
};

class URLSessionTest : public ::testing::Test {
 protected:
  std::shared_ptr<dispatch::ThreadScheduler> scheduler = std::make_shared<dispatch::ThreadScheduler>();
  std::shared_ptr<dispatch::Queue> queue = scheduler->makeConcurrentQueue("test.callbacks");
  std::shared_ptr<URLSession> session = URLSession::create({queue, {}});
  LoopbackHttpServer server;
  Collector collector;

  Outcome fetch(URLRequest request) {
    session->dataTask(std::move(request), collector.completion(queue))->resume();
    EXPECT_TRUE(collector.waitFor(1));
    return collector.outcomes().at(0);
  }
};

TEST_F(URLSessionTest, PostArrivesExactlyAsGiven) {
  server.setReply("//v4.0/user/login", {.status = 200, .body = R"({"ok":true})"});
  URLRequest request;
  request.url = server.baseUrl() + "//v4.0/user/login";
  request.method = "POST";
  request.headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}, {"UserID", "-1"},
                     {"AuthenticationToken", ""}};
  request.body = R"({"email":"a@b.c"})";
  const Outcome out = fetch(request);
  ASSERT_FALSE(out.error) << out.error->localizedDescription;
  EXPECT_TRUE(out.onCallbackQueue);
  EXPECT_EQ(out.response->statusCode, 200);
  EXPECT_EQ(out.data, R"({"ok":true})");

  const auto got = server.requests().at(0);
  EXPECT_EQ(got.method, "POST");
  EXPECT_EQ(got.target, "//v4.0/user/login");
  EXPECT_EQ(got.body, request.body);
  EXPECT_EQ(got.header("AuthenticationToken"), "");
  EXPECT_EQ(got.header("UserID"), "-1");
  EXPECT_EQ(got.header("Content-Type"), "application/json");
  EXPECT_FALSE(got.header("Expect"));
  std::vector<std::string> order;
  for (const auto& [k, v] : got.headers) {
    if (k == "Content-Type" || k == "Accept" || k == "UserID" || k == "AuthenticationToken") order.push_back(k);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"Content-Type", "Accept", "UserID", "AuthenticationToken"}));
}

TEST_F(URLSessionTest, StatusCodesPassThroughAndRedirectsAreNotFollowed) {
  server.setReply("/created", {.status = 201, .body = "{}"});
  server.setReply("/broken", {.status = 500, .body = R"({"message":"x"})"});
  server.setReply("/moved", {.status = 302, .headers = {{"Location", "/elsewhere"}}});
  const std::pair<const char*, int> cases[] = {{"/created", 201}, {"/broken", 500}, {"/moved", 302}};
  for (const auto& [path, status] : cases) {
    URLRequest request{.url = server.baseUrl() + path, .method = "POST", .body = "{}"};
    session->dataTask(request, collector.completion(queue))->resume();
  }
  ASSERT_TRUE(collector.waitFor(3));
  std::map<int, std::string> bodies;
  for (const auto& o : collector.outcomes()) {
    ASSERT_FALSE(o.error);
    bodies[o.response->statusCode] = *o.data;
  }
  EXPECT_EQ(bodies.at(500), R"({"message":"x"})");
  EXPECT_TRUE(bodies.count(201) && bodies.count(302));
  EXPECT_EQ(server.requests().size(), 3u);  // nothing fetched /elsewhere
}

TEST_F(URLSessionTest, RefusedRequestsFailWithoutReachingTheServer) {
  struct Case {
    URLRequest request;
    std::int64_t code;
  };
  const std::string base = server.baseUrl();
  const Case cases[] = {
      {{.url = "file:///etc/passwd"}, kURLErrorUnsupportedURL},
      {{.url = "ftp://127.0.0.1/x"}, kURLErrorUnsupportedURL},
      {{.url = "http://[::1"}, kURLErrorBadURL},
      {{.url = "not a url at all"}, kURLErrorBadURL},
      {{.url = base + "/x", .headers = {{"X-Evil", "a\r\nInjected: yes"}}}, kURLErrorBadURL},
      {{.url = base + "/x", .headers = {{"X-Bad\n", "v"}}}, kURLErrorBadURL},
  };
  for (const auto& c : cases) session->dataTask(c.request, collector.completion(queue))->resume();
  ASSERT_TRUE(collector.waitFor(std::size(cases)));
  const auto outcomes = collector.outcomes();
  ASSERT_EQ(outcomes.size(), std::size(cases));
  std::multiset<std::int64_t> codes, expected;
  for (const auto& o : outcomes) {
    ASSERT_TRUE(o.error);
    EXPECT_FALSE(o.response);
    EXPECT_TRUE(o.onCallbackQueue);
    codes.insert(o.error->code);
  }
  for (const auto& c : cases) expected.insert(c.code);
  EXPECT_EQ(codes, expected);
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(URLSessionTest, TransportFailuresAreReportedOnce) {
  server.setReply("/stall", {.mode = LoopbackHttpServer::Reply::Mode::Stall});
  server.setReply("/close", {.mode = LoopbackHttpServer::Reply::Mode::Close});
  server.setReply("/truncate", {.body = "{\"a\":", .mode = LoopbackHttpServer::Reply::Mode::Truncate});
  {
    const Outcome out = fetch({.url = server.baseUrl() + "/stall", .timeoutSeconds = 0.3});
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->code, kURLErrorTimedOut);
    EXPECT_EQ(out.error->localizedDescription, "The request timed out.");
  }
  for (const char* path : {"/close", "/truncate"}) {
    Collector c;
    session->dataTask({.url = server.baseUrl() + path}, c.completion(queue))->resume();
    ASSERT_TRUE(c.waitFor(1));
    ASSERT_TRUE(c.outcomes()[0].error) << path;
    EXPECT_EQ(c.outcomes()[0].error->code, kURLErrorNetworkConnectionLost) << path;
  }
  // A port nobody listens on: take one from a server that is gone.
  int deadPort = 0;
  {
    LoopbackHttpServer gone;
    deadPort = gone.port();
  }
  Collector c;
  session->dataTask({.url = "http://127.0.0.1:" + std::to_string(deadPort) + "/"}, c.completion(queue))->resume();
  ASSERT_TRUE(c.waitFor(1));
  EXPECT_EQ(c.outcomes()[0].error->code, kURLErrorCannotConnectToHost);
}

TEST_F(URLSessionTest, DestroyingTheSessionCancelsEveryTransferOnce) {
  server.setDefaultReply({.mode = LoopbackHttpServer::Reply::Mode::Stall});
  for (int i = 0; i < 20; ++i) session->dataTask({.url = server.baseUrl() + "/slow"}, collector.completion(queue))->resume();
  // A few transfers are on the wire (connections per host are capped); the rest wait in line.
  ASSERT_TRUE(server.waitForRequests(6, 10s));
  const auto start = std::chrono::steady_clock::now();
  session.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  ASSERT_TRUE(collector.waitFor(20));
  EXPECT_FALSE(collector.waitFor(21, 200ms));
  for (const auto& o : collector.outcomes()) {
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->code, kURLErrorCancelled);
  }
}

TEST_F(URLSessionTest, CancelBeforeAndDuringTheTransfer) {
  server.setDefaultReply({.mode = LoopbackHttpServer::Reply::Mode::Stall});
  auto never = session->dataTask({.url = server.baseUrl() + "/a"}, collector.completion(queue));
  never->cancel();
  never->resume();  // a cancelled task does not start
  auto running = session->dataTask({.url = server.baseUrl() + "/b"}, collector.completion(queue));
  running->resume();
  ASSERT_TRUE(server.waitForRequests(1, 10s));
  running->cancel();
  running->cancel();
  ASSERT_TRUE(collector.waitFor(2));
  EXPECT_FALSE(collector.waitFor(3, 200ms));
  for (const auto& o : collector.outcomes()) EXPECT_EQ(o.error->code, kURLErrorCancelled);
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(URLSessionTest, ManyThreadsManyRequestsEachCompleteOnce) {
  server.setDefaultReply({.status = 200, .body = "{}"});
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 25; ++i) {
        session->dataTask({.url = server.baseUrl() + "/p", .method = "POST", .body = "{}"}, collector.completion(queue))
            ->resume();
      }
    });
  }
  for (auto& t : threads) t.join();
  ASSERT_TRUE(collector.waitFor(200, 30s));
  EXPECT_FALSE(collector.waitFor(201, 100ms));
  for (const auto& o : collector.outcomes()) {
    ASSERT_FALSE(o.error) << o.error->localizedDescription;
    EXPECT_EQ(o.response->statusCode, 200);
  }
}

TEST_F(URLSessionTest, UntrustedCertificateIsRefusedAndTrustingItSucceeds) {
  velmora::testing::LoopbackTlsServer tls;
  const std::string url = tls.baseUrl() + "/x";

  // Default trust: the self-signed certificate must stop the request before any HTTP is sent.
  const Outcome refused = fetch({.url = url});
  ASSERT_TRUE(refused.error);
  EXPECT_TRUE(refused.error->code == kURLErrorServerCertificateUntrusted ||
              refused.error->code == kURLErrorSecureConnectionFailed)
      << refused.error->code << " " << refused.error->localizedDescription;
  EXPECT_FALSE(refused.response);
  EXPECT_TRUE(refused.onCallbackQueue);
  // The server really was reached, and it is done with that connection before we look.
  ASSERT_TRUE(tls.waitForConnectionsFinished(1, 10s));
  EXPECT_EQ(tls.handshakesCompleted(), 0u);
  EXPECT_EQ(tls.requestsReceived(), 0u);

  // Trusting exactly that certificate makes the same request go through.
  velmora::testing::TempDir dir;
  const auto caFile = dir.path() / "server.pem";
  tls.writeCertificatePem(caFile);
  auto trusting = URLSession::create({queue, caFile.string()});
  Collector trusted;
  trusting->dataTask({.url = url}, trusted.completion(queue))->resume();
  ASSERT_TRUE(trusted.waitFor(1));
  const Outcome ok = trusted.outcomes().at(0);
  ASSERT_FALSE(ok.error) << ok.error->code << " " << ok.error->localizedDescription;
  EXPECT_EQ(ok.response->statusCode, 200);
  EXPECT_EQ(ok.data, "{}");
  EXPECT_EQ(tls.requestsReceived(), 1u);
  EXPECT_GE(tls.handshakesCompleted(), 1u);
}

}  // namespace
}  // namespace platform::net

// The HTTP session manager over loopback servers: base-URL resolution, the verbs and where
// their parameters go, requests that cannot be built (no task, no traffic), multipart POST,
// TLS trust through the manager's security policy, the shared URL cache, and a subclass's
// factory override reaching every verb.
#include "beacons/http/KSHTTPSessionManager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "beacons/http/KSMultipartFormData.h"
#include "platform/core/Json.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/net/URLError.h"
#include "testing/LoopbackHttpServer.h"
#include "testing/LoopbackTlsServer.h"
#include "testing/TempDir.h"
#include "testing/TestCertificates.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using platform::dispatch::Scheduler;
using platform::dispatch::VirtualScheduler;
using velmora::testing::LoopbackHttpServer;
using TaskPtr = KSURLSessionManager::TaskPtr;

struct InstallScheduler {
  explicit InstallScheduler(std::shared_ptr<Scheduler> s) { Scheduler::setShared(std::move(s)); }
  ~InstallScheduler() { Scheduler::setShared(nullptr); }
};

struct Result {
  TaskPtr task;
  Value object;
  std::optional<platform::Error> error;
  bool onMainQueue = false;
};

class HTTPSessionManagerTest : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualScheduler> scheduler = std::make_shared<VirtualScheduler>();
  InstallScheduler install{scheduler};
  LoopbackHttpServer server;
  std::vector<Result> results;  // outlives the managers, whose completions write here
  std::vector<std::shared_ptr<KSHTTPSessionManager>> managers;

  ~HTTPSessionManagerTest() override {
    for (const auto& m : managers) m->session()->invalidateAndCancel();
    scheduler->runUntilIdle();
    managers.clear();
    scheduler->runUntilIdle();
  }

  std::shared_ptr<KSHTTPSessionManager> make(std::optional<std::string> base,
                                               std::optional<platform::net::URLSessionConfiguration> c = std::nullopt) {
    managers.push_back(KSHTTPSessionManager::create(std::move(base), std::move(c)));
    return managers.back();
  }

  KSHTTPSessionManager::Success success() {
    return [this](const TaskPtr& task, const Value& object) {
      results.push_back({task, object, std::nullopt, scheduler->mainQueue()->isCurrent()});
    };
  }
  KSHTTPSessionManager::Failure failure() {
    return [this](const TaskPtr& task, const platform::Error& error) {
      results.push_back({task, Value(), error, scheduler->mainQueue()->isCurrent()});
    };
  }
  bool waitFor(std::size_t n) {
    return scheduler->runUntil([&] { return results.size() >= n; }, 600.0);
  }
};

TEST_F(HTTPSessionManagerTest, RelativeStringsResolveBelowTheBasePath) {
  server.setDefaultReply({.status = 200, .body = "{}"});
  const std::string root = server.baseUrl();
  const struct {
    std::string base;
    std::string storedBase;
    std::string urlString;
    std::string target;
  } cases[] = {
      {root + "/api", root + "/api/", "beacons", "/api/beacons"},
      {root + "/api/", root + "/api/", "beacons", "/api/beacons"},
      {root, root, "beacons", "/beacons"},
      {root + "/api", root + "/api/", "/beacons", "/beacons"},              // a leading "/" leaves the base path
      {root + "/api", root + "/api/", root + "/other?x=1", "/other?x=1"},  // an absolute string ignores the base
  };
  for (const auto& c : cases) {
    auto manager = make(c.base);
    EXPECT_EQ(manager->baseURL(), c.storedBase) << c.base;
    const std::size_t before = results.size();
    manager->GET(c.urlString, Value(), success(), failure());
    ASSERT_TRUE(waitFor(before + 1));
    EXPECT_FALSE(results.back().error) << c.base << " " << c.urlString;
    EXPECT_EQ(server.requests().back().target, c.target) << c.base << " " << c.urlString;
  }
}

TEST_F(HTTPSessionManagerTest, VerbsSendTheirMethodAndParametersAndReturnARunningTask) {
  server.setDefaultReply({.status = 200, .body = R"({"ok":true})"});
  auto manager = make(server.baseUrl() + "/api");
  const Value parameters = *platform::json::parse(R"({"page":2})");
  bool headSucceeded = false;
  std::vector<TaskPtr> tasks = {
      manager->GET("beacons", parameters, success(), failure()),
      manager->HEAD("beacons", parameters, [&](const TaskPtr&) { headSucceeded = true; }, failure()),
      manager->POST("beacons", parameters, success(), failure()),
      manager->PUT("beacons", parameters, success(), failure()),
      manager->PATCH("beacons", parameters, success(), failure()),
      manager->DELETE("beacons", parameters, success(), failure()),
  };
  for (const auto& task : tasks) {
    ASSERT_NE(task, nullptr);
    EXPECT_NE(task->state(), KSURLSessionTaskStateSuspended);
  }
  ASSERT_TRUE(scheduler->runUntil([&] { return results.size() == 5 && headSucceeded; }, 600.0));
  for (const auto& r : results) {
    EXPECT_FALSE(r.error);
    EXPECT_TRUE(r.onMainQueue);
    EXPECT_EQ(platform::json::write(r.object), R"({"ok":true})");
  }
  std::vector<std::string> seen;
  for (const auto& r : server.requests()) seen.push_back(r.method + " " + r.target + " " + r.body);
  EXPECT_THAT(seen, ::testing::UnorderedElementsAre("GET /api/beacons?page=2 ", "HEAD /api/beacons?page=2 ",
                                                    "POST /api/beacons page=2", "PUT /api/beacons page=2",
                                                    "PATCH /api/beacons page=2", "DELETE /api/beacons?page=2 "));
  // Each success names its own task.
  for (const auto& r : results) EXPECT_NE(std::find(tasks.begin(), tasks.end(), r.task), tasks.end());
}

TEST_F(HTTPSessionManagerTest, TheTaskFactoryReturnsATaskThatWaitsForResume) {
  server.setDefaultReply({.status = 200, .body = "{}"});
  auto manager = make(server.baseUrl());
  auto task = manager->dataTaskWithHTTPMethod("GET", "x", Value(), nullptr, nullptr, success(), failure());
  ASSERT_NE(task, nullptr);
  scheduler->runUntilIdle();
  EXPECT_EQ(task->state(), KSURLSessionTaskStateSuspended);
  EXPECT_TRUE(server.requests().empty());
  task->resume();
  ASSERT_TRUE(waitFor(1));
  EXPECT_EQ(results[0].task, task);
}

TEST_F(HTTPSessionManagerTest, ARequestThatCannotBeBuiltFailsWithoutATaskOrTraffic) {
  server.setDefaultReply({.status = 200, .body = "{}"});
  auto manager = make(server.baseUrl() + "/api");
  auto unbased = make(std::nullopt);
  const auto noParts = [](KSMultipartFormData&) {};
  const struct {
    const char* name;
    std::function<TaskPtr(KSHTTPSessionManager::Failure)> call;
  } cases[] = {
      {"unparsable URL", [&](auto f) { return manager->GET("http://[::1", Value(), success(), f); }},
      {"relative without base", [&](auto f) { return unbased->POST("beacons", Value(), success(), f); }},
      {"missing method", [&](auto f) { return manager->dataTaskWithHTTPMethod("", "beacons", Value(), nullptr, nullptr, success(), f); }},
      {"multipart to a bad URL", [&](auto f) { return manager->POST("http://[::1", Value(), noParts, success(), f); }},
  };
  for (const auto& c : cases) {
    results.clear();
    EXPECT_EQ(c.call(failure()), nullptr) << c.name;
    EXPECT_TRUE(results.empty()) << c.name;  // posted, never called inside the verb
    ASSERT_TRUE(waitFor(1)) << c.name;
    ASSERT_EQ(results.size(), 1u) << c.name;
    EXPECT_EQ(results[0].task, nullptr) << c.name;
    EXPECT_TRUE(results[0].onMainQueue) << c.name;
    ASSERT_TRUE(results[0].error) << c.name;
    EXPECT_EQ(results[0].error->domain, KSURLRequestSerializationErrorDomain) << c.name;
    EXPECT_EQ(results[0].error->code, KSRequestSerializationErrorCode) << c.name;

    // Without a failure block nothing at all is called.
    results.clear();
    EXPECT_EQ(c.call(nullptr), nullptr) << c.name;
    EXPECT_EQ(scheduler->runUntilIdle(), 0u) << c.name;
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(HTTPSessionManagerTest, MultipartPostStreamsItsPartsWithUploadProgress) {
  server.setDefaultReply({.status = 200, .body = R"({"stored":1})"});
  auto manager = make(server.baseUrl() + "/api");
  std::vector<double> fractions;
  auto task = manager->POST(
      "images", *platform::json::parse(R"({"site":"7"})"),
      [](KSMultipartFormData& form) { form.appendPartWithFileData(std::string(300 * 1024, 'i'), "image", "map.png", "image/png"); },
      [&](const Progress& p) { fractions.push_back(p.fractionCompleted()); }, success(), failure());
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(task->kind(), KSURLSessionTask::Kind::Upload);
  EXPECT_NE(task->state(), KSURLSessionTaskStateSuspended);
  ASSERT_TRUE(waitFor(1));
  ASSERT_FALSE(results[0].error);
  EXPECT_EQ(results[0].task, task);
  const auto request = server.requests().at(0);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/api/images");
  EXPECT_THAT(request.header("Content-Type").value_or(""), ::testing::StartsWith("multipart/form-data; boundary="));
  EXPECT_EQ(request.header("Content-Length"), std::to_string(request.body.size()));
  EXPECT_THAT(request.body, ::testing::HasSubstr("name=\"site\"\r\n\r\n7\r\n"));
  EXPECT_THAT(request.body, ::testing::HasSubstr("filename=\"map.png\"\r\nContent-Type: image/png\r\n\r\n" + std::string(300 * 1024, 'i')));
  ASSERT_FALSE(fractions.empty());
  EXPECT_EQ(fractions.back(), 1.0);
}

TEST_F(HTTPSessionManagerTest, AFreshReplyIsServedFromTheSharedCacheWithoutASecondHit) {
  server.setReply("/api/regions", {.status = 200, .body = R"({"regions":[]})", .headers = {{"Cache-Control", "max-age=300"}}});
  server.setReply("/api/beacons", {.status = 200, .body = R"({"beacons":[]})"});  // no freshness: never cached
  auto manager = make(server.baseUrl() + "/api");
  for (std::size_t round = 1; round <= 2; ++round) {
    manager->GET("regions", Value(), success(), failure());
    manager->GET("beacons", Value(), success(), failure());
    ASSERT_TRUE(waitFor(2 * round));
  }
  for (const auto& r : results) EXPECT_FALSE(r.error);
  std::size_t regionHits = 0, beaconHits = 0;
  for (const auto& r : server.requests()) {
    regionHits += r.target == "/api/regions";
    beaconHits += r.target == "/api/beacons";
  }
  EXPECT_EQ(regionHits, 1u);
  EXPECT_EQ(beaconHits, 2u);
}

// Counts the tasks that went through the factory, as a subclass that enriches errors would.
class CountingManager final : public KSHTTPSessionManager {
 public:
  static std::shared_ptr<CountingManager> make(std::string base) {
    return std::shared_ptr<CountingManager>(new CountingManager(std::move(base)));
  }
  using KSURLSessionManager::dataTaskWithRequest;
  TaskPtr dataTaskWithRequest(const KSURLRequest& request, ProgressBlock up, ProgressBlock down,
                              CompletionHandler completion) override {
    ++made;
    return KSHTTPSessionManager::dataTaskWithRequest(
        request, std::move(up), std::move(down),
        [completion](const auto& response, const Value& object, const std::optional<platform::Error>& error) {
          auto marked = error;
          if (marked) marked->userInfo.insert_or_assign("seen", Value(true));
          completion(response, object, marked);
        });
  }
  int made = 0;

 private:
  explicit CountingManager(std::string base) : KSHTTPSessionManager(std::move(base), std::nullopt) {}
};

TEST_F(HTTPSessionManagerTest, ASubclassFactoryReachesEveryVerb) {
  server.setDefaultReply({.status = 500, .body = "{}"});
  auto manager = CountingManager::make(server.baseUrl());
  manager->GET("a", Value(), success(), failure());
  manager->POST("b", Value(), success(), failure());
  manager->DELETE("c", Value(), success(), failure());
  ASSERT_TRUE(waitFor(3));
  EXPECT_EQ(manager->made, 3);
  for (const auto& r : results) {
    ASSERT_TRUE(r.error);
    EXPECT_TRUE(r.error->userInfo.contains("seen"));
  }
  manager->session()->invalidateAndCancel();
}

TEST_F(HTTPSessionManagerTest, SettingsCopyAndDescription) {
  auto manager = make(server.baseUrl() + "/api");
  platform::LogCapture capture;
  auto serializer = manager->requestSerializer();
  manager->setRequestSerializer(nullptr);
  EXPECT_EQ(manager->requestSerializer(), serializer);
  EXPECT_EQ(capture.count("Invalid parameter not satisfying: requestSerializer"), 1u);

  manager->requestSerializer()->setValue("Bearer t", "Authorization");
  auto copy = manager->copy();
  managers.push_back(copy);
  EXPECT_EQ(copy->baseURL(), manager->baseURL());
  EXPECT_NE(copy->requestSerializer(), manager->requestSerializer());
  EXPECT_EQ(copy->requestSerializer()->valueForHTTPHeaderField("Authorization"), "Bearer t");
  EXPECT_NE(copy->responseSerializer(), manager->responseSerializer());
  EXPECT_NE(copy->securityPolicy(), manager->securityPolicy());
  EXPECT_THAT(manager->description(),
              ::testing::MatchesRegex("<KSHTTPSessionManager: 0x[0-9a-f]+, baseURL: " + server.baseUrl() +
                                      "/api/, session: .*, operationQueue: .*>"));
}

// --- TLS ---------------------------------------------------------------------------------

TEST_F(HTTPSessionManagerTest, ServerTrustIsDecidedByTheManagersSecurityPolicy) {
  using velmora::testing::LoopbackTlsServer;
  using velmora::testing::TestCertificates;
  const TestCertificates certs = TestCertificates::make();
  velmora::testing::TempDir dir;
  const auto caFile = dir.path() / "ca.pem";
  std::ofstream(caFile) << TestCertificates::toPem(certs.ca);
  LoopbackTlsServer good({certs.leaf, certs.ca}, certs.leafKeyPem);
  LoopbackTlsServer wrongHost({certs.wrongHostLeaf, certs.ca}, certs.wrongHostLeafKeyPem);

  const auto pinned = [](unsigned mode, platform::Bytes certificate, bool allowInvalid = false) {
    auto policy = KSSecurityPolicy::policyWithPinningMode(mode, {std::move(certificate)});
    policy->setAllowInvalidCertificates(allowInvalid);
    return policy;
  };
  auto allowInvalidWithoutPins = KSSecurityPolicy::defaultPolicy();
  allowInvalidWithoutPins->setAllowInvalidCertificates(true);
  const struct {
    const char* name;
    std::shared_ptr<KSSecurityPolicy> policy;  // null: the default
    LoopbackTlsServer* server;
    bool accepted;
    bool logsWhy = false;
  } cases[] = {
      {"default, the CA's leaf", nullptr, &good, true},
      {"default, wrong host", nullptr, &wrongHost, false},
      {"certificate pin on the CA", pinned(KSSSLPinningModeCertificate, certs.ca), &good, true},
      {"certificate pin on another certificate", pinned(KSSSLPinningModeCertificate, certs.selfSigned), &good, false},
      {"public-key pin on the leaf", pinned(KSSSLPinningModePublicKey, certs.leaf), &good, true},
      {"public-key pin on another key", pinned(KSSSLPinningModePublicKey, certs.wrongHostLeaf), &good, false},
      {"invalid allowed without pins", allowInvalidWithoutPins, &good, false, true},
  };
  platform::net::URLSessionConfiguration configuration;
  configuration.caFile = caFile.string();
  for (const auto& c : cases) {
    auto manager = make(c.server->baseUrl(), configuration);
    if (c.policy) manager->setSecurityPolicy(c.policy);
    const std::size_t requestsBefore = c.server->requestsReceived();
    platform::LogCapture capture;
    results.clear();
    manager->GET("x", Value(), success(), failure());
    ASSERT_TRUE(waitFor(1)) << c.name;
    if (c.accepted) {
      EXPECT_FALSE(results[0].error) << c.name << ": " << results[0].error->localizedDescription;
      EXPECT_EQ(c.server->requestsReceived(), requestsBefore + 1) << c.name;
    } else {
      ASSERT_TRUE(results[0].error) << c.name;
      EXPECT_EQ(results[0].error->code, platform::net::kURLErrorServerCertificateUntrusted) << c.name;
      EXPECT_NE(results[0].task, nullptr) << c.name;
      EXPECT_EQ(c.server->requestsReceived(), requestsBefore) << c.name;  // nothing was sent
    }
    EXPECT_EQ(capture.count("you MUST use pinning"), c.logsWhy ? 1u : 0u) << c.name;
  }
}

}  // namespace
}  // namespace velmora::kestrine

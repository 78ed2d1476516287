// The URL-session manager over a loopback server: one completion per task with the
// serialized object, the task notifications and their order, progress, the task snapshot,
// uploads, downloads, redirects, the URL cache hook and invalidation. Queues run on a
// virtual scheduler driven by the test; transfers run on the session's real I/O thread.
#include "beacons/http/KSURLSessionManager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "beacons/http/KSCachePolicy.h"
#include "beacons/http/KSHTTPRequestSerializer.h"
#include "beacons/http/KSMultipartBodyStream.h"
#include "beacons/http/KSNetworkActivityLogger.h"
#include "beacons/http/KSNetworkingNotifications.h"
#include "platform/core/Log.h"
#include "platform/core/Json.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/net/URLCache.h"
#include "platform/net/URLError.h"
#include "testing/LoopbackHttpServer.h"
#include "testing/LoopbackTlsServer.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using platform::dispatch::Scheduler;
using platform::dispatch::VirtualScheduler;
using platform::net::HTTPURLResponse;
using velmora::testing::LoopbackHttpServer;

struct Outcome {
  std::optional<HTTPURLResponse> response;
  Value object;
  std::optional<platform::Error> error;
  bool onMainQueue = false;
};

// Installs the test's scheduler as the shared one for as long as it lives.
struct InstallScheduler {
  explicit InstallScheduler(std::shared_ptr<Scheduler> s) { Scheduler::setShared(std::move(s)); }
  ~InstallScheduler() { Scheduler::setShared(nullptr); }
};

// Notifications of the default centre with a given name, as they were posted.
class NotificationLog {
 public:
  explicit NotificationLog(std::vector<std::string_view> names) {
    for (auto name : names) {
      tokens_.push_back(platform::NotificationCenter::defaultCenter().addObserver(
          std::string(name), nullptr, nullptr, [this](const platform::Notification& n) { posted.push_back(n); }));
    }
  }
  ~NotificationLog() {
    for (const auto& token : tokens_) platform::NotificationCenter::defaultCenter().removeObserver(token);
  }
  std::size_t count(std::string_view name, const void* object = nullptr) const {
    std::size_t n = 0;
    for (const auto& p : posted) n += p.name == name && (!object || p.object.get() == object);
    return n;
  }
  std::vector<platform::Notification> posted;

 private:
  std::vector<platform::NotificationCenter::ObserverToken> tokens_;
};

const void* objectOf(const KSURLSessionManager::TaskPtr& task) { return static_cast<const KSNetworkTask*>(task.get()); }

std::vector<std::uint64_t> ids(const std::vector<KSURLSessionManager::TaskPtr>& tasks) {
  std::vector<std::uint64_t> out;
  for (const auto& t : tasks) out.push_back(t ? t->taskIdentifier() : 0);
  return out;
}

class URLSessionManagerTest : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualScheduler> scheduler = std::make_shared<VirtualScheduler>();
  InstallScheduler install{scheduler};
  LoopbackHttpServer server;
  std::shared_ptr<KSURLSessionManager> manager = KSURLSessionManager::create();

  ~URLSessionManagerTest() override {
    // The tests' blocks refer to their locals, which are gone by now.
    manager->setSessionDidBecomeInvalidBlock(nullptr);
    manager->setTaskWillPerformHTTPRedirectionBlock(nullptr);
    manager->setTaskDidCompleteBlock(nullptr);
    manager->setDataTaskDidReceiveResponseBlock(nullptr);
    manager->setDataTaskDidReceiveDataBlock(nullptr);
    manager->setDataTaskWillCacheResponseBlock(nullptr);
    // Ends whatever still runs, delivers its completions, then lets the manager go.
    manager->session()->invalidateAndCancel();
    scheduler->runUntilIdle();
    manager.reset();
    scheduler->runUntilIdle();
  }

  bool runUntil(const std::function<bool()>& condition) { return scheduler->runUntil(condition, 600.0); }

  KSURLRequest request(std::string path, std::string method = "GET", std::string body = {}) {
    KSURLRequest r;
    r.urlRequest.url = server.baseUrl() + path;
    r.urlRequest.method = std::move(method);
    r.urlRequest.body = std::move(body);
    return r;
  }

  KSURLSessionManager::CompletionHandler recordInto(std::vector<Outcome>& outcomes) {
    return [this, &outcomes](const std::optional<HTTPURLResponse>& response, const Value& object,
                             const std::optional<platform::Error>& error) {
      outcomes.push_back({response, object, error, scheduler->mainQueue()->isCurrent()});
    };
  }

  Outcome fetch(const KSURLRequest& r) {
    std::vector<Outcome> outcomes;
    manager->dataTaskWithRequest(r, recordInto(outcomes))->resume();
    EXPECT_TRUE(runUntil([&] { return !outcomes.empty(); }));
    return outcomes.empty() ? Outcome{} : outcomes.front();
  }
};

TEST_F(URLSessionManagerTest, OneCompletionWithTheSerializedObjectThenTheNotification) {
  server.setReply("/beacons", {.status = 200, .body = R"({"beacons":[1,2]})"});
  NotificationLog log({KSNetworkingTaskDidResumeNotification, KSNetworkingTaskDidCompleteNotification});
  std::vector<Outcome> outcomes;
  std::size_t notificationsWhenCompleted = 99;
  auto task = manager->dataTaskWithRequest(request("/beacons"), [&](const auto& response, const Value& object,
                                                                    const auto& error) {
    notificationsWhenCompleted = log.count(KSNetworkingTaskDidCompleteNotification);
    outcomes.push_back({response, object, error, scheduler->mainQueue()->isCurrent()});
  });

  // Made, registered, not running: nothing reaches the server until it is resumed.
  EXPECT_EQ(task->state(), KSURLSessionTaskStateSuspended);
  EXPECT_EQ(task->taskDescription(), manager->taskDescriptionForSessionTasks());
  scheduler->runUntilIdle();
  EXPECT_TRUE(server.requests().empty());

  task->resume();
  ASSERT_TRUE(runUntil([&] { return log.count(KSNetworkingTaskDidCompleteNotification) == 1; }));
  scheduler->runUntilIdle();
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_FALSE(outcomes[0].error);
  EXPECT_EQ(platform::json::write(outcomes[0].object), R"({"beacons":[1,2]})");
  EXPECT_EQ(outcomes[0].response->statusCode, 200);
  // Without a completion queue the completion runs on the main queue, before the notification.
  EXPECT_TRUE(outcomes[0].onMainQueue);
  EXPECT_EQ(notificationsWhenCompleted, 0u);
  EXPECT_EQ(log.count(KSNetworkingTaskDidResumeNotification, objectOf(task)), 1u);

  const auto& info = log.posted.back().userInfo;
  EXPECT_EQ(log.posted.back().object.get(), objectOf(task));
  EXPECT_TRUE(info.contains(std::string(KSNetworkingTaskDidCompleteResponseSerializerKey)));
  EXPECT_TRUE(info.contains(std::string(KSNetworkingTaskDidCompleteSerializedResponseKey)));
  EXPECT_FALSE(info.contains(std::string(KSNetworkingTaskDidCompleteErrorKey)));
  EXPECT_EQ(task->state(), KSURLSessionTaskStateCompleted);
  // A finished task is no longer held.
  EXPECT_EQ(manager->downloadProgressForTask(task), nullptr);
}

TEST_F(URLSessionManagerTest, AnEmptyBodyReachesTheSerializerAsEmptyDataAndTheNotificationCarriesIt) {
  server.setReply("/empty", {.status = 200, .body = "", .headers = {{"Content-Type", "application/octet-stream"}}});
  manager->setResponseSerializer(KSHTTPResponseSerializer::serializer());
  NotificationLog log({KSNetworkingTaskDidCompleteNotification});
  const Outcome outcome = fetch(request("/empty"));
  ASSERT_TRUE(runUntil([&] { return log.count(KSNetworkingTaskDidCompleteNotification) == 1; }));
  EXPECT_FALSE(outcome.error);
  const auto& info = log.posted[0].userInfo;
  auto it = info.find(KSNetworkingTaskDidCompleteResponseDataKey);
  ASSERT_NE(it, info.end());
  ASSERT_NE(it->second.bytes(), nullptr);
  EXPECT_TRUE(it->second.bytes()->empty());
}

TEST_F(URLSessionManagerTest, FailuresReachTheCompletionOnceAndTheNotificationCarriesTheError) {
  server.setReply("/missing", {.status = 404, .body = R"({"error":"no such beacon"})"});
  server.setReply("/closed", {.mode = LoopbackHttpServer::Reply::Mode::Close});
  server.setReply("/reset", {.mode = LoopbackHttpServer::Reply::Mode::Reset});
  NotificationLog log({KSNetworkingTaskDidCompleteNotification});

  // A status failure: the serializer's error, and the object it still made of the body.
  const Outcome status = fetch(request("/missing"));
  ASSERT_TRUE(status.error);
  EXPECT_EQ(status.error->domain, KSURLResponseSerializationErrorDomain);
  EXPECT_EQ(status.error->code, KSURLErrorBadServerResponse);
  EXPECT_EQ(platform::json::write(status.object), R"({"error":"no such beacon"})");

  // Transport failures: no object, nothing serialized.
  for (const char* path : {"/closed", "/reset"}) {
    const Outcome lost = fetch(request(path));
    ASSERT_TRUE(lost.error) << path;
    EXPECT_EQ(lost.error->domain, platform::net::kURLErrorDomain) << path;
    EXPECT_EQ(lost.error->code, platform::net::kURLErrorNetworkConnectionLost) << path;
    EXPECT_TRUE(lost.object.isAbsent()) << path;
    EXPECT_FALSE(lost.response) << path;
  }

  ASSERT_TRUE(runUntil([&] { return log.count(KSNetworkingTaskDidCompleteNotification) == 3; }));
  for (const auto& n : log.posted) EXPECT_TRUE(n.userInfo.contains(std::string(KSNetworkingTaskDidCompleteErrorKey)));
  EXPECT_FALSE(log.posted[1].userInfo.contains(std::string(KSNetworkingTaskDidCompleteSerializedResponseKey)));
}

// A group that counts the work it is given, around a real one.
class CountingGroup final : public platform::dispatch::Group {
 public:
  explicit CountingGroup(std::shared_ptr<platform::dispatch::Group> inner) : inner_(std::move(inner)) {}
  void enter() override { inner_->enter(); }
  void leave() override { inner_->leave(); }
  void async(const std::shared_ptr<platform::dispatch::Queue>& queue, platform::dispatch::Work work) override {
    ++asyncs;
    inner_->async(queue, std::move(work));
  }
  void notify(const std::shared_ptr<platform::dispatch::Queue>& queue, platform::dispatch::Work work) override {
    inner_->notify(queue, std::move(work));
  }
  bool wait(std::optional<double> timeout) override { return inner_->wait(timeout); }
  int asyncs = 0;

 private:
  std::shared_ptr<platform::dispatch::Group> inner_;
};

TEST_F(URLSessionManagerTest, CompletionsRunOnTheGivenQueueInsideTheGivenGroup) {
  server.setDefaultReply({.status = 200, .body = "{}"});
  auto queue = scheduler->makeSerialQueue("test.completions");
  auto group = std::make_shared<CountingGroup>(scheduler->makeGroup());
  manager->setCompletionQueue(queue);
  manager->setCompletionGroup(group);
  bool onQueue = false;
  bool done = false;
  manager
      ->dataTaskWithRequest(request("/x"),
                            [&](const auto&, const Value&, const auto&) {
                              onQueue = queue->isCurrent();
                              done = true;
                            })
      ->resume();
  ASSERT_TRUE(runUntil([&] { return done; }));
  EXPECT_TRUE(onQueue);
  EXPECT_EQ(group->asyncs, 1);
}

TEST_F(URLSessionManagerTest, ResumeAndSuspendAreAnnouncedOnlyOnRealChangesAndOnlyByTheTasksManager) {
  // 64 KiB sent in pieces, so the transfer is still running while the test suspends it.
  const std::string body(64 * 1024, 'b');
  server.setReply("/slow", {.status = 200, .body = body, .headers = {{"Content-Type", "application/octet-stream"}},
                            .trickleBytes = 4096, .trickleInterval = std::chrono::milliseconds(20)});
  manager->setResponseSerializer(KSHTTPResponseSerializer::serializer());
  auto other = KSURLSessionManager::create();
  NotificationLog log({KSNetworkingTaskDidResumeNotification, KSNetworkingTaskDidSuspendNotification});

  std::vector<Outcome> outcomes;
  auto task = manager->dataTaskWithRequest(request("/slow"), recordInto(outcomes));
  task->suspend();  // not running yet: no change
  task->resume();
  task->resume();  // already running: no change
  task->suspend();
  task->suspend();  // already suspended: no change
  scheduler->runUntilIdle();
  EXPECT_EQ(task->state(), KSURLSessionTaskStateSuspended);
  task->resume();

  std::vector<Outcome> otherOutcomes;
  auto otherTask = other->dataTaskWithRequest(request("/slow"), [&](const auto& r, const Value& o, const auto& e) {
    otherOutcomes.push_back({r, o, e});
  });
  otherTask->resume();

  ASSERT_TRUE(runUntil([&] { return outcomes.size() == 1 && otherOutcomes.size() == 1; }));
  scheduler->runUntilIdle();
  // The held transfer went on where it stopped: the whole body, once.
  ASSERT_FALSE(outcomes[0].error);
  ASSERT_NE(outcomes[0].object.bytes(), nullptr);
  EXPECT_EQ(outcomes[0].object.bytes()->size(), body.size());
  EXPECT_EQ(log.count(KSNetworkingTaskDidResumeNotification, objectOf(task)), 2u);
  EXPECT_EQ(log.count(KSNetworkingTaskDidSuspendNotification, objectOf(task)), 1u);
  // The other manager's task is announced by that manager alone, once.
  EXPECT_EQ(log.count(KSNetworkingTaskDidResumeNotification, objectOf(otherTask)), 1u);
  EXPECT_EQ(log.count(KSNetworkingTaskDidResumeNotification), 3u);
  other->session()->invalidateAndCancel();
}

TEST_F(URLSessionManagerTest, TaskListsAreSnapshotsThatCanBeTakenOnTheDelegateQueue) {
  server.setReply("/stall", {.mode = LoopbackHttpServer::Reply::Mode::Stall});
  server.setReply("/now", {.status = 200, .body = "{}"});
  std::vector<Outcome> outcomes;
  auto stalled = manager->dataTaskWithRequest(request("/stall"), recordInto(outcomes));
  auto upload = manager->uploadTaskWithRequestFromData(request("/stall", "POST"), "abc", nullptr, recordInto(outcomes));
  auto idle = manager->dataTaskWithRequest(request("/now"), recordInto(outcomes));  // never resumed
  stalled->resume();
  upload->resume();

  std::vector<KSURLSessionManager::TaskPtr> all, data, uploads, downloads;
  bool onDelegateQueue = false;
  manager->setDataTaskDidReceiveResponseBlock([&](const auto&, const HTTPURLResponse&) {
    onDelegateQueue = manager->operationQueue()->isCurrent();
    all = manager->tasks();
    data = manager->dataTasks();
    uploads = manager->uploadTasks();
    downloads = manager->downloadTasks();
    return platform::net::URLSessionResponseDisposition::Allow;
  });
  auto probe = manager->dataTaskWithRequest(request("/now"), recordInto(outcomes));
  probe->resume();
  ASSERT_TRUE(runUntil([&] { return outcomes.size() == 1; }));

  EXPECT_TRUE(onDelegateQueue);
  EXPECT_EQ(all, (std::vector{stalled, upload, idle, probe})) << ::testing::PrintToString(ids(all));
  EXPECT_EQ(data, (std::vector{stalled, idle, probe})) << ::testing::PrintToString(ids(data));
  EXPECT_EQ(uploads, (std::vector{upload}));
  EXPECT_TRUE(downloads.empty());
  EXPECT_EQ(manager->tasks(), (std::vector{stalled, upload, idle}));  // the probe completed

  stalled->cancel();
  upload->cancel();
  idle->cancel();
  ASSERT_TRUE(runUntil([&] { return outcomes.size() == 4; }));
  for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(outcomes[i].error->code, platform::net::kURLErrorCancelled);
  EXPECT_TRUE(manager->tasks().empty());
}

TEST_F(URLSessionManagerTest, ProgressReachesOneForAMebibyteEachWay) {
  const std::string mebibyte(1024 * 1024, 'm');
  server.setHandler("/echo", [&](const LoopbackHttpServer::RecordedRequest& r) {
    return LoopbackHttpServer::Reply{
        .status = 200, .body = r.method == "GET" ? mebibyte : "{}", .headers = {{"Content-Type", "application/octet-stream"}}};
  });
  manager->setResponseSerializer(KSHTTPResponseSerializer::serializer());

  std::vector<double> up, down;
  std::vector<Outcome> outcomes;
  auto post = manager->dataTaskWithRequest(request("/echo", "POST", mebibyte),
                                           [&](const Progress& p) { up.push_back(p.fractionCompleted()); }, nullptr,
                                           recordInto(outcomes));
  auto get = manager->dataTaskWithRequest(request("/echo"), nullptr,
                                          [&](const Progress& p) { down.push_back(p.fractionCompleted()); },
                                          recordInto(outcomes));
  ASSERT_NE(manager->uploadProgressForTask(post), nullptr);
  EXPECT_NE(manager->uploadProgressForTask(post), manager->uploadProgressForTask(get));
  EXPECT_EQ(manager->uploadProgressForTask(nullptr), nullptr);
  post->resume();
  get->resume();
  ASSERT_TRUE(runUntil([&] { return outcomes.size() == 2; }));
  for (const auto& o : outcomes) EXPECT_FALSE(o.error);

  ASSERT_FALSE(up.empty());
  ASSERT_FALSE(down.empty());
  EXPECT_EQ(up.back(), 1.0);
  EXPECT_EQ(down.back(), 1.0);
  EXPECT_TRUE(std::is_sorted(up.begin(), up.end()));
  EXPECT_TRUE(std::is_sorted(down.begin(), down.end()));
  EXPECT_EQ(server.requests().front().body.size() + server.requests().back().body.size(), mebibyte.size());
}

TEST_F(URLSessionManagerTest, UploadsFromDataFileAndStreamArriveWhole) {
  velmora::testing::TempDir dir;
  const auto file = dir.path() / "visits.json";
  std::ofstream(file) << R"({"visits":[1,2,3]})";
  std::vector<std::string> bodies;
  server.setHandler("/upload", [&](const LoopbackHttpServer::RecordedRequest&) {
    return LoopbackHttpServer::Reply{.status = 200, .body = "{}"};
  });

  std::vector<Outcome> outcomes;
  manager->uploadTaskWithRequestFromData(request("/upload", "PUT"), "from data", nullptr, recordInto(outcomes))->resume();
  manager->uploadTaskWithRequest(request("/upload", "POST"), "file://" + file.string(), nullptr, recordInto(outcomes))
      ->resume();
  KSURLRequest streamed = request("/upload", "POST");
  auto stream = std::make_shared<KSMultipartBodyStream>(KSStringEncodingUTF8);
  stream->appendHTTPBodyPart(std::make_unique<KSHTTPBodyPart>(KSHTTPBodyPart::Headers{}, "B",
                                                                KSInputStream::withData("from a stream"), 13));
  streamed.HTTPBodyStream = stream;
  manager->uploadTaskWithStreamedRequest(streamed, nullptr, recordInto(outcomes))->resume();
  // A file that is not there fails the task, with nothing sent.
  manager->uploadTaskWithRequest(request("/upload", "POST"), (dir.path() / "gone").string(), nullptr,
                                 recordInto(outcomes))
      ->resume();

  ASSERT_TRUE(runUntil([&] { return outcomes.size() == 4; }));
  std::size_t failed = 0;
  for (const auto& o : outcomes) failed += o.error.has_value();
  EXPECT_EQ(failed, 1u);
  std::vector<std::string> received;
  for (const auto& r : server.requests()) received.push_back(r.method + " " + r.body);
  EXPECT_THAT(received, ::testing::UnorderedElementsAre("PUT from data", R"(POST {"visits":[1,2,3]})",
                                                        ::testing::HasSubstr("from a stream")));
}

TEST_F(URLSessionManagerTest, AThrottledStreamPausesItsTransferNotTheOthers) {
  server.setDefaultReply({.status = 200, .body = "{}"});
  auto clock = std::make_shared<platform::ManualClock>();
  auto stream = std::make_shared<KSMultipartBodyStream>(KSStringEncodingUTF8, clock);
  for (int i = 0; i < 3; ++i) {
    stream->appendHTTPBodyPart(std::make_unique<KSHTTPBodyPart>(KSHTTPBodyPart::Headers{}, "B", std::string(100, 'p'), 100));
  }
  stream->setInitialAndFinalBoundaries();
  stream->throttleBandwidthWithPacketSize(64, 0.05);
  KSURLRequest upload = request("/upload", "POST");
  upload.HTTPBodyStream = stream;
  upload.setValue(std::to_string(stream->contentLength()), "Content-Length");

  std::vector<Outcome> uploads, gets;
  manager->uploadTaskWithStreamedRequest(upload, nullptr, recordInto(uploads))->resume();
  // The stream's clock stands still, so the upload stays paused; another request goes through.
  manager->dataTaskWithRequest(request("/other"), recordInto(gets))->resume();
  ASSERT_TRUE(runUntil([&] { return gets.size() == 1; }));
  EXPECT_TRUE(uploads.empty());

  // Time moves on for the stream (a little at each look): each pause ends and the body goes
  // out whole.
  ASSERT_TRUE(runUntil([&] {
    clock->advance(1.0);
    return !uploads.empty();
  }));
  ASSERT_FALSE(uploads[0].error);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].body.size(), stream->contentLength());
}

TEST_F(URLSessionManagerTest, DownloadsGoToATemporaryFileThenWhereTheDestinationSays) {
  const std::string body(200 * 1024, 'd');
  server.setReply("/firmware", {.status = 200, .body = body, .headers = {{"Content-Type", "application/octet-stream"}}});
  velmora::testing::TempDir dir;
  const auto target = dir.path() / "firmware.bin";

  std::string temporary;
  std::vector<double> fractions;
  std::optional<std::string> delivered;
  bool done = false;
  auto task = manager->downloadTaskWithRequest(
      request("/firmware"), [&](const Progress& p) { fractions.push_back(p.fractionCompleted()); },
      [&](const std::string& location, const auto& response) -> std::optional<std::string> {
        temporary = location;
        EXPECT_TRUE(std::filesystem::exists(location));
        EXPECT_EQ(response->statusCode, 200);
        return "file://" + target.string();
      },
      [&](const auto&, const std::optional<std::string>& path, const auto& error) {
        EXPECT_FALSE(error);
        delivered = path;
        done = true;
      });
  EXPECT_EQ(task->kind(), KSURLSessionTask::Kind::Download);
  task->resume();
  ASSERT_TRUE(runUntil([&] { return done; }));
  EXPECT_EQ(delivered, "file://" + target.string());
  std::ifstream in(target, std::ios::binary);
  std::stringstream read;
  read << in.rdbuf();
  EXPECT_EQ(read.str(), body);
  EXPECT_FALSE(std::filesystem::exists(temporary));
  ASSERT_FALSE(fractions.empty());
  EXPECT_EQ(fractions.back(), 1.0);

  // Without a destination the temporary file is removed after the task.
  done = false;
  manager->downloadTaskWithRequest(request("/firmware"), nullptr,
                                   [&](const std::string& location, const auto&) -> std::optional<std::string> {
                                     temporary = location;
                                     return std::nullopt;
                                   },
                                   [&](const auto&, const auto& path, const auto&) {
                                     EXPECT_FALSE(path);
                                     done = true;
                                   })
      ->resume();
  ASSERT_TRUE(runUntil([&] { return done; }));
  EXPECT_FALSE(std::filesystem::exists(temporary));
}

TEST_F(URLSessionManagerTest, RedirectsAreFollowedUnlessTheBlockDeclines) {
  server.setReply("/old", {.status = 302, .body = "{}", .headers = {{"Location", "/new"}}});
  server.setReply("/new", {.status = 200, .body = R"({"moved":true})"});

  // Without the block the redirect is followed.
  const Outcome plain = fetch(request("/old"));
  ASSERT_FALSE(plain.error) << plain.error->localizedDescription;
  EXPECT_EQ(plain.response->statusCode, 200);
  EXPECT_EQ(platform::json::write(plain.object), R"({"moved":true})");

  std::vector<std::string> asked;
  manager->setTaskWillPerformHTTPRedirectionBlock(
      [&](const auto&, const HTTPURLResponse& response, const platform::net::URLRequest& next)
          -> std::optional<platform::net::URLRequest> {
        asked.push_back(std::to_string(response.statusCode) + " " + next.url);
        return next;
      });
  std::vector<std::string> statuses;
  manager->setDataTaskDidReceiveResponseBlock([&](const auto&, const HTTPURLResponse& response) {
    statuses.push_back(std::to_string(response.statusCode));
    return platform::net::URLSessionResponseDisposition::Allow;
  });
  const Outcome followed = fetch(request("/old", "POST", "x=1"));
  ASSERT_FALSE(followed.error);
  EXPECT_EQ(platform::json::write(followed.object), R"({"moved":true})");
  EXPECT_THAT(asked, ::testing::ElementsAre("302 " + server.baseUrl() + "/new"));
  EXPECT_THAT(statuses, ::testing::ElementsAre("200"));  // the redirect itself is not announced
  EXPECT_EQ(server.requests().back().method, "GET");      // a POST answered by 302 goes on as GET

  // 307 keeps the method and the body, a multipart stream's too: it is sent again from a
  // copy of the stream.
  server.setReply("/kept", {.status = 307, .body = "{}", .headers = {{"Location", "/new"}}});
  const Outcome again = fetch(request("/kept", "POST", "x=2"));
  EXPECT_FALSE(again.error);
  EXPECT_EQ(server.requests().back().method + " " + server.requests().back().body, "POST x=2");
  KSURLRequest streamed = request("/kept", "POST");
  auto stream = std::make_shared<KSMultipartBodyStream>(KSStringEncodingUTF8);
  stream->appendHTTPBodyPart(std::make_unique<KSHTTPBodyPart>(KSHTTPBodyPart::Headers{}, "B", std::string("s"), 1));
  stream->setInitialAndFinalBoundaries();
  streamed.HTTPBodyStream = stream;
  streamed.urlRequest.headers = {{"Content-Length", std::to_string(stream->contentLength())}};
  std::vector<Outcome> uploads;
  const std::size_t before = server.requests().size();
  manager->uploadTaskWithStreamedRequest(streamed, nullptr, recordInto(uploads))->resume();
  ASSERT_TRUE(runUntil([&] { return uploads.size() == 1; }));
  ASSERT_FALSE(uploads[0].error) << uploads[0].error->localizedDescription;
  EXPECT_EQ(uploads[0].response->statusCode, 200);
  const auto sent = server.requests();
  ASSERT_EQ(sent.size(), before + 2);
  EXPECT_EQ(sent[before].target, "/kept");
  EXPECT_EQ(sent[before + 1].target, "/new");
  EXPECT_EQ(sent[before + 1].method, "POST");
  EXPECT_EQ(sent[before + 1].body, sent[before].body);
  EXPECT_NE(sent[before + 1].body.find("\r\n\r\ns\r\n"), std::string::npos);

  // Declining gives the redirect reply.
  manager->setTaskWillPerformHTTPRedirectionBlock(
      [&](const auto&, const HTTPURLResponse&, const auto&) -> std::optional<platform::net::URLRequest> {
        return std::nullopt;
      });
  const Outcome declined = fetch(request("/old"));
  EXPECT_EQ(declined.response->statusCode, 302);
  EXPECT_THAT(statuses, ::testing::ElementsAre("200", "200", "200", "302"));
}

TEST_F(URLSessionManagerTest, TenRedirectsInARowAreFollowedAndTheEleventhFails) {
  // "/hop/N" sends on to "/hop/N+1" until N reaches the last hop, which answers.
  const auto chain = [this](int last) {
    server.setFallbackHandler([last](const LoopbackHttpServer::RecordedRequest& r) -> LoopbackHttpServer::Reply {
      const int n = std::stoi(r.target.substr(r.target.rfind('/') + 1));
      if (n == last) return {.status = 200, .body = R"({"hops":)" + std::to_string(n) + "}"};
      return {.status = 302, .body = "{}", .headers = {{"Location", "/hop/" + std::to_string(n + 1)}}};
    });
  };
  chain(10);
  const Outcome ten = fetch(request("/hop/0"));
  ASSERT_FALSE(ten.error) << ten.error->localizedDescription;
  EXPECT_EQ(platform::json::write(ten.object), R"({"hops":10})");
  EXPECT_EQ(server.requests().size(), 11u);

  chain(11);
  const Outcome eleven = fetch(request("/hop/0"));
  ASSERT_TRUE(eleven.error);
  EXPECT_EQ(eleven.error->code, platform::net::kURLErrorHTTPTooManyRedirects);
  EXPECT_EQ(server.requests().size(), 22u);  // the eleventh redirect is not followed
}

TEST_F(URLSessionManagerTest, ARedirectKeepsCredentialsToTheirHostAndNeverLeavesHttps) {
  LoopbackHttpServer other;
  other.setReply("/landed", {.status = 200, .body = R"({"other":true})"});
  server.setReply("/same", {.status = 302, .body = "{}", .headers = {{"Location", "/landed"}}});
  server.setReply("/landed", {.status = 200, .body = R"({"same":true})"});
  server.setReply("/away", {.status = 307, .body = "{}", .headers = {{"Location", other.baseUrl() + "/landed"}}});
  const auto withCredentials = [this](std::string path) {
    KSURLRequest r = request(std::move(path));
    r.urlRequest.headers = {{"Authorization", "Kestrine dG9rZW4="}, {"Cookie", "s=1"},
                            {"Proxy-Authorization", "Basic eDp5"}, {"X-Trace", "t1"}};
    return r;
  };
  ASSERT_FALSE(fetch(withCredentials("/same")).error);
  const auto landedHere = server.requests().back();
  EXPECT_EQ(landedHere.target, "/landed");
  EXPECT_EQ(landedHere.header("Authorization"), "Kestrine dG9rZW4=");
  EXPECT_EQ(landedHere.header("Cookie"), "s=1");

  const Outcome away = fetch(withCredentials("/away"));
  ASSERT_FALSE(away.error);
  EXPECT_EQ(platform::json::write(away.object), R"({"other":true})");
  ASSERT_EQ(other.requests().size(), 1u);
  const auto landedThere = other.requests().front();
  EXPECT_FALSE(landedThere.header("Authorization"));
  EXPECT_FALSE(landedThere.header("Cookie"));
  EXPECT_FALSE(landedThere.header("Proxy-Authorization"));
  EXPECT_EQ(landedThere.header("X-Trace"), "t1");

  // From https to plain http the redirect reply is the answer, and nothing goes out in the clear.
  velmora::testing::LoopbackTlsServer secure;
  velmora::testing::TempDir dir;
  secure.writeCertificatePem(dir.path() / "ca.pem");
  secure.setRawReply("HTTP/1.1 302 Found\r\nLocation: " + other.baseUrl() +
                     "/landed\r\nContent-Type: application/json\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}");
  platform::net::URLSessionConfiguration configuration;
  configuration.caFile = (dir.path() / "ca.pem").string();
  manager = KSURLSessionManager::create(configuration);
  KSURLRequest downgrade = withCredentials("");
  downgrade.urlRequest.url = secure.baseUrl() + "/start";
  const Outcome refused = fetch(downgrade);
  ASSERT_TRUE(refused.response);
  EXPECT_EQ(refused.response->statusCode, 302);
  EXPECT_EQ(secure.requestsReceived(), 1u);
  EXPECT_EQ(other.requests().size(), 1u);
}

// A fresh reply kept by a manager whose cache has its disk tier in a folder is served to a
// manager made after the first one and its cache are gone, as after a restart of the app.
TEST_F(URLSessionManagerTest, AFreshReplyOutlivesTheSessionInTheDiskCache) {
  velmora::testing::TempDir folder;
  server.setReply("/fresh", {.status = 200, .body = R"({"n":1})", .headers = {{"Cache-Control", "max-age=600"}}});
  const auto session = [&] {
    platform::net::URLSessionConfiguration configuration;
    configuration.urlCache = KSCachePolicy::makeURLCache(folder.path());
    return KSURLSessionManager::create(configuration);
  };
  manager = session();
  ASSERT_FALSE(fetch(request("/fresh")).error);
  manager->session()->invalidateAndCancel();
  scheduler->runUntilIdle();
  manager = session();
  const Outcome again = fetch(request("/fresh"));
  ASSERT_FALSE(again.error);
  EXPECT_EQ(platform::json::write(again.object), R"({"n":1})");
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(URLSessionManagerTest, AFreshReplyIsServedFromTheCacheUnlessTheBlockKeepsItOut) {
  platform::net::URLSessionConfiguration configuration;
  configuration.urlCache = std::make_shared<platform::net::URLCache>(1 << 20, scheduler->clock());
  configuration.HTTPAdditionalHeaders = {{"Accept", "application/json"}, {"X-Session", "s"}};
  manager = KSURLSessionManager::create(configuration);
  server.setReply("/fresh", {.status = 200, .body = R"({"n":1})", .headers = {{"Cache-Control", "max-age=60"}}});
  server.setReply("/kept-out", {.status = 200, .body = R"({"n":2})", .headers = {{"Cache-Control", "max-age=60"}}});
  manager->setDataTaskWillCacheResponseBlock(
      [](const auto& task, const platform::net::CachedURLResponse& proposed) -> std::optional<platform::net::CachedURLResponse> {
        if (task->originalRequest()->url().ends_with("/kept-out")) return std::nullopt;
        return proposed;
      });

  for (int i = 0; i < 2; ++i) {
    const Outcome fresh = fetch(request("/fresh"));
    EXPECT_EQ(platform::json::write(fresh.object), R"({"n":1})");
    const Outcome keptOut = fetch(request("/kept-out"));
    EXPECT_EQ(platform::json::write(keptOut.object), R"({"n":2})");
  }
  std::vector<std::string> targets;
  for (const auto& r : server.requests()) targets.push_back(r.target);
  EXPECT_THAT(targets, ::testing::ElementsAre("/fresh", "/kept-out", "/kept-out"));

  // The session's headers go out where the request has none of its own; the request's win.
  KSURLRequest own = request("/other");
  own.setValue("text/plain", "Accept");
  fetch(own);
  const auto last = server.requests().back();
  EXPECT_EQ(last.header("Accept"), "text/plain");
  EXPECT_EQ(last.header("X-Session"), "s");
}

TEST_F(URLSessionManagerTest, ARefusedResponseCancelsTheTask) {
  server.setReply("/big", {.status = 200, .body = std::string(1000, 'x')});
  manager->setDataTaskDidReceiveResponseBlock(
      [](const auto&, const HTTPURLResponse&) { return platform::net::URLSessionResponseDisposition::Cancel; });
  std::size_t pieces = 0;
  manager->setDataTaskDidReceiveDataBlock([&](const auto&, const std::string&) { ++pieces; });
  const Outcome outcome = fetch(request("/big"));
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code, platform::net::kURLErrorCancelled);
  EXPECT_EQ(pieces, 0u);
}

TEST_F(URLSessionManagerTest, InvalidatingCancelsWhatRunsAndRefusesWhatComesLater) {
  server.setReply("/stall", {.mode = LoopbackHttpServer::Reply::Mode::Stall});
  NotificationLog log({KSURLSessionDidInvalidateNotification});
  std::optional<platform::Error> invalidError{platform::Error()};
  bool invalidated = false;
  manager->setSessionDidBecomeInvalidBlock([&](const auto& error) {
    invalidError = error;
    invalidated = true;
  });
  std::vector<Outcome> outcomes;
  manager->dataTaskWithRequest(request("/stall"), recordInto(outcomes))->resume();
  ASSERT_TRUE(server.waitForRequests(1, std::chrono::seconds(20)));
  manager->invalidateSessionCancelingTasks(true);
  ASSERT_TRUE(runUntil([&] { return invalidated && outcomes.size() == 1; }));
  EXPECT_EQ(outcomes[0].error->code, platform::net::kURLErrorCancelled);
  EXPECT_FALSE(invalidError);
  EXPECT_EQ(log.count(KSURLSessionDidInvalidateNotification), 1u);

  manager->dataTaskWithRequest(request("/stall"), recordInto(outcomes))->resume();
  ASSERT_TRUE(runUntil([&] { return outcomes.size() == 2; }));
  EXPECT_EQ(outcomes[1].error->code, platform::net::kURLErrorCancelled);
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(URLSessionManagerTest, FinishingTasksBeforeInvalidatingLetsTheRunningOnesEnd) {
  server.setReply("/slow", {.status = 200, .body = "{}", .delay = std::chrono::milliseconds(50)});
  bool invalidated = false;
  std::size_t completed = 0;
  std::size_t completedWhenInvalidated = 0;
  std::vector<Outcome> outcomes;
  manager->setTaskDidCompleteBlock([&](const auto&, const auto&) { ++completed; });
  manager->setSessionDidBecomeInvalidBlock([&](const auto&) {
    invalidated = true;
    completedWhenInvalidated = completed;
  });
  manager->dataTaskWithRequest(request("/slow"), recordInto(outcomes))->resume();
  manager->invalidateSessionCancelingTasks(false);
  ASSERT_TRUE(runUntil([&] { return invalidated; }));
  scheduler->runUntilIdle();
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_FALSE(outcomes[0].error);
  EXPECT_EQ(completedWhenInvalidated, 1u);
}

TEST_F(URLSessionManagerTest, AManagerLetGoMidFlightStillCompletesItsTaskOnce) {
  server.setReply("/slow", {.status = 200, .body = "{}", .delay = std::chrono::milliseconds(50)});
  std::vector<Outcome> outcomes;
  std::weak_ptr<KSURLSessionManager> weak = manager;
  manager->dataTaskWithRequest(request("/slow"), recordInto(outcomes))->resume();
  manager = KSURLSessionManager::create();  // the fixture's reference goes
  ASSERT_TRUE(runUntil([&] { return outcomes.size() == 1; }));
  EXPECT_FALSE(outcomes[0].error);
  scheduler->runUntilIdle();
  EXPECT_TRUE(weak.expired());
}

TEST_F(URLSessionManagerTest, TheActivityLoggerReadsTheManagersTaskNotifications) {
  server.setReply("/beacons", {.status = 200, .body = "{}"});
  server.setReply("/missing", {.status = 404, .body = "{}"});
  platform::LogCapture capture;
  KSNetworkActivityLogger logger(platform::NotificationCenter::defaultCenter(), scheduler->clock());
  logger.startLogging();
  fetch(request("/beacons"));
  fetch(request("/missing"));
  scheduler->runUntilIdle();
  logger.stopLogging();
  const std::string url = server.baseUrl() + "/beacons";
  EXPECT_EQ(capture.count("GET '" + url + "'"), 1u);
  EXPECT_EQ(capture.count("200 '" + url + "' [0.0000 s]"), 1u);
  // A status failure is the serializer's, not the task's: the logger reports the status.
  EXPECT_EQ(capture.count("404 '" + server.baseUrl() + "/missing'"), 1u);
}

TEST_F(URLSessionManagerTest, ANullResponseSerializerIsRefused) {
  auto before = manager->responseSerializer();
  platform::LogCapture capture;
  manager->setResponseSerializer(nullptr);
  EXPECT_EQ(manager->responseSerializer(), before);
  EXPECT_EQ(capture.count("Invalid parameter not satisfying: responseSerializer"), 1u);
}

}  // namespace
}  // namespace velmora::kestrine

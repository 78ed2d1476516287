#include "beacons/http/KSNetworkActivityLogger.h"

#include <gtest/gtest.h>

#include "beacons/http/KSNetworkTask.h"
#include "beacons/http/KSNetworkingNotifications.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {
namespace {

class FakeTask final : public KSNetworkTask {
 public:
  std::optional<KSURLRequest> request;
  std::optional<platform::net::HTTPURLResponse> reply;
  std::optional<platform::Error> failure;

  std::optional<KSURLRequest> originalRequest() const override { return request; }
  std::optional<platform::net::HTTPURLResponse> response() const override { return reply; }
  std::optional<platform::Error> error() const override { return failure; }
};

std::shared_ptr<FakeTask> task(bool fails) {
  auto t = std::make_shared<FakeTask>();
  KSURLRequest r;
  r.urlRequest.url = "http://h/api/beacons?page=1";
  r.urlRequest.method = "POST";
  r.urlRequest.headers = {{"Accept", "application/json"}};
  r.urlRequest.body = R"({"a":1})";
  t->request = r;
  if (fails) {
    t->failure = platform::Error("platform.url", -1004, "Could not connect to the server.");
  } else {
    platform::net::HTTPURLResponse response;
    response.statusCode = 200;
    response.url = r.urlRequest.url;
    response.headers = {{"Content-Type", "application/json"}};
    t->reply = response;
  }
  return t;
}

struct Harness {
  platform::NotificationCenter center;
  std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();

  void run(const std::shared_ptr<FakeTask>& t, bool start = true) {
    if (start) center.post(std::string(KSNetworkingTaskDidResumeNotification), t);
    clock->advance(0.25);
    platform::Dict info;
    if (!t->failure) info.emplace(std::string(KSNetworkingTaskDidCompleteSerializedResponseKey), platform::Value::makeDict({{"ok", true}}));
    center.post(std::string(KSNetworkingTaskDidCompleteNotification), t, info);
  }
};

std::vector<std::string> messages(const platform::LogCapture& capture) {
  std::vector<std::string> out;
  for (const auto& line : capture.lines()) {
    if (line.category == "network") out.push_back(line.message);
  }
  return out;
}

TEST(KSNetworkActivityLogger, LinesPerLevel) {
  const std::string start1 =
      R"(POST 'http://h/api/beacons?page=1': {Accept: application/json} {"a":1})";
  const std::string start2 = "POST 'http://h/api/beacons?page=1'";
  const std::string end1 = R"(200 'http://h/api/beacons?page=1' [0.2500 s]: {Content-Type: application/json} {"ok":true})";
  const std::string end2 = "200 'http://h/api/beacons?page=1' [0.2500 s]";
  const std::string failed =
      "[Error] POST 'http://h/api/beacons?page=1' (0) [0.2500 s]: Error Domain=platform.url Code=-1004 \"Could not connect to the server.\"";
  struct Case {
    std::uint64_t level;
    std::vector<std::string> success;
    std::vector<std::string> failure;
  };
  const Case cases[] = {
      {0, {}, {}},
      {1, {start1, end1}, {start1, failed}},
      {2, {start2, end2}, {start2, failed}},
      {3, {}, {failed}},
      {4, {}, {failed}},
      {5, {}, {}},
  };
  for (const Case& c : cases) {
    Harness h;
    KSNetworkActivityLogger logger(h.center, h.clock);
    logger.setLevel(c.level);
    logger.startLogging();
    {
      platform::LogCapture capture;
      h.run(task(false));
      EXPECT_EQ(messages(capture), c.success) << "level " << c.level;
    }
    {
      platform::LogCapture capture;
      h.run(task(true));
      EXPECT_EQ(messages(capture), c.failure) << "level " << c.level;
    }
  }
}

TEST(KSNetworkActivityLogger, StartStopFilterAndMissingStartTime) {
  Harness h;
  auto logger = std::make_unique<KSNetworkActivityLogger>(h.center, h.clock);
  EXPECT_EQ(logger->level(), 2u);
  {
    platform::LogCapture capture;
    h.run(task(false));
    EXPECT_TRUE(messages(capture).empty()) << "idle until started";
  }
  logger->startLogging();
  logger->startLogging();  // not twice the lines
  {
    platform::LogCapture capture;
    h.run(task(false));
    EXPECT_EQ(messages(capture).size(), 2u);
  }
  {
    platform::LogCapture capture;
    h.run(task(false), /*start=*/false);
    EXPECT_EQ(messages(capture), std::vector<std::string>{"200 'http://h/api/beacons?page=1' [? s]"});
  }
  logger->setFilterPredicate([](const KSURLRequest&) { return true; });
  {
    platform::LogCapture capture;
    h.run(task(false));
    h.run(task(true));
    EXPECT_TRUE(messages(capture).empty()) << "a filter matching every request silences it";
  }
  logger->setFilterPredicate(nullptr);
  logger->stopLogging();
  {
    platform::LogCapture capture;
    h.run(task(true));
    EXPECT_TRUE(messages(capture).empty());
  }
  logger->startLogging();
  logger.reset();  // releasing a logger stops it
  platform::LogCapture capture;
  h.run(task(true));
  EXPECT_TRUE(messages(capture).empty());
}

}  // namespace
}  // namespace velmora::kestrine

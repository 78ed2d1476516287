#include <filesystem>
#include <fstream>

#include "testing/GattCommandTestSupport.h"
#include "beacons/configuration/KSStreamDataCommand.h"
#include "beacons/configuration/KSStreamFileDataCommand.h"
#include "platform/core/Log.h"
#include "testing/HexBytes.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using namespace testsupport;
using velmora::testing::hexBytes;

// Counts background activities begun and ended.
class ActivityLog final : public platform::app::Application {
 public:
  struct Activity final : platform::app::BackgroundActivity {
    explicit Activity(std::string r) : reason_(std::move(r)) {}
    const std::string& reason() const override { return reason_; }
    std::string reason_;
  };
  std::vector<std::string> begun;
  int ended = 0;

  platform::app::ApplicationState applicationState() const override { return platform::app::ApplicationState::Active; }
  std::filesystem::path documentsDirectory() const override { return {}; }
  void presentLocalNotificationNow(const platform::app::LocalNotification&) override {}
  long applicationIconBadgeNumber() const override { return 0; }
  void setApplicationIconBadgeNumber(long) override {}
  std::shared_ptr<platform::app::BackgroundActivity> beginBackgroundActivity(std::string reason) override {
    begun.push_back(reason);
    return std::make_shared<Activity>(std::move(reason));
  }
  void endBackgroundActivity(const std::shared_ptr<platform::app::BackgroundActivity>&) override { ++ended; }
  platform::app::AdvertisingIdentity advertisingIdentity() const override { return {}; }
};

Bytes counting(std::size_t n) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i);
  return out;
}

struct StreamTest : GattFixture {
  std::shared_ptr<platform::bluetooth::GattService> service;
  std::shared_ptr<ActivityLog> app = std::make_shared<ActivityLog>();
  std::vector<float> progress;

  void SetUp() override {
    // Instant answers, so the writes' times are the stream's own pacing.
    connect({makerService()}, {.discovery = 0, .read = 0, .write = 0, .notifySwitch = 0, .notification = 0});
    service = discoveredMaker();
  }
  std::shared_ptr<KSStreamDataCommand> plainStream(Bytes data, float delayMs) {
    auto c = KSStreamDataCommand::create(link->peripheral, scheduler, commandQueue, service,
                                         find(service, KSCharacteristicUUIDStringGravy), std::move(data), delayMs, app);
    watch(c);
    return c;
  }
  std::shared_ptr<KSStreamDataCommand> feedbackStream(Bytes data, float minMs, float maxMs) {
    auto c = KSStreamDataCommand::create(link->peripheral, scheduler, commandQueue, service,
                                         find(service, KSCharacteristicUUIDStringGravy), std::move(data), minMs, maxMs,
                                         find(service, KSCharacteristicUUIDStringIndicator), app);
    watch(c);
    return c;
  }
  void watch(const std::shared_ptr<KSPeripheralCommand>& c) {
    c->setProgressBlock([this](const auto&, float p) { progress.push_back(p); });
  }
  // Gravy writes as (ms since `since`, first byte index) pairs.
  std::vector<std::pair<std::int64_t, std::size_t>> gravyWrites(std::int64_t since, const Bytes& data) const {
    std::vector<std::pair<std::int64_t, std::size_t>> out;
    for (const auto& t : link->server->trace()) {
      if (t.kind != SimGattServer::Kind::WriteWithoutResponse || t.answer) continue;
      const auto pos = std::search(data.begin(), data.end(), t.bytes.begin(), t.bytes.end());
      out.emplace_back((t.micros - since) / 1000, static_cast<std::size_t>(pos - data.begin()));
    }
    return out;
  }
  void feedback(std::string_view hex) { link->server->notify(gattUUID(KSCharacteristicUUIDStringIndicator), hexBytes(hex)); }
};

TEST_F(StreamTest, WritesOneChunkPerDelayAndReportsProgressEveryHundredWrites) {
  const Bytes data = counting(100);
  const auto since = nowMicros();
  auto stream = plainStream(data, 20);
  const Outcome outcome = run(stream);
  EXPECT_FALSE(outcome.error);
  EXPECT_EQ(outcome.calls, 1);
  EXPECT_EQ(gravyWrites(since, data), (std::vector<std::pair<std::int64_t, std::size_t>>{
                                          {0, 0}, {20, 16}, {40, 32}, {60, 48}, {80, 64}, {100, 80}, {120, 96}}));
  EXPECT_EQ(progress, std::vector<float>{0.0f});
  EXPECT_EQ(app->begun, std::vector<std::string>{"OTA Firmware Upgrade"});
  EXPECT_EQ(app->ended, 1);

  progress.clear();
  auto big = plainStream(Bytes(3200, 0x11), 0);
  EXPECT_FALSE(run(big).error);
  EXPECT_EQ(big->numWrites(), 200u);
  EXPECT_EQ(progress, (std::vector<float>{0.0f, 0.5f}));
}

TEST_F(StreamTest, RetryFeedbackRewindsAndSlowsUpToTheMaximum) {
  const Bytes data = counting(320);  // 20 chunks
  platform::LogCapture capture;
  const auto since = nowMicros();
  auto stream = feedbackStream(data, 10, 14);
  Outcome outcome;
  start(stream, outcome);
  scheduler->advanceBy(0.035);  // chunks at 0, 10, 20, 30
  feedback("01 01 00 05");      // back to byte 80, delay 13
  scheduler->advanceBy(0.001);
  EXPECT_EQ(stream->currentDelayBetweenWrites(), 13.0f);
  feedback("01 01 00 05");      // delay 14 (the maximum)
  feedback("01 01 00 05");      // stays 14
  feedback("01 01 00");         // 3 bytes: ignored
  feedback("01 01");            // 2 bytes: ignored
  feedback("01 01 00 FF");      // past the data: ignored
  scheduler->advanceBy(0.001);
  EXPECT_EQ(stream->currentDelayBetweenWrites(), 14.0f);
  EXPECT_EQ(stream->dataIndex(), 80u);
  scheduler->advanceBy(5);
  EXPECT_FALSE(outcome.error);
  EXPECT_EQ(outcome.calls, 1);
  const auto writes = gravyWrites(since, data);
  ASSERT_GE(writes.size(), 5u);
  EXPECT_EQ(writes[4], (std::pair<std::int64_t, std::size_t>{40, 80}));
  EXPECT_EQ(stream->dataIndex(), 320u);  // went on to the end from the rewound position
  EXPECT_EQ(writes.size(), 4u + 15u);
  bool logged = false;
  for (const auto& line : capture.lines()) logged |= line.message == "Retrying index 80 new delay 13.000000";
  EXPECT_TRUE(logged);

  // Both bounds 0: the delay stays 0.
  auto fast = feedbackStream(counting(64), 0, 0);
  start(fast, outcome);
  scheduler->runUntilIdle();
  feedback("01 01 00 01");
  scheduler->runUntilIdle();
  EXPECT_EQ(fast->currentDelayBetweenWrites(), 0.0f);
}

TEST_F(StreamTest, AlignmentErrorsAndLateRewindsFailTheStream) {
  auto aligned = feedbackStream(counting(320), 10, 20);
  Outcome outcome;
  start(aligned, outcome);
  scheduler->advanceBy(0.015);
  feedback("01 03");
  scheduler->advanceBy(1);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->localizedDescription, "OTA Alignment Error");
  EXPECT_EQ(outcome.error->domain, "com.kestrine.KSStreamFileDataCommand");

  // A rewind after the last chunk, before the switch-off is confirmed: the beacon wants data
  // again, so the stream has not succeeded.
  // The notification must arrive before the switch-off answer: give switches a latency.
  connect({makerService()}, {.discovery = 0, .read = 0, .write = 0, .notifySwitch = 0.005, .notification = 0});
  service = discoveredMaker();
  link->server->setWriteHandler(gattUUID(KSCharacteristicUUIDStringGravy), [](SimGattServer& server, const Bytes& v) {
    if (v.size() < 16) server.notify(gattUUID(KSCharacteristicUUIDStringIndicator), {0x01, 0x01, 0x00, 0x00});
  });
  auto late = feedbackStream(counting(40), 1, 5);
  Outcome lateOutcome;
  start(late, lateOutcome);
  scheduler->advanceBy(1);
  ASSERT_TRUE(lateOutcome.error);
  EXPECT_EQ(lateOutcome.error->localizedDescription, "OTA Alignment Error");
  EXPECT_EQ(app->begun.size(), static_cast<std::size_t>(app->ended));
}

TEST_F(StreamTest, CancelLetsAtMostOneMoreChunkOut) {
  const Bytes data = counting(320);
  const auto since = nowMicros();
  auto stream = plainStream(data, 10);
  Outcome outcome;
  start(stream, outcome);
  scheduler->advanceBy(0.025);  // chunks at 0, 10, 20
  stream->cancel();
  scheduler->advanceBy(1);
  EXPECT_LE(gravyWrites(since, data).size(), 4u);
  EXPECT_EQ(outcome.calls, 0);
  EXPECT_EQ(app->ended, 1);
}

TEST_F(StreamTest, FileStreamWaitsOneDelayBeforeEveryChunk) {
  velmora::testing::TempDir dir;
  const auto path = dir.path() / "image.bin";
  {
    std::ofstream out(path, std::ios::binary);
    const Bytes data = counting(40);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
  const auto empty = dir.path() / "empty.bin";
  std::ofstream(empty).close();

  const struct {
    std::filesystem::path path;
    std::vector<std::size_t> sizes;
    std::optional<std::string> error;
  } cases[] = {
      {path, {16, 16, 8}, std::nullopt},
      {empty, {}, std::nullopt},
      {dir.path() / "missing.bin", {}, "File not found at path " + (dir.path() / "missing.bin").string()},
      {dir.path(), {}, "File not found at path " + dir.path().string()},
  };
  for (const auto& c : cases) {
    progress.clear();
    const auto since = nowMicros();
    const auto traced = link->server->trace().size();
    auto stream = KSStreamFileDataCommand::create(link->peripheral, scheduler, commandQueue, service,
                                                  find(service, KSCharacteristicUUIDStringGravy), c.path.string(), 0.5f,
                                                  app);
    watch(stream);
    const Outcome outcome = run(stream, 10);
    ASSERT_EQ(outcome.calls, 1);
    EXPECT_EQ(outcome.error ? std::optional(outcome.error->localizedDescription) : std::nullopt, c.error);
    std::vector<std::size_t> sizes;
    std::vector<std::int64_t> times;
    const auto trace = link->server->trace();
    for (std::size_t i = traced; i < trace.size(); ++i) {
      sizes.push_back(trace[i].bytes.size());
      times.push_back((trace[i].micros - since) / 1000);
    }
    EXPECT_EQ(sizes, c.sizes);
    if (c.sizes.size() == 3) {
      EXPECT_EQ(times, (std::vector<std::int64_t>{500, 1000, 1500}));
    }
    if (!c.error) {
      EXPECT_EQ(outcome.atMicros - since, static_cast<std::int64_t>(500'000 * (c.sizes.size() + 1)));
    }
    EXPECT_EQ(progress.front(), 0.0f);
    EXPECT_EQ(progress.size(), 1u);  // 40 bytes: no multiple of 1024, no final 1.0
  }
  EXPECT_EQ(app->begun.size(), 2u);
  EXPECT_EQ(app->ended, 2);
}

}  // namespace
}  // namespace velmora::kestrine

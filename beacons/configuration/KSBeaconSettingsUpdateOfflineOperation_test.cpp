// The offline settings update on the simulated beacon: the beacon decrypts what the phone
// built, or takes it plain when its login says so.
#include <gtest/gtest.h>

#include "beacons/configuration/KSBeaconSettingsUpdateOfflineOperation.h"
#include "beacons/configuration/KSSettingsKeys.h"
#include "testing/HexBytes.h"
#include "testing/SettingsTestSupport.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::Dict;
using platform::Value;
using testsupport::SettingsFixture;
using velmora::testing::hexBytes;

Dict settings(std::initializer_list<std::pair<const std::string, Value>> extra = {}) {
  Dict d{{std::string(KSSettingsUpdateCurrentPasscodeKey), "123456"},
         {std::string(KSSettingsUpdateMajorKey), 1},
         {std::string(KSSettingsUpdateMinorKey), 2}};
  for (const auto& [k, v] : extra) d[k] = v;
  return d;
}

struct OfflineUpdateTest : SettingsFixture {
  std::shared_ptr<KSBeaconSettingsUpdateOfflineOperation> operation;
  std::shared_ptr<std::atomic<int>> draws = std::make_shared<std::atomic<int>>(0);
  // lastAttempt: the retries are used up, so the attempt's own failure is the one reported.
  std::shared_ptr<testsupport::Report> start(Dict d, bool lastAttempt = false) {
    operation = KSBeaconSettingsUpdateOfflineOperation::initWithBeacon(beacon, peripheralID, std::move(d));
    if (lastAttempt) operation->setRetryCount(operation->maxNumberOfRetries());
    operation->setCloud(cloud);
    auto counter = draws;
    // Every IV is sixteen bytes of the number of IVs drawn before it.
    operation->setRandomSource(platform::crypto::RandomSource::fromFunction([counter](std::span<std::uint8_t> out) {
      const auto n = static_cast<std::uint8_t>(counter->fetch_add(1));
      std::fill(out.begin(), out.end(), n);
    }));
    auto report = schedule(operation);
    runUntilReported(report);
    return report;
  }
};

TEST_F(OfflineUpdateTest, TheBeaconDecryptsExactlyThePayload) {
  auto report = start(settings());
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  EXPECT_EQ(sink->encrypted().payloads(), std::vector<Bytes>{hexBytes("00 10 00 02 00 04 00 02 00 02 00 03 00 02 00 01")});
  EXPECT_EQ(sink->encrypted().vectors(), std::vector<Bytes>{Bytes(16, 0x00)});
  EXPECT_EQ(texts(*report), (std::vector<std::string>{"Updating", "Init Vector", "Bulk Write", "Mac Write", "Succeeded"}));
  EXPECT_EQ(login->milkWrites().size(), 1u) << "logged in with the passcode";
  EXPECT_TRUE(cloudFake.log().empty()) << "no cloud at all";
}

TEST_F(OfflineUpdateTest, APlainVerdictWritesNumberedPlainChunks) {
  login->setVerdict(Bytes{0x00, 0x03});
  auto report = start(settings({{std::string(KSSettingsUpdateMeasuredPowerKey), -59},
                                {std::string(KSSettingsUpdateBeaconModeIDKey), 2},
                                {std::string(KSSettingsUpdateLocalNameShortKey), "ABC"},
                                {std::string(KSSettingsUpdateVersionKey), 7}}));
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  Bytes payload = hexBytes(
      "00 26 00 06 00 04 00 02 00 02 00 03 00 02 00 01 00 02 00 01 C5 00 08 00 01 02 00 1B 00 03 41 42 43 00 07 00 01 07");
  payload.resize(48, 0x00);
  EXPECT_EQ(sink->plainPayloads(), std::vector<Bytes>{payload});
  const auto writes = settingsWrites();
  ASSERT_EQ(writes.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(writes[i].size(), 18u);
    EXPECT_EQ(writes[i][0], i == 2 ? 0x19 : 0x18);
    EXPECT_EQ(writes[i][1], i);
  }
  EXPECT_EQ(texts(*report), (std::vector<std::string>{"Updating", "Succeeded"}));
}

TEST_F(OfflineUpdateTest, AShortFinalAnswerFails) {
  sink->encrypted().scriptAnswer(Bytes{0x00, 0x04});
  auto report = start(settings(), true);
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, "Notify Data not 16 bytes");

  installBeacon(true);
  login->setVerdict(Bytes{0x00, 0x03});
  sink->scriptPlainAnswer(Bytes{0x01, 0x02});
  report = start(settings(), true);
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, "Notify Data not 16 bytes: <0102>");
}

TEST_F(OfflineUpdateTest, InvalidSettingsNeverConnect) {
  const std::vector<std::pair<Dict, std::string>> rows{
      {Dict{{std::string(KSSettingsUpdateMajorKey), 1}}, "Empty Passcode String"},
      {Dict{{std::string(KSSettingsUpdateCurrentPasscodeKey), ""}}, "Empty Passcode String"},
      {Dict{{std::string(KSSettingsUpdateCurrentPasscodeKey), 123456}}, "Empty Passcode String"},
      {settings({{std::string(KSSettingsUpdateAdChannelsKey), 256}}), "Invalid Advertising Channel"},
      {settings({{std::string(KSSettingsUpdateMajorKey), "1"}}), "Invalid setting KSSettingsUpdateMajorKey"},
      {settings({{std::string(KSSettingsUpdateBeaconModeIDKey), 7}}), "Invalid beacon mode"},
  };
  for (const auto& [d, message] : rows) {
    auto report = start(d);
    ASSERT_EQ(report->failures, 1) << message;
    EXPECT_EQ(report->error->localizedDescription, message);
    EXPECT_EQ(report->calls(), 1);
  }
  EXPECT_EQ(discoveries(*server), 0);
}

TEST_F(OfflineUpdateTest, ARetrySendsANewVector) {
  // The MAC write of the first attempt is refused; the retry waits for the beacon to be heard
  // again and writes everything anew.
  server->failNth(platform::sim::SimGattServer::Kind::Write, gattUUID(KSCharacteristicUUIDStringControl), 3,
                  platform::Error(std::string(platform::bluetooth::gatt::kErrorDomain), 3, "refused"));
  const platform::Uuid heardAgain = platform::Uuid::random();
  radio()->setGattServer(heardAgain, server);
  operation = KSBeaconSettingsUpdateOfflineOperation::initWithBeacon(beacon, peripheralID, settings());
  operation->setCloud(cloud);
  auto counter = draws;
  operation->setRandomSource(platform::crypto::RandomSource::fromFunction([counter](std::span<std::uint8_t> out) {
    std::fill(out.begin(), out.end(), static_cast<std::uint8_t>(counter->fetch_add(1)));
  }));
  auto report = schedule(operation);
  central->world.scheduler->runUntil([&] { return sink->encrypted().vectors().size() == 1; }, 30);
  advanceBy(1);
  hear(beacon, heardAgain);
  runUntilReported(report, 60);
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  EXPECT_EQ(report->retryCount, 1);
  EXPECT_EQ(sink->encrypted().vectors(), (std::vector<Bytes>{Bytes(16, 0x00), Bytes(16, 0x01)}));
  EXPECT_EQ(sink->encrypted().payloads().size(), 1u);
}

}  // namespace
}  // namespace velmora::kestrine

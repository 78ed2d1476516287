// The cloud-prepared settings update on the simulated beacon, through the real manager, with
// the loopback beacon cloud, in virtual time.
#include <gtest/gtest.h>

#include "beacons/configuration/KSBeaconSettingsUpdateOperation.h"
#include "platform/crypto/Base64.h"
#include "platform/sim/SimEncryptedSettingsSink.h"
#include "testing/SettingsTestSupport.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::sim::SimEncryptedSettingsSink;
using testsupport::SettingsFixture;
using Fault = velmora::testing::BeaconCloudFake::Fault;

Bytes range(std::size_t n, std::uint8_t from = 0) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(from + i);
  return out;
}
Bytes with(std::initializer_list<std::uint8_t> head, const Bytes& tail) {
  Bytes out(head);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

struct SettingsUpdateTest : SettingsFixture {
  std::shared_ptr<KSBeaconSettingsUpdateOperation> operation;
  std::shared_ptr<testsupport::Report> start() {
    operation = KSBeaconSettingsUpdateOperation::initWithBeacon(beacon, peripheralID);
    operation->setCloud(cloud);
    auto report = schedule(operation);
    runUntilReported(report);
    return report;
  }
  void scriptBlob(const Bytes& blob, platform::crypto::Base64Lines lines = platform::crypto::Base64Lines::Single) {
    cloudFake.putRecord("beacons/b-1/versions/latest/settings", "settings", platform::crypto::base64Encode(blob, lines));
  }
};

TEST_F(SettingsUpdateTest, StreamsTheCloudsBlobAndConfirmsTheBeaconsResult) {
  const Bytes payload = range(48, 0x60);
  cloudFake.setSettingsPayload(payload);
  app->setStatusDelay(2);  // slow status answers: the keep-alive runs while the cloud answers
  auto report = start();
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");

  EXPECT_EQ(sink->encrypted().payloads(), std::vector<Bytes>{payload}) << "the beacon decrypted the cloud's settings";
  const auto mac = cloudFake.issuedSettingsMac("b-1");
  ASSERT_TRUE(mac);
  EXPECT_EQ(cloudFake.statusReports(), std::vector<Bytes>{SimEncryptedSettingsSink::resultFor(sharedKey, *mac)});
  EXPECT_EQ(cloudCalls("GET"), (std::vector<std::string>{
                                   "/api/beacons/b-1/versions/latest/settings?status=%2B/%2B/AAAAAAAAAAAAAAAAAAAAAAA%3D",
                                   "/api/beacons/b-1"}));
  EXPECT_EQ(regionSyncs->load(), 1);

  const auto writes = server->writes(gattUUID(KSCharacteristicUUIDStringControl));
  ASSERT_GE(writes.size(), 6u);
  EXPECT_EQ(writes[0], Bytes{0x1D});
  EXPECT_EQ(writes[1], Bytes{0x1D}) << "the keep-alive writes status requests while the cloud answers";
  const auto settings = settingsWrites();
  ASSERT_EQ(settings.size(), 5u);
  EXPECT_EQ(settings[0].size(), 17u);
  EXPECT_EQ(settings[0][0], 0x15);
  EXPECT_EQ((Bytes{settings[1][0], settings[1][1], settings[2][1], settings[3][1]}), (Bytes{0x16, 0x00, 0x01, 0x02}));
  EXPECT_EQ(settings[1].size(), 18u) << "one chunk per write";
  EXPECT_EQ(settings[4], with({0x17}, *mac));

  EXPECT_EQ(texts(*report), (std::vector<std::string>{"Updating", "Downloading Settings", "Init Vector", "Bulk Data",
                                                      "Mac Write", "Disconnecting", "Notified", "Confirming",
                                                      "Succeeded"}));
}

TEST_F(SettingsUpdateTest, CutsScriptedBlobsIntoTheirWrites) {
  using platform::crypto::Base64Lines;
  struct Row {
    Bytes blob;
    std::vector<Bytes> writes;
    Base64Lines lines = Base64Lines::Single;
  };
  const std::vector<Bytes> writes65{with({0x15}, range(16)), with({0x16, 0x00}, range(16, 0x10)),
                                    with({0x16, 0x01}, range(16, 0x20)), Bytes{0x16, 0x02, 0x30},
                                    with({0x17}, range(16, 0x31))};
  const std::vector<Row> rows{
      {range(33), {with({0x15}, range(16)), Bytes{0x16, 0x00, 0x10}, with({0x17}, range(16, 0x11))}},
      {range(65), writes65},
      // The cloud may break its base64 into 64-character lines: read as the same blob.
      {range(65), writes65, Base64Lines::Length64},
  };
  for (const auto& row : rows) {
    installBeacon(true);
    scriptBlob(row.blob, row.lines);
    sink->encrypted().scriptAnswer(Bytes(16, 0xAB));
    auto report = start();
    EXPECT_EQ(report->successes, 1) << row.blob.size();
    EXPECT_EQ(settingsWrites(), row.writes) << row.blob.size();
    EXPECT_EQ(cloudFake.statusReports().back(), Bytes(16, 0xAB));
  }
}

TEST_F(SettingsUpdateTest, ReadsTheBeaconsFinalNotification) {
  const std::vector<std::pair<Bytes, std::string>> rows{
      {{0x00, 0x04}, "Settings Format Error"},
      {{0x00, 0x05}, "Notify Response 5"},
      {{0x01, 0x02, 0x03}, "Notify data not recognized <010203>"},
  };
  for (const auto& [answer, message] : rows) {
    installBeacon(true);
    sink->encrypted().scriptAnswer(answer);
    cloudFake.clearLog();
    auto report = start();
    ASSERT_EQ(report->failures, 1) << message;
    EXPECT_EQ(report->error->localizedDescription, message);
    EXPECT_EQ(report->error->domain, "com.kestrine.KSBeaconSettingsUpdateOperation");
    EXPECT_TRUE(cloudCalls("PUT").empty()) << "nothing is confirmed";
  }
}

TEST_F(SettingsUpdateTest, RefusesBlobsItCannotCut) {
  scriptBlob(range(32));
  auto report = start();
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription,
            "Settings Data is wrong length <00010203 04050607 08090a0b 0c0d0e0f 10111213 14151617 18191a1b 1c1d1e1f>");
  EXPECT_TRUE(settingsWrites().empty());

  installBeacon(true);
  cloudFake.putRecord("beacons/b-1/versions/latest/settings", "other", "x");
  report = start();
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, "Settings Data is wrong length (null)");

  installBeacon(true);
  scriptBlob(Bytes(32 + 4097, 0x01));
  report = start();
  ASSERT_EQ(report->failures, 1);
  EXPECT_TRUE(report->error->localizedDescription.starts_with("Settings Data is wrong length <01010101"))
      << "bulk data of 257 chunks cannot be numbered";
  EXPECT_TRUE(settingsWrites().empty());
}

TEST_F(SettingsUpdateTest, AFailedFetchEndsTheKeepAliveWithItsError) {
  cloudFake.setFault("GET", "beacons/b-1/versions/latest/settings", Fault{.status = 500});
  auto report = start();
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->code, -1011);
  EXPECT_TRUE(settingsWrites().empty());
  const int statusRequests = app->statusRequests();
  advanceBy(30);
  EXPECT_EQ(app->statusRequests(), statusRequests) << "the keep-alive stopped";
}

TEST_F(SettingsUpdateTest, AFetchHeldPastTheConnectedBudgetTimesOutAndItsLateReplyWritesNothing) {
  cloudFake.setFault("GET", "beacons/b-1/versions/latest/settings", Fault{.kind = Fault::Kind::Hold});
  operation = KSBeaconSettingsUpdateOperation::initWithBeacon(beacon, peripheralID);
  operation->setCloud(cloud);
  auto report = schedule(operation);
  central->world.scheduler->runUntil([&] { return cloudFake.hits("GET", "beacons/b-1/versions/latest/settings") == 1; });
  advanceBy(31);
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, "Beacon operation did timeout.");
  cloudFake.releaseHeld();
  central->world.scheduler->runUntil([&] { return false; }, 5);
  EXPECT_TRUE(settingsWrites().empty());
  EXPECT_EQ(report->calls(), 1);
}

TEST_F(SettingsUpdateTest, ConfirmationAndRefreshFailuresFailTheUpdate) {
  cloudFake.setFault("PUT", "beacons/b-1/versions/confirm", Fault{.status = 503});
  auto report = start();
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->code, -1011);
  EXPECT_EQ(regionSyncs->load(), 1) << "the regions are synced after a failed confirmation too";

  installBeacon(true);
  cloudFake.clearFaults();
  cloudFake.setFault("GET", "beacons/b-1", Fault{.status = 404});
  report = start();
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->code, -1011);
  EXPECT_EQ(regionSyncs->load(), 2);
}

// Without Indicator the login's verdict cannot arrive: the update fails once, at the login,
// before it asks the cloud for anything or writes a setting.
TEST_F(SettingsUpdateTest, ABeaconWithoutIndicatorIsRefused) {
  installBeacon(false);
  auto report = start();
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->successes, 0);
  EXPECT_EQ(report->error->localizedDescription, "KSBeaconAuthLoginCommand Unrecognized Response");
  EXPECT_TRUE(cloudCalls("GET").empty());
  EXPECT_TRUE(settingsWrites().empty());
}

}  // namespace
}  // namespace velmora::kestrine

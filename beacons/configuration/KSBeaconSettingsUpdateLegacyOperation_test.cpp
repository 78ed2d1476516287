// The legacy settings update on the simulated beacon with the loopback beacon cloud.
#include <gtest/gtest.h>

#include "beacons/configuration/KSBeaconSettingsUpdateLegacyOperation.h"
#include "testing/HexBytes.h"
#include "testing/SettingsTestSupport.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::Value;
using testsupport::SettingsFixture;
using velmora::testing::hexBytes;
using Fault = velmora::testing::BeaconCloudFake::Fault;

struct LegacyUpdateTest : SettingsFixture {
  void putVersion(Value version) { cloudFake.putRecord("beacons/b-1/versions/latest", "version", std::move(version)); }
  static Value version(Value uuid = Value()) {
    Value v = Value::makeDict({{"id", "v-7"},
                               {"version", 7},
                               {"major", 1},
                               {"minor", 2},
                               {"measuredPowerAt1Meter", -59},
                               {"privacyDuration", 0},
                               {"beaconLoudness", Value::makeDict({{"id", 3}, {"level", 3}, {"measuredPowerAt1Meter", -70}})},
                               {"targetSpeed", Value::makeDict({{"id", 1}, {"milliseconds", 152}})},
                               {"beaconMode", Value::makeDict({{"id", 1}})}});
    if (!uuid.isAbsent()) v.set("proximityUUID", uuid);
    return v;
  }
  std::shared_ptr<testsupport::Report> start() {
    auto operation = KSBeaconSettingsUpdateLegacyOperation::initWithBeacon(beacon, peripheralID);
    operation->setCloud(cloud);
    auto report = schedule(operation);
    runUntilReported(report);
    return report;
  }
};

TEST_F(LegacyUpdateTest, WritesTheThreeLinesAndConfirmsTheVersion) {
  putVersion(version("01234567-89AB-CDEF-0123-456789ABCDEF"));
  auto report = start();
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  EXPECT_EQ(sink->lineWrites(), (std::vector<Bytes>{hexBytes("0D 03 98 00 C5 01 01 00 02 00 10 27 00 00"),
                                                    hexBytes("0E 01 23 45 67 89 AB CD EF 01 23 45 67 89 AB CD EF"),
                                                    hexBytes("0F 07")}));
  EXPECT_EQ(sink->lines().constant, 10000);
  EXPECT_EQ(cloudCalls("PUT"), std::vector<std::string>{"/api/beacons/b-1/versions/7/confirm"});
  EXPECT_EQ(cloudCalls("GET"), (std::vector<std::string>{"/api/beacons/b-1/versions/latest", "/api/beacons/b-1"}));
  EXPECT_EQ(regionSyncs->load(), 1);
  EXPECT_EQ(texts(*report), (std::vector<std::string>{"Updating", "Disconnecting", "Done", "Succeeded"}));
  EXPECT_FALSE(beacon->peripheralIdentifier()) << "the beacon is looked for again under its new settings";
}

TEST_F(LegacyUpdateTest, AFailingFetchIsTriedFiveTimesAndReportedOnce) {
  cloudFake.setFault("GET", "beacons/b-1/versions/latest", Fault{.status = 500});
  auto report = start();
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->calls(), 1);
  EXPECT_EQ(report->error->code, -1011);
  EXPECT_EQ(cloudFake.hits("GET", "beacons/b-1/versions/latest"), 5u);
  EXPECT_TRUE(sink->lineWrites().empty());
}

TEST_F(LegacyUpdateTest, ABadUuidIsRefusedBeforeConnecting) {
  putVersion(version("not-a-uuid"));
  auto report = start();
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, "Invalid proximity UUID string");
  EXPECT_EQ(discoveries(*server), 0) << "never connected";
}

TEST_F(LegacyUpdateTest, ConfirmationFailureSyncsRegionsAndFails) {
  putVersion(version());
  cloudFake.setFault("PUT", "beacons/b-1/versions/7/confirm", Fault{.status = 500});
  auto report = start();
  // The retry waits for the beacon to be heard under its new settings, which never happens.
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(cloudFake.hits("PUT", "beacons/b-1/versions/7/confirm"), 1u);
  EXPECT_EQ(regionSyncs->load(), 1) << "the regions are synced after a failed confirmation too";
  EXPECT_EQ(sink->lines().proximityUUID, Bytes(16, 0x00)) << "no UUID writes the default one";
}

}  // namespace
}  // namespace velmora::kestrine

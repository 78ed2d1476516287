#include "beacons/ranging/KSRangedBeaconLists.h"

#include <gtest/gtest.h>

#include "testing/BeaconFixtures.h"

namespace velmora::kestrine {
namespace {

using testsupport::indexesOf;

struct Row {
  const char* name;
  std::int64_t status;
  std::vector<std::int64_t> roles;  // empty: no network access
  std::vector<std::string_view> frames;
  bool identifierData = false;
  bool measurementData = false;
};

TEST(RangedBeaconLists, CutsOnePassIntoItsLists) {
  const Row rows[] = {
      {"0 unsynced iBeacon", KSSyncStatusNotSynced, {2}, {KSAdDataTypeAppleIBeaconKey}},
      {"1 synced managed, no frames", KSSyncStatusSynced, {2}, {}},
      {"2 restored managed iBeacon", KSSyncStatusRestored, {2, 1}, {KSAdDataTypeKestrineIBeaconKey}},
      {"3 synced analytics Eddystone UID", KSSyncStatusSynced, {1}, {KSAdDataTypeEddystoneUIDKey}},
      {"4 telemetry alone", KSSyncStatusNotSynced, {}, {KSAdDataTypeEddystoneTelKey}},
      {"5 newborn only", KSSyncStatusNotSynced, {}, {KSAdDataTypeKestrineNewbornKey}},
      {"6 measurement only", KSSyncStatusNotSynced, {}, {}, false, true},
      {"7 identifier data", KSSyncStatusNotSynced, {}, {}, true},
      {"8 expired crowd-source candidate", KSSyncStatusExpired, {3}, {KSAdDataTypeEddystoneURLKey}},
      {"9 synced crowd-source candidate", KSSyncStatusSynced, {3}, {}},
  };
  KSRangedBeaconLists::Beacons pass;
  for (const auto& r : rows) {
    auto b = std::make_shared<KSBeacon>();
    for (auto f : r.frames) b->setAdData(testsupport::adDataOfType(f), f);
    if (!r.roles.empty()) {
      testsupport::grantRoles(*b, r.roles, r.status);
    } else {
      b->setSyncStatus(r.status);
    }
    if (r.identifierData) b->setIdentifierDataString("0A0B");
    if (r.measurementData) b->setRawMeasurementData(platform::Bytes{1});
    pass.push_back(b);
  }
  // The pass's order is kept everywhere: reverse it to tell kept order from sorting.
  std::reverse(pass.begin(), pass.end());
  auto rowsOf = [&](const KSRangedBeaconLists::Beacons& list) {
    std::vector<int> out;
    for (int i : indexesOf(list, pass)) out.push_back(9 - i);
    return out;
  };

  const auto lists = KSRangedBeaconLists::fromRangedBeacons(pass);
  EXPECT_EQ(rowsOf(lists.crowdSourceCandidates), (std::vector<int>{9}));
  EXPECT_EQ(rowsOf(lists.kestrine), (std::vector<int>{2, 1}));
  EXPECT_EQ(rowsOf(lists.analytics), (std::vector<int>{3, 2}));
  EXPECT_EQ(rowsOf(lists.newborn), (std::vector<int>{5}));
  EXPECT_EQ(rowsOf(lists.iBeacons), (std::vector<int>{2, 0}));
  EXPECT_EQ(rowsOf(lists.eddystone), (std::vector<int>{8, 3}));
  // Managed, iBeacon, Eddystone or identifier beacons, each once: not newborn-only,
  // measurement-only or telemetry-only ones.
  EXPECT_EQ(rowsOf(lists.all), (std::vector<int>{8, 7, 3, 2, 1, 0}));
  EXPECT_EQ(rowsOf(lists.measurement), (std::vector<int>{6}));
}

TEST(RangedBeaconLists, EmptyPassGivesEmptyLists) {
  const auto lists = KSRangedBeaconLists::fromRangedBeacons({});
  EXPECT_TRUE(lists.all.empty());
  EXPECT_TRUE(lists.kestrine.empty());
  EXPECT_TRUE(lists.measurement.empty());
}

}  // namespace
}  // namespace velmora::kestrine

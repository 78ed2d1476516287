#include "beacons/model/KSBeaconArray.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "beacons/model/KSBeaconMode.h"
#include "testing/BeaconFixtures.h"

namespace velmora::kestrine {
namespace {

using namespace beacon_array;
using platform::Date;
using testsupport::indexesOf;

std::shared_ptr<KSBeacon> withAccuracy(double a) {
  auto b = std::make_shared<KSBeacon>();
  b->setAccuracy(a);
  return b;
}

TEST(BeaconArraySort, AccuracyBothWaysWithUnknownsAndNaNFirst) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // 0: 2.0, 1: -1.0, 2: 0.5, 3: NaN, 4: 0.5 (equal to 2), 5: -1.0 (equal to 1)
  Beacons in = {withAccuracy(2.0), withAccuracy(-1.0), withAccuracy(0.5),
                withAccuracy(nan), withAccuracy(0.5), withAccuracy(-1.0)};
  EXPECT_EQ(indexesOf(sortedBeaconArrayUsingAccuracyAscending(in, true), in), (std::vector<int>{3, 1, 5, 2, 4, 0}));
  EXPECT_EQ(indexesOf(sortedBeaconArrayUsingAccuracyAscending(in, false), in), (std::vector<int>{0, 2, 4, 1, 5, 3}));
  EXPECT_DOUBLE_EQ(in[0]->accuracy(), 2.0);  // the input is left alone
}

TEST(BeaconArraySort, TextsByCodePointWithAbsentFirst) {
  auto named = [](std::optional<std::string> site) {
    auto b = std::make_shared<KSBeacon>();
    b->setSiteName(std::move(site));
    return b;
  };
  // "Z" < "a" < "é" (U+00E9) by code point; a locale would put "é" before "Z".
  Beacons in = {named("\xC3\xA9"), named("a"), named(std::nullopt), named("Z"), named("a")};
  EXPECT_EQ(indexesOf(sortedBeaconArrayUsingSiteNameAscending(in, true), in), (std::vector<int>{2, 3, 1, 4, 0}));
  EXPECT_EQ(indexesOf(sortedBeaconArrayUsingSiteNameAscending(in, false), in), (std::vector<int>{0, 1, 4, 3, 2}));

  auto keyed = [](std::uint16_t major) {
    auto b = std::make_shared<KSBeacon>();
    b->setProximityUUIDString("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0");
    b->setMajor(platform::Value(major));
    b->setMinor(platform::Value(1));
    return b;
  };
  Beacons keys = {keyed(2), std::make_shared<KSBeacon>(), keyed(10)};
  // "...:10:1" < "...:2:1" as text.
  EXPECT_EQ(indexesOf(sortedBeaconArrayUsingIBeaconKeyAscending(keys, true), keys), (std::vector<int>{1, 2, 0}));
}

TEST(BeaconArrayFilter, SyncStatusAndRoles) {
  Beacons in;
  for (std::int64_t s = 0; s <= 4; ++s) {
    auto b = std::make_shared<KSBeacon>();
    testsupport::grantRoles(*b, {2}, s);
    in.push_back(b);
  }
  auto bare = std::make_shared<KSBeacon>();  // synced, no network access at all
  bare->setSyncStatus(KSSyncStatusSynced);
  in.push_back(bare);

  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingSyncedOrUnauthorized(in, false), in), (std::vector<int>{0, 3, 4}));
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingSyncedOrUnauthorized(in, true), in), (std::vector<int>{1, 2, 5}));
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingSyncStatus(in, 3), in), (std::vector<int>{3}));
  // Only synced (2) or restored (3) beacons whose access names the role.
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingBeaconAccessRole(in, 2), in), (std::vector<int>{2, 3}));
  EXPECT_TRUE(filteredBeaconArrayUsingBeaconAccessRole(in, 1).empty());
}

TEST(BeaconArrayFilter, DatesAreStrictlyAfter) {
  const Date t = Date::fromUnixSeconds(1000);
  auto make = [](std::optional<Date> discovered, std::optional<Date> ranged) {
    auto b = std::make_shared<KSBeacon>();
    b->setLastDiscoveredAt(discovered);
    b->setLastRangedAt(ranged);
    return b;
  };
  Beacons in = {
      make(t.addingTimeInterval(1), std::nullopt),                 // 0 discovered after, never ranged
      make(t.addingTimeInterval(-1), t.addingTimeInterval(1)),     // 1 ranged after, discovered before
      make(t, t),                                                  // 2 both exactly at the date
      make(std::nullopt, std::nullopt),                            // 3 neither
  };
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingLastAdvertisedAfter(in, t), in), (std::vector<int>{0, 1}));
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingLastRangedAfter(in, t), in), (std::vector<int>{1}));
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingLastDiscoveredAfter(in, t), in), (std::vector<int>{0}));
}

TEST(BeaconArrayFilter, AdvertisementKinds) {
  Beacons in = {
      testsupport::beaconWithAdTypes({KSAdDataTypeAppleIBeaconKey}),               // 0 iBeacon
      testsupport::beaconWithAdTypes({KSAdDataTypeEddystoneUIDKey}),               // 1 Eddystone
      testsupport::beaconWithAdTypes({KSAdDataTypeEddystoneTelKey}),               // 2 telemetry alone
      testsupport::beaconWithAdTypes({KSAdDataTypeKestrineNewbornKey}),            // 3 newborn
      std::make_shared<KSBeacon>(),                                                // 4 nothing
  };
  in[4]->setIdentifierDataString("A1B2");
  in[2]->setRawMeasurementData(platform::Bytes{1, 2});
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingIsIBeacon(in, true), in), (std::vector<int>{0}));
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingIsEddystone(in, true), in), (std::vector<int>{1}));
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingIsEddystone(in, false), in), (std::vector<int>{0, 2, 3, 4}));
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingNewborn(in, true), in), (std::vector<int>{3}));
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingHasIdentifierData(in, true), in), (std::vector<int>{4}));
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingHasRawMeasurementData(in, true), in), (std::vector<int>{2}));
}

TEST(BeaconArrayFilter, ProximitySiteModeAndTeams) {
  Beacons in;
  for (std::uint64_t p = 0; p <= 3; ++p) {
    auto b = std::make_shared<KSBeacon>();
    b->setProximity(p);
    b->setSiteID(p % 2 ? std::optional<std::string>("s1") : std::nullopt);
    b->setTeamID(p < 2 ? std::optional<std::string>("t1") : std::optional<std::string>("t2"));
    auto mode = std::make_shared<KSBeaconMode>();
    mode->setBeaconModeID(static_cast<std::int64_t>(p));
    if (p) b->setBeaconMode(mode);
    in.push_back(b);
  }
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingProximity(in, 0), in), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingProximity(in, 2), in), (std::vector<int>{1, 2}));
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingSiteID(in, "s1"), in), (std::vector<int>{1, 3}));
  auto mode2 = std::make_shared<KSBeaconMode>();
  mode2->setBeaconModeID(2);
  EXPECT_EQ(indexesOf(filteredBeaconArrayUsingBeaconMode(in, mode2), in), (std::vector<int>{2}));
  EXPECT_TRUE(filteredBeaconArrayUsingBeaconMode(in, nullptr).empty());

  struct Team {
    std::optional<std::string> teamID() const { return id; }
    std::optional<std::string> id;
  };
  using Teams = std::optional<std::vector<std::shared_ptr<Team>>>;
  auto t2 = filteredBeaconArrayUsingTeams(in, Teams{{std::make_shared<Team>(Team{"t2"})}});
  ASSERT_TRUE(t2.has_value());
  EXPECT_EQ(indexesOf(*t2, in), (std::vector<int>{2, 3}));
  EXPECT_FALSE(filteredBeaconArrayUsingTeams(in, Teams{std::vector<std::shared_ptr<Team>>{}}).has_value());
  EXPECT_FALSE(filteredBeaconArrayUsingTeams(in, Teams{}).has_value());
}

TEST(BeaconArrayLookup, FirstMatchWins) {
  Beacons in;
  for (int i = 0; i < 3; ++i) {
    auto b = std::make_shared<KSBeacon>();
    b->setSerialNumber(i ? "SN-2" : "SN-1");
    b->setBeaconID("id-" + std::to_string(i));
    in.push_back(b);
  }
  EXPECT_EQ(beaconWithSerialNumber(in, "SN-2"), in[1]);
  EXPECT_EQ(beaconWithBeaconID(in, "id-2"), in[2]);
  EXPECT_EQ(beaconWithSerialNumber(in, "SN-9"), nullptr);
}

}  // namespace
}  // namespace velmora::kestrine

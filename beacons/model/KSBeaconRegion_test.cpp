#include "beacons/model/KSBeaconRegion.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "beacons/model/KSBeaconRegionSyncResult.h"
#include "platform/core/Json.h"
#include "testing/ScopedTimeZone.h"

namespace velmora::kestrine {
namespace {

using platform::Value;

std::string written(const Value& v) { return platform::json::write(v).value_or("<unwritable>"); }

Value json(std::string_view text) {
  auto v = platform::json::parse(text);
  EXPECT_TRUE(v.has_value()) << text;
  return v.value_or(Value());
}

std::shared_ptr<KSBeaconRegion> region(std::string_view text) {
  platform::Error error;
  auto r = KSBeaconRegion::initWithDictionary(json(text), &error);
  EXPECT_NE(r, nullptr) << text << ": " << error.localizedDescription;
  return r;
}

TEST(KSBeaconRegion, MinimalAppManagedRegionExportsExactlyWhatCameIn) {
  auto r = region(R"({"id":"r1","regionIdentifier":"lobby","isAppManaged":true})");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->beaconRegionID(), "r1");
  EXPECT_EQ(r->identifier(), "lobby");
  EXPECT_TRUE(r->isAppManaged());
  EXPECT_EQ(written(Value(r->toDictionary())), written(json(R"({"id":"r1","regionIdentifier":"lobby","isAppManaged":true})")));
}

// The exported form is what the region manager persists: reading it back must give the same
// region, every field and the app-managed flag included.
TEST(KSBeaconRegion, FullRegionRoundTripsThroughItsExportedForm) {
  velmora::testing::ScopedTimeZone zone("Asia/Kolkata");
  ASSERT_TRUE(zone.ok());
  const char* fixture = R"({"id":"r2","name":"Level 2","regionIdentifier":"L2",
      "proximityUUID":"61687109-905F-4436-91F8-E602F514C96D","major":65535,"minor":0,"teamID":"t9",
      "cachedAt":"2026-12-10T09:30:15+0530","isAppManaged":true,
      "keepAliveProximityUUID":"F7826DA6-4FA2-4E98-8024-BC5B71E0893E","keepAliveMajor":1,"keepAliveMinor":2,
      "namespaceID":"EDD1EBEAC04E5DEFA017"})";
  auto first = region(fixture);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->major(), 65535);
  EXPECT_EQ(first->minor(), 0);
  EXPECT_EQ(first->cachedAt(), platform::Date::fromUnixSeconds(1796875215));
  EXPECT_EQ(written(Value(first->toDictionary())), written(json(fixture)));

  auto text = first->toJSONString();
  ASSERT_TRUE(text.has_value());
  auto second = KSBeaconRegion::initWithString(*text);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(written(Value(second->toDictionary())), written(json(fixture)));
  EXPECT_TRUE(second->isAppManaged());
}

TEST(KSBeaconRegion, MajorAndMinorOutsideSixteenBitsFailTheImport) {
  for (const char* text : {R"({"major":65536})", R"({"minor":-1})", R"({"keepAliveMajor":70000})",
                           R"({"keepAliveMinor":-5})"}) {
    platform::Error error;
    EXPECT_EQ(KSBeaconRegion::initWithDictionary(json(text), &error), nullptr) << text;
    EXPECT_EQ(error.domain, "KSJSONModelErrorDomain") << text;
  }
}

TEST(KSBeaconRegion, BeaconModeSupportByRegionShape) {
  struct Shape {
    const char* name;
    const char* json;
    // Expected answer for modes 0 to 8.
    std::vector<bool> supports;
  };
  const std::vector<Shape> shapes = {
      {"none", "{}", {false, true, false, false, false, true, true, false, false}},
      {"uuid only", R"({"proximityUUID":"61687109-905F-4436-91F8-E602F514C96D"})",
       {false, true, true, true, false, true, true, false, false}},
      {"namespace only", R"({"namespaceID":"EDD1EBEAC04E5DEFA017"})",
       {false, true, false, false, true, true, true, false, false}},
      {"both", R"({"proximityUUID":"61687109-905F-4436-91F8-E602F514C96D","namespaceID":"EDD1EBEAC04E5DEFA017"})",
       {false, true, true, true, true, true, true, true, false}},
      {"empty strings", R"({"proximityUUID":"","namespaceID":""})",
       {false, true, false, false, false, true, true, false, false}},
  };
  for (const auto& shape : shapes) {
    auto r = region(shape.json);
    ASSERT_NE(r, nullptr);
    for (std::int64_t mode = 0; mode <= 8; ++mode) {
      auto record = std::make_shared<KSBeaconMode>();
      record->setBeaconModeID(mode);
      EXPECT_EQ(r->supportsBeaconMode(record), shape.supports[static_cast<std::size_t>(mode)])
          << shape.name << ", mode " << mode;
    }
    EXPECT_FALSE(r->supportsBeaconMode(nullptr)) << shape.name;
  }
}

TEST(KSBeaconRegion, DescriptionFallsBackFromNameToIdentifierToIBeaconKey) {
  const std::vector<std::pair<const char*, std::string>> table = {
      {R"({"name":"Lobby","regionIdentifier":"L"})", "Lobby"},
      {R"({"name":"","regionIdentifier":"L"})", "L"},
      {R"({"name":"","regionIdentifier":"","proximityUUID":"61687109-905f-4436-91f8-e602f514c96d","major":1,"minor":2})",
       "61687109-905F-4436-91F8-E602F514C96D:1:2"},
      {R"({"name":"","regionIdentifier":"","proximityUUID":"61687109-905F-4436-91F8-E602F514C96D","minor":2})", ""},
  };
  for (const auto& [text, description] : table) {
    auto r = region(text);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->description(), description) << text;
  }
}

TEST(KSBeaconRegion, CopyCarriesEverythingButTheTeam) {
  auto original = region(R"({"id":"r2","name":"n","regionIdentifier":"L2","proximityUUID":"U","major":3,"minor":4,
      "teamID":"t9","isAppManaged":true,"keepAliveProximityUUID":"K","keepAliveMajor":1,"keepAliveMinor":2,
      "namespaceID":"N","cachedAt":1000})");
  ASSERT_NE(original, nullptr);
  auto copy = original->copy();
  ASSERT_NE(copy, original);
  EXPECT_EQ(copy->teamID(), std::nullopt);
  EXPECT_EQ(original->teamID(), "t9");
  auto expected = original->toDictionary();
  expected.erase("teamID");
  EXPECT_EQ(written(Value(copy->toDictionary())), written(Value(expected)));
}

TEST(KSBeaconRegion, ArrayAndSetQueries) {
  auto a = region(R"({"id":"a","regionIdentifier":"same","isAppManaged":true})");
  auto b = region(R"({"id":"b","regionIdentifier":"same"})");
  auto c = region(R"({"id":"c","isAppManaged":true})");
  const std::vector<std::shared_ptr<KSBeaconRegion>> regions = {a, b, nullptr, c};

  EXPECT_EQ(beacon_region_array::beaconRegionWithRegionIdentifier(regions, "same"), a);
  EXPECT_EQ(beacon_region_array::beaconRegionWithRegionIdentifier(regions, "other"), nullptr);
  EXPECT_EQ(beacon_region_array::beaconRegionWithRegionIdentifier(regions, ""), nullptr);  // c has no identifier
  EXPECT_EQ(beacon_region_array::filteredBeaconRegionArrayUsingAppManaged(regions, true),
            (std::vector<std::shared_ptr<KSBeaconRegion>>{a, c}));
  EXPECT_EQ(beacon_region_array::filteredBeaconRegionArrayUsingAppManaged(regions, false),
            (std::vector<std::shared_ptr<KSBeaconRegion>>{b}));

  const auto uuid = *platform::Uuid::parse("61687109-905F-4436-91F8-E602F514C96D");
  using platform::location::BeaconRegion;
  const std::vector<BeaconRegion> platformRegions = {BeaconRegion::make(uuid, "x"), BeaconRegion::make(uuid, 1, "y"),
                                                     BeaconRegion::make(uuid, 2, "x")};
  const auto found = platform_beacon_region_set::filteredSetUsingIdentifier(platformRegions, "x");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0], platformRegions[0]);
  EXPECT_EQ(found[1], platformRegions[2]);

  KSBeaconRegionSyncResult result{200, {a, b}};
  EXPECT_EQ(result.beaconRegions.front(), a);
}

}  // namespace
}  // namespace velmora::kestrine

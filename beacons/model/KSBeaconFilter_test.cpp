#include "beacons/model/KSBeaconFilter.h"

#include <gtest/gtest.h>

#include <cmath>

#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::Value;

std::shared_ptr<KSCustomValue> pair(std::string key, std::string value) {
  auto cv = std::make_shared<KSCustomValue>();
  cv->setKey(std::move(key));
  cv->setValue(std::move(value));
  return cv;
}

std::shared_ptr<KSCategory> category(std::string name, std::vector<std::shared_ptr<KSCustomValue>> values = {}) {
  auto c = std::make_shared<KSCategory>();
  c->setName(std::move(name));
  c->setCustomValues(std::move(values));
  return c;
}

void hear(KSBeacon& b, std::string_view type, double at, std::string_view key, std::string text) {
  b.setAdData(Value(platform::Dict{{std::string(KSAdDataTypeKey), Value(type)},
                                   {std::string(KSAdDataTimestampKey), Value(Date::fromReferenceSeconds(at))},
                                   {std::string(key), Value(std::move(text))}}),
              type);
}

TEST(KSBeaconFilter, ProximityAndAccuracy) {
  KSBeacon b;
  struct Case {
    std::uint64_t beacon, bound;
    bool match;
  };
  for (auto c : std::vector<Case>{{0, 0, true}, {3, 0, true}, {1, 1, true}, {2, 1, false}, {2, 2, true},
                                  {3, 2, false}, {3, 3, true}, {0, 3, false}}) {
    b.setProximity(c.beacon);
    EXPECT_EQ(KSBeaconFilter::predicateForProximity(c.bound)(b), c.match) << c.beacon << " in " << c.bound;
  }
  auto range = KSBeaconFilter::predicateForAccuracyRangeFrom(0, 2);
  for (auto [accuracy, match] : std::vector<std::pair<double, bool>>{{0, true}, {2, true}, {1, true}, {-1, false},
                                                                     {2.01, false}, {std::nan(""), false}}) {
    b.setAccuracy(accuracy);
    EXPECT_EQ(range(b), match) << accuracy;
  }
}

TEST(KSBeaconFilter, CategoriesAndCustomValues) {
  KSBeacon withValues;
  withValues.setCategories(std::vector{category("Entry", {pair("lane", "in")}), category("Zone", {pair("empty", "")})});
  withValues.setCustomValues(std::vector{pair("floor", "2"), pair("blank", "")});
  KSBeacon bare;

  struct Case {
    const char* name;
    KSBeaconPredicate predicate;
    bool withValues;
  };
  const std::vector<Case> cases = {
      {"category name", KSBeaconFilter::predicateForCategoryNamed("Zone"), true},
      {"category name case counts", KSBeaconFilter::predicateForCategoryNamed("entry"), false},
      {"custom key", KSBeaconFilter::predicateForCustomValueKey("blank"), true},
      {"custom key missing", KSBeaconFilter::predicateForCustomValueKey("lane"), false},
      {"custom value", KSBeaconFilter::predicateForCustomValueKey("floor", "2"), true},
      {"custom value differs", KSBeaconFilter::predicateForCustomValueKey("floor", "3"), false},
      {"empty custom value never matches", KSBeaconFilter::predicateForCustomValueKey("blank", ""), false},
      {"category custom key", KSBeaconFilter::predicateForCategoryWithCustomValueKey("empty"), true},
      {"category custom value", KSBeaconFilter::predicateForCategoryWithCustomValueKey("lane", "in"), true},
      {"category empty value", KSBeaconFilter::predicateForCategoryWithCustomValueKey("empty", ""), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.predicate(withValues), c.withValues) << c.name;
    EXPECT_FALSE(c.predicate(bare)) << c.name << " on a beacon without categories or values";
  }
}

TEST(KSBeaconFilter, EddystoneIdentity) {
  const std::string uid = "00112233445566778899AABBCCDDEEFF";
  KSBeacon b;
  hear(b, KSAdDataTypeEddystoneURLKey, 1, KSAdDataEddystoneURLStringKey, "https://Car.Example.com:8443/p?x=1");
  EXPECT_FALSE(KSBeaconFilter::predicateForEddystoneWithNamespaceID(uid)(b)) << "URL frames only";
  EXPECT_TRUE(KSBeaconFilter::predicateForEddystoneWithURLDomain("car.example.COM")(b));
  EXPECT_FALSE(KSBeaconFilter::predicateForEddystoneWithURLDomain("example.com")(b));
  EXPECT_TRUE(KSBeaconFilter::predicateForIsEddystone()(b));
  EXPECT_FALSE(KSBeaconFilter::predicateForHasDiscoveredEddystoneUIDFrame()(b));

  hear(b, KSAdDataTypeEddystoneUIDKey, 2, KSAdDataEddystoneUIDStringKey, uid);
  for (auto [text, match] : std::vector<std::pair<std::string, bool>>{
           {uid, true}, {"00112233445566778899aabbccddeeff", true}, {"00112233445566778899", true},
           {"00112233445566778899aa", false}, {"0011223344", false}, {"", false}}) {
    EXPECT_EQ(KSBeaconFilter::predicateForEddystoneWithNamespaceID(text)(b), match) << text;
  }
}

TEST(KSBeaconFilter, HostOfURL) {
  for (auto [url, host] : std::vector<std::pair<std::string, std::optional<std::string>>>{
           {"https://a.example/x", "a.example"}, {"http://u:p@b.example:80", "b.example"},
           {"c.example/path", std::nullopt}, {"https:///x", std::nullopt}}) {
    EXPECT_EQ(KSBeaconFilter::hostOfURL(url), host) << url;
  }
}

TEST(KSBeaconFilter, KindsAndArrays) {
  auto maker = std::make_shared<KSBeacon>();
  hear(*maker, KSAdDataTypeKestrineIBeaconKey, 1, KSAdDataLocalNameKey, "K");
  auto apple = std::make_shared<KSBeacon>();
  hear(*apple, KSAdDataTypeAppleIBeaconKey, 1, KSAdDataLocalNameKey, "A");
  std::vector<std::shared_ptr<KSBeacon>> all{maker, apple};
  EXPECT_EQ(KSBeaconFilter::filteredArrayUsingPredicate(all, KSBeaconFilter::predicateForIsIBeacon()).size(), 2u);
  auto kestrine = KSBeaconFilter::filteredArrayUsingPredicate(all, KSBeaconFilter::predicateForIsKestrine());
  ASSERT_EQ(kestrine.size(), 1u);
  EXPECT_EQ(kestrine[0], maker);
  EXPECT_EQ(maker->localName(), "K");
  EXPECT_FALSE(apple->localName());
}

}  // namespace
}  // namespace velmora::kestrine

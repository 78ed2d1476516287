#include "beacons/model/KSResource.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "beacons/model/KSDateRange.h"
#include "platform/core/Json.h"

namespace velmora::kestrine {
namespace {

using platform::Value;

std::string written(const Value& v) { return platform::json::write(v).value_or("<unwritable>"); }

std::set<std::string> keysOf(const platform::Dict& dict) {
  std::set<std::string> keys;
  for (const auto& [key, value] : dict) keys.insert(key);
  return keys;
}

TEST(KSResource, ExportsItsIdentityAndAddressesOnly) {
  auto resource = KSResource::initWithString(R"({"id":"res1","url":"http://cdn/x.png","secureUrl":"https://cdn/x.png",
      "publicID":"p","version":"3","format":"png","resourceType":"image",
      "createdAt":"2026-01-02T03:04:05Z","createdBy":"someone"})");
  ASSERT_NE(resource, nullptr);
  EXPECT_EQ(resource->resourceID(), "res1");
  EXPECT_EQ(resource->URL(), "http://cdn/x.png");
  EXPECT_EQ(resource->secureURL(), "https://cdn/x.png");
  EXPECT_EQ(resource->createdBy(), "someone");
  EXPECT_TRUE(resource->createdAt().has_value());
  EXPECT_EQ(written(Value(resource->toDictionary())),
            written(*platform::json::parse(R"({"id":"res1","url":"http://cdn/x.png","secureUrl":"https://cdn/x.png",
                "publicID":"p","version":"3","format":"png","resourceType":"image"})")));

  // Unset fields are left out of the export.
  auto partial = KSResource::initWithString(R"({"id":"r","url":"u","secureUrl":"s","createdBy":"x"})");
  ASSERT_NE(partial, nullptr);
  EXPECT_EQ(keysOf(partial->toDictionary()), (std::set<std::string>{"id", "url", "secureUrl"}));

  auto copy = resource->copy();
  ASSERT_NE(copy, resource);
  EXPECT_EQ(written(Value(copy->toDictionaryWithKeys(std::nullopt))), written(Value(resource->toDictionaryWithKeys(std::nullopt))));
}

TEST(KSDateRange, TimeIntervalAndExport) {
  const auto ten = platform::Date::fromUnixSeconds(1796896800);  // 10:00:00 on one day
  const auto tenThirty = platform::Date::fromUnixSeconds(1796896830);
  struct Case {
    const char* name;
    std::optional<platform::Date> from, through;
    double interval;
  };
  const std::vector<Case> cases = {
      {"forward", ten, tenThirty, 30},
      {"reversed", tenThirty, ten, -30},
      {"open", ten, std::nullopt, 0},
      {"no start", std::nullopt, tenThirty, 0},
  };
  for (const auto& c : cases) {
    KSDateRange range;
    range.setFromDate(c.from);
    range.setThroughDate(c.through);
    EXPECT_EQ(range.timeInterval(), c.interval) << c.name;
  }

  KSDateRange open;
  open.setFromDate(ten);
  EXPECT_EQ(keysOf(open.toDictionary()), (std::set<std::string>{"fromDate"}));
  auto back = KSDateRange::initWithDictionary(Value(open.toDictionary()));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->fromDate(), ten);
  EXPECT_EQ(back->throughDate(), std::nullopt);
}

}  // namespace
}  // namespace velmora::kestrine

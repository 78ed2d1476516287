#include "beacons/microlocation/KSEventFilterResolver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "beacons/microlocation/KSEventFilter.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "platform/core/Json.h"

namespace velmora::kestrine {
namespace {

using Beacons = KSEventFiltering::Beacons;

platform::Value json(const std::string& text) {
  auto v = platform::json::parse(text);
  EXPECT_TRUE(v) << text;
  return v ? *v : platform::Value();
}

std::vector<std::string> run(KSEventFiltering& filter, const Beacons& beacons) {
  KSEventFilterContext context;
  context.setBeaconsToFilter(beacons);
  auto out = filter.filterBeaconsForEvent(context);
  std::vector<std::string> ids;
  for (const auto& b : out.value_or(Beacons{})) ids.push_back(*b->beaconID());
  return ids;
}

std::shared_ptr<KSBeacon> beacon(const std::string& id, double accuracy, const std::string& category) {
  auto b = std::make_shared<KSBeacon>();
  b->setBeaconID(id);
  b->setAccuracy(accuracy);
  auto c = std::make_shared<KSCategory>();
  c->setName(category);
  b->setCategories(std::vector{c});
  return b;
}

TEST(KSEventFilterResolver, ResolvesTheKnownDefinitions) {
  const Beacons fixture{beacon("a", 0.0, "Food"), beacon("b", 2.5, "Gate"), beacon("c", 2.51, "Shop"),
                        beacon("d", -1.0, "Food")};
  KSEventFilterResolver resolver;
  struct Case {
    const char* definition;
    std::vector<std::string> ids;
  };
  const std::vector<Case> cases{
      {R"({"filterIdentifier": "com.kestrine.filterByCategoryNames", "options": {"categories": ["Food", "Gate"]}})",
       {"a", "b", "d"}},
      {R"({"filterIdentifier": "com.kestrine.filterByAccuracyRange", "options": {"accuracyFrom": 0, "accuracyTo": "2.5"}})",
       {"a", "b"}},
      // A leading decimal is read as far as it goes.
      {R"({"filterIdentifier": "com.kestrine.filterByAccuracyRange", "options": {"accuracyFrom": " -1e0x", "accuracyTo": "0.0m"}})",
       {"a", "d"}},
  };
  for (const auto& c : cases) {
    auto filter = resolver.resolveFilterFromDefinition(json(c.definition));
    ASSERT_TRUE(filter) << c.definition;
    EXPECT_EQ(run(*filter, fixture), c.ids) << c.definition;
  }
}

TEST(KSEventFilterResolver, UnknownOrIllFormedDefinitionsResolveToNone) {
  KSEventFilterResolver resolver;
  for (const char* definition : {
           R"({"filterIdentifier": "com.kestrine.filterByCategoryNames", "options": {}})",
           R"({"filterIdentifier": "com.kestrine.filterByCategoryNames"})",
           R"({"filterIdentifier": "com.kestrine.filterByAccuracyRange", "options": {"accuracyFrom": 0}})",
           R"({"filterIdentifier": "org.example.filterByCategoryNames", "options": {"categories": ["Food"]}})",
           R"({"filterIdentifier": "com.kestrine.filterByNothing", "options": {"categories": ["Food"]}})",
           R"({"filterIdentifier": "com.kestrine.", "options": {}})",
           R"({"filterIdentifier": 7, "options": {"categories": ["Food"]}})",
           R"({"filterIdentifier": "com.kestrine.filterByCategoryNames", "options": ["categories"]})",
           R"({"filterIdentifier": "com.kestrine.filterByCategoryNames", "options": {"categories": "Food"}})",
           R"({"filterIdentifier": "com.kestrine.filterByCategoryNames", "options": {"categories": ["Food", 3]}})",
           R"({"filterIdentifier": "com.kestrine.filterByAccuracyRange", "options": {"accuracyFrom": "nan", "accuracyTo": 1}})",
           R"({"filterIdentifier": "com.kestrine.filterByAccuracyRange", "options": {"accuracyFrom": "abc", "accuracyTo": 1}})",
           R"({"filterIdentifier": "com.kestrine.filterByAccuracyRange", "options": {"accuracyFrom": 0, "accuracyTo": "1e999"}})",
           R"({"filterIdentifier": "com.kestrine.filterByAccuracyRange", "options": {"accuracyFrom": true, "accuracyTo": 1}})",
           R"({"filterIdentifier": "com.kestrine.filterByAccuracyRange", "options": {"accuracyFrom": null, "accuracyTo": 1}})",
           R"(["com.kestrine.filterByCategoryNames"])",
       }) {
    EXPECT_FALSE(resolver.resolveFilterFromDefinition(json(definition))) << definition;
  }
  EXPECT_FALSE(resolver.resolveFilterFromDefinition(platform::Value()));
  EXPECT_FALSE(resolver.resolveFilterFromDefinition(platform::Value("com.kestrine.filterByCategoryNames")));
}

TEST(KSEventFilterResolver, TimeIntervalParamsAreReadFromTextOnly) {
  auto definition = json(
      R"({"options": {"t": "12.5", "n": 12.5, "bad": "soon", "lead": "3s", "huge": "1e999", "neg": "-5", "zero": "0"}})");
  EXPECT_EQ(KSEventFilterResolver::timeIntervalParamFromFilterDefinition(definition, "t"), 12.5);
  EXPECT_EQ(KSEventFilterResolver::timeIntervalParamFromFilterDefinition(definition, "lead"), 3.0);
  EXPECT_FALSE(KSEventFilterResolver::timeIntervalParamFromFilterDefinition(definition, "n"));
  EXPECT_FALSE(KSEventFilterResolver::timeIntervalParamFromFilterDefinition(definition, "bad"));
  EXPECT_FALSE(KSEventFilterResolver::timeIntervalParamFromFilterDefinition(definition, "missing"));
  // Not finite or negative: no interval.
  EXPECT_FALSE(KSEventFilterResolver::timeIntervalParamFromFilterDefinition(definition, "huge"));
  EXPECT_FALSE(KSEventFilterResolver::timeIntervalParamFromFilterDefinition(definition, "neg"));
  EXPECT_EQ(KSEventFilterResolver::timeIntervalParamFromFilterDefinition(definition, "zero"), 0.0);
  EXPECT_TRUE(KSEventFilterResolver::paramFromFilterDefinition(json(R"({"options": 3})"), "t").isAbsent());
}

TEST(KSEventFilterResolver, LeadingDecimal) {
  struct Case {
    const char* text;
    std::optional<double> value;
  };
  for (const Case& c : std::vector<Case>{{"2.5", 2.5}, {"  +4", 4.0}, {"-.5e1x", -5.0}, {"7.", 7.0}, {"1e", 1.0},
                                         {"", std::nullopt}, {".", std::nullopt}, {"-", std::nullopt},
                                         {"inf", std::nullopt}, {"0x10", 0.0}, {"1e-999", 0.0}}) {
    EXPECT_EQ(KSEventFilterResolver::leadingDecimal(c.text), c.value) << c.text;
  }
}

// A decimal beyond double's range underflows to a signed zero when its magnitude is below
// one, however it is written, and overflows to an infinity otherwise.
TEST(KSEventFilterResolver, LeadingDecimalBeyondDoubleByMagnitude) {
  const std::string zeros(400, '0');
  struct Case {
    std::string text;
    double value;
  };
  for (const Case& c : std::vector<Case>{{"0." + zeros + "1", 0.0},
                                         {"-0." + zeros + "1", -0.0},
                                         {"0." + zeros + "1e5", 0.0},
                                         {"1" + zeros, HUGE_VAL},
                                         {"-1" + zeros + ".5", -HUGE_VAL},
                                         {"0." + zeros + "1e800", HUGE_VAL},
                                         {"1" + zeros + "e-1000", 0.0},
                                         {"1e99999999999999999999", HUGE_VAL},
                                         {"-1e-99999999999999999999", -0.0}}) {
    const auto value = KSEventFilterResolver::leadingDecimal(c.text);
    ASSERT_TRUE(value) << c.text.size();
    EXPECT_EQ(*value, c.value) << c.text.substr(0, 12) << "... (" << c.text.size() << " chars)";
    EXPECT_EQ(std::signbit(*value), std::signbit(c.value)) << c.text.substr(0, 12);
  }
}

}  // namespace
}  // namespace velmora::kestrine

#include "beacons/microlocation/KSTrigger.h"

#include <gtest/gtest.h>

#include "beacons/microlocation/KSEventFilter.h"
#include "beacons/foundation/StringAdditions.h"

namespace velmora::kestrine {
namespace {

TEST(KSTrigger, NewTriggersHaveDistinctUpperCaseIdentifiersAndNothingElse) {
  KSTrigger a, b;
  EXPECT_TRUE(string_additions::isValidUUID(a.eventIdentifier()));
  for (char c : a.eventIdentifier()) EXPECT_FALSE(c >= 'a' && c <= 'z') << a.eventIdentifier();
  EXPECT_NE(a.eventIdentifier(), b.eventIdentifier());
  EXPECT_FALSE(a.eventName());
  EXPECT_EQ(a.repeatCount(), 0);
  EXPECT_TRUE(a.allFilters().empty());
}

TEST(KSTrigger, IdentifierGivesBothIdentifierAndName) {
  auto f1 = KSEventFilter::filterByClosestBeacon(), f2 = KSEventFilter::filterByProximity(1);
  auto t = KSTrigger::initWithIdentifier("gate", {f1, f2});
  EXPECT_EQ(t->eventIdentifier(), "gate");
  EXPECT_EQ(t->eventName(), "gate");
  ASSERT_EQ(t->allFilters().size(), 2u);
  EXPECT_EQ(t->allFilters()[0], f1);
}

TEST(KSTrigger, CopyKeepsSourceIdentifierAndSharesFiltersInAListOfItsOwn) {
  auto f1 = KSEventFilter::filterByClosestBeacon(), f2 = KSEventFilter::filterByProximity(1);
  auto t = KSTrigger::initWithIdentifier("gate", {f1, f2});
  t->setRepeatCount(3);
  t->setValidFrom(platform::Date::fromUnixSeconds(10));
  t->setExpiresAt(platform::Date::fromUnixSeconds(20));
  t->setFilterDescriptors(platform::Value::makeDict({{"k", 1}}));
  auto c = t->copy();
  EXPECT_EQ(c->eventIdentifier(), "gate");
  EXPECT_EQ(c->eventName(), "gate");
  EXPECT_EQ(c->repeatCount(), 3);
  EXPECT_EQ(c->validFrom(), t->validFrom());
  EXPECT_EQ(c->expiresAt(), t->expiresAt());
  EXPECT_EQ(c->filterDescriptors(), t->filterDescriptors());
  EXPECT_EQ(c->allFilters(), t->allFilters());
  c->addFilter(KSEventFilter::filterByNeverEnteredBeacon());
  EXPECT_EQ(t->allFilters().size(), 2u);
  EXPECT_EQ(c->allFilters().size(), 3u);
}

TEST(KSTrigger, AllFiltersIsASnapshot) {
  KSTrigger t;
  t.addFilter(KSEventFilter::filterByClosestBeacon());
  auto snapshot = t.allFilters();
  t.addFilter(KSEventFilter::filterByClosestBeacon());
  EXPECT_EQ(snapshot.size(), 1u);
  t.clearFilters();
  EXPECT_TRUE(t.allFilters().empty());
}

}  // namespace
}  // namespace velmora::kestrine

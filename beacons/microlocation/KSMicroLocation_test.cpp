#include "beacons/microlocation/KSMicroLocation.h"

#include <gtest/gtest.h>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSMapPoint.h"
#include "beacons/model/KSPoint.h"

namespace velmora::kestrine {
namespace {

std::shared_ptr<KSSite> site(const std::string& id) {
  auto s = std::make_shared<KSSite>();
  s->setSiteID(id);
  s->setName("site " + id);
  return s;
}

std::shared_ptr<KSBeacon> beacon(const std::string& id, std::uint64_t proximity, double accuracy,
                                 std::shared_ptr<KSSite> in = nullptr) {
  auto b = std::make_shared<KSBeacon>();
  b->setBeaconID(id);
  b->setProximity(proximity);
  b->setAccuracy(accuracy);
  b->setSite(std::move(in));
  return b;
}

std::shared_ptr<KSMapPoint> mapPoint(const std::string& mapID, double x, double y) {
  auto p = std::make_shared<KSMapPoint>();
  p->setMapID(mapID);
  p->setPoint(KSPoint::pointWithXY(x, y));
  return p;
}

std::vector<std::string> idsOf(const KSMicroLocation::Beacons& beacons) {
  std::vector<std::string> ids;
  for (const auto& b : beacons) ids.push_back(b->beaconID().value_or("?"));
  return ids;
}

TEST(KSMicroLocation, GroupsBySiteWithEmptyKeyForBeaconsWithoutSite) {
  auto s1 = site("s1");
  auto a = beacon("a", 1, 0.3, s1), b = beacon("b", 2, 1.0), c = beacon("c", 3, 5.0, s1);
  KSMicroLocation m({s1}, {a, b, c});
  ASSERT_TRUE(m.beaconsForSiteID());
  EXPECT_EQ(idsOf(m.beaconsForSiteID()->at("s1")), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(idsOf(m.beaconsForSiteID()->at("")), (std::vector<std::string>{"b"}));
  EXPECT_EQ(idsOf(m.beacons()), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(m.beaconsForSiteID("", 0).empty());
  EXPECT_TRUE(m.beaconsForSiteID("nope", 0).empty());
  EXPECT_TRUE(KSMicroLocation().beaconsForSiteID("s1", 0).empty());
  EXPECT_TRUE(KSMicroLocation().beacons().empty());
}

TEST(KSMicroLocation, ProximityBoundsOverOneBeaconOfEachProximity) {
  auto s1 = site("s1");
  // Given far first so that the nearest-first sort shows.
  auto unknown = beacon("u", 0, -1.0, s1), far = beacon("f", 3, 8.0, s1), near = beacon("n", 2, 1.5, s1),
       immediate = beacon("i", 1, 0.2, s1);
  KSMicroLocation m({s1}, {far, unknown, near, immediate});
  struct Case {
    std::uint64_t bound;
    std::vector<std::string> ids;
  };
  for (const Case& c : std::vector<Case>{{0, {"u", "i", "n", "f"}}, {1, {"i"}}, {2, {"i", "n"}}, {3, {"i", "n", "f"}},
                                         {4, {}}}) {
    EXPECT_EQ(idsOf(m.beaconsForSiteID("s1", c.bound)), c.ids) << "bound " << c.bound;
    EXPECT_EQ(idsOf(m.beaconsInProximity(c.bound)), c.ids) << "bound " << c.bound;
    EXPECT_EQ(m.sitesWithBeaconsInProximity(c.bound).size(), c.ids.empty() ? 0u : 1u) << "bound " << c.bound;
  }
}

TEST(KSMicroLocation, CategoriesSkipBeaconsWithoutThem) {
  auto s1 = site("s1");
  auto a = beacon("a", 1, 0.3, s1), b = beacon("b", 1, 0.4, s1);
  auto food = std::make_shared<KSCategory>();
  food->setName("Food");
  a->setCategories(std::vector{food, food});
  KSMicroLocation m({s1}, {a, b});
  EXPECT_EQ(m.categoriesForSiteID("s1", 0).size(), 2u);
  EXPECT_EQ(m.allCategories().size(), 2u);
  EXPECT_TRUE(m.categoriesForSiteID("", 0).empty());
  EXPECT_EQ(m.sitesWithCategoriesInProximity(1).size(), 1u);
  EXPECT_TRUE(m.categoriesForSite(nullptr, 0).empty());
}

TEST(KSMicroLocation, MapPoints) {
  auto s1 = site("s1");
  auto a = beacon("a", 1, 0.3, s1), b = beacon("b", 1, 0.4, s1);
  a->setMapPoint(mapPoint("m1", 1, 1));
  b->setMapPoint(mapPoint("m2", 3, 5));
  auto mean = KSMicroLocation({s1}, {a, b}).mapPointForSiteID("s1");
  ASSERT_TRUE(mean && mean->point());
  EXPECT_EQ(mean->point()->x(), 2.0);
  EXPECT_EQ(mean->point()->y(), 3.0);
  EXPECT_EQ(mean->mapID(), "m1");  // the first beacon's map, even when the maps differ

  auto f1 = beacon("f1", 3, 9, s1), f2 = beacon("f2", 3, 9, s1);
  f1->setMapPoint(mapPoint("m1", 1, 1));
  f2->setMapPoint(mapPoint("m1", 3, 5));
  EXPECT_FALSE(KSMicroLocation({s1}, {f1, f2}).mapPointForSiteID("s1"));

  // Near beacons count when no immediate one is there.
  auto n = beacon("n", 2, 1.0, s1);
  n->setMapPoint(mapPoint("m1", 4, 4));
  auto nearPoint = KSMicroLocation({s1}, {n, f1}).mapPointForSiteID("s1");
  ASSERT_TRUE(nearPoint);
  EXPECT_EQ(nearPoint->point()->x(), 4.0);

  // One beacon: a copy of its point, not the point itself.
  auto one = KSMicroLocation::determineMapPointForBeacons({a});
  ASSERT_TRUE(one);
  EXPECT_NE(one, a->mapPoint());
  EXPECT_EQ(one->point()->x(), 1.0);
  EXPECT_EQ(one->mapID(), "m1");
  EXPECT_FALSE(KSMicroLocation::determineMapPointForBeacons({}));
  EXPECT_FALSE(KSMicroLocation::determineMapPointForBeacons({beacon("x", 1, 0.1), beacon("y", 1, 0.1)}));
  EXPECT_FALSE(KSMicroLocation({s1}, {a}).mapPointForSiteID(""));
}

TEST(KSMicroLocation, CopyRegroupsByEachBeaconsOwnSite) {
  auto s1 = site("s1"), s2 = site("s2");
  auto a = beacon("a", 1, 0.3, s1), b = beacon("b", 1, 0.4, s1);
  KSMicroLocation m({s1}, {a, b});
  m.setTimestamp(platform::Date::fromUnixSeconds(5));
  // Move b to s2 behind the snapshot's back: the copy groups it under its own site now.
  b->setSite(s2);
  auto c = m.copy();
  ASSERT_TRUE(c->beaconsForSiteID());
  EXPECT_EQ(idsOf(c->beaconsForSiteID()->at("s1")), (std::vector<std::string>{"a"}));
  EXPECT_EQ(idsOf(c->beaconsForSiteID()->at("s2")), (std::vector<std::string>{"b"}));
  EXPECT_EQ(c->timestamp(), m.timestamp());
  ASSERT_EQ(c->sites()->size(), 1u);
  EXPECT_NE(c->sites()->front(), s1);
  EXPECT_NE(c->beacons().front(), a);
  // The clone the triggered event keeps is such a copy.
  auto clone = std::dynamic_pointer_cast<KSMicroLocation>(m.clone());
  ASSERT_TRUE(clone);
  EXPECT_EQ(clone->beacons().size(), 2u);
}

}  // namespace
}  // namespace velmora::kestrine

#include "beacons/microlocation/KSMicroLocationDifference.h"

#include <gtest/gtest.h>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSSite.h"

namespace velmora::kestrine {
namespace {

std::shared_ptr<KSSite> site(const std::string& id) {
  auto s = std::make_shared<KSSite>();
  s->setSiteID(id);
  return s;
}

std::shared_ptr<KSBeacon> beacon(const std::string& id, std::uint64_t proximity, double accuracy = 1.0) {
  auto b = std::make_shared<KSBeacon>();
  b->setBeaconID(id);
  b->setProximity(proximity);
  b->setAccuracy(accuracy);
  return b;
}

using Groups = KSMicroLocation::Groups;

std::shared_ptr<KSMicroLocation> snapshot(std::optional<std::vector<std::string>> siteIDs, std::optional<Groups> groups) {
  auto m = std::make_shared<KSMicroLocation>();
  if (siteIDs) {
    KSMicroLocation::Sites sites;
    for (const auto& id : *siteIDs) sites.push_back(site(id));
    m->setSites(sites);
  }
  m->setBeaconsForSiteID(std::move(groups));
  return m;
}

TEST(MicroLocationDifference, Table) {
  const Groups base = {{"S1", {beacon("a", 2), beacon("b", 3)}}, {"S2", {beacon("c", 1)}}};
  const auto reference = snapshot(std::vector<std::string>{"S1", "S2"}, base);
  auto with = [&](auto change) {
    Groups g = base;
    std::vector<std::string> ids{"S1", "S2"};
    change(g, ids);
    return snapshot(ids, g);
  };
  struct Case {
    const char* name;
    std::vector<std::shared_ptr<KSMicroLocation>> list;
    bool different;
  };
  const std::vector<Case> cases = {
      {"none", {}, false},
      {"one", {reference}, true},
      {"no site lists", {snapshot(std::nullopt, base), snapshot(std::nullopt, Groups{})}, false},
      {"one site list", {snapshot(std::nullopt, base), reference}, true},
      {"site counts", {reference, with([](Groups&, auto& ids) { ids.pop_back(); })}, true},
      {"both empty, \"\" groups differ",
       {snapshot(std::vector<std::string>{}, Groups{{"", {beacon("x", 1)}}}), snapshot(std::vector<std::string>{}, Groups{})},
       false},
      {"missing site", {reference, with([](Groups&, auto& ids) { ids.back() = "S3"; })}, true},
      {"missing group", {reference, with([](Groups& g, auto&) { g.erase("S2"); })}, true},
      {"both groups missing",
       {snapshot(std::vector<std::string>{"S9"}, Groups{}), snapshot(std::vector<std::string>{"S9"}, Groups{})},
       false},
      {"group count", {reference, with([](Groups& g, auto&) { g["S1"].push_back(beacon("d", 2)); })}, true},
      {"beacon id", {reference, with([](Groups& g, auto&) { g["S1"][1] = beacon("z", 3); })}, true},
      {"proximity", {reference, with([](Groups& g, auto&) { g["S1"][0] = beacon("a", 1); })}, true},
      {"accuracy only", {reference, with([](Groups& g, auto&) { g["S1"][0] = beacon("a", 2, 9.0); })}, false},
      {"\"\" group only", {reference, with([](Groups& g, auto&) { g[""] = {beacon("x", 1)}; })}, false},
      {"order within a group", {reference, with([](Groups& g, auto&) { std::swap(g["S1"][0], g["S1"][1]); })},
       false},
      {"only first and last count",
       {reference, with([](Groups& g, auto&) { g["S1"][0] = beacon("a", 1); }), reference},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(microLocationsAreDifferent(c.list), c.different);
  }
}

}  // namespace
}  // namespace velmora::kestrine

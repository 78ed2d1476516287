#include "beacons/model/KSSite.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSLasso.h"
#include "beacons/model/KSZone.h"
#include "platform/core/Json.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/FakeApiClient.h"
#include "testing/FakeBeaconHub.h"
#include "testing/ScopedModelRegistry.h"

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::Dict;
using platform::Value;
using platform::location::Location;

Value json(std::string_view text) { return *platform::json::parse(text); }

std::vector<std::string> keysOf(const Dict& d) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : d) keys.push_back(key);
  return keys;
}

Location at(double latitude, double longitude) {
  Location l;
  l.latitude = latitude;
  l.longitude = longitude;
  return l;
}

class SiteTest : public ::testing::Test {
 protected:
  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>(Date::fromUnixSeconds(1'700'000'000));
  std::shared_ptr<testing::FakeApiClient> client = std::make_shared<testing::FakeApiClient>();
  std::shared_ptr<testing::FakeBeaconHub> hub = std::make_shared<testing::FakeBeaconHub>();
  testing::ScopedModelRegistry registry{{.apiClient = client, .scheduler = scheduler}};

  void SetUp() override { KSBeaconHubPort::setShared(hub); }
  void TearDown() override { KSBeaconHubPort::setShared(nullptr); }
  Date now() const { return scheduler->clock()->now(); }
};

constexpr std::string_view kFixture = R"({
  "id": "S1", "name": "Harbour Garage", "teamID": "T", "notes": "Level 2 closed", "beaconCount": 14,
  "createdAt": "2024-03-01T10:00:00Z", "modifiedAt": "2024-03-02T10:00:00Z",
  "syncStatus": 1, "cachedAt": "2024-01-01T00:00:00Z", "syncedAt": "2020-01-01T00:00:00Z",
  "siteAccessType": {"id": 2, "name": "private", "displayName": "Private site"},
  "address": {"id": "A", "streetLine1": "1 Quay St", "cityName": "Portsea", "stateAbbrev": "HT",
              "postalCode": "PO1", "countryName": "UK", "latitude": 50.8, "longitude": -1.1},
  "maps": [
    {"id": "M1", "name": "Ground", "siteID": "S1", "mapPointCount": 3, "scaleX": 0.5, "scaleY": 0.5,
     "scaleMarkerAx": 1, "scaleMarkerAy": 2, "scaleMarkerBx": 30, "scaleMarkerBy": 40,
     "mapResource": {"id": "R1", "url": "http://img/1.png", "secureUrl": "https://img/1.png"}},
    {"id": "M2", "name": "Roof", "mapResource": {"id": "R2", "url": "http://img/2.png"}}
  ],
  "customValues": [{"id": "c1", "key": "open", "value": "24h"}, {"id": "c2", "key": "floors", "value": "3"}]
})";

// A full server object imports into the nested records and exports exactly the site's
// nine fields; the server cannot set the sync state or the cache stamp.
TEST_F(SiteTest, FixtureImportsAndExports) {
  platform::Error error;
  auto site = KSSite::initWithDictionary(json(kFixture), &error);
  ASSERT_TRUE(site) << error.localizedDescription;
  EXPECT_EQ(site->siteID(), "S1");
  EXPECT_EQ(site->description(), "Harbour Garage");
  EXPECT_EQ(site->beaconCount(), 14);
  EXPECT_EQ(site->syncStatus(), 2) << "createdAt marks the site synced; the object's syncStatus is ignored";
  EXPECT_EQ(site->syncedAt(), now());
  EXPECT_FALSE(site->cachedAt());
  EXPECT_TRUE(site->isSyncedOrRestored());
  ASSERT_TRUE(site->siteAccessType());
  EXPECT_EQ(site->siteAccessType()->siteAccessTypeID(), 2);
  EXPECT_EQ(site->siteAccessType()->description(), "Private site");
  ASSERT_TRUE(site->address());
  EXPECT_EQ(site->address()->addressID(), "A");
  ASSERT_TRUE(site->location());
  EXPECT_DOUBLE_EQ(site->location()->latitude, 50.8);
  ASSERT_TRUE(site->maps());
  ASSERT_EQ(site->maps()->size(), 2u);
  const KSMap& ground = *site->maps()->at(0);
  EXPECT_EQ(ground.mapID(), "M1");
  EXPECT_EQ(ground.mapPointCount(), 3);
  EXPECT_EQ(ground.scaleMarkerBy(), Value(40));
  ASSERT_TRUE(ground.mapResource());
  EXPECT_EQ(ground.mapResource()->secureURL(), "https://img/1.png");
  EXPECT_EQ(site->maps()->at(1)->mapResource()->resourceID(), "R2");
  EXPECT_EQ(site->customValueForKey(), (KSSite::CustomValueMap{{"open", "24h"}, {"floors", "3"}}));

  const Dict exported = site->toDictionary();
  EXPECT_EQ(keysOf(exported), (std::vector<std::string>{"address", "beaconCount", "customValues", "id", "maps", "name",
                                                        "notes", "siteAccessType", "teamID"}));
  EXPECT_EQ(exported.at("id"), Value("S1"));
  const Dict& map = *exported.at("maps").array()->at(0).dict();
  EXPECT_EQ(map.size(), 11u);
  EXPECT_EQ(map.at("mapResource").dict()->at("url"), Value("http://img/1.png"));
  EXPECT_EQ(exported.at("address").dict()->at("id"), Value("A"));

  // A bare site: no createdAt, no sync; beaconCount is written even when never set.
  auto bare = KSSite::initWithDictionary(json(R"({"id": "S2"})"));
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->syncStatus(), 0);
  EXPECT_FALSE(bare->syncedAt());
  EXPECT_FALSE(bare->location());
  EXPECT_EQ(bare->toDictionary(), (Dict{{"id", "S2"}, {"beaconCount", 0}}));
}

// A copy carries the source's sync state whatever it is (the createdAt side effect would
// otherwise turn 1, 3 and 4 into 2), copies of the nested records, and no caches.
TEST_F(SiteTest, CopiesKeepTheirSyncState) {
  auto source = KSSite::initWithDictionary(json(kFixture));
  ASSERT_TRUE(source);
  const Date synced = Date::fromUnixSeconds(1'600'000'000);
  source->setCachedAt(synced);
  source->setCachedBeaconsAt(now());
  source->setCachedCategories(KSSite::Categories{});
  for (std::int64_t status : {0, 1, 2, 3, 4}) {
    SCOPED_TRACE(status);
    source->setSyncStatus(status);
    source->setSyncedAt(synced);
    auto copy = source->copy();
    EXPECT_EQ(copy->syncStatus(), status);
    EXPECT_EQ(copy->syncedAt(), synced);
    EXPECT_EQ(copy->cachedAt(), synced);
    EXPECT_EQ(copy->createdAt(), source->createdAt());
    EXPECT_FALSE(copy->cachedBeaconsAt());
    EXPECT_EQ(copy->toDictionary(), source->toDictionary());
    EXPECT_NE(copy->address(), source->address());
    EXPECT_NE(copy->maps()->at(0), source->maps()->at(0));
    EXPECT_NE(copy->maps()->at(0)->mapResource(), source->maps()->at(0)->mapResource());
    EXPECT_NE(copy->customValues()->at(0), source->customValues()->at(0));
    EXPECT_EQ(copy->customValueForKey(), source->customValueForKey());
  }
}

TEST_F(SiteTest, CustomValuesAndTheirMap) {
  auto pair = [](std::optional<std::string> key, std::optional<std::string> value) {
    auto v = std::make_shared<KSCustomValue>();
    v->setKey(std::move(key));
    v->setValue(std::move(value));
    return v;
  };
  KSSite site;
  site.setCustomValues(KSSite::CustomValues{});
  EXPECT_FALSE(site.customValueForKey()) << "an empty list leaves no map, not an empty one";
  site.setCustomValues(KSSite::CustomValues{pair("a", "1"), pair("a", "2"), pair(std::nullopt, "x"), pair("b", std::nullopt)});
  EXPECT_EQ(site.customValueForKey(), (KSSite::CustomValueMap{{"a", "2"}}));
  EXPECT_EQ(site.customValues()->size(), 4u);
  site.setCustomValues(std::nullopt);
  EXPECT_FALSE(site.customValueForKey());
}

TEST(KSSiteRecords, SmallRecords) {
  EXPECT_EQ(KSSiteAccessType::siteAccessTypeWithPublic(true)->siteAccessTypeID(), 1);
  EXPECT_EQ(KSSiteAccessType::siteAccessTypeWithPublic(false)->siteAccessTypeID(), 2);
  KSSiteAccessType named;
  named.setName("public");
  EXPECT_EQ(named.description(), "public");

  auto street = KSAddress::addressWithStreetLine1("1 Quay St", std::nullopt, "Portsea", "HT", "PO1", "UK");
  EXPECT_FALSE(street->useLatLong());
  EXPECT_FALSE(street->location());
  auto byCoordinates = KSAddress::addressWithLatitude(Value(1.5), Value(2));
  EXPECT_TRUE(byCoordinates->useLatLong());
  ASSERT_TRUE(byCoordinates->location());
  EXPECT_EQ(byCoordinates->location()->longitude, 2.0);
  byCoordinates->setUseLatLong(false);
  EXPECT_TRUE(byCoordinates->location()) << "useLatLong is not consulted";
  byCoordinates->setLongitude(Value());
  EXPECT_FALSE(byCoordinates->location());

  KSZone zone;
  const Date entered = Date::fromUnixSeconds(100);
  zone.setEnteredZoneAt(entered);
  EXPECT_EQ(zone.lastEntered(), entered);
  zone.setReenteredZoneAt(Date::fromUnixSeconds(200));
  EXPECT_EQ(zone.lastEntered(), Date::fromUnixSeconds(200));
  auto site = std::make_shared<KSSite>();
  site->setName("before");
  zone.setSite(site);
  site->setName("after");
  EXPECT_EQ(zone.site()->name(), "before") << "the zone keeps its own copy";
}

TEST(KSLassoTest, RedemptionRadius) {
  const struct {
    const char* text;
    double radius;
  } cases[] = {{"1.5", 1.5}, {" 2", 2}, {"2.5m", 2.5}, {"+3", 3}, {"-1", -1}, {"1e1", 10}, {"abc", 0},
               {"", 0},      {"nan", 0}, {"inf", 0},  {"1e999", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(KSLasso::redemptionRadiusFromText(c.text), c.radius);
  }

  auto beacon = std::make_shared<KSBeacon>();
  EXPECT_EQ(KSLasso(beacon).redemptionRadius(), 0.25);
  auto value = std::make_shared<KSCustomValue>();
  value->setKey("LassoRedemptionRadius");
  value->setValue("1.5");
  beacon->setCustomValues(std::vector<std::shared_ptr<KSCustomValue>>{value});
  auto lasso = KSLasso::initWithBeacon(beacon);
  EXPECT_EQ(lasso->redemptionRadius(), 1.5);
  EXPECT_EQ(lasso->beacon(), beacon);
}

// --- site lists ------------------------------------------------------------------------------

std::shared_ptr<KSSite> siteAt(std::string id, std::optional<double> latitude, std::optional<double> longitude) {
  auto site = std::make_shared<KSSite>();
  site->setSiteID(std::move(id));
  if (latitude || longitude) {
    site->setAddress(KSAddress::addressWithLatitude(latitude ? Value(*latitude) : Value(),
                                                    longitude ? Value(*longitude) : Value()));
  }
  return site;
}

std::vector<std::string> idsOf(const site_array::Sites& sites) {
  std::vector<std::string> ids;
  for (const auto& s : sites) ids.push_back(s->siteID().value_or("-"));
  return ids;
}

// On the equator 0.001 degree of longitude is about 111.2 m.
TEST(KSSiteArray, DistanceSortAndFilter) {
  const Location origin = at(0, 0);
  EXPECT_NEAR(origin.distanceFromLocation(at(0, 0.001)), 111.195, 0.001);
  const site_array::Sites sites = {siteAt("far", 0, 0.003), siteAt("none", std::nullopt, std::nullopt),
                                   siteAt("near", 0, 0.001), siteAt("latOnly", 0, std::nullopt), siteAt("mid", 0, 0.002)};
  const Location from = at(0, 0.0004);
  // Without an address or a coordinate a site counts as lying at 0, 0; ties keep their order.
  EXPECT_EQ(idsOf(site_array::sortedSiteArrayUsingLocation(sites, from, true)),
            (std::vector<std::string>{"none", "latOnly", "near", "mid", "far"}));
  EXPECT_EQ(idsOf(site_array::sortedSiteArrayUsingLocation(sites, from, false)),
            (std::vector<std::string>{"far", "mid", "near", "none", "latOnly"}));

  const double limit = origin.distanceFromLocation(at(0, 0.002));
  EXPECT_EQ(idsOf(site_array::filteredSiteArrayUsingLocation(sites, origin, limit)),
            (std::vector<std::string>{"near", "mid"}))
      << "a site exactly at the limit stays; sites without a full location go";
  EXPECT_EQ(idsOf(site_array::filteredSiteArrayUsingLocation(sites, origin, std::nextafter(limit, 0.0))),
            (std::vector<std::string>{"near"}));
}

TEST(KSSiteArray, NameSortFiltersAndLookup) {
  auto site = [](std::string id, std::optional<std::string> state, std::optional<std::string> city,
                 std::optional<std::string> name) {
    auto s = std::make_shared<KSSite>();
    s->setSiteID(std::move(id));
    s->setName(std::move(name));
    if (state || city) s->setAddress(KSAddress::addressWithStreetLine1(std::nullopt, std::nullopt, city, state, {}, {}));
    return s;
  };
  const site_array::Sites sites = {site("1", "WA", "Seattle", "b"), site("2", "OR", "Salem", "a"),
                                   site("3", "WA", "Bellevue", "z"), site("4", std::nullopt, std::nullopt, "x"),
                                   site("5", "WA", "Seattle", "a"),  site("6", "WA", "Seattle", "a"),
                                   site("7", "wa", "Aberdeen", "a")};
  EXPECT_EQ(idsOf(site_array::sortedSiteArrayUsingStateAbbrevAndCityNameAndSiteNameAscending(sites, true)),
            (std::vector<std::string>{"4", "2", "3", "5", "6", "1", "7"}))
      << "byte-wise, stable, a missing state first";
  EXPECT_EQ(idsOf(site_array::sortedSiteArrayUsingStateAbbrevAndCityNameAndSiteNameAscending(sites, false)),
            (std::vector<std::string>{"7", "1", "5", "6", "3", "2", "4"}));

  sites[0]->setTeamID("T");
  sites[2]->setTeamID("T");
  sites[1]->setTeamID("U");
  EXPECT_EQ(idsOf(site_array::filteredSiteArrayUsingTeamID(sites, "T")), (std::vector<std::string>{"1", "3"}));
  sites[1]->setSyncStatus(2);
  sites[3]->setSyncStatus(3);
  sites[4]->setSyncStatus(1);
  EXPECT_EQ(idsOf(site_array::filteredSiteArrayUsingSyncedOrRestored(sites, true)), (std::vector<std::string>{"2", "4"}));
  EXPECT_EQ(site_array::filteredSiteArrayUsingSyncedOrRestored(sites, false).size(), 5u);

  sites[5]->setSiteID("5");
  EXPECT_EQ(site_array::siteWithSiteID(sites, "5"), sites[4]) << "the first of two sites with one id";
  EXPECT_EQ(site_array::siteWithSiteID(sites, "nope"), nullptr);
  EXPECT_EQ(site_array::siteWithSiteID(sites, std::nullopt), nullptr);
}

// --- beacon and category caches --------------------------------------------------------------

TEST_F(SiteTest, BeaconCacheExpiry) {
  const struct {
    bool loaded, can, should, expired;
  } cases[] = {{true, false, true, false}, {true, true, true, false}, {false, false, false, true},
               {false, false, true, true}, {false, true, true, true}, {false, true, false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "loaded " << c.loaded << " can " << c.can << " should " << c.should);
    auto site = std::make_shared<KSSite>();
    site->setSiteID("S");
    if (c.loaded) site->setCachedBeaconsAt(now());
    hub->canRefresh = c.can;
    hub->shouldRefresh = c.should;
    EXPECT_EQ(site->hasBeaconsCacheExpired(), c.expired);
    EXPECT_EQ(site->hasCategoriesCacheExpired(), c.expired);
  }
  EXPECT_EQ(hub->askedSiteIDs.back(), "S");
  KSBeaconHubPort::setShared(nullptr);
  EXPECT_TRUE(KSSite().hasBeaconsCacheExpired()) << "without a hub nothing is cached";
}

std::shared_ptr<KSBeacon> beaconOf(const std::string& site, const std::string& serial) {
  auto b = std::make_shared<KSBeacon>();
  b->setSiteID(site);
  b->setSerialNumber(serial);
  return b;
}

TEST_F(SiteTest, PagedBeaconLoadThenCachedAnswers) {
  hub->cached = {beaconOf("other", "X")};
  auto site = KSSite::initWithDictionary(json(R"({"id": "S", "teamID": "T"})"));
  std::vector<std::vector<std::string>> answers;
  auto serials = [&](const KSSite::Beacons& beacons) {
    std::vector<std::string> out;
    for (const auto& b : beacons) out.push_back(*b->serialNumber());
    answers.push_back(out);
  };
  site->getBeaconsWithSuccess(serials, nullptr, true);
  ASSERT_EQ(client->pending.size(), 1u) << "an expired cache loads even with preferCached";
  EXPECT_EQ(client->pending.front().method, "PAGES");
  EXPECT_EQ(client->pending.front().path, "teams/T/sites/S/beacons");
  EXPECT_EQ(client->pending.front().parameters, Value(Dict{}));

  const char* shared = R"({"id": "C1", "name": "Entrances"})";
  client->page(*json(std::string(R"([{"serialNumber": "A", "siteID": "S", "categories": [)") + shared + "]}]").array(),
               true);
  client->page(*json(std::string(R"([{"serialNumber": "B", "siteID": "S", "categories": [)") + shared +
                     R"(, {"id": "C2"}, {"name": "no id"}]}, "not an object"])")
                    .array(),
               true);
  client->page(*json(R"([{"serialNumber": "C", "siteID": "S"}])").array(), false);
  EXPECT_EQ(answers, (std::vector<std::vector<std::string>>{{"A"}, {"A", "B"}, {"A", "B", "C"}}));
  ASSERT_EQ(hub->syncResults.size(), 3u);
  for (const auto& result : hub->syncResults) {
    EXPECT_EQ(result.siteID, "S");
    EXPECT_EQ(result.httpStatusCode, 200);
  }
  EXPECT_EQ(site->cachedBeaconsAt(), now());
  EXPECT_FALSE(site->hasBeaconsCacheExpired());
  const auto categories = site->cachedCategories();
  ASSERT_TRUE(categories);
  ASSERT_EQ(categories->size(), 2u) << "one category shared by two beacons is held once";
  EXPECT_EQ(categories->at(0)->categoryID(), "C1");
  EXPECT_EQ(categories->at(1)->categoryID(), "C2");

  // From now on preferCached answers from the cache, and only when the main queue runs.
  answers.clear();
  hub->cached.push_back(beaconOf("S", "D"));
  site->getBeaconsWithSuccess(serials, nullptr, true);
  std::vector<std::string> categoryIDs;
  site->getCategoriesWithSuccess(
      [&](const KSSite::Categories& found) {
        for (const auto& c : found) categoryIDs.push_back(*c->categoryID());
      },
      nullptr, true);
  EXPECT_TRUE(answers.empty());
  EXPECT_TRUE(client->pending.empty());
  scheduler->runUntilIdle();
  EXPECT_EQ(answers, (std::vector<std::vector<std::string>>{{"A", "B", "C", "D"}}));
  EXPECT_EQ(categoryIDs, (std::vector<std::string>{"C1", "C2"}));
}

TEST_F(SiteTest, LoadFailuresAndCategoryLoads) {
  auto site = KSSite::initWithDictionary(json(R"({"id": "S", "teamID": "T"})"));
  const platform::Error offline{"NSURLErrorDomain", -1009, "offline"};
  std::optional<platform::Error> failed;
  std::vector<std::size_t> pages;
  site->getCategoriesWithSuccess([&](const KSSite::Categories& c) { pages.push_back(c.size()); },
                                 [&](const platform::Error& e) { failed = e; }, true);
  client->page(*json(R"([{"serialNumber": "A", "siteID": "S", "categories": [{"id": "C1"}]}])").array(), true);
  client->fail(offline);
  EXPECT_EQ(pages, std::vector<std::size_t>{1});
  EXPECT_EQ(failed, offline);

  // Loads without handlers still fill the caches; a record released by its caller lives
  // until its load ends.
  std::weak_ptr<KSSite> weak = site;
  site->getBeaconsWithSuccess(nullptr, nullptr, false);
  site.reset();
  EXPECT_FALSE(weak.expired());
  client->page(*json(R"([{"serialNumber": "B", "siteID": "S"}])").array(), false);
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(hub->cached.size(), 2u);
}

// Several queues write a site's custom values while others read and copy them: every map
// read is one whole list's (n pairs, each of value n), and copies carry a list with its map.
TEST(KSSiteConcurrency, CustomValuesAndMapStayTogether) {
  auto site = std::make_shared<KSSite>();
  auto listOf = [](int n) {
    KSSite::CustomValues values;
    for (int i = 0; i < n; ++i) {
      auto v = std::make_shared<KSCustomValue>();
      v->setKey("k" + std::to_string(i));
      v->setValue(std::to_string(n));
      values.push_back(v);
    }
    return values;
  };
  std::atomic<bool> stop{false};
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < 2; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < 400; ++i) site->setCustomValues(listOf(1 + (i + w) % 5));
    });
  }
  for (int r = 0; r < 2; ++r) {
    threads.emplace_back([&] {
      while (!stop) {
        if (auto map = site->customValueForKey()) {
          for (const auto& [key, value] : *map) mismatches += std::to_string(map->size()) != value;
        }
        auto copy = site->copy();
        auto list = copy->customValues();
        auto copied = copy->customValueForKey();
        if (list && (!copied || copied->size() != list->size())) ++mismatches;
        (void)site->toDictionary();
      }
    });
  }
  for (int w = 0; w < 2; ++w) threads[w].join();
  stop = true;
  for (std::size_t t = 2; t < threads.size(); ++t) threads[t].join();
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace velmora::kestrine

#include "beacons/api/KSPaginator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <locale>

#include "beacons/api/KSApiOperation.h"
#include "platform/core/Log.h"
#include "testing/ApiTestSupport.h"
#include "testing/LoopbackHttpServer.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using velmora::testing::ApiTestWorld;
using velmora::testing::BeaconCloudFake;

platform::Array beacons(int n) {
  platform::Array out;
  for (int i = 0; i < n; ++i) out.push_back(Value::makeDict({{"id", "B" + std::to_string(i)}}));
  return out;
}

struct Walk {
  std::vector<std::size_t> pageSizes;
  std::vector<std::uint64_t> pages;
  std::optional<platform::Error> error;
  bool done = false;
  std::shared_ptr<KSPaginator> paginator;

  void start(ApiTestWorld& world, const std::string& path, Value parameters = {}) {
    start(world.client, path, std::move(parameters));
  }
  void start(const std::shared_ptr<KSApiClient>& client, const std::string& path, Value parameters = {}) {
    paginator = KSPaginator::loadAllPagesForPath(
        path, std::move(parameters),
        [this](const Value& items, const std::shared_ptr<KSPaginator>& p) {
          pageSizes.push_back(items.size());
          pages.push_back(p->currentPage());
          if (!p->walkContinues()) done = true;
        },
        [this](const platform::Error& e) {
          error = e;
          done = true;
        },
        client);
  }
};

TEST(KSPaginator, WalksEveryPageInOrderWithTheListsParameters) {
  ApiTestWorld world;
  world.cloud.putList("sites/S1/beacons", "beacons", beacons(201));
  Walk walk;
  walk.start(world, "sites/S1/beacons", Value::makeDict({{"modifiedAfter", "x"}}));
  ASSERT_TRUE(world.drainUntil([&] { return walk.done; }));
  world.drain();
  EXPECT_EQ(walk.pageSizes, (std::vector<std::size_t>{100, 100, 1}));
  EXPECT_EQ(walk.pages, (std::vector<std::uint64_t>{1, 2, 3}));
  auto log = world.cloud.log();
  ASSERT_EQ(log.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(log[i].query, (std::map<std::string, std::string>{
                                {"page", std::to_string(i + 1)}, {"perPage", "100"}, {"modifiedAfter", "x"}}));
  }
  EXPECT_EQ(walk.paginator->pageCount(), 3u);
  EXPECT_EQ(walk.paginator->objectCount(), 201u);
  EXPECT_TRUE(walk.paginator->hasPreviousPage());
}

TEST(KSPaginator, AdoptsTheServersPageSizeFromTheFirstReply) {
  ApiTestWorld world;
  world.cloud.putList("beacons", "beacons", beacons(120));
  world.cloud.setServerPerPage(50);
  Walk walk;
  walk.start(world, "beacons");
  ASSERT_TRUE(world.drainUntil([&] { return walk.done; }));
  EXPECT_EQ(walk.pageSizes, (std::vector<std::size_t>{50, 50, 20}));
  auto log = world.cloud.log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].query.at("perPage"), "100");
  EXPECT_EQ(log[1].query.at("perPage"), "50");
  EXPECT_EQ(log[2].query.at("perPage"), "50");
}

TEST(KSPaginator, AnEmptyListOrAReplyWithoutPaginationIsTheLastPage) {
  ApiTestWorld world;
  world.cloud.putList("sites", "sites", {});
  Walk empty;
  empty.start(world, "sites");
  ASSERT_TRUE(world.drainUntil([&] { return empty.done; }));
  world.drain();
  EXPECT_EQ(empty.pageSizes, (std::vector<std::size_t>{0}));
  EXPECT_FALSE(empty.paginator->hasNextPage());

  // Without "pagination", also on the first page, there is no next page, and asking is no
  // programming error.
  world.cloud.putList("beacons", "beacons", beacons(150));
  world.cloud.setFault("GET", "beacons", BeaconCloudFake::Fault{.kind = BeaconCloudFake::Fault::Kind::NoPagination});
  const auto errorsBefore = platform::programmingErrorCount();
  Walk bare;
  bare.start(world, "beacons");
  ASSERT_TRUE(world.drainUntil([&] { return bare.done; }));
  world.drain();
  EXPECT_EQ(bare.pageSizes, (std::vector<std::size_t>{100}));
  EXPECT_FALSE(bare.paginator->hasNextPage());
  EXPECT_EQ(platform::programmingErrorCount(), errorsBefore);
  EXPECT_EQ(world.cloud.hits("GET", "beacons"), 1u);
}

TEST(KSPaginator, AFailedPageEndsTheWalkAfterTheDeliveredOnes) {
  ApiTestWorld world;
  world.cloud.putList("beacons", "beacons", beacons(250));
  world.cloud.setFault("GET", "beacons", BeaconCloudFake::Fault{.status = 500, .page = 2});
  Walk walk;
  walk.start(world, "beacons");
  ASSERT_TRUE(world.drainUntil([&] { return walk.done; }));
  world.drain();
  EXPECT_EQ(walk.pageSizes, (std::vector<std::size_t>{100}));
  ASSERT_TRUE(walk.error);
  EXPECT_EQ(world.cloud.hits("GET", "beacons"), 2u);
}

// A server that claims the largest page count there is and answers every page with one item
// until `lastFullPage`, then with no items.
struct HostilePager {
  velmora::testing::LoopbackHttpServer server;
  std::atomic<std::uint64_t> lastFullPage{~std::uint64_t{0}};
  std::shared_ptr<KSApiClient> client;

  explicit HostilePager(ApiTestWorld& world) {
    server.setFallbackHandler([this](const velmora::testing::LoopbackHttpServer::RecordedRequest& request) {
      const auto at = request.target.find("page=");
      const std::uint64_t page = at == std::string::npos ? 1 : std::stoull(request.target.substr(at + 5));
      const std::string items = page <= lastFullPage.load() ? R"([{"id": "B"}])" : "[]";
      return velmora::testing::LoopbackHttpServer::Reply{
          .body = R"({"beacons": )" + items +
                  R"(, "pagination": {"pageCount": 18446744073709551615, "objectCount": 18446744073709551615, "perPage": 1}})"};
    });
    client = KSApiClient::create(server.baseUrl() + "/api/", world.scheduler, {.defaultTimeoutSeconds = 10});
  }
  std::size_t requests() const { return server.requests().size(); }
};

TEST(KSPaginator, AHostilePageCountEndsAtTheFirstEmptyPage) {
  ApiTestWorld world;
  HostilePager server(world);
  server.lastFullPage = 3;
  Walk walk;
  walk.start(server.client, "beacons");
  ASSERT_TRUE(world.drainUntil([&] { return walk.done; }));
  world.drain();
  EXPECT_EQ(walk.pageSizes, (std::vector<std::size_t>{1, 1, 1, 0}));
  EXPECT_EQ(server.requests(), 4u);
  EXPECT_FALSE(walk.paginator->walkContinues());
}

TEST(KSPaginator, CancelStopsAWalkAfterThePageInFlight) {
  ApiTestWorld world;
  HostilePager server(world);
  Walk walk;
  walk.start(server.client, "beacons");
  ASSERT_TRUE(world.drainUntil([&] { return walk.pageSizes.size() == 2; }));
  // Page 3 is asked for already: it is still delivered, and nothing after it.
  walk.paginator->cancel();
  ASSERT_TRUE(world.drainUntil([&] { return walk.done; }));
  world.drain();
  EXPECT_EQ(walk.pageSizes.size(), 3u);
  EXPECT_EQ(server.requests(), 3u);
  EXPECT_TRUE(walk.paginator->isCancelled());
}

TEST(KSPaginator, QuestionsBeforeTheAnswerIsKnownAreLoggedNotFatal) {
  ApiTestWorld world;
  auto fresh = KSPaginator::create(world.client);
  const auto before = platform::programmingErrorCount();
  EXPECT_FALSE(fresh->hasCurrentPage());
  EXPECT_EQ(fresh->currentPage(), 0u);
  EXPECT_FALSE(fresh->hasNextPage());
  EXPECT_FALSE(fresh->hasPreviousPage());
  EXPECT_EQ(fresh->offset(), 0u);
  EXPECT_EQ(platform::programmingErrorCount(), before + 3);

  auto forPath = KSPaginator::initWithPath("beacons", {}, 100, world.client);
  EXPECT_TRUE(forPath->hasCurrentPage());
  EXPECT_TRUE(forPath->hasPageCount());
  EXPECT_EQ(forPath->offset(), 0u);
}

// The factories are the SDK's sync endpoints.
TEST(KSApiOperationFactories, PathsParametersAndStoredFields) {
  struct Delegate : KSPaginatorOperationDelegate, KSPOSTSessionDataTaskOperationDelegate {
    bool operationShouldStart(const std::shared_ptr<KSOperation>&) override { return false; }
    void operationDidFailWithError(const std::shared_ptr<KSApiOperation>&, const platform::Error&) override {}
    void operationPaginatorDidLoadJSON(const std::shared_ptr<KSPaginatorOperation>&, const std::shared_ptr<KSPaginator>&,
                                       const Value&) override {}
    KSRange operationNeedsRange(const std::shared_ptr<KSPOSTSessionDataTaskOperation>&) override { return {}; }
    std::optional<KSApiPostables> operationObjectsForRange(const std::shared_ptr<KSPOSTSessionDataTaskOperation>&,
                                                           KSRange) override {
      return std::nullopt;
    }
    void operationDidSucceed(const std::shared_ptr<KSPOSTSessionDataTaskOperation>&) override {}
  };
  auto d = std::make_shared<Delegate>();
  const auto may1 = platform::Date::fromReferenceSeconds(736'259'400);  // 2024-05-01 12:30:00 UTC

  auto all = KSApiOperation::operationForSyncAllBeaconsForAppModifiedAfter(may1, d);
  EXPECT_EQ(all->operationType(), 9);
  EXPECT_EQ(all->resourcePath(), "beacons");
  EXPECT_EQ(all->parameters(), Value::makeDict({{"modifiedAfter", may1}}));
  EXPECT_EQ(all->modifiedAfter(), may1);
  {
    // The date travels as its description, escaped once.
    ApiTestWorld world;
    world.cloud.putList("beacons", "beacons", {});
    bool done = false;
    world.client->GET("beacons", all->parameters(), [&](auto&&, auto&&) { done = true; }, [&](auto&&, auto&&) { done = true; });
    ASSERT_TRUE(world.drainUntil([&] { return done; }));
    EXPECT_EQ(world.cloud.log().at(0).rawTarget, "/api/beacons?modifiedAfter=2024-05-01%2012%3A30%3A00%20%2B0000");
  }
  EXPECT_EQ(KSApiOperation::operationForSyncAllSitesForAppModifiedAfter(std::nullopt, d)->parameters(),
            Value(platform::Dict{}));

  auto site = KSApiOperation::operationForSyncBeaconsInSiteWithSiteID("S/1", std::nullopt, d);
  EXPECT_EQ(site->operationType(), 1);
  EXPECT_EQ(site->resourcePath(), "sites/S%2F1/beacons");
  EXPECT_EQ(site->siteID(), "S/1");

  auto key = KSApiOperation::operationForSyncBeaconsNearbyBeaconWithIdentifier(
      "F7826DA6-4FA2-4E98-8024-BC5B71E0893E:1:2", KSBeaconIdentifierTypeIBeaconKey, d);
  EXPECT_EQ(key->resourcePath(), "beacons/nearby");
  EXPECT_EQ(key->parameters(), Value::makeDict({{"proximityUUID", "F7826DA6-4FA2-4E98-8024-BC5B71E0893E"},
                                                {"major", "1"},
                                                {"minor", "2"}}));
  EXPECT_EQ(key->beaconIdentifierType(), 4);
  auto byAddress = KSApiOperation::operationForSyncBeaconsNearbyBeaconWithIdentifier(
      "AA:BB", KSBeaconIdentifierTypeBluetoothAddress, d);
  EXPECT_EQ(byAddress->resourcePath(), "beacons/AA:BB/nearby");
  EXPECT_EQ(byAddress->beaconIdentifierString(), "AA:BB");

  // A process whose locale writes decimal commas still sends points.
  struct Comma : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
  };
  const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new Comma));
  auto nearby = KSApiOperation::operationForSyncSitesNearbyLocation(
      platform::location::Location{.latitude = 52.52000659, .longitude = -0.5}, d);
  std::locale::global(previous);
  EXPECT_EQ(nearby->resourcePath(), "sites/nearby");
  EXPECT_EQ(nearby->parameters(),
            Value::makeDict({{"latitude", "52.520007"}, {"longitude", "-0.5"}, {"distance", "3219"}}));

  EXPECT_EQ(KSApiOperation::operationForSyncBeaconRegionsWithAppToken("t k", d)->resourcePath(),
            "apps/t%20k/beaconRegions");
  auto one = KSApiOperation::operationForSyncBeaconWithIdentifier("SN 1", KSBeaconIdentifierTypeSerialNumber, d);
  EXPECT_EQ(one->path(), "beacons/SN%201");
  EXPECT_EQ(one->operationType(), 2);
  EXPECT_EQ(KSApiOperation::operationForSyncSiteWithSiteID("S1", d)->path(), "sites/S1");
  EXPECT_EQ(KSApiOperation::operationForPostBeaconVisitsWithDelegate(d)->resourcePath(), "beaconVisits");
  EXPECT_EQ(KSApiOperation::operationForPostEventsWithDelegate(d)->operationType(), 8);

  const auto before = platform::programmingErrorCount();
  EXPECT_EQ(KSApiOperation::operationForSyncSiteWithSiteID(std::nullopt, d), nullptr);
  EXPECT_EQ(KSApiOperation::operationForSyncAllBeaconsForAppModifiedAfter(std::nullopt, nullptr), nullptr);
  EXPECT_EQ(KSApiOperation::operationForSyncBeaconsNearbyBeaconWithIdentifier("no-colons",
                                                                              KSBeaconIdentifierTypeIBeaconKey, d),
            nullptr);
  EXPECT_EQ(platform::programmingErrorCount(), before + 3);
}

}  // namespace
}  // namespace velmora::kestrine

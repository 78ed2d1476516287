#include "beacons/configuration/KSBeaconConfigurationOperationFactory.h"

#include <gtest/gtest.h>

#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/configuration/KSBeaconControlOperation.h"
#include "beacons/configuration/KSBeaconDataRequestOperation.h"
#include "beacons/configuration/KSBeaconOperationHandle.h"
#include "beacons/configuration/KSBeaconTransportDataRequestOperation.h"
#include "testing/OperationTestSupport.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::sim::SimBeaconApplication;
using platform::sim::SimGattServer;

// --- the factory's kinds

TEST(OperationFactory, MakesEachKindForTheBeaconAndItsPeripheral) {
  KSBeaconConfigurationOperationFactory factory;
  auto beacon = std::make_shared<KSBeacon>();
  const auto id = platform::Uuid::random();
  struct Row {
    const char* kind;
    KSBeaconOperationFactory::Ref ref;
    std::string_view className;
  };
  const Row rows[] = {
      {"data request", factory.makeDataRequestOperation(beacon, id, {{0x01}}), "KSBeaconDataRequestOperation"},
      {"transport", factory.makeTransportDataRequestOperation(beacon, id, {0x01}),
       "KSBeaconTransportDataRequestOperation"},
      {"control", factory.makeControlOperation(beacon, id, 11, std::nullopt), "KSBeaconControlOperation"},
      {"firmware encrypted", factory.makeFirmwareEncryptedUpdateOperation(beacon, id, "2.0"),
       "KSBeaconFirmwareEncryptedUpdateOperation"},
      {"firmware", factory.makeFirmwareUpdateOperation(beacon, id, "2.0"), "KSBeaconFirmwareUpdateOperation"},
      {"firmware legacy", factory.makeFirmwareUpdateLegacyOperation(beacon, id), "KSBeaconFirmwareUpdateLegacyOperation"},
      {"settings", factory.makeSettingsUpdateOperation(beacon, id), "KSBeaconSettingsUpdateOperation"},
      {"settings legacy", factory.makeSettingsUpdateLegacyOperation(beacon, id), "KSBeaconSettingsUpdateLegacyOperation"},
      {"settings offline", factory.makeSettingsUpdateOfflineOperation(beacon, id, {}),
       "KSBeaconSettingsUpdateOfflineOperation"},
      {"eddystone", factory.makeEddystoneConfigOperation(beacon, id, {}), "KSBeaconEddystoneConfigOperation"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.kind);
    auto op = KSBeaconOperationHandle::operationOf(row.ref);
    ASSERT_NE(op, nullptr);
    EXPECT_EQ(op->className(), row.className);
    EXPECT_EQ(op->beacon(), beacon);
    EXPECT_EQ(op->peripheralIdentifier(), id);
  }
}

// --- the handle on the manager: what the caller hears comes from the attempt that reported

struct HandleTest : testsupport::OperationFixture {};

TEST_F(HandleTest, AReportCarriesTheRetryThatSucceededWithItsReplies) {
  app->setRequestHandler([](const Bytes& r) { return SimBeaconApplication::Answer::send(r); });
  // The first attempt never connects: its connection timeout puts it aside, the beacon is
  // heard again and the duplicate (another object) does the work.
  radio()->setConnectScript(peripheralID, {.latencySeconds = 1000});
  KSBeaconConfigurationOperationFactory factory;
  auto ref = factory.makeDataRequestOperation(beacon, peripheralID, {{0x07}});
  KSBeaconOperationFactory::Ref heard;
  std::vector<std::string> texts;
  ref->setBeaconOperationCompletionBlockWithSuccess([&](const auto& op) { heard = op; },
                                                    [&](const auto&, const platform::Error& e) { FAIL() << e.localizedDescription; });
  ref->setBeaconOperationStatusBlock([&](const auto&, const std::string& t) { texts.push_back(t); });
  central->client->scheduleBeaconOperation(ref);
  const auto second = platform::Uuid::random();
  auto server2 = addBeacon(second);
  auto app2 = SimBeaconApplication::install(server2, radio()->timeline(),
                                            gattUUID(KSCharacteristicUUIDStringControl),
                                            gattUUID(KSCharacteristicUUIDStringIndicator));
  app2->setRequestHandler([](const Bytes& r) { return SimBeaconApplication::Answer::send(Bytes{0x70, r.at(0)}); });
  hearAt(8, beacon, second);
  advanceTo(15);
  ASSERT_NE(heard, nullptr);
  EXPECT_NE(KSBeaconOperationHandle::operationOf(heard), KSBeaconOperationHandle::operationOf(ref));
  EXPECT_EQ(heard->responseDataArray(), (std::vector<Bytes>{{0x70, 0x07}}));
  EXPECT_TRUE(ref->responseDataArray().empty());
  EXPECT_EQ(texts.back(), "Succeeded");
}

TEST_F(HandleTest, TheManagerIgnoresARefAroundNoOperation) {
  struct Foreign : KSBeaconOperationRef {
    void setBeaconOperationCompletionBlockWithSuccess(Success, Failure) override {}
    void setBeaconOperationStatusBlock(Status) override {}
    void setBeaconOperationProgressBlock(Progress) override {}
  };
  std::shared_ptr<KSBeaconOperationRef> foreign = std::make_shared<Foreign>();
  central->client->scheduleBeaconOperation(foreign);
  advanceBy(1);
  EXPECT_TRUE(manager->beaconOperationQueue()->operations().empty());
  EXPECT_TRUE(manager->pendingBeaconOperations().empty());
}

}  // namespace
}  // namespace velmora::kestrine

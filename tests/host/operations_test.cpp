// A beacon operation the host makes itself, handed to the SDK's central client to run: it
// is scheduled and its end is reported to the host's completion block. Written against the
// central client's scheduling entry point as it stands (it takes the operation type-erased).
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "HostSdk.h"
#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/configuration/KSBeaconReadSettingsEddystoneOperation.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"

namespace hostsuite {
namespace {

using namespace velmora::kestrine;

TEST(HostOperations, HostMadeEddystoneReadIsScheduledAndReported) {
  HostSdk host;
  HostSdk::offlineOptions();
  std::optional<int> started;
  KestrineSDK::startRunning([&](int status) { started = status; });
  host.phone.runUntilIdle();
  ASSERT_TRUE(started);
  auto hub = KSBeaconManagerInternal::sharedInternal();
  ASSERT_TRUE(hub);
  auto client = hub->centralManagerClient();
  ASSERT_TRUE(client) << "the running SDK has no central client";

  auto beacon = std::make_shared<KSBeacon>();
  beacon->setBeaconID("eddystone-1");
  beacon->setSerialNumber("eddystone-1");
  // Without a passcode the read is refused before any connection: the report comes at once.
  auto read = KSBeaconReadSettingsEddystoneOperation::initWithBeacon(beacon, velmora::platform::Uuid::random(),
                                                                     std::nullopt);
  bool reported = false;
  std::optional<velmora::platform::Error> error;
  read->setBeaconOperationCompletionBlock(
      [&](const std::shared_ptr<KSBeaconOperation>&, const std::optional<velmora::platform::Error>& e) {
        reported = true;
        error = e;
      });
  client->scheduleBeaconOperation(read);
  for (int i = 0; i < 30 && !reported; ++i) host.phone.advanceBy(1);

  ASSERT_TRUE(reported) << "the operation was never reported";
  EXPECT_TRUE(error) << "a read without a passcode cannot succeed";
}

}  // namespace
}  // namespace hostsuite

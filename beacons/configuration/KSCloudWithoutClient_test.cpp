// The beacon configuration's cloud calls with no API client configured (the SDK running with
// the cloud API off): each call fails once, on the main queue, and nothing is dereferenced.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "beacons/api/KSRecordApi.h"
#include "beacons/configuration/KSBeaconConfigurationCloud.h"
#include "beacons/configuration/KSSettingsCloud.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSBeacon.h"
#include "platform/dispatch/VirtualScheduler.h"

namespace velmora::kestrine {
namespace {

class CloudWithoutClient : public ::testing::Test {
 protected:
  void SetUp() override {
    KSPlatformBundle bundle;
    bundle.scheduler = scheduler;
    KSInstanceProvider::setSharedProvider(KSInstanceProvider::create(bundle));
    beacon->setBeaconID(std::string("b-1"));
  }
  void TearDown() override { KSInstanceProvider::setSharedProvider(nullptr); }

  // Records a failure and the queue it ran on.
  std::function<void(const platform::Error&)> failure() {
    return [this](const platform::Error& error) {
      errors.push_back(error);
      onMain.push_back(scheduler->mainQueue()->isCurrent());
    };
  }
  void expectOneFailureOnMain() {
    EXPECT_TRUE(errors.empty());  // never inline, always later
    scheduler->runUntilIdle();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].domain, "com.kestrine.KSApiClient");
    EXPECT_EQ(errors[0].localizedDescription, "No cloud API client is configured.");
    EXPECT_TRUE(onMain[0]);
  }

  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler = std::make_shared<platform::dispatch::VirtualScheduler>();
  std::shared_ptr<KSBeacon> beacon = std::make_shared<KSBeacon>();
  std::vector<platform::Error> errors;
  std::vector<bool> onMain;
};

TEST_F(CloudWithoutClient, TheLoginsMilkRequestFails) {
  KSBeaconConfigurationCloud cloud(nullptr);
  cloud.getMilk(*beacon, platform::Bytes(16, 1), platform::Bytes(16, 2), [](const platform::Value&) { FAIL(); },
                failure());
  expectOneFailureOnMain();
  cloud.postStatus(beacon, platform::Bytes(16, 3));  // nothing to post to: dropped
  scheduler->runUntilIdle();
  EXPECT_EQ(errors.size(), 1u);
}

TEST_F(CloudWithoutClient, SettingsCallsFail) {
  KSSettingsCloud cloud(nullptr, {}, [] {});
  cloud.getLatestSettings(beacon, platform::Bytes(16, 1), [](const platform::Value&) { FAIL(); }, failure());
  expectOneFailureOnMain();
}

TEST_F(CloudWithoutClient, RecordCallsFail) {
  KSRecordApi records(nullptr, {});
  records.refreshBeacon(beacon, [] { FAIL(); }, failure());
  expectOneFailureOnMain();
}

}  // namespace
}  // namespace velmora::kestrine

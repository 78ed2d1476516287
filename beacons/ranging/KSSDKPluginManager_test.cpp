#include "beacons/ranging/KSSDKPluginManager.h"

#include <gtest/gtest.h>

#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "platform/core/Log.h"
#include "testing/CentralTestSupport.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

struct Processor : KSPluginAdDataProcessable {
  bool processAdData(platform::Value&) override { return false; }
};

// A plug-in of no interface the SDK knows.
struct Stranger : KSSDKPlugin {};

struct PluginWorld {
  PluginWorld() {
    provider = KSInstanceProvider::create(world.bundle());
    auto configurator = KSConfigurator::create(provider, {});
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [configurator](KSInstanceProvider&) { return configurator; });
    session->running = true;
    KSBeaconManagerInternal::installMaker(*provider, {nullptr, nullptr, session});
  }
  std::size_t processors() {
    world.runUntilIdle();
    return KSBeaconManagerInternal::sharedInternal(*provider)->centralManagerClient()->countOfAdDataProcessor();
  }
  velmora::testing::SimWorld world;
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<testsupport::FakeSession> session = std::make_shared<testsupport::FakeSession>();
};

TEST(PluginManager, TheMapRoutesAdDataProcessorsToTheSharedHubsCentralClient) {
  ASSERT_EQ(KSSDKPluginManager::pluginMapper().size(), 1u);
  EXPECT_EQ(KSSDKPluginManager::pluginMapper()[0].protocolName, "KSPluginAdDataProcessable");

  PluginWorld w;
  auto processor = std::make_shared<Processor>();
  KSSDKPluginManager::addPlugin(processor, *w.provider);
  KSSDKPluginManager::addPlugin(processor, *w.provider);
  EXPECT_EQ(w.processors(), 2u);
  // Removal takes every occurrence of the plug-in.
  KSSDKPluginManager::removePlugin(processor, *w.provider);
  EXPECT_EQ(w.processors(), 0u);
}

TEST(PluginManager, NothingAndStrangersChangeNothing) {
  PluginWorld w;
  const auto errorsBefore = platform::programmingErrorCount();
  KSSDKPluginManager::addPlugin(nullptr, *w.provider);
  // The plug-in map skips a plug-in of no known interface: nothing is installed, no error.
  KSSDKPluginManager::addPlugin(std::make_shared<Stranger>(), *w.provider);
  EXPECT_EQ(w.processors(), 0u);
  EXPECT_EQ(platform::programmingErrorCount(), errorsBefore);
}

TEST(PluginManager, TheProcessorManagerReportsAPluginThatIsNoProcessor) {
  PluginWorld w;
  platform::LogCapture capture;
  const auto errorsBefore = platform::programmingErrorCount();
  KSPluginAdDataProcessorManager::addPlugin(std::make_shared<Stranger>(), *w.provider);
  KSPluginAdDataProcessorManager::removePlugin(std::make_shared<Stranger>(), *w.provider);
  EXPECT_EQ(platform::programmingErrorCount(), errorsBefore + 2);
  EXPECT_EQ(w.processors(), 0u);
}

}  // namespace
}  // namespace velmora::kestrine

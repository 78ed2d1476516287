#include "parking/service/ClientInfoBlock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "parking/config/VelmoraSDKConfig.h"
#include "platform/core/Json.h"
#include "testing/ConfigReset.h"

namespace velmora {
namespace {

// A request body that carries just the block, built the way every request builds it.
struct BlockOnlyRequest {
  ClientInfoBlock block = ClientInfoBlock::fromSettings();
  void encode(RecordEncoder& e) const { block.encodeBlock(e); }
};

class ClientInfoBlockTest : public ::testing::Test {
 private:
  testing::ConfigReset reset_;
};

TEST_F(ClientInfoBlockTest, FromSettingsCopiesEverySettingAndLaterChangesDoNotReachIt) {
  VelmoraSDKConfig::setAppId("app");
  VelmoraSDKConfig::setClientSecret("secret");
  VelmoraSDKConfig::setUser(42, "token-42");
  VelmoraSDKConfig::setCurrentLatitude(51.5);
  VelmoraSDKConfig::setDeviceType("phone");
  const ClientInfoBlock block = ClientInfoBlock::fromSettings();
  VelmoraSDKConfig::setUser(7, "token-7");
  VelmoraSDKConfig::setAppId("other");

  EXPECT_EQ(block.appId, "app");
  EXPECT_EQ(block.clientSecret, "secret");
  EXPECT_EQ(block.userId, 42);
  EXPECT_EQ(block.userToken, "token-42");
  EXPECT_EQ(block.currentLatitude, 51.5);
  EXPECT_EQ(block.currentLongitude, std::nullopt);
  EXPECT_EQ(block.deviceType, "phone");
  EXPECT_EQ(block.appName, "");
}

// While one thread keeps signing in one of two users, every request built on the other
// threads carries the id and the token of the same sign-in, never one of each.
TEST_F(ClientInfoBlockTest, UserIdAndTokenInABodyAlwaysBelongToOneSignIn) {
  VelmoraSDKConfig::setUser(1, "t1");
  std::atomic<bool> stop{false};
  std::thread signer([&] {
    for (std::int64_t i = 0; !stop.load(std::memory_order_relaxed); ++i) {
      if (i % 2 == 0) {
        VelmoraSDKConfig::setUser(2, "t2");
      } else {
        VelmoraSDKConfig::setUser(1, "t1");
      }
    }
  });

  constexpr int kBuilders = 3;
  constexpr int kRequestsEach = 20000;
  std::vector<int> mismatches(kBuilders, 0);
  std::vector<std::thread> builders;
  for (int t = 0; t < kBuilders; ++t) {
    builders.emplace_back([&, t] {
      for (int i = 0; i < kRequestsEach; ++i) {
        const auto body = encodeRecordJSON(BlockOnlyRequest());
        const auto json = body ? platform::json::parse(*body) : std::nullopt;
        const auto id = json ? (*json)["userId"].toInt64() : std::nullopt;
        const std::string* token = json ? (*json)["userToken"].string() : nullptr;
        const bool one = id == 1 && token && *token == "t1";
        const bool two = id == 2 && token && *token == "t2";
        if (!one && !two) ++mismatches[t];
      }
    });
  }
  for (auto& b : builders) b.join();
  stop = true;
  signer.join();

  for (int t = 0; t < kBuilders; ++t) EXPECT_EQ(mismatches[t], 0) << "builder " << t;
}

}  // namespace
}  // namespace velmora

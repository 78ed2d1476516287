#pragma once

// Helpers for the tests of records and requests of the parking service: JSON in and out,
// coding paths, the blank client-info block, and a fixture that resets the settings.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "parking/config/VelmoraSDKConfig.h"
#include "parking/service/RecordCodec.h"
#include "platform/core/Error.h"
#include "platform/core/Json.h"
#include "platform/core/Value.h"
#include "testing/ConfigReset.h"

namespace velmora::carpark_test {

inline platform::Value parseJSON(std::string_view text) {
  platform::Error error;
  auto v = platform::json::parse(text, &error);
  EXPECT_TRUE(v) << text << ": " << error.debugDescription();
  return v ? *v : platform::Value();
}

// The encoded form of a record as a Value; Absent when encoding failed.
template <class R>
platform::Value encoded(const R& record) {
  platform::Error error;
  auto v = encodeRecord(record, &error);
  EXPECT_TRUE(v) << error.debugDescription();
  return v ? *v : platform::Value();
}

inline std::string codingPath(const platform::Error& error) {
  auto it = error.userInfo.find(platform::kCodingPathKey);
  if (it == error.userInfo.end() || !it->second.string()) return "<none>";
  return *it->second.string();
}

// The client-info block as a request fresh from its default constructor writes it while
// nothing is configured: fifteen keys, texts empty and userId -1.
inline platform::Value blankBlockJSON() {
  return parseJSON(R"({"appId":"","clientSecret":"","userId":-1,"userToken":"","appName":"",
    "appPackageName":"","appVersion":"","appBuild":"","deviceModel":"","deviceManufacturer":"",
    "deviceName":"","deviceVersion":"","devicePlatform":"","deviceIdiom":"","deviceType":""})");
}

inline platform::Value withKeys(platform::Value base, std::initializer_list<std::pair<const char*, platform::Value>> keys) {
  for (const auto& [k, v] : keys) base.set(k, v);
  return base;
}

// For tests that build requests: every setting at its default before and after each test.
class SettingsTest : public ::testing::Test {
 private:
  velmora::testing::ConfigReset reset_;
};

}  // namespace velmora::carpark_test

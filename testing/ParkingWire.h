#pragma once

// What a parking call looks like on the wire, as a loopback server recorded it: the headers
// the calls set, the body as a JSON value and its keys, and the keys every request body
// carries (the client-info block).

#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/Json.h"
#include "platform/core/Value.h"
#include "testing/LoopbackHttpServer.h"

namespace velmora::testing {

using WireHeader = std::pair<std::string, std::string>;

// The headers the parking calls set, in the order they arrived; the transport's own
// (Host, Content-Length...) are left out.
inline std::vector<WireHeader> callHeaders(const LoopbackHttpServer::RecordedRequest& request) {
  static const std::set<std::string> names = {"Content-Type", "Accept", "UserID", "AuthenticationToken"};
  std::vector<WireHeader> out;
  for (const auto& h : request.headers) {
    if (names.count(h.first)) out.push_back(h);
  }
  return out;
}

inline const std::vector<WireHeader> kJsonHeaders = {{"Content-Type", "application/json"},
                                                     {"Accept", "application/json"}};

// The JSON headers followed by the two user headers.
inline std::vector<WireHeader> withUser(std::string id, std::string token) {
  auto headers = kJsonHeaders;
  headers.emplace_back("UserID", std::move(id));
  headers.emplace_back("AuthenticationToken", std::move(token));
  return headers;
}

// The request body parsed as JSON; a body that does not parse fails the test.
inline platform::Value body(const LoopbackHttpServer::RecordedRequest& request) {
  platform::Error error;
  auto v = platform::json::parse(request.body, &error);
  EXPECT_TRUE(v) << request.body << ": " << error.debugDescription();
  return v ? *v : platform::Value();
}

inline std::set<std::string> keys(const platform::Value& object) {
  std::set<std::string> out;
  if (const auto* dict = object.dict()) {
    for (const auto& [k, v] : *dict) out.insert(k);
  }
  return out;
}

// The client-info block of a fresh request with no position set.
inline const std::set<std::string> kBlockKeys = {
    "appId",       "clientSecret", "userId",      "userToken",          "appName",    "appPackageName",
    "appVersion",  "appBuild",     "deviceModel", "deviceManufacturer", "deviceName", "deviceVersion",
    "devicePlatform", "deviceIdiom", "deviceType"};

inline std::set<std::string> blockPlus(std::initializer_list<std::string> own) {
  std::set<std::string> out = kBlockKeys;
  out.insert(own.begin(), own.end());
  return out;
}

}  // namespace velmora::testing

#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "parking/service/RecordCodec.h"

namespace velmora {

// The client-info block: the 17 fields that lead every parking request record but the
// auth-token request. A request's default constructor fills it from VelmoraSDKConfig
// (fromSettings); the record then holds copies, so later setting changes do not reach it.
// Every field is optional: a caller that clears one removes its key from the body.
struct ClientInfoBlock {
  std::optional<std::string> appId;
  std::optional<std::string> clientSecret;
  std::optional<std::int64_t> userId;
  std::optional<std::string> userToken;
  std::optional<double> currentLatitude;
  std::optional<double> currentLongitude;
  std::optional<std::string> appName;
  std::optional<std::string> appPackageName;
  std::optional<std::string> appVersion;
  std::optional<std::string> appBuild;
  std::optional<std::string> deviceModel;
  std::optional<std::string> deviceManufacturer;
  std::optional<std::string> deviceName;
  std::optional<std::string> deviceVersion;
  std::optional<std::string> devicePlatform;
  std::optional<std::string> deviceIdiom;
  std::optional<std::string> deviceType;

  // Every field nil; for decoding, which must not read the settings.
  ClientInfoBlock() = default;
  // Every field copied from the settings: texts present (empty when never set), the user
  // id present (-1 when nobody is signed in), the position as set (nil when not).
  static ClientInfoBlock fromSettings();

  // Writes the present fields, in declaration order.
  void encodeBlock(RecordEncoder& e) const;
  // Reads every field as optional.
  void decodeBlock(RecordDecoder& d);
};

// Tag for the constructor a request record's decoder uses: nothing read from the settings.
struct Undecoded {};
inline constexpr Undecoded undecoded{};

}  // namespace velmora

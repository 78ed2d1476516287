#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "beacons/configuration/KSBeaconOperation.h"

namespace velmora::kestrine {

// Reads an Eddystone beacon's Broadcast Capabilities after unlocking it with the passcode, into
// settings(): version, slots, EID slots, capability bits (one byte each), supported frame
// types (u16 big-endian) and the supported transmit powers (the rest, as data). Not retried.
class KSBeaconReadSettingsEddystoneOperation final : public KSBeaconOperation {
 public:
  // A missing or empty passcode is refused in Preparing, before any connection.
  static std::shared_ptr<KSBeaconReadSettingsEddystoneOperation> initWithBeacon(
      std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier,
      std::optional<std::string> passcode);

  std::string_view className() const override { return "KSBeaconReadSettingsEddystoneOperation"; }
  void prepareForConnection() override;
  void connected() override;

  const std::optional<platform::Bytes>& currentPasscodeData() const { return passcode_; }
  // Set when the read succeeded; read after the end.
  const platform::Dict& settings() const { return settings_; }

  // The result dictionary of a capability value; nullopt with the error for fewer than 7 bytes.
  static std::optional<platform::Dict> settingsFromBroadcastCapabilities(const platform::Bytes& value,
                                                                         std::string* error = nullptr);

 private:
  struct Token {};

 public:
  KSBeaconReadSettingsEddystoneOperation(Token, std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> identifier,
                                         std::optional<platform::Bytes> passcode)
      : KSBeaconOperation(std::move(beacon), std::move(identifier)), passcode_(std::move(passcode)) {}

 private:
  std::shared_ptr<KSBeaconOperation> makeDuplicate() const override;

  const std::optional<platform::Bytes> passcode_;
  platform::Dict settings_;
};

}  // namespace velmora::kestrine

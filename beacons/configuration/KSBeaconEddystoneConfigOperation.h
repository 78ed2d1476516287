#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "beacons/configuration/KSBeaconOperation.h"

namespace velmora::kestrine {

// Writes advertising-slot data and, optionally, a new lock passcode through the Eddystone
// configuration service: unlocks with the current passcode, then for each slot in ascending
// slot order writes its number to ActiveSlot and its bytes to RWADVSlot, then the passcode
// change (00 + AES-128-ECB of the new digest under the current one) to Lockstate, and
// succeeds. The steps are a chain of write completions on the configuration queue: a failed
// write ends the operation and nothing after it is written; nothing blocks a thread.
// Retried once, from the start.
class KSBeaconEddystoneConfigOperation final : public KSBeaconOperation {
 public:
  static std::shared_ptr<KSBeaconEddystoneConfigOperation> initWithBeacon(
      std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier, platform::Dict settingForKey);

  std::string_view className() const override { return "KSBeaconEddystoneConfigOperation"; }
  std::int64_t maxNumberOfRetries() const override { return 1; }
  double timeoutInSecondsForOperationState(std::int32_t state) const override;
  void prepareForConnection() override;
  void connected() override;

  const platform::Dict& settingForKey() const { return settings_; }
  const platform::Bytes& currentPasscodeData() const { return passcode_; }

  // The slots of a slot dictionary in ascending slot order, or the key that is no slot number
  // ("0" to "255") or whose value is not data.
  using Slots = std::vector<std::pair<std::uint8_t, platform::Bytes>>;
  static std::optional<Slots> slotsFromDictionary(const platform::Value& slots, std::string* badKey = nullptr);
  // The 17-byte Lockstate value that changes the passcode.
  static std::optional<platform::Bytes> passcodeChangeValue(const platform::Bytes& currentDigest,
                                                            const platform::Bytes& newDigest);

 private:
  struct Token {};

 public:
  KSBeaconEddystoneConfigOperation(Token, std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> identifier,
                                   platform::Dict settings)
      : KSBeaconOperation(std::move(beacon), std::move(identifier)), settings_(std::move(settings)) {}

 private:
  std::shared_ptr<KSBeaconOperation> makeDuplicate() const override;
  void writeSlot(std::size_t index);
  void writeNewPasscode();

  const platform::Dict settings_;
  platform::Bytes passcode_;
  Slots slots_;
  std::optional<platform::Bytes> lockStateValue_;
  Characteristic activeSlot_, advSlot_, lockState_;
};

}  // namespace velmora::kestrine

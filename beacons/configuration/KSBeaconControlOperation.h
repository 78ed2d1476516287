#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "beacons/configuration/KSBeaconOperation.h"

namespace velmora::kestrine {

// The opcodes a host app sends through the control operation; any other value may be sent too.
enum KSBeaconOpcode : std::int32_t {
  KSBeaconOpcodeEraseBlock0 = 0,
  KSBeaconOpcodeEraseBlock1 = 1,
  KSBeaconOpcodeErasePointer = 2,
  KSBeaconOpcodeGoDFU = 3,
  KSBeaconOpcodePowerOn = 4,
  KSBeaconOpcodeRestart = 11,
  KSBeaconOpcodeReset = 12,
  KSBeaconOpcodeWriteVersionLine1 = 13,
  KSBeaconOpcodeWriteVersionLine2 = 14,
  KSBeaconOpcodeWriteVersionLine3 = 15,
  KSBeaconOpcodeGoSecureMode = 16,
  KSBeaconOpcodeGoIBeaconMode = 17,
  KSBeaconOpcodeGoIBeaconPlusSecureMode = 18,
};

// Connects, discovers Control and writes one opcode byte, followed by the data when there is
// some; succeeds when the write is acknowledged. Every attempt writes the same bytes.
class KSBeaconControlOperation final : public KSBeaconOperation {
 public:
  static std::shared_ptr<KSBeaconControlOperation> initWithBeacon(std::shared_ptr<KSBeacon> beacon,
                                                                  std::optional<platform::Uuid> peripheralIdentifier,
                                                                  std::int32_t opcode,
                                                                  std::optional<platform::Bytes> data = std::nullopt);

  std::string_view className() const override { return "KSBeaconControlOperation"; }
  std::int32_t opcode() const { return opcode_; }
  const std::optional<platform::Bytes>& data() const { return data_; }
  const Characteristic& controlCharacteristic() const { return control_; }

  std::int64_t maxNumberOfRetries() const override { return 3; }
  void connected() override;

 private:
  struct Token {};

 public:
  KSBeaconControlOperation(Token, std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> identifier,
                           std::int32_t opcode, std::optional<platform::Bytes> data)
      : KSBeaconOperation(std::move(beacon), std::move(identifier)), opcode_(opcode), data_(std::move(data)) {}

 private:
  std::shared_ptr<KSBeaconOperation> makeDuplicate() const override;

  const std::int32_t opcode_;
  const std::optional<platform::Bytes> data_;
  Characteristic control_;
};

}  // namespace velmora::kestrine

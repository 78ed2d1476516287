#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/bluetooth/BluetoothUUID.h"
#include "platform/core/Value.h"
#include "platform/sim/SimBeaconApplication.h"
#include "platform/sim/SimEncryptedSettingsSink.h"
#include "platform/sim/SimGattServer.h"
#include "platform/sim/SimTimeline.h"

namespace velmora::platform::sim {

// The settings side of a simulated configurable beacon, listening to the Control writes of
// its SimBeaconApplication and answering on Indicator:
//
// - Encrypted settings (15, 16 i, 17): the SimEncryptedSettingsSink; its answer is notified.
// - Plain settings: 18 i + up to 16 bytes for every chunk but the last, 19 i + bytes for the
//   last; the chunks must count from 0. The finished payload is recorded and answered with its
//   16-byte MD5 digest (00 04 for a broken numbering); a scripted answer replaces it once.
// - Version lines 0D (13 bytes), 0E (16 bytes) and 0F (1 byte), little-endian numbers: each
//   is recorded and decoded into lines().
//
// Thread-safe.
class SimSettingsSink : public std::enable_shared_from_this<SimSettingsSink> {
 public:
  static constexpr std::uint8_t kPlainChunk = 0x18;
  static constexpr std::uint8_t kPlainLastChunk = 0x19;

  struct VersionLines {
    std::optional<std::uint8_t> loudness, measuredPower, beaconMode, version;
    std::optional<std::uint16_t> targetSpeed, major, minor, constant, privacyDuration;
    std::optional<Bytes> proximityUUID;
  };

  static std::shared_ptr<SimSettingsSink> install(const std::shared_ptr<SimBeaconApplication>& app,
                                                  std::shared_ptr<SimGattServer> server,
                                                  std::shared_ptr<SimTimeline> timeline,
                                                  bluetooth::BluetoothUUID indicator);

  SimEncryptedSettingsSink& encrypted() { return encrypted_; }
  void scriptPlainAnswer(Bytes answer);
  // Seconds between the finishing write and its answer.
  void setAnswerDelay(double seconds);

  std::vector<Bytes> plainPayloads() const;
  VersionLines lines() const;
  // Every line written, in order, with its opcode.
  std::vector<Bytes> lineWrites() const;

 private:
  struct Token {};

 public:
  SimSettingsSink(Token, std::shared_ptr<SimGattServer> server, std::shared_ptr<SimTimeline> timeline,
                  bluetooth::BluetoothUUID indicator);

 private:
  void written(const Bytes& value);
  std::optional<Bytes> plainWritten(const Bytes& value);
  void lineWritten(const Bytes& value);
  void answer(Bytes value);

  const std::weak_ptr<SimGattServer> server_;
  const std::shared_ptr<SimTimeline> timeline_;
  const bluetooth::BluetoothUUID indicator_;
  SimEncryptedSettingsSink encrypted_;
  mutable std::mutex mutex_;
  double delay_ = 0.02;
  Bytes plain_;
  std::size_t nextPlain_ = 0;
  bool plainBroken_ = false;
  std::optional<Bytes> plainScripted_;
  std::vector<Bytes> plainPayloads_;
  VersionLines lines_;
  std::vector<Bytes> lineWrites_;
};

// The advertising slots of a simulated Eddystone configuration service, installed as the
// write handlers of ActiveSlot and RWADVSlot: a one-byte write to ActiveSlot picks the slot,
// a write to RWADVSlot stores its value in the picked slot. Broadcast Capabilities reads the
// value given (setCapabilities). Thread-safe.
class SimEddystoneSlots : public std::enable_shared_from_this<SimEddystoneSlots> {
 public:
  struct Characteristics {
    bluetooth::BluetoothUUID activeSlot;
    bluetooth::BluetoothUUID advSlot;
    bluetooth::BluetoothUUID capabilities;
  };
  static std::shared_ptr<SimEddystoneSlots> install(std::shared_ptr<SimGattServer> server, Characteristics uuids);
  void setCapabilities(Bytes value);
  std::optional<Bytes> slot(std::uint8_t index) const;
  std::uint8_t activeSlot() const;

 private:
  struct Token {};

 public:
  SimEddystoneSlots(Token, Characteristics uuids) : uuids_(std::move(uuids)) {}

 private:
  const Characteristics uuids_;
  std::weak_ptr<SimGattServer> server_;
  mutable std::mutex mutex_;
  std::uint8_t active_ = 0;
  std::vector<std::optional<Bytes>> slots_ = std::vector<std::optional<Bytes>>(256);
};

}  // namespace velmora::platform::sim

#pragma once

#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"

namespace velmora::kestrine {

// A firmware image the platform offers for beacons, with the hashes of its hex file and of
// its over-the-air file. Exported in full.
class KSBeaconFirmware : public KSJSONRecord<KSBeaconFirmware> {
 public:
  static const KSJSONModelClass& jsonClass();

  const std::optional<std::string>& beaconFirmwareID() const { return beaconFirmwareID_; }
  void setBeaconFirmwareID(std::optional<std::string> v) { beaconFirmwareID_ = std::move(v); }
  const std::optional<std::string>& version() const { return version_; }
  void setVersion(std::optional<std::string> v) { version_ = std::move(v); }
  // The JSON "description": the platform's text about the image.
  const std::optional<std::string>& descriptionText() const { return description_; }
  void setDescriptionText(std::optional<std::string> v) { description_ = std::move(v); }
  const std::optional<std::string>& hexFileHash() const { return hexFileHash_; }
  void setHexFileHash(std::optional<std::string> v) { hexFileHash_ = std::move(v); }
  const std::optional<std::string>& otaFileHash() const { return otaFileHash_; }
  void setOtaFileHash(std::optional<std::string> v) { otaFileHash_ = std::move(v); }

  // The stored description text (empty when it is not set).
  std::string description() const override { return description_.value_or(std::string()); }

 private:
  std::optional<std::string> beaconFirmwareID_, version_, description_, hexFileHash_, otaFileHash_;
};

}  // namespace velmora::kestrine

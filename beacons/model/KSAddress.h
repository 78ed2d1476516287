#pragma once

#include <memory>
#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"
#include "platform/core/Value.h"
#include "platform/location/Location.h"

namespace velmora::kestrine {

// The postal address of a site, and optionally its coordinates (degrees, as numbers). JSON
// "id" is addressID; everything is exported.
class KSAddress : public KSJSONRecord<KSAddress> {
 public:
  static const KSJSONModelClass& jsonClass();

  static std::shared_ptr<KSAddress> addressWithStreetLine1(std::optional<std::string> streetLine1,
                                                           std::optional<std::string> streetLine2,
                                                           std::optional<std::string> cityName,
                                                           std::optional<std::string> stateAbbrev,
                                                           std::optional<std::string> postalCode,
                                                           std::optional<std::string> countryName);
  // An address given by its coordinates alone; useLatLong is set.
  static std::shared_ptr<KSAddress> addressWithLatitude(platform::Value latitude, platform::Value longitude);

  bool useLatLong() const { return useLatLong_; }
  void setUseLatLong(bool v) { useLatLong_ = v; }
  const std::optional<std::string>& addressID() const { return addressID_; }
  void setAddressID(std::optional<std::string> v) { addressID_ = std::move(v); }
  const std::optional<std::string>& streetLine1() const { return streetLine1_; }
  void setStreetLine1(std::optional<std::string> v) { streetLine1_ = std::move(v); }
  const std::optional<std::string>& streetLine2() const { return streetLine2_; }
  void setStreetLine2(std::optional<std::string> v) { streetLine2_ = std::move(v); }
  const std::optional<std::string>& cityName() const { return cityName_; }
  void setCityName(std::optional<std::string> v) { cityName_ = std::move(v); }
  const std::optional<std::string>& stateAbbrev() const { return stateAbbrev_; }
  void setStateAbbrev(std::optional<std::string> v) { stateAbbrev_ = std::move(v); }
  const std::optional<std::string>& postalCode() const { return postalCode_; }
  void setPostalCode(std::optional<std::string> v) { postalCode_ = std::move(v); }
  const std::optional<std::string>& countryName() const { return countryName_; }
  void setCountryName(std::optional<std::string> v) { countryName_ = std::move(v); }
  const platform::Value& latitude() const { return latitude_; }
  void setLatitude(platform::Value v) { latitude_ = std::move(v); }
  const platform::Value& longitude() const { return longitude_; }
  void setLongitude(platform::Value v) { longitude_ = std::move(v); }

  // The coordinates as a location when both are numbers; useLatLong is not consulted.
  std::optional<platform::location::Location> location() const;

 private:
  bool useLatLong_ = false;
  std::optional<std::string> addressID_, streetLine1_, streetLine2_, cityName_, stateAbbrev_, postalCode_, countryName_;
  platform::Value latitude_, longitude_;
};

}  // namespace velmora::kestrine

#include "beacons/model/KSAddress.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSAddress::jsonClass() {
  using A = KSAddress;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<A>("KSAddress", [](auto& c) {
    c.keyMapper({{"id", "addressID"}});
    c.allOptional();
    c.scalar("useLatLong", &A::useLatLong, &A::setUseLatLong);
    c.text("addressID", &A::addressID, &A::setAddressID);
    c.text("streetLine1", &A::streetLine1, &A::setStreetLine1);
    c.text("streetLine2", &A::streetLine2, &A::setStreetLine2);
    c.text("cityName", &A::cityName, &A::setCityName);
    c.text("stateAbbrev", &A::stateAbbrev, &A::setStateAbbrev);
    c.text("postalCode", &A::postalCode, &A::setPostalCode);
    c.text("countryName", &A::countryName, &A::setCountryName);
    c.number("latitude", &A::latitude, &A::setLatitude);
    c.number("longitude", &A::longitude, &A::setLongitude);
  });
  return cls;
}

std::shared_ptr<KSAddress> KSAddress::addressWithStreetLine1(std::optional<std::string> streetLine1,
                                                             std::optional<std::string> streetLine2,
                                                             std::optional<std::string> cityName,
                                                             std::optional<std::string> stateAbbrev,
                                                             std::optional<std::string> postalCode,
                                                             std::optional<std::string> countryName) {
  auto address = std::make_shared<KSAddress>();
  address->setStreetLine1(std::move(streetLine1));
  address->setStreetLine2(std::move(streetLine2));
  address->setCityName(std::move(cityName));
  address->setStateAbbrev(std::move(stateAbbrev));
  address->setPostalCode(std::move(postalCode));
  address->setCountryName(std::move(countryName));
  return address;
}

std::shared_ptr<KSAddress> KSAddress::addressWithLatitude(platform::Value latitude, platform::Value longitude) {
  auto address = std::make_shared<KSAddress>();
  address->setUseLatLong(true);
  address->setLatitude(std::move(latitude));
  address->setLongitude(std::move(longitude));
  return address;
}

std::optional<platform::location::Location> KSAddress::location() const {
  auto lat = latitude_.toDouble();
  auto lon = longitude_.toDouble();
  if (!lat || !lon) return std::nullopt;
  platform::location::Location at;
  at.latitude = *lat;
  at.longitude = *lon;
  return at;
}

}  // namespace velmora::kestrine

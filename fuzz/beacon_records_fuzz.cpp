// Feeds arbitrary JSON text to the beacon platform's records (regions, settings versions with
// their nested lookups, categories with custom values, network access, alerts, map points,
// resources). Whatever imports must export, import again from its export and copy; a
// category's key map must match its custom values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "beacons/model/KSAlert.h"
#include "beacons/model/KSBeaconVersion.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSDateRange.h"
#include "beacons/model/KSEddystone.h"
#include "beacons/model/KSMapPoint.h"
#include "beacons/model/KSNetworkAccess.h"
#include "beacons/model/KSResource.h"
#include "platform/core/Log.h"

namespace {

template <class T>
void roundTrip(std::string_view text) {
  velmora::platform::Error error;
  auto record = T::initWithString(text, &error);
  if (!record) return;
  (void)record->description();
  auto written = record->toJSONString();
  if (!written) std::abort();
  if (!T::initWithString(*written)) std::abort();
  if (!record->copy()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    velmora::platform::Log::setSink([](velmora::platform::LogLevel, std::string_view, std::string_view) {});
    return true;
  }();
  (void)quiet;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  roundTrip<velmora::kestrine::KSBeaconRegion>(text);
  roundTrip<velmora::kestrine::KSBeaconVersion>(text);
  roundTrip<velmora::kestrine::KSNetworkAccess>(text);
  roundTrip<velmora::kestrine::KSAlert>(text);
  roundTrip<velmora::kestrine::KSMapPoint>(text);
  roundTrip<velmora::kestrine::KSResource>(text);
  roundTrip<velmora::kestrine::KSDateRange>(text);
  roundTrip<velmora::kestrine::KSEddystone>(text);
  roundTrip<velmora::kestrine::KSCategory>(text);

  if (auto category = velmora::kestrine::KSCategory::initWithString(text)) {
    const auto [values, map] = category->customValuesAndMap();
    if (map.has_value() != (values.has_value() && !values->empty())) std::abort();
    if (map) {
      for (const auto& pair : *values) {
        if (pair->key() && pair->value() && map->find(*pair->key()) == map->end()) std::abort();
      }
    }
  }
  return 0;
}

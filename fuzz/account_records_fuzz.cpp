// Feeds arbitrary JSON text to the visit, event, site, app and team-invite records (a site
// nests its address, access type, maps and custom values; an invite nests a person and a
// team with its owner and role). Whatever imports must export, import
// again from its export and copy.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "beacons/model/KSApp.h"
#include "beacons/model/KSBeaconRegionVisit.h"
#include "beacons/model/KSBeaconVisit.h"
#include "beacons/model/KSEvent.h"
#include "beacons/model/KSPerson.h"
#include "beacons/model/KSSite.h"
#include "beacons/model/KSTeam.h"
#include "beacons/model/KSTeamInvite.h"
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
  roundTrip<velmora::kestrine::KSBeaconVisit>(text);
  roundTrip<velmora::kestrine::KSBeaconRegionVisit>(text);
  roundTrip<velmora::kestrine::KSEvent>(text);
  roundTrip<velmora::kestrine::KSSite>(text);
  roundTrip<velmora::kestrine::KSApp>(text);
  roundTrip<velmora::kestrine::KSTeamInvite>(text);
  if (auto app = velmora::kestrine::KSApp::initWithString(text)) (void)app->remoteOptions();
  if (auto site = velmora::kestrine::KSSite::initWithString(text)) {
    (void)site->location();
    (void)site->customValueForKey();
  }
  return 0;
}

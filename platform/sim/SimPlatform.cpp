#include "platform/sim/SimPlatform.h"

#include <fmt/format.h>
#include <stdlib.h>

#include <stdexcept>
#include <system_error>
#include <utility>

#include "platform/location/LocationManager.h"

namespace velmora::platform::sim {

namespace {

std::filesystem::path makeTemporaryFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmora-sim-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary documents folder");
  return pattern;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

SimPlatform::Documents::Documents(std::optional<std::filesystem::path> given) {
  if (given) {
    path_ = std::move(*given);
    std::error_code ec;
    std::filesystem::create_directories(path_, ec);
  } else {
    path_ = makeTemporaryFolder();
    owned_ = true;
  }
}

SimPlatform::Documents::~Documents() {
  if (!owned_) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

SimPlatform::SimPlatform() : SimPlatform(Options{}) {}

SimPlatform::SimPlatform(Options options)
    : scheduler(std::make_shared<dispatch::VirtualScheduler>()),
      center(std::make_shared<NotificationCenter>()),
      documents(std::move(options.documents)),
      radio(SimRadio::create(scheduler, options.bluetoothPower)),
      location(SimLocation::create(scheduler, radio)),
      app(SimApp::create(scheduler, *center, documents.path())),
      reachability(SimReachability::create(scheduler)),
      defaults(UserDefaults::open(documents.path() / kDefaultsFileName)),
      start_(scheduler->clock()->now().timeIntervalSinceReferenceDate()) {}

// The members go in reverse order: the defaults and the backends before the documents
// folder they may write to, the scheduler last.
SimPlatform::~SimPlatform() = default;

void SimPlatform::makeReady() {
  location->setAuthorizationStatus(location::AuthorizationStatus::AuthorizedAlways);
  radio->setPowerState(bluetooth::CentralState::PoweredOn);
  app->perform(SimApp::Step::LaunchForeground);
  runUntilIdle();
}

double SimPlatform::elapsed() const { return scheduler->clock()->now().timeIntervalSinceReferenceDate() - start_; }

void SimPlatform::advanceTo(double t) {
  const double now = elapsed();
  if (t > now) advanceBy(t - now);
  runUntilIdle();
}

std::string SimPlatform::iBeaconFrameHex(std::string_view proximityUuid, int major, int minor, int measuredPower) {
  std::string hex = "4C000215";
  for (char c : proximityUuid) {
    if (c != '-') hex += c;
  }
  hex += fmt::format("{:04X}{:04X}{:02X}", major & 0xFFFF, minor & 0xFFFF,
                     static_cast<unsigned>(static_cast<std::uint8_t>(static_cast<std::int8_t>(measuredPower))));
  return hex;
}

bluetooth::AdvertisementData SimPlatform::iBeaconAdvertisement(std::string_view proximityUuid, int major, int minor,
                                                               int measuredPower) {
  const std::string hex = iBeaconFrameHex(proximityUuid, major, minor, measuredPower);
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    const int hi = hexDigit(hex[i]);
    const int lo = hexDigit(hex[i + 1]);
    if (hi < 0 || lo < 0) throw std::invalid_argument("a proximity UUID is hex digits and dashes");
    bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  if (bytes.size() != 25) throw std::invalid_argument("a proximity UUID is 16 bytes");
  bluetooth::AdvertisementData data;
  data.manufacturerData = std::move(bytes);
  return data;
}

SimAdvertiser SimPlatform::iBeaconAdvertiser(std::string_view proximityUuid, int major, int minor, int measuredPower,
                                             int rssi, double intervalSeconds) {
  SimAdvertiser advertiser;
  advertiser.identifier = Uuid::random();
  advertiser.advertisement = iBeaconAdvertisement(proximityUuid, major, minor, measuredPower);
  advertiser.intervalSeconds = intervalSeconds;
  advertiser.rssi = rssi;
  return advertiser;
}

}  // namespace velmora::platform::sim

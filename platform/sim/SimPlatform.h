#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/bluetooth/Central.h"
#include "platform/core/Uuid.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/sim/SimApp.h"
#include "platform/sim/SimLocation.h"
#include "platform/sim/SimRadio.h"
#include "platform/sim/SimReachability.h"

namespace velmora::platform::sim {

// A whole simulated phone on one virtual clock, for a host to run the SDK (and its own code
// around it) without a radio, location services or an app lifecycle:
//
// - scheduler: a VirtualScheduler; every queue runs on the thread that drives it, and
//   advanceBy() plays radio, location, app and timers in time order;
// - center: a notification centre of its own (not the process's default one);
// - documents: the app's documents folder, the host's own or a temporary one this object
//   makes and removes with everything in it;
// - radio: the simulated air and the phone's Bluetooth (on unless the options say otherwise);
// - location: location services that hear the radio's iBeacon frames (not determined
//   until authorised);
// - app: the app lifecycle (not launched until launched);
// - reachability: reachable over WiFi;
// - defaults: the user defaults, `UserDefaults.plist` in the documents folder.
//
// makeReady() puts the phone where an app that detects beacons expects it: location always
// authorised, Bluetooth on, the app launched into the foreground. A host's test:
//
//   velmora::platform::sim::SimPlatform phone;
//   phone.makeReady();
//   phone.radio->addAdvertiser(SimPlatform::iBeaconAdvertiser(uuid, 100, 1, -59, -55));
//   phone.advanceBy(10);   // ten seconds of virtual time, in microseconds of real time
//
// The object lives on the thread that drives it; it is not shared between threads. Work
// still queued at destruction is dropped with the scheduler once the last holder lets go.
class SimPlatform {
 public:
  // The user-defaults file's name in the documents folder.
  static constexpr std::string_view kDefaultsFileName = "UserDefaults.plist";

  struct Options {
    // The documents folder; empty: a fresh temporary folder owned (and removed) by this object.
    std::optional<std::filesystem::path> documents;
    bluetooth::CentralState bluetoothPower = bluetooth::CentralState::PoweredOn;
  };

  // The app's documents folder, owned or not.
  class Documents {
   public:
    explicit Documents(std::optional<std::filesystem::path> given);
    ~Documents();
    Documents(const Documents&) = delete;
    Documents& operator=(const Documents&) = delete;
    const std::filesystem::path& path() const { return path_; }
    bool owned() const { return owned_; }

   private:
    std::filesystem::path path_;
    bool owned_ = false;
  };

  SimPlatform();
  explicit SimPlatform(Options options);
  ~SimPlatform();
  SimPlatform(const SimPlatform&) = delete;
  SimPlatform& operator=(const SimPlatform&) = delete;

  // Location services always authorised, Bluetooth on, the app launched and active; then
  // runs what that set going.
  void makeReady();

  void advanceBy(double seconds) { scheduler->advanceBy(seconds); }
  void runUntilIdle() { scheduler->runUntilIdle(); }
  // Also waits for the requests in flight on the loopback network and what their replies set
  // going: virtual time races ahead of real I/O, so read what a server was sent after this.
  void runUntilSettled() { scheduler->runUntilSettled(); }
  // Seconds of virtual time since this platform was made.
  double elapsed() const;
  // Moves virtual time to t seconds since this platform was made (never back), then runs
  // what is due.
  void advanceTo(double t);

  // The manufacturer data of an iBeacon frame as hex: company 4C00, type 02 15, the proximity
  // UUID, major and minor big-endian, the measured power at 1 m as a signed byte.
  static std::string iBeaconFrameHex(std::string_view proximityUuid, int major, int minor, int measuredPower);
  // The same frame as advertisement data.
  static bluetooth::AdvertisementData iBeaconAdvertisement(std::string_view proximityUuid, int major, int minor,
                                                           int measuredPower);
  // A peripheral that sends that iBeacon frame every interval at the RSSI, under a fresh
  // random identifier; hand it to radio->addAdvertiser() and remove it by its identifier.
  static SimAdvertiser iBeaconAdvertiser(std::string_view proximityUuid, int major, int minor, int measuredPower,
                                         int rssi, double intervalSeconds = 0.1);

  const std::shared_ptr<dispatch::VirtualScheduler> scheduler;
  const std::shared_ptr<NotificationCenter> center;
  const Documents documents;
  const std::shared_ptr<SimRadio> radio;
  const std::shared_ptr<SimLocation> location;
  const std::shared_ptr<SimApp> app;
  const std::shared_ptr<SimReachability> reachability;
  const std::shared_ptr<UserDefaults> defaults;

 private:
  double start_ = 0;
};

}  // namespace velmora::platform::sim

#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/bluetooth/Central.h"
#include "platform/core/Error.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/sim/SimGattServer.h"
#include "platform/sim/SimTimeline.h"
#include "platform/sim/SimTrace.h"

namespace velmora::platform::sim {

class SimCentral;

// A peripheral that advertises from code: the same advertisement every interval, the first
// one phase seconds after it was added, with an RSSI that may change over time.
struct SimAdvertiser {
  Uuid identifier;
  bluetooth::AdvertisementData advertisement;
  double intervalSeconds = 0.1;
  double phaseSeconds = 0;
  // dBm for the advertisement sent that many seconds after the advertiser was added;
  // empty: rssi below.
  std::function<int(double secondsSinceAdded)> rssiOverTime;
  int rssi = -60;
};

// How a connection attempt to a peripheral ends: after the latency, connected, or failed
// with the error.
struct SimConnectScript {
  double latencySeconds = 0.05;
  std::optional<Error> failure;
};

// The simulated air and the phone's radio. Peripherals advertise from traces or from code;
// centrals made by centralMaker() scan and connect through it.
//
// Everything due (a trace line, an advertiser's next frame, the end of a connect latency)
// runs on the radio's own serial queue at its virtual time; what a central reports goes to
// the queue its owner gave. So under the VirtualScheduler, advanceBy(10) plays ten seconds
// of air in time order.
//
// - A scanning central gets every advertisement its filter passes (Central::scanForPeripherals);
//   without allowDuplicates, only the first of each peripheral per scan.
// - iBeacon frames (manufacturer data 4C 00 02 15 ...) go to the air's observers (the
//   simulated location services) and not to scans, as on a phone, unless
//   setShowsIBeaconFramesToScans(true).
// - Power is scripted: any state but on ends every scan and drops every connection; on
//   does not restart scans. Each central posts its first state after it was made.
// - GATT requests to a connected peripheral go to its GATT server (setGattServer, see
//   SimGattServer.h); without one they are answered with gatt::kRequestNotSupported.
class SimRadio : public std::enable_shared_from_this<SimRadio> {
 public:
  static std::shared_ptr<SimRadio> create(std::shared_ptr<dispatch::Scheduler> scheduler,
                                          bluetooth::CentralState power = bluetooth::CentralState::PoweredOn);
  ~SimRadio();

  const std::shared_ptr<SimTimeline>& timeline() const { return timeline_; }

  bluetooth::CentralMaker centralMaker();
  std::shared_ptr<bluetooth::Central> makeCentral(std::weak_ptr<bluetooth::CentralDelegate> delegate,
                                                  std::shared_ptr<dispatch::Queue> queue,
                                                  bluetooth::CentralOptions options = {});

  // Takes effect at once (centrals hear of it on their queues).
  void setPowerState(bluetooth::CentralState state);
  bluetooth::CentralState powerState() const;

  // Plays the trace's events at their times from now on.
  void play(const SimTrace& trace);
  void addAdvertiser(SimAdvertiser advertiser);
  void removeAdvertiser(const Uuid& identifier);
  // The peripheral is gone for good (a beacon that drove away): its advertiser stops, the air
  // forgets it (name, connect script, GATT server), and each central lets go of its
  // peripheral object unless it is connected or connecting, or held outside the central.
  void forgetPeripheral(const Uuid& identifier);
  // One advertisement now.
  void advertise(const Uuid& peripheral, bluetooth::AdvertisementData advertisement, int rssi);

  // The peripheral drops every link it has: each central hears of the disconnect with the
  // error (or with none, as a link that just ends).
  void dropConnections(const Uuid& peripheral, std::optional<Error> error);

  void setDefaultConnectScript(SimConnectScript script);
  void setConnectScript(const Uuid& peripheral, SimConnectScript script);

  // The GATT server a connection to the peripheral talks to; nullptr removes it. The
  // peripheral becomes known to the centrals (retrievePeripherals finds it).
  void setGattServer(const Uuid& peripheral, std::shared_ptr<SimGattServer> server);
  std::shared_ptr<SimGattServer> gattServerFor(const Uuid& peripheral) const;

  void setShowsIBeaconFramesToScans(bool show);
  static bool isIBeaconFrame(const bluetooth::AdvertisementData& advertisement);

  // Observers of every advertisement in the air, called on the radio's queue.
  using AirObserver = std::function<void(const Uuid& peripheral, const bluetooth::AdvertisementData&, int rssi)>;
  std::uint64_t addAirObserver(AirObserver observer);
  void removeAirObserver(std::uint64_t id);

  // Advertisements sent into the air so far.
  std::uint64_t advertisementCount() const { return sent_.load(); }

  // Used by the centrals.
  bool knows(const Uuid& peripheral) const;
  std::optional<std::string> nameOf(const Uuid& peripheral) const;
  SimConnectScript connectScriptFor(const Uuid& peripheral) const;

 private:
  explicit SimRadio(std::shared_ptr<dispatch::Scheduler> scheduler, bluetooth::CentralState power);
  struct Advertiser {
    SimAdvertiser spec;
    std::int64_t addedAt = 0;
    std::int64_t intervalMicros = 0;
  };
  void transmit(const Uuid& peripheral, const bluetooth::AdvertisementData& advertisement, int rssi);
  void scheduleAdvertiser(std::shared_ptr<const Advertiser> advertiser, std::int64_t at);

  const std::shared_ptr<dispatch::Scheduler> scheduler_;
  const std::shared_ptr<SimTimeline> timeline_;
  mutable std::mutex mutex_;
  bluetooth::CentralState power_;
  std::vector<std::weak_ptr<SimCentral>> centrals_;
  std::map<Uuid, std::shared_ptr<const Advertiser>> advertisers_;
  std::map<Uuid, std::optional<std::string>> known_;  // heard or added, with the latest name
  std::map<Uuid, SimConnectScript> connectScripts_;
  SimConnectScript defaultConnect_;
  std::map<Uuid, std::shared_ptr<SimGattServer>> gattServers_;
  std::map<std::uint64_t, std::shared_ptr<AirObserver>> observers_;
  std::uint64_t nextId_ = 1;
  bool showIBeacons_ = false;
  std::atomic<std::uint64_t> sent_{0};
};

}  // namespace velmora::platform::sim

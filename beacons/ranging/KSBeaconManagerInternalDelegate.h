#pragma once

#include <memory>
#include <vector>

#include "platform/core/Error.h"

namespace velmora::kestrine {

class KSBeacon;
class KSBeaconManagerInternal;
class KSMeasurement;

// What the hub tells its listeners. Every method is optional; each is delivered
// asynchronously on the hub's work queue, so a listener gets the messages of one sender in
// the order they were sent.
class KSBeaconManagerInternalDelegate {
 public:
  using Hub = std::shared_ptr<KSBeaconManagerInternal>;
  using Beacons = std::vector<std::shared_ptr<KSBeacon>>;

  virtual ~KSBeaconManagerInternalDelegate() = default;

  virtual void beaconManagerInternalWillStartDiscoveringBeacons(Hub) {}
  virtual void beaconManagerInternalDidStartDiscoveringBeacons(Hub) {}
  virtual void beaconManagerInternalDidStopDiscoveringBeacons(Hub) {}
  // Declared for listeners; the hub has no failure to report.
  virtual void beaconManagerInternalDiscoveringDidFailWithError(Hub, platform::Error) {}
  virtual void beaconManagerInternalDidUpdateBluetoothPoweredOn(Hub, bool /*poweredOn*/) {}
  virtual void beaconManagerInternalDidCacheBeacons(Hub, Beacons) {}
  virtual void beaconManagerInternalDidSyncBeacons(Hub, Beacons) {}
  virtual void beaconManagerInternalDidRemoveBeacons(Hub, Beacons) {}
  virtual void beaconManagerInternalDidFirstDiscoverBeacon(Hub, std::shared_ptr<KSBeacon>) {}
  // One ranging pass, in this order.
  virtual void beaconManagerInternalDidRangeKestrineBeacons(Hub, Beacons) {}
  virtual void beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(Hub, Beacons) {}
  virtual void beaconManagerInternalDidRangeNewbornBeacons(Hub, Beacons) {}
  virtual void beaconManagerInternalDidRangeIBeacons(Hub, Beacons) {}
  virtual void beaconManagerInternalDidRangeEddystoneBeacons(Hub, Beacons) {}
  virtual void beaconManagerInternalDidRangeBeacons(Hub, Beacons) {}
  // Declared for listeners; identifier beacons go out with didRangeBeacons.
  virtual void beaconManagerInternalDidRangeIdentifierBeacons(Hub, Beacons) {}
  virtual void beaconManagerInternalDidRangeMeasurementBeacons(Hub, Beacons) {}
  virtual void beaconManagerInternalDidDiscoverMeasurements(Hub, std::vector<std::shared_ptr<KSMeasurement>>,
                                                            std::shared_ptr<KSBeacon>) {}
};

}  // namespace velmora::kestrine

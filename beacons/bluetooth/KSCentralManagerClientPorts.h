#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/bluetooth/KSSchedulableBeaconOperation.h"
#include "platform/bluetooth/Central.h"
#include "platform/core/Error.h"
#include "platform/core/Uuid.h"
#include "platform/core/Value.h"

// What the central client and its scan duty cycle need from the layers above them, and the
// notification names they post or observe. The hub, the region manager, the operation
// manager and the session manager implement these; the client never includes them.
namespace velmora::kestrine {

class KSBeacon;
class KSCentralManagerClient;

// Posted by the client.
inline constexpr std::string_view KSCentralManagerClientDidStopScan = "KSCentralManagerClientDidStopScan";
inline constexpr std::string_view KSNotificationBluetoothStateDidChange = "KSNotificationBluetoothStateDidChange";

// Posted by the scan manager, object = the scan manager.
inline constexpr std::string_view KSScanManagerNotificationDidStartScan = "KSScanManagerNotificationDidStartScan";
inline constexpr std::string_view KSScanManagerNotificationDidStopScan = "KSScanManagerNotificationDidStopScan";
inline constexpr std::string_view KSScanManagerNotificationScanIDItem = "KSScanManagerNotificationScanIDItem";
inline constexpr std::string_view KSScanManagerNotificationOccurredAtItem = "KSScanManagerNotificationOccurredAtItem";

// Posted by the site manager and the session manager; observed by the scan manager.
inline constexpr std::string_view KSSiteManagerNotificationDidEnterSite = "KSSiteManagerNotificationDidEnterSite";
inline constexpr std::string_view KSSiteManagerNotificationDidExitSite = "KSSiteManagerNotificationDidExitSite";
inline constexpr std::string_view KSSiteManagerNotificationSiteIDItem = "KSSiteManagerNotificationSiteIDItem";
inline constexpr std::string_view KSSessionManagerNotificationDidBeginSession =
    "KSSessionManagerNotificationDidBeginSession";
inline constexpr std::string_view KSSessionManagerNotificationDidResumeSession =
    "KSSessionManagerNotificationDidResumeSession";
inline constexpr std::string_view KSSessionManagerNotificationDidEndSession = "KSSessionManagerNotificationDidEndSession";

// The hub: decides whether scans may run and receives every advertisement that passed.
class KSCentralManagerClientDelegate {
 public:
  virtual ~KSCentralManagerClientDelegate() = default;
  virtual bool centralManagerClientShouldScanForPeripherals(KSCentralManagerClient& client) = 0;
  virtual void centralManagerClientDidUpdateState(KSCentralManagerClient& client) = 0;
  // adData is the processed advertisement-data dictionary; rssi is exactly what the radio
  // reported (127 when it could not measure).
  virtual void centralManagerClientDidDiscoverPeripheral(KSCentralManagerClient& client,
                                                         const platform::Uuid& peripheral,
                                                         const platform::Value& adData, int rssi,
                                                         const std::string& scanID) = 0;
};

// The cached beacon regions, as far as discovery needs them. changeCount() moves whenever
// either list may have changed; the client re-reads the lists only then.
class KSBeaconRegionSource {
 public:
  virtual ~KSBeaconRegionSource() = default;
  virtual std::vector<std::string> cachedProximityUUIDStrings() = 0;
  // The non-empty namespace IDs of the cached Eddystone regions.
  virtual std::vector<std::string> cachedNamespaceIDs() = 0;
  virtual std::uint64_t changeCount() = 0;
};

// The one-at-a-time beacon-operation manager the client feeds. The default does nothing.
class KSBeaconOperationManaging {
 public:
  virtual ~KSBeaconOperationManaging() = default;
  virtual void scheduleBeaconOperation(const std::shared_ptr<KSSchedulableBeaconOperation>& /*operation*/) {}
  virtual void didUpdatePeripheralIdentifierForBeacon(const std::shared_ptr<KSBeacon>& /*beacon*/) {}
  virtual void centralManagerDidConnectPeripheral(const std::shared_ptr<platform::bluetooth::Peripheral>&) {}
  virtual void centralManagerDidFailToConnectPeripheral(const std::shared_ptr<platform::bluetooth::Peripheral>&,
                                                        const std::optional<platform::Error>&) {}
  virtual void centralManagerDidDisconnectPeripheral(const std::shared_ptr<platform::bluetooth::Peripheral>&,
                                                     const std::optional<platform::Error>&) {}
  // Told by the client made over this manager, once it has started.
  virtual void setCentralManagerClient(std::weak_ptr<KSCentralManagerClient> /*client*/) {}
};

// Whether an app session is running when the scan manager is made.
class KSSessionRunningSource {
 public:
  virtual ~KSSessionRunningSource() = default;
  virtual bool isSessionRunning() = 0;
};

// The root of every SDK plug-in. A plug-in implements one or more plug-in interfaces (each
// derives virtually from this one); the plug-in manager routes it by the ones it implements.
class KSSDKPlugin {
 public:
  virtual ~KSSDKPlugin() = default;
};

// An ad-data processor plug-in: sees the mutable dictionary; true ends the chain.
class KSPluginAdDataProcessable : public virtual KSSDKPlugin {
 public:
  virtual ~KSPluginAdDataProcessable() = default;
  virtual bool processAdData(platform::Value& adData) = 0;
};

}  // namespace velmora::kestrine

#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/bluetooth/KSAdData.h"
#include "beacons/bluetooth/KSCentralManagerClientPorts.h"
#include "beacons/foundation/KSPlatformBundle.h"
#include "platform/bluetooth/BluetoothUUID.h"
#include "platform/bluetooth/Central.h"
#include "platform/core/Date.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSInstanceProvider;
class KSScanManager;
class KSConfigurator;

inline constexpr std::string_view KSServiceUUIDStringKestrineShort = "FEC4";
inline constexpr std::string_view KSServiceUUIDStringKestrineLongReverse = "f41ef1ee-fde5-23be-5f4b-589c71babfdd";
inline constexpr std::string_view KSCentralManagerClientErrorDomain = "com.kestrine.KSCenteralManagerClient";

// The beacon layer's one Bluetooth central: starts and stops scans (only the maker's
// service in the background), turns advertisements into advertisement-data dictionaries,
// drops what must not go further, stamps per-peripheral discovery counts, runs the ad-data
// processors and hands the result to its delegate. It also opens and closes GATT
// connections for the beacon operations and routes their callbacks.
class KSCentralManagerClient : public platform::bluetooth::CentralDelegate,
                               public std::enable_shared_from_this<KSCentralManagerClient> {
 public:
  struct Ports {
    std::weak_ptr<KSCentralManagerClientDelegate> delegate;
    std::shared_ptr<KSBeaconRegionSource> regions;            // may be null: no cached regions
    std::shared_ptr<KSBeaconOperationManaging> operations;    // null: a manager that does nothing
    std::shared_ptr<KSSessionRunningSource> session;          // may be null: no session running
  };

  // Learnt proximity UUIDs kept at most, the oldest dropped first.
  static constexpr std::size_t kMaximumLearntProximityUUIDs = 256;
  // A peripheral unheard for this long loses its discovery metadata at the next scan start,
  // and during a long scan at a sighting at most kMetadataPruneIntervalInSeconds after the
  // last prune; beyond kMaximumPeripheralMetadata peripherals the longest unheard go first.
  static constexpr double kMetadataRetentionInSeconds = 3600;
  static constexpr double kMetadataPruneIntervalInSeconds = 60;
  static constexpr std::size_t kMaximumPeripheralMetadata = 8192;
  // Sizes of the client's tables, for tests and benchmarks of long runs.
  std::size_t peripheralMetadataCount() const;
  std::size_t learntProximityUUIDCount() const;
  // The region source is asked for changes at most this often.
  static constexpr double kRegionSourcePollIntervalInSeconds = 1.0;

  static std::shared_ptr<KSCentralManagerClient> initWithDelegate(std::shared_ptr<KSInstanceProvider> provider,
                                                                  Ports ports);
  ~KSCentralManagerClient() override;

  void scanForPeripherals();
  void stopScan();
  bool isScanningEnabled() const;
  bool isCentralManagerPoweredOn() const;
  bool shouldScanForPeripherals();

  std::shared_ptr<platform::bluetooth::Peripheral> retrievePeripheralWithIdentifier(const platform::Uuid& identifier);
  void connectPeripheral(const std::shared_ptr<platform::bluetooth::Peripheral>& peripheral);
  void cancelPeripheralConnection(const std::shared_ptr<platform::bluetooth::Peripheral>& peripheral);
  // Hands the operation to the operation manager, which runs it when its beacon's peripheral
  // is known; its blocks report the end. Any thread.
  void scheduleBeaconOperation(const std::shared_ptr<KSSchedulableBeaconOperation>& operation);
  void didUpdatePeripheralIdentifierForBeacon(const std::shared_ptr<KSBeacon>& beacon);
  void clearMetaDataForPeripheralUUID(const std::optional<platform::Uuid>& peripheral);

  void applicationDidEnterBackground();
  void applicationDidBecomeActive();

  static const platform::bluetooth::BluetoothUUID& kestrineServiceUUIDShort();
  static const platform::bluetooth::BluetoothUUID& kestrineServiceUUIDLong();
  static platform::Error errorWithDescription(std::string description);

  // True when the frame is an Eddystone UID whose namespace no cached region has.
  bool isInCachedBeaconRegionNameSpaces(const KSAdData& adData);

  // --- the processor chain
  void addAdDataProcessor(const std::shared_ptr<KSPluginAdDataProcessable>& processor);
  void removeAdDataProcessor(const std::shared_ptr<KSPluginAdDataProcessable>& processor);
  std::size_t countOfAdDataProcessor() const;
  platform::Value processAdDataWithAllAdDataProcessors(platform::Value adData) const;

  const std::shared_ptr<KSScanManager>& scanManager() const { return scanManager_; }
  std::shared_ptr<platform::bluetooth::Central> centralManager() const { return loadCentral(); }
  // The known proximity UUIDs offered to the parser, in their fixed order.
  std::vector<std::string> knownProximityUUIDStrings();

  // --- platform central delegate
  void centralDidUpdateState(platform::bluetooth::CentralState state) override;
  void centralDidDiscoverPeripheral(const std::shared_ptr<platform::bluetooth::Peripheral>& peripheral,
                                    const platform::bluetooth::AdvertisementData& advertisement, int rssi) override;
  void centralDidConnectPeripheral(const std::shared_ptr<platform::bluetooth::Peripheral>& peripheral) override;
  void centralDidFailToConnectPeripheral(const std::shared_ptr<platform::bluetooth::Peripheral>& peripheral,
                                         const std::optional<platform::Error>& error) override;
  void centralDidDisconnectPeripheral(const std::shared_ptr<platform::bluetooth::Peripheral>& peripheral,
                                      const std::optional<platform::Error>& error) override;

 private:
  struct Known {
    std::vector<std::string> proximityUUIDs;
    std::vector<std::string> namespaces;
  };
  struct Metadata {
    std::int64_t count = 0;
    platform::Date firstDiscoveredAt;
    platform::Date timestamp;
  };
  struct PeripheralMetadata {
    std::map<std::string, Metadata, std::less<>> byType;
    platform::Date lastHeard;
  };
  using Processors = std::vector<std::shared_ptr<KSPluginAdDataProcessable>>;

  KSCentralManagerClient(std::shared_ptr<KSInstanceProvider> provider, Ports ports);
  void start();
  platform::Date now() const;
  bool isAppInBackground() const;
  bool scanInBackground() const;
  std::shared_ptr<const Known> knownLocked(platform::Date now);  // under mutex_
  void rebuildKnownLocked();                                      // under mutex_
  static bool isDropped(const KSAdData& adData, const Known& known);
  void pruneMetadataLocked(platform::Date now);                   // under mutex_
  void pruneMetadataIfDueLocked(platform::Date now);              // under mutex_

  // The registry's platform, copied: holding the registry would keep its singletons, and
  // so this client, alive for good.
  const KSPlatformBundle platform_;
  const Ports ports_;
  std::shared_ptr<KSConfigurator> configurator_;
  // Published once made; its first state report may already be running on another thread.
  // A plain mutex rather than std::atomic<std::shared_ptr>: the standard library's atomic
  // load releases its internal lock with relaxed order, which leaves a reader's read and the
  // next store unordered.
  std::shared_ptr<platform::bluetooth::Central> loadCentral() const {
    std::lock_guard lock(centralMutex_);
    return central_;
  }
  mutable std::mutex centralMutex_;
  std::shared_ptr<platform::bluetooth::Central> central_;  // under centralMutex_
  std::shared_ptr<KSScanManager> scanManager_;
  std::shared_ptr<KSBeaconOperationManaging> operations_;
  bool scanningEnabled_ = false;  // under the scan manager's lock

  mutable std::mutex mutex_;  // guards everything below
  std::deque<std::string> learnt_;
  std::vector<std::string> regionUUIDs_;
  std::vector<std::string> regionNamespaces_;
  std::shared_ptr<const Known> known_;
  std::optional<std::uint64_t> regionChangeCount_;
  std::optional<platform::Date> regionsAskedAt_;
  std::map<std::string, PeripheralMetadata, std::less<>> metadata_;
  std::optional<platform::Date> metadataPrunedAt_;

  mutable std::mutex processorsMutex_;
  std::shared_ptr<const Processors> processors_ = std::make_shared<const Processors>();
};

}  // namespace velmora::kestrine

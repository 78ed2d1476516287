#include "beacons/bluetooth/KSCentralManagerClient.h"

#include <algorithm>

#include "beacons/bluetooth/AdData.h"
#include "beacons/bluetooth/KSEddystoneDefinitions.h"
#include "beacons/bluetooth/KSScanManager.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSDefinitionsInternal.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSBeaconUtilities.h"
#include "platform/core/Clock.h"
#include "platform/core/AsciiText.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::kestrine {

namespace bt = platform::bluetooth;

namespace {

bool containsIgnoringCase(const std::vector<std::string>& list, std::string_view text) {
  return std::any_of(list.begin(), list.end(),
                     [&](const std::string& s) { return platform::equalsIgnoringAsciiCase(s, text); });
}

}  // namespace

std::shared_ptr<KSCentralManagerClient> KSCentralManagerClient::initWithDelegate(
    std::shared_ptr<KSInstanceProvider> provider, Ports ports) {
  std::shared_ptr<KSCentralManagerClient> client(new KSCentralManagerClient(std::move(provider), std::move(ports)));
  client->start();
  return client;
}

KSCentralManagerClient::KSCentralManagerClient(std::shared_ptr<KSInstanceProvider> provider, Ports ports)
    : platform_(provider->platform()), ports_(std::move(ports)) {
  configurator_ = KSConfigurator::sharedConfigurator(*provider);
  operations_ = ports_.operations ? ports_.operations : std::make_shared<KSBeaconOperationManaging>();
}

void KSCentralManagerClient::start() {
  const auto& platform = platform_;
  auto scheduler = platform.scheduler ? platform.scheduler : platform::dispatch::Scheduler::shared();
  scanManager_ = KSScanManager::initWithCentralManagerClient(
      weak_from_this(), {scheduler, platform.notificationCenter, platform.app, configurator_, ports_.session});
  bt::CentralMaker maker = platform.centralMaker && *platform.centralMaker ? *platform.centralMaker
                                                                           : bt::unsupportedCentralMaker();
  bt::CentralOptions options;
  options.showPowerAlert = configurator_ && configurator_->showBluetoothPowerWarningMessage();
  std::shared_ptr<bt::CentralDelegate> self = shared_from_this();
  auto made = maker(self, scheduler->globalQueue(), options);
  {
    std::lock_guard lock(centralMutex_);
    central_ = std::move(made);
  }
  operations_->setCentralManagerClient(weak_from_this());
}

KSCentralManagerClient::~KSCentralManagerClient() {
  auto central = loadCentral();
  if (central && central->state() == bt::CentralState::PoweredOn) central->stopScan();
}

platform::Date KSCentralManagerClient::now() const {
  const auto& scheduler = platform_.scheduler;
  return (scheduler ? scheduler : platform::dispatch::Scheduler::shared())->clock()->now();
}

bool KSCentralManagerClient::isAppInBackground() const {
  return KSDefinitionsInternal::isAppInBackground(platform_.app.get());
}

bool KSCentralManagerClient::scanInBackground() const {
  return configurator_ ? configurator_->scanInBackground() : true;
}

const bt::BluetoothUUID& KSCentralManagerClient::kestrineServiceUUIDShort() {
  static const bt::BluetoothUUID& uuid =
      *new bt::BluetoothUUID(*bt::BluetoothUUID::parse(KSServiceUUIDStringKestrineShort));
  return uuid;
}

const bt::BluetoothUUID& KSCentralManagerClient::kestrineServiceUUIDLong() {
  static const bt::BluetoothUUID& uuid =
      *new bt::BluetoothUUID(*bt::BluetoothUUID::parse(KSServiceUUIDStringKestrineLongReverse));
  return uuid;
}

platform::Error KSCentralManagerClient::errorWithDescription(std::string description) {
  platform::Error error;
  error.domain = std::string(KSCentralManagerClientErrorDomain);
  error.code = -1;
  error.localizedDescription = std::move(description);
  return error;
}

// --- scanning

bool KSCentralManagerClient::isCentralManagerPoweredOn() const {
  auto central = loadCentral();
  return central && central->state() == bt::CentralState::PoweredOn;
}

bool KSCentralManagerClient::isScanningEnabled() const {
  std::lock_guard guard(scanManager_->lock());
  return scanningEnabled_;
}

bool KSCentralManagerClient::shouldScanForPeripherals() {
  auto delegate = ports_.delegate.lock();
  return delegate && delegate->centralManagerClientShouldScanForPeripherals(*this);
}

void KSCentralManagerClient::scanForPeripherals() {
  std::lock_guard guard(scanManager_->lock());
  if (!isCentralManagerPoweredOn() || scanningEnabled_) return;
  const bool background = isAppInBackground();
  // The option is read live: once the host turns background scanning off, none starts.
  if (background && !scanInBackground()) return;
  {
    std::lock_guard lock(mutex_);
    pruneMetadataLocked(now());
  }
  std::vector<bt::BluetoothUUID> filter;
  if (background) filter.push_back(kestrineServiceUUIDShort());
  bt::ScanOptions options;
  options.allowDuplicates = true;
  loadCentral()->scanForPeripherals(std::move(filter), options);
  scanningEnabled_ = true;
  scanManager_->startedScanForPeripherals();
}

void KSCentralManagerClient::stopScan() {
  bool wasScanning = false;
  {
    std::lock_guard guard(scanManager_->lock());
    wasScanning = scanningEnabled_;
    if (isCentralManagerPoweredOn()) loadCentral()->stopScan();
    scanningEnabled_ = false;
    scanManager_->stoppedScan();
  }
  if (wasScanning) {
    if (const auto& center = platform_.notificationCenter) {
      center->post(std::string(KSCentralManagerClientDidStopScan), shared_from_this());
    }
  }
}

void KSCentralManagerClient::applicationDidEnterBackground() { scanManager_->applicationDidEnterBackground(); }
void KSCentralManagerClient::applicationDidBecomeActive() { scanManager_->applicationDidBecomeActive(); }

// --- connections

std::shared_ptr<bt::Peripheral> KSCentralManagerClient::retrievePeripheralWithIdentifier(const platform::Uuid& id) {
  auto central = loadCentral();
  if (!central) return nullptr;
  auto found = central->retrievePeripherals({id});
  return found.empty() ? nullptr : found.front();
}

void KSCentralManagerClient::connectPeripheral(const std::shared_ptr<bt::Peripheral>& peripheral) {
  if (!peripheral) return;
  scanManager_->connectingToPeripheral(peripheral->identifier().string());
  loadCentral()->connect(peripheral);
}

void KSCentralManagerClient::cancelPeripheralConnection(const std::shared_ptr<bt::Peripheral>& peripheral) {
  if (!peripheral) return;
  loadCentral()->cancelPeripheralConnection(peripheral);
  scanManager_->disconnectedFromPeripheral(peripheral->identifier().string());
}

void KSCentralManagerClient::scheduleBeaconOperation(const std::shared_ptr<KSSchedulableBeaconOperation>& operation) {
  operations_->scheduleBeaconOperation(operation);
}

void KSCentralManagerClient::didUpdatePeripheralIdentifierForBeacon(const std::shared_ptr<KSBeacon>& beacon) {
  operations_->didUpdatePeripheralIdentifierForBeacon(beacon);
}

void KSCentralManagerClient::centralDidConnectPeripheral(const std::shared_ptr<bt::Peripheral>& peripheral) {
  operations_->centralManagerDidConnectPeripheral(peripheral);
}

void KSCentralManagerClient::centralDidFailToConnectPeripheral(const std::shared_ptr<bt::Peripheral>& peripheral,
                                                               const std::optional<platform::Error>& error) {
  if (peripheral) scanManager_->disconnectedFromPeripheral(peripheral->identifier().string());
  operations_->centralManagerDidFailToConnectPeripheral(peripheral, error);
}

void KSCentralManagerClient::centralDidDisconnectPeripheral(const std::shared_ptr<bt::Peripheral>& peripheral,
                                                            const std::optional<platform::Error>& error) {
  if (peripheral) scanManager_->disconnectedFromPeripheral(peripheral->identifier().string());
  operations_->centralManagerDidDisconnectPeripheral(peripheral, error);
}

void KSCentralManagerClient::centralDidUpdateState(bt::CentralState state) {
  scanManager_->centralManagerUpdatedState(state);
  if (auto delegate = ports_.delegate.lock()) delegate->centralManagerClientDidUpdateState(*this);
  if (const auto& center = platform_.notificationCenter) {
    center->post(std::string(KSNotificationBluetoothStateDidChange));
  }
}

// --- discovery

void KSCentralManagerClient::rebuildKnownLocked() {
  auto known = std::make_shared<Known>();
  auto add = [&](const std::string& uuid) {
    if (!uuid.empty() && !containsIgnoringCase(known->proximityUUIDs, uuid)) known->proximityUUIDs.push_back(uuid);
  };
  for (const auto& uuid : regionUUIDs_) add(uuid);
  add(std::string(KSProximityUUIDString));
  for (const auto& uuid : learnt_) add(uuid);
  for (const auto& ns : regionNamespaces_) {
    if (!ns.empty()) known->namespaces.push_back(ns);
  }
  known_ = std::move(known);
}

std::shared_ptr<const KSCentralManagerClient::Known> KSCentralManagerClient::knownLocked(platform::Date at) {
  const bool due = !regionsAskedAt_ || std::abs(at.timeIntervalSince(*regionsAskedAt_)) >= kRegionSourcePollIntervalInSeconds;
  if (due || !known_) {
    regionsAskedAt_ = at;
    const std::uint64_t count = ports_.regions ? ports_.regions->changeCount() : 0;
    if (!known_ || regionChangeCount_ != count) {
      regionChangeCount_ = count;
      if (ports_.regions) {
        regionUUIDs_ = ports_.regions->cachedProximityUUIDStrings();
        regionNamespaces_ = ports_.regions->cachedNamespaceIDs();
      }
      rebuildKnownLocked();
    }
  }
  return known_;
}

std::vector<std::string> KSCentralManagerClient::knownProximityUUIDStrings() {
  std::lock_guard lock(mutex_);
  return knownLocked(now())->proximityUUIDs;
}

bool KSCentralManagerClient::isDropped(const KSAdData& adData, const Known& known) {
  if (!eddyStoneAdData::isEddyStoneUIDAdData(adData)) return false;
  return !eddyStoneAdData::isInCachedBeaconRegionNameSpaceArray(adData, known.namespaces);
}

bool KSCentralManagerClient::isInCachedBeaconRegionNameSpaces(const KSAdData& adData) {
  std::shared_ptr<const Known> known;
  {
    std::lock_guard lock(mutex_);
    known = knownLocked(now());
  }
  return isDropped(adData, *known);
}

void KSCentralManagerClient::pruneMetadataLocked(platform::Date at) {
  metadataPrunedAt_ = at;
  std::erase_if(metadata_, [&](const auto& entry) {
    return at.timeIntervalSince(entry.second.lastHeard) >= kMetadataRetentionInSeconds;
  });
  if (metadata_.size() <= kMaximumPeripheralMetadata) return;
  std::vector<std::pair<platform::Date, std::string>> byAge;
  byAge.reserve(metadata_.size());
  for (const auto& [key, record] : metadata_) byAge.emplace_back(record.lastHeard, key);
  const std::size_t excess = metadata_.size() - kMaximumPeripheralMetadata;
  std::nth_element(byAge.begin(), byAge.begin() + static_cast<std::ptrdiff_t>(excess - 1), byAge.end());
  for (std::size_t i = 0; i < excess; ++i) metadata_.erase(byAge[i].second);
}

void KSCentralManagerClient::pruneMetadataIfDueLocked(platform::Date at) {
  const bool due = !metadataPrunedAt_ || at.timeIntervalSince(*metadataPrunedAt_) >= kMetadataPruneIntervalInSeconds;
  if (due || metadata_.size() > kMaximumPeripheralMetadata + kMaximumPeripheralMetadata / 8) pruneMetadataLocked(at);
}

std::size_t KSCentralManagerClient::peripheralMetadataCount() const {
  std::lock_guard lock(mutex_);
  return metadata_.size();
}

std::size_t KSCentralManagerClient::learntProximityUUIDCount() const {
  std::lock_guard lock(mutex_);
  return learnt_.size();
}

void KSCentralManagerClient::clearMetaDataForPeripheralUUID(const std::optional<platform::Uuid>& peripheral) {
  if (!peripheral) return;
  std::lock_guard lock(mutex_);
  auto it = metadata_.find(peripheral->string());
  if (it != metadata_.end()) metadata_.erase(it);
}

void KSCentralManagerClient::centralDidDiscoverPeripheral(const std::shared_ptr<bt::Peripheral>& peripheral,
                                                          const bt::AdvertisementData& advertisement, int rssi) {
  if (!peripheral) return;
  const platform::Date at = now();
  std::shared_ptr<const Known> known;
  {
    std::lock_guard lock(mutex_);
    known = knownLocked(at);
    pruneMetadataIfDueLocked(at);
  }

  // The parser reads service data by UUID text.
  std::vector<std::string> serviceUUIDTexts;
  std::vector<KSServiceDataEntry> serviceData;
  serviceUUIDTexts.reserve(advertisement.serviceData.size());
  serviceData.reserve(advertisement.serviceData.size());
  for (const auto& [uuid, bytes] : advertisement.serviceData) serviceUUIDTexts.push_back(uuid.string());
  for (std::size_t i = 0; i < advertisement.serviceData.size(); ++i) {
    const auto& bytes = advertisement.serviceData[i].second;
    serviceData.push_back({serviceUUIDTexts[i], std::span<const std::uint8_t>(bytes.data(), bytes.size())});
  }
  KSAdvertisement input;
  if (advertisement.manufacturerData) {
    input.manufacturerData =
        std::span<const std::uint8_t>(advertisement.manufacturerData->data(), advertisement.manufacturerData->size());
  }
  input.serviceData = serviceData;

  std::optional<KSAdData> adData = adData::mutableAdDataWithProximityUUIDStrings(input, known->proximityUUIDs);
  if (!adData) return;
  if (isDropped(*adData, *known)) return;

  const std::string peripheralKey = peripheral->identifier().string();
  {
    std::lock_guard lock(mutex_);
    if (auto uuid = adData->text(KSAdDataField::ProximityUUIDString); uuid && !uuid->empty()) {
      // Learnt even while a cached region also has it: the region may go, the UUID stays.
      const bool learnt = std::any_of(learnt_.begin(), learnt_.end(),
                                      [&](const std::string& s) { return platform::equalsIgnoringAsciiCase(s, *uuid); });
      if (!learnt) {
        learnt_.emplace_back(*uuid);
        // A flood of random UUIDs must not grow memory nor every tail match.
        while (learnt_.size() > kMaximumLearntProximityUUIDs) learnt_.pop_front();
        rebuildKnownLocked();
      }
    }
    auto& record = metadata_[peripheralKey];
    record.lastHeard = at;
    auto found = record.byType.find(adData->typeKey());
    if (found == record.byType.end()) {
      found = record.byType.emplace(std::string(adData->typeKey()), Metadata{0, at, at}).first;
    }
    found->second.count += 1;
    found->second.timestamp = at;
    adData->setInteger(KSAdDataField::DiscoveredCount, found->second.count);
    adData->setDate(KSAdDataField::FirstDiscoveredAt, found->second.firstDiscoveredAt);
    adData->setDate(KSAdDataField::Timestamp, found->second.timestamp);
  }
  if (auto name = peripheral->name(); name && !name->empty()) adData->setText(KSAdDataField::LocalName, *name);

  platform::Value processed = processAdDataWithAllAdDataProcessors(adData->toDictionary());
  auto delegate = ports_.delegate.lock();
  if (!delegate) return;
  delegate->centralManagerClientDidDiscoverPeripheral(*this, peripheral->identifier(), processed, rssi,
                                                      scanManager_->scanID());
}

// --- processors

void KSCentralManagerClient::addAdDataProcessor(const std::shared_ptr<KSPluginAdDataProcessable>& processor) {
  if (!processor) return;
  std::lock_guard lock(processorsMutex_);
  auto next = std::make_shared<Processors>(*processors_);
  next->push_back(processor);
  processors_ = std::move(next);
}

void KSCentralManagerClient::removeAdDataProcessor(const std::shared_ptr<KSPluginAdDataProcessable>& processor) {
  if (!processor) return;
  std::lock_guard lock(processorsMutex_);
  auto next = std::make_shared<Processors>(*processors_);
  std::erase(*next, processor);
  processors_ = std::move(next);
}

std::size_t KSCentralManagerClient::countOfAdDataProcessor() const {
  std::lock_guard lock(processorsMutex_);
  return processors_->size();
}

platform::Value KSCentralManagerClient::processAdDataWithAllAdDataProcessors(platform::Value adData) const {
  std::shared_ptr<const Processors> chain;
  {
    std::lock_guard lock(processorsMutex_);
    chain = processors_;
  }
  // The input is already this call's own copy; with no processor nothing is copied.
  for (const auto& processor : *chain) {
    if (processor->processAdData(adData)) break;
  }
  return adData;
}

}  // namespace velmora::kestrine

#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "beacons/ranging/KSRangingServicePorts.h"

namespace velmora::kestrine::testsupport {

// An API operation manager that only records what it is asked for ("app", "site S",
// "regions T", "nearby address A", "nearby key K", "nearby uid U", "sites nearby"), so that
// a test of ranging sends nothing to a server. A region sync counts as queued. Thread-safe.
class FakeApiOperationManager : public KSApiOperationManaging {
 public:
  void syncAllBeaconsForAppModifiedAfter(std::optional<platform::Date>) override { record("app"); }
  void syncBeaconsInSiteWithSiteID(const std::string& siteID, std::optional<platform::Date>) override {
    record("site " + siteID);
  }
  void syncBeaconsNearbyBeaconWithBluetoothAddress(const std::string& address) override {
    record("nearby address " + address);
  }
  void syncBeaconsNearbyBeaconWithIBeaconKey(const std::string& key) override { record("nearby key " + key); }
  void syncBeaconsNearbyBeaconWithEddystoneUIDString(const std::string& uid) override { record("nearby uid " + uid); }
  bool syncBeaconRegionsWithAppToken(const std::string& token) override {
    record("regions " + token);
    return true;
  }
  void syncSitesNearbyLocation(const std::optional<platform::location::Location>&) override { record("sites nearby"); }

  std::vector<std::string> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 protected:
  void record(std::string request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
};

// A region store that keeps nothing.
class NullRegionStore : public KSBeaconRegionStoring {
 public:
  void storeBeaconRegion(const std::shared_ptr<KSBeaconRegion>&) override {}
};

}  // namespace velmora::kestrine::testsupport

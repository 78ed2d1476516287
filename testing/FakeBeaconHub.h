#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSBeaconSyncResult.h"

namespace velmora::kestrine::testing {

// The ranging hub as the records see it. Its beacon cache is what it was handed: every
// sync result's beacons are appended (and the result kept); the cache-refresh answers are
// plain fields the test sets. Bluetooth requests are recorded by name and never answered;
// a test that needs answers overrides them.
class FakeBeaconHub : public KSBeaconHubPort {
 public:
  void sendDataRequest(const platform::Bytes&, const std::shared_ptr<KSBeacon>&, std::uint64_t, Success, Status,
                       Failure) override {
    requests.push_back("sendDataRequest");
  }
  void sendDataRequests(const std::vector<platform::Bytes>&, const std::shared_ptr<KSBeacon>&, std::uint64_t, Success,
                        Status, Failure) override {
    requests.push_back("sendDataRequests");
  }
  void transportDataRequest(const platform::Bytes&, const std::shared_ptr<KSBeacon>&, std::uint64_t, Success, Status,
                            Failure) override {
    requests.push_back("transportDataRequest");
  }
  void updateSettingsInBeacon(const std::shared_ptr<KSBeacon>&, const platform::Dict&, Success, Status,
                              Failure) override {
    requests.push_back("updateSettingsInBeacon");
  }
  void sendOpcode(std::int32_t, const std::optional<platform::Bytes>&, const std::shared_ptr<KSBeacon>&, Success,
                  Failure) override {
    requests.push_back("sendOpcode");
  }

  std::vector<std::shared_ptr<KSBeacon>> cachedBeaconsForRangingWithPredicate(const KSBeaconPredicate& predicate) override {
    std::vector<std::shared_ptr<KSBeacon>> out;
    for (const auto& beacon : cached) {
      if (beacon && (!predicate || predicate(*beacon))) out.push_back(beacon);
    }
    return out;
  }
  bool canCacheRefreshForSiteID(const std::string& siteID) override {
    askedSiteIDs.push_back(siteID);
    return canRefresh;
  }
  bool shouldCacheRefreshForSiteID(const std::string& siteID) override {
    askedSiteIDs.push_back(siteID);
    return shouldRefresh;
  }
  void cacheBeaconsFromSyncResult(const KSBeaconSyncResult& result) override {
    syncResults.push_back(result);
    cached.insert(cached.end(), result.beacons.begin(), result.beacons.end());
  }
  std::optional<platform::Date> lastCacheRefreshForApp() override { return lastAppRefresh; }
  bool shouldCacheFullSyncForApp() override { return shouldFullSync; }

  std::vector<std::shared_ptr<KSBeacon>> cached;
  std::vector<KSBeaconSyncResult> syncResults;
  bool canRefresh = true;
  bool shouldRefresh = true;
  std::vector<std::string> askedSiteIDs;
  std::optional<platform::Date> lastAppRefresh;
  bool shouldFullSync = true;
  std::vector<std::string> requests;
};

}  // namespace velmora::kestrine::testing

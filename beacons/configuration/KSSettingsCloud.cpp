#include "beacons/configuration/KSSettingsCloud.h"

#include <mutex>

#include "beacons/api/KSApiClient.h"
#include "beacons/api/KSApiPath.h"
#include "beacons/api/KSRecordApi.h"
#include "beacons/configuration/KSBeaconConfigurationCloud.h"
#include "beacons/configuration/KSEncryptedSettingsBlob.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSModelServices.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/ranging/KSApiServiceAdapters.h"
#include "beacons/ranging/KSBeaconRegionManager.h"

namespace velmora::kestrine {

KSSettingsCloud::KSSettingsCloud(std::shared_ptr<KSApiClient> client, KSApiOperationManagerPorts ports,
                                 std::function<void()> regionSync)
    : client_(client),
      records_(std::make_shared<KSRecordApi>(client, ports)),
      login_(std::make_shared<KSBeaconConfigurationCloud>(client, ports)),
      regionSync_(std::move(regionSync)) {}

std::shared_ptr<KSSettingsCloud> KSSettingsCloud::shared() {
  static std::mutex mutex;
  static std::shared_ptr<KSSettingsCloud>& cloud = *new std::shared_ptr<KSSettingsCloud>();
  auto client = KSApiClient::sharedApiClient();
  std::lock_guard lock(mutex);
  // The record calls reach the registry's hub, so a refreshed beacon lands in its cache.
  if (!cloud || cloud->client() != client) {
    cloud = std::make_shared<KSSettingsCloud>(client, KSApiOperationManagerPortsForRegistry(KSInstanceProvider::sharedProvider()));
  }
  return cloud;
}

std::string KSSettingsCloud::latestSettingsPath(const std::string& beaconID, const platform::Bytes& status) {
  return KSApiPath("beacons/%@/versions/latest/settings", {beaconID}) + "?status=" +
         settings_blob::escapedStatusText(status);
}

bool KSSettingsCloud::failWithoutID(const std::shared_ptr<KSBeacon>& beacon, const Failure& failure) {
  if (!client_) {
    model_services::failForMissingApiClient(failure);
    return true;
  }
  const auto id = beacon ? beacon->beaconID() : std::nullopt;
  if (id && !id->empty()) return false;
  client_->completionQueue()->async([failure] {
    if (failure) failure(beacon_api::errorWithDescription("The beacon has no identifier"));
  });
  return true;
}

void KSSettingsCloud::getLatestSettings(const std::shared_ptr<KSBeacon>& beacon, const platform::Bytes& status,
                                        std::function<void(const platform::Value&)> success, Failure failure) {
  if (failWithoutID(beacon, failure)) return;
  client_->GET(
      latestSettingsPath(*beacon->beaconID(), status), platform::Value(),
      [success](const KSApiClient::Task&, const platform::Value& reply) { success(reply); },
      [failure](const KSApiClient::Task&, const platform::Error& error) { failure(error); });
}

void KSSettingsCloud::confirmSettings(const std::shared_ptr<KSBeacon>& beacon, const platform::Bytes& result,
                                      std::function<void()> success, Failure failure) {
  if (failWithoutID(beacon, failure)) return;
  client_->PUT(
      KSBeaconConfigurationCloud::statusConfirmationPath(*beacon->beaconID(), result), platform::Value(platform::Dict{}),
      [success](const KSApiClient::Task&, const platform::Value&) { success(); },
      [failure](const KSApiClient::Task&, const platform::Error& error) { failure(error); });
}

void KSSettingsCloud::getLatestVersion(const std::shared_ptr<KSBeacon>& beacon,
                                       std::function<void(std::shared_ptr<KSBeaconVersion>)> success,
                                       Failure failure) {
  if (failWithoutID(beacon, failure)) return;
  records_->getLatestBeaconVersion(beacon, std::move(success), std::move(failure));
}

void KSSettingsCloud::confirmVersion(const std::shared_ptr<KSBeacon>& beacon, std::int64_t version,
                                     std::function<void()> success, Failure failure) {
  if (failWithoutID(beacon, failure)) return;
  records_->confirmBeaconVersion(
      beacon, version, [success](const auto&, const platform::Value&) { success(); },
      [failure](const auto&, const platform::Error& error) { failure(error); });
}

void KSSettingsCloud::refreshBeacon(const std::shared_ptr<KSBeacon>& beacon, std::function<void()> success,
                                    Failure failure) {
  records_->refreshBeacon(beacon, std::move(success), std::move(failure));
}

void KSSettingsCloud::forceSyncBeaconRegions() {
  if (regionSync_) return regionSync_();
  if (auto regions = KSBeaconRegionManager::sharedManager()) regions->forceSyncBeaconRegions();
}

}  // namespace velmora::kestrine

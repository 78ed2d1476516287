#include "beacons/configuration/KSBeaconConfigurationCloud.h"

#include <mutex>

#include "beacons/api/KSApiClient.h"
#include "beacons/api/KSApiPath.h"
#include "beacons/api/KSRecordApi.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/http/KSQueryStringPair.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSModelServices.h"
#include "beacons/ranging/KSApiServiceAdapters.h"
#include "platform/crypto/Base64.h"

namespace velmora::kestrine {

namespace {

const std::string* idOf(const std::optional<std::string>& id) { return id && !id->empty() ? &*id : nullptr; }

}  // namespace

KSBeaconConfigurationCloud::KSBeaconConfigurationCloud(std::shared_ptr<KSApiClient> client,
                                                       KSApiOperationManagerPorts ports)
    : client_(std::move(client)), records_(std::make_shared<KSRecordApi>(client_, std::move(ports))) {}

std::shared_ptr<KSBeaconConfigurationCloud> KSBeaconConfigurationCloud::shared() {
  static std::mutex mutex;
  static std::shared_ptr<KSBeaconConfigurationCloud>& cloud = *new std::shared_ptr<KSBeaconConfigurationCloud>();
  auto client = KSApiClient::sharedApiClient();
  std::lock_guard lock(mutex);
  // The registry may have been reset (a new SDK start): follow its client.
  // Its record calls reach the registry's hub (a status post refreshes the beacon there).
  if (!cloud || cloud->client() != client) {
    cloud = std::make_shared<KSBeaconConfigurationCloud>(
        client, KSApiOperationManagerPortsForRegistry(KSInstanceProvider::sharedProvider()));
  }
  return cloud;
}

std::string KSBeaconConfigurationCloud::statusConfirmationPath(const std::string& beaconID,
                                                               const platform::Bytes& status) {
  // The status goes in the query as the cloud decodes it: "+", "=" and the CR LF between
  // lines escaped, "/" kept.
  const std::string text = platform::crypto::base64Encode(status, platform::crypto::Base64Lines::Length64);
  return KSApiPath("beacons/%@/versions/confirm", {beaconID}) + "?status=" + KSPercentEscapedStringFromString(text);
}

void KSBeaconConfigurationCloud::getMilk(const KSBeacon& beacon, const platform::Bytes& water,
                                         const platform::Bytes& status, Success success, Failure failure) {
  if (!client_) return model_services::failForMissingApiClient(failure);
  const auto beaconID = beacon.beaconID();
  if (!idOf(beaconID)) {
    platform::Error error(std::string(KSBeaconApiErrorDomain), -1, "The beacon has no identifier to ask its milk for");
    client_->completionQueue()->async([failure, error] {
      if (failure) failure(error);
    });
    return;
  }
  const platform::Value parameters = platform::Value::makeDict(
      {{"water", platform::crypto::base64Encode(water)}, {"status", platform::crypto::base64Encode(status)}});
  client_->GET(
      KSApiPath("beacons/%@/milk", {*beaconID}), parameters,
      [success](const KSApiClient::Task&, const platform::Value& reply) {
        if (success) success(reply);
      },
      [failure](const KSApiClient::Task&, const platform::Error& error) {
        if (failure) failure(error);
      });
}

void KSBeaconConfigurationCloud::postStatus(const std::shared_ptr<KSBeacon>& beacon, const platform::Bytes& status) {
  if (!beacon || !client_) return;
  const auto beaconID = beacon->beaconID();
  if (!idOf(beaconID)) return;
  auto records = records_;
  client_->PUT(
      statusConfirmationPath(*beaconID, status), platform::Value(platform::Dict{}),
      [records, beacon](const KSApiClient::Task&, const platform::Value&) {
        records->refreshBeacon(beacon, [] {}, [](const platform::Error&) {});
      },
      [](const KSApiClient::Task&, const platform::Error&) {});
}

}  // namespace velmora::kestrine

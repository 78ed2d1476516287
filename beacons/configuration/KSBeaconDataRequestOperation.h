#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "beacons/configuration/KSBeaconOperation.h"
#include "beacons/configuration/KSRequestExchanges.h"

namespace velmora::kestrine {

inline constexpr std::string_view KSBeaconDataRequestRequestingStatus = "Requesting Data";
inline constexpr std::string_view KSBeaconDataRequestEmptyListMessage = "requestDataArray parameter is required.";

// Sends a list of short requests (1 to 250 bytes each) to the serial endpoint of the beacon's
// host board over one connection and gathers one reply per request, in order. Discovers the
// maker's service without logging in. A failed request fails the whole job: the requests
// after it are never written and no partial list is handed out.
class KSBeaconDataRequestOperation final : public KSBeaconOperation {
 public:
  static std::shared_ptr<KSBeaconDataRequestOperation> initWithBeacon(std::shared_ptr<KSBeacon> beacon,
                                                                      std::optional<platform::Uuid> peripheralIdentifier,
                                                                      std::vector<platform::Bytes> requestDataArray);

  std::string_view className() const override { return "KSBeaconDataRequestOperation"; }
  const std::vector<platform::Bytes>& requestDataArray() const { return requests_; }
  // Read once the operation has succeeded (or on the configuration queue).
  const std::vector<platform::Bytes>& responseDataArray() const { return responses_; }

  std::int64_t maxNumberOfRetries() const override { return 0; }
  bool shouldRetry() const override { return !didTimeoutWhenConnected() && KSBeaconOperation::shouldRetry(); }
  void prepareForConnection() override;
  void connected() override;
  void cancelAttempt() override;

 private:
  struct Token {};

 public:
  KSBeaconDataRequestOperation(Token, std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> identifier,
                               std::vector<platform::Bytes> requests)
      : KSBeaconOperation(std::move(beacon), std::move(identifier)), requests_(std::move(requests)) {}

 private:
  std::shared_ptr<KSBeaconOperation> makeDuplicate() const override;
  void startRequests();
  void received(const platform::Bytes& reply);
  void dropExchanges();

  const std::vector<platform::Bytes> requests_;
  std::vector<platform::Bytes> responses_;
  std::shared_ptr<KSRequestExchanges> exchanges_;
};

}  // namespace velmora::kestrine

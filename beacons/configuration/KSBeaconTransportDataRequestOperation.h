#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "beacons/configuration/KSBeaconOperation.h"
#include "beacons/configuration/KSRequestExchanges.h"
#include "beacons/configuration/KSTransportSession.h"

namespace velmora::kestrine {

// Sends a request of any length to the serial endpoint of the beacon's host board as transport
// packets, one request-data exchange each, then gathers the beacon's reply packets and joins
// their payloads (KSTransportSession has the protocol). Discovers the maker's service without
// logging in. Every state allows 60 s; a retry sends the whole request again.
class KSBeaconTransportDataRequestOperation final : public KSBeaconOperation {
 public:
  static constexpr double kTimeoutInSeconds = 60;

  static std::shared_ptr<KSBeaconTransportDataRequestOperation> initWithBeacon(
      std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier, platform::Bytes requestData);

  std::string_view className() const override { return "KSBeaconTransportDataRequestOperation"; }
  const platform::Bytes& requestData() const { return request_; }
  // Set on success.
  const platform::Bytes& responseData() const { return response_; }

  double timeoutInSecondsForOperationState(std::int32_t) const override { return kTimeoutInSeconds; }
  std::int64_t maxNumberOfRetries() const override { return 1; }
  bool shouldRetry() const override { return !didTimeoutWhenConnected() && KSBeaconOperation::shouldRetry(); }
  void connected() override;
  void cancelAttempt() override;

 private:
  struct Token {};

 public:
  KSBeaconTransportDataRequestOperation(Token, std::shared_ptr<KSBeacon> beacon,
                                        std::optional<platform::Uuid> identifier, platform::Bytes request)
      : KSBeaconOperation(std::move(beacon), std::move(identifier)), request_(std::move(request)) {}

 private:
  std::shared_ptr<KSBeaconOperation> makeDuplicate() const override;
  void startTransfer();
  void answered(const platform::Bytes& answer);
  void dropExchanges();

  const platform::Bytes request_;
  platform::Bytes response_;
  std::optional<KSTransportSession> session_;
  std::shared_ptr<KSRequestExchanges> exchanges_;
};

}  // namespace velmora::kestrine

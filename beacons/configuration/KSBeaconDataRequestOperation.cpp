#include "beacons/configuration/KSBeaconDataRequestOperation.h"

#include <fmt/format.h>

namespace velmora::kestrine {

std::shared_ptr<KSBeaconDataRequestOperation> KSBeaconDataRequestOperation::initWithBeacon(
    std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier,
    std::vector<platform::Bytes> requestDataArray) {
  return std::make_shared<KSBeaconDataRequestOperation>(Token{}, std::move(beacon), std::move(peripheralIdentifier),
                                                        std::move(requestDataArray));
}

std::shared_ptr<KSBeaconOperation> KSBeaconDataRequestOperation::makeDuplicate() const {
  return initWithBeacon(beacon(), std::nullopt, requests_);
}

void KSBeaconDataRequestOperation::prepareForConnection() {
  // With nothing to ask there is nothing to connect for: the job fails before any traffic.
  if (requests_.empty()) {
    setBeaconOperationState(KSBeaconOperationStatePreparing);
    return failedWithoutRetry(errorWithDescription(std::string(KSBeaconDataRequestEmptyListMessage)));
  }
  KSBeaconOperation::prepareForConnection();
}

void KSBeaconDataRequestOperation::connected() {
  KSBeaconOperation::connected();
  std::weak_ptr<KSOperation> weak = weak_from_this();
  discoverKestrineServiceWithSuccess([weak] {
    if (auto self = std::static_pointer_cast<KSBeaconDataRequestOperation>(weak.lock())) self->startRequests();
  });
}

void KSBeaconDataRequestOperation::startRequests() {
  if (isOperationTerminated()) return;
  reportStatus(std::string(KSBeaconDataRequestRequestingStatus));
  responses_.clear();
  responses_.reserve(requests_.size());
  std::weak_ptr<KSOperation> weak = weak_from_this();
  exchanges_ = KSRequestExchanges::create(
      peripheral(), queue(), currentService(),
      [weak](const platform::Bytes& reply) {
        if (auto self = std::static_pointer_cast<KSBeaconDataRequestOperation>(weak.lock())) self->received(reply);
      },
      [weak](const platform::Error& error) {
        auto self = std::static_pointer_cast<KSBeaconDataRequestOperation>(weak.lock());
        if (!self) return;
        self->dropExchanges();
        self->failedWithError(error);
      });
  for (const auto& request : requests_) exchanges_->add(request);
}

void KSBeaconDataRequestOperation::received(const platform::Bytes& reply) {
  if (isOperationTerminated()) return;
  responses_.push_back(reply);
  const auto count = responses_.size();
  const auto total = requests_.size();
  reportStatus(fmt::format("Received data from {} of {} requests.", count, total));
  reportProgress(static_cast<float>(count) / static_cast<float>(total));
  if (count == total) {
    dropExchanges();
    disconnect();
    succeeded();
  }
}

void KSBeaconDataRequestOperation::dropExchanges() {
  if (auto exchanges = std::move(exchanges_)) exchanges->cancel();
  exchanges_ = nullptr;
}

void KSBeaconDataRequestOperation::cancelAttempt() {
  // The exchanges live on the configuration queue; a cancel from another thread stops them there.
  post([](KSBeaconOperation& self) { static_cast<KSBeaconDataRequestOperation&>(self).dropExchanges(); });
  KSBeaconOperation::cancelAttempt();
}

}  // namespace velmora::kestrine

#include "beacons/configuration/KSBeaconTransportDataRequestOperation.h"

#include "platform/core/BytesDescription.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {

namespace {
constexpr std::string_view kLog = "transport";
}

std::shared_ptr<KSBeaconTransportDataRequestOperation> KSBeaconTransportDataRequestOperation::initWithBeacon(
    std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier, platform::Bytes requestData) {
  return std::make_shared<KSBeaconTransportDataRequestOperation>(Token{}, std::move(beacon),
                                                                 std::move(peripheralIdentifier), std::move(requestData));
}

std::shared_ptr<KSBeaconOperation> KSBeaconTransportDataRequestOperation::makeDuplicate() const {
  return initWithBeacon(beacon(), std::nullopt, request_);
}

void KSBeaconTransportDataRequestOperation::connected() {
  KSBeaconOperation::connected();
  std::weak_ptr<KSOperation> weak = weak_from_this();
  discoverKestrineServiceWithSuccess([weak] {
    if (auto self = std::static_pointer_cast<KSBeaconTransportDataRequestOperation>(weak.lock())) self->startTransfer();
  });
}

void KSBeaconTransportDataRequestOperation::startTransfer() {
  if (isOperationTerminated()) return;
  reportStatus(std::string(KSTransportRequestingDataStatus));
  session_.emplace(request_);
  std::weak_ptr<KSOperation> weak = weak_from_this();
  exchanges_ = KSRequestExchanges::create(
      peripheral(), queue(), currentService(),
      [weak](const platform::Bytes& answer) {
        if (auto self = std::static_pointer_cast<KSBeaconTransportDataRequestOperation>(weak.lock())) {
          self->answered(answer);
        }
      },
      [weak](const platform::Error& error) {
        auto self = std::static_pointer_cast<KSBeaconTransportDataRequestOperation>(weak.lock());
        if (!self) return;
        self->dropExchanges();
        self->failedWithError(error);
      });
  for (const auto& packet : session_->requestPackets()) {
    platform::Log::debug(kLog, "Transport Packet is {}", platform::describeBytes(packet));
    exchanges_->add(packet);
  }
}

void KSBeaconTransportDataRequestOperation::answered(const platform::Bytes& answer) {
  if (isOperationTerminated() || !session_) return;
  auto step = session_->receive(answer);
  if (step.status) reportStatus(*step.status);
  using Outcome = KSTransportSession::Step::Outcome;
  switch (step.outcome) {
    case Outcome::Continue:
      if (step.reply) {
        platform::Log::debug(kLog, "Sending back {}", platform::describeBytes(*step.reply));
        exchanges_->add(std::move(*step.reply));
      }
      break;
    case Outcome::Succeeded:
      response_ = session_->responseData();
      dropExchanges();
      disconnect();
      succeeded();
      break;
    case Outcome::Failed:
      dropExchanges();
      disconnect();
      failedWithErrorDescription(step.failure);
      break;
    case Outcome::Ignored:
      break;
  }
}

void KSBeaconTransportDataRequestOperation::dropExchanges() {
  if (auto exchanges = std::move(exchanges_)) exchanges->cancel();
  exchanges_ = nullptr;
}

void KSBeaconTransportDataRequestOperation::cancelAttempt() {
  post([](KSBeaconOperation& self) { static_cast<KSBeaconTransportDataRequestOperation&>(self).dropExchanges(); });
  KSBeaconOperation::cancelAttempt();
}

}  // namespace velmora::kestrine

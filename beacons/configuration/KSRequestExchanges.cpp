#include "beacons/configuration/KSRequestExchanges.h"

#include "beacons/configuration/KSGattIdentifiers.h"

namespace velmora::kestrine {

std::shared_ptr<KSRequestExchanges> KSRequestExchanges::create(
    std::shared_ptr<platform::bluetooth::Peripheral> peripheral, std::shared_ptr<platform::dispatch::Queue> queue,
    std::shared_ptr<platform::bluetooth::GattService> service, ReplyHandler onReply, FailureHandler onFailure) {
  return std::make_shared<KSRequestExchanges>(Token{}, std::move(peripheral), std::move(queue), std::move(service),
                                              std::move(onReply), std::move(onFailure));
}

void KSRequestExchanges::add(platform::Bytes request) {
  if (cancelled_) return;
  queued_.push_back(std::move(request));
  if (!current_) runNext();
}

void KSRequestExchanges::runNext() {
  if (cancelled_ || queued_.empty() || current_) return;
  current_ = KSRequestDataCommand::create(peripheral_, queue_, service_, gattUUID(KSCharacteristicUUIDStringControl),
                                          gattUUID(KSCharacteristicUUIDStringIndicator), queued_.front());
  std::weak_ptr<KSRequestExchanges> weak = weak_from_this();
  current_->setCompletionBlock([weak](const std::shared_ptr<KSPeripheralCommand>& command,
                                      const std::optional<platform::Error>& error) {
    auto self = weak.lock();
    if (!self || self->cancelled_ || command != self->current_) return;
    if (error) {
      auto onFailure = self->onFailure_;
      self->cancel();
      if (onFailure) onFailure(*error);
      return;
    }
    const platform::Bytes reply = std::static_pointer_cast<KSRequestDataCommand>(command)->responseData();
    // The answered exchange still counts while its reply is handled, so a handler that adds
    // the next request sees both. The handler is called from a copy: it may cancel.
    auto onReply = self->onReply_;
    if (onReply) onReply(reply);
    if (self->cancelled_) return;
    self->queued_.pop_front();
    self->current_ = nullptr;
    self->runNext();
  });
  current_->execute();
}

void KSRequestExchanges::cancel() {
  if (cancelled_) return;
  cancelled_ = true;
  queued_.clear();
  if (auto command = std::move(current_)) command->cancel();
  current_ = nullptr;
  onReply_ = nullptr;
  onFailure_ = nullptr;
}

}  // namespace velmora::kestrine

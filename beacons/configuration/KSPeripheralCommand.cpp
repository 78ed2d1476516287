#include "beacons/configuration/KSPeripheralCommand.h"

#include "platform/core/Log.h"

namespace velmora::kestrine {

using platform::Error;

KSPeripheralCommand::KSPeripheralCommand(std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                                         std::shared_ptr<platform::dispatch::Queue> queue)
    : peripheral_(std::move(peripheral)), queue_(std::move(queue)) {}

KSPeripheralCommand::~KSPeripheralCommand() {
  // While this object dies its weak references have expired: a delegate that no longer
  // resolves is this command (or another dead one), never a live successor.
  if (peripheral_ && !peripheral_->delegate()) peripheral_->setDelegate({});
}

void KSPeripheralCommand::setCompletionBlock(CompletionBlock block) {
  std::lock_guard lock(blocksMutex_);
  completion_ = std::move(block);
}

void KSPeripheralCommand::setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) {
  setCompletionBlock([success = std::move(success), failure = std::move(failure)](
                         const std::shared_ptr<KSPeripheralCommand>& command, const std::optional<Error>& error) {
    if (error) {
      if (failure) failure(command, *error);
    } else if (success) {
      success(command);
    }
  });
}

void KSPeripheralCommand::setProgressBlock(ProgressBlock block) {
  std::lock_guard lock(blocksMutex_);
  progress_ = std::move(block);
}

void KSPeripheralCommand::execute() {
  std::weak_ptr<KSPeripheralCommand> weak = weak_from_this();
  queue_->async([weak] {
    auto self = weak.lock();
    if (!self || self->started_) return;
    self->started_ = true;
    self->run();
  });
}

void KSPeripheralCommand::cancel() {
  {
    std::lock_guard lock(blocksMutex_);
    completion_ = nullptr;
    progress_ = nullptr;
  }
  std::weak_ptr<KSPeripheralCommand> weak = weak_from_this();
  queue_->async([weak] {
    auto self = weak.lock();
    if (!self) return;
    self->canceled_ = true;
    self->didCancel();
  });
}

void KSPeripheralCommand::finish() {
  if (state_ == kStateFinished) return;
  willFinish();
  state_ = kStateFinished;
  CompletionBlock block;
  {
    std::lock_guard lock(blocksMutex_);
    block = std::move(completion_);
    completion_ = nullptr;
  }
  if (block) block(shared_from_this(), error_);
}

void KSPeripheralCommand::finishWithError(Error error) {
  error_ = std::move(error);
  finish();
}

std::shared_ptr<platform::bluetooth::GattCharacteristic> KSPeripheralCommand::retrieveCharacteristic(
    const platform::bluetooth::BluetoothUUID& uuid, const std::shared_ptr<platform::bluetooth::GattService>& service) {
  if (!service) return nullptr;
  const auto list = service->characteristics();
  if (!list) return nullptr;
  for (const auto& c : *list) {
    if (c && c->uuid() == uuid) return c;
  }
  return nullptr;
}

void KSPeripheralCommand::becomeDelegate() {
  if (peripheral_) peripheral_->setDelegate(weak_from_this());
}

bool KSPeripheralCommand::checkPreconditions(bool hasService) {
  const char* missing = !peripheral_ ? "Peripheral missing." : !hasService ? "Service missing." : nullptr;
  if (!missing) return true;
  platform::reportProgrammingError(missing);
  beginExecuting();
  finishWithError(errorWithDescription(missing));
  return false;
}

Error KSPeripheralCommand::errorWithDescription(std::string description) const {
  return Error(std::string(errorDomain()), -1, std::move(description));
}

void KSPeripheralCommand::reportProgress(float progress) {
  ProgressBlock block;
  {
    std::lock_guard lock(blocksMutex_);
    block = progress_;
  }
  if (block) block(shared_from_this(), progress);
}

template <class Handler>
void KSPeripheralCommand::hop(Handler handler) {
  std::weak_ptr<KSPeripheralCommand> weak = weak_from_this();
  queue_->async([weak, handler = std::move(handler)] {
    if (auto self = weak.lock()) handler(*self);
  });
}

void KSPeripheralCommand::peripheralDidDiscoverServices(const std::shared_ptr<platform::bluetooth::Peripheral>&,
                                                        const std::optional<Error>& error) {
  hop([error](KSPeripheralCommand& self) { self.onDiscoverServices(error); });
}

void KSPeripheralCommand::peripheralDidDiscoverCharacteristics(const std::shared_ptr<platform::bluetooth::Peripheral>&,
                                                               const Service& service, const std::optional<Error>& error) {
  hop([service, error](KSPeripheralCommand& self) { self.onDiscoverCharacteristics(service, error); });
}

void KSPeripheralCommand::peripheralDidUpdateValue(const std::shared_ptr<platform::bluetooth::Peripheral>&,
                                                   const Characteristic& c, const std::optional<Error>& error) {
  platform::Bytes value = c ? c->value() : platform::Bytes{};
  hop([c, value = std::move(value), error](KSPeripheralCommand& self) { self.onUpdateValue(c, value, error); });
}

void KSPeripheralCommand::peripheralDidWriteValue(const std::shared_ptr<platform::bluetooth::Peripheral>&,
                                                  const Characteristic& c, const std::optional<Error>& error) {
  hop([c, error](KSPeripheralCommand& self) { self.onWriteValue(c, error); });
}

void KSPeripheralCommand::peripheralDidUpdateNotificationState(const std::shared_ptr<platform::bluetooth::Peripheral>&,
                                                               const Characteristic& c,
                                                               const std::optional<Error>& error) {
  const bool notifying = c && c->isNotifying();
  hop([c, notifying, error](KSPeripheralCommand& self) { self.onUpdateNotificationState(c, notifying, error); });
}

}  // namespace velmora::kestrine

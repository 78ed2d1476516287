#include "beacons/configuration/KSStreamDataCommand.h"

#include <algorithm>

#include "platform/core/Log.h"

namespace velmora::kestrine {

namespace {
constexpr std::string_view kLog = "kestrine.stream";
}

std::shared_ptr<KSStreamDataCommand> KSStreamDataCommand::create(
    std::shared_ptr<platform::bluetooth::Peripheral> peripheral, std::shared_ptr<platform::dispatch::Scheduler> scheduler,
    std::shared_ptr<platform::dispatch::Queue> queue, Service service, Characteristic characteristic, platform::Bytes data,
    float delayBetweenWrites, std::shared_ptr<platform::app::Application> application) {
  return std::shared_ptr<KSStreamDataCommand>(new KSStreamDataCommand(
      std::move(peripheral), std::move(scheduler), std::move(queue), std::move(service), std::move(characteristic),
      std::move(data), 0, 0, delayBetweenWrites, nullptr, std::move(application)));
}

std::shared_ptr<KSStreamDataCommand> KSStreamDataCommand::create(
    std::shared_ptr<platform::bluetooth::Peripheral> peripheral, std::shared_ptr<platform::dispatch::Scheduler> scheduler,
    std::shared_ptr<platform::dispatch::Queue> queue, Service service, Characteristic characteristic, platform::Bytes data,
    float minDelayBetweenWrites, float maxDelayBetweenWrites, Characteristic notifyCharacteristic,
    std::shared_ptr<platform::app::Application> application) {
  return std::shared_ptr<KSStreamDataCommand>(new KSStreamDataCommand(
      std::move(peripheral), std::move(scheduler), std::move(queue), std::move(service), std::move(characteristic),
      std::move(data), minDelayBetweenWrites, maxDelayBetweenWrites, minDelayBetweenWrites,
      std::move(notifyCharacteristic), std::move(application)));
}

KSStreamDataCommand::KSStreamDataCommand(std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                                         std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                                         std::shared_ptr<platform::dispatch::Queue> queue, Service service,
                                         Characteristic characteristic, platform::Bytes data, float minDelay,
                                         float maxDelay, float startDelay, Characteristic notify,
                                         std::shared_ptr<platform::app::Application> application)
    : KSPeripheralCommand(std::move(peripheral), std::move(queue)),
      scheduler_(std::move(scheduler)),
      service_(std::move(service)),
      characteristic_(std::move(characteristic)),
      data_(std::move(data)),
      minDelay_(minDelay),
      maxDelay_(maxDelay),
      notify_(std::move(notify)),
      application_(std::move(application)),
      currentDelay_(startDelay) {}

KSStreamDataCommand::~KSStreamDataCommand() {
  if (timer_) timer_->cancel();
  if (activity_ && application_) application_->endBackgroundActivity(activity_);
}

void KSStreamDataCommand::run() {
  if (!checkPreconditions(service_ != nullptr && characteristic_ != nullptr)) return;
  if (application_) activity_ = application_->beginBackgroundActivity(std::string(kActivityReason));
  beginExecuting();
  becomeDelegate();
  std::weak_ptr<KSPeripheralCommand> weak = weak_from_this();
  timer_ = scheduler_->makeTimer(queue());
  timer_->setEventHandler([weak] {
    if (auto self = std::static_pointer_cast<KSStreamDataCommand>(weak.lock())) self->writeChunk();
  });
  timer_->resume();
  if (notify_) {
    peripheral()->setNotifyValue(true, notify_);
  } else {
    streaming_ = true;
    writeChunk();
  }
}

void KSStreamDataCommand::writeChunk() {
  if (state() != kStateExecuting) return;
  if (numWrites_ % 100 == 0) {
    reportProgress(data_.empty() ? 1.0f : static_cast<float>(dataIndex_) / static_cast<float>(data_.size()));
  }
  const std::uint64_t left = data_.size() > dataIndex_ ? data_.size() - dataIndex_ : 0;
  const std::uint64_t n = std::min<std::uint64_t>(chunkSize_, left);
  if (n > 0) {
    const auto begin = data_.begin() + static_cast<std::ptrdiff_t>(dataIndex_);
    peripheral()->writeValue(platform::Bytes(begin, begin + static_cast<std::ptrdiff_t>(n)), characteristic_,
                             platform::bluetooth::WriteType::WithoutResponse);
  }
  dataIndex_ += n;
  ++numWrites_;
  if (dataIndex_ < data_.size() && !canceled()) {
    timer_->schedule(static_cast<double>(currentDelay_) / 1000.0, 0);
  } else if (dataIndex_ >= data_.size() && notify_) {
    lastChunkWritten_ = true;
    peripheral()->setNotifyValue(false, notify_);
  } else {
    finish();
  }
}

void KSStreamDataCommand::onUpdateValue(const Characteristic& c, const platform::Bytes& value, const OptionalError&) {
  if (state() != kStateExecuting || !notify_ || !c || c->uuid() != notify_->uuid() || value.size() < 2) return;
  const unsigned code = (static_cast<unsigned>(value[0]) << 8) | value[1];
  if (code == 0x0103) return finishWithError(errorWithDescription("OTA Alignment Error"));
  if (code != 0x0101 || value.size() != 4) return;
  const std::uint64_t chunk = (static_cast<std::uint64_t>(value[2]) << 8) | value[3];
  const std::uint64_t index = chunk * chunkSize_;
  if (index >= data_.size()) {
    platform::Log::warning(kLog, "Ignoring retry from index {} past the data's {} bytes", index, data_.size());
    return;
  }
  if (lastChunkWritten_) {
    // The beacon asks for data again after the last chunk went out: the stream cannot be
    // reported as complete.
    return finishWithError(errorWithDescription("OTA Alignment Error"));
  }
  currentDelay_ = std::min(maxDelay_, currentDelay_ + 3.0f);
  dataIndex_ = index;
  platform::Log::info(kLog, "Retrying index {} new delay {:f}", dataIndex_, currentDelay_);
}

void KSStreamDataCommand::onUpdateNotificationState(const Characteristic& c, bool notifying, const OptionalError& error) {
  if (state() != kStateExecuting || !notify_ || !c || c->uuid() != notify_->uuid()) return;
  if (error) return finishWithError(*error);
  if (notifying) {
    if (streaming_) return;
    streaming_ = true;
    writeChunk();
  } else if (canceled()) {
    finishWithError(errorWithDescription("Stream Data Command canceled and stopped notifying"));
  } else {
    finish();
  }
}

void KSStreamDataCommand::didCancel() {}

void KSStreamDataCommand::willFinish() {
  if (timer_) timer_->cancel();
  if (activity_ && application_) application_->endBackgroundActivity(activity_);
  activity_.reset();
}

}  // namespace velmora::kestrine

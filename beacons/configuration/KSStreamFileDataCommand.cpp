#include "beacons/configuration/KSStreamFileDataCommand.h"

#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "beacons/configuration/KSStreamDataCommand.h"

namespace velmora::kestrine {

std::shared_ptr<KSStreamFileDataCommand> KSStreamFileDataCommand::create(
    std::shared_ptr<platform::bluetooth::Peripheral> peripheral, std::shared_ptr<platform::dispatch::Scheduler> scheduler,
    std::shared_ptr<platform::dispatch::Queue> queue, Service service, Characteristic characteristic,
    std::string filePath, float delayBetweenWrites, std::shared_ptr<platform::app::Application> application) {
  std::shared_ptr<KSStreamFileDataCommand> command(new KSStreamFileDataCommand(
      std::move(peripheral), std::move(scheduler), std::move(queue), std::move(service), std::move(characteristic),
      std::move(filePath), delayBetweenWrites, std::move(application)));
  command->becomeDelegate();
  return command;
}

KSStreamFileDataCommand::~KSStreamFileDataCommand() {
  stopTimer();
  if (activity_ && application_) application_->endBackgroundActivity(activity_);
}

void KSStreamFileDataCommand::run() {
  if (!checkPreconditions(service_ != nullptr && characteristic_ != nullptr)) return;
  beginExecuting();
  reportProgress(0.0f);
  std::error_code code;
  const std::filesystem::path path(filePath_);
  if (!std::filesystem::is_directory(path, code)) {
    const auto size = std::filesystem::file_size(path, code);
    if (!code) {
      fileSize_ = size;
      stream_.open(path, std::ios::binary);
    }
  }
  if (!stream_.is_open()) return finishWithError(errorWithDescription(fmt::format("File not found at path {}", filePath_)));
  totalBytesRead_ = 0;
  if (application_) activity_ = application_->beginBackgroundActivity(std::string(KSStreamDataCommand::kActivityReason));
  scheduleStep();
}

void KSStreamFileDataCommand::scheduleStep() {
  stopTimer();
  writeTimer_ = scheduler_->makeTimer(queue());
  std::weak_ptr<KSPeripheralCommand> weak = weak_from_this();
  std::weak_ptr<platform::dispatch::TimerSource> timer = writeTimer_;
  writeTimer_->setEventHandler([weak, timer] {
    auto self = std::static_pointer_cast<KSStreamFileDataCommand>(weak.lock());
    // Only the current timer of a command still streaming moves it on.
    if (!self || self->state() != kStateExecuting || !self->writeTimer_ || self->writeTimer_ != timer.lock()) return;
    self->step();
  });
  writeTimer_->schedule(static_cast<double>(delay_), 0);
  writeTimer_->resume();
}

void KSStreamFileDataCommand::step() {
  char buffer[kChunk];
  stream_.read(buffer, static_cast<std::streamsize>(kChunk));
  const auto k = stream_.gcount();
  if (k > 0) {
    totalBytesRead_ += k;
    peripheral()->writeValue(platform::Bytes(buffer, buffer + k), characteristic_,
                             platform::bluetooth::WriteType::WithoutResponse);
    if (fileSize_ > 0 && totalBytesRead_ % 1024 == 0) {
      reportProgress(static_cast<float>(totalBytesRead_) / static_cast<float>(fileSize_));
    }
    return scheduleStep();
  }
  stopTimer();
  if (stream_.bad()) return finishWithError(errorWithDescription("Read failed."));
  finish();
}

void KSStreamFileDataCommand::stopTimer() {
  if (writeTimer_) writeTimer_->cancel();
  writeTimer_.reset();
}

void KSStreamFileDataCommand::didCancel() { stopTimer(); }

void KSStreamFileDataCommand::willFinish() {
  stopTimer();
  if (activity_ && application_) application_->endBackgroundActivity(activity_);
  activity_.reset();
}

}  // namespace velmora::kestrine

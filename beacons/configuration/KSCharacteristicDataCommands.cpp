#include "beacons/configuration/KSCharacteristicDataCommands.h"

#include <algorithm>

namespace velmora::kestrine {

std::shared_ptr<KSReadCharacteristicDataCommand> KSReadCharacteristicDataCommand::create(
    std::shared_ptr<platform::bluetooth::Peripheral> peripheral, std::shared_ptr<platform::dispatch::Queue> queue,
    Service service, Characteristic characteristic) {
  return std::shared_ptr<KSReadCharacteristicDataCommand>(new KSReadCharacteristicDataCommand(
      std::move(peripheral), std::move(queue), std::move(service), std::move(characteristic)));
}

void KSReadCharacteristicDataCommand::run() {
  if (!checkPreconditions(service_ != nullptr)) return;
  beginExecuting();
  becomeDelegate();
  if (!characteristic_) return finishWithError(errorWithDescription("Characteristic missing."));
  peripheral()->readValue(characteristic_);
}

void KSReadCharacteristicDataCommand::onUpdateValue(const Characteristic& c, const platform::Bytes& value,
                                                    const OptionalError& error) {
  if (state() != kStateExecuting || !c || c->uuid() != characteristic_->uuid()) return;
  if (error) return finishWithError(*error);
  characteristicData_ = value;
  finish();
}

std::shared_ptr<KSWriteCharacteristicDataCommand> KSWriteCharacteristicDataCommand::create(
    std::shared_ptr<platform::bluetooth::Peripheral> peripheral, std::shared_ptr<platform::dispatch::Queue> queue,
    Service service, Characteristic characteristic, platform::Bytes data, Characteristic notifyCharacteristic) {
  return std::shared_ptr<KSWriteCharacteristicDataCommand>(
      new KSWriteCharacteristicDataCommand(std::move(peripheral), std::move(queue), std::move(service),
                                           std::move(characteristic), std::move(data), std::move(notifyCharacteristic)));
}

void KSWriteCharacteristicDataCommand::run() {
  if (!checkPreconditions(service_ != nullptr)) return;
  beginExecuting();
  becomeDelegate();
  if (!characteristic_) return finishWithError(errorWithDescription("Characteristic missing."));
  // Nothing to write: nothing would ever answer, so this is done.
  if (data_.empty()) return finish();
  if (notify_) {
    peripheral()->setNotifyValue(true, notify_);
  } else {
    writeBlock();
  }
}

void KSWriteCharacteristicDataCommand::writeBlock() {
  const auto size = static_cast<std::int64_t>(data_.size());
  const std::int64_t n = std::min(std::max<std::int64_t>(blockSize_, 0), size - dataIndex_);
  if (n > 0) {
    const auto begin = data_.begin() + dataIndex_;
    peripheral()->writeValue(platform::Bytes(begin, begin + n), characteristic_,
                             platform::bluetooth::WriteType::WithResponse);
  }
  dataIndex_ += n;
}

void KSWriteCharacteristicDataCommand::onWriteValue(const Characteristic& c, const OptionalError& error) {
  if (state() != kStateExecuting || !c || c->uuid() != characteristic_->uuid()) return;
  if (error) return finishWithError(*error);
  if (dataIndex_ < static_cast<std::int64_t>(data_.size())) return writeBlock();
  if (!notify_) finish();
}

void KSWriteCharacteristicDataCommand::onUpdateValue(const Characteristic& c, const platform::Bytes&,
                                                     const OptionalError&) {
  if (state() != kStateExecuting || !notify_ || !c || c->uuid() != notify_->uuid()) return;
  peripheral()->setNotifyValue(false, notify_);
}

void KSWriteCharacteristicDataCommand::onUpdateNotificationState(const Characteristic& c, bool notifying, const OptionalError& error) {
  if (state() != kStateExecuting || !notify_ || !c || c->uuid() != notify_->uuid()) return;
  if (error) return finishWithError(*error);
  if (notifying) {
    if (writing_) return;
    writing_ = true;
    writeBlock();
  } else {
    finish();
  }
}

}  // namespace velmora::kestrine

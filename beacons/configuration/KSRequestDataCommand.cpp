#include "beacons/configuration/KSRequestDataCommand.h"

#include <algorithm>

#include <fmt/format.h>

#include "platform/core/BytesDescription.h"

namespace velmora::kestrine {

using platform::bluetooth::BluetoothUUID;

std::shared_ptr<KSRequestDataCommand> KSRequestDataCommand::create(
    std::shared_ptr<platform::bluetooth::Peripheral> peripheral, std::shared_ptr<platform::dispatch::Queue> queue,
    Service service, BluetoothUUID writeCharacteristicUUID, BluetoothUUID readCharacteristicUUID, platform::Bytes request) {
  std::shared_ptr<KSRequestDataCommand> command(
      new KSRequestDataCommand(std::move(peripheral), std::move(queue), std::move(service),
                               std::move(writeCharacteristicUUID), std::move(readCharacteristicUUID), std::move(request)));
  command->becomeDelegate();
  return command;
}

std::shared_ptr<KSRequestDataCommand> KSRequestDataCommand::createWithStrings(
    std::shared_ptr<platform::bluetooth::Peripheral> peripheral, std::shared_ptr<platform::dispatch::Queue> queue,
    Service service, std::string_view readCharacteristicUUID, std::string_view writeCharacteristicUUID,
    platform::Bytes request) {
  return create(std::move(peripheral), std::move(queue), std::move(service),
                BluetoothUUID::parse(writeCharacteristicUUID).value_or(BluetoothUUID()),
                BluetoothUUID::parse(readCharacteristicUUID).value_or(BluetoothUUID()), std::move(request));
}

bool KSRequestDataCommand::appendReply(platform::Bytes& response, const platform::Bytes& value) {
  if (value.empty()) return false;
  const std::size_t total = value[0];
  const std::size_t wanted = total > response.size() ? std::min(kReplyBytesPerPacket, total - response.size()) : 0;
  const std::size_t carried = std::min(wanted, value.size() - 1);
  response.insert(response.end(), value.begin() + 1, value.begin() + 1 + static_cast<std::ptrdiff_t>(carried));
  return response.size() >= total;
}

void KSRequestDataCommand::run() {
  if (!checkPreconditions(service_ != nullptr)) return;
  beginExecuting();
  readCharacteristic_ = retrieveCharacteristic(readUUID_, service_);
  writeCharacteristic_ = retrieveCharacteristic(writeUUID_, service_);
  if (readCharacteristic_ && writeCharacteristic_) return resolved();
  discovering_ = true;
  std::vector<BluetoothUUID> wanted;
  if (!readUUID_.empty()) wanted.push_back(readUUID_);
  if (!writeUUID_.empty()) wanted.push_back(writeUUID_);
  peripheral()->discoverCharacteristics(wanted, service_);
}

void KSRequestDataCommand::onDiscoverCharacteristics(const Service& service, const OptionalError& error) {
  if (state() != kStateExecuting || !discovering_ || service != service_) return;
  discovering_ = false;
  if (error) return finishWithError(*error);
  const auto list = service_->characteristics().value_or(std::vector<Characteristic>{});
  if (list.empty()) {
    // The UUID as the platform describes its bytes ("<fec4>").
    return finishWithError(errorWithDescription(fmt::format("Service with UUID {} has {} characteristics.",
                                                            platform::describeBytes(service_->uuid().data()), 0)));
  }
  readCharacteristic_ = retrieveCharacteristic(readUUID_, service_);
  writeCharacteristic_ = retrieveCharacteristic(writeUUID_, service_);
  if (!readCharacteristic_ || !writeCharacteristic_) {
    return finishWithError(errorWithDescription(
        fmt::format("Missing read or write characteristic {} {}", readUUID_.string(), writeUUID_.string())));
  }
  resolved();
}

void KSRequestDataCommand::resolved() {
  // The beacon answers only after the whole request, so the subscription is in place by
  // then: the first packet need not wait for the confirmation.
  peripheral()->setNotifyValue(true, readCharacteristic_);
  writePacket();
}

void KSRequestDataCommand::writePacket() {
  const auto left = static_cast<std::int64_t>(request_.size()) - dataIndex_;
  const auto n = std::min<std::int64_t>(kRequestBytesPerPacket, std::max<std::int64_t>(left, 0));
  platform::Bytes packet{0x13, 0xF0, static_cast<std::uint8_t>(request_.size() & 0xFF)};
  const auto begin = request_.begin() + dataIndex_;
  packet.insert(packet.end(), begin, begin + n);
  peripheral()->writeValue(packet, writeCharacteristic_, platform::bluetooth::WriteType::WithResponse);
  dataIndex_ += n;
}

void KSRequestDataCommand::onWriteValue(const Characteristic& c, const OptionalError& error) {
  if (state() != kStateExecuting || !writeCharacteristic_ || !c || c->uuid() != writeUUID_) return;
  if (error) return finishWithError(*error);
  if (dataIndex_ < static_cast<std::int64_t>(request_.size())) writePacket();
}

void KSRequestDataCommand::onUpdateValue(const Characteristic& c, const platform::Bytes& value, const OptionalError&) {
  // Only the reply characteristic carries the reply; a stray value elsewhere is not part of it.
  if (state() != kStateExecuting || complete_ || !readCharacteristic_ || !c || c->uuid() != readUUID_) return;
  if (appendReply(response_, value)) {
    complete_ = true;
    peripheral()->setNotifyValue(false, readCharacteristic_);
  }
}

void KSRequestDataCommand::onUpdateNotificationState(const Characteristic& c, bool notifying, const OptionalError& error) {
  if (state() != kStateExecuting || !c || c->uuid() != readUUID_) return;
  if (error) return finishWithError(*error);
  if (!notifying) finish();
}

void KSRequestDataCommand::didCancel() {
  if (readCharacteristic_ && peripheral()) peripheral()->setNotifyValue(false, readCharacteristic_);
}

}  // namespace velmora::kestrine

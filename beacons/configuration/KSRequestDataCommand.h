#pragma once

#include <cstdint>

#include "beacons/configuration/KSPeripheralCommand.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// One request to an application on the beacon and its reply. The request goes out in
// packets 13 F0 <length> <up to 17 bytes>, each written with response; the reply comes back
// as notifications <total length T> <up to 19 bytes> on the reply characteristic. Once T
// bytes are in, notifications are switched off and the command finishes with the reply in
// responseData(). Claims the peripheral when it is made. Errors carry the write command's
// domain.
class KSRequestDataCommand final : public KSPeripheralCommand {
 public:
  static constexpr std::string_view kErrorDomain = "com.kestrine.KSWriteCharacteristicDataCommand";
  static constexpr std::size_t kRequestBytesPerPacket = 17;
  static constexpr std::size_t kReplyBytesPerPacket = 19;

  static std::shared_ptr<KSRequestDataCommand> create(std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                                                      std::shared_ptr<platform::dispatch::Queue> queue, Service service,
                                                      platform::bluetooth::BluetoothUUID writeCharacteristicUUID,
                                                      platform::bluetooth::BluetoothUUID readCharacteristicUUID,
                                                      platform::Bytes request);
  // The same with the UUIDs as text; note the read UUID comes first. An unparsable text
  // names no characteristic (the command then fails as a missing one).
  static std::shared_ptr<KSRequestDataCommand> createWithStrings(
      std::shared_ptr<platform::bluetooth::Peripheral> peripheral, std::shared_ptr<platform::dispatch::Queue> queue,
      Service service, std::string_view readCharacteristicUUID, std::string_view writeCharacteristicUUID,
      platform::Bytes request);

  const platform::Bytes& responseData() const { return response_; }
  std::int64_t dataIndex() const { return dataIndex_; }

  // Takes one reply notification into the reply gathered so far; true when the reply is
  // complete. Never reads past the value: a short one adds what it carries.
  static bool appendReply(platform::Bytes& response, const platform::Bytes& value);

 private:
  KSRequestDataCommand(std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                       std::shared_ptr<platform::dispatch::Queue> queue, Service service,
                       platform::bluetooth::BluetoothUUID write, platform::bluetooth::BluetoothUUID read,
                       platform::Bytes request)
      : KSPeripheralCommand(std::move(peripheral), std::move(queue)),
        service_(std::move(service)),
        writeUUID_(std::move(write)),
        readUUID_(std::move(read)),
        request_(std::move(request)) {}
  void run() override;
  void didCancel() override;
  void resolved();
  void writePacket();
  void onDiscoverCharacteristics(const Service& service, const OptionalError& error) override;
  void onWriteValue(const Characteristic& c, const OptionalError& error) override;
  void onUpdateValue(const Characteristic& c, const platform::Bytes& value, const OptionalError& error) override;
  void onUpdateNotificationState(const Characteristic& c, bool notifying, const OptionalError& error) override;
  std::string_view errorDomain() const override { return kErrorDomain; }

  const Service service_;
  const platform::bluetooth::BluetoothUUID writeUUID_;
  const platform::bluetooth::BluetoothUUID readUUID_;
  const platform::Bytes request_;
  std::int64_t dataIndex_ = 0;
  Characteristic readCharacteristic_;
  Characteristic writeCharacteristic_;
  platform::Bytes response_;
  bool discovering_ = false;
  bool complete_ = false;
};

}  // namespace velmora::kestrine

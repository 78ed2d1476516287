#pragma once

#include <cstdint>

#include "beacons/configuration/KSPeripheralCommand.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// Reads one characteristic's value. Finishes on a value event of that characteristic (a
// notification of another one that arrives meanwhile is not the answer).
class KSReadCharacteristicDataCommand final : public KSPeripheralCommand {
 public:
  static constexpr std::string_view kErrorDomain = "com.kestrine.KSReadCharacteristicDataCommand";
  static std::shared_ptr<KSReadCharacteristicDataCommand> create(std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                                                                 std::shared_ptr<platform::dispatch::Queue> queue,
                                                                 Service service, Characteristic characteristic);
  const Service& service() const { return service_; }
  const Characteristic& characteristic() const { return characteristic_; }
  const std::optional<platform::Bytes>& characteristicData() const { return characteristicData_; }

 private:
  KSReadCharacteristicDataCommand(std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                                  std::shared_ptr<platform::dispatch::Queue> queue, Service service,
                                  Characteristic characteristic)
      : KSPeripheralCommand(std::move(peripheral), std::move(queue)),
        service_(std::move(service)),
        characteristic_(std::move(characteristic)) {}
  void run() override;
  void onUpdateValue(const Characteristic& c, const platform::Bytes& value, const OptionalError& error) override;
  std::string_view errorDomain() const override { return kErrorDomain; }

  const Service service_;
  const Characteristic characteristic_;
  std::optional<platform::Bytes> characteristicData_;
};

// Writes a value with response in blocks (20 bytes unless set before executing), each
// acknowledged before the next. With a notify characteristic it first switches its
// notifications on, writes once that is confirmed, waits for the beacon's notification,
// switches them off and finishes when that is confirmed. Empty data succeeds at once,
// with no traffic.
class KSWriteCharacteristicDataCommand final : public KSPeripheralCommand {
 public:
  static constexpr std::string_view kErrorDomain = "com.kestrine.KSWriteCharacteristicDataCommand";
  static std::shared_ptr<KSWriteCharacteristicDataCommand> create(
      std::shared_ptr<platform::bluetooth::Peripheral> peripheral, std::shared_ptr<platform::dispatch::Queue> queue,
      Service service, Characteristic characteristic, platform::Bytes data, Characteristic notifyCharacteristic = nullptr);

  const Service& service() const { return service_; }
  const Characteristic& characteristic() const { return characteristic_; }
  const Characteristic& notifyCharacteristic() const { return notify_; }
  const platform::Bytes& characteristicData() const { return data_; }
  std::int64_t dataIndex() const { return dataIndex_; }
  std::int64_t writeDataBlockSize() const { return blockSize_; }
  void setWriteDataBlockSize(std::int64_t size) { blockSize_ = size; }

 private:
  KSWriteCharacteristicDataCommand(std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                                   std::shared_ptr<platform::dispatch::Queue> queue, Service service,
                                   Characteristic characteristic, platform::Bytes data, Characteristic notify)
      : KSPeripheralCommand(std::move(peripheral), std::move(queue)),
        service_(std::move(service)),
        characteristic_(std::move(characteristic)),
        notify_(std::move(notify)),
        data_(std::move(data)) {}
  void run() override;
  void writeBlock();
  void onWriteValue(const Characteristic& c, const OptionalError& error) override;
  void onUpdateValue(const Characteristic& c, const platform::Bytes& value, const OptionalError& error) override;
  void onUpdateNotificationState(const Characteristic& c, bool notifying, const OptionalError& error) override;
  std::string_view errorDomain() const override { return kErrorDomain; }

  const Service service_;
  const Characteristic characteristic_;
  const Characteristic notify_;
  const platform::Bytes data_;
  std::int64_t dataIndex_ = 0;
  std::int64_t blockSize_ = 20;
  bool writing_ = false;
};

}  // namespace velmora::kestrine

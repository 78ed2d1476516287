#pragma once

#include <cstdint>
#include <memory>

#include "beacons/configuration/KSPeripheralCommand.h"
#include "platform/app/Application.h"
#include "platform/core/Value.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

// Streams a block held in memory into one characteristic with writes without response, in
// chunks (16 bytes unless set before executing), one per delay. With a notify characteristic
// the beacon can ask for a retry from a chunk index (01 01 <index, 2 bytes big-endian>), which
// also slows the stream by 3 ms per retry up to the maximum delay, or stop it with an
// alignment error (01 03). The pacing timer runs on the command's queue. A background
// activity "OTA Firmware Upgrade" is held from execute to finish.
class KSStreamDataCommand final : public KSPeripheralCommand {
 public:
  static constexpr std::string_view kErrorDomain = "com.kestrine.KSStreamFileDataCommand";
  static constexpr std::string_view kActivityReason = "OTA Firmware Upgrade";

  // A fixed delay in milliseconds and no feedback.
  static std::shared_ptr<KSStreamDataCommand> create(std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                                                     std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                                                     std::shared_ptr<platform::dispatch::Queue> queue, Service service,
                                                     Characteristic characteristic, platform::Bytes data,
                                                     float delayBetweenWrites,
                                                     std::shared_ptr<platform::app::Application> application = nullptr);
  // Starts at the minimum delay; feedback arrives on the notify characteristic.
  static std::shared_ptr<KSStreamDataCommand> create(std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                                                     std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                                                     std::shared_ptr<platform::dispatch::Queue> queue, Service service,
                                                     Characteristic characteristic, platform::Bytes data,
                                                     float minDelayBetweenWrites, float maxDelayBetweenWrites,
                                                     Characteristic notifyCharacteristic,
                                                     std::shared_ptr<platform::app::Application> application = nullptr);
  ~KSStreamDataCommand() override;

  std::uint64_t chunkSize() const { return chunkSize_; }
  void setChunkSize(std::uint64_t size) { chunkSize_ = size == 0 ? 1 : size; }
  std::uint64_t dataIndex() const { return dataIndex_; }
  std::uint64_t numWrites() const { return numWrites_; }
  float currentDelayBetweenWrites() const { return currentDelay_; }
  float minDelayBetweenWrites() const { return minDelay_; }
  float maxDelayBetweenWrites() const { return maxDelay_; }

 private:
  KSStreamDataCommand(std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                      std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                      std::shared_ptr<platform::dispatch::Queue> queue, Service service, Characteristic characteristic,
                      platform::Bytes data, float minDelay, float maxDelay, float startDelay, Characteristic notify,
                      std::shared_ptr<platform::app::Application> application);
  void run() override;
  void didCancel() override;
  void willFinish() override;
  void writeChunk();
  void onUpdateValue(const Characteristic& c, const platform::Bytes& value, const OptionalError& error) override;
  void onUpdateNotificationState(const Characteristic& c, bool notifying, const OptionalError& error) override;
  std::string_view errorDomain() const override { return kErrorDomain; }

  const std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  const Service service_;
  const Characteristic characteristic_;
  const platform::Bytes data_;
  const float minDelay_;
  const float maxDelay_;
  const Characteristic notify_;
  const std::shared_ptr<platform::app::Application> application_;
  std::shared_ptr<platform::dispatch::TimerSource> timer_;
  std::shared_ptr<platform::app::BackgroundActivity> activity_;
  std::uint64_t chunkSize_ = 16;
  std::uint64_t dataIndex_ = 0;
  std::uint64_t numWrites_ = 0;
  float currentDelay_;
  bool streaming_ = false;
  bool lastChunkWritten_ = false;
};

}  // namespace velmora::kestrine

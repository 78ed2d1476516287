#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "beacons/configuration/KSPeripheralCommand.h"
#include "platform/app/Application.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

// Streams a file into one characteristic with writes without response, 16 bytes per write,
// each write (the first included) after one full delay in seconds. Reacts to no peripheral
// event. The pacing timer runs on the command's queue; a background activity "OTA Firmware
// Upgrade" is held while streaming. Claims the peripheral when it is made.
class KSStreamFileDataCommand final : public KSPeripheralCommand {
 public:
  static constexpr std::string_view kErrorDomain = "com.kestrine.KSStreamFileDataCommand";
  static constexpr std::size_t kChunk = 16;

  static std::shared_ptr<KSStreamFileDataCommand> create(std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                                                         std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                                                         std::shared_ptr<platform::dispatch::Queue> queue,
                                                         Service service, Characteristic characteristic,
                                                         std::string filePath, float delayBetweenWrites,
                                                         std::shared_ptr<platform::app::Application> application = nullptr);
  ~KSStreamFileDataCommand() override;

  const std::string& filePath() const { return filePath_; }
  std::uint64_t fileSize() const { return fileSize_; }
  std::int64_t totalBytesRead() const { return totalBytesRead_; }

 private:
  KSStreamFileDataCommand(std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                          std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                          std::shared_ptr<platform::dispatch::Queue> queue, Service service,
                          Characteristic characteristic, std::string filePath, float delay,
                          std::shared_ptr<platform::app::Application> application)
      : KSPeripheralCommand(std::move(peripheral), std::move(queue)),
        scheduler_(std::move(scheduler)),
        service_(std::move(service)),
        characteristic_(std::move(characteristic)),
        filePath_(std::move(filePath)),
        delay_(delay),
        application_(std::move(application)) {}
  void run() override;
  void didCancel() override;
  void willFinish() override;
  void scheduleStep();
  void step();
  void stopTimer();
  std::string_view errorDomain() const override { return kErrorDomain; }

  const std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  const Service service_;
  const Characteristic characteristic_;
  const std::string filePath_;
  const float delay_;
  const std::shared_ptr<platform::app::Application> application_;
  std::ifstream stream_;
  std::uint64_t fileSize_ = 0;
  std::int64_t totalBytesRead_ = 0;
  std::shared_ptr<platform::dispatch::TimerSource> writeTimer_;
  std::shared_ptr<platform::app::BackgroundActivity> activity_;
};

}  // namespace velmora::kestrine

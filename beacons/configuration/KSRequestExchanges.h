#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>

#include "beacons/configuration/KSRequestDataCommand.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// Request-data exchanges with one beacon, run one after another: each request is written to
// Control and its reply gathered from Indicator (KSRequestDataCommand). The owner hears each
// reply, or the first failure, on the queue; requests added meanwhile run after the queued
// ones. cancel() stops the exchange in flight and drops the rest; nothing is heard after it.
class KSRequestExchanges : public std::enable_shared_from_this<KSRequestExchanges> {
 public:
  using ReplyHandler = std::function<void(const platform::Bytes& reply)>;
  using FailureHandler = std::function<void(const platform::Error& error)>;

  static std::shared_ptr<KSRequestExchanges> create(std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                                                    std::shared_ptr<platform::dispatch::Queue> queue,
                                                    std::shared_ptr<platform::bluetooth::GattService> service,
                                                    ReplyHandler onReply, FailureHandler onFailure);

  void add(platform::Bytes request);
  // The exchanges not yet answered, the one in flight included.
  std::size_t count() const { return queued_.size(); }
  void cancel();

 private:
  struct Token {};

 public:
  KSRequestExchanges(Token, std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                     std::shared_ptr<platform::dispatch::Queue> queue,
                     std::shared_ptr<platform::bluetooth::GattService> service, ReplyHandler onReply,
                     FailureHandler onFailure)
      : peripheral_(std::move(peripheral)),
        queue_(std::move(queue)),
        service_(std::move(service)),
        onReply_(std::move(onReply)),
        onFailure_(std::move(onFailure)) {}

 private:
  void runNext();

  const std::shared_ptr<platform::bluetooth::Peripheral> peripheral_;
  const std::shared_ptr<platform::dispatch::Queue> queue_;
  const std::shared_ptr<platform::bluetooth::GattService> service_;
  ReplyHandler onReply_;
  FailureHandler onFailure_;
  std::deque<platform::Bytes> queued_;
  std::shared_ptr<KSRequestDataCommand> current_;
  bool cancelled_ = false;
};

}  // namespace velmora::kestrine

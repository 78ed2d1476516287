#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/bluetooth/Peripheral.h"
#include "platform/core/Error.h"
#include "platform/dispatch/Queue.h"

namespace velmora::kestrine {

// One short GATT conversation with a connected beacon: it reports exactly once, through its
// completion callback, with no error or one error.
//
// Confinement: a command lives on the serial queue it is given. execute() and the peripheral's
// events hop onto it; the completion and progress callbacks run on it. cancel() may be called
// from any thread: it removes the callbacks at once (nothing is reported after it returns,
// except a callback already running) and runs the command's own clean-up on its queue.
//
// A command claims the peripheral (becomes its delegate) when it executes, or, for some, when
// it is made; events of other exchanges are ignored. A dying command that is still the
// peripheral's delegate removes itself.
class KSPeripheralCommand : public platform::bluetooth::PeripheralDelegate,
                            public std::enable_shared_from_this<KSPeripheralCommand> {
 public:
  enum State : std::int32_t { kStateReady = 1, kStateExecuting = 2, kStateFinished = 3 };
  using CompletionBlock =
      std::function<void(const std::shared_ptr<KSPeripheralCommand>&, const std::optional<platform::Error>&)>;
  using ProgressBlock = std::function<void(const std::shared_ptr<KSPeripheralCommand>&, float)>;
  using SuccessBlock = std::function<void(const std::shared_ptr<KSPeripheralCommand>&)>;
  using FailureBlock = std::function<void(const std::shared_ptr<KSPeripheralCommand>&, const platform::Error&)>;

  ~KSPeripheralCommand() override;

  const std::shared_ptr<platform::bluetooth::Peripheral>& peripheral() const { return peripheral_; }
  const std::shared_ptr<platform::dispatch::Queue>& queue() const { return queue_; }
  // Read on the command's queue (or once it has finished).
  std::int32_t state() const { return state_; }
  const std::optional<platform::Error>& error() const { return error_; }

  // The callback runs at most once; nullptr clears it.
  void setCompletionBlock(CompletionBlock block);
  void setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure);
  void setProgressBlock(ProgressBlock block);

  // Starts the exchange on the command's queue. A command runs one exchange: a second
  // execute does nothing.
  void execute();
  void cancel();

  // On the command's queue. A second finish changes nothing and reports nothing.
  void finish();
  void finishWithError(platform::Error error);

  // The first characteristic with the UUID among the service's discovered ones, or nullptr.
  static std::shared_ptr<platform::bluetooth::GattCharacteristic> retrieveCharacteristic(
      const platform::bluetooth::BluetoothUUID& uuid, const std::shared_ptr<platform::bluetooth::GattService>& service);

  // The peripheral's events; they hop onto the command's queue.
  void peripheralDidDiscoverServices(const std::shared_ptr<platform::bluetooth::Peripheral>&,
                                     const std::optional<platform::Error>&) final;
  void peripheralDidDiscoverCharacteristics(const std::shared_ptr<platform::bluetooth::Peripheral>&,
                                            const std::shared_ptr<platform::bluetooth::GattService>&,
                                            const std::optional<platform::Error>&) final;
  void peripheralDidUpdateValue(const std::shared_ptr<platform::bluetooth::Peripheral>&,
                                const std::shared_ptr<platform::bluetooth::GattCharacteristic>&,
                                const std::optional<platform::Error>&) final;
  void peripheralDidWriteValue(const std::shared_ptr<platform::bluetooth::Peripheral>&,
                               const std::shared_ptr<platform::bluetooth::GattCharacteristic>&,
                               const std::optional<platform::Error>&) final;
  void peripheralDidUpdateNotificationState(const std::shared_ptr<platform::bluetooth::Peripheral>&,
                                            const std::shared_ptr<platform::bluetooth::GattCharacteristic>&,
                                            const std::optional<platform::Error>&) final;

 protected:
  using Characteristic = std::shared_ptr<platform::bluetooth::GattCharacteristic>;
  using Service = std::shared_ptr<platform::bluetooth::GattService>;
  using OptionalError = std::optional<platform::Error>;

  KSPeripheralCommand(std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                      std::shared_ptr<platform::dispatch::Queue> queue);

  // The exchange, on the queue, once: check preconditions, beginExecuting(), claim, request.
  virtual void run() = 0;
  // The command's own clean-up after cancel(), on the queue.
  virtual void didCancel() {}
  // Runs once, just before the state becomes finished.
  virtual void willFinish() {}
  virtual std::string_view errorDomain() const = 0;

  void beginExecuting() { state_ = kStateExecuting; }
  void becomeDelegate();
  bool canceled() const { return canceled_; }
  // Fails the command when the condition is false: "Peripheral missing." / "Service missing."
  // are programming errors of the caller, reported and turned into an error (not a hang).
  bool checkPreconditions(bool hasService);
  platform::Error errorWithDescription(std::string description) const;
  void reportProgress(float progress);

  virtual void onDiscoverServices(const OptionalError&) {}
  virtual void onDiscoverCharacteristics(const Service&, const OptionalError&) {}
  // The value as it was when the event came (a later notification may have replaced the
  // characteristic's value by the time the command's queue runs).
  virtual void onUpdateValue(const Characteristic&, const platform::Bytes&, const OptionalError&) {}
  virtual void onWriteValue(const Characteristic&, const OptionalError&) {}
  // notifying: the characteristic's state when the event came.
  virtual void onUpdateNotificationState(const Characteristic&, bool, const OptionalError&) {}

 private:
  template <class Handler>
  void hop(Handler handler);

  const std::shared_ptr<platform::bluetooth::Peripheral> peripheral_;
  const std::shared_ptr<platform::dispatch::Queue> queue_;
  std::int32_t state_ = kStateReady;
  bool started_ = false;
  bool canceled_ = false;
  std::optional<platform::Error> error_;
  std::mutex blocksMutex_;
  CompletionBlock completion_;
  ProgressBlock progress_;
};

}  // namespace velmora::kestrine

#include "platform/bluetooth/Central.h"

namespace velmora::platform::bluetooth {

Error gatt::makeError(Code code, std::string description) {
  return Error(std::string(kErrorDomain), code, std::move(description));
}

namespace {

class UnsupportedCentral final : public Central {
 public:
  CentralState state() const override { return CentralState::Unsupported; }
  void scanForPeripherals(std::vector<BluetoothUUID>, ScanOptions) override {}
  void stopScan() override {}
  bool isScanning() const override { return false; }
  std::vector<std::shared_ptr<Peripheral>> retrievePeripherals(const std::vector<Uuid>&) override { return {}; }
  void connect(const std::shared_ptr<Peripheral>&) override {}
  void cancelPeripheralConnection(const std::shared_ptr<Peripheral>&) override {}
};

}  // namespace

CentralMaker unsupportedCentralMaker() {
  return CentralMaker([](std::weak_ptr<CentralDelegate> delegate, std::shared_ptr<dispatch::Queue> queue,
                         CentralOptions) {
    auto central = std::make_shared<UnsupportedCentral>();
    if (queue) {
      queue->async([delegate] {
        if (auto d = delegate.lock()) d->centralDidUpdateState(CentralState::Unsupported);
      });
    }
    return std::shared_ptr<Central>(central);
  });
}

}  // namespace velmora::platform::bluetooth

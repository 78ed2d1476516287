#include "platform/bluetooth/SystemCentral.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "platform/bluetooth/bluez/MockBluez.h"
#include "platform/dispatch/ThreadScheduler.h"

namespace velmora::platform::bluetooth {
namespace {

using bluez::testing::MockBluez;

// Points this process's "system bus" at another address while it lives.
class SystemBusAt {
 public:
  explicit SystemBusAt(const std::string& address) {
    if (const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) old_ = old;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
  }
  ~SystemBusAt() {
    if (old_) {
      ::setenv("DBUS_SYSTEM_BUS_ADDRESS", old_->c_str(), 1);
    } else {
      ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
  }

 private:
  std::optional<std::string> old_;
};

class States : public CentralDelegate {
 public:
  void centralDidUpdateState(CentralState s) override {
    std::lock_guard lock(mutex_);
    last_ = s;
    changed_.notify_all();
  }
  bool waitFor(CentralState s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, MockBluez::kBound, [&] { return last_ == s; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<CentralState> last_;
};

TEST(SystemCentral, UsesTheBluetoothServiceOnTheSystemBus) {
  MockBluez bus;
  bus.addAdapter("hci0");
  dispatch::ThreadScheduler scheduler;
  auto states = std::make_shared<States>();
  SystemBusAt redirect(bus.address());
  auto central = systemCentralMaker()(states, scheduler.makeSerialQueue("test.system"));
  ASSERT_TRUE(central);
  ASSERT_TRUE(states->waitFor(CentralState::PoweredOn));
}

TEST(SystemCentral, WithoutTheServiceTheCentralIsUnsupported) {
  for (const bool daemon : {false, true}) {
    SCOPED_TRACE(daemon ? "a bus without the service" : "no bus");
    std::optional<MockBluez> bus;
    std::string address;
    if (daemon) {
      bus.emplace(MockBluez::Options{.startService = false});
      address = bus->address();
    } else {
      MockBluez gone({.startService = false});
      address = gone.address();
    }
    dispatch::ThreadScheduler scheduler;
    auto states = std::make_shared<States>();
    SystemBusAt redirect(address);
    auto central = systemCentralMaker()(states, scheduler.makeSerialQueue("test.system"));
    ASSERT_TRUE(central);
    EXPECT_EQ(central->state(), CentralState::Unsupported) << "known at once: no service to ask";
    ASSERT_TRUE(states->waitFor(CentralState::Unsupported));
  }
}

}  // namespace
}  // namespace velmora::platform::bluetooth

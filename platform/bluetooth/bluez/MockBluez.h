#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

namespace velmora::platform::bluetooth::bluez::testing {

// A private message bus (its own dbus-daemon, on a socket in a fresh temporary folder)
// with the mock Bluetooth service of python3-dbusmock on it, and a connection of the
// test's own to drive the mock. Nothing touches the machine's buses. Everything waits on
// events with a bound; a bound that passes fails the wait, never the process.
class MockBluez {
 public:
  struct Options {
    bool startService = true;
    // The bus refuses this process's requests to list the service's objects (as the
    // system bus does for a user without the right to use Bluetooth).
    bool denyObjectListing = false;
  };
  static constexpr std::chrono::seconds kBound{20};

  explicit MockBluez(Options options);
  MockBluez() : MockBluez(Options{}) {}
  ~MockBluez();
  MockBluez(const MockBluez&) = delete;
  MockBluez& operator=(const MockBluez&) = delete;

  const std::string& address() const { return address_; }

  // Starts (stops) the mock service and returns once its name is (no longer) on the bus.
  void startService();
  void stopService();

  // The mock's own calls. Adapters are named "hci0".."hci9"; the template gives hciN the
  // address 0N:0N+1:...; devices get the RSSI -79 and their alias as name.
  std::string addAdapter(const std::string& name, const std::string& systemName = "host");
  void removeAdapter(const std::string& name);
  std::string addDevice(const std::string& adapter, const std::string& address, const std::string& alias);
  // Through the adapter's RemoveDevice (the service announces the removal).
  void removeDevice(const std::string& adapterPath, const std::string& devicePath);
  // Emits PropertiesChanged from the object, as the service does when it hears a device
  // (the mock's own property update cannot carry dictionaries such as ManufacturerData).
  void updateProperties(const std::string& path, const std::string& interface,
                        const std::map<std::string, sdbus::Variant>& properties,
                        const std::vector<std::string>& invalidated = {});
  // Changes the mock's property and emits the change.
  void setPowered(const std::string& adapterPath, bool powered);

  // The arguments of each call of that method the mock logged on that object.
  std::vector<std::vector<sdbus::Variant>> methodCalls(const std::string& path, const std::string& method);

  // The unique names connected to the bus (the daemon's own excluded).
  std::vector<std::string> uniqueNames();

  // Waits for a signal that matches the rule (D-Bus match syntax), installed when the
  // watch is made: make it before the action whose signal it waits for.
  class SignalWatch {
   public:
    SignalWatch(const std::string& address, const std::string& rule);
    ~SignalWatch();
    // True once a matching signal has come (counting every one since the watch began).
    bool waitFor(std::size_t count = 1, std::chrono::milliseconds bound = kBound);

   private:
    std::unique_ptr<sdbus::IConnection> connection_;
    sdbus::Slot match_;
    std::size_t seen_ = 0;
  };
  std::unique_ptr<SignalWatch> watch(const std::string& rule) const {
    return std::make_unique<SignalWatch>(address_, rule);
  }

 private:
  void waitForServiceOwner(bool present);
  sdbus::IProxy& proxy(const std::string& path);

  Options options_;
  std::filesystem::path folder_;
  pid_t daemon_ = -1;
  pid_t service_ = -1;
  std::string address_;
  std::unique_ptr<sdbus::IConnection> driver_;
  std::map<std::string, std::unique_ptr<sdbus::IProxy>> proxies_;
};

}  // namespace velmora::platform::bluetooth::bluez::testing

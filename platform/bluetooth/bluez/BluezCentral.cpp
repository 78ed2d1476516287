#include "platform/bluetooth/bluez/BluezCentral.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>

#include <sdbus-c++/sdbus-c++.h>

#include "platform/bluetooth/bluez/BusLoop.h"
#include "platform/bluetooth/bluez/DeviceRecord.h"
#include "platform/bluetooth/bluez/PeripheralIdentifier.h"
#include "platform/core/Log.h"

namespace velmora::platform::bluetooth::bluez {

namespace {

constexpr std::string_view kCategory = "bluetooth.bluez";
const std::string kService = "org.bluez";
const std::string kAdapterInterface = "org.bluez.Adapter1";
const std::string kDeviceInterface = "org.bluez.Device1";
const std::string kObjectManagerInterface = "org.freedesktop.DBus.ObjectManager";
const std::string kPropertiesInterface = "org.freedesktop.DBus.Properties";

using Properties = std::map<std::string, sdbus::Variant>;
using Interfaces = std::map<std::string, Properties>;
using ManagedObjects = std::map<sdbus::ObjectPath, Interfaces>;

// A connection to the bus of the options. A unix socket address is tried first with a
// plain connect: the binding leaks a connection it fails to start on an address it was
// given, and a socket that is missing or closed to this user is the common failure.
std::unique_ptr<sdbus::IConnection> openBus(const BluezOptions& options) {
  if (!options.busAddress) return sdbus::createSystemBusConnection();
  const std::string& address = *options.busAddress;
  constexpr std::string_view kUnixPath = "unix:path=";
  if (address.starts_with(kUnixPath) && address.find(';') == std::string::npos) {
    const std::string path = address.substr(kUnixPath.size(), address.find(',') - kUnixPath.size());
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    if (path.size() < sizeof where.sun_path) {
      std::memcpy(where.sun_path, path.data(), path.size());
      const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const int r = fd < 0 ? -1 : ::connect(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where);
      const int error = r < 0 ? errno : 0;
      if (fd >= 0) ::close(fd);
      if (r < 0) {
        throw sdbus::Error(error == EACCES || error == EPERM ? "org.freedesktop.DBus.Error.AccessDenied"
                                                             : "org.freedesktop.DBus.Error.FileNotFound",
                           "cannot reach the bus at " + address + ": " + std::strerror(error));
      }
    }
  }
  return sdbus::createSessionBusConnectionWithAddress(address);
}

bool isAccessDenied(const std::string& errorName) {
  return errorName == "org.freedesktop.DBus.Error.AccessDenied" || errorName == "System.Error.EACCES" ||
         errorName == "System.Error.EPERM";
}

// A device as this central knows it. Connections are not offered yet, so it stays
// disconnected and every request is answered "not connected".
class BluezPeripheral final : public Peripheral, public std::enable_shared_from_this<BluezPeripheral> {
 public:
  BluezPeripheral(Uuid id, std::shared_ptr<dispatch::Queue> queue) : id_(id), queue_(std::move(queue)) {}

  Uuid identifier() const override { return id_; }
  std::optional<std::string> name() const override {
    std::lock_guard lock(mutex_);
    return name_;
  }
  void setName(std::optional<std::string> name) {
    std::lock_guard lock(mutex_);
    if (name) name_ = std::move(name);
  }
  PeripheralState state() const override { return PeripheralState::Disconnected; }

  void setDelegate(std::weak_ptr<PeripheralDelegate> delegate) override {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
  }
  std::shared_ptr<PeripheralDelegate> delegate() const override {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
  }
  std::optional<std::vector<std::shared_ptr<GattService>>> services() const override { return std::nullopt; }

  void discoverServices(std::optional<std::vector<BluetoothUUID>>) override {
    answer([](PeripheralDelegate& d, const std::shared_ptr<Peripheral>& p, const Error& e) {
      d.peripheralDidDiscoverServices(p, e);
    });
  }
  void discoverCharacteristics(std::optional<std::vector<BluetoothUUID>>,
                               const std::shared_ptr<GattService>& service) override {
    answer([service](PeripheralDelegate& d, const std::shared_ptr<Peripheral>& p, const Error& e) {
      d.peripheralDidDiscoverCharacteristics(p, service, e);
    });
  }
  void readValue(const std::shared_ptr<GattCharacteristic>& c) override {
    answer([c](PeripheralDelegate& d, const std::shared_ptr<Peripheral>& p, const Error& e) {
      d.peripheralDidUpdateValue(p, c, e);
    });
  }
  void writeValue(const Bytes&, const std::shared_ptr<GattCharacteristic>& c, WriteType type) override {
    if (type == WriteType::WithoutResponse) return;
    answer([c](PeripheralDelegate& d, const std::shared_ptr<Peripheral>& p, const Error& e) {
      d.peripheralDidWriteValue(p, c, e);
    });
  }
  void setNotifyValue(bool, const std::shared_ptr<GattCharacteristic>& c) override {
    answer([c](PeripheralDelegate& d, const std::shared_ptr<Peripheral>& p, const Error& e) {
      d.peripheralDidUpdateNotificationState(p, c, e);
    });
  }

 private:
  template <class Call>
  void answer(Call call) {
    std::weak_ptr<BluezPeripheral> weak = weak_from_this();
    queue_->async([weak, call] {
      auto self = weak.lock();
      if (!self) return;
      if (auto d = self->delegate()) {
        call(*d, self, gatt::makeError(gatt::kNotConnected, "The peripheral is not connected."));
      }
    });
  }

  const Uuid id_;
  const std::shared_ptr<dispatch::Queue> queue_;
  mutable std::mutex mutex_;
  std::optional<std::string> name_;
  std::weak_ptr<PeripheralDelegate> delegate_;
};

struct AdapterInfo {
  std::string address;
  bool powered = false;
};

// The state of one central. What the owner asks for is kept under the mutex; what the bus
// said is kept by the loop thread alone. Bus callbacks reach the core by a plain pointer:
// the core stops its loop (shutdown) before it lets go of anything the loop uses.
class Core : public std::enable_shared_from_this<Core> {
 public:
  Core(BluezOptions options, std::weak_ptr<CentralDelegate> delegate, std::shared_ptr<dispatch::Queue> queue)
      : options_(std::move(options)), delegate_(std::move(delegate)), queue_(std::move(queue)) {}

  void start() {
    loop_.post([this] { open(); });
  }

  void shutdown() {
    {
      std::lock_guard lock(mutex_);
      scanning_ = false;
      ++generation_;
    }
    loop_.stop();
    dropConnection();
  }

  CentralState state() const {
    std::lock_guard lock(mutex_);
    return state_;
  }

  void scan(std::vector<BluetoothUUID> services, ScanOptions options) {
    {
      std::lock_guard lock(mutex_);
      if (state_ != CentralState::PoweredOn) return;
      scanning_ = true;
      filter_ = std::move(services);
      scanOptions_ = options;
      ++generation_;
      seen_.clear();
    }
    loop_.post([this] { applyScan(); });
  }

  void stopScan() {
    {
      std::lock_guard lock(mutex_);
      if (!scanning_) return;
      scanning_ = false;
      ++generation_;
    }
    loop_.post([this] { applyScan(); });
  }

  bool isScanning() const {
    std::lock_guard lock(mutex_);
    return scanning_;
  }

  std::vector<std::shared_ptr<Peripheral>> retrieve(const std::vector<Uuid>& ids) {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Peripheral>> out;
    for (const auto& id : ids) {
      auto it = peripherals_.find(id);
      if (it != peripherals_.end()) out.push_back(it->second);
    }
    return out;
  }

  void connect(const std::shared_ptr<Peripheral>& peripheral) {
    if (!peripheral || !owns(peripheral)) return;
    post([peripheral](CentralDelegate& d) {
      d.centralDidFailToConnectPeripheral(
          peripheral, gatt::makeError(gatt::kConnectionFailed, "Connections are not offered on this host."));
    });
  }

 private:
  // --- on the loop thread -------------------------------------------------------------

  void open() {
    try {
      connection_ = openBus(options_);
    } catch (const sdbus::Error& e) {
      Log::warning(kCategory, "no bus connection: {}", e.what());
      accessDenied_ = isAccessDenied(e.getName());
      report(accessDenied_ ? CentralState::Unauthorized : CentralState::Unsupported);
      return;
    }
    loop_.setConnection(connection_.get(), [this] {
      dropConnection();
      report(CentralState::Unsupported);
    });
    try {
      matches_.push_back(connection_->addMatch(
          "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged',"
          "arg0='org.bluez'",
          [this](sdbus::Message& m) { onOwnerChanged(m); }));
      matches_.push_back(connection_->addMatch(
          "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.ObjectManager'",
          [this](sdbus::Message& m) { onObjectManagerSignal(m); }));
      matches_.push_back(connection_->addMatch(
          "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
          "path_namespace='/org/bluez'",
          [this](sdbus::Message& m) { onPropertiesChanged(m); }));
    } catch (const sdbus::Error& e) {
      Log::warning(kCategory, "cannot watch the Bluetooth service: {}", e.what());
      accessDenied_ = isAccessDenied(e.getName());
      report(accessDenied_ ? CentralState::Unauthorized : CentralState::Unsupported);
      return;
    }
    query();
  }

  void dropConnection() {
    loop_.setConnection(nullptr);
    matches_.clear();
    proxies_.clear();
    connection_.reset();
  }

  sdbus::IProxy& proxy(const std::string& path) {
    auto& slot = proxies_[path];
    if (!slot) slot = sdbus::createProxy(*connection_, kService, path);
    return *slot;
  }

  std::uint64_t timeoutMicros() const {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(options_.callTimeout).count());
  }

  // Asks the service for everything it has; the answer replaces what was known.
  void query() {
    const std::uint64_t generation = ++queryGeneration_;
    try {
      auto& root = proxy("/");
      auto call = root.createMethodCall(kObjectManagerInterface, "GetManagedObjects");
      root.callMethod(
          call,
          [this, generation](sdbus::MethodReply& reply, const sdbus::Error* error) {
            if (generation != queryGeneration_) return;
            if (error) {
              if (error->getName() != "org.freedesktop.DBus.Error.ServiceUnknown" &&
                  error->getName() != "org.freedesktop.DBus.Error.NameHasNoOwner") {
                Log::warning(kCategory, "the Bluetooth service did not list its objects: {}", error->what());
              }
              accessDenied_ = isAccessDenied(error->getName());
              forgetService();
              return;
            }
            ManagedObjects objects;
            try {
              reply >> objects;
            } catch (const sdbus::Error& e) {
              Log::warning(kCategory, "unreadable object list: {}", e.what());
              forgetService();
              return;
            }
            accessDenied_ = false;
            forgetService(false);
            owner_ = reply.getSender();
            for (const auto& [path, interfaces] : objects) added(path, interfaces, false);
            chooseAdapter();
          },
          timeoutMicros());
    } catch (const sdbus::Error& e) {
      Log::warning(kCategory, "cannot ask the Bluetooth service: {}", e.what());
      forgetService();
    }
  }

  // Everything the service said is gone (it left the bus, or never answered).
  void forgetService(bool reportNow = true) {
    adapters_.clear();
    devices_.clear();
    adapterPath_.reset();
    discovering_ = false;
    owner_.clear();
    if (reportNow) updateState();
  }

  void onOwnerChanged(sdbus::Message& m) {
    std::string name, oldOwner, newOwner;
    m >> name >> oldOwner >> newOwner;
    if (name != kService) return;
    ++queryGeneration_;  // an answer from the old owner no longer counts
    forgetService();
    if (!newOwner.empty()) query();
  }

  bool fromService(const sdbus::Message& m) const { return !owner_.empty() && m.getSender() == owner_; }

  void onObjectManagerSignal(sdbus::Message& m) {
    if (!fromService(m)) return;
    const std::string member = m.getMemberName();
    sdbus::ObjectPath path;
    if (member == "InterfacesAdded") {
      Interfaces interfaces;
      m >> path >> interfaces;
      added(path, interfaces, true);
    } else if (member == "InterfacesRemoved") {
      std::vector<std::string> interfaces;
      m >> path >> interfaces;
      removed(path, interfaces);
    }
  }

  void added(const std::string& path, const Interfaces& interfaces, bool live) {
    if (auto a = interfaces.find(kAdapterInterface); a != interfaces.end()) {
      auto& info = adapters_[path];
      applyAdapter(info, a->second);
      if (live) chooseAdapter();
    }
    if (auto d = interfaces.find(kDeviceInterface); d != interfaces.end()) {
      if (!adapterPath_ && !live) {
        pendingDevices_.emplace_back(path, d->second);  // placed once the adapter is chosen
        return;
      }
      addDevice(path, d->second, live);
    }
  }

  void addDevice(const std::string& path, const Properties& properties, bool live) {
    if (!adapterPath_ || !path.starts_with(*adapterPath_ + "/")) return;
    auto address = properties.find("Address");
    if (address == properties.end() || !address->second.containsValueOfType<std::string>()) return;
    const Uuid id = peripheralIdentifier(adapters_[*adapterPath_].address, address->second.get<std::string>());
    auto record = std::make_unique<DeviceRecord>(path, id);
    const bool advertised = record->apply(properties);
    auto& slot = devices_[path];
    slot = std::move(record);
    // A device listed at start-up or cached from earlier is no advertisement; one that
    // appears with a signal strength has just been heard.
    if (live && advertised && slot->rssi()) heard(*slot);
  }

  void removed(const std::string& path, const std::vector<std::string>& interfaces) {
    for (const auto& interface : interfaces) {
      if (interface == kAdapterInterface) {
        adapters_.erase(path);
        std::erase_if(devices_, [&](const auto& entry) { return entry.first.starts_with(path + "/"); });
        if (adapterPath_ == path) {
          adapterPath_.reset();
          discovering_ = false;
        }
        chooseAdapter();
      } else if (interface == kDeviceInterface) {
        devices_.erase(path);
      }
    }
  }

  static void applyAdapter(AdapterInfo& info, const Properties& properties) {
    if (auto it = properties.find("Address"); it != properties.end() && it->second.containsValueOfType<std::string>()) {
      info.address = it->second.get<std::string>();
    }
    if (auto it = properties.find("Powered"); it != properties.end() && it->second.containsValueOfType<bool>()) {
      info.powered = it->second.get<bool>();
    }
  }

  // The adapter named in the options, else the first one listed.
  void chooseAdapter() {
    std::optional<std::string> chosen;
    if (options_.adapter) {
      const std::string want = "/org/bluez/" + *options_.adapter;
      if (adapters_.contains(want)) chosen = want;
    } else if (!adapters_.empty()) {
      chosen = adapters_.begin()->first;
    }
    if (chosen != adapterPath_) {
      adapterPath_ = chosen;
      devices_.clear();
      discovering_ = false;
    }
    if (adapterPath_) {
      auto pending = std::move(pendingDevices_);
      pendingDevices_.clear();
      for (const auto& [path, properties] : pending) addDevice(path, properties, false);
    }
    pendingDevices_.clear();
    updateState();
    if (adapterPath_ && adapters_[*adapterPath_].powered) applyScan();
  }

  void onPropertiesChanged(sdbus::Message& m) {
    if (!fromService(m)) return;
    std::string interface;
    Properties changed;
    std::vector<std::string> invalidated;
    m >> interface >> changed >> invalidated;
    const std::string path = m.getPath();
    if (interface == kAdapterInterface) {
      auto it = adapters_.find(path);
      if (it == adapters_.end()) return;
      const bool was = it->second.powered;
      applyAdapter(it->second, changed);
      if (path != adapterPath_) return;
      if (was && !it->second.powered) discovering_ = false;  // the adapter ends discovery itself
      updateState();
      if (!was && it->second.powered) applyScan();
    } else if (interface == kDeviceInterface) {
      auto it = devices_.find(path);
      if (it == devices_.end()) return;
      auto& record = *it->second;
      const bool advertised = record.apply(changed);
      record.invalidate(invalidated);
      if (advertised && record.rssi()) heard(record);
    }
  }

  CentralState computedState() const {
    if (!adapterPath_) return accessDenied_ ? CentralState::Unauthorized : CentralState::Unsupported;
    auto it = adapters_.find(*adapterPath_);
    return it != adapters_.end() && it->second.powered ? CentralState::PoweredOn : CentralState::PoweredOff;
  }

  void updateState() { report(computedState()); }

  // Brings the adapter's discovery in line with what the owner asks for. A new filter is
  // sent before (re)starting; the service keeps the calls of one client in order.
  void applyScan() {
    if (!connection_ || !adapterPath_ || !adapters_[*adapterPath_].powered) return;
    std::vector<BluetoothUUID> filter;
    bool wanted = false;
    {
      std::lock_guard lock(mutex_);
      wanted = scanning_;
      filter = filter_;
    }
    auto& adapter = proxy(*adapterPath_);
    auto logError = [](std::string what) {
      return [what](sdbus::MethodReply&, const sdbus::Error* error) {
        if (error) Log::warning(kCategory, "{} failed: {}", what, error->what());
      };
    };
    try {
      if (wanted) {
        Properties discovery{{"Transport", sdbus::Variant(std::string("le"))},
                             {"DuplicateData", sdbus::Variant(true)}};
        if (!filter.empty()) {
          std::vector<std::string> uuids;
          for (const auto& u : filter) {
            std::string text = u.uuid().string();
            std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
            uuids.push_back(std::move(text));
          }
          discovery.emplace("UUIDs", sdbus::Variant(uuids));
        }
        auto setFilter = adapter.createMethodCall(kAdapterInterface, "SetDiscoveryFilter");
        setFilter << discovery;
        adapter.callMethod(setFilter, logError("SetDiscoveryFilter"), timeoutMicros());
        if (!discovering_) {
          discovering_ = true;
          auto startCall = adapter.createMethodCall(kAdapterInterface, "StartDiscovery");
          const std::string path = *adapterPath_;
          adapter.callMethod(
              startCall,
              [this, path](sdbus::MethodReply&, const sdbus::Error* error) {
                if (!error || error->getName() == "org.bluez.Error.InProgress") return;
                Log::warning(kCategory, "StartDiscovery failed: {}", error->what());
                if (adapterPath_ == path) discovering_ = false;
              },
              timeoutMicros());
        }
      } else if (discovering_) {
        discovering_ = false;
        auto stopCall = adapter.createMethodCall(kAdapterInterface, "StopDiscovery");
        adapter.callMethod(stopCall, logError("StopDiscovery"), timeoutMicros());
      }
    } catch (const sdbus::Error& e) {
      Log::warning(kCategory, "cannot change discovery: {}", e.what());
    }
  }

  // One advertisement of the device.
  void heard(const DeviceRecord& record) {
    AdvertisementData ad = record.advertisement();
    const int rssi = record.rssi().value_or(kRSSIUnavailable);
    std::shared_ptr<BluezPeripheral> peripheral;
    std::uint64_t generation = 0;
    {
      std::lock_guard lock(mutex_);
      auto& slot = peripherals_[record.identifier()];
      if (!slot) slot = std::make_shared<BluezPeripheral>(record.identifier(), queue_);
      slot->setName(record.name());
      if (!scanning_ || !ad.passes(filter_)) return;
      if (!scanOptions_.allowDuplicates && !seen_.insert(record.identifier()).second) return;
      peripheral = slot;
      generation = generation_;
    }
    std::weak_ptr<Core> weak = weak_from_this();
    queue_->async([weak, peripheral, ad = std::move(ad), rssi, generation] {
      auto self = weak.lock();
      if (!self || !self->scanStillRunning(generation)) return;
      if (auto d = self->delegate_.lock()) d->centralDidDiscoverPeripheral(peripheral, ad, rssi);
    });
  }

  // --- any thread ---------------------------------------------------------------------

  bool scanStillRunning(std::uint64_t generation) const {
    std::lock_guard lock(mutex_);
    return scanning_ && generation_ == generation;
  }

  bool owns(const std::shared_ptr<Peripheral>& peripheral) const {
    std::lock_guard lock(mutex_);
    auto it = peripherals_.find(peripheral->identifier());
    return it != peripherals_.end() && it->second.get() == peripheral.get();
  }

  // Records the state and tells the delegate when it changed (always the first time).
  // Any state but on ends the scan.
  void report(CentralState state) {
    {
      std::lock_guard lock(mutex_);
      if (reported_ && state == state_) return;
      reported_ = true;
      state_ = state;
      if (state != CentralState::PoweredOn) {
        scanning_ = false;
        ++generation_;
      }
    }
    post([state](CentralDelegate& d) { d.centralDidUpdateState(state); });
  }

  template <class Call>
  void post(Call call) {
    std::weak_ptr<CentralDelegate> delegate = delegate_;
    queue_->async([delegate, call] {
      if (auto d = delegate.lock()) call(*d);
    });
  }

  const BluezOptions options_;
  const std::weak_ptr<CentralDelegate> delegate_;
  const std::shared_ptr<dispatch::Queue> queue_;

  mutable std::mutex mutex_;
  CentralState state_ = CentralState::Unknown;
  bool reported_ = false;
  bool scanning_ = false;
  std::uint64_t generation_ = 0;
  std::vector<BluetoothUUID> filter_;
  ScanOptions scanOptions_;
  std::set<Uuid> seen_;
  std::map<Uuid, std::shared_ptr<BluezPeripheral>> peripherals_;

  // The loop thread's own.
  std::unique_ptr<sdbus::IConnection> connection_;
  std::vector<sdbus::Slot> matches_;
  std::map<std::string, std::unique_ptr<sdbus::IProxy>> proxies_;
  std::uint64_t queryGeneration_ = 0;
  std::string owner_;
  bool accessDenied_ = false;
  std::map<std::string, AdapterInfo> adapters_;
  std::optional<std::string> adapterPath_;
  std::vector<std::pair<std::string, Properties>> pendingDevices_;
  std::map<std::string, std::unique_ptr<DeviceRecord>> devices_;
  bool discovering_ = false;

  BusLoop loop_;  // last: its thread starts when everything above exists
};

class BluezCentral final : public Central {
 public:
  explicit BluezCentral(std::shared_ptr<Core> core) : core_(std::move(core)) {}
  ~BluezCentral() override { core_->shutdown(); }

  CentralState state() const override { return core_->state(); }
  void scanForPeripherals(std::vector<BluetoothUUID> services, ScanOptions options) override {
    core_->scan(std::move(services), options);
  }
  void stopScan() override { core_->stopScan(); }
  bool isScanning() const override { return core_->isScanning(); }
  std::vector<std::shared_ptr<Peripheral>> retrievePeripherals(const std::vector<Uuid>& identifiers) override {
    return core_->retrieve(identifiers);
  }
  void connect(const std::shared_ptr<Peripheral>& peripheral) override { core_->connect(peripheral); }
  void cancelPeripheralConnection(const std::shared_ptr<Peripheral>&) override {}

 private:
  const std::shared_ptr<Core> core_;
};

}  // namespace

CentralMaker bluezCentralMaker(BluezOptions options) {
  return CentralMaker([options](std::weak_ptr<CentralDelegate> delegate, std::shared_ptr<dispatch::Queue> queue,
                                CentralOptions) -> std::shared_ptr<Central> {
    if (!queue) return nullptr;
    auto core = std::make_shared<Core>(options, std::move(delegate), std::move(queue));
    core->start();
    return std::make_shared<BluezCentral>(std::move(core));
  });
}

bool bluezServiceAvailable(const BluezOptions& options) {
  try {
    auto connection = openBus(options);
    auto bus = sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    bool has = false;
    bus->callMethod("NameHasOwner")
        .onInterface("org.freedesktop.DBus")
        .withTimeout(options.callTimeout)
        .withArguments(kService)
        .storeResultsTo(has);
    if (has) return true;
    std::vector<std::string> activatable;
    bus->callMethod("ListActivatableNames")
        .onInterface("org.freedesktop.DBus")
        .withTimeout(options.callTimeout)
        .storeResultsTo(activatable);
    return std::find(activatable.begin(), activatable.end(), kService) != activatable.end();
  } catch (const sdbus::Error& e) {
    Log::info(kCategory, "no Bluetooth service on the bus: {}", e.what());
    return false;
  }
}

}  // namespace velmora::platform::bluetooth::bluez

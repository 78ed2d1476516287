#include "platform/sim/SimRadio.h"

#include <algorithm>
#include <set>

namespace velmora::platform::sim {

using bluetooth::AdvertisementData;
using bluetooth::BluetoothUUID;
using bluetooth::CentralState;
using bluetooth::PeripheralState;

namespace {

// A peripheral as one simulated central knows it. Requests go to the GATT server the radio
// has for it (answered "not supported" when it has none) and its answers come back on the
// central's queue, through the delegate of that moment.
class SimPeripheral final : public bluetooth::Peripheral, public std::enable_shared_from_this<SimPeripheral> {
 public:
  SimPeripheral(Uuid id, std::weak_ptr<SimRadio> radio, std::shared_ptr<dispatch::Queue> queue)
      : id_(id), radio_(std::move(radio)), queue_(std::move(queue)) {}

  Uuid identifier() const override { return id_; }
  std::optional<std::string> name() const override {
    auto radio = radio_.lock();
    return radio ? radio->nameOf(id_) : std::nullopt;
  }
  PeripheralState state() const override { return state_.load(); }
  // The link's state changes under the owning central's lock. The GATT server a connection
  // attaches to is the one resolved when the connect began (linkTo), so no state change
  // reaches back into the radio while the central's lock is held: the radio's lock is never
  // taken inside a central's.
  void linkTo(std::shared_ptr<SimGattServer> server) { link_ = std::move(server); }
  // The server is attached before Connected becomes visible: a request made by a thread that
  // has just seen the peripheral connected belongs to the new connection and gets its answer.
  void setState(PeripheralState s) {
    const PeripheralState old = state_.load();
    if (s == old) return;
    if (s == PeripheralState::Connected && link_) {
      std::weak_ptr<SimPeripheral> weak = weak_from_this();
      link_->attach([weak](const BluetoothUUID& uuid, const Bytes& value) {
        if (auto self = weak.lock()) self->notified(uuid, value);
      });
    }
    state_.store(s);
    if (old == PeripheralState::Connected && link_) link_->detach();
    if (s == PeripheralState::Disconnected) link_.reset();
  }

  void setDelegate(std::weak_ptr<bluetooth::PeripheralDelegate> delegate) override {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
  }
  std::shared_ptr<bluetooth::PeripheralDelegate> delegate() const override {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
  }
  std::optional<std::vector<std::shared_ptr<bluetooth::GattService>>> services() const override {
    std::lock_guard lock(mutex_);
    return services_;
  }

  void discoverServices(std::optional<std::vector<BluetoothUUID>> uuids) override {
    auto server = usableServer([](auto& d, auto& self, auto& error) { d.peripheralDidDiscoverServices(self, error); });
    if (!server) return;
    std::weak_ptr<SimPeripheral> weak = weak_from_this();
    server->discoverServices(std::move(uuids), [weak](const SimGattServer::Reply& reply) {
      auto self = weak.lock();
      if (!self) return;
      self->post(
          [reply](SimPeripheral& me) {
            if (reply.error) return;
            std::lock_guard lock(me.mutex_);
            std::vector<std::shared_ptr<bluetooth::GattService>> found;
            for (const auto& uuid : reply.services) found.push_back(me.serviceLocked(uuid));
            me.services_ = std::move(found);
          },
          [error = reply.error](auto& d, auto& p) { d.peripheralDidDiscoverServices(p, error); });
    });
  }
  void discoverCharacteristics(std::optional<std::vector<BluetoothUUID>> uuids,
                               const std::shared_ptr<bluetooth::GattService>& service) override {
    auto server = usableServer(
        [service](auto& d, auto& self, auto& error) { d.peripheralDidDiscoverCharacteristics(self, service, error); });
    if (!server || !service) return;
    std::weak_ptr<SimPeripheral> weak = weak_from_this();
    server->discoverCharacteristics(service->uuid(), std::move(uuids), [weak, service](const SimGattServer::Reply& reply) {
      auto self = weak.lock();
      if (!self) return;
      self->post(
          [reply, service](SimPeripheral&) {
            if (reply.error) return;
            // Keep the objects the central already holds; add the newly found ones.
            auto list = service->characteristics().value_or(std::vector<std::shared_ptr<bluetooth::GattCharacteristic>>{});
            for (const auto& entry : reply.characteristics) {
              const BluetoothUUID& uuid = entry.first;
              const bool known = std::any_of(list.begin(), list.end(), [&](const auto& c) { return c->uuid() == uuid; });
              if (!known) list.push_back(std::make_shared<bluetooth::GattCharacteristic>(uuid, entry.second, service));
            }
            service->setCharacteristics(std::move(list));
          },
          [service, error = reply.error](auto& d, auto& p) { d.peripheralDidDiscoverCharacteristics(p, service, error); });
    });
  }
  void readValue(const std::shared_ptr<bluetooth::GattCharacteristic>& c) override {
    auto server = usableServer([c](auto& d, auto& self, auto& error) { d.peripheralDidUpdateValue(self, c, error); });
    if (!server || !c) return;
    std::weak_ptr<SimPeripheral> weak = weak_from_this();
    server->read(c->uuid(), [weak, c](const SimGattServer::Reply& reply) {
      auto self = weak.lock();
      if (!self) return;
      self->post(
          [c, reply](SimPeripheral&) {
            if (!reply.error) c->setValue(reply.value);
          },
          [c, error = reply.error](auto& d, auto& p) { d.peripheralDidUpdateValue(p, c, error); });
    });
  }
  void writeValue(const Bytes& value, const std::shared_ptr<bluetooth::GattCharacteristic>& c,
                  bluetooth::WriteType type) override {
    const bool withResponse = type == bluetooth::WriteType::WithResponse;
    if (!c) return;
    auto server = serverFor();
    if (!server || state() != PeripheralState::Connected) {
      if (withResponse) answerError([c](auto& d, auto& self, auto& error) { d.peripheralDidWriteValue(self, c, error); });
      return;
    }
    std::weak_ptr<SimPeripheral> weak = weak_from_this();
    server->write(c->uuid(), value, withResponse, [weak, c](const SimGattServer::Reply& reply) {
      if (auto self = weak.lock()) {
        self->post([c, error = reply.error](auto& d, auto& p) { d.peripheralDidWriteValue(p, c, error); });
      }
    });
  }
  void setNotifyValue(bool on, const std::shared_ptr<bluetooth::GattCharacteristic>& c) override {
    auto server = usableServer(
        [c](auto& d, auto& self, auto& error) { d.peripheralDidUpdateNotificationState(self, c, error); });
    if (!server || !c) return;
    std::weak_ptr<SimPeripheral> weak = weak_from_this();
    server->setNotify(c->uuid(), on, [weak, c](const SimGattServer::Reply& reply) {
      auto self = weak.lock();
      if (!self) return;
      self->post([c, notifying = reply.notifying](SimPeripheral&) { c->setNotifying(notifying); },
                 [c, error = reply.error](auto& d, auto& p) { d.peripheralDidUpdateNotificationState(p, c, error); });
    });
  }

 private:
  std::shared_ptr<SimGattServer> serverFor() const {
    auto radio = radio_.lock();
    return radio ? radio->gattServerFor(id_) : nullptr;
  }
  // The server when a request can reach it; otherwise the error is posted and nullptr returned.
  template <class Call>
  std::shared_ptr<SimGattServer> usableServer(Call call) {
    auto server = serverFor();
    if (server && state() == PeripheralState::Connected) return server;
    answerError(call);
    return nullptr;
  }
  template <class Call>
  void answerError(Call call) {
    const bool connected = state() == PeripheralState::Connected;
    std::optional<Error> error =
        connected ? bluetooth::gatt::makeError(bluetooth::gatt::kRequestNotSupported, "The request is not supported.")
                  : bluetooth::gatt::makeError(bluetooth::gatt::kNotConnected, "The peripheral is not connected.");
    post([call, error](auto& d, auto& p) { call(d, p, error); });
  }
  // On the central's queue: the update of the central's objects, then the delegate's event,
  // so a delegate sees the state its event reports.
  template <class Call>
  void post(Call call) {
    post([](SimPeripheral&) {}, std::move(call));
  }
  template <class Update, class Call>
  void post(Update update, Call call) {
    std::weak_ptr<SimPeripheral> weak = weak_from_this();
    queue_->async([weak, update, call] {
      auto self = weak.lock();
      if (!self) return;
      update(*self);
      if (auto d = self->delegate()) {
        std::shared_ptr<bluetooth::Peripheral> p = self;
        call(*d, p);
      }
    });
  }
  void notified(const BluetoothUUID& uuid, const Bytes& value) {
    std::shared_ptr<bluetooth::GattCharacteristic> target;
    {
      std::lock_guard lock(mutex_);
      for (const auto& s : services_.value_or(std::vector<std::shared_ptr<bluetooth::GattService>>{})) {
        for (const auto& c : s->characteristics().value_or(std::vector<std::shared_ptr<bluetooth::GattCharacteristic>>{})) {
          if (c->uuid() == uuid) target = c;
        }
      }
    }
    if (!target) return;  // the central never discovered it
    post([target, value](SimPeripheral&) { target->setValue(value); },
         [target](auto& d, auto& p) { d.peripheralDidUpdateValue(p, target, std::nullopt); });
  }
  std::shared_ptr<bluetooth::GattService> serviceLocked(const BluetoothUUID& uuid) {
    auto& slot = serviceObjects_[uuid];
    if (!slot) slot = std::make_shared<bluetooth::GattService>(uuid);
    return slot;
  }

  const Uuid id_;
  const std::weak_ptr<SimRadio> radio_;
  const std::shared_ptr<dispatch::Queue> queue_;
  std::atomic<PeripheralState> state_{PeripheralState::Disconnected};
  mutable std::mutex mutex_;
  std::weak_ptr<bluetooth::PeripheralDelegate> delegate_;
  std::optional<std::vector<std::shared_ptr<bluetooth::GattService>>> services_;
  std::map<BluetoothUUID, std::shared_ptr<bluetooth::GattService>> serviceObjects_;
  std::shared_ptr<SimGattServer> link_;  // guarded by the owning central's lock
};

}  // namespace

// One central on the simulated radio.
class SimCentral final : public bluetooth::Central, public std::enable_shared_from_this<SimCentral> {
 public:
  SimCentral(std::weak_ptr<SimRadio> radio, std::shared_ptr<SimTimeline> timeline,
             std::weak_ptr<bluetooth::CentralDelegate> delegate, std::shared_ptr<dispatch::Queue> queue, CentralState power)
      : radio_(std::move(radio)),
        timeline_(std::move(timeline)),
        delegate_(std::move(delegate)),
        queue_(std::move(queue)),
        power_(power) {}

  CentralState state() const override {
    std::lock_guard lock(mutex_);
    return power_;
  }

  void scanForPeripherals(std::vector<BluetoothUUID> services, bluetooth::ScanOptions options) override {
    std::lock_guard lock(mutex_);
    if (power_ != CentralState::PoweredOn) return;
    scanning_ = true;
    filter_ = std::move(services);
    options_ = options;
    ++scanGeneration_;
    seen_.clear();
  }
  void stopScan() override {
    std::lock_guard lock(mutex_);
    scanning_ = false;
    ++scanGeneration_;
  }
  bool isScanning() const override {
    std::lock_guard lock(mutex_);
    return scanning_;
  }

  std::vector<std::shared_ptr<bluetooth::Peripheral>> retrievePeripherals(const std::vector<Uuid>& ids) override {
    auto radio = radio_.lock();
    std::vector<std::shared_ptr<bluetooth::Peripheral>> out;
    if (!radio) return out;
    std::vector<Uuid> known;
    for (const auto& id : ids) {
      if (radio->knows(id)) known.push_back(id);
    }
    std::lock_guard lock(mutex_);  // after the radio's lock is released: the radio locks it inside its own
    for (const auto& id : known) out.push_back(peripheralLocked(id));
    return out;
  }

  void connect(const std::shared_ptr<bluetooth::Peripheral>& peripheral) override {
    auto radio = radio_.lock();
    if (!radio || !peripheral) return;
    const Uuid id = peripheral->identifier();
    // What the radio knows is read before this central's lock is taken (see linkTo).
    const SimConnectScript script = radio->connectScriptFor(id);
    auto server = radio->gattServerFor(id);
    std::lock_guard lock(mutex_);
    auto p = ownLocked(peripheral);
    if (!p || power_ != CentralState::PoweredOn || p->state() != PeripheralState::Disconnected) return;
    p->linkTo(std::move(server));
    p->setState(PeripheralState::Connecting);
    std::weak_ptr<SimCentral> weak = weak_from_this();
    pendingConnects_[id] = timeline_->after(script.latencySeconds, [weak, id, failure = script.failure] {
      if (auto self = weak.lock()) self->finishConnect(id, failure);
    });
  }

  void cancelPeripheralConnection(const std::shared_ptr<bluetooth::Peripheral>& peripheral) override {
    if (!peripheral) return;
    std::lock_guard lock(mutex_);
    auto p = ownLocked(peripheral);
    if (!p || p->state() == PeripheralState::Disconnected) return;
    dropConnectionLocked(p);
    post([p](bluetooth::CentralDelegate& d) { d.centralDidDisconnectPeripheral(p, std::nullopt); });
  }

  // Called once by the radio after it registered this central, outside the radio's lock.
  // Posts the state of that moment: when a power change came in between, the delegate hears
  // the new state twice, never an old state after a newer one.
  void start() {
    std::lock_guard lock(mutex_);
    const CentralState power = power_;
    post([power](bluetooth::CentralDelegate& d) { d.centralDidUpdateState(power); });
  }

  void hear(const Uuid& id, const AdvertisementData& ad, int rssi, bool iBeacon, bool showIBeacons) {
    std::lock_guard lock(mutex_);
    if (!scanning_ || (iBeacon && !showIBeacons) || !ad.passes(filter_)) return;
    if (!options_.allowDuplicates && !seen_.insert(id).second) return;
    std::shared_ptr<bluetooth::Peripheral> p = peripheralLocked(id);
    const std::uint64_t generation = scanGeneration_;
    std::weak_ptr<SimCentral> weak = weak_from_this();
    queue_->async([weak, p, ad, rssi, generation] {
      auto self = weak.lock();
      if (!self || !self->scanStillRunning(generation)) return;
      if (auto d = self->delegate_.lock()) d->centralDidDiscoverPeripheral(p, ad, rssi);
    });
  }

  // Drops the peripheral object when nobody but this central holds it and it has no link.
  void forget(const Uuid& id) {
    std::lock_guard lock(mutex_);
    auto it = peripherals_.find(id);
    if (it == peripherals_.end()) return;
    if (it->second.use_count() > 1 || it->second->state() != PeripheralState::Disconnected ||
        pendingConnects_.count(id)) {
      return;
    }
    peripherals_.erase(it);
    seen_.erase(id);
  }

  // The peripheral ended a link it had with this central.
  void linkLost(const Uuid& id, const std::optional<Error>& error) {
    std::lock_guard lock(mutex_);
    auto it = peripherals_.find(id);
    if (it == peripherals_.end() || it->second->state() != PeripheralState::Connected) return;
    std::shared_ptr<SimPeripheral> p = it->second;
    dropConnectionLocked(p);
    post([p, error](bluetooth::CentralDelegate& d) { d.centralDidDisconnectPeripheral(p, error); });
  }

  void powerChanged(CentralState power) {
    std::lock_guard lock(mutex_);
    power_ = power;
    if (power != CentralState::PoweredOn) {
      scanning_ = false;
      ++scanGeneration_;
      for (auto& [id, p] : peripherals_) {
        const auto was = p->state();
        if (was == PeripheralState::Disconnected) continue;
        dropConnectionLocked(p);
        const Error lost = bluetooth::gatt::makeError(bluetooth::gatt::kConnectionLost, "The connection was lost.");
        std::shared_ptr<bluetooth::Peripheral> peripheral = p;
        if (was == PeripheralState::Connecting) {
          post([peripheral, lost](bluetooth::CentralDelegate& d) { d.centralDidFailToConnectPeripheral(peripheral, lost); });
        } else {
          post([peripheral, lost](bluetooth::CentralDelegate& d) { d.centralDidDisconnectPeripheral(peripheral, lost); });
        }
      }
    }
    post([power](bluetooth::CentralDelegate& d) { d.centralDidUpdateState(power); });
  }

 private:
  void finishConnect(const Uuid& id, const std::optional<Error>& failure) {
    std::lock_guard lock(mutex_);
    auto it = peripherals_.find(id);
    if (it == peripherals_.end() || it->second->state() != PeripheralState::Connecting) return;
    pendingConnects_.erase(id);
    std::shared_ptr<bluetooth::Peripheral> p = it->second;
    if (failure) {
      it->second->setState(PeripheralState::Disconnected);
      post([p, failure](bluetooth::CentralDelegate& d) { d.centralDidFailToConnectPeripheral(p, failure); });
    } else {
      it->second->setState(PeripheralState::Connected);
      post([p](bluetooth::CentralDelegate& d) { d.centralDidConnectPeripheral(p); });
    }
  }

  void dropConnectionLocked(const std::shared_ptr<SimPeripheral>& p) {
    auto pending = pendingConnects_.find(p->identifier());
    if (pending != pendingConnects_.end()) {
      timeline_->cancel(pending->second);
      pendingConnects_.erase(pending);
    }
    p->setState(PeripheralState::Disconnected);
  }

  bool scanStillRunning(std::uint64_t generation) const {
    std::lock_guard lock(mutex_);
    return scanning_ && scanGeneration_ == generation;
  }

  std::shared_ptr<SimPeripheral> peripheralLocked(const Uuid& id) {
    auto& slot = peripherals_[id];
    if (!slot) slot = std::make_shared<SimPeripheral>(id, radio_, queue_);
    return slot;
  }
  // The peripheral object when it is one of this central's.
  std::shared_ptr<SimPeripheral> ownLocked(const std::shared_ptr<bluetooth::Peripheral>& peripheral) {
    auto it = peripherals_.find(peripheral->identifier());
    if (it == peripherals_.end() || it->second.get() != peripheral.get()) return nullptr;
    return it->second;
  }

  template <class Call>
  void post(Call call) {
    std::weak_ptr<bluetooth::CentralDelegate> delegate = delegate_;
    queue_->async([delegate, call] {
      if (auto d = delegate.lock()) call(*d);
    });
  }

  const std::weak_ptr<SimRadio> radio_;
  const std::shared_ptr<SimTimeline> timeline_;
  const std::weak_ptr<bluetooth::CentralDelegate> delegate_;
  const std::shared_ptr<dispatch::Queue> queue_;
  mutable std::mutex mutex_;
  CentralState power_ = CentralState::Unknown;
  bool scanning_ = false;
  std::uint64_t scanGeneration_ = 0;
  std::vector<BluetoothUUID> filter_;
  bluetooth::ScanOptions options_;
  std::set<Uuid> seen_;
  std::map<Uuid, std::shared_ptr<SimPeripheral>> peripherals_;
  std::map<Uuid, SimTimeline::Id> pendingConnects_;
};

std::shared_ptr<SimRadio> SimRadio::create(std::shared_ptr<dispatch::Scheduler> scheduler, CentralState power) {
  return std::shared_ptr<SimRadio>(new SimRadio(std::move(scheduler), power));
}

SimRadio::SimRadio(std::shared_ptr<dispatch::Scheduler> scheduler, CentralState power)
    : scheduler_(std::move(scheduler)), timeline_(SimTimeline::create(scheduler_, "platform.sim.radio")), power_(power) {}

SimRadio::~SimRadio() = default;

bluetooth::CentralMaker SimRadio::centralMaker() {
  std::weak_ptr<SimRadio> weak = weak_from_this();
  return bluetooth::CentralMaker([weak](std::weak_ptr<bluetooth::CentralDelegate> delegate,
                                        std::shared_ptr<dispatch::Queue> queue,
                                        bluetooth::CentralOptions options) -> std::shared_ptr<bluetooth::Central> {
    auto self = weak.lock();
    if (!self) return bluetooth::unsupportedCentralMaker()(std::move(delegate), std::move(queue), options);
    return self->makeCentral(std::move(delegate), std::move(queue), options);
  });
}

std::shared_ptr<bluetooth::Central> SimRadio::makeCentral(std::weak_ptr<bluetooth::CentralDelegate> delegate,
                                                          std::shared_ptr<dispatch::Queue> queue,
                                                          bluetooth::CentralOptions) {
  // Lock order: a central's lock may be taken after the radio's has been released, never
  // inside it (a central reads the radio while it connects). The central is made with the
  // power of the moment it is registered, so a power change that follows reaches it.
  std::shared_ptr<SimCentral> central;
  {
    std::lock_guard lock(mutex_);
    central = std::make_shared<SimCentral>(weak_from_this(), timeline_, std::move(delegate), std::move(queue), power_);
    std::erase_if(centrals_, [](const auto& c) { return c.expired(); });
    centrals_.push_back(central);
  }
  central->start();
  return central;
}

void SimRadio::setPowerState(CentralState state) {
  std::vector<std::shared_ptr<SimCentral>> centrals;
  {
    std::lock_guard lock(mutex_);
    if (power_ == state) return;
    power_ = state;
    for (const auto& weak : centrals_) {
      if (auto c = weak.lock()) centrals.push_back(std::move(c));
    }
  }
  for (const auto& c : centrals) c->powerChanged(state);
}

CentralState SimRadio::powerState() const {
  std::lock_guard lock(mutex_);
  return power_;
}

void SimRadio::play(const SimTrace& trace) {
  const std::int64_t base = timeline_->nowMicros();
  std::weak_ptr<SimRadio> weak = weak_from_this();
  for (const auto& event : trace.events()) {
    timeline_->at(base + event.atMicros, [weak, event] {
      auto self = weak.lock();
      if (!self) return;
      if (event.kind == TraceEvent::Kind::Power) {
        self->setPowerState(event.power);
      } else {
        self->transmit(event.peripheral, event.advertisement, event.rssi);
      }
    });
  }
}

void SimRadio::addAdvertiser(SimAdvertiser spec) {
  auto advertiser = std::make_shared<Advertiser>();
  advertiser->addedAt = timeline_->nowMicros();
  advertiser->intervalMicros = std::max<std::int64_t>(1, SimTimeline::toMicros(spec.intervalSeconds));
  const std::int64_t first = advertiser->addedAt + SimTimeline::toMicros(spec.phaseSeconds);
  advertiser->spec = std::move(spec);
  {
    std::lock_guard lock(mutex_);
    advertisers_[advertiser->spec.identifier] = advertiser;
    known_[advertiser->spec.identifier] = advertiser->spec.advertisement.localName;
  }
  scheduleAdvertiser(std::move(advertiser), first);
}

void SimRadio::removeAdvertiser(const Uuid& identifier) {
  std::lock_guard lock(mutex_);
  advertisers_.erase(identifier);
}

void SimRadio::forgetPeripheral(const Uuid& identifier) {
  std::vector<std::shared_ptr<SimCentral>> centrals;
  {
    std::lock_guard lock(mutex_);
    advertisers_.erase(identifier);
    known_.erase(identifier);
    connectScripts_.erase(identifier);
    gattServers_.erase(identifier);
    for (const auto& weak : centrals_) {
      if (auto c = weak.lock()) centrals.push_back(std::move(c));
    }
  }
  for (const auto& c : centrals) c->forget(identifier);
}

void SimRadio::scheduleAdvertiser(std::shared_ptr<const Advertiser> advertiser, std::int64_t at) {
  std::weak_ptr<SimRadio> weak = weak_from_this();
  timeline_->at(at, [weak, advertiser = std::move(advertiser), at]() mutable {
    auto self = weak.lock();
    if (!self) return;
    {
      std::lock_guard lock(self->mutex_);
      auto it = self->advertisers_.find(advertiser->spec.identifier);
      if (it == self->advertisers_.end() || it->second != advertiser) return;  // removed or replaced
    }
    const auto& spec = advertiser->spec;
    const int rssi = spec.rssiOverTime
                         ? spec.rssiOverTime(static_cast<double>(at - advertiser->addedAt) / 1e6)
                         : spec.rssi;
    self->transmit(spec.identifier, spec.advertisement, rssi);
    const std::int64_t next = at + advertiser->intervalMicros;
    self->scheduleAdvertiser(std::move(advertiser), next);
  });
}

void SimRadio::advertise(const Uuid& peripheral, AdvertisementData advertisement, int rssi) {
  std::weak_ptr<SimRadio> weak = weak_from_this();
  timeline_->at(timeline_->nowMicros(), [weak, peripheral, advertisement = std::move(advertisement), rssi] {
    if (auto self = weak.lock()) self->transmit(peripheral, advertisement, rssi);
  });
}

void SimRadio::transmit(const Uuid& peripheral, const AdvertisementData& advertisement, int rssi) {
  sent_.fetch_add(1, std::memory_order_relaxed);
  const bool iBeacon = isIBeaconFrame(advertisement);
  std::vector<std::shared_ptr<SimCentral>> centrals;
  std::vector<std::shared_ptr<AirObserver>> observers;
  bool show = false;
  {
    std::lock_guard lock(mutex_);
    auto& name = known_[peripheral];
    if (advertisement.localName) name = advertisement.localName;
    for (const auto& weak : centrals_) {
      if (auto c = weak.lock()) centrals.push_back(std::move(c));
    }
    for (const auto& [id, observer] : observers_) observers.push_back(observer);
    show = showIBeacons_;
  }
  for (const auto& c : centrals) c->hear(peripheral, advertisement, rssi, iBeacon, show);
  for (const auto& o : observers) (*o)(peripheral, advertisement, rssi);
}

void SimRadio::dropConnections(const Uuid& peripheral, std::optional<Error> error) {
  std::vector<std::shared_ptr<SimCentral>> centrals;
  {
    std::lock_guard lock(mutex_);
    for (const auto& weak : centrals_) {
      if (auto c = weak.lock()) centrals.push_back(std::move(c));
    }
  }
  for (const auto& c : centrals) c->linkLost(peripheral, error);
}

void SimRadio::setDefaultConnectScript(SimConnectScript script) {
  std::lock_guard lock(mutex_);
  defaultConnect_ = std::move(script);
}

void SimRadio::setConnectScript(const Uuid& peripheral, SimConnectScript script) {
  std::lock_guard lock(mutex_);
  connectScripts_[peripheral] = std::move(script);
}

SimConnectScript SimRadio::connectScriptFor(const Uuid& peripheral) const {
  std::lock_guard lock(mutex_);
  auto it = connectScripts_.find(peripheral);
  return it != connectScripts_.end() ? it->second : defaultConnect_;
}

void SimRadio::setShowsIBeaconFramesToScans(bool show) {
  std::lock_guard lock(mutex_);
  showIBeacons_ = show;
}

bool SimRadio::isIBeaconFrame(const AdvertisementData& advertisement) {
  const auto& m = advertisement.manufacturerData;
  return m && m->size() >= 25 && (*m)[0] == 0x4C && (*m)[1] == 0x00 && (*m)[2] == 0x02 && (*m)[3] == 0x15;
}

std::uint64_t SimRadio::addAirObserver(AirObserver observer) {
  std::lock_guard lock(mutex_);
  const auto id = nextId_++;
  observers_[id] = std::make_shared<AirObserver>(std::move(observer));
  return id;
}

void SimRadio::removeAirObserver(std::uint64_t id) {
  std::lock_guard lock(mutex_);
  observers_.erase(id);
}

bool SimRadio::knows(const Uuid& peripheral) const {
  std::lock_guard lock(mutex_);
  return known_.contains(peripheral);
}

std::optional<std::string> SimRadio::nameOf(const Uuid& peripheral) const {
  std::lock_guard lock(mutex_);
  auto it = known_.find(peripheral);
  return it != known_.end() ? it->second : std::nullopt;
}

}  // namespace velmora::platform::sim

namespace velmora::platform::sim {

void SimRadio::setGattServer(const Uuid& peripheral, std::shared_ptr<SimGattServer> server) {
  std::lock_guard lock(mutex_);
  gattServers_[peripheral] = std::move(server);
  known_.try_emplace(peripheral, std::nullopt);  // a device with a GATT server can be retrieved
}

std::shared_ptr<SimGattServer> SimRadio::gattServerFor(const Uuid& peripheral) const {
  std::lock_guard lock(mutex_);
  auto it = gattServers_.find(peripheral);
  return it == gattServers_.end() ? nullptr : it->second;
}

}  // namespace velmora::platform::sim

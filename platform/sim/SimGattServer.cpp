#include "platform/sim/SimGattServer.h"

#include <algorithm>
#include <cmath>

#include "platform/bluetooth/Peripheral.h"

namespace velmora::platform::sim {

using bluetooth::BluetoothUUID;

std::shared_ptr<SimGattServer> SimGattServer::create(std::shared_ptr<SimTimeline> timeline, std::vector<Service> services,
                                                     Latencies latencies) {
  return std::shared_ptr<SimGattServer>(new SimGattServer(std::move(timeline), std::move(services), latencies));
}

SimGattServer::SimGattServer(std::shared_ptr<SimTimeline> timeline, std::vector<Service> services, Latencies latencies)
    : timeline_(std::move(timeline)), latencies_(latencies) {
  for (auto& service : services) {
    serviceOrder_.push_back(service.uuid);
    auto& order = characteristicOrder_[service.uuid];
    for (auto& c : service.characteristics) {
      order.push_back(c.uuid);
      characteristics_[c.uuid].spec = std::move(c);
    }
  }
}

void SimGattServer::setWriteHandler(const BluetoothUUID& characteristic, WriteHandler handler) {
  std::lock_guard lock(mutex_);
  characteristics_[characteristic].handler = std::move(handler);
}

SimGattServer::WriteHandler SimGattServer::writeHandler(const BluetoothUUID& characteristic) const {
  std::lock_guard lock(mutex_);
  auto it = characteristics_.find(characteristic);
  return it == characteristics_.end() ? WriteHandler() : it->second.handler;
}

void SimGattServer::setValue(const BluetoothUUID& characteristic, Bytes value) {
  std::lock_guard lock(mutex_);
  auto it = characteristics_.find(characteristic);
  if (it != characteristics_.end()) it->second.spec.value = std::move(value);
}

Bytes SimGattServer::value(const BluetoothUUID& characteristic) const {
  std::lock_guard lock(mutex_);
  auto it = characteristics_.find(characteristic);
  return it == characteristics_.end() ? Bytes{} : it->second.spec.value;
}

bool SimGattServer::isNotifying(const BluetoothUUID& characteristic) const {
  std::lock_guard lock(mutex_);
  auto it = characteristics_.find(characteristic);
  return it != characteristics_.end() && it->second.notifying;
}

void SimGattServer::notify(const BluetoothUUID& characteristic, Bytes value) {
  std::lock_guard lock(mutex_);
  auto it = characteristics_.find(characteristic);
  if (it == characteristics_.end() || !it->second.notifying || !sink_) return;
  if (it->second.dropNext) {
    it->second.dropNext = false;
    return;
  }
  if (it->second.replaceNext) {
    value = std::move(*it->second.replaceNext);
    it->second.replaceNext.reset();
  }
  Reply reply;
  reply.value = std::move(value);
  deliverLocked(latencies_.notification, Kind::Notification, characteristic, std::move(reply), nullptr);
}

void SimGattServer::failNth(Kind kind, const BluetoothUUID& characteristic, int n, Error error) {
  std::lock_guard lock(mutex_);
  faults_.push_back({kind, characteristic, std::max(n, 1), std::move(error)});
}

void SimGattServer::dropNextNotification(const BluetoothUUID& characteristic) {
  std::lock_guard lock(mutex_);
  characteristics_[characteristic].dropNext = true;
}

void SimGattServer::replaceNextValue(const BluetoothUUID& characteristic, Bytes value) {
  std::lock_guard lock(mutex_);
  characteristics_[characteristic].replaceNext = std::move(value);
}

void SimGattServer::setStalled(bool stalled) {
  std::lock_guard lock(mutex_);
  stalled_ = stalled;
}

std::vector<SimGattServer::TraceEntry> SimGattServer::trace() const {
  std::lock_guard lock(mutex_);
  return trace_;
}

std::vector<Bytes> SimGattServer::writes(const BluetoothUUID& characteristic) const {
  std::lock_guard lock(mutex_);
  auto it = writes_.find(characteristic);
  return it == writes_.end() ? std::vector<Bytes>{} : it->second;
}

void SimGattServer::attach(NotificationSink sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
  ++connection_;
}

void SimGattServer::detach() {
  std::lock_guard lock(mutex_);
  sink_ = nullptr;
  ++connection_;
  for (auto& [uuid, state] : characteristics_) state.notifying = false;
}

void SimGattServer::discoverServices(std::optional<std::vector<BluetoothUUID>> uuids, ReplyHandler done) {
  std::lock_guard lock(mutex_);
  recordLocked(Kind::DiscoverServices, false, {}, {}, std::nullopt);
  Reply reply;
  for (const auto& s : serviceOrder_) {
    if (!uuids || std::find(uuids->begin(), uuids->end(), s) != uuids->end()) reply.services.push_back(s);
  }
  deliverLocked(latencies_.discovery, Kind::DiscoverServices, {}, std::move(reply), std::move(done));
}

void SimGattServer::discoverCharacteristics(const BluetoothUUID& service, std::optional<std::vector<BluetoothUUID>> uuids,
                                            ReplyHandler done) {
  std::lock_guard lock(mutex_);
  recordLocked(Kind::DiscoverCharacteristics, false, service, {}, std::nullopt);
  Reply reply;
  auto order = characteristicOrder_.find(service);
  if (order != characteristicOrder_.end()) {
    for (const auto& c : order->second) {
      if (!uuids || std::find(uuids->begin(), uuids->end(), c) != uuids->end()) {
        reply.characteristics.emplace_back(c, characteristics_[c].spec.properties);
      }
    }
  }
  deliverLocked(latencies_.discovery, Kind::DiscoverCharacteristics, service, std::move(reply), std::move(done));
}

void SimGattServer::read(const BluetoothUUID& characteristic, ReplyHandler done) {
  std::lock_guard lock(mutex_);
  recordLocked(Kind::Read, false, characteristic, {}, std::nullopt);
  Reply reply;
  reply.error = faultLocked(Kind::Read, characteristic);
  auto it = characteristics_.find(characteristic);
  if (!reply.error && it == characteristics_.end()) {
    reply.error = bluetooth::gatt::makeError(bluetooth::gatt::kRequestNotSupported, "The request is not supported.");
  }
  if (!reply.error) {
    if (it->second.replaceNext) {
      reply.value = std::move(*it->second.replaceNext);
      it->second.replaceNext.reset();
    } else {
      reply.value = it->second.spec.value;
    }
  }
  deliverLocked(latencies_.read, Kind::Read, characteristic, std::move(reply), std::move(done));
}

void SimGattServer::write(const BluetoothUUID& characteristic, Bytes value, bool withResponse, ReplyHandler done) {
  WriteHandler handler;
  {
    std::lock_guard lock(mutex_);
    const Kind kind = withResponse ? Kind::Write : Kind::WriteWithoutResponse;
    recordLocked(kind, false, characteristic, value, std::nullopt);
    Reply reply;
    reply.error = faultLocked(kind, characteristic);
    auto it = characteristics_.find(characteristic);
    if (!reply.error && it == characteristics_.end()) {
      reply.error = bluetooth::gatt::makeError(bluetooth::gatt::kRequestNotSupported, "The request is not supported.");
    }
    if (!reply.error && withResponse && value.size() > kMaxWriteWithResponse) {
      reply.error = Error(std::string(bluetooth::gatt::kErrorDomain), kAttInvalidAttributeValueLength,
                          "The value's length is invalid.");
    }
    if (!reply.error) {
      it->second.spec.value = value;
      writes_[characteristic].push_back(value);
      handler = it->second.handler;
    }
    if (withResponse) deliverLocked(latencies_.write, kind, characteristic, std::move(reply), std::move(done));
    if (reply.error) return;
  }
  if (handler) handler(*this, value);
}

void SimGattServer::setNotify(const BluetoothUUID& characteristic, bool on, ReplyHandler done) {
  std::lock_guard lock(mutex_);
  recordLocked(Kind::NotifySwitch, false, characteristic, Bytes{static_cast<std::uint8_t>(on)}, std::nullopt);
  Reply reply;
  reply.error = faultLocked(Kind::NotifySwitch, characteristic);
  auto it = characteristics_.find(characteristic);
  if (!reply.error && (it == characteristics_.end() ||
                       (it->second.spec.properties & (bluetooth::kPropertyNotify | bluetooth::kPropertyIndicate)) == 0)) {
    reply.error = bluetooth::gatt::makeError(bluetooth::gatt::kRequestNotSupported, "The request is not supported.");
  }
  if (!reply.error) it->second.notifying = on;
  reply.notifying = it != characteristics_.end() && it->second.notifying;
  deliverLocked(latencies_.notifySwitch, Kind::NotifySwitch, characteristic, std::move(reply), std::move(done));
}

std::optional<Error> SimGattServer::faultLocked(Kind kind, const BluetoothUUID& uuid) {
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->kind != kind || it->uuid != uuid) continue;
    if (--it->remaining > 0) continue;
    Error error = std::move(it->error);
    faults_.erase(it);
    return error;
  }
  return std::nullopt;
}

void SimGattServer::recordLocked(Kind kind, bool answer, const BluetoothUUID& uuid, Bytes bytes,
                                 const std::optional<Error>& error) {
  trace_.push_back({timeline_->nowMicros(), kind, answer, uuid, std::move(bytes),
                    error ? std::optional<std::int64_t>(error->code) : std::nullopt});
}

void SimGattServer::deliverLocked(double latency, Kind kind, BluetoothUUID uuid, Reply reply, ReplyHandler done) {
  if (stalled_) return;
  const std::int64_t due = std::max(lastDue_, timeline_->nowMicros() + static_cast<std::int64_t>(std::llround(latency * 1e6)));
  lastDue_ = due;
  std::weak_ptr<SimGattServer> weak = weak_from_this();
  const std::uint64_t connection = connection_;
  timeline_->at(due, [weak, kind, uuid, reply = std::move(reply), done = std::move(done), connection] {
    auto self = weak.lock();
    if (!self) return;
    NotificationSink sink;
    {
      std::lock_guard lock(self->mutex_);
      // An answer for a connection that has gone is lost with it.
      if (connection != self->connection_) return;
      self->recordLocked(kind, true, uuid, kind == Kind::Notification || kind == Kind::Read ? reply.value : Bytes{},
                         reply.error);
      if (kind == Kind::Notification) sink = self->sink_;
    }
    if (kind == Kind::Notification) {
      if (sink) sink(uuid, reply.value);
    } else if (done) {
      done(reply);
    }
  });
}

}  // namespace velmora::platform::sim

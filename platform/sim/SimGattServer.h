#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/bluetooth/BluetoothUUID.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/sim/SimTimeline.h"

namespace velmora::platform::sim {

// The GATT server of a simulated beacon, for tests and host apps that drive a configurable
// beacon without a radio. Give it to SimRadio::setGattServer for a peripheral; a central that
// connects to that peripheral then talks to it through the ordinary Peripheral interface.
//
// - Services are offered in the order given. Discovery of a list finds the listed ones (in
//   the server's order), of an empty list none, of nullopt all; the same for characteristics.
//   Characteristics are keyed by their UUID: one UUID names one characteristic on a server.
// - Every answer (discovery result, read value, write acknowledgement, notification switch,
//   notification) runs after the latency of its kind, and answers leave in the order their
//   causes happened: one never overtakes an earlier one, whatever the latencies.
// - Notifications are sent only while the central has them switched on.
// - A write with response of more than 20 bytes is refused with ATT error 13 (invalid
//   attribute value length); writes without response get no answer.
// - Write handlers are the beacon's behaviour per characteristic: they see each written
//   value (after its acknowledgement has been queued) and may change values and notify.
// - Faults: fail the n-th request of a kind on a characteristic with an error; drop the next
//   notification; replace the next read value or notification; stall (requests are recorded
//   but never answered).
// - trace() lists each request and each delivered answer with its virtual time.
//
// All methods may be called from any thread; handlers run on the timeline's queue or inside
// the request that triggered them, never under the server's lock.
class SimGattServer : public std::enable_shared_from_this<SimGattServer> {
 public:
  struct Characteristic {
    bluetooth::BluetoothUUID uuid;
    std::uint32_t properties = 0;
    Bytes value;
  };
  struct Service {
    bluetooth::BluetoothUUID uuid;
    std::vector<Characteristic> characteristics;
  };
  struct Latencies {
    double discovery = 0.005;
    double read = 0.005;
    double write = 0.005;
    double notifySwitch = 0.005;
    double notification = 0.005;
  };
  enum class Kind { DiscoverServices, DiscoverCharacteristics, Read, Write, WriteWithoutResponse, NotifySwitch, Notification };
  struct TraceEntry {
    std::int64_t micros = 0;
    Kind kind = Kind::Read;
    bool answer = false;  // false: the central's request; true: what reached the central
    bluetooth::BluetoothUUID uuid;
    Bytes bytes;
    std::optional<std::int64_t> errorCode;
  };
  // What a request gets back.
  struct Reply {
    std::optional<Error> error;
    Bytes value;
    bool notifying = false;
    std::vector<bluetooth::BluetoothUUID> services;
    std::vector<std::pair<bluetooth::BluetoothUUID, std::uint32_t>> characteristics;
  };
  using ReplyHandler = std::function<void(const Reply&)>;
  using NotificationSink = std::function<void(const bluetooth::BluetoothUUID& characteristic, const Bytes& value)>;
  using WriteHandler = std::function<void(SimGattServer& server, const Bytes& value)>;

  static constexpr std::int64_t kAttInvalidAttributeValueLength = 13;
  static constexpr std::size_t kMaxWriteWithResponse = 20;

  static std::shared_ptr<SimGattServer> create(std::shared_ptr<SimTimeline> timeline, std::vector<Service> services,
                                               Latencies latencies);
  static std::shared_ptr<SimGattServer> create(std::shared_ptr<SimTimeline> timeline, std::vector<Service> services) {
    return create(std::move(timeline), std::move(services), Latencies{});
  }

  // The beacon's side.
  void setWriteHandler(const bluetooth::BluetoothUUID& characteristic, WriteHandler handler);
  // The handler installed on the characteristic (empty when none), so another can chain it.
  WriteHandler writeHandler(const bluetooth::BluetoothUUID& characteristic) const;
  void setValue(const bluetooth::BluetoothUUID& characteristic, Bytes value);
  Bytes value(const bluetooth::BluetoothUUID& characteristic) const;
  bool isNotifying(const bluetooth::BluetoothUUID& characteristic) const;
  // Sent after the notification latency when notifications are on; otherwise nothing.
  void notify(const bluetooth::BluetoothUUID& characteristic, Bytes value);

  // Faults.
  void failNth(Kind kind, const bluetooth::BluetoothUUID& characteristic, int n, Error error);
  void dropNextNotification(const bluetooth::BluetoothUUID& characteristic);
  void replaceNextValue(const bluetooth::BluetoothUUID& characteristic, Bytes value);
  void setStalled(bool stalled);

  std::vector<TraceEntry> trace() const;
  // The values written to a characteristic (with or without response, refused ones left out).
  std::vector<Bytes> writes(const bluetooth::BluetoothUUID& characteristic) const;

  // The central's side (the simulated peripheral). A connection attaches its sink; the
  // notification switches are reset when it detaches.
  void attach(NotificationSink sink);
  void detach();
  void discoverServices(std::optional<std::vector<bluetooth::BluetoothUUID>> uuids, ReplyHandler done);
  void discoverCharacteristics(const bluetooth::BluetoothUUID& service,
                               std::optional<std::vector<bluetooth::BluetoothUUID>> uuids, ReplyHandler done);
  void read(const bluetooth::BluetoothUUID& characteristic, ReplyHandler done);
  // done is not called for a write without response.
  void write(const bluetooth::BluetoothUUID& characteristic, Bytes value, bool withResponse, ReplyHandler done);
  void setNotify(const bluetooth::BluetoothUUID& characteristic, bool on, ReplyHandler done);

 private:
  SimGattServer(std::shared_ptr<SimTimeline> timeline, std::vector<Service> services, Latencies latencies);
  struct State {
    Characteristic spec;
    bool notifying = false;
    WriteHandler handler;
    bool dropNext = false;
    std::optional<Bytes> replaceNext;
  };
  struct Fault {
    Kind kind;
    bluetooth::BluetoothUUID uuid;
    int remaining;
    Error error;
  };
  // Under the lock: the error of a fault that is due for this request, counting it.
  std::optional<Error> faultLocked(Kind kind, const bluetooth::BluetoothUUID& uuid);
  void recordLocked(Kind kind, bool answer, const bluetooth::BluetoothUUID& uuid, Bytes bytes,
                    const std::optional<Error>& error);
  // Queues an answer after the latency, never before an earlier answer.
  void deliverLocked(double latency, Kind kind, bluetooth::BluetoothUUID uuid, Reply reply, ReplyHandler done);

  const std::shared_ptr<SimTimeline> timeline_;
  const Latencies latencies_;
  mutable std::mutex mutex_;
  std::vector<bluetooth::BluetoothUUID> serviceOrder_;
  std::map<bluetooth::BluetoothUUID, std::vector<bluetooth::BluetoothUUID>> characteristicOrder_;
  std::map<bluetooth::BluetoothUUID, State> characteristics_;
  std::vector<Fault> faults_;
  std::vector<TraceEntry> trace_;
  std::map<bluetooth::BluetoothUUID, std::vector<Bytes>> writes_;
  NotificationSink sink_;
  std::uint64_t connection_ = 0;
  std::int64_t lastDue_ = 0;
  bool stalled_ = false;
};

}  // namespace velmora::platform::sim

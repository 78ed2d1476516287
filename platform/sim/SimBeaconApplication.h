#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/bluetooth/BluetoothUUID.h"
#include "platform/core/Value.h"
#include "platform/sim/SimGattServer.h"
#include "platform/sim/SimTimeline.h"

namespace velmora::platform::sim {

// The configuration side of a simulated beacon, installed as the write handler of its Control
// characteristic on a SimGattServer:
//
// - Every value written to Control is recorded (controlWrites).
// - 1D (the status request) is answered with the status block as a notification on the
//   Indicator characteristic, statusDelay seconds after the write.
// - Request-data packets 13 F0 LL <bytes> are joined into one request of LL bytes (the first
//   packet's LL counts; a request of length 0 is complete with its first packet). The request
//   handler answers it: a reply goes out as notifications on Indicator, each the reply's
//   total length T and up to 19 bytes of it; silence sends nothing.
// - Other writes are recorded and handed to the write listener, when one is set (the
//   beacon's settings side, for example).
//
// Write errors are the server's faults (SimGattServer::failNth on Control). Thread-safe.
class SimBeaconApplication : public std::enable_shared_from_this<SimBeaconApplication> {
 public:
  struct Answer {
    std::optional<Bytes> reply;  // nullopt: silence
    static Answer send(Bytes bytes) { return Answer{std::move(bytes)}; }
    static Answer silence() { return Answer{std::nullopt}; }
  };
  using RequestHandler = std::function<Answer(const Bytes& request)>;

  static constexpr std::uint8_t kStatusRequest = 0x1D;
  static constexpr std::uint8_t kRequestPrefix = 0x13;
  static constexpr std::uint8_t kRequestEndpoint = 0xF0;
  static constexpr std::size_t kReplyBytesPerNotification = 19;

  // Takes over the server's Control write handler. The request handler starts as echo().
  static std::shared_ptr<SimBeaconApplication> install(std::shared_ptr<SimGattServer> server,
                                                       std::shared_ptr<SimTimeline> timeline,
                                                       bluetooth::BluetoothUUID control,
                                                       bluetooth::BluetoothUUID indicator);

  void setRequestHandler(RequestHandler handler);
  // Sees every write that is neither a status request nor a request-data packet.
  void setWriteListener(std::function<void(const Bytes&)> listener);
  void setStatusBlock(Bytes block);
  void setStatusDelay(double seconds);

  std::vector<Bytes> controlWrites() const;
  // The joined requests, in the order they were complete.
  std::vector<Bytes> requests() const;
  // Status requests answered so far (their notifications may still be on their way).
  int statusRequests() const;

  static RequestHandler echo();
  static RequestHandler fixed(Bytes reply);
  static RequestHandler silent();

 private:
  struct Token {};

 public:
  SimBeaconApplication(Token, std::shared_ptr<SimGattServer> server, std::shared_ptr<SimTimeline> timeline,
                       bluetooth::BluetoothUUID control, bluetooth::BluetoothUUID indicator);

 private:
  void written(const Bytes& value);
  void answer(const Bytes& reply);

  const std::weak_ptr<SimGattServer> server_;
  const std::shared_ptr<SimTimeline> timeline_;
  const bluetooth::BluetoothUUID control_;
  const bluetooth::BluetoothUUID indicator_;

  mutable std::mutex mutex_;
  RequestHandler handler_;
  Bytes statusBlock_;
  double statusDelay_ = 0.05;
  std::vector<Bytes> writes_;
  std::vector<Bytes> requests_;
  std::optional<Bytes> partial_;
  std::size_t expected_ = 0;
  int statusRequests_ = 0;
  std::function<void(const Bytes&)> listener_;
};

}  // namespace velmora::platform::sim

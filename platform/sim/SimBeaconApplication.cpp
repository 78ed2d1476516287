#include "platform/sim/SimBeaconApplication.h"

#include <algorithm>

namespace velmora::platform::sim {

std::shared_ptr<SimBeaconApplication> SimBeaconApplication::install(std::shared_ptr<SimGattServer> server,
                                                                    std::shared_ptr<SimTimeline> timeline,
                                                                    bluetooth::BluetoothUUID control,
                                                                    bluetooth::BluetoothUUID indicator) {
  auto app = std::make_shared<SimBeaconApplication>(Token{}, server, std::move(timeline), control, std::move(indicator));
  std::weak_ptr<SimBeaconApplication> weak = app;
  server->setWriteHandler(control, [weak](SimGattServer&, const Bytes& value) {
    if (auto self = weak.lock()) self->written(value);
  });
  return app;
}

SimBeaconApplication::SimBeaconApplication(Token, std::shared_ptr<SimGattServer> server,
                                           std::shared_ptr<SimTimeline> timeline, bluetooth::BluetoothUUID control,
                                           bluetooth::BluetoothUUID indicator)
    : server_(server),
      timeline_(std::move(timeline)),
      control_(std::move(control)),
      indicator_(std::move(indicator)),
      handler_(echo()) {}

void SimBeaconApplication::setRequestHandler(RequestHandler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

void SimBeaconApplication::setStatusBlock(Bytes block) {
  std::lock_guard lock(mutex_);
  statusBlock_ = std::move(block);
}

void SimBeaconApplication::setStatusDelay(double seconds) {
  std::lock_guard lock(mutex_);
  statusDelay_ = seconds;
}

std::vector<Bytes> SimBeaconApplication::controlWrites() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

std::vector<Bytes> SimBeaconApplication::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

int SimBeaconApplication::statusRequests() const {
  std::lock_guard lock(mutex_);
  return statusRequests_;
}

SimBeaconApplication::RequestHandler SimBeaconApplication::echo() {
  return [](const Bytes& request) { return Answer::send(request); };
}

SimBeaconApplication::RequestHandler SimBeaconApplication::fixed(Bytes reply) {
  return [reply = std::move(reply)](const Bytes&) { return Answer::send(reply); };
}

SimBeaconApplication::RequestHandler SimBeaconApplication::silent() {
  return [](const Bytes&) { return Answer::silence(); };
}

void SimBeaconApplication::setWriteListener(std::function<void(const Bytes&)> listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

void SimBeaconApplication::written(const Bytes& value) {
  RequestHandler handler;
  std::function<void(const Bytes&)> listener;
  Bytes request;
  std::optional<Bytes> status;
  double delay = 0;
  {
    std::lock_guard lock(mutex_);
    writes_.push_back(value);
    if (value.size() == 1 && value[0] == kStatusRequest) {
      ++statusRequests_;
      status = statusBlock_;
      delay = statusDelay_;
    } else if (value.size() >= 3 && value[0] == kRequestPrefix && value[1] == kRequestEndpoint) {
      if (!partial_) {
        partial_ = Bytes{};
        expected_ = value[2];
      }
      const std::size_t room = expected_ - partial_->size();
      const std::size_t take = std::min(room, value.size() - 3);
      partial_->insert(partial_->end(), value.begin() + 3, value.begin() + 3 + static_cast<std::ptrdiff_t>(take));
      if (partial_->size() >= expected_) {
        request = std::move(*partial_);
        partial_.reset();
        requests_.push_back(request);
        handler = handler_;
      }
    } else {
      listener = listener_;
    }
  }
  if (listener) return listener(value);
  if (status) {
    std::weak_ptr<SimBeaconApplication> weak = weak_from_this();
    timeline_->after(delay, [weak, block = std::move(*status)] {
      auto self = weak.lock();
      if (!self) return;
      if (auto server = self->server_.lock()) server->notify(self->indicator_, block);
    });
    return;
  }
  if (!handler) return;
  const Answer answer = handler(request);
  if (answer.reply) this->answer(*answer.reply);
}

void SimBeaconApplication::answer(const Bytes& reply) {
  auto server = server_.lock();
  if (!server) return;
  // One length byte: a longer reply is cut to what it can announce.
  const std::size_t total = std::min<std::size_t>(reply.size(), 255);
  std::size_t offset = 0;
  do {
    const std::size_t n = std::min(kReplyBytesPerNotification, total - offset);
    Bytes notification{static_cast<std::uint8_t>(total)};
    notification.insert(notification.end(), reply.begin() + static_cast<std::ptrdiff_t>(offset),
                        reply.begin() + static_cast<std::ptrdiff_t>(offset + n));
    server->notify(indicator_, std::move(notification));
    offset += n;
  } while (offset < total);
}

}  // namespace velmora::platform::sim

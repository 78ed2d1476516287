#include "platform/bluetooth/bluez/BusLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <sdbus-c++/IConnection.h>

#include "platform/core/Log.h"

namespace velmora::platform::bluetooth::bluez {

namespace {
// Messages dispatched before posted work gets its turn again: a flood of advertisements
// cannot starve a scan request.
constexpr int kMessagesPerTurn = 64;
constexpr std::string_view kCategory = "bluetooth.bluez";
}  // namespace

BusLoop::BusLoop() {
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = std::thread([this] { run(); });
}

BusLoop::~BusLoop() {
  stop();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void BusLoop::post(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    work_.push_back(std::move(work));
  }
  wake();
}

void BusLoop::stop() {
  if (isLoopThread()) {
    reportProgrammingError("the Bluetooth bus loop cannot stop itself from its own thread");
    return;
  }
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    work_.clear();
  }
  wake();
  if (thread_.joinable()) thread_.join();
}

void BusLoop::wake() {
  const std::uint64_t one = 1;
  while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void BusLoop::setConnection(sdbus::IConnection* connection, std::function<void()> onFailure) {
  connection_ = connection;
  onFailure_ = std::move(onFailure);
}

void BusLoop::run() {
  threadId_.store(std::this_thread::get_id());
  auto failed = [this](const char* what) {
    Log::error(kCategory, "the bus connection failed: {}", what);
    connection_ = nullptr;
    auto handler = std::move(onFailure_);
    onFailure_ = nullptr;
    if (handler) handler();
  };
  for (;;) {
    std::deque<std::function<void()>> work;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      work.swap(work_);
    }
    for (auto& w : work) {
      try {
        w();
      } catch (const std::exception& e) {
        Log::error(kCategory, "bus work failed: {}", e.what());
      }
    }
    bool more = false;
    if (connection_) {
      try {
        int n = 0;
        while (connection_ && n < kMessagesPerTurn && connection_->processPendingRequest()) ++n;
        more = n == kMessagesPerTurn;
      } catch (const std::exception& e) {
        failed(e.what());
      }
    }
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
    int timeout = more ? 0 : -1;
    if (connection_) {
      try {
        const auto data = connection_->getEventLoopPollData();
        fds[1].fd = data.fd;
        fds[1].events = data.events;
        if (!more) timeout = data.getPollTimeout();
      } catch (const std::exception& e) {
        failed(e.what());
      }
    }
    const int r = ::poll(fds, fds[1].fd >= 0 ? 2 : 1, timeout);
    if (r < 0 && errno != EINTR) {
      Log::error(kCategory, "poll failed ({})", errno);
      break;
    }
    if (fds[0].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] const auto n = ::read(wakeFd_, &count, sizeof count);
    }
  }
  threadId_.store(std::thread::id());
}

}  // namespace velmora::platform::bluetooth::bluez

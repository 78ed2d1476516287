#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace sdbus {
class IConnection;
}

namespace velmora::platform::bluetooth::bluez {

// The thread that serves one D-Bus connection. Every use of the connection (calls, match
// rules, reading signals) happens on this thread: other threads post work to it. The
// loop polls the connection's descriptor and a wake-up descriptor, runs posted work in
// the order posted and dispatches incoming messages between them.
//
// The connection is owned by whoever made the loop; it is handed over with
// setConnection() from the loop thread and must outlive the loop's use of it (stop()).
class BusLoop {
 public:
  BusLoop();
  ~BusLoop();  // stop()
  BusLoop(const BusLoop&) = delete;
  BusLoop& operator=(const BusLoop&) = delete;

  // Work to run on the loop thread; dropped once the loop has stopped.
  void post(std::function<void()> work);
  // Ends the loop and joins its thread; work not yet run is dropped. Idempotent. Must not
  // be called on the loop thread (reported and ignored there).
  void stop();

  bool isLoopThread() const { return std::this_thread::get_id() == threadId_.load(); }

  // Loop thread only. nullptr stops serving a connection (after it failed). The handler
  // hears of a connection that fails while served; the loop has dropped it by then.
  void setConnection(sdbus::IConnection* connection, std::function<void()> onFailure = {});

 private:
  void run();
  void wake();

  int wakeFd_ = -1;
  std::mutex mutex_;
  std::deque<std::function<void()>> work_;
  bool stopping_ = false;
  sdbus::IConnection* connection_ = nullptr;  // loop thread only
  std::function<void()> onFailure_;           // loop thread only
  std::atomic<std::thread::id> threadId_;
  std::thread thread_;
};

}  // namespace velmora::platform::bluetooth::bluez

#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora::platform::dispatch {

// Owns every thread a ThreadScheduler starts, so that the scheduler can join them all when
// it is destroyed. Threads that end on their own (an idle worker) are joined by the next
// spawn, or at the end. Internal to the dispatch layer.
class ThreadHost : public std::enable_shared_from_this<ThreadHost> {
 public:
  ThreadHost() = default;
  ~ThreadHost();
  ThreadHost(const ThreadHost&) = delete;
  ThreadHost& operator=(const ThreadHost&) = delete;

  // Starts a thread running body. Returns false, and starts nothing, after joinAll().
  bool spawn(std::function<void()> body);
  // Refuses new threads and joins every running one. The bodies must be on their way out
  // (their owners were told to stop). A call from one of the host's own threads leaves that
  // thread detached instead of joining itself.
  void joinAll();

 private:
  void finished(std::uint64_t id);

  std::mutex mutex_;
  std::map<std::uint64_t, std::thread> threads_;
  std::vector<std::uint64_t> finished_;
  std::uint64_t nextId_ = 0;
  bool closed_ = false;
};

}  // namespace velmora::platform::dispatch

#include "platform/dispatch/ThreadHost.h"

namespace velmora::platform::dispatch {

ThreadHost::~ThreadHost() { joinAll(); }

bool ThreadHost::spawn(std::function<void()> body) {
  std::vector<std::thread> reaped;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    for (std::uint64_t id : finished_) {
      auto it = threads_.find(id);
      if (it != threads_.end()) {
        reaped.push_back(std::move(it->second));
        threads_.erase(it);
      }
    }
    finished_.clear();
    const std::uint64_t id = nextId_++;
    threads_.emplace(id, std::thread([self = shared_from_this(), id, body = std::move(body)]() mutable {
      body();
      body = nullptr;
      self->finished(id);
    }));
  }
  // These threads have returned from their bodies; joining them only waits for the exit.
  for (std::thread& t : reaped) t.join();
  return true;
}

void ThreadHost::finished(std::uint64_t id) {
  std::lock_guard lock(mutex_);
  if (!closed_) finished_.push_back(id);
}

void ThreadHost::joinAll() {
  std::map<std::uint64_t, std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    threads.swap(threads_);
    finished_.clear();
  }
  for (auto& [id, t] : threads) {
    if (t.get_id() == std::this_thread::get_id()) {
      t.detach();
    } else if (t.joinable()) {
      t.join();
    }
  }
}

}  // namespace velmora::platform::dispatch

#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace velmora::platform::dispatch {

// The queues the calling thread is running work of, innermost last. A worker pushes its
// queue while it runs an item; a sync pushes the target queue on top of the caller's, so
// inside `a.sync(b.sync(...))` both a and b are current. Queues are identified by the
// address of their shared state. Internal to the dispatch layer.
class CurrentQueue {
 public:
  // How a queue takes part in the current stack: exclusively (a serial queue's item or a
  // barrier) or side by side with other items of the same queue.
  struct Entry {
    const void* queue;
    bool exclusive;
  };

  // Marks the queue current for the lifetime of the scope.
  class Scope {
   public:
    Scope(const void* queue, bool exclusive);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
  };

  // Hides the thread's current queues for the lifetime of the scope. The virtual scheduler
  // runs work posted to other queues while a blocking wait pumps; that work does not run
  // "on" the queues of the waiting frames, so they must not look current inside it.
  class Isolate {
   public:
    Isolate();
    ~Isolate();
    Isolate(const Isolate&) = delete;
    Isolate& operator=(const Isolate&) = delete;

   private:
    std::vector<Entry> saved_;
  };

  static bool contains(const void* queue);
  // nullopt when the queue is not current; otherwise whether any of its entries is exclusive.
  static std::optional<bool> find(const void* queue);

  // What a sync onto a queue must do given the calling thread's current queues.
  enum class SyncPlan {
    Wait,      // the queue is not current here: wait for its turn as usual
    Reenter,   // a non-exclusive sync onto a concurrent queue the thread already runs side by side on: run at once
    Deadlock,  // the sync could never start: report it and run inline
  };
  static SyncPlan planSync(const void* queue, bool exclusive);

  // Reports the sync that would deadlock as a programming error.
  static void reportDeadlock(std::string_view label);
};

}  // namespace velmora::platform::dispatch

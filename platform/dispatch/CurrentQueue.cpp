#include "platform/dispatch/CurrentQueue.h"

#include <fmt/format.h>

#include "platform/core/Log.h"

namespace velmora::platform::dispatch {
namespace {

thread_local std::vector<CurrentQueue::Entry> tStack;

}  // namespace

CurrentQueue::Scope::Scope(const void* queue, bool exclusive) { tStack.push_back(Entry{queue, exclusive}); }

CurrentQueue::Scope::~Scope() { tStack.pop_back(); }

CurrentQueue::Isolate::Isolate() : saved_(std::move(tStack)) { tStack.clear(); }

CurrentQueue::Isolate::~Isolate() { tStack = std::move(saved_); }

bool CurrentQueue::contains(const void* queue) { return find(queue).has_value(); }

std::optional<bool> CurrentQueue::find(const void* queue) {
  std::optional<bool> result;
  for (const Entry& e : tStack) {
    if (e.queue == queue) result = result.value_or(false) || e.exclusive;
  }
  return result;
}

CurrentQueue::SyncPlan CurrentQueue::planSync(const void* queue, bool exclusive) {
  const std::optional<bool> current = find(queue);
  if (!current) return SyncPlan::Wait;
  // Entering exclusively needs every running item of the queue to finish, including the
  // caller's; entering beside an exclusive item needs that item to finish. Either waits on
  // the caller itself.
  if (exclusive || *current) return SyncPlan::Deadlock;
  return SyncPlan::Reenter;
}

void CurrentQueue::reportDeadlock(std::string_view label) {
  reportProgrammingError(fmt::format(
      "sync onto queue '{}' from work that the queue is waiting on would deadlock; running the work inline",
      label));
}

}  // namespace velmora::platform::dispatch

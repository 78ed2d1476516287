#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/dispatch/Group.h"

namespace velmora::platform::dispatch {

// The bookkeeping of a dispatch group shared by both schedulers: the count of outstanding
// work and the notify blocks waiting for it to drain. Each scheduler supplies wait().
// Internal to the dispatch layer.
class CountingGroup : public Group, public std::enable_shared_from_this<CountingGroup> {
 public:
  void enter() override;
  void leave() override;
  void async(const std::shared_ptr<Queue>& queue, Work work) override;
  void notify(const std::shared_ptr<Queue>& queue, Work work) override;

 protected:
  // Called after every change that may end a wait, with no lock held.
  virtual void changed() {}

  bool emptyLocked() const { return count_ == 0; }

  mutable std::mutex mutex_;
  std::condition_variable drained_;  // notified when the count reaches zero

 private:
  long count_ = 0;
  std::vector<std::pair<std::shared_ptr<Queue>, Work>> notifications_;
};

}  // namespace velmora::platform::dispatch

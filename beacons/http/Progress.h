#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace velmora::kestrine {

// The progress of one unit of work (a task's upload or download): a total and a completed
// count, with observers told whenever the fraction completed changes, and handlers that a
// cancel, pause or resume runs. A total of -1 means not known yet. Thread-safe; observers
// and handlers run on the thread that made the change, outside the lock.
class Progress : public std::enable_shared_from_this<Progress> {
 public:
  static constexpr std::int64_t kUnknownTotal = -1;
  using Observer = std::function<void(const Progress&)>;
  using Handler = std::function<void()>;

  static std::shared_ptr<Progress> create(std::int64_t totalUnitCount = kUnknownTotal);

  std::int64_t totalUnitCount() const;
  std::int64_t completedUnitCount() const;
  // completed / total, 0 while the total is unknown or 0.
  double fractionCompleted() const;
  void setTotalUnitCount(std::int64_t total);
  void setCompletedUnitCount(std::int64_t completed);

  // Called with the progress after each change of fractionCompleted. Returns a key for
  // removeFractionObserver.
  std::uint64_t addFractionObserver(Observer observer);
  void removeFractionObserver(std::uint64_t key);

  bool isCancellable() const;
  void setCancellable(bool cancellable);
  bool isPausable() const;
  void setPausable(bool pausable);
  bool isCancelled() const;
  bool isPaused() const;
  void setCancellationHandler(Handler handler);
  void setPausingHandler(Handler handler);
  void setResumingHandler(Handler handler);

  // Marks the progress cancelled and runs the cancellation handler, once; ignored unless
  // cancellable.
  void cancel();
  // Pause runs the pausing handler when pausable and not paused; resume the resuming
  // handler when paused.
  void pause();
  void resume();

 private:
  explicit Progress(std::int64_t total) : total_(total) {}
  static double fraction(std::int64_t completed, std::int64_t total);
  void changeCounts(std::int64_t total, std::int64_t completed);

  mutable std::mutex mutex_;
  std::int64_t total_;
  std::int64_t completed_ = 0;
  bool cancellable_ = false;
  bool pausable_ = false;
  bool cancelled_ = false;
  bool paused_ = false;
  Handler cancellationHandler_;
  Handler pausingHandler_;
  Handler resumingHandler_;
  std::map<std::uint64_t, Observer> observers_;
  std::uint64_t nextKey_ = 1;
};

}  // namespace velmora::kestrine

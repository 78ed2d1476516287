#pragma once

#include <cstdint>

namespace velmora::testing {

// Makes file permissions bind the calling thread for the object's life, also when the tests
// run as root: root's override of permission bits (the capabilities to bypass file and
// folder permissions and file ownership) is taken out of the thread's effective set and put
// back afterwards. Only the calling thread is affected, so the work under test must run on
// it (the virtual scheduler's queues do). A non-root user needs nothing; `active()` is false
// when root's override could not be dropped, and the test should then be skipped.
class EnforcedFilePermissions {
 public:
  EnforcedFilePermissions();
  ~EnforcedFilePermissions();
  EnforcedFilePermissions(const EnforcedFilePermissions&) = delete;
  EnforcedFilePermissions& operator=(const EnforcedFilePermissions&) = delete;

  bool active() const { return active_; }

 private:
  bool active_ = false;
  bool dropped_ = false;
  std::uint32_t savedEffective_[2] = {0, 0};
};

}  // namespace velmora::testing

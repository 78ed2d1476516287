// A host that returns from main with the SDK running and its objects in globals exits
// cleanly, every time: the host program runs twenty times in each of its two modes.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

// The exit status of one run, or -signal when a signal ended it.
int runHost(const std::string& mode) {
  const std::string program = EXIT_WITH_SDK_RUNNING_HOST;
  std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>(mode.c_str()), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1000;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1001;
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return WEXITSTATUS(status);
}

TEST(ExitWithSDKRunning, TheHostExitsWithStatusZeroEveryTime) {
  for (const std::string mode : {"shared", "own"}) {
    for (int run = 0; run < 20; ++run) {
      ASSERT_EQ(runHost(mode), 0) << mode << " run " << run;
    }
  }
}

}  // namespace

// A host program that returns from main with the SDK running and its registry in a global
// exits with status 0, every time.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>

extern char** environ;

namespace hostsuite {
namespace {

int runProgram(const char* mode) {
  char* argv[] = {const_cast<char*>(HOST_EXIT_PROGRAM), const_cast<char*>(mode), nullptr};
  pid_t pid = 0;
  if (::posix_spawn(&pid, HOST_EXIT_PROGRAM, nullptr, nullptr, argv, environ) != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

class HostExit : public ::testing::TestWithParam<const char*> {};

TEST_P(HostExit, ReturningFromMainWithTheSdkRunningExitsCleanly) {
  constexpr int kRuns = 20;
  int clean = 0;
  std::string statuses;
  for (int i = 0; i < kRuns; ++i) {
    const int status = runProgram(GetParam());
    clean += status == 0;
    statuses += std::to_string(status) + " ";
  }
  EXPECT_EQ(clean, kRuns) << "exit statuses: " << statuses;
}

INSTANTIATE_TEST_SUITE_P(Platforms, HostExit, ::testing::Values("sim", "system"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
}  // namespace hostsuite

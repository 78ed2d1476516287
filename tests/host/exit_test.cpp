// A host program that returns from main with the SDK running and its registry in a global
// exits with status 0, every time.
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

extern char** environ;

namespace hostsuite {
namespace {

// Runs the program once, with a data folder of its own that does not exist yet (as on a
// device's first start), so the run neither reads nor writes the user's.
int runProgram(const char* mode) {
  std::string folder = (std::filesystem::temp_directory_path() / "host-exit-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) return -1;
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string_view(*e).rfind("XDG_DATA_HOME=", 0) != 0) env.emplace_back(*e);
  }
  env.push_back("XDG_DATA_HOME=" + folder + "/data");
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(HOST_EXIT_PROGRAM), const_cast<char*>(mode), nullptr};
  pid_t pid = 0;
  int status = 0;
  const bool ran = ::posix_spawn(&pid, HOST_EXIT_PROGRAM, nullptr, nullptr, argv, envp.data()) == 0 &&
                   ::waitpid(pid, &status, 0) == pid;
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  if (!ran) return -1;
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

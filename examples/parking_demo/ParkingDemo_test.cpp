// The parking demo's arguments as its users type them.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

namespace {

// Standard error and exit status of the program run with these arguments.
std::pair<std::string, int> runDemo(const std::string& arguments) {
  const std::string command = std::string(PARKING_DEMO_BINARY) + " " + arguments + " 2>&1 >/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {"", -1};
  std::string err;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) err.append(buffer, n);
  const int status = pclose(pipe);
  return {err, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(ParkingDemo, EveryBadArgumentGetsOneLineAndStatusOne) {
  struct Case {
    const char* arguments;
    const char* says;
  };
  for (const Case& c : {Case{"--bogus", "unknown option '--bogus'"}, Case{"extra", "unknown option 'extra'"},
                        Case{"--server", "'--server' needs a value"}, Case{"--timeout", "'--timeout' needs a value"},
                        Case{"--timeout soon", "--timeout needs a number of seconds above 0, not 'soon'"},
                        Case{"--timeout 0", "not '0'"}, Case{"--timeout -5", "not '-5'"},
                        Case{"--timeout 1e999", "not '1e999'"}, Case{"--timeout 5s", "not '5s'"}}) {
    const auto [err, status] = runDemo(c.arguments);
    EXPECT_EQ(status, 1) << c.arguments << "\n" << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.arguments << "\n" << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << c.arguments << "\n" << err;
  }
}

}  // namespace

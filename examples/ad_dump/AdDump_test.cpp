#include "examples/ad_dump/AdDump.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The same UUIDs the tool holds when run with --uuid e2c56db5-... : the given one first, then
// the SDK's default.
const std::vector<std::string> kUUIDs = {"e2c56db5-dffb-48d2-b060-d0f5a71096e0",
                                         "61687109-905F-4436-91F8-E602F514C96D"};

TEST(AdDump, FixtureGivesOneLinePerCapture) {
  std::istringstream in(readFile(AD_DUMP_TESTDATA "/captures.txt"));
  std::ostringstream out;
  addump::dump(in, out, kUUIDs);
  EXPECT_EQ(out.str(), readFile(AD_DUMP_TESTDATA "/captures.expected"));
}

// Runs a shell command and gives its standard output and exit status.
std::pair<std::string, int> shell(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {"", -1};
  std::string output;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  const int status = pclose(pipe);
  return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// The README's own line, run as written from the top of the tree (with this build's program
// in place of the default build's), gives the fixture's expected output.
TEST(AdDump, TheReadmeCommandReproducesTheFixture) {
  const std::string readme = readFile(AD_DUMP_SOURCE_ROOT "/README.md");
  const std::string program = "build/default/examples/ad_dump";
  const std::size_t at = readme.find("\n" + program + " ");
  ASSERT_NE(at, std::string::npos) << "README.md has no line starting with " << program;
  const std::string line = readme.substr(at + 1, readme.find('\n', at + 1) - at - 1);
  EXPECT_NE(line.find("< examples/ad_dump/testdata/captures.txt"), std::string::npos) << line;
  const std::string command =
      "cd " AD_DUMP_SOURCE_ROOT " && " + std::string(AD_DUMP_BINARY) + line.substr(program.size());
  const auto [output, status] = shell(command);
  EXPECT_EQ(status, 0) << command;
  EXPECT_EQ(output, readFile(AD_DUMP_TESTDATA "/captures.expected")) << command;
}

TEST(AdDump, BadArgumentsGetOneLineAndStatusOne) {
  struct Case {
    const char* arguments;
    const char* says;
  };
  for (const Case& c : {Case{"--bogus", "unknown option '--bogus'"}, Case{"extra", "unknown option 'extra'"},
                        Case{"--uuid", "'--uuid' needs a proximity UUID"},
                        Case{"--uuid e2c56db5", "not 'e2c56db5'"},
                        Case{"--uuid e2c56db5-dffb-48d2-b060-d0f5a71096e0 --uuid", "needs a proximity UUID"}}) {
    const auto [err, status] = shell(std::string(AD_DUMP_BINARY) + " " + c.arguments + " </dev/null 2>&1 >/dev/null");
    EXPECT_EQ(status, 1) << c.arguments;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.arguments << "\n" << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << c.arguments << "\n" << err;
  }
}

TEST(AdDump, LinesThatAreNotAdvertisements) {
  for (const char* line : {"", "   ", "zz", "abc", "FEAA", "FEAA:0", "0x4c00", "4c00-0215", "\xff\xfe"}) {
    EXPECT_EQ(addump::dumpLine(line, kUUIDs), "null") << line;
  }
  // A last line without its newline still gets its answer.
  std::istringstream in("4c00\n0401000a");
  std::ostringstream out;
  addump::dump(in, out, kUUIDs);
  EXPECT_EQ(out.str(), "null\n{\"KSAdDataTypeKey\":\"KSAdDataTypeKestrineNewbornKey\"}\n");
}

}  // namespace

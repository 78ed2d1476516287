#include "examples/ad_dump/AdDump.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
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

// The program itself, fed the fixture on standard input as a field engineer would run it.
TEST(AdDump, ProgramReadsStandardInput) {
  const std::string command = std::string(AD_DUMP_BINARY) + " --uuid e2c56db5-dffb-48d2-b060-d0f5a71096e0 < " +
                              AD_DUMP_TESTDATA "/captures.txt";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_EQ(output, readFile(AD_DUMP_TESTDATA "/captures.expected"));
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

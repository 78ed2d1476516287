#include "platform/core/Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora::platform {
namespace {

TEST(Utf8, AcceptsWellFormedTextAndRefusesEveryIllFormedSequence) {
  struct Case {
    std::string text;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"plain ascii", true},
      {"caf\xc3\xa9", true},                 // é
      {"\xe2\x82\xac", true},                // €
      {"\xf0\x9f\x9a\x97", true},            // an emoji, four bytes
      {"\xf4\x8f\xbf\xbf", true},            // U+10FFFF, the last code point
      {std::string("a\0b", 3), true},        // NUL is a character like any other here
      {"\xc3", false},                       // cut short
      {"\xc0\xaf", false},                   // overlong "/"
      {"\xe0\x80\xaf", false},               // overlong, three bytes
      {"\xed\xa0\x80", false},               // a surrogate
      {"\xf4\x90\x80\x80", false},           // past U+10FFFF
      {"\x80", false},                       // a lone continuation byte
      {"\xe2\x28\xa1", false},               // a bad continuation byte
      {"ok\xff", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isValidUtf8(c.text), c.valid) << ::testing::PrintToString(c.text);
}

}  // namespace
}  // namespace velmora::platform

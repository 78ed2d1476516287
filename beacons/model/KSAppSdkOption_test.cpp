#include "beacons/model/KSAppSdkOption.h"

#include <gtest/gtest.h>

#include "beacons/foundation/KSOptionKeys.h"
#include "platform/core/Json.h"

namespace velmora::kestrine {
namespace {

platform::Value json(std::string_view text) { return *platform::json::parse(text); }

// A server record maps "id"; exports and copies keep all three; the description is the key.
TEST(KSAppSdkOption, ImportsExportsAndCopiesTheServerRecord) {
  platform::Error error;
  auto option = KSAppSdkOption::initWithDictionary(
      json(R"({"id":"opt-1","optionKey":"KSOptionRemoteConfigurationRefreshTimeIntervalInSeconds","optionValue":"600"})"),
      &error);
  ASSERT_TRUE(option) << error.localizedDescription;
  EXPECT_EQ(option->appSdkOptionID(), "opt-1");
  EXPECT_EQ(option->optionKey(), KSOptionRemoteConfigurationRefreshTimeIntervalInSeconds);
  EXPECT_EQ(option->optionValue(), "600");
  EXPECT_EQ(option->description(), KSOptionRemoteConfigurationRefreshTimeIntervalInSeconds);

  const platform::Dict exported = option->toDictionary();
  EXPECT_EQ(exported.size(), 3u);
  EXPECT_EQ(exported.at("id"), platform::Value("opt-1"));
  EXPECT_EQ(exported.count("appSdkOptionID"), 0u);
  EXPECT_EQ(exported.at("optionValue"), platform::Value("600"));

  auto copy = option->copy();
  ASSERT_TRUE(copy);
  EXPECT_NE(copy, option);
  option->setOptionValue("700");
  EXPECT_EQ(copy->optionValue(), "600");
  EXPECT_EQ(copy->appSdkOptionID(), "opt-1");
}

// Every property is optional: a record with none imports, exports nothing and describes
// itself as empty. A list of them reads in order.
TEST(KSAppSdkOption, EveryPropertyIsOptional) {
  auto empty = KSAppSdkOption::initWithDictionary(json("{}"));
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty->optionKey());
  EXPECT_TRUE(empty->toDictionary().empty());
  EXPECT_EQ(empty->description(), "");

  auto list = KSAppSdkOption::arrayOfModelsFromDictionaries(
      json(R"([{"optionKey":"a","optionValue":"1"},{"id":"x"},{"optionKey":"a","optionValue":"2"}])"));
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 3u);
  EXPECT_EQ((*list)[0]->optionValue(), "1");
  EXPECT_FALSE((*list)[1]->optionKey());
  EXPECT_EQ((*list)[2]->optionValue(), "2");
}

}  // namespace
}  // namespace velmora::kestrine

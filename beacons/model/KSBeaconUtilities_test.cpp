#include "beacons/model/KSBeaconUtilities.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace velmora::kestrine {
namespace {

using std::nullopt;
using U16 = std::optional<std::uint16_t>;
using Text = std::optional<std::string_view>;

TEST(KSBeaconUtilities, IBeaconKey) {
  struct Case {
    Text uuid;
    U16 major, minor;
    std::optional<std::string> key;
  };
  const Case cases[] = {
      {"e2c56db5-dffb-48d2-b060-d0f5a71096e0", 1, 22, "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0:1:22"},
      {"E2C56DB5-DFFB-48D2-B060-D0F5A71096E0", 1, 22, "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0:1:22"},
      {"E2c56Db5-dFFb-48D2-b060-D0F5A71096e0", 65535, 0, "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0:65535:0"},
      // Not a UUID: still upper-cased, as every key is.
      {"lobby-door", 7, 8, "LOBBY-DOOR:7:8"},
      {"", 1, 2, nullopt},
      {nullopt, 1, 2, nullopt},
      {"E2C56DB5-DFFB-48D2-B060-D0F5A71096E0", nullopt, 2, nullopt},
      {"E2C56DB5-DFFB-48D2-B060-D0F5A71096E0", 1, nullopt, nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(KSBeaconUtilities::iBeaconKeyForProximityUUIDString(c.uuid, c.major, c.minor), c.key)
        << c.uuid.value_or("<none>");
  }
}

TEST(KSBeaconUtilities, DefaultKeepAlive) {
  struct Case {
    U16 major, minor;
    Text uuid;
    bool keepAlive;
  };
  const Case cases[] = {
      {0, 0, "61687109-905F-4436-91F8-E602F514C96D", true},
      {0, 0, "61687109-905f-4436-91f8-e602f514c96d", true},
      {0, 1, "61687109-905F-4436-91F8-E602F514C96D", false},
      {1, 0, "61687109-905F-4436-91F8-E602F514C96D", false},
      {0, 0, "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0", false},
      {nullopt, 0, "61687109-905F-4436-91F8-E602F514C96D", false},
      {0, nullopt, "61687109-905F-4436-91F8-E602F514C96D", false},
      {0, 0, nullopt, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(KSBeaconUtilities::isDefaultKeepAliveMajor(c.major, c.minor, c.uuid), c.keepAlive)
        << c.uuid.value_or("<none>") << " " << c.major.value_or(9) << "/" << c.minor.value_or(9);
  }
}

}  // namespace
}  // namespace velmora::kestrine

// Encoding and decoding of the car-park request records: what a fresh request writes,
// how each record spells its keys, required and optional keys on the way back, and the
// values JSON cannot carry.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "parking/carpark_api/BeaconPayloadDetail.h"
#include "parking/carpark_api/BeaconPayloadItem.h"
#include "parking/carpark_api/BeaconPayloadRequest.h"
#include "testing/CarParkTestSupport.h"
#include "parking/carpark_api/DetailsRequest.h"
#include "parking/carpark_api/EnterRequest.h"
#include "parking/carpark_api/ExitRequest.h"
#include "parking/carpark_api/NoticeBeaconRequest.h"
#include "parking/carpark_api/NoticeRequest.h"
#include "platform/core/Clock.h"

namespace velmora {
namespace {

using carpark_test::blankBlockJSON;
using carpark_test::codingPath;
using carpark_test::encoded;
using carpark_test::parseJSON;
using carpark_test::withKeys;
using platform::Value;

// One request record, type-erased: a fresh request's body, and a JSON value decoded and
// encoded again (Absent and *error filled when decoding fails).
struct RequestCase {
  const char* name;
  std::function<Value()> fresh;
  std::function<Value(const Value&, platform::Error*)> decodeThenEncode;
  Value freshBody;
};

template <class R>
RequestCase requestCase(const char* name, Value freshBody) {
  return RequestCase{name, [] { return encoded(R()); },
                     [](const Value& json, platform::Error* error) {
                       auto r = decodeRecord<R>(json, error);
                       return r ? encoded(*r) : Value();
                     },
                     std::move(freshBody)};
}

std::vector<RequestCase> requestCases() {
  return {
      requestCase<DetailsRequest>("DetailsRequest", blankBlockJSON()),
      requestCase<NoticeRequest>("NoticeRequest", withKeys(blankBlockJSON(), {{"beacons", Value(platform::Array{})}})),
      requestCase<EnterRequest>("EnterRequest", withKeys(blankBlockJSON(), {{"laneId", Value(0)}})),
      requestCase<ExitRequest>("ExitRequest", withKeys(blankBlockJSON(), {{"laneId", Value(0)}})),
      requestCase<BeaconPayloadRequest>("BeaconPayloadRequest", blankBlockJSON()),
  };
}

class CarParkRequestsTest : public carpark_test::SettingsTest {};

TEST_F(CarParkRequestsTest, AFreshRequestWritesTheBlockAndItsOwnAlwaysWrittenKeys) {
  for (const auto& c : requestCases()) {
    const Value body = c.fresh();
    EXPECT_EQ(body, c.freshBody) << c.name;
    EXPECT_TRUE(body["currentLatitude"].isAbsent()) << c.name;
  }
  EXPECT_EQ(encoded(EnterRequest()).size(), 16u);
}

TEST_F(CarParkRequestsTest, RequestsCopyTheSettingsWhenBuiltAndOnlyThen) {
  const EnterRequest before;
  VelmoraSDKConfig::setCurrentLatitude(59.5);
  VelmoraSDKConfig::setCurrentLongitude(18.25);
  VelmoraSDKConfig::setUser(42, "tok");
  VelmoraSDKConfig::setDeviceModel("Pixel");
  for (const auto& c : requestCases()) {
    const Value body = c.fresh();
    EXPECT_EQ(body["currentLatitude"], Value(59.5)) << c.name;
    EXPECT_EQ(body["currentLongitude"], Value(18.25)) << c.name;
    EXPECT_EQ(body["userId"], Value(42)) << c.name;
    EXPECT_EQ(body["userToken"], Value("tok")) << c.name;
    EXPECT_EQ(body["deviceModel"], Value("Pixel")) << c.name;
  }
  EXPECT_EQ(encoded(before), withKeys(blankBlockJSON(), {{"laneId", Value(0)}}));
}

TEST_F(CarParkRequestsTest, EnterAndExitWriteTheSameBody) {
  VelmoraSDKConfig::setAppId("app");
  EnterRequest enter;
  ExitRequest exit;
  enter.laneId = exit.laneId = 5;
  enter.calculatedLaneId = exit.calculatedLaneId = 6;
  EXPECT_EQ(encoded(enter), encoded(exit));
  EXPECT_EQ(encoded(enter)["calculatedLaneId"], Value(6));
  enter.calculatedLaneId.reset();
  enter.appId.reset();
  EXPECT_TRUE(encoded(enter)["calculatedLaneId"].isAbsent());
  EXPECT_TRUE(encoded(enter)["appId"].isAbsent());
}

TEST_F(CarParkRequestsTest, OwnKeysKeepEachRecordsCasing) {
  DetailsRequest details;
  details.beaconID = "B1";
  details.carParkID = 12;
  EXPECT_EQ(encoded(details), withKeys(blankBlockJSON(), {{"beaconID", Value("B1")}, {"carParkID", Value(12)}}));

  BeaconPayloadRequest payload;
  payload.inCarPark = false;
  payload.isNested = true;
  payload.reasonType = 3;
  payload.carParkID = 4;
  payload.calculatedLaneID = 5;
  payload.laneID = 6;
  payload.timestampUTC = platform::Date::fromReferenceSeconds(0);
  payload.items = std::vector<BeaconPayloadItem>{};
  EXPECT_EQ(encoded(payload), withKeys(blankBlockJSON(), {{"inCarPark", Value(false)},
                                                          {"isNested", Value(true)},
                                                          {"reasonType", Value(3)},
                                                          {"carParkID", Value(4)},
                                                          {"calculatedLaneID", Value(5)},
                                                          {"laneID", Value(6)},
                                                          {"timestampUTC", Value(0.0)},
                                                          {"items", Value(platform::Array{})}}));
  payload.items.reset();
  EXPECT_TRUE(encoded(payload)["items"].isAbsent());
}

TEST_F(CarParkRequestsTest, DecodingReadsOnlyWhatTheJSONHolds) {
  VelmoraSDKConfig::setUser(42, "tok");  // must not leak into decoded requests
  struct Case {
    const char* record;
    const char* body;
    const char* writtenBack;  // nullptr: decoding fails
  };
  const Case cases[] = {
      {"DetailsRequest", "{}", "{}"},
      {"DetailsRequest", R"({"beaconId":"b","carParkId":3,"carParkID":null})", "{}"},
      {"DetailsRequest", R"({"beaconID":"b","carParkID":3,"userId":null})", R"({"beaconID":"b","carParkID":3})"},
      {"NoticeRequest", "{}", nullptr},
      {"NoticeRequest", R"({"beacons":null})", nullptr},
      {"NoticeRequest", R"({"beacons":[]})", R"({"beacons":[]})"},
      {"NoticeRequest", R"({"beacons":[{"beaconId":"a","rssi":-71.5}],"appId":"x"})",
       R"({"beacons":[{"beaconId":"a","rssi":-71.5}],"appId":"x"})"},
      {"EnterRequest", "{}", nullptr},
      {"EnterRequest", R"({"laneId":null})", nullptr},
      {"EnterRequest", R"({"laneId":7})", R"({"laneId":7})"},
      {"ExitRequest", R"({"laneID":7})", nullptr},
      {"ExitRequest", R"({"laneId":7,"calculatedLaneId":8})", R"({"laneId":7,"calculatedLaneId":8})"},
      {"BeaconPayloadRequest", "{}", "{}"},
      {"BeaconPayloadRequest", R"({"laneID":7})", R"({"laneID":7})"},
      {"BeaconPayloadRequest", R"({"carParkID":null,"laneId":7})", "{}"},
      {"BeaconPayloadRequest", R"({"carParkID":"7"})", nullptr},
      {"BeaconPayloadRequest", R"({"appId":7})", nullptr},
  };
  const auto all = requestCases();
  for (const auto& c : cases) {
    const auto it = std::find_if(all.begin(), all.end(), [&](const RequestCase& r) { return r.name == std::string(c.record); });
    ASSERT_NE(it, all.end());
    platform::Error error;
    const Value back = it->decodeThenEncode(parseJSON(c.body), &error);
    if (c.writtenBack) {
      EXPECT_EQ(back, parseJSON(c.writtenBack)) << c.record << " " << c.body << ": " << error.debugDescription();
    } else {
      EXPECT_TRUE(back.isAbsent()) << c.record << " " << c.body;
      EXPECT_EQ(error.domain, platform::coding::kDomain);
    }
  }
}

TEST_F(CarParkRequestsTest, NoticeBeaconsAreWrittenInOrderWithExactlyTheirTwoKeys) {
  NoticeRequest request;
  request.beacons = {NoticeBeaconRequest{"first", -70.5}, NoticeBeaconRequest{"second", -80}};
  const Value beacons = encoded(request)["beacons"];
  EXPECT_EQ(beacons, parseJSON(R"([{"beaconId":"first","rssi":-70.5},{"beaconId":"second","rssi":-80.0}])"));
  EXPECT_EQ(encoded(NoticeBeaconRequest{}), parseJSON(R"({"beaconId":"","rssi":0.0})"));

  auto heard = decodeRecord<NoticeBeaconRequest>(parseJSON(R"({"beaconId":"x","rssi":-71})"));
  ASSERT_TRUE(heard);
  EXPECT_EQ(heard->rssi, -71.0);
  platform::Error error;
  EXPECT_FALSE(decodeRecord<NoticeBeaconRequest>(parseJSON(R"({"beaconId":"x"})"), &error));
  EXPECT_EQ(error.code, platform::coding::kValueNotFound);
  EXPECT_EQ(codingPath(error), "rssi");
  EXPECT_FALSE(decodeRecord<NoticeRequest>(parseJSON(R"({"beacons":[{"beaconId":"x","rssi":1},{"rssi":1}]})"), &error));
  EXPECT_EQ(codingPath(error), "beacons[1].beaconId");
}

// JSON has no NaN or infinity: a request holding one fails to encode, and the error
// names the field.
TEST_F(CarParkRequestsTest, NonFiniteNumbersFailEncodingAtTheirPath) {
  const double nan = std::nan("");
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    std::function<std::optional<Value>(platform::Error*)> encode;
    const char* path;
  };
  const Case cases[] = {
      {"notice rssi", [&](platform::Error* e) {
         NoticeRequest r;
         r.beacons = {NoticeBeaconRequest{"a", -1}, NoticeBeaconRequest{"b", nan}};
         return encodeRecord(r, e);
       }, "beacons[1].rssi"},
      {"latitude", [&](platform::Error* e) {
         DetailsRequest r;
         r.currentLatitude = inf;
         return encodeRecord(r, e);
       }, "currentLatitude"},
      {"longitude", [&](platform::Error* e) {
         ExitRequest r;
         r.currentLongitude = -inf;
         return encodeRecord(r, e);
       }, "currentLongitude"},
      {"payload accuracy", [&](platform::Error* e) {
         BeaconPayloadRequest r;
         BeaconPayloadItem item;
         item.details.resize(1);
         item.details[0].accuracy = nan;
         r.items = std::vector<BeaconPayloadItem>{item};
         return encodeRecord(r, e);
       }, "items[0].details[0].accuracy"},
  };
  for (const auto& c : cases) {
    platform::Error error;
    EXPECT_FALSE(c.encode(&error)) << c.what;
    EXPECT_EQ(error.code, platform::coding::kWriteInvalidValue) << c.what;
    EXPECT_EQ(codingPath(error), c.path) << c.what;
  }
}

TEST_F(CarParkRequestsTest, PayloadItemsCarryTheirTimeAsSecondsSinceTheReferenceDate) {
  platform::ManualClock clock(platform::Date::fromReferenceSeconds(86400));
  BeaconPayloadItem item(clock);
  EXPECT_EQ(item.timestampUTC, platform::Date::fromReferenceSeconds(86400));
  item.laneID = 9;
  item.closest = true;
  item.rssi = -60;
  BeaconPayloadDetail detail;
  detail.beaconID = "B";
  detail.beaconName = "gate";
  detail.beaconSerialNo = "S1";
  detail.rssi = -61;
  detail.rssiSmoothed = -62;
  detail.proximity = 2;
  detail.accuracy = 1.25;
  detail.measuredPowerAt1Meter = -59;
  item.details = {detail};
  const Value expected = parseJSON(R"({"laneID":9,"closest":true,"rssi":-60,"timestampUTC":86400.0,"details":[
      {"beaconID":"B","beaconName":"gate","beaconSerialNo":"S1","rssi":-61,"rssiSmoothed":-62,"proximity":2,
       "accuracy":1.25,"measuredPowerAt1Meter":-59}]})");
  EXPECT_EQ(encoded(item), expected);
  auto back = decodeRecord<BeaconPayloadItem>(expected);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->timestampUTC, item.timestampUTC);
  EXPECT_EQ(encoded(*back), expected);

  EXPECT_EQ(encoded(BeaconPayloadItem(platform::ManualClock(platform::Date::fromReferenceSeconds(0))))["timestampUTC"],
            Value(0.0));
  EXPECT_EQ(encoded(BeaconPayloadDetail{}),
            parseJSON(R"({"beaconID":"","beaconName":"","beaconSerialNo":"","rssi":0,"rssiSmoothed":0,"proximity":0,
                          "accuracy":0.0,"measuredPowerAt1Meter":0})"));
}

TEST_F(CarParkRequestsTest, PayloadItemsAndDetailsRequireEveryKey) {
  const Value item = parseJSON(R"({"laneID":9,"closest":true,"rssi":-60,"timestampUTC":1.5,"details":[
      {"beaconID":"B","beaconName":"","beaconSerialNo":"","rssi":0,"rssiSmoothed":0,"proximity":0,"accuracy":0,
       "measuredPowerAt1Meter":0}]})");
  ASSERT_TRUE(decodeRecord<BeaconPayloadItem>(item));
  for (const char* key : {"laneID", "closest", "rssi", "timestampUTC", "details"}) {
    for (const Value& replacement : {Value(), Value(platform::null)}) {
      Value broken = item;
      broken.set(key, replacement);
      platform::Error error;
      EXPECT_FALSE(decodeRecord<BeaconPayloadItem>(broken, &error)) << key;
      EXPECT_EQ(error.code, platform::coding::kValueNotFound) << key;
      EXPECT_EQ(codingPath(error), key);
    }
  }
  Value badDetail = item;
  badDetail.set("details", parseJSON(R"([{"beaconID":"B"}])"));
  platform::Error error;
  EXPECT_FALSE(decodeRecord<BeaconPayloadItem>(badDetail, &error));
  EXPECT_EQ(codingPath(error), "details[0].beaconName");

  EXPECT_FALSE(decodeRecord<BeaconPayloadRequest>(parseJSON(R"({"items":[{"closest":false}]})"), &error));
  EXPECT_EQ(codingPath(error), "items[0].laneID");
}

}  // namespace
}  // namespace velmora

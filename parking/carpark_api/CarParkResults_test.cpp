// Decoding and encoding of the car-park reply records: initial values, defaults for
// missing or null keys, key casing, wrong types with their coding paths, and the exit
// reply's dates.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "parking/carpark_api/BeaconPayloadResult.h"
#include "testing/CarParkTestSupport.h"
#include "parking/carpark_api/DetailsResult.h"
#include "parking/carpark_api/EnterResult.h"
#include "parking/carpark_api/ExitResult.h"
#include "parking/service/LaneBeaconResult.h"
#include "parking/service/LaneResult.h"
#include "parking/carpark_api/NoticeDetailResult.h"
#include "parking/carpark_api/NoticeLaneInfoResult.h"
#include "parking/carpark_api/NoticeMessageResult.h"
#include "parking/carpark_api/NoticeResult.h"

namespace velmora {
namespace {

using carpark_test::codingPath;
using carpark_test::encoded;
using carpark_test::parseJSON;
using platform::Value;

// One reply record, type-erased: how its initial record encodes, and how a JSON value
// decodes and encodes again (Absent and *error filled when decoding fails).
struct ResultCase {
  const char* name;
  std::function<Value()> initial;
  std::function<Value(const Value&, platform::Error*)> decodeThenEncode;
  const char* initialJSON;     // the initial record, every key spelled as the record spells it
  const char* decodedFromEmpty;  // the record decoded from {}
};

template <class R>
ResultCase resultCase(const char* name, std::function<R()> make, const char* initialJSON, const char* fromEmpty) {
  return ResultCase{
      name,
      [make] { return encoded(make()); },
      [](const Value& json, platform::Error* error) {
        auto r = decodeRecord<R>(json, error);
        return r ? encoded(*r) : Value();
      },
      initialJSON, fromEmpty};
}

std::vector<ResultCase> resultCases() {
  return {
      resultCase<LaneBeaconResult>("LaneBeaconResult", [] { return LaneBeaconResult{}; },
                                   R"({"laneBeaconId":0,"beaconId":""})", R"({"laneBeaconId":0,"beaconId":""})"),
      resultCase<LaneResult>(
          "LaneResult", [] { return LaneResult{}; },
          R"({"laneId":0,"laneType":0,"detectionType":1,"minRSSI":0,"minDetectionSecs":0,"maxDetectionSecs":0,
              "sortOrder":1,"name":"","shortName":"","beaconSensitivity":-100,"laneSensitivity":0,"laneBeacons":[]})",
          R"({"laneId":0,"laneType":0,"detectionType":1,"minRSSI":0,"minDetectionSecs":0,"maxDetectionSecs":0,
              "sortOrder":1,"name":"","shortName":"","beaconSensitivity":-100,"laneSensitivity":0,"laneBeacons":[]})"),
      resultCase<DetailsResult>(
          "DetailsResult", [] { return DetailsResult{}; },
          R"({"result":"","message":"","carParkId":0,"carParkName":"","availableSpaces":-1,"homeCarPark":false,"lanes":[]})",
          R"({"result":"Failure","message":"","carParkId":0,"carParkName":"","availableSpaces":-1,"homeCarPark":false,
              "lanes":[]})"),
      resultCase<EnterResult>("EnterResult", [] { return EnterResult{}; },
                              R"({"result":"","message":"","reservedBay":""})",
                              R"({"result":"Failure","message":"","reservedBay":""})"),
      resultCase<ExitResult>("ExitResult", [] { return ExitResult{}; }, R"({"result":"","message":""})",
                             R"({"result":"Failure","message":""})"),
      resultCase<NoticeMessageResult>("NoticeMessageResult", [] { return NoticeMessageResult{}; },
                                      R"({"title":"","message":""})", R"({"title":"","message":""})"),
      resultCase<NoticeLaneInfoResult>("NoticeLaneInfoResult", [] { return NoticeLaneInfoResult{}; },
                                       R"({"laneId":0,"shortName":"","laneType":0,"beaconIds":[]})",
                                       R"({"laneId":-1,"shortName":"","laneType":0,"beaconIds":[]})"),
      resultCase<NoticeDetailResult>("NoticeDetailResult", [] { return NoticeDetailResult{}; },
                                     R"({"carParkID":0,"carParkName":"","lanes":[]})",
                                     R"({"carParkID":-1,"carParkName":"","lanes":[]})"),
      resultCase<NoticeResult>(
          "NoticeResult", [] { return NoticeResult{}; },
          R"({"result":"","message":"","shouldPopup":false,"noticeMessage":{"title":"","message":""},"details":[]})",
          R"({"result":"Failure","message":"","shouldPopup":false,"noticeMessage":{"title":"","message":""},
              "details":[]})"),
      resultCase<BeaconPayloadResult>("BeaconPayloadResult",
                                      [] { return BeaconPayloadResult(std::nullopt, std::nullopt); }, "{}",
                                      R"({"result":"Failure","message":""})"),
  };
}

TEST(CarParkResultsTest, InitialValuesAndDefaultsOfAnEmptyObject) {
  for (const auto& c : resultCases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.initial(), parseJSON(c.initialJSON));
    platform::Error error;
    EXPECT_EQ(c.decodeThenEncode(parseJSON("{}"), &error), parseJSON(c.decodedFromEmpty));
  }
}

// Every key the record knows: null reads like a missing key, and a value of the wrong JSON
// type fails the record with that key as the coding path.
TEST(CarParkResultsTest, NullIsMissingAndWrongTypesFailAtTheirKey) {
  for (const auto& c : resultCases()) {
    SCOPED_TRACE(c.name);
    const Value full = parseJSON(c.decodedFromEmpty);
    Value allNull = full;
    for (const auto& [key, value] : *full.dict()) allNull.set(key, platform::null);
    platform::Error error;
    EXPECT_EQ(c.decodeThenEncode(allNull, &error), full);

    for (const auto& [key, value] : *full.dict()) {
      Value wrong = full;
      // A string where anything else is expected, a number where a string is.
      wrong.set(key, value.string() ? Value(7) : Value("7"));
      platform::Error e;
      EXPECT_TRUE(c.decodeThenEncode(wrong, &e).isAbsent()) << key;
      EXPECT_EQ(e.domain, platform::coding::kDomain) << key;
      EXPECT_EQ(codingPath(e), key);
    }
  }
}

TEST(CarParkResultsTest, ATopLevelThatIsNotAnObjectFails) {
  for (const auto& c : resultCases()) {
    platform::Error error;
    EXPECT_TRUE(c.decodeThenEncode(parseJSON("[]"), &error).isAbsent()) << c.name;
    EXPECT_EQ(error.code, platform::coding::kReadCorrupt) << c.name;
  }
}

// A populated record written and read again gives back the same values.
TEST(CarParkResultsTest, PopulatedRecordsSurviveARoundTrip) {
  const char* bodies[] = {
      R"({"result":"Success","message":"ok","carParkId":12,"carParkName":"North","availableSpaces":0,
          "homeCarPark":true,"lanes":[{"laneId":3,"laneType":2,"laneGroupId":4,"laneGroupDelay":5,"detectionType":2,
          "minRSSI":-80,"minDetectionSecs":6,"maxDetectionSecs":7,"retrySecs":8,"sortOrder":9,"name":"In","shortName":"I",
          "beaconSensitivity":-90,"laneSensitivity":10,"laneBeacons":[{"laneBeaconId":42,"beaconId":"B"}]}]})",
      R"({"result":"Success","message":"m","shouldPopup":true,"noticeMessage":{"title":"T","message":"M"},
          "details":[{"carParkID":5,"carParkName":"P","lanes":[{"laneId":1,"shortName":"S","laneType":2,
          "beaconIds":["a","b"]}]}]})",
  };
  platform::Error error;
  auto details = decodeRecord<DetailsResult>(parseJSON(bodies[0]), &error);
  ASSERT_TRUE(details) << error.debugDescription();
  EXPECT_EQ(encoded(*details), parseJSON(bodies[0]));
  EXPECT_EQ(details->availableSpaces, 0);
  EXPECT_EQ(details->lanes.at(0).laneBeacons.at(0).laneBeaconId, 42);
  auto notice = decodeRecord<NoticeResult>(parseJSON(bodies[1]), &error);
  ASSERT_TRUE(notice) << error.debugDescription();
  EXPECT_EQ(encoded(*notice), parseJSON(bodies[1]));
}

TEST(CarParkResultsTest, AFailureDeepInsideTheRepliesNamesItsPath) {
  struct Case {
    const char* what;
    std::function<bool(const Value&, platform::Error*)> decode;
    const char* body;
    const char* path;
  };
  auto details = [](const Value& v, platform::Error* e) { return decodeRecord<DetailsResult>(v, e).has_value(); };
  auto notice = [](const Value& v, platform::Error* e) { return decodeRecord<NoticeResult>(v, e).has_value(); };
  const Case cases[] = {
      {"lane beacon id as text", details,
       R"({"result":"Success","lanes":[{"laneId":1},{"laneId":2,"laneBeacons":[{"laneBeaconId":"7","beaconId":"B"}]}]})",
       "lanes[1].laneBeacons[0].laneBeaconId"},
      {"lane type as text", details, R"({"lanes":[{"laneType":"2"}]})", "lanes[0].laneType"},
      {"fractional lane beacon id", details, R"({"lanes":[{"laneBeacons":[{"laneBeaconId":1.5}]}]})",
       "lanes[0].laneBeacons[0].laneBeaconId"},
      {"a lane that is not an object", details, R"({"lanes":[{},3]})", "lanes[1]"},
      {"popup flag as text", notice, R"({"shouldPopup":"true"})", "shouldPopup"},
      {"null car park in details", notice, R"({"details":[null]})", "details[0]"},
      {"null beacon id", notice, R"({"details":[{"lanes":[{"beaconIds":["a",null]}]}]})",
       "details[0].lanes[0].beaconIds[1]"},
      {"notice message that is not an object", notice, R"({"noticeMessage":"hello"})", "noticeMessage"},
      {"notice title as a number", notice, R"({"noticeMessage":{"title":3}})", "noticeMessage.title"},
  };
  for (const auto& c : cases) {
    platform::Error error;
    EXPECT_FALSE(c.decode(parseJSON(c.body), &error)) << c.what;
    EXPECT_EQ(codingPath(error), c.path) << c.what;
  }
}

TEST(CarParkResultsTest, KeysAreReadOnlyInTheRecordsOwnCasing) {
  auto beacon = decodeRecord<LaneBeaconResult>(parseJSON(R"({"beaconID":"X","laneBeaconID":4})"));
  ASSERT_TRUE(beacon);
  EXPECT_EQ(beacon->beaconId, "");
  EXPECT_EQ(beacon->laneBeaconId, 0);

  auto details = decodeRecord<DetailsResult>(parseJSON(R"({"carParkID":9,"lanes":[{"laneID":4}]})"));
  ASSERT_TRUE(details);
  EXPECT_EQ(details->carParkId, 0);
  EXPECT_EQ(details->lanes.at(0).laneId, 0);

  auto notice = decodeRecord<NoticeResult>(
      parseJSON(R"({"details":[{"carParkId":9,"lanes":[{"laneID":4}]}],"extra":{"ignored":true}})"));
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->details.at(0).carParkID, -1);
  EXPECT_EQ(notice->details.at(0).lanes.at(0).laneId, -1);
}

TEST(CarParkResultsTest, AnEmptyResultTextIsKeptNotReplacedByFailure) {
  auto notice = decodeRecord<NoticeResult>(parseJSON(R"({"result":""})"));
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->result, "");
}

TEST(CarParkResultsTest, LaneEncodingLeavesOutNilOptionals) {
  LaneResult lane;
  lane.retrySecs = 0;
  const Value v = encoded(lane);
  EXPECT_TRUE(v["laneGroupId"].isAbsent());
  EXPECT_TRUE(v["laneGroupDelay"].isAbsent());
  EXPECT_EQ(v["retrySecs"], Value(0));
}

TEST(CarParkResultsTest, ExitReplyWithOnlyAResultWritesBackOnlyTheEnvelope) {
  auto exit = decodeRecord<ExitResult>(parseJSON(R"({"result":"Success"})"));
  ASSERT_TRUE(exit);
  EXPECT_FALSE(exit->entryTime);
  EXPECT_FALSE(exit->secondsInCarPark);
  EXPECT_FALSE(exit->amount);
  EXPECT_EQ(encoded(*exit), parseJSON(R"({"result":"Success","message":""})"));
}

}  // namespace
}  // namespace velmora

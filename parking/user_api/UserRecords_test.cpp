// The request and result records of the user account calls: initial values, decoding
// defaults, keys, required keys and type errors.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "parking/user_api/AuthTokenRequest.h"
#include "parking/user_api/AuthTokenResult.h"
#include "parking/user_api/CreateUserRequest.h"
#include "parking/user_api/CreateUserResult.h"
#include "parking/user_api/DetailRequest.h"
#include "parking/user_api/DetailResult.h"
#include "parking/user_api/LoginRequest.h"
#include "parking/user_api/LoginResult.h"
#include "parking/user_api/StatusRequest.h"
#include "parking/user_api/StatusResult.h"
#include "parking/user_api/UpdateRequest.h"
#include "parking/user_api/UpdateResult.h"
#include "parking/user_api/UserRequest.h"
#include "parking/user_api/UserResult.h"
#include "platform/core/Json.h"
#include "testing/ConfigReset.h"

namespace velmora {
namespace {

using platform::Value;

Value parse(std::string_view text) {
  platform::Error error;
  auto v = platform::json::parse(text, &error);
  EXPECT_TRUE(v) << text << ": " << error.debugDescription();
  return v ? *v : Value();
}

std::string text(const Value& v) { return platform::json::write(v).value_or("<unwritable>"); }

// Decodes a record of type R from JSON and writes it back: the record's fields as a JSON
// object, or nullopt when decoding fails.
using Reencode = std::function<std::optional<Value>(const Value&, platform::Error*)>;

template <class R>
Reencode reencode() {
  return [](const Value& json, platform::Error* error) -> std::optional<Value> {
    auto r = decodeRecord<R>(json, error);
    if (!r) return std::nullopt;
    return encodeRecord(*r);
  };
}

template <class R>
Value encoded(const R& record) {
  auto v = encodeRecord(record);
  EXPECT_TRUE(v);
  return v ? *v : Value();
}

// The fifteen always-present keys of a client-info block built from default settings.
constexpr std::string_view kDefaultBlock =
    R"("appId":"","clientSecret":"","userId":-1,"userToken":"","appName":"","appPackageName":"",)"
    R"("appVersion":"","appBuild":"","deviceModel":"","deviceManufacturer":"","deviceName":"",)"
    R"("deviceVersion":"","devicePlatform":"","deviceIdiom":"","deviceType":"")";

Value withDefaultBlock(std::string_view ownFields) {
  std::string body = "{" + std::string(kDefaultBlock);
  if (!ownFields.empty()) body += "," + std::string(ownFields);
  return parse(body + "}");
}

class UserRecordsTest : public ::testing::Test {
 protected:
  testing::ConfigReset config;
};

TEST_F(UserRecordsTest, RequestsBuiltBeforeAnySettingCarryTheDefaultBlockAndEmptyOwnFields) {
  struct Case {
    const char* name;
    Value body;
    std::string_view ownFields;
  };
  const std::vector<Case> cases = {
      {"LoginRequest", encoded(LoginRequest()), R"("email":"","password":"")"},
      {"UserRequest", encoded(UserRequest()),
       R"("email":"","firstname":"","lastname":"","phoneNo":"","password":"","facebookAccessToken":"",)"
       R"("appleIdAccessToken":"")"},
      {"UpdateRequest", encoded(UpdateRequest()), R"("email":"","firstName":"","lastName":"","phoneNo":"")"},
      {"CreateUserRequest", encoded(CreateUserRequest()), R"("email":"","firstname":"","lastname":"","phoneNo":"")"},
      {"StatusRequest", encoded(StatusRequest()), ""},
      {"DetailRequest", encoded(DetailRequest()), ""},
      {"AuthTokenRequest", encoded(AuthTokenRequest()), "<no block>"},
  };
  for (const auto& c : cases) {
    const Value expected = c.ownFields == "<no block>" ? parse(R"({"appId":"","clientSecret":""})")
                                                        : withDefaultBlock(c.ownFields);
    EXPECT_EQ(c.body, expected) << c.name << ": " << text(c.body);
  }
}

TEST_F(UserRecordsTest, RequestsCopyTheSettingsAtConstructionOnly) {
  VelmoraSDKConfig::setAppId("app-1");
  VelmoraSDKConfig::setClientSecret("secret-1");
  VelmoraSDKConfig::setUser(42, "token-42");
  VelmoraSDKConfig::setDeviceType("phone");
  const StatusRequest beforePosition;
  const AuthTokenRequest authBefore;
  VelmoraSDKConfig::setCurrentLatitude(51.5);
  VelmoraSDKConfig::setCurrentLongitude(-0.25);
  const StatusRequest afterPosition;
  VelmoraSDKConfig::setAppId("app-2");
  VelmoraSDKConfig::resetUser();

  EXPECT_EQ(beforePosition.appId, "app-1");
  EXPECT_EQ(beforePosition.userId, 42);
  EXPECT_EQ(beforePosition.userToken, "token-42");
  EXPECT_EQ(beforePosition.deviceType, "phone");
  const Value before = encoded(beforePosition);
  EXPECT_TRUE(before["currentLatitude"].isAbsent());
  EXPECT_TRUE(before["currentLongitude"].isAbsent());
  const Value after = encoded(afterPosition);
  EXPECT_EQ(after["currentLatitude"], Value(51.5));
  EXPECT_EQ(after["currentLongitude"], Value(-0.25));
  EXPECT_EQ(after["appId"], Value("app-1"));

  // The auth-token request copies the credentials but never the signed-in user.
  EXPECT_EQ(encoded(authBefore), parse(R"({"appId":"app-1","clientSecret":"secret-1"})"));

  // After the user signs out, new requests say so with -1 and an empty token.
  const DetailRequest signedOut;
  EXPECT_EQ(signedOut.userId, -1);
  EXPECT_EQ(signedOut.userToken, "");
  EXPECT_EQ(signedOut.appId, "app-2");
}

TEST_F(UserRecordsTest, OptionalRequestFieldsAreWrittenOnlyWhenPresent) {
  LoginRequest login;
  login.appId.reset();
  login.userToken.reset();
  login.facebookAccessToken = "fb";
  const Value body = encoded(login);
  EXPECT_TRUE(body["appId"].isAbsent());
  EXPECT_TRUE(body["userToken"].isAbsent());
  EXPECT_EQ(body["facebookAccessToken"], Value("fb"));
  EXPECT_TRUE(body["appleIdAccessToken"].isAbsent());
  EXPECT_EQ(body["email"], Value(""));
  EXPECT_EQ(body["password"], Value(""));

  AuthTokenRequest auth;
  auth.userId = -7;
  auth.email = "a@b.c";
  EXPECT_EQ(encoded(auth), parse(R"({"appId":"","clientSecret":"","userId":-7,"email":"a@b.c"})"));
}

TEST_F(UserRecordsTest, NonFinitePositionFailsToEncode) {
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
    VelmoraSDKConfig::setCurrentLongitude(bad);
    const UserRequest request;
    platform::Error error;
    EXPECT_FALSE(encodeRecordJSON(request, &error));
    EXPECT_EQ(error.domain, platform::coding::kDomain);
    EXPECT_EQ(error.code, platform::coding::kWriteInvalidValue);
    EXPECT_EQ(error.userInfo[std::string(platform::kCodingPathKey)], Value("currentLongitude"));
  }
}

TEST_F(UserRecordsTest, ResultsFreshFromInitHaveEmptyResultAndInitialValues) {
  struct Case {
    const char* name;
    Value body;
    std::string_view expected;
  };
  const std::vector<Case> cases = {
      {"LoginResult", encoded(LoginResult()),
       R"({"result":"","message":"","userId":-1,"authenticationToken":"","emailConfirmed":false})"},
      {"UserResult", encoded(UserResult()), R"({"result":"","message":"","userId":-1,"authenticationToken":""})"},
      {"UpdateResult", encoded(UpdateResult()), R"({"result":"","message":""})"},
      {"CreateUserResult", encoded(CreateUserResult()),
       R"({"result":"","message":"","userId":-1,"authenticationToken":""})"},
      {"DetailResult", encoded(DetailResult()),
       R"({"result":"","message":"","accountType":"","email":"","firstName":"","lastName":"","phoneNo":"",)"
       R"("homeCarParkName":"","groupZoneName":"","groupZoneColourCode":"","groupZoneCode":""})"},
      // Sixteen keys: the optional message is present (empty); the seven other optionals are nil.
      {"StatusResult", encoded(StatusResult()),
       R"({"result":"","message":"","accountType":"","emailConfirmed":false,"accessStatus":"","inCarPark":false,)"
       R"("isNested":false,"homeCarParkName":"","groupZoneName":"","groupZoneColourCode":"","groupZoneCode":"",)"
       R"("carParkName":"","casualAccess":false,"hasCard":false,"lanes":[],"reservedBay":""})"},
      {"AuthTokenResult", encoded(AuthTokenResult("r", "m", 9, "t")),
       R"({"result":"r","message":"m","userId":9,"authenticationToken":"t"})"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.body, parse(c.expected)) << c.name << ": " << text(c.body);
}

TEST_F(UserRecordsTest, ResultsDecodeMissingAndNullKeysToTheirDefaults) {
  struct Case {
    const char* name;
    Reencode reencode;
    std::string_view expected;  // what {} decodes to, written back
    std::vector<std::string> keys;  // every key of the record, each also tried as null
  };
  const std::vector<Case> cases = {
      {"LoginResult", reencode<LoginResult>(),
       R"({"result":"Failure","message":"","userId":-1,"authenticationToken":"","emailConfirmed":false})",
       {"result", "message", "userId", "authenticationToken", "emailConfirmed"}},
      {"AuthTokenResult", reencode<AuthTokenResult>(),
       R"({"result":"Failure","message":"","userId":-1,"authenticationToken":""})",
       {"result", "message", "userId", "authenticationToken"}},
      {"UserResult", reencode<UserResult>(), R"({"result":"Failure","message":"","userId":-1,"authenticationToken":""})",
       {"result", "message", "userId", "authenticationToken"}},
      {"UpdateResult", reencode<UpdateResult>(), R"({"result":"Failure","message":""})", {"result", "message"}},
      {"CreateUserResult", reencode<CreateUserResult>(),
       R"({"result":"Failure","message":"","userId":-1,"authenticationToken":""})",
       {"result", "message", "userId", "authenticationToken"}},
      {"DetailResult", reencode<DetailResult>(),
       R"({"result":"Failure","message":"","accountType":"","email":"","firstName":"","lastName":"","phoneNo":"",)"
       R"("homeCarParkName":"","groupZoneName":"","groupZoneColourCode":"","groupZoneCode":""})",
       {"result", "message", "accountType", "email", "firstName", "lastName", "phoneNo", "homeCarParkId",
        "homeCarParkName", "groupZoneName", "groupZoneColourCode", "groupZoneCode", "homeCarParkLatitude",
        "homeCarParkLongitude"}},
      {"StatusResult", reencode<StatusResult>(),
       R"({"result":"Failure","message":"","accountType":"","emailConfirmed":false,"accessStatus":"",)"
       R"("inCarPark":false,"isNested":false,"homeCarParkName":"","groupZoneName":"","groupZoneColourCode":"",)"
       R"("groupZoneCode":"","carParkName":"","casualAccess":false,"hasCard":false,"lanes":[],"reservedBay":""})",
       {"result", "message", "accountType", "emailConfirmed", "accessStatus", "inCarPark", "isNested", "entryTime",
        "entryTimeUTC", "serverTime", "secondsInCarPark", "homeCarParkId", "homeCarParkName", "groupZoneName",
        "groupZoneColourCode", "groupZoneCode", "carParkId", "carParkName", "casualAccess", "hasCard", "lanes",
        "amount", "reservedBay"}},
  };
  for (const auto& c : cases) {
    const Value expected = parse(c.expected);
    Value allNull = Value::makeDict();
    for (const auto& key : c.keys) allNull.set(key, platform::null);
    // Keys the record does not know are ignored.
    Value unknown = parse(R"({"unknownKey":[1,2,3],"Result":"Success"})");
    for (const Value& body : {Value::makeDict(), allNull, unknown}) {
      platform::Error error;
      auto written = c.reencode(body, &error);
      ASSERT_TRUE(written) << c.name << " <- " << text(body) << ": " << error.debugDescription();
      EXPECT_EQ(*written, expected) << c.name << " <- " << text(body) << " gave " << text(*written);
    }
  }
}

TEST_F(UserRecordsTest, ResultsTakePresentValuesUnchanged) {
  auto login = decodeRecordJSON<LoginResult>(R"({"result":"Success","userId":-5,"authenticationToken":"tok"})");
  ASSERT_TRUE(login);
  EXPECT_EQ(login->result, "Success");
  EXPECT_EQ(login->message, "");
  EXPECT_EQ(login->userId, -5);
  EXPECT_EQ(login->authenticationToken, "tok");
  EXPECT_FALSE(login->emailConfirmed);

  // An empty result stays empty: only a missing or null key becomes "Failure".
  auto status = decodeRecordJSON<StatusResult>(R"({"result":"","message":"m","carParkId":12,"amount":2.5,)"
                                               R"("lanes":[{"laneId":3,"laneType":2},{"laneId":4}]})");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->result, "");
  EXPECT_EQ(status->message, "m");
  EXPECT_EQ(status->carParkId, 12);
  EXPECT_EQ(status->amount, 2.5);
  ASSERT_EQ(status->lanes.size(), 2u);
  EXPECT_EQ(status->lanes[0].laneId, 3);
  EXPECT_EQ(status->lanes[0].laneType, 2);
  EXPECT_EQ(status->lanes[1].laneId, 4);

  // A whole-number JSON position reads as a double; the optional keys are written back.
  const std::string detailBody =
      R"({"result":"Success","homeCarParkId":12,"homeCarParkLatitude":51,"homeCarParkLongitude":-0.5})";
  auto detail = decodeRecordJSON<DetailResult>(detailBody);
  ASSERT_TRUE(detail);
  EXPECT_EQ(detail->homeCarParkId, 12);
  EXPECT_EQ(detail->homeCarParkLatitude, 51.0);
  const Value written = encoded(*detail);
  EXPECT_EQ(written["homeCarParkId"], Value(std::int64_t{12}));
  EXPECT_EQ(written["homeCarParkLatitude"], Value(51.0));
  EXPECT_EQ(written["homeCarParkLongitude"], Value(-0.5));
}

TEST_F(UserRecordsTest, EveryRecordReadsBackEveryKeyItWrites) {
  // Bodies with every key present and no value at its default: a key read under another
  // name than it is written, or into the wrong field, changes the body on the way through.
  const std::string block =
      R"("appId":"a","clientSecret":"b","userId":7,"userToken":"c","currentLatitude":1.25,"currentLongitude":-2.5,)"
      R"("appName":"d","appPackageName":"e","appVersion":"f","appBuild":"g","deviceModel":"h",)"
      R"("deviceManufacturer":"i","deviceName":"j","deviceVersion":"k","devicePlatform":"l","deviceIdiom":"m",)"
      R"("deviceType":"n")";
  struct Case {
    const char* name;
    Reencode reencode;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"LoginRequest", reencode<LoginRequest>(),
       "{" + block + R"(,"email":"o","password":"p","facebookAccessToken":"q","appleIdAccessToken":"r"})"},
      {"AuthTokenRequest", reencode<AuthTokenRequest>(), R"({"appId":"a","clientSecret":"b","userId":3,"email":"e"})"},
      {"UserRequest", reencode<UserRequest>(),
       "{" + block +
           R"(,"email":"o","firstname":"p","lastname":"q","phoneNo":"r","password":"s","facebookAccessToken":"t",)"
           R"("appleIdAccessToken":"u"})"},
      {"UpdateRequest", reencode<UpdateRequest>(),
       "{" + block + R"(,"email":"o","firstName":"p","lastName":"q","phoneNo":"r"})"},
      {"CreateUserRequest", reencode<CreateUserRequest>(),
       "{" + block + R"(,"email":"o","firstname":"p","lastname":"q","phoneNo":"r"})"},
      {"StatusRequest", reencode<StatusRequest>(), "{" + block + "}"},
      {"DetailRequest", reencode<DetailRequest>(), "{" + block + "}"},
      {"LoginResult", reencode<LoginResult>(),
       R"({"result":"Success","message":"m","userId":5,"authenticationToken":"t","emailConfirmed":true})"},
      {"AuthTokenResult", reencode<AuthTokenResult>(),
       R"({"result":"Success","message":"m","userId":5,"authenticationToken":"t"})"},
      {"UserResult", reencode<UserResult>(), R"({"result":"Success","message":"m","userId":5,"authenticationToken":"t"})"},
      {"UpdateResult", reencode<UpdateResult>(), R"({"result":"Success","message":"m"})"},
      {"CreateUserResult", reencode<CreateUserResult>(),
       R"({"result":"Success","message":"m","userId":5,"authenticationToken":"t"})"},
      {"DetailResult", reencode<DetailResult>(),
       R"({"result":"Success","message":"m","accountType":"a","email":"b","firstName":"c","lastName":"d",)"
       R"("phoneNo":"e","homeCarParkId":12,"homeCarParkName":"f","groupZoneName":"g","groupZoneColourCode":"h",)"
       R"("groupZoneCode":"i","homeCarParkLatitude":51.5,"homeCarParkLongitude":-0.5})"},
      // Dates are left out: they are read as text and written as numbers (DateDecoding_test).
      {"StatusResult", reencode<StatusResult>(),
       R"({"result":"Success","message":"m","accountType":"a","emailConfirmed":true,"accessStatus":"b",)"
       R"("inCarPark":true,"isNested":true,"secondsInCarPark":61,"homeCarParkId":12,"homeCarParkName":"c",)"
       R"("groupZoneName":"d","groupZoneColourCode":"e","groupZoneCode":"f","carParkId":13,"carParkName":"g",)"
       R"("casualAccess":true,"hasCard":true,"lanes":[],"amount":2.5,"reservedBay":"h"})"},
  };
  for (const auto& c : cases) {
    const Value body = parse(c.body);
    platform::Error error;
    auto written = c.reencode(body, &error);
    ASSERT_TRUE(written) << c.name << ": " << error.debugDescription();
    EXPECT_EQ(*written, body) << c.name << " gave " << text(*written);
  }
}

TEST_F(UserRecordsTest, WrongJsonTypeFailsTheWholeRecordAtItsKey) {
  struct Case {
    const char* name;
    Reencode reencode;
    std::string_view body;
    std::string_view path;  // coding path of the error
  };
  const std::vector<Case> cases = {
      {"LoginResult emailConfirmed 1", reencode<LoginResult>(), R"({"result":"Success","emailConfirmed":1})",
       "emailConfirmed"},
      {"LoginResult userId string", reencode<LoginResult>(), R"({"userId":"42"})", "userId"},
      {"AuthTokenResult token number", reencode<AuthTokenResult>(), R"({"authenticationToken":5})",
       "authenticationToken"},
      {"UserResult userId string", reencode<UserResult>(), R"({"result":"Success","userId":"42"})", "userId"},
      {"UpdateResult message bool", reencode<UpdateResult>(), R"({"message":true})", "message"},
      {"CreateUserResult userId too big", reencode<CreateUserResult>(), R"({"userId":1e30})", "userId"},
      {"CreateUserResult userId fraction", reencode<CreateUserResult>(), R"({"userId":4.5})", "userId"},
      {"DetailResult homeCarParkId string", reencode<DetailResult>(), R"({"homeCarParkId":"12"})", "homeCarParkId"},
      {"DetailResult email number", reencode<DetailResult>(), R"({"email":7})", "email"},
      {"StatusResult inCarPark 1", reencode<StatusResult>(), R"({"inCarPark":1})", "inCarPark"},
      {"StatusResult carParkId 12.5", reencode<StatusResult>(), R"({"carParkId":12.5})", "carParkId"},
      {"StatusResult lanes object", reencode<StatusResult>(), R"({"lanes":{}})", "lanes"},
      {"StatusResult bad lane", reencode<StatusResult>(), R"({"lanes":[{"laneId":1},{"laneId":"x"}]})",
       "lanes[1].laneId"},
      // Without a date rule installed, dates are read as numbers: text is a type error.
      {"StatusResult date without rule", reencode<StatusResult>(), R"({"serverTime":"2021-03-04T05:06:07"})",
       "serverTime"},
      {"StatusResult top-level array", reencode<StatusResult>(), R"([])", ""},
  };
  for (const auto& c : cases) {
    platform::Error error;
    EXPECT_FALSE(c.reencode(parse(c.body), &error)) << c.name;
    EXPECT_EQ(error.domain, platform::coding::kDomain) << c.name;
    EXPECT_EQ(error.code, platform::coding::kReadCorrupt) << c.name;
    EXPECT_EQ(error.userInfo[std::string(platform::kCodingPathKey)], Value(c.path)) << c.name;
  }
}

TEST_F(UserRecordsTest, RequestDecodingRequiresTheOwnFieldsAndNeverReadsTheSettings) {
  // Settings that decoding must not leak into the records.
  VelmoraSDKConfig::setAppId("from-settings");
  VelmoraSDKConfig::setUser(42, "token");

  struct Case {
    const char* name;
    Reencode reencode;
    std::string_view body;
    std::optional<std::string_view> written;  // nullopt: decoding fails
    std::int64_t code = 0;                     // error code when it fails
  };
  constexpr auto missing = platform::coding::kValueNotFound;
  constexpr auto corrupt = platform::coding::kReadCorrupt;
  const std::vector<Case> cases = {
      {"Login ok", reencode<LoginRequest>(), R"({"email":"e","password":"p"})", R"({"email":"e","password":"p"})"},
      {"Login no password", reencode<LoginRequest>(), R"({"email":"e"})", std::nullopt, missing},
      {"Login null email", reencode<LoginRequest>(), R"({"email":null,"password":"p"})", std::nullopt, missing},
      {"Login token number", reencode<LoginRequest>(), R"({"email":"e","password":"p","appleIdAccessToken":1})",
       std::nullopt, corrupt},
      {"AuthToken ok", reencode<AuthTokenRequest>(), R"({"appId":"a","clientSecret":"s","userId":3})",
       R"({"appId":"a","clientSecret":"s","userId":3})"},
      {"AuthToken no secret", reencode<AuthTokenRequest>(), R"({"appId":"a"})", std::nullopt, missing},
      {"User without appId", reencode<UserRequest>(),
       R"({"email":"","firstname":"","lastname":"","phoneNo":"","password":"","facebookAccessToken":"",)"
       R"("appleIdAccessToken":""})",
       R"({"email":"","firstname":"","lastname":"","phoneNo":"","password":"","facebookAccessToken":"",)"
       R"("appleIdAccessToken":""})"},
      {"User no password", reencode<UserRequest>(),
       R"({"email":"","firstname":"","lastname":"","phoneNo":"","facebookAccessToken":"","appleIdAccessToken":""})",
       std::nullopt, missing},
      {"Update lower-case names", reencode<UpdateRequest>(),
       R"({"email":"","firstname":"","lastname":"","phoneNo":""})", std::nullopt, missing},
      {"CreateUser own fields only", reencode<CreateUserRequest>(),
       R"({"email":"e","firstname":"f","lastname":"l","phoneNo":"p"})",
       R"({"email":"e","firstname":"f","lastname":"l","phoneNo":"p"})"},
      {"CreateUser no phoneNo", reencode<CreateUserRequest>(), R"({"email":"e","firstname":"f","lastname":"l"})",
       std::nullopt, missing},
      {"Detail from {}", reencode<DetailRequest>(), "{}", "{}"},
      {"Status block kept", reencode<StatusRequest>(), R"({"userId":7,"currentLatitude":1.5,"deviceType":null})",
       R"({"userId":7,"currentLatitude":1.5})"},
      {"Status userId text", reencode<StatusRequest>(), R"({"userId":"7"})", std::nullopt, corrupt},
  };
  for (const auto& c : cases) {
    platform::Error error;
    auto written = c.reencode(parse(c.body), &error);
    if (c.written) {
      ASSERT_TRUE(written) << c.name << ": " << error.debugDescription();
      EXPECT_EQ(*written, parse(*c.written)) << c.name << " gave " << text(*written);
    } else {
      EXPECT_FALSE(written) << c.name;
      EXPECT_EQ(error.code, c.code) << c.name << ": " << error.debugDescription();
    }
  }
}

TEST_F(UserRecordsTest, StatusResultWritesDatesAsReferenceSeconds) {
  StatusResult status;
  status.message.reset();
  status.entryTime = platform::Date::fromReferenceSeconds(1.5);
  status.secondsInCarPark = 60;
  const Value body = encoded(status);
  EXPECT_TRUE(body["message"].isAbsent());
  EXPECT_EQ(body["entryTime"], Value(1.5));
  EXPECT_EQ(body["secondsInCarPark"], Value(std::int64_t{60}));
  EXPECT_TRUE(body["serverTime"].isAbsent());
  EXPECT_EQ(body.size(), 17u);
}

}  // namespace
}  // namespace velmora

// The car-park calls as the parking service sees them, over a real loopback server: what
// each call sends, what each form hands back for every kind of reply, and requests that
// cannot be encoded or a server that is not there.

#include "parking/carpark_api/CarParkAPI.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/core/Json.h"
#include "testing/CompletionRecorder.h"
#include "testing/ConfigReset.h"
#include "testing/LoopbackHttpServer.h"
#include "testing/ParkingWire.h"
#include "testing/ParkingServiceFake.h"
#include "testing/ScopedTimeZone.h"

namespace velmora {
namespace {

using platform::Value;
using testing::CompletionRecorder;
using testing::LoopbackHttpServer;
using Recorded = LoopbackHttpServer::RecordedRequest;
using Reply = LoopbackHttpServer::Reply;
using Header = testing::WireHeader;
using testing::blockPlus;
using testing::body;
using testing::callHeaders;
using testing::kBlockKeys;
using testing::keys;
using testing::withUser;

const std::string kCorrupt = "The data couldn\u2019t be read because it isn\u2019t in the correct format.";

// The envelope of a result record; the payload upload's fields are optional, shown as "<nil>".
struct Envelope {
  std::string result;
  std::string message;
};
template <class Result>
Envelope envelope(const Result& r) {
  return {r.result, r.message};
}
Envelope envelope(const BeaconPayloadResult& r) {
  return {r.result.value_or("<nil>"), r.message.value_or("<nil>")};
}

// What an asynchronous form reported: the record's envelope, or the error's description.
struct AsyncOutcome {
  bool reported = false;
  std::optional<Envelope> record;
  std::optional<std::string> errorDescription;
};
template <class Result>
AsyncOutcome runAsync(const std::function<void(Completion<Result>)>& start) {
  CompletionRecorder<Result> recorder;
  start(recorder.completion());
  const auto report = recorder.first();
  AsyncOutcome out;
  out.reported = report.result.has_value() || report.error.has_value();
  if (report.result) out.record = envelope(*report.result);
  if (report.error) out.errorDescription = report.error->localizedDescription;
  return out;
}

BeaconPayloadRequest filledPayload() {
  BeaconPayloadRequest request;
  request.inCarPark = true;
  request.isNested = false;
  request.reasonType = 3;
  request.carParkID = 17;
  request.calculatedLaneID = 102;
  request.laneID = 101;
  request.timestampUTC = platform::Date::fromUnixSeconds(978307200 + 60);  // 60 s past the reference date
  BeaconPayloadItem item;
  item.laneID = 101;
  item.closest = true;
  item.rssi = -61;
  item.details.push_back(BeaconPayloadDetail{.beaconID = "b-1", .rssi = -60, .accuracy = 1.5});
  request.items = std::vector<BeaconPayloadItem>{item};
  return request;
}

// One row per car-park call, each run in its blocking and asynchronous form with the default
// request, and once with arguments (the convenience form; the payload upload has none, so a
// request with every field set).
struct Endpoint5 {
  const char* name;
  std::string path;
  std::function<Envelope()> blocking;
  std::function<AsyncOutcome()> async;
  std::function<Envelope()> withArguments;
  std::set<std::string> defaultKeys;    // body of the default request
  std::set<std::string> argumentKeys;   // body of withArguments
};

const std::vector<Endpoint5>& endpoints() {
  static const std::vector<Endpoint5> table = {
      {"detail", "/v4.0/carpark/detail", [] { return envelope(CarParkAPI::detail(DetailsRequest())); },
       [] { return runAsync<DetailsResult>([](auto done) { CarParkAPI::detail(DetailsRequest(), done); }); },
       [] { return envelope(CarParkAPI::detail(std::optional<std::string>("B:1:2"), std::optional<std::int64_t>(17))); },
       kBlockKeys, blockPlus({"beaconID", "carParkID"})},
      {"enter", "/v4.0/carpark/enter", [] { return envelope(CarParkAPI::enter(EnterRequest())); },
       [] { return runAsync<EnterResult>([](auto done) { CarParkAPI::enter(EnterRequest(), done); }); },
       [] { return envelope(CarParkAPI::enter(5, 6)); }, blockPlus({"laneId"}), blockPlus({"laneId", "calculatedLaneId"})},
      {"exit", "/v4.0/carpark/exit", [] { return envelope(CarParkAPI::exit(ExitRequest())); },
       [] { return runAsync<ExitResult>([](auto done) { CarParkAPI::exit(ExitRequest(), done); }); },
       [] { return envelope(CarParkAPI::exit(7, 8)); }, blockPlus({"laneId"}), blockPlus({"laneId", "calculatedLaneId"})},
      {"notification", "/v4.0/carpark/notification", [] { return envelope(CarParkAPI::notification(NoticeRequest())); },
       [] { return runAsync<NoticeResult>([](auto done) { CarParkAPI::notification(NoticeRequest(), done); }); },
       [] { return envelope(CarParkAPI::notification({{.beaconId = "b-1", .rssi = -70.5}})); },
       blockPlus({"beacons"}), blockPlus({"beacons"})},
      {"beaconpayload", "/v4.0/carpark/beaconpayload",
       [] { return envelope(CarParkAPI::beaconPayload(BeaconPayloadRequest())); },
       [] {
         return runAsync<BeaconPayloadResult>(
             [](auto done) { CarParkAPI::beaconPayload(BeaconPayloadRequest(), done); });
       },
       [] { return envelope(CarParkAPI::beaconPayload(filledPayload())); }, kBlockKeys,
       blockPlus({"inCarPark", "isNested", "reasonType", "carParkID", "calculatedLaneID", "laneID", "timestampUTC",
                  "items"})},
  };
  return table;
}

class CarParkAPIContractTest : public ::testing::Test {
 protected:
  CarParkAPIContractTest() {
    VelmoraSDKConfig::setServerName(server.baseUrl());
    server.setDefaultReply({.status = 200, .body = R"({"result":"Success","message":"ok"})"});
  }
  ~CarParkAPIContractTest() override { runner::setRequestTimeoutSeconds(60); }

  Recorded onlyRequest() {
    const auto all = server.requests();
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? Recorded{} : all.back();
  }

  testing::ConfigReset config;
  LoopbackHttpServer server;
};

TEST_F(CarParkAPIContractTest, EachCallPostsItsPathHeadersAndBodyInEveryForm) {
  for (const auto& c : endpoints()) {
    SCOPED_TRACE(c.name);
    const std::size_t before = server.requests().size();
    const Envelope blocking = c.blocking();
    EXPECT_EQ(blocking.result, "Success");
    EXPECT_EQ(blocking.message, "ok");
    const AsyncOutcome async = c.async();
    ASSERT_TRUE(async.record) << async.errorDescription.value_or("no report");
    EXPECT_EQ(async.record->result, "Success");
    EXPECT_EQ(c.withArguments().result, "Success");

    const auto all = server.requests();
    ASSERT_EQ(all.size(), before + 3);
    for (std::size_t i = before; i < all.size(); ++i) {
      const Recorded& r = all[i];
      EXPECT_EQ(r.method, "POST");
      EXPECT_EQ(r.target, c.path);
      // Signed out: the user headers say so with -1 and an empty token.
      EXPECT_EQ(callHeaders(r), withUser("-1", ""));
      EXPECT_EQ(keys(body(r)), i + 1 == all.size() ? c.argumentKeys : c.defaultKeys) << r.body;
    }
  }
}

TEST_F(CarParkAPIContractTest, ServerNameEndingInSlashSendsOneSlashOnEveryPath) {
  VelmoraSDKConfig::setServerName(server.baseUrl() + "/");
  for (const auto& c : endpoints()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.blocking().result, "Success");
    EXPECT_EQ(server.requests().back().target, c.path);
  }
  EXPECT_EQ(server.requests().size(), endpoints().size());
}

TEST_F(CarParkAPIContractTest, SignedInUserGoesInTheHeadersAndTheBodyOfEveryCall) {
  VelmoraSDKConfig::setUser(42, "t");
  for (const auto& c : endpoints()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.withArguments().result, "Success");
    const Recorded r = server.requests().back();
    EXPECT_EQ(r.target, c.path);
    EXPECT_EQ(callHeaders(r), withUser("42", "t"));
    EXPECT_EQ(body(r)["userId"], Value(std::int64_t{42}));
    EXPECT_EQ(body(r)["userToken"], Value("t"));
  }
}

TEST_F(CarParkAPIContractTest, ConvenienceFormsSendTheirArgumentsAndLeaveOutNilOnes) {
  CarParkAPI::detail(std::nullopt, std::nullopt);
  CarParkAPI::detail(std::optional<std::string>("B:1:2"), std::optional<std::int64_t>(17));
  CarParkAPI::enter(5, std::nullopt);
  CarParkAPI::enter(5, 6);
  CarParkAPI::exit(9, std::nullopt);
  CarParkAPI::notification({{.beaconId = "b-1", .rssi = -70.5}, {.beaconId = "b-2", .rssi = -81.25}});
  CarParkAPI::notification(std::vector<NoticeBeaconRequest>{});

  const auto all = server.requests();
  ASSERT_EQ(all.size(), 7u);

  // Neither id, in any casing.
  EXPECT_EQ(keys(body(all[0])), kBlockKeys) << all[0].body;
  const Value detail = body(all[1]);
  EXPECT_EQ(detail["beaconID"], Value("B:1:2"));
  EXPECT_EQ(detail["carParkID"], Value(std::int64_t{17}));

  struct LaneCase {
    const char* name;
    std::size_t index;
    std::int64_t laneId;
    std::optional<std::int64_t> calculatedLaneId;
  };
  for (const auto& c : std::vector<LaneCase>{{"enter(5, nil)", 2, 5, std::nullopt},
                                             {"enter(5, 6)", 3, 5, 6},
                                             {"exit(9, nil)", 4, 9, std::nullopt}}) {
    SCOPED_TRACE(c.name);
    const Value b = body(all[c.index]);
    EXPECT_EQ(b["laneId"], Value(c.laneId));
    if (c.calculatedLaneId) {
      EXPECT_EQ(b["calculatedLaneId"], Value(*c.calculatedLaneId));
    } else {
      EXPECT_EQ(keys(b), blockPlus({"laneId"})) << all[c.index].body;
    }
  }

  EXPECT_EQ(body(all[5])["beacons"],
            platform::json::parse(R"([{"beaconId":"b-1","rssi":-70.5},{"beaconId":"b-2","rssi":-81.25}])"));
  EXPECT_EQ(body(all[6])["beacons"], platform::json::parse("[]"));
}

TEST_F(CarParkAPIContractTest, PayloadUploadSendsTheHostAppsFieldsWithTheirCasing) {
  CarParkAPI::beaconPayload(filledPayload());
  const Value b = body(onlyRequest());
  EXPECT_EQ(b["inCarPark"], Value(true));
  EXPECT_EQ(b["isNested"], Value(false));
  EXPECT_EQ(b["reasonType"], Value(std::int64_t{3}));
  EXPECT_EQ(b["carParkID"], Value(std::int64_t{17}));
  EXPECT_EQ(b["calculatedLaneID"], Value(std::int64_t{102}));
  EXPECT_EQ(b["laneID"], Value(std::int64_t{101}));
  ASSERT_TRUE(b["timestampUTC"].toDouble());
  EXPECT_DOUBLE_EQ(*b["timestampUTC"].toDouble(), 60.0);
  const Value item = b["items"][std::size_t{0}];
  EXPECT_EQ(item["laneID"], Value(std::int64_t{101}));
  EXPECT_EQ(item["closest"], Value(true));
  EXPECT_EQ(item["details"][std::size_t{0}]["beaconID"], Value("b-1"));
}

TEST_F(CarParkAPIContractTest, PayloadUploadRejectedWith500IsAFailureRecordInBothForms) {
  server.setReply("/v4.0/carpark/beaconpayload", {.status = 500, .body = R"({"result":"Success","message":"x"})"});
  const BeaconPayloadResult blocking = CarParkAPI::beaconPayload(BeaconPayloadRequest());
  EXPECT_EQ(blocking.result, std::optional<std::string>("Failure"));
  EXPECT_EQ(blocking.message, std::optional<std::string>("Http Status failed: 500"));

  CompletionRecorder<BeaconPayloadResult> recorder;
  CarParkAPI::beaconPayload(BeaconPayloadRequest(), recorder.completion());
  const auto report = recorder.first();
  ASSERT_TRUE(report.result);
  EXPECT_FALSE(report.error);
  EXPECT_EQ(report.result->result, std::optional<std::string>("Failure"));
  EXPECT_EQ(report.result->message, std::optional<std::string>("Http Status failed: 500"));
}

// Every failure the blocking forms can meet comes back as a record with result "Failure";
// the asynchronous form reports a record for a status and an error for everything else,
// and the blocking message is that error's description.
TEST_F(CarParkAPIContractTest, BlockingFormsTurnEveryFailureIntoAFailureRecord) {
  struct Mode {
    const char* name;
    Reply reply;
    double timeoutSeconds;
    std::optional<std::string> message;  // the exact message, when it is fixed
    bool asyncRecord;                    // the asynchronous form gets a record, not an error
  };
  const std::string success = R"({"result":"Success","message":"ok"})";
  const std::vector<Mode> modes = {
      {"404", {.status = 404, .body = "not here"}, 60, "Http Status failed: 404", true},
      {"500 with a success body", {.status = 500, .body = success}, 60, "Http Status failed: 500", true},
      {"201 with a success body", {.status = 201, .body = success}, 60, "Http Status failed: 201", true},
      {"200 not JSON", {.status = 200, .body = "<html>oops</html>"}, 60, kCorrupt, false},
      {"200 empty body", {.status = 200, .body = ""}, 60, kCorrupt, false},
      {"200 JSON array", {.status = 200, .body = "[]"}, 60, kCorrupt, false},
      {"connection closed", {.mode = Reply::Mode::Close}, 60, std::nullopt, false},
      {"body cut short", {.status = 200, .body = success, .mode = Reply::Mode::Truncate}, 60, std::nullopt, false},
      {"stalled server", {.mode = Reply::Mode::Stall}, 0.3, "The request timed out.", false},
  };
  for (const auto& m : modes) {
    SCOPED_TRACE(m.name);
    server.setDefaultReply(m.reply);
    runner::setRequestTimeoutSeconds(m.timeoutSeconds);
    for (const auto& c : endpoints()) {
      SCOPED_TRACE(c.name);
      const AsyncOutcome async = c.async();
      ASSERT_TRUE(async.reported) << "no report";
      const Envelope blocking = c.blocking();
      EXPECT_EQ(blocking.result, "Failure");
      if (m.message) {
        EXPECT_EQ(blocking.message, *m.message);
      }
      EXPECT_FALSE(blocking.message.empty());
      EXPECT_EQ(c.withArguments().result, "Failure");
      if (m.asyncRecord) {
        ASSERT_TRUE(async.record);
        EXPECT_EQ(async.record->result, "Failure");
        EXPECT_EQ(async.record->message, blocking.message);
      } else {
        ASSERT_TRUE(async.errorDescription);
        EXPECT_FALSE(async.record);
        EXPECT_EQ(*async.errorDescription, blocking.message);
      }
      EXPECT_EQ(server.requests().back().target, c.path);
    }
  }
}

TEST_F(CarParkAPIContractTest, NonOkRecordsKeepTheInitialValuesAndIgnoreTheBody) {
  server.setReply("/v4.0/carpark/detail", {.status = 503, .body = testing::ParkingServiceFake::carParkDetailsJson()});
  server.setReply("/v4.0/carpark/exit",
                  {.status = 503, .body = R"({"result":"Success","entryTime":"2026-12-09T08:16:02","amount":1})"});
  server.setReply("/v4.0/carpark/notification", {.status = 503, .body = R"({"result":"Success","shouldPopup":true})"});
  server.setReply("/v4.0/carpark/enter", {.status = 503, .body = R"({"result":"Success","reservedBay":"B-1"})"});

  const DetailsResult detail = CarParkAPI::detail(std::nullopt, std::int64_t{17});
  EXPECT_EQ(detail.message, "Http Status failed: 503");
  EXPECT_EQ(detail.carParkId, 0);
  EXPECT_EQ(detail.availableSpaces, -1);
  EXPECT_TRUE(detail.lanes.empty());
  const ExitResult left = CarParkAPI::exit(1, std::nullopt);
  EXPECT_EQ(left.message, "Http Status failed: 503");
  EXPECT_FALSE(left.entryTime);
  EXPECT_FALSE(left.amount);
  EXPECT_FALSE(CarParkAPI::notification(std::vector<NoticeBeaconRequest>{}).shouldPopup);
  EXPECT_EQ(CarParkAPI::enter(1, std::nullopt).reservedBay, "");
}

TEST_F(CarParkAPIContractTest, ClearedUserFieldsSendNoUserHeadersAndAnEmptyTokenIsStillSent) {
  EnterRequest cleared;
  cleared.userId.reset();
  cleared.userToken.reset();
  CarParkAPI::enter(cleared);
  ExitRequest tokenOnly;
  tokenOnly.userId.reset();
  CarParkAPI::exit(tokenOnly);
  const auto all = server.requests();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(callHeaders(all[0]), (std::vector<Header>{{"Content-Type", "application/json"},
                                                      {"Accept", "application/json"}}));
  EXPECT_EQ(callHeaders(all[1]), (std::vector<Header>{{"Content-Type", "application/json"},
                                                      {"Accept", "application/json"},
                                                      {"AuthenticationToken", ""}}));
}

TEST_F(CarParkAPIContractTest, AnEmptyObjectIsASuccessfulExchangeWithTheDecodersDefaults) {
  server.setDefaultReply({.status = 200, .body = "{}"});
  const DetailsResult details = CarParkAPI::detail(DetailsRequest());
  EXPECT_EQ(details.result, "Failure");
  EXPECT_EQ(details.availableSpaces, -1);
  const AsyncOutcome async =
      runAsync<NoticeResult>([](auto done) { CarParkAPI::notification(NoticeRequest(), done); });
  ASSERT_TRUE(async.record);
  EXPECT_FALSE(async.errorDescription);
  EXPECT_EQ(async.record->result, "Failure");
}

TEST_F(CarParkAPIContractTest, ExitReplyDatesTakeTwoFormatsAndNoZone) {
  velmora::testing::ScopedTimeZone zone("Etc/UTC");
  ASSERT_TRUE(zone.ok());
  struct Case {
    const char* entryTime;
    std::optional<std::int64_t> unixMicros;  // nullopt: the reply fails to decode
  };
  const Case cases[] = {
      {"2021-03-04T05:06:07", 1614834367000000},
      {"2021-03-04T05:06:07.890", 1614834367890000},
      {"2021-03-04T05:06:07.890+0000", std::nullopt},
      {"2021-03-04T05:06:07Z", std::nullopt},
      {"2021-03-04", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entryTime);
    server.setDefaultReply(
        {.status = 200, .body = std::string(R"({"result":"Success","entryTime":")") + c.entryTime + "\"}"});
    CompletionRecorder<ExitResult> recorder;
    CarParkAPI::exit(ExitRequest(), recorder.completion());
    const auto report = recorder.first();
    const ExitResult blocking = CarParkAPI::exit(1, std::nullopt);
    if (c.unixMicros) {
      ASSERT_TRUE(report.result);
      ASSERT_TRUE(report.result->entryTime);
      EXPECT_EQ(report.result->entryTime->unixMicros(), *c.unixMicros);
      EXPECT_EQ(blocking.result, "Success");
    } else {
      EXPECT_FALSE(report.result);
      ASSERT_TRUE(report.error);
      EXPECT_EQ(report.error->debugDescription(), std::string("Cannot decode date string ") + c.entryTime);
      EXPECT_EQ(blocking.result, "Failure");
      EXPECT_FALSE(blocking.entryTime);
    }
  }
}

// Nothing listens on the port: every form of every call still ends once, the blocking
// forms with a failure record and the asynchronous ones with the connection error.
TEST_F(CarParkAPIContractTest, AServerThatIsNotThereGivesFailureRecordsAndErrors) {
  std::string closedBase;
  {
    LoopbackHttpServer gone;
    closedBase = gone.baseUrl();
  }
  VelmoraSDKConfig::setServerName(closedBase);
  const std::string message = "Could not connect to the server.";
  for (const auto& c : endpoints()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.blocking().message, message);
    const Envelope withArguments = c.withArguments();
    EXPECT_EQ(withArguments.result, "Failure");
    EXPECT_EQ(withArguments.message, message);
    const AsyncOutcome async = c.async();
    EXPECT_FALSE(async.record);
    EXPECT_EQ(async.errorDescription, std::optional<std::string>(message));
  }
}

// A request JSON cannot carry is reported at once, on the calling thread, and never sent.
TEST_F(CarParkAPIContractTest, UnencodableRequestsAreReportedBeforeReturnAndNotSent) {
  NoticeRequest notice;
  notice.beacons = {NoticeBeaconRequest{"a", std::nan("")}};
  CompletionRecorder<NoticeResult> noticeRecorder;
  CarParkAPI::notification(notice, noticeRecorder.completion());
  const auto reports = noticeRecorder.reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].thread, std::this_thread::get_id());
  EXPECT_FALSE(reports[0].result);
  ASSERT_TRUE(reports[0].error);
  EXPECT_EQ(reports[0].error->code, platform::coding::kWriteInvalidValue);
  const NoticeResult blockingNotice = CarParkAPI::notification(notice);
  EXPECT_EQ(blockingNotice.result, "Failure");
  EXPECT_EQ(blockingNotice.message, reports[0].error->localizedDescription);

  BeaconPayloadRequest payload;
  BeaconPayloadItem item;
  item.details.resize(1);
  item.details[0].accuracy = INFINITY;
  payload.items = std::vector<BeaconPayloadItem>{item};
  const BeaconPayloadResult blockingPayload = CarParkAPI::beaconPayload(payload);
  EXPECT_EQ(blockingPayload.result, "Failure");
  EXPECT_EQ(blockingPayload.message, reports[0].error->localizedDescription);

  VelmoraSDKConfig::setCurrentLatitude(-INFINITY);
  EXPECT_EQ(CarParkAPI::detail(std::nullopt, std::nullopt).result, "Failure");
  EXPECT_EQ(CarParkAPI::enter(1, std::nullopt).result, "Failure");
  VelmoraSDKConfig::setCurrentLatitude(std::nullopt);

  EXPECT_TRUE(server.requests().empty());
}

// The replies of the service stand-in, decoded by each call.
class CarParkAPIReplyTest : public ::testing::Test {
 protected:
  CarParkAPIReplyTest() { VelmoraSDKConfig::setServerName(service.baseUrl()); }

  testing::ConfigReset config;
  testing::ParkingServiceFake service;
};

TEST_F(CarParkAPIReplyTest, DetailsReplyIsDecodedWithItsLanesInBothForms) {
  auto check = [](const DetailsResult& d) {
    EXPECT_EQ(d.result, "Success");
    EXPECT_EQ(d.carParkId, testing::ParkingServiceFake::kCarParkId);
    EXPECT_EQ(d.carParkName, "Harbour Street");
    EXPECT_EQ(d.availableSpaces, 42);
    EXPECT_TRUE(d.homeCarPark);
    ASSERT_EQ(d.lanes.size(), 3u);
    const std::vector<std::tuple<std::int64_t, std::int64_t, std::string>> lanes = {
        {101, 1, "North entry"}, {102, 1, "South entry"}, {201, 2, "Main exit"}};
    for (std::size_t i = 0; i < lanes.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(d.lanes[i].laneId, std::get<0>(lanes[i]));
      EXPECT_EQ(d.lanes[i].laneType, std::get<1>(lanes[i]));
      EXPECT_EQ(d.lanes[i].name, std::get<2>(lanes[i]));
      EXPECT_EQ(d.lanes[i].minRSSI, -85);
      EXPECT_EQ(d.lanes[i].retrySecs, std::optional<std::int64_t>(10));
      EXPECT_EQ(d.lanes[i].laneBeacons.size(), 3u);
    }
    ASSERT_FALSE(d.lanes[0].laneBeacons.empty());
    EXPECT_EQ(d.lanes[0].laneBeacons[0].beaconId, testing::ParkingServiceFake::entryBeaconId());
    EXPECT_EQ(d.lanes[0].laneBeacons[0].laneBeaconId, 1010);
  };
  check(CarParkAPI::detail(testing::ParkingServiceFake::entryBeaconId(), std::nullopt));

  CompletionRecorder<DetailsResult> recorder;
  CarParkAPI::detail(DetailsRequest(), recorder.completion());
  const auto report = recorder.first();
  ASSERT_TRUE(report.result);
  check(*report.result);
}

TEST_F(CarParkAPIReplyTest, EnterExitNoticeAndPayloadRepliesAreDecoded) {
  testing::ScopedTimeZone zone("Etc/UTC");
  ASSERT_TRUE(zone.ok());

  const EnterResult enter = CarParkAPI::enter(101, std::nullopt);
  EXPECT_EQ(enter.result, "Success");
  EXPECT_EQ(enter.message, "Gate opening");
  EXPECT_EQ(enter.reservedBay, "B-14");

  const ExitResult left = CarParkAPI::exit(201, 201);
  EXPECT_EQ(left.result, "Success");
  EXPECT_EQ(left.message, "Safe travels");
  EXPECT_EQ(left.entryTime, platform::Date::fromUnixMicros(1796804162LL * 1'000'000));  // 2026-12-09T08:16:02Z
  EXPECT_EQ(left.secondsInCarPark, std::optional<std::int64_t>(5400));
  EXPECT_EQ(left.amount, std::optional<double>(12.5));

  const NoticeResult notice = CarParkAPI::notification({{.beaconId = "b", .rssi = -60}});
  EXPECT_EQ(notice.result, "Success");
  EXPECT_TRUE(notice.shouldPopup);
  EXPECT_EQ(notice.noticeMessage.title, "Approaching North entry");
  EXPECT_EQ(notice.noticeMessage.message, "Drive up to the gate");
  EXPECT_TRUE(notice.details.empty());

  const BeaconPayloadResult payload = CarParkAPI::beaconPayload(BeaconPayloadRequest());
  EXPECT_EQ(payload.result, std::optional<std::string>("Success"));
  EXPECT_EQ(payload.message, std::optional<std::string>("Payload stored"));
}

}  // namespace
}  // namespace velmora

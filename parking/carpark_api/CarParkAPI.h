#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "parking/carpark_api/BeaconPayloadRequest.h"
#include "parking/carpark_api/BeaconPayloadResult.h"
#include "parking/carpark_api/DetailsRequest.h"
#include "parking/carpark_api/DetailsResult.h"
#include "parking/carpark_api/EnterRequest.h"
#include "parking/carpark_api/EnterResult.h"
#include "parking/carpark_api/ExitRequest.h"
#include "parking/carpark_api/ExitResult.h"
#include "parking/carpark_api/NoticeBeaconRequest.h"
#include "parking/carpark_api/NoticeRequest.h"
#include "parking/carpark_api/NoticeResult.h"
#include "parking/service/RequestRunner.h"

namespace velmora {

// The client of the parking service's car-park endpoints: car-park details, lane enter,
// lane exit, lane notification and beacon payload upload. Each is one JSON POST to the
// configured server name followed by the endpoint's path, run by the shared request runner.
//
// Every endpoint has an asynchronous form (the completion gets the result or an error) and
// a blocking form, which always returns a record: the service's reply, a failure record
// for a status other than 200 ("Http Status failed: " and the code), or a fresh record
// with result "Failure" and the error's description. All but the payload upload also have
// a convenience form that builds the request from the settings and a few values and runs
// the blocking form. Failures are never thrown. A blocking form does its exchange on the
// calling thread and needs no queue to finish, so it may be called anywhere, inside a
// completion of another parking call included.
class CarParkAPI {
 public:
  CarParkAPI() = delete;

  static constexpr std::string_view kDetailPath = "/v4.0/carpark/detail";
  static constexpr std::string_view kEnterPath = "/v4.0/carpark/enter";
  static constexpr std::string_view kExitPath = "/v4.0/carpark/exit";
  static constexpr std::string_view kNotificationPath = "/v4.0/carpark/notification";
  static constexpr std::string_view kBeaconPayloadPath = "/v4.0/carpark/beaconpayload";

  // Details of the car park of a beacon, of a car-park id, or both; a nil argument is left
  // out of the request.
  static DetailsResult detail(std::optional<std::string> beaconID, std::optional<std::int64_t> carParkID);
  static DetailsResult detail(const DetailsRequest& detailsRequest);
  static void detail(const DetailsRequest& detailsRequest, Completion<DetailsResult> completionBlock);

  // The user entered the car park at laneId.
  static EnterResult enter(std::int64_t laneId, std::optional<std::int64_t> calculatedLaneId);
  static EnterResult enter(const EnterRequest& enterRequest);
  static void enter(const EnterRequest& enterRequest, Completion<EnterResult> completionBlock);

  // The user left the car park at laneId. The reply's entryTime is read as
  // "yyyy-MM-dd'T'HH:mm:ss" or the same with milliseconds; any other text fails the reply.
  static ExitResult exit(std::int64_t laneId, std::optional<std::int64_t> calculatedLaneId);
  static ExitResult exit(const ExitRequest& exitRequest);
  static void exit(const ExitRequest& exitRequest, Completion<ExitResult> completionBlock);

  // The beacons the app hears, for the service's lane notice.
  static NoticeResult notification(std::vector<NoticeBeaconRequest> beacons);
  static NoticeResult notification(const NoticeRequest& noticeRequest);
  static void notification(const NoticeRequest& noticeRequest, Completion<NoticeResult> completionBlock);

  // Uploads what the app measured at a car park's lanes. No convenience form: the host
  // app fills the request.
  static BeaconPayloadResult beaconPayload(const BeaconPayloadRequest& beaconPayloadRequest);
  static void beaconPayload(const BeaconPayloadRequest& beaconPayloadRequest,
                            Completion<BeaconPayloadResult> completionBlock);
};

}  // namespace velmora

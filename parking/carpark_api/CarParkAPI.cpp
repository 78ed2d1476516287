#include "parking/carpark_api/CarParkAPI.h"

#include <utility>

#include "parking/service/DateDecoding.h"

namespace velmora {

namespace {

// The endpoint table. The initial records are the fresh results a blocking call starts
// from and a non-200 reply is built on.
const Endpoint<DetailsResult> kDetail{CarParkAPI::kDetailPath, true, nullptr, [] { return DetailsResult{}; }};
const Endpoint<EnterResult> kEnter{CarParkAPI::kEnterPath, true, nullptr, [] { return EnterResult{}; }};
const Endpoint<NoticeResult> kNotification{CarParkAPI::kNotificationPath, true, nullptr,
                                           [] { return NoticeResult{}; }};
const Endpoint<BeaconPayloadResult> kBeaconPayload{CarParkAPI::kBeaconPayloadPath, true, nullptr,
                                                   [] { return BeaconPayloadResult(std::nullopt, std::nullopt); }};

// The exit reply carries a date, read by the lane exit rule; the rule is made on first use.
const Endpoint<ExitResult>& exitEndpoint() {
  static const Endpoint<ExitResult>& endpoint =
      *new Endpoint<ExitResult>{CarParkAPI::kExitPath, true, &laneExitDateRule(), [] { return ExitResult{}; }};
  return endpoint;
}

}  // namespace

DetailsResult CarParkAPI::detail(std::optional<std::string> beaconID, std::optional<std::int64_t> carParkID) {
  DetailsRequest request;
  request.beaconID = std::move(beaconID);
  request.carParkID = carParkID;
  return detail(request);
}

DetailsResult CarParkAPI::detail(const DetailsRequest& detailsRequest) {
  return runRequestBlocking(kDetail, detailsRequest);
}

void CarParkAPI::detail(const DetailsRequest& detailsRequest, Completion<DetailsResult> completionBlock) {
  runRequest(kDetail, detailsRequest, std::move(completionBlock));
}

EnterResult CarParkAPI::enter(std::int64_t laneId, std::optional<std::int64_t> calculatedLaneId) {
  EnterRequest request;
  request.laneId = laneId;
  request.calculatedLaneId = calculatedLaneId;
  return enter(request);
}

EnterResult CarParkAPI::enter(const EnterRequest& enterRequest) { return runRequestBlocking(kEnter, enterRequest); }

void CarParkAPI::enter(const EnterRequest& enterRequest, Completion<EnterResult> completionBlock) {
  runRequest(kEnter, enterRequest, std::move(completionBlock));
}

ExitResult CarParkAPI::exit(std::int64_t laneId, std::optional<std::int64_t> calculatedLaneId) {
  ExitRequest request;
  request.laneId = laneId;
  request.calculatedLaneId = calculatedLaneId;
  return exit(request);
}

ExitResult CarParkAPI::exit(const ExitRequest& exitRequest) { return runRequestBlocking(exitEndpoint(), exitRequest); }

void CarParkAPI::exit(const ExitRequest& exitRequest, Completion<ExitResult> completionBlock) {
  runRequest(exitEndpoint(), exitRequest, std::move(completionBlock));
}

NoticeResult CarParkAPI::notification(std::vector<NoticeBeaconRequest> beacons) {
  NoticeRequest request;
  request.beacons = std::move(beacons);
  return notification(request);
}

NoticeResult CarParkAPI::notification(const NoticeRequest& noticeRequest) {
  return runRequestBlocking(kNotification, noticeRequest);
}

void CarParkAPI::notification(const NoticeRequest& noticeRequest, Completion<NoticeResult> completionBlock) {
  runRequest(kNotification, noticeRequest, std::move(completionBlock));
}

BeaconPayloadResult CarParkAPI::beaconPayload(const BeaconPayloadRequest& beaconPayloadRequest) {
  return runRequestBlocking(kBeaconPayload, beaconPayloadRequest);
}

void CarParkAPI::beaconPayload(const BeaconPayloadRequest& beaconPayloadRequest,
                               Completion<BeaconPayloadResult> completionBlock) {
  runRequest(kBeaconPayload, beaconPayloadRequest, std::move(completionBlock));
}

}  // namespace velmora

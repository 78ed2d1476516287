#include "parking/lane_detection/ParkingLookups.h"

#include <mutex>
#include <optional>
#include <string>

#include "parking/carpark_api/CarParkAPI.h"
#include "parking/user_api/UserAPI.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora {
namespace {

// Starts one call and waits for its completion or the give-up time. The box outlives the
// wait: a completion that comes after the give-up finds it abandoned and drops its record.
template <class Request, class Result, class Call>
Result waitFor(const Call& call, const Request& request) {
  struct Box {
    std::mutex mutex;
    bool abandoned = false;
    Result record;
  };
  auto box = std::make_shared<Box>();
  auto group = platform::dispatch::Scheduler::shared()->makeGroup();
  group->enter();
  call(request, [box, group](std::optional<Result> result, std::optional<platform::Error> error) {
    {
      std::lock_guard lock(box->mutex);
      if (box->abandoned) return;
      if (result) {
        box->record = std::move(*result);
      } else {
        runner::markFailure(box->record,
                            error ? std::optional<std::string>(error->localizedDescription) : std::nullopt);
      }
    }
    group->leave();
  });
  const bool answered = group->wait(ParkingLookups::kGiveUpSeconds);
  std::lock_guard lock(box->mutex);
  if (!answered) {
    box->abandoned = true;
    Result failure{};
    runner::markFailure(failure, std::string(WaitingParkingLookups::kTimedOutMessage));
    return failure;
  }
  return std::move(box->record);
}

}  // namespace

std::shared_ptr<ParkingLookups> ParkingLookups::makeDefault() { return std::make_shared<WaitingParkingLookups>(); }

WaitingParkingLookups::WaitingParkingLookups()
    : WaitingParkingLookups(
          [](const StatusRequest& r, Completion<StatusResult> c) { UserAPI::status(r, std::move(c)); },
          [](const DetailsRequest& r, Completion<DetailsResult> c) { CarParkAPI::detail(r, std::move(c)); }) {}

WaitingParkingLookups::WaitingParkingLookups(StatusCall statusCall, DetailCall detailCall)
    : statusCall_(std::move(statusCall)), detailCall_(std::move(detailCall)) {}

StatusResult WaitingParkingLookups::status(const StatusRequest& request) {
  return waitFor<StatusRequest, StatusResult>(statusCall_, request);
}

DetailsResult WaitingParkingLookups::detail(const DetailsRequest& request) {
  return waitFor<DetailsRequest, DetailsResult>(detailCall_, request);
}

}  // namespace velmora

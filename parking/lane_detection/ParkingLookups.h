#pragma once

#include <functional>
#include <memory>

#include "parking/carpark_api/DetailsRequest.h"
#include "parking/carpark_api/DetailsResult.h"
#include "parking/service/RequestRunner.h"
#include "parking/user_api/StatusRequest.h"
#include "parking/user_api/StatusResult.h"

namespace velmora {

// The two parking calls lane detection waits for inside a ranging pass: the user's parking
// status and the car park of a beacon. Each call blocks its caller and always returns a
// record; a failed call returns one whose result is not "Success".
class ParkingLookups {
 public:
  // How long a call is waited for before it counts as failed. A reply that comes later is
  // dropped.
  static constexpr double kGiveUpSeconds = 10.0;

  virtual ~ParkingLookups() = default;
  virtual StatusResult status(const StatusRequest& request) = 0;
  virtual DetailsResult detail(const DetailsRequest& request) = 0;

  // The default: the asynchronous UserAPI::status and CarParkAPI::detail, each waited for at
  // most kGiveUpSeconds on the shared scheduler's clock.
  static std::shared_ptr<ParkingLookups> makeDefault();
};

// Runs asynchronous parking calls and waits for each, giving up after
// ParkingLookups::kGiveUpSeconds. Given call starters (the parking APIs by default), so a
// caller can put a call that never answers in their place.
class WaitingParkingLookups final : public ParkingLookups {
 public:
  using StatusCall = std::function<void(const StatusRequest&, Completion<StatusResult>)>;
  using DetailCall = std::function<void(const DetailsRequest&, Completion<DetailsResult>)>;

  WaitingParkingLookups();
  WaitingParkingLookups(StatusCall statusCall, DetailCall detailCall);

  // A call that reports an error gives result "Failure" with the error's description; one
  // that does not answer in time gives "Failure" with kTimedOutMessage.
  StatusResult status(const StatusRequest& request) override;
  DetailsResult detail(const DetailsRequest& request) override;

  static constexpr std::string_view kTimedOutMessage = "The parking service did not answer in time.";

 private:
  StatusCall statusCall_;
  DetailCall detailCall_;
};

}  // namespace velmora

#pragma once

#include <memory>
#include <vector>

#include "beacons/configuration/KSBeaconOperation.h"
#include "beacons/ranging/KSBeaconOperationFactory.h"

namespace velmora::kestrine {

// A beacon operation as the hub sees it. The hub installs its blocks and schedules the
// handle through the central client, whose operation manager takes the operation out of it.
//
// The blocks installed on the operation hold no handle: each report hands the caller a
// fresh handle around the operation that reported (a retry's duplicate, not the first
// attempt), so its responses are the ones that arrived. No block keeps the operation alive.
class KSBeaconOperationHandle final : public KSBeaconOperationRef {
 public:
  static std::shared_ptr<KSBeaconOperationHandle> wrap(std::shared_ptr<KSBeaconOperation> operation);
  // The operation of a handle, or none when the ref is not a handle.
  static std::shared_ptr<KSBeaconOperation> operationOf(const std::shared_ptr<KSBeaconOperationRef>& ref);

  const std::shared_ptr<KSBeaconOperation>& operation() const { return operation_; }
  std::shared_ptr<KSSchedulableBeaconOperation> operationToSchedule() override;

  void setBeaconOperationCompletionBlockWithSuccess(Success success, Failure failure) override;
  void setBeaconOperationStatusBlock(Status status) override;
  void setBeaconOperationProgressBlock(Progress progress) override;
  // A data request's replies, in request order; empty for other kinds.
  std::vector<platform::Bytes> responseDataArray() const override;
  // A transport request's joined reply; empty for other kinds.
  platform::Bytes responseData() const override;

 private:
  struct Token {};

 public:
  KSBeaconOperationHandle(Token, std::shared_ptr<KSBeaconOperation> operation) : operation_(std::move(operation)) {}

 private:
  const std::shared_ptr<KSBeaconOperation> operation_;
};

}  // namespace velmora::kestrine

#include "beacons/configuration/KSBeaconOperationHandle.h"

#include "beacons/configuration/KSBeaconDataRequestOperation.h"
#include "beacons/configuration/KSBeaconTransportDataRequestOperation.h"

namespace velmora::kestrine {

std::shared_ptr<KSBeaconOperationHandle> KSBeaconOperationHandle::wrap(std::shared_ptr<KSBeaconOperation> operation) {
  if (!operation) return nullptr;
  return std::make_shared<KSBeaconOperationHandle>(Token{}, std::move(operation));
}

std::shared_ptr<KSBeaconOperation> KSBeaconOperationHandle::operationOf(const std::shared_ptr<KSBeaconOperationRef>& ref) {
  auto handle = std::dynamic_pointer_cast<KSBeaconOperationHandle>(ref);
  return handle ? handle->operation_ : nullptr;
}

std::shared_ptr<KSSchedulableBeaconOperation> KSBeaconOperationHandle::operationToSchedule() { return operation_; }

void KSBeaconOperationHandle::setBeaconOperationCompletionBlockWithSuccess(Success success, Failure failure) {
  operation_->setBeaconOperationCompletionBlockWithSuccess(
      [success = std::move(success)](const std::shared_ptr<KSBeaconOperation>& reporting) {
        if (success) success(wrap(reporting));
      },
      [failure = std::move(failure)](const std::shared_ptr<KSBeaconOperation>& reporting, const platform::Error& error) {
        if (failure) failure(wrap(reporting), error);
      });
}

void KSBeaconOperationHandle::setBeaconOperationStatusBlock(Status status) {
  if (!status) return operation_->setBeaconOperationStatusBlock(nullptr);
  operation_->setBeaconOperationStatusBlock(
      [status = std::move(status)](const std::shared_ptr<KSBeaconOperation>& reporting, const std::string& text) {
        status(wrap(reporting), text);
      });
}

void KSBeaconOperationHandle::setBeaconOperationProgressBlock(Progress progress) {
  if (!progress) return operation_->setBeaconOperationProgressBlock(nullptr);
  operation_->setBeaconOperationProgressBlock(
      [progress = std::move(progress)](const std::shared_ptr<KSBeaconOperation>& reporting, float value) {
        progress(wrap(reporting), static_cast<double>(value));
      });
}

std::vector<platform::Bytes> KSBeaconOperationHandle::responseDataArray() const {
  if (auto request = std::dynamic_pointer_cast<KSBeaconDataRequestOperation>(operation_)) {
    return request->responseDataArray();
  }
  return {};
}

platform::Bytes KSBeaconOperationHandle::responseData() const {
  if (auto transport = std::dynamic_pointer_cast<KSBeaconTransportDataRequestOperation>(operation_)) {
    return transport->responseData();
  }
  return {};
}

}  // namespace velmora::kestrine

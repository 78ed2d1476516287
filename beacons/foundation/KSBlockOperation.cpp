#include "beacons/foundation/KSBlockOperation.h"

namespace velmora::kestrine {

KSBlockOperation::Block KSBlockOperation::mainBlock() const {
  std::lock_guard guard(lock());
  return mainBlock_;
}

void KSBlockOperation::setMainBlock(Block block) {
  std::lock_guard guard(lock());
  mainBlock_ = std::move(block);
}

bool KSBlockOperation::doOperation() {
  Block block = mainBlock();
  if (!block) return false;
  block();
  return true;
}

}  // namespace velmora::kestrine

#pragma once

#include <functional>

#include "beacons/foundation/KSOperation.h"

namespace velmora::kestrine {

// An operation whose work is a block. The block runs on the operation thread; the operation
// then stays executing until whoever holds it calls finish(). Without a block it finishes at
// once.
class KSBlockOperation : public KSOperation {
 public:
  using Block = std::function<void()>;

  Block mainBlock() const;
  void setMainBlock(Block block);

 protected:
  bool doOperation() override;

 private:
  Block mainBlock_;
};

}  // namespace velmora::kestrine

#pragma once

#include <memory>

namespace velmora::kestrine {

class KSOperation;

// What an operation asks before it starts and tells when it is cancelled or finished. Called
// while the operation's lock is held: a delegate may call back into the operation, but must
// not wait for another thread that needs the same operation.
class KSOperationDelegate {
 public:
  virtual ~KSOperationDelegate() = default;

  // true lets the operation run; false cancels it (it then finishes without doing its work).
  virtual bool operationShouldStart(const std::shared_ptr<KSOperation>& operation) = 0;
  virtual void operationDidCancel(const std::shared_ptr<KSOperation>& /*operation*/) {}
  virtual void operationDidFinish(const std::shared_ptr<KSOperation>& /*operation*/) {}
};

}  // namespace velmora::kestrine

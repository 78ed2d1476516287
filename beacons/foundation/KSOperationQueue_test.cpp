#include "beacons/foundation/KSOperationQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "beacons/foundation/KSBlockOperation.h"
#include "platform/core/Log.h"
#include "platform/dispatch/VirtualScheduler.h"

namespace velmora::kestrine {
namespace {

using platform::dispatch::VirtualScheduler;
using Log = std::vector<std::string>;

class Agreeing : public KSOperationDelegate {
 public:
  bool operationShouldStart(const std::shared_ptr<KSOperation>&) override { return true; }
};

class Refusing : public KSOperationDelegate {
 public:
  bool operationShouldStart(const std::shared_ptr<KSOperation>&) override { return false; }
};

class KSOperationQueueTest : public ::testing::Test {
 protected:
  KSOperationQueueTest() { platform::dispatch::Scheduler::setShared(scheduler); }
  ~KSOperationQueueTest() override { platform::dispatch::Scheduler::setShared(nullptr); }

  // A block operation that logs "<name> runs" and keeps running until finished.
  std::shared_ptr<KSBlockOperation> makeOperation(const std::string& name,
                                                  std::shared_ptr<KSOperationDelegate> delegate = nullptr) {
    auto op = std::make_shared<KSBlockOperation>();
    op->setMainBlock([this, name] { log.push_back(name + " runs"); });
    op->setDelegate(delegate ? delegate : agreeing);
    return op;
  }

  std::shared_ptr<VirtualScheduler> scheduler = std::make_shared<VirtualScheduler>();
  std::shared_ptr<Agreeing> agreeing = std::make_shared<Agreeing>();
  Log log;
};

TEST_F(KSOperationQueueTest, AQueueOfOneRunsStrictlyOneAfterAnother) {
  auto queue = KSOperationQueue::create("com.kestrine.test");
  queue->setMaxConcurrentOperationCount(1);
  auto a = makeOperation("a"), b = makeOperation("b"), c = makeOperation("c");
  for (auto& op : {a, b, c}) queue->addOperation(op);
  scheduler->runUntilIdle();
  EXPECT_EQ(log, (Log{"a runs"}));
  EXPECT_TRUE(b->isReady());
  EXPECT_EQ(queue->operationCount(), 3u);

  a->finish();
  scheduler->runUntilIdle();
  EXPECT_EQ(log, (Log{"a runs", "b runs"}));
  EXPECT_EQ(queue->operations(), (std::vector<std::shared_ptr<KSOperation>>{b, c}));
  b->finish();
  scheduler->runUntilIdle();
  c->finish();
  scheduler->runUntilIdle();
  EXPECT_EQ(log, (Log{"a runs", "b runs", "c runs"}));
  EXPECT_EQ(queue->operationCount(), 0u);
}

TEST_F(KSOperationQueueTest, WithoutALimitEveryReadyOperationStarts) {
  auto queue = KSOperationQueue::create("q");
  EXPECT_EQ(queue->maxConcurrentOperationCount(), KSOperationQueue::kUnlimited);
  for (auto name : {"a", "b", "c"}) queue->addOperation(makeOperation(name));
  scheduler->runUntilIdle();
  EXPECT_EQ(log, (Log{"a runs", "b runs", "c runs"}));

  // Raising a limit lets waiting operations go.
  auto limited = KSOperationQueue::create("limited");
  limited->setMaxConcurrentOperationCount(1);
  limited->addOperation(makeOperation("d"));
  limited->addOperation(makeOperation("e"));
  scheduler->runUntilIdle();
  limited->setMaxConcurrentOperationCount(2);
  scheduler->runUntilIdle();
  EXPECT_EQ(log, (Log{"a runs", "b runs", "c runs", "d runs", "e runs"}));
}

TEST_F(KSOperationQueueTest, AnOperationCancelledBeforeItStartedLeavesTheQueueAndNeverRuns) {
  auto queue = KSOperationQueue::create("q");
  queue->setMaxConcurrentOperationCount(1);
  auto a = makeOperation("a"), b = makeOperation("b"), c = makeOperation("c");
  for (auto& op : {a, b, c}) queue->addOperation(op);
  scheduler->runUntilIdle();
  b->cancel();
  EXPECT_EQ(queue->operations(), (std::vector<std::shared_ptr<KSOperation>>{a, c}));
  a->finish();
  scheduler->runUntilIdle();
  EXPECT_EQ(log, (Log{"a runs", "c runs"}));
}

TEST_F(KSOperationQueueTest, AnOperationCancelledAfterItsTurnCameButBeforeItStartedFreesItsSlot) {
  auto queue = KSOperationQueue::create("q");
  queue->setMaxConcurrentOperationCount(1);
  auto a = makeOperation("a"), b = makeOperation("b");
  queue->addOperation(a);  // its start is posted, not yet run
  queue->addOperation(b);
  a->cancel();
  scheduler->runUntilIdle();
  EXPECT_TRUE(a->isCancelled());
  EXPECT_EQ(queue->operations(), (std::vector<std::shared_ptr<KSOperation>>{b}));
  EXPECT_EQ(log, (Log{"b runs"}));
}

TEST_F(KSOperationQueueTest, FinishOfAnOperationThatNeverStartedTakesItOutWithoutRunningIt) {
  auto queue = KSOperationQueue::create("q");
  queue->setMaxConcurrentOperationCount(1);
  auto a = makeOperation("a"), replaced = makeOperation("replaced"), c = makeOperation("c");
  for (auto& op : {a, replaced, c}) queue->addOperation(op);
  scheduler->runUntilIdle();
  replaced->finish();
  EXPECT_TRUE(replaced->isFinished());
  EXPECT_EQ(queue->operationCount(), 2u);
  a->finish();
  scheduler->runUntilIdle();
  EXPECT_EQ(log, (Log{"a runs", "c runs"}));
}

TEST_F(KSOperationQueueTest, ARefusedOperationFinishesAndGivesItsSlotToTheNext) {
  auto queue = KSOperationQueue::create("q");
  queue->setMaxConcurrentOperationCount(1);
  auto refused = makeOperation("refused", std::make_shared<Refusing>());
  auto next = makeOperation("next");
  queue->addOperation(refused);
  queue->addOperation(next);
  scheduler->runUntilIdle();
  EXPECT_TRUE(refused->isFinished());
  EXPECT_EQ(log, (Log{"next runs"}));
  EXPECT_EQ(queue->operations(), (std::vector<std::shared_ptr<KSOperation>>{next}));
}

TEST_F(KSOperationQueueTest, CancelAllCancelsTheWaitingOnesAndLeavesRunningOnesToTheirOwners) {
  auto queue = KSOperationQueue::create("q");
  queue->setMaxConcurrentOperationCount(1);
  auto running = makeOperation("running"), waiting = makeOperation("waiting");
  queue->addOperation(running);
  queue->addOperation(waiting);
  scheduler->runUntilIdle();
  queue->cancelAllOperations();
  EXPECT_TRUE(waiting->isCancelled());
  EXPECT_TRUE(running->isExecuting());
  EXPECT_EQ(queue->operations(), (std::vector<std::shared_ptr<KSOperation>>{running}));
  running->finish();
  scheduler->runUntilIdle();
  EXPECT_EQ(queue->operationCount(), 0u);
  EXPECT_EQ(log, (Log{"running runs"}));
}

TEST_F(KSOperationQueueTest, APausedOperationWaitsAndStartsOnceReadyAgain) {
  auto queue = KSOperationQueue::create("q");
  auto op = makeOperation("p");
  op->setState(KSOperationStatePaused);
  queue->addOperation(op);
  scheduler->runUntilIdle();
  EXPECT_TRUE(log.empty());
  op->setState(KSOperationStateReady);
  scheduler->runUntilIdle();
  EXPECT_EQ(log, (Log{"p runs"}));
}

TEST_F(KSOperationQueueTest, RefusesOperationsThatCannotRunHere) {
  auto queue = KSOperationQueue::create("q");
  auto other = KSOperationQueue::create("other");
  auto finished = makeOperation("finished");
  finished->finish();
  auto cancelled = makeOperation("cancelled");
  cancelled->cancel();
  auto twice = makeOperation("twice");
  const auto before = platform::programmingErrorCount();
  queue->addOperation(finished);
  queue->addOperation(cancelled);
  queue->addOperation(twice);
  queue->addOperation(twice);
  other->addOperation(twice);
  queue->addOperation(nullptr);
  EXPECT_EQ(platform::programmingErrorCount(), before + 5);
  EXPECT_EQ(queue->operations(), (std::vector<std::shared_ptr<KSOperation>>{twice}));
  EXPECT_EQ(other->operationCount(), 0u);
  scheduler->runUntilIdle();
  EXPECT_EQ(log, (Log{"twice runs"}));
}

TEST_F(KSOperationQueueTest, OperationsOutliveTheirQueue) {
  auto queue = KSOperationQueue::create("q");
  auto op = makeOperation("a");
  queue->addOperation(op);
  scheduler->runUntilIdle();
  queue.reset();
  op->finish();
  EXPECT_TRUE(op->isFinished());
}

}  // namespace
}  // namespace velmora::kestrine

#include "beacons/foundation/KSOperation.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "beacons/foundation/KSBlockOperation.h"
#include "platform/dispatch/VirtualScheduler.h"

namespace velmora::kestrine {
namespace {

using platform::dispatch::VirtualScheduler;

// Records the delegate calls and the hooks, in order, into one log.
class RecordingDelegate : public KSOperationDelegate {
 public:
  explicit RecordingDelegate(std::vector<std::string>* log, bool answer = true) : log_(log), answer_(answer) {}
  bool operationShouldStart(const std::shared_ptr<KSOperation>&) override {
    log_->push_back("shouldStart");
    return answer_;
  }
  void operationDidCancel(const std::shared_ptr<KSOperation>&) override { log_->push_back("didCancel"); }
  void operationDidFinish(const std::shared_ptr<KSOperation>&) override { log_->push_back("didFinish"); }

 private:
  std::vector<std::string>* log_;
  bool answer_;
};

class ProbeOperation : public KSOperation {
 public:
  ProbeOperation(std::vector<std::string>* log, bool keepsRunning) : log_(log), keepsRunning_(keepsRunning) {}
  bool ranOnOperationThread = false;

 protected:
  bool doOperation() override {
    log_->push_back("doOperation");
    ranOnOperationThread = KSOperation::operationThread()->isCurrent();
    return keepsRunning_;
  }
  void cancelOperation() override { log_->push_back("cancelOperation"); }

 private:
  std::vector<std::string>* log_;
  bool keepsRunning_;
};

class KSOperationTest : public ::testing::Test {
 protected:
  KSOperationTest() { platform::dispatch::Scheduler::setShared(scheduler); }
  ~KSOperationTest() override { platform::dispatch::Scheduler::setShared(nullptr); }

  std::shared_ptr<ProbeOperation> makeOperation(bool keepsRunning = false) {
    auto op = std::make_shared<ProbeOperation>(&log, keepsRunning);
    op->addStateObserver([this](KSOperation&, std::string_view key, bool prior) {
      log.push_back(std::string(prior ? "will " : "did ") + std::string(key));
    });
    return op;
  }

  std::shared_ptr<VirtualScheduler> scheduler = std::make_shared<VirtualScheduler>();
  std::vector<std::string> log;
};

using Log = std::vector<std::string>;

TEST_F(KSOperationTest, TransitionTable) {
  const std::int16_t states[] = {-1, 0, 1, 2, 3, 4, 7};
  // allowed[from][to], rows and columns in the order of states.
  const bool allowed[7][7] = {
      /* paused    */ {0, 0, 1, 0, 0, 0, 0},
      /* unset     */ {1, 1, 1, 1, 1, 1, 1},
      /* ready     */ {1, 0, 0, 1, 0, 1, 0},
      /* executing */ {1, 0, 0, 0, 1, 0, 0},
      /* finished  */ {0, 0, 0, 0, 0, 0, 0},
      /* cancelled */ {1, 1, 1, 1, 1, 1, 1},
      /* other     */ {1, 1, 1, 1, 1, 1, 1},
  };
  for (int f = 0; f < 7; ++f) {
    for (int t = 0; t < 7; ++t) {
      EXPECT_EQ(KSOperation::isTransitionAllowed(states[f], states[t]), allowed[f][t])
          << states[f] << " -> " << states[t];
    }
  }
  // And setState follows it: each accepted change is told, a refused one is not.
  auto op = makeOperation();
  op->setState(KSOperationStateReady);
  op->setState(KSOperationStateFinished);
  EXPECT_TRUE(log.empty());
  op->setState(KSOperationStateExecuting);
  op->setState(KSOperationStateReady);
  op->setState(KSOperationStateFinished);
  op->setState(KSOperationStateCancelled);
  EXPECT_EQ(op->state(), KSOperationStateFinished);
  EXPECT_EQ(log, (Log{"will isExecuting", "will isReady", "did isReady", "did isExecuting", "will isFinished",
                      "will isExecuting", "did isExecuting", "did isFinished"}));
}

TEST_F(KSOperationTest, KeysAndDescription) {
  EXPECT_EQ(KSOperation::keyForState(-1), "isPaused");
  EXPECT_EQ(KSOperation::keyForState(1), "isReady");
  EXPECT_EQ(KSOperation::keyForState(2), "isExecuting");
  EXPECT_EQ(KSOperation::keyForState(3), "isFinished");
  EXPECT_EQ(KSOperation::keyForState(4), "isCancelled");
  EXPECT_EQ(KSOperation::keyForState(0), "state");
  EXPECT_EQ(KSOperation::keyForState(9), "state");

  auto op = std::make_shared<KSBlockOperation>();
  EXPECT_TRUE(op->isReady());
  EXPECT_TRUE(op->isAsynchronous());
  EXPECT_EQ(op->lockName(), "com.kestrine.operationLock");
  const auto text = op->description();
  EXPECT_EQ(text.rfind("<KSBlockOperation: 0x", 0), 0u) << text;
  EXPECT_NE(text.find(", state: isReady, cancelled: NO>"), std::string::npos) << text;
  op->cancel();
  EXPECT_NE(op->description().find("state: isCancelled, cancelled: YES>"), std::string::npos);
}

TEST_F(KSOperationTest, BaseWorkRunsReadyExecutingFinishedWithTheHookOnTheOperationThread) {
  auto op = makeOperation();
  auto delegate = std::make_shared<RecordingDelegate>(&log);
  op->setDelegate(delegate);
  op->start();
  EXPECT_TRUE(op->isExecuting());
  scheduler->runUntilIdle();
  EXPECT_TRUE(op->isFinished());
  EXPECT_TRUE(op->ranOnOperationThread);
  EXPECT_EQ(log, (Log{"shouldStart", "will isExecuting", "will isReady", "did isReady", "did isExecuting",
                      "doOperation", "will isFinished", "will isExecuting", "did isExecuting", "did isFinished",
                      "didFinish"}));
}

TEST_F(KSOperationTest, AMissingDelegateOrANoCancelsThenFinishesWithoutRunningTheWork) {
  for (bool hasDelegate : {false, true}) {
    log.clear();
    auto op = makeOperation();
    auto delegate = std::make_shared<RecordingDelegate>(&log, false);
    if (hasDelegate) op->setDelegate(delegate);
    op->start();
    EXPECT_TRUE(op->isCancelled());
    scheduler->runUntilIdle();
    EXPECT_TRUE(op->isFinished());
    Log expected = {"will isCancelled", "will isReady", "did isReady", "did isCancelled"};
    if (hasDelegate) {
      expected.insert(expected.begin(), "shouldStart");
      expected.push_back("didCancel");
    }
    for (auto s : {"cancelOperation", "will isFinished", "will isCancelled", "did isCancelled", "did isFinished"}) {
      expected.push_back(s);
    }
    if (hasDelegate) expected.push_back("didFinish");
    EXPECT_EQ(log, expected) << "delegate: " << hasDelegate;
  }
}

TEST_F(KSOperationTest, CancelAppliesOnlyToAnOperationThatHasNotStarted) {
  auto delegate = std::make_shared<RecordingDelegate>(&log);
  auto ready = makeOperation();
  ready->setDelegate(delegate);
  ready->cancel();
  ready->cancel();
  scheduler->runUntilIdle();
  EXPECT_EQ(log, (Log{"will isCancelled", "will isReady", "did isReady", "did isCancelled", "didCancel",
                      "cancelOperation"}));
  EXPECT_FALSE(ready->isReady());
  ready->start();
  EXPECT_TRUE(ready->isCancelled()) << "a cancelled operation does not start";

  auto running = makeOperation(/*keepsRunning=*/true);
  running->setDelegate(delegate);
  running->start();
  scheduler->runUntilIdle();
  log.clear();
  running->cancel();
  scheduler->runUntilIdle();
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(running->isExecuting());

  running->finish();
  running->finish();
  EXPECT_EQ(log, (Log{"will isFinished", "will isExecuting", "did isExecuting", "did isFinished", "didFinish"}));
}

TEST_F(KSOperationTest, FinishBeforeStartGoesThroughCancelledAndTheOperationNeverRuns) {
  auto delegate = std::make_shared<RecordingDelegate>(&log);
  auto op = makeOperation();
  op->setDelegate(delegate);
  op->finish();
  EXPECT_EQ(log, (Log{"will isCancelled", "will isReady", "did isReady", "did isCancelled", "will isFinished",
                      "will isCancelled", "did isCancelled", "did isFinished", "didFinish"}));
  op->start();
  scheduler->runUntilIdle();
  EXPECT_TRUE(op->isFinished());
  EXPECT_EQ(log.size(), 9u) << "no shouldStart, no doOperation";
}

TEST_F(KSOperationTest, HooksOfTwoOperationsRunOnTheOneOperationThreadInPostingOrder) {
  auto delegate = std::make_shared<RecordingDelegate>(&log);
  auto first = std::make_shared<ProbeOperation>(&log, false);
  auto second = std::make_shared<ProbeOperation>(&log, false);
  auto cancelled = std::make_shared<ProbeOperation>(&log, false);
  for (auto& op : {first, second, cancelled}) op->setDelegate(delegate);
  first->start();
  cancelled->cancel();
  second->start();
  log.clear();
  scheduler->runUntilIdle();
  EXPECT_EQ(log, (Log{"doOperation", "didFinish", "cancelOperation", "doOperation", "didFinish"}));
  EXPECT_TRUE(first->ranOnOperationThread);
  EXPECT_TRUE(second->ranOnOperationThread);
  EXPECT_EQ(KSOperation::operationThread(), KSOperation::operationThread());
}

TEST_F(KSOperationTest, BlockOperationRunsItsBlockOnceAndStaysExecutingUntilFinished) {
  auto delegate = std::make_shared<RecordingDelegate>(&log);
  auto empty = std::make_shared<KSBlockOperation>();
  empty->setDelegate(delegate);
  empty->start();
  scheduler->runUntilIdle();
  EXPECT_TRUE(empty->isFinished());

  auto op = std::make_shared<KSBlockOperation>();
  int runs = 0;
  op->setMainBlock([&] { ++runs; });
  op->setDelegate(delegate);
  op->start();
  scheduler->runUntilIdle();
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(op->isExecuting());
  op->finish();
  EXPECT_TRUE(op->isFinished());
  EXPECT_EQ(runs, 1);
}

TEST_F(KSOperationTest, TheDelegateIsHeldWeakly) {
  auto op = makeOperation();
  auto delegate = std::make_shared<RecordingDelegate>(&log);
  op->setDelegate(delegate);
  delegate.reset();
  EXPECT_EQ(op->delegate(), nullptr);
  log.clear();
  op->start();
  EXPECT_TRUE(op->isCancelled()) << "a delegate that has gone counts as no";
}

TEST_F(KSOperationTest, WorkDoesNotRunWhenTheOperationFinishedBetweenStartAndItsHook) {
  auto delegate = std::make_shared<RecordingDelegate>(&log);
  auto op = makeOperation(/*keepsRunning=*/true);
  op->setDelegate(delegate);
  op->start();
  op->finish();  // an owner ending it before the operation thread got to it
  log.clear();
  scheduler->runUntilIdle();
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(op->isFinished());
}

}  // namespace
}  // namespace velmora::kestrine

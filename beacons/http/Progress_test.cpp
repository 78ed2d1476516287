#include "beacons/http/Progress.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora::kestrine {
namespace {

TEST(ProgressTest, FractionFollowsTheCountsAndObserversHearEachChange) {
  auto progress = Progress::create();
  EXPECT_EQ(progress->totalUnitCount(), Progress::kUnknownTotal);
  EXPECT_EQ(progress->fractionCompleted(), 0.0);

  std::vector<double> seen;
  const auto key = progress->addFractionObserver([&](const Progress& p) { seen.push_back(p.fractionCompleted()); });
  progress->setCompletedUnitCount(10);  // total unknown: still 0, nobody told
  progress->setTotalUnitCount(40);      // 10 of 40
  progress->setTotalUnitCount(40);      // no change
  progress->setCompletedUnitCount(40);
  progress->setTotalUnitCount(0);  // 0 of nothing
  EXPECT_EQ(seen, (std::vector<double>{0.25, 1.0, 0.0}));

  progress->removeFractionObserver(key);
  progress->setTotalUnitCount(80);
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_EQ(progress->fractionCompleted(), 0.5);
}

TEST(ProgressTest, HandlersRunOnlyWhenTheProgressAllowsIt) {
  auto progress = Progress::create(100);
  int cancels = 0, pauses = 0, resumes = 0;
  progress->setCancellationHandler([&] { ++cancels; });
  progress->setPausingHandler([&] { ++pauses; });
  progress->setResumingHandler([&] { ++resumes; });

  progress->cancel();
  progress->pause();
  EXPECT_EQ(cancels + pauses, 0);  // neither cancellable nor pausable yet
  EXPECT_FALSE(progress->isCancelled());

  progress->setPausable(true);
  progress->pause();
  progress->pause();
  EXPECT_TRUE(progress->isPaused());
  progress->resume();
  progress->resume();
  EXPECT_EQ(pauses, 1);
  EXPECT_EQ(resumes, 1);

  progress->setCancellable(true);
  progress->cancel();
  progress->cancel();
  EXPECT_EQ(cancels, 1);
  EXPECT_TRUE(progress->isCancelled());
  progress->pause();  // a cancelled progress does not pause
  EXPECT_EQ(pauses, 1);
}

}  // namespace
}  // namespace velmora::kestrine

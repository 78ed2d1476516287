#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>

#include "beacons/storage/KSManagedObjectContextProvider.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/TempDir.h"

extern char** environ;

namespace velmora::kestrine {
namespace {

using platform::Value;
using platform::store::StoreContext;

// Starts the writer with its standard output on a pipe and kills it right after it has
// reported batch k. Returns the last batch number it reported.
int runWriterAndKillAfter(const std::filesystem::path& dir, int k) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  std::string program = KS_STORE_CRASH_CHILD;
  std::string folder = dir.string();
  std::string batches = "100000";
  char* argv[] = {program.data(), folder.data(), batches.data(), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return -1;
  }
  int last = -1;
  std::string line;
  char c;
  while (last < k && read(fds[0], &c, 1) == 1) {
    if (c == '\n') {
      last = std::stoi(line);
      line.clear();
    } else {
      line += c;
    }
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  close(fds[0]);
  return last;
}

TEST(StoreCrashTest, AKilledWriterLeavesEveryCommittedBatchAndNoHalfBatch) {
  for (int k : {0, 2, 5}) {
    velmora::testing::TempDir dir;
    ASSERT_EQ(runWriterAndKillAfter(dir.path(), k), k);
    const auto file = dir.path() / KSSqliteDBFileName;
    {
      SQLite::Database db(file.string(), SQLite::OPEN_READWRITE);
      EXPECT_EQ(db.execAndGet("PRAGMA integrity_check").getString(), "ok") << k;
      SQLite::Statement fk(db, "PRAGMA foreign_key_check");
      EXPECT_FALSE(fk.executeStep()) << k;
    }
    KSManagedObjectContextProvider provider(dir.path(), std::make_shared<platform::dispatch::VirtualScheduler>());
    auto store = provider.store();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->outcome(), platform::store::OpenOutcome::Opened) << k;  // no delete-and-retry
    store->performAndWait([&](StoreContext& c) {
      auto rows = c.fetch({.entity = "KSBeacon"});
      ASSERT_TRUE(rows);
      std::map<std::int64_t, int> perBatch;
      for (const auto& r : *rows) {
        const std::int64_t b = *r["major"].toInt64();
        const std::int64_t i = *r["minor"].toInt64();
        const std::string id = "B" + std::to_string(b) + "-" + std::to_string(i);
        ++perBatch[b];
        EXPECT_EQ(r["beaconID"], Value(id));
        EXPECT_EQ(r["serialNumber"], Value("SN" + id));
        EXPECT_EQ(r["mapPointX"], Value(i + 0.25));
        EXPECT_EQ(r["syncedAt"], Value(platform::Date::fromUnixMicros(b * 1000 + i)));
        EXPECT_EQ(c.relatedMany(r.id, "categories").size(), 1u);
      }
      // Batches 0..k are there whole; the writer may have committed more after its last
      // report, but every batch present is whole and they run without a gap.
      ASSERT_GE(perBatch.size(), static_cast<std::size_t>(k + 1)) << k;
      std::int64_t expected = 0;
      for (const auto& [b, n] : perBatch) {
        EXPECT_EQ(b, expected++) << k;
        EXPECT_EQ(n, 100) << "batch " << b << " after a kill at " << k;
      }
      EXPECT_EQ(c.count("KSBeaconCategory", {}), static_cast<std::int64_t>(rows->size()));
    });
  }
}

}  // namespace
}  // namespace velmora::kestrine

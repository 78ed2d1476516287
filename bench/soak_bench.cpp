// A car park's day through the whole SDK on the virtual clock (testing/LongRunWorld.h):
// passing beacons the cloud does not know, each heard for a minute, beacons always present
// and synced (visits), an event logged and posted every minute, a cloud that fails a few
// requests every hour, and the app in the background for two minutes every hour.
//
// Counters, one per simulated hour: "rss_mib_hNN" the process's resident memory at the end
// of hour NN; "cache_hNN", "events_hNN", "metadata_hNN", "sessions_hNN" the sizes of the
// hub's beacon cache, the event manager's handed-over events, the central client's
// per-peripheral metadata and the session list. "rss_growth_after_h2_pct" is the growth of
// the resident memory from the end of hour 2 to the end of the run.
//
// Run: build/default/bench/soak_bench            (24 hours, 20,000 passing, 200 present)
//      build/default/bench/soak_bench --benchmark_filter=Short   (a 4-hour run)
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "testing/LongRunWorld.h"

namespace {

using velmora::testing::LongRunWorld;

double residentMiB() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string hourKey(const char* name, int hour) {
  char key[32];
  std::snprintf(key, sizeof key, "%s_h%02d", name, hour);
  return key;
}

void soak(benchmark::State& state, double hours, int passing, int present) {
  for (auto _ : state) {
    LongRunWorld::Plan plan;
    plan.hours = hours;
    plan.passingBeacons = passing;
    plan.presentBeacons = present;
    LongRunWorld run(plan);
    if (!run.start()) {
      state.SkipWithError("the SDK did not start");
      return;
    }
    double rssAtHour2 = 0, rssAtEnd = 0;
    const double cpuStart = cpuSeconds();
    run.runUntil(hours * 3600, [&](int hour) {
      const double rss = residentMiB();
      const auto sizes = run.sizes();
      state.counters[hourKey("rss_mib", hour)] = rss;
      state.counters[hourKey("cache", hour)] = static_cast<double>(sizes.cachedBeacons);
      state.counters[hourKey("events", hour)] = static_cast<double>(sizes.handedOverEvents);
      state.counters[hourKey("metadata", hour)] = static_cast<double>(sizes.peripheralMetadata);
      state.counters[hourKey("sessions", hour)] = static_cast<double>(sizes.sessions);
      if (hour == 2) rssAtHour2 = rss;
      rssAtEnd = rss;
    });
    state.counters["cpu_s"] = cpuSeconds() - cpuStart;
    state.counters["passing_beacons"] = run.passingBeaconsSoFar();
    state.counters["events_logged"] = static_cast<double>(run.eventsLogged());
    state.counters["event_posts"] = static_cast<double>(run.eventPosts());
    state.counters["visit_posts"] = static_cast<double>(run.visitPosts());
    if (rssAtHour2 > 0) state.counters["rss_growth_after_h2_pct"] = (rssAtEnd - rssAtHour2) / rssAtHour2 * 100.0;
  }
}

void BM_SoakCarParkDay(benchmark::State& state) { soak(state, 24, 20000, 200); }
void BM_SoakShort(benchmark::State& state) { soak(state, 4, 4000, 50); }

BENCHMARK(BM_SoakCarParkDay)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_SoakShort)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

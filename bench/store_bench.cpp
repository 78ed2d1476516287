// Syncing 10,000 beacons into a fresh SDK store, each with one category carrying two custom
// values (40,000 rows), one save per 100 beacons: through the object store's field-list
// writes (BM_StoreSync; the re-sync looks each beacon up and updates it from a dictionary) and
// through the storage manager from beacon records as the hub hands them over (BM_ManagerSync:
// upsert by serial number with category and custom-value reconciliation). Each iteration
// runs the sync beside a raw SQLite loop of prepared inserts that writes the same rows with the
// same transactions and connection settings into a fresh file of the same schema, the two
// taking turns of 1,000 beacons so that both meet the same machine load; then a re-sync
// updates every beacon in place. The figures are counters of that one
// run, over wall time and over the process's CPU time summed across its threads (the
// manager's work runs on the store's queue thread, not the caller's): "ratio_to_raw" and
// "cpu_ratio_to_raw" are the sync's rate as a share of the raw loop's (goal at least 0.8).
// The Time and CPU columns cover the whole iteration. Run with --benchmark_repetitions=5 and
// read the medians.
#include <SQLiteCpp/SQLiteCpp.h>
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <string>
#include <vector>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconUtilities.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"
#include "beacons/model/KSMapPoint.h"
#include "beacons/model/KSPoint.h"
#include "beacons/storage/KSLocalStorageManager.h"
#include "beacons/storage/KSManagedObjectContextProvider.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "platform/store/ObjectStore.h"
#include "testing/TempDir.h"

namespace {

using velmora::platform::Date;
using velmora::platform::Dict;
using velmora::platform::Value;
using velmora::platform::store::Field;
using velmora::platform::store::Predicate;
using velmora::platform::store::StoreContext;

constexpr int kBeacons = 10'000;
constexpr int kPerSave = 100;
constexpr double kRowsPerBeacon = 4;

// One beacon's values, as the storage manager writes them from the record made of them
// (makeRecords): the raw loop, the store's sync and the manager's write the same rows.
struct BeaconData {
  std::string beaconID, serialNumber, bluetoothAddress, iBeaconKey, uuid, name, siteID, categoryID, categoryName;
  std::int64_t major, minor, status;
  double x, y;
  Date syncedAt;
};

std::vector<BeaconData> makeBeacons(int generation) {
  std::vector<BeaconData> out;
  out.reserve(kBeacons);
  for (int i = 0; i < kBeacons; ++i) {
    const std::string n = std::to_string(i);
    const std::string uuid = "F7826DA6-4FA2-4E98-8024-BC5B71E0893E";
    const std::int64_t major = i % 65536;
    const std::int64_t minor = (i * 7) % 65536;
    const std::string name = "Beacon " + n + " g" + std::to_string(generation);
    out.push_back({"beacon-" + n, "SN" + n, "AA:BB:CC:" + n,
                   *velmora::kestrine::KSBeaconUtilities::iBeaconKeyForProximityUUIDString(
                       uuid, static_cast<std::uint16_t>(major), static_cast<std::uint16_t>(minor)),
                   uuid, name, "site-" + std::to_string(i % 50), "cat-" + std::to_string(i % 20), "Category " + name,
                   major, minor, 2, i * 0.5, i * 0.25, Date::fromUnixMicros(1'700'000'000'000'000 + i + generation)});
  }
  return out;
}

Dict beaconValues(const BeaconData& b) {
  return Dict{{"beaconID", Value(b.beaconID)},
              {"serialNumber", Value(b.serialNumber)},
              {"bluetoothAddress", Value(b.bluetoothAddress)},
              {"iBeaconKey", Value(b.iBeaconKey)},
              {"proximityUUIDString", Value(b.uuid)},
              {"major", Value(b.major)},
              {"minor", Value(b.minor)},
              {"name", Value(b.name)},
              {"siteID", Value(b.siteID)},
              {"syncStatus", Value(b.status)},
              {"featureBitmask", Value(std::int64_t{0})},
              {"mapPointX", Value(b.x)},
              {"mapPointY", Value(b.y)},
              {"syncedAt", Value(b.syncedAt)}};
}

std::filesystem::path freshStore(const velmora::testing::TempDir& dir, const char* name) {
  auto path = dir.path() / name;
  // The schema comes from the model either way.
  auto store = velmora::platform::store::ObjectStore::open(velmora::kestrine::KSManagedObjectContextProvider::managedObjectModel(), path,
                                                  std::make_shared<velmora::platform::dispatch::ThreadScheduler>());
  return path;
}

// The wall time and the process's CPU time (every thread's, so work done on the store's own
// queue thread counts as much as the caller's) spent in timed turns, summed.
struct Spent {
  double wall = 0;
  double cpu = 0;
};

double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

template <class Work>
void timed(Spent& spent, Work&& work) {
  const auto wall = std::chrono::steady_clock::now();
  const double cpu = cpuSeconds();
  work();
  spent.wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
  spent.cpu += cpuSeconds() - cpu;
}

// The raw loop on a fresh store file of the model's schema: prepared inserts of the same
// rows, one transaction per kPerSave beacons, the store's connection settings.
class RawLoop {
 public:
  explicit RawLoop(const std::filesystem::path& path)
      : db_(path.string(), SQLite::OPEN_READWRITE),
        beacon_(db_,
                "INSERT INTO KSBeacon (beaconID, serialNumber, bluetoothAddress, iBeaconKey, proximityUUIDString, "
                "major, minor, name, siteID, syncStatus, featureBitmask, mapPointX, mapPointY, syncedAt) "
                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
        category_(db_, "INSERT INTO KSBeaconCategory (beaconID, categoryID, name, beacon) VALUES (?, ?, ?, ?)"),
        value_(db_, "INSERT INTO KSCustomValue (key, value, customValueID, category) VALUES (?, ?, ?, ?)") {
    db_.exec("PRAGMA journal_mode = WAL");
    db_.exec("PRAGMA foreign_keys = ON");
    db_.exec("PRAGMA synchronous = NORMAL");
  }

  // Beacons [from, to), a whole number of transactions.
  void write(const std::vector<BeaconData>& beacons, int from, int to) {
    for (int i = from; i < to; ++i) {
      if (i % kPerSave == 0) db_.exec("BEGIN IMMEDIATE");
      const BeaconData& b = beacons[i];
      beacon_.bind(1, b.beaconID);
      beacon_.bind(2, b.serialNumber);
      beacon_.bind(3, b.bluetoothAddress);
      beacon_.bind(4, b.iBeaconKey);
      beacon_.bind(5, b.uuid);
      beacon_.bind(6, static_cast<int64_t>(b.major));
      beacon_.bind(7, static_cast<int64_t>(b.minor));
      beacon_.bind(8, b.name);
      beacon_.bind(9, b.siteID);
      beacon_.bind(10, static_cast<int64_t>(b.status));
      beacon_.bind(11, static_cast<int64_t>(0));
      beacon_.bind(12, static_cast<double>(static_cast<float>(b.x)));
      beacon_.bind(13, static_cast<double>(static_cast<float>(b.y)));
      beacon_.bind(14, static_cast<int64_t>(b.syncedAt.unixMicros()));
      beacon_.exec();
      beacon_.reset();
      const std::int64_t beaconRow = db_.getLastInsertRowid();
      category_.bind(1, b.beaconID);
      category_.bind(2, b.categoryID);
      category_.bind(3, b.categoryName);
      category_.bind(4, static_cast<int64_t>(beaconRow));
      category_.exec();
      category_.reset();
      const std::int64_t categoryRow = db_.getLastInsertRowid();
      for (int v = 0; v < 2; ++v) {
        value_.bind(1, std::string(v == 0 ? "colour" : "floor"));
        value_.bind(2, std::string(v == 0 ? "blue" : "2"));
        value_.bind(3, b.beaconID + "-" + std::to_string(v));
        value_.bind(4, static_cast<int64_t>(categoryRow));
        value_.exec();
        value_.reset();
      }
      if (i % kPerSave == kPerSave - 1) db_.exec("COMMIT");
    }
  }

 private:
  SQLite::Database db_;
  SQLite::Statement beacon_, category_, value_;
};

// Beacons per turn. The raw loop and the sync take turns, each on its own fresh file, so that
// both meet the same load on a shared machine; a turn is a whole number of saves.
constexpr int kPerTurn = 1'000;

// Runs the raw loop and `sync` (which writes beacons [from, to) and returns when they are
// written) in alternate turns over all beacons, timing each.
template <class Sync>
void syncBesideRaw(const velmora::testing::TempDir& dir, const std::vector<BeaconData>& beacons, Sync&& sync,
                   Spent& raw, Spent& store) {
  RawLoop loop(freshStore(dir, "raw.sqlite"));
  for (int from = 0; from < kBeacons; from += kPerTurn) {
    const int to = from + kPerTurn;
    timed(raw, [&] { loop.write(beacons, from, to); });
    timed(store, [&] { sync(from, to); });
  }
}

// Every figure of one run as counters: rows per second over wall time and over process CPU
// time for the raw loop, the sync and the re-sync, and the sync's rate as a share of the raw
// loop's, both measured in this same run.
void report(benchmark::State& state, const Spent& raw, const Spent& sync, const Spent& resync) {
  constexpr double rows = kBeacons * kRowsPerBeacon;
  state.counters["raw_rows_per_s"] = rows / raw.wall;
  state.counters["raw_cpu_rows_per_s"] = rows / raw.cpu;
  state.counters["rows_per_s"] = rows / sync.wall;
  state.counters["cpu_rows_per_s"] = rows / sync.cpu;
  state.counters["ratio_to_raw"] = raw.wall / sync.wall;
  state.counters["cpu_ratio_to_raw"] = raw.cpu / sync.cpu;
  state.counters["resync_rows_per_s"] = rows / resync.wall;
  state.counters["resync_cpu_rows_per_s"] = rows / resync.cpu;
}

// The sync writes through field lists, as the storage manager does.
void syncThroughStore(StoreContext& c, const BeaconData& b) {
  const Field beaconFields[] = {{"beaconID", Value(b.beaconID)},
                                {"serialNumber", Value(b.serialNumber)},
                                {"bluetoothAddress", Value(b.bluetoothAddress)},
                                {"iBeaconKey", Value(b.iBeaconKey)},
                                {"proximityUUIDString", Value(b.uuid)},
                                {"major", Value(b.major)},
                                {"minor", Value(b.minor)},
                                {"name", Value(b.name)},
                                {"siteID", Value(b.siteID)},
                                {"syncStatus", Value(b.status)},
                                {"featureBitmask", Value(std::int64_t{0})},
                                {"mapPointX", Value(b.x)},
                                {"mapPointY", Value(b.y)},
                                {"syncedAt", Value(b.syncedAt)}};
  auto beacon = c.insertRow("KSBeacon", beaconFields);
  const Field categoryFields[] = {{"beaconID", Value(b.beaconID)},
                                  {"categoryID", Value(b.categoryID)},
                                  {"name", Value(b.categoryName)},
                                  {"beacon", Value(beacon->pk)}};
  auto category = c.insertRow("KSBeaconCategory", categoryFields);
  for (int v = 0; v < 2; ++v) {
    const Field valueFields[] = {{"key", Value(v == 0 ? "colour" : "floor")},
                                 {"value", Value(v == 0 ? "blue" : "2")},
                                 {"customValueID", Value(b.beaconID + "-" + std::to_string(v))},
                                 {"category", Value(category->pk)}};
    c.insertRow("KSCustomValue", valueFields);
  }
}

void resyncThroughStore(StoreContext& c, const BeaconData& b) {
  velmora::platform::store::FetchRequest request;
  request.entity = "KSBeacon";
  request.predicate = Predicate::eq("serialNumber", b.serialNumber);
  request.limit = 1;
  request.includesPropertyValues = false;
  auto rows = c.fetch(request);
  if (!rows || rows->empty()) return;
  const auto beacon = rows->front().id;
  c.update(beacon, beaconValues(b));
  for (const auto& category : c.relatedMany(beacon, "categories")) {
    c.update(category, {{"name", Value(b.categoryName)}});
    for (const auto& v : c.relatedMany(category, "customValues")) c.update(v, {{"value", Value("green")}});
  }
}

void BM_StoreSync(benchmark::State& state) {
  const auto beacons = makeBeacons(0);
  const auto updated = makeBeacons(1);
  for (auto _ : state) {
    velmora::testing::TempDir dir;
    velmora::kestrine::KSManagedObjectContextProvider provider(dir.path(), std::make_shared<velmora::platform::dispatch::ThreadScheduler>());
    auto store = provider.store();
    const auto through = [&](const std::vector<BeaconData>& data, void (*write)(StoreContext&, const BeaconData&)) {
      return [&data, write, &store](int from, int to) {
        for (int i = from; i < to; i += kPerSave) {
          store->performAndWait([&](StoreContext& c) {
            for (int j = i; j < i + kPerSave; ++j) write(c, data[j]);
            c.save();
          });
        }
      };
    };
    Spent raw, sync, resync;
    syncBesideRaw(dir, beacons, through(beacons, syncThroughStore), raw, sync);
    timed(resync, [&] { through(updated, resyncThroughStore)(0, kBeacons); });
    report(state, raw, sync, resync);
  }
}
BENCHMARK(BM_StoreSync)->Iterations(1)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

// The records the hub would hand over for one sync: the same values as the rows above.
std::vector<std::shared_ptr<velmora::kestrine::KSBeacon>> makeRecords(const std::vector<BeaconData>& data) {
  std::vector<std::shared_ptr<velmora::kestrine::KSBeacon>> out;
  out.reserve(data.size());
  for (const auto& b : data) {
    auto r = std::make_shared<velmora::kestrine::KSBeacon>();
    r->setBeaconID(b.beaconID);
    r->setSerialNumber(b.serialNumber);
    r->setBluetoothAddress(b.bluetoothAddress);
    r->setProximityUUIDString(b.uuid);
    r->setMajor(Value(b.major));
    r->setMinor(Value(b.minor));
    r->setName(b.name);
    r->setSiteID(b.siteID);
    r->setSyncStatus(b.status);
    r->setSyncedAt(b.syncedAt);
    auto mapPoint = std::make_shared<velmora::kestrine::KSMapPoint>();
    mapPoint->setPoint(velmora::kestrine::KSPoint::pointWithXY(b.x, b.y));
    r->setMapPoint(mapPoint);
    auto category = std::make_shared<velmora::kestrine::KSCategory>();
    category->setCategoryID(b.categoryID);
    category->setName(b.categoryName);
    velmora::kestrine::KSCategory::CustomValues values;
    for (int v = 0; v < 2; ++v) {
      auto value = std::make_shared<velmora::kestrine::KSCustomValue>();
      value->setKey(v == 0 ? "colour" : "floor");
      value->setValue(v == 0 ? "blue" : "2");
      value->setCustomValueID(b.beaconID + "-" + std::to_string(v));
      values.push_back(value);
    }
    category->setCustomValues(values);
    r->setCategories(std::vector{category});
    out.push_back(std::move(r));
  }
  return out;
}

void BM_ManagerSync(benchmark::State& state) {
  const auto data = makeBeacons(0);
  const auto beacons = makeRecords(data);
  const auto updated = makeRecords(makeBeacons(1));
  for (auto _ : state) {
    velmora::testing::TempDir dir;
    auto scheduler = std::make_shared<velmora::platform::dispatch::ThreadScheduler>();
    velmora::kestrine::KSLocalStorageManager::Environment env;
    env.provider = std::make_shared<velmora::kestrine::KSManagedObjectContextProvider>(dir.path(), scheduler);
    env.scheduler = scheduler;
    auto manager = velmora::kestrine::KSLocalStorageManager::create(std::move(env));
    // The store is opened before the clock starts, as the raw loop's file is.
    auto store = manager->mainContext();
    const auto through = [&](const std::vector<std::shared_ptr<velmora::kestrine::KSBeacon>>& records) {
      return [&records, &manager, &store](int from, int to) {
        for (int i = from; i < to; ++i) {
          manager->storeBeacon(records[i]);
          if (i % kPerSave == kPerSave - 1) manager->saveContext();
        }
        // The writes run on the store's queue: the turn ends when that queue has done them.
        store->performAndWait([](StoreContext&) {});
      };
    };
    Spent raw, sync, resync;
    syncBesideRaw(dir, data, through(beacons), raw, sync);
    timed(resync, [&] { through(updated)(0, kBeacons); });
    report(state, raw, sync, resync);
  }
}
BENCHMARK(BM_ManagerSync)->Iterations(1)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Syncing 10,000 beacons into a fresh SDK store, each with one category carrying two custom
// values (40,000 rows), one save per 100 beacons: through the object store, and beside it a
// raw SQLite loop of prepared inserts writing the same rows with the same transactions and
// connection settings. Each runs once; the store's run reports its rate as a share of the
// raw loop's ("ratio_to_raw" over wall time, "cpu_ratio_to_raw" over CPU time; goal at
// least 0.8). The re-sync updates every beacon in place through the store (lookup by serial
// number, then update of the beacon, its category and its values). The same sync and re-sync
// also run through the storage manager, from beacon records as the hub hands them over
// (upsert by serial number with category and custom-value reconciliation), reported beside
// the raw loop the same way.
#include <SQLiteCpp/SQLiteCpp.h>
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <string>
#include <vector>

#include "beacons/model/KSBeacon.h"
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

using platform::Date;
using platform::Dict;
using platform::Value;
using platform::store::Predicate;
using platform::store::StoreContext;

constexpr int kBeacons = 10'000;
constexpr int kPerSave = 100;
constexpr double kRowsPerBeacon = 4;

struct BeaconData {
  std::string beaconID, serialNumber, bluetoothAddress, iBeaconKey, uuid, name, siteID, categoryID;
  std::int64_t major, minor, status;
  double x, y;
  Date syncedAt;
};

std::vector<BeaconData> makeBeacons(int generation) {
  std::vector<BeaconData> out;
  out.reserve(kBeacons);
  for (int i = 0; i < kBeacons; ++i) {
    const std::string n = std::to_string(i);
    out.push_back({"beacon-" + n, "SN" + n, "AA:BB:CC:" + n, "F7826DA6-4FA2-4E98-8024-BC5B71E0893E:1:" + n,
                   "F7826DA6-4FA2-4E98-8024-BC5B71E0893E", "Beacon " + n + " g" + std::to_string(generation),
                   "site-" + std::to_string(i % 50), "cat-" + std::to_string(i % 20), i % 65536, (i * 7) % 65536, 2,
                   i * 0.5, i * 0.25, Date::fromUnixMicros(1'700'000'000'000'000 + i + generation)});
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
              {"mapPointX", Value(b.x)},
              {"mapPointY", Value(b.y)},
              {"syncedAt", Value(b.syncedAt)}};
}

Dict customValue(const std::string& key, const std::string& value, const std::string& id, std::int64_t category) {
  return Dict{{"key", Value(key)}, {"value", Value(value)}, {"customValueID", Value(id)}, {"category", Value(category)}};
}

std::filesystem::path freshStore(const velmora::testing::TempDir& dir, const char* name) {
  auto path = dir.path() / name;
  // The schema comes from the model either way.
  auto store = platform::store::ObjectStore::open(kestrine::KSManagedObjectContextProvider::managedObjectModel(), path,
                                                  std::make_shared<platform::dispatch::ThreadScheduler>());
  return path;
}

// Rates over wall time and over the process's CPU time: on a busy machine the wall rate
// swings with disk contention, the CPU rate much less.
struct Rates {
  double wall = 0;
  double cpu = 0;
};

double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

class Timer {
 public:
  Rates ratesFor(double rows) const {
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count();
    return {rows / wall, rows / (cpuSeconds() - cpu_)};
  }

 private:
  std::chrono::steady_clock::time_point wall_ = std::chrono::steady_clock::now();
  double cpu_ = cpuSeconds();
};

Rates gRaw;

void BM_RawSqliteInsert(benchmark::State& state) {
  velmora::testing::TempDir dir;
  const auto path = freshStore(dir, "raw.sqlite");
  const auto beacons = makeBeacons(0);
  for (auto _ : state) {
    SQLite::Database db(path.string(), SQLite::OPEN_READWRITE);
    db.exec("PRAGMA journal_mode = WAL");
    db.exec("PRAGMA foreign_keys = ON");
    db.exec("PRAGMA synchronous = NORMAL");
    SQLite::Statement beacon(db,
                             "INSERT INTO KSBeacon (beaconID, serialNumber, bluetoothAddress, iBeaconKey, "
                             "proximityUUIDString, major, minor, name, siteID, syncStatus, mapPointX, mapPointY, "
                             "syncedAt) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    SQLite::Statement category(db, "INSERT INTO KSBeaconCategory (beaconID, categoryID, name, beacon) VALUES (?, ?, ?, ?)");
    SQLite::Statement value(db, "INSERT INTO KSCustomValue (key, value, customValueID, category) VALUES (?, ?, ?, ?)");
    const Timer timer;
    for (int i = 0; i < kBeacons; ++i) {
      if (i % kPerSave == 0) db.exec("BEGIN IMMEDIATE");
      const BeaconData& b = beacons[i];
      beacon.bind(1, b.beaconID);
      beacon.bind(2, b.serialNumber);
      beacon.bind(3, b.bluetoothAddress);
      beacon.bind(4, b.iBeaconKey);
      beacon.bind(5, b.uuid);
      beacon.bind(6, static_cast<int64_t>(b.major));
      beacon.bind(7, static_cast<int64_t>(b.minor));
      beacon.bind(8, b.name);
      beacon.bind(9, b.siteID);
      beacon.bind(10, static_cast<int64_t>(b.status));
      beacon.bind(11, static_cast<double>(static_cast<float>(b.x)));
      beacon.bind(12, static_cast<double>(static_cast<float>(b.y)));
      beacon.bind(13, static_cast<int64_t>(b.syncedAt.unixMicros()));
      beacon.exec();
      beacon.reset();
      const std::int64_t beaconRow = db.getLastInsertRowid();
      category.bind(1, b.beaconID);
      category.bind(2, b.categoryID);
      category.bind(3, std::string("Category"));
      category.bind(4, static_cast<int64_t>(beaconRow));
      category.exec();
      category.reset();
      const std::int64_t categoryRow = db.getLastInsertRowid();
      for (int v = 0; v < 2; ++v) {
        value.bind(1, std::string(v == 0 ? "colour" : "floor"));
        value.bind(2, std::string(v == 0 ? "blue" : "2"));
        value.bind(3, b.beaconID + "-" + std::to_string(v));
        value.bind(4, static_cast<int64_t>(categoryRow));
        value.exec();
        value.reset();
      }
      if (i % kPerSave == kPerSave - 1) db.exec("COMMIT");
    }
    gRaw = timer.ratesFor(kBeacons * kRowsPerBeacon);
  }
  state.counters["rows_per_s"] = gRaw.wall;
  state.counters["cpu_rows_per_s"] = gRaw.cpu;
}
BENCHMARK(BM_RawSqliteInsert)->Iterations(1)->Unit(benchmark::kMillisecond);

void syncThroughStore(StoreContext& c, const BeaconData& b) {
  auto beacon = c.insert("KSBeacon", beaconValues(b));
  auto category = c.insert("KSBeaconCategory", {{"beaconID", Value(b.beaconID)},
                                                {"categoryID", Value(b.categoryID)},
                                                {"name", Value("Category")},
                                                {"beacon", Value(beacon->pk)}});
  c.insert("KSCustomValue", customValue("colour", "blue", b.beaconID + "-0", category->pk));
  c.insert("KSCustomValue", customValue("floor", "2", b.beaconID + "-1", category->pk));
}

void resyncThroughStore(StoreContext& c, const BeaconData& b) {
  platform::store::FetchRequest request;
  request.entity = "KSBeacon";
  request.predicate = Predicate::eq("serialNumber", b.serialNumber);
  request.limit = 1;
  request.includesPropertyValues = false;
  auto rows = c.fetch(request);
  if (!rows || rows->empty()) return;
  const auto beacon = rows->front().id;
  c.update(beacon, beaconValues(b));
  for (const auto& category : c.relatedMany(beacon, "categories")) {
    c.update(category, {{"name", Value("Category " + b.name)}});
    for (const auto& v : c.relatedMany(category, "customValues")) c.update(v, {{"value", Value("green")}});
  }
}

void BM_StoreSync(benchmark::State& state) {
  velmora::testing::TempDir dir;
  const auto beacons = makeBeacons(0);
  const auto updated = makeBeacons(1);
  Rates rate, resync;
  for (auto _ : state) {
    kestrine::KSManagedObjectContextProvider provider(dir.path(), std::make_shared<platform::dispatch::ThreadScheduler>());
    auto store = provider.store();
    const auto timed = [&](const std::vector<BeaconData>& data, void (*write)(StoreContext&, const BeaconData&)) {
      const Timer timer;
      for (int i = 0; i < kBeacons; i += kPerSave) {
        store->performAndWait([&](StoreContext& c) {
          for (int j = i; j < i + kPerSave; ++j) write(c, data[j]);
          c.save();
        });
      }
      return timer.ratesFor(kBeacons * kRowsPerBeacon);
    };
    rate = timed(beacons, syncThroughStore);
    resync = timed(updated, resyncThroughStore);
  }
  state.counters["rows_per_s"] = rate.wall;
  state.counters["cpu_rows_per_s"] = rate.cpu;
  state.counters["ratio_to_raw"] = gRaw.wall > 0 ? rate.wall / gRaw.wall : 0;
  state.counters["cpu_ratio_to_raw"] = gRaw.cpu > 0 ? rate.cpu / gRaw.cpu : 0;
  state.counters["resync_rows_per_s"] = resync.wall;
  state.counters["resync_cpu_rows_per_s"] = resync.cpu;
}
BENCHMARK(BM_StoreSync)->Iterations(1)->Unit(benchmark::kMillisecond);

// The records the hub would hand over for one sync: the same values as the rows above.
std::vector<std::shared_ptr<kestrine::KSBeacon>> makeRecords(const std::vector<BeaconData>& data) {
  std::vector<std::shared_ptr<kestrine::KSBeacon>> out;
  out.reserve(data.size());
  for (const auto& b : data) {
    auto r = std::make_shared<kestrine::KSBeacon>();
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
    auto mapPoint = std::make_shared<kestrine::KSMapPoint>();
    mapPoint->setPoint(kestrine::KSPoint::pointWithXY(b.x, b.y));
    r->setMapPoint(mapPoint);
    auto category = std::make_shared<kestrine::KSCategory>();
    category->setCategoryID(b.categoryID);
    category->setName("Category " + b.name);
    kestrine::KSCategory::CustomValues values;
    for (int v = 0; v < 2; ++v) {
      auto value = std::make_shared<kestrine::KSCustomValue>();
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
  velmora::testing::TempDir dir;
  const auto beacons = makeRecords(makeBeacons(0));
  const auto updated = makeRecords(makeBeacons(1));
  Rates rate, resync;
  for (auto _ : state) {
    auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
    kestrine::KSLocalStorageManager::Environment env;
    env.provider = std::make_shared<kestrine::KSManagedObjectContextProvider>(dir.path(), scheduler);
    env.scheduler = scheduler;
    auto manager = kestrine::KSLocalStorageManager::create(std::move(env));
    const auto timed = [&](const std::vector<std::shared_ptr<kestrine::KSBeacon>>& records) {
      const Timer timer;
      for (int i = 0; i < kBeacons; ++i) {
        manager->storeBeacon(records[i]);
        if (i % kPerSave == kPerSave - 1) manager->saveContext();
      }
      manager->mainContext()->performAndWait([](StoreContext&) {});
      return timer.ratesFor(kBeacons * kRowsPerBeacon);
    };
    rate = timed(beacons);
    resync = timed(updated);
  }
  state.counters["rows_per_s"] = rate.wall;
  state.counters["cpu_rows_per_s"] = rate.cpu;
  state.counters["ratio_to_raw"] = gRaw.wall > 0 ? rate.wall / gRaw.wall : 0;
  state.counters["cpu_ratio_to_raw"] = gRaw.cpu > 0 ? rate.cpu / gRaw.cpu : 0;
  state.counters["resync_rows_per_s"] = resync.wall;
  state.counters["resync_cpu_rows_per_s"] = resync.cpu;
}
BENCHMARK(BM_ManagerSync)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

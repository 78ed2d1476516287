// Writes batches of 100 beacon rows, each with a category, into the SDK store in the folder
// given as the first argument, saving once per batch, and writes the batch number on its
// own line to standard output once that save has committed. Runs until killed or until the
// batch count given as the second argument is reached. Used by the crash-safety test.
#include <fmt/format.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "beacons/storage/KSManagedObjectContextProvider.h"
#include "platform/dispatch/VirtualScheduler.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  auto scheduler = std::make_shared<platform::dispatch::VirtualScheduler>();
  kestrine::KSManagedObjectContextProvider provider(argv[1], scheduler);
  auto store = provider.store();
  if (!store) return 3;
  const int batches = std::atoi(argv[2]);
  for (int b = 0; b < batches; ++b) {
    bool saved = false;
    store->performAndWait([&](platform::store::StoreContext& c) {
      for (int i = 0; i < 100; ++i) {
        const std::string id = fmt::format("B{}-{}", b, i);
        auto row = c.insert("KSBeacon", {{"beaconID", platform::Value(id)},
                                         {"serialNumber", platform::Value(fmt::format("SN{}", id))},
                                         {"major", platform::Value(b)},
                                         {"minor", platform::Value(i)},
                                         {"mapPointX", platform::Value(i + 0.25)},
                                         {"syncedAt", platform::Value(platform::Date::fromUnixMicros(b * 1000 + i))}});
        if (!row) return;
        if (!c.insert("KSBeaconCategory", {{"beaconID", platform::Value(id)},
                                           {"categoryID", platform::Value("C")},
                                           {"beacon", platform::Value(row->pk)}})) {
          return;
        }
      }
      saved = c.save();
    });
    if (!saved) return 4;
    std::printf("%d\n", b);
    std::fflush(stdout);
  }
  return 0;
}

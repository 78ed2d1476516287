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
  auto scheduler = std::make_shared<velmora::platform::dispatch::VirtualScheduler>();
  velmora::kestrine::KSManagedObjectContextProvider provider(argv[1], scheduler);
  auto store = provider.store();
  if (!store) return 3;
  const int batches = std::atoi(argv[2]);
  for (int b = 0; b < batches; ++b) {
    bool saved = false;
    store->performAndWait([&](velmora::platform::store::StoreContext& c) {
      for (int i = 0; i < 100; ++i) {
        const std::string id = fmt::format("B{}-{}", b, i);
        auto row = c.insert("KSBeacon", {{"beaconID", velmora::platform::Value(id)},
                                         {"serialNumber", velmora::platform::Value(fmt::format("SN{}", id))},
                                         {"major", velmora::platform::Value(b)},
                                         {"minor", velmora::platform::Value(i)},
                                         {"mapPointX", velmora::platform::Value(i + 0.25)},
                                         {"syncedAt", velmora::platform::Value(velmora::platform::Date::fromUnixMicros(b * 1000 + i))}});
        if (!row) return;
        if (!c.insert("KSBeaconCategory", {{"beaconID", velmora::platform::Value(id)},
                                           {"categoryID", velmora::platform::Value("C")},
                                           {"beacon", velmora::platform::Value(row->pk)}})) {
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

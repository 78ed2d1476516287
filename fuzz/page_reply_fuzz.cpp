// Reads arbitrary text as one page reply of the cloud API, as a paged walk does: the JSON
// body, its pagination counters and items, then each item imported as a beacon and as a site
// (an item that does not import is left out). Nothing may crash, a per-page size read back
// is never 0, and every imported record writes back out as JSON text.
#include <cstdlib>
#include <string_view>

#include "beacons/api/KSPaginator.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSSite.h"
#include "platform/core/Json.h"
#include "platform/core/Log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    velmora::platform::Log::setSink([](velmora::platform::LogLevel, std::string_view, std::string_view) {});
    return true;
  }();
  (void)quiet;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto reply = velmora::platform::json::parse(text);
  if (!reply) return 0;
  const velmora::kestrine::KSPageReply page = velmora::kestrine::KSPageReplyFromObject(*reply);
  if (page.perPage && *page.perPage == 0) std::abort();
  if (!page.hasPagination && (page.pageCount != 0 || page.objectCount != 0)) std::abort();
  const velmora::platform::Array* items = page.items.array();
  if (items == nullptr) return 0;
  for (const auto& item : *items) {
    velmora::platform::Error error;
    if (auto beacon = velmora::kestrine::KSBeacon::initWithDictionary(item, &error)) {
      if (!beacon->toJSONString()) std::abort();
    }
    if (auto site = velmora::kestrine::KSSite::initWithDictionary(item, &error)) {
      if (!site->toJSONString()) std::abort();
    }
  }
  return 0;
}

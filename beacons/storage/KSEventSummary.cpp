#include "beacons/storage/KSEventSummary.h"

#include "beacons/storage/KSLocalStorageManager.h"
#include "beacons/storage/KSManagedEventSummary.h"
#include "beacons/storage/KSManagedObjectContextProvider.h"

namespace velmora::kestrine {

namespace {
std::shared_ptr<KSLocalStorageManager> manager() {
  return std::dynamic_pointer_cast<KSLocalStorageManager>(KSLocalStoragePort::shared());
}
}  // namespace

void KSEventSummary::storedEventSummariesWithPredicate(const platform::store::Predicate& predicate,
                                                       const std::vector<platform::store::SortDescriptor>& sort,
                                                       SummariesHandler success, FailureHandler failure) {
  auto store = manager();
  if (!store) {
    if (success) success({});
    return;
  }
  KSLocalStorageManager::StoreRowsHandler onRows;
  if (success) {
    onRows = [success = std::move(success)](std::vector<platform::store::Row> rows) {
      std::vector<std::shared_ptr<KSEventSummary>> summaries;
      summaries.reserve(rows.size());
      for (const auto& row : rows) summaries.push_back(KSManagedEventSummary::toEventSummary(row));
      success(std::move(summaries));
    };
  }
  store->fetchRowsForEntitiesNamed(std::string(KSEventSummaryEntityName), predicate, sort, std::move(onRows),
                                   std::move(failure));
}

void KSEventSummary::numberOfEventSummariesWithPredicate(const platform::store::Predicate& predicate,
                                                         CountHandler success, FailureHandler failure) {
  auto store = manager();
  if (!store) {
    if (success) success(0);
    return;
  }
  store->countRecordsForEntitiesNamed(std::string(KSEventSummaryEntityName), predicate, std::move(success),
                                      std::move(failure));
}

}  // namespace velmora::kestrine

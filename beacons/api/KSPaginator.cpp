#include "beacons/api/KSPaginator.h"

#include <utility>

#include "beacons/api/KSApiClient.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {

namespace {

// Logs a question asked before its answer is known; the caller answers the neutral value.
void assertion(std::string_view message) { platform::reportProgrammingError(message); }

}  // namespace

KSPaginator::KSPaginator(Token, std::shared_ptr<KSApiClient> client)
    : client_(client ? std::move(client) : KSApiClient::sharedApiClient()) {}

std::shared_ptr<KSPaginator> KSPaginator::create(std::shared_ptr<KSApiClient> client) {
  return std::make_shared<KSPaginator>(Token{}, std::move(client));
}

std::shared_ptr<KSPaginator> KSPaginator::initWithPath(std::string path, platform::Value parameters,
                                                       std::uint64_t preferredPerPage,
                                                       std::shared_ptr<KSApiClient> client) {
  auto paginator = create(std::move(client));
  paginator->path_ = std::move(path);
  paginator->parameters_ = std::move(parameters);
  paginator->perPage_ = preferredPerPage;
  // Path paginators start their counters at 0 rather than unknown.
  paginator->pageCount_ = 0;
  paginator->objectCount_ = 0;
  paginator->currentPage_ = 0;
  paginator->offset_ = 0;
  return paginator;
}

std::shared_ptr<KSPaginator> KSPaginator::loadAllPagesForPath(std::string path, platform::Value parameters,
                                                              WalkSuccess success, WalkFailure failure,
                                                              std::shared_ptr<KSApiClient> client) {
  auto paginator = initWithPath(std::move(path), std::move(parameters), kDefaultPerPage, std::move(client));
  paginator->setCompletionBlockWithSuccess(
      [success = std::move(success)](const std::shared_ptr<KSPaginator>& p, const platform::Value& items,
                                     std::uint64_t) {
        if (success) success(items, p);
        if (p->walkContinues()) p->loadNextPage();
      },
      [failure = std::move(failure)](const std::shared_ptr<KSPaginator>&, const platform::Error& error) {
        if (failure) failure(error);
      });
  paginator->loadPage(1);
  return paginator;
}

void KSPaginator::setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) {
  std::lock_guard lock(mutex_);
  success_ = std::move(success);
  failure_ = std::move(failure);
}

std::string KSPaginator::path() const {
  std::lock_guard lock(mutex_);
  return path_;
}
platform::Value KSPaginator::parameters() const {
  std::lock_guard lock(mutex_);
  return parameters_;
}
std::uint64_t KSPaginator::perPage() const {
  std::lock_guard lock(mutex_);
  return perPage_;
}
std::uint64_t KSPaginator::pageCount() const {
  std::lock_guard lock(mutex_);
  return pageCount_;
}
std::uint64_t KSPaginator::objectCount() const {
  std::lock_guard lock(mutex_);
  return objectCount_;
}
bool KSPaginator::hasLoadedPage() const {
  std::lock_guard lock(mutex_);
  return hasLoadedPage_;
}
std::optional<platform::Error> KSPaginator::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}
void KSPaginator::setError(std::optional<platform::Error> error) {
  std::lock_guard lock(mutex_);
  error_ = std::move(error);
}

bool KSPaginator::hasCurrentPage() const {
  std::lock_guard lock(mutex_);
  return currentPage_ != NSNotFound;
}
bool KSPaginator::hasOffset() const {
  std::lock_guard lock(mutex_);
  return offset_ != NSNotFound;
}
bool KSPaginator::hasPageCount() const {
  std::lock_guard lock(mutex_);
  return pageCount_ != NSNotFound;
}
bool KSPaginator::hasObjectCount() const {
  std::lock_guard lock(mutex_);
  return objectCount_ != NSNotFound;
}

std::uint64_t KSPaginator::currentPage() const {
  std::lock_guard lock(mutex_);
  if (currentPage_ == NSNotFound) {
    assertion("Current page has not been initialized.");
    return 0;
  }
  return currentPage_;
}

std::uint64_t KSPaginator::offset() const {
  std::lock_guard lock(mutex_);
  if (offset_ != NSNotFound) return offset_;
  if (currentPage_ != NSNotFound && currentPage_ > 0) return (currentPage_ - 1) * perPage_;
  return 0;
}

bool KSPaginator::hasNextPage() const {
  std::lock_guard lock(mutex_);
  if (lastReplyWithoutPagination_) return false;
  if (!hasLoadedPage_) {
    assertion("Cannot determine hasNextPage: paginator has not loaded a page.");
    return false;
  }
  if (pageCount_ == NSNotFound) {
    assertion("Cannot determine hasNextPage: page count is not known.");
    return false;
  }
  return currentPage_ < pageCount_;
}

bool KSPaginator::hasPreviousPage() const {
  std::lock_guard lock(mutex_);
  if (!hasLoadedPage_) {
    assertion("Cannot determine hasPreviousPage: paginator has not loaded a page.");
    return false;
  }
  return currentPage_ != NSNotFound && currentPage_ > 1;
}

bool KSPaginator::walkContinues() const {
  std::lock_guard lock(mutex_);
  // The server's page count alone does not bound a walk: an empty page ends it, and so do a
  // cancel and the page limit.
  return hasLoadedPage_ && !lastReplyWithoutPagination_ && !lastPageEmpty_ && !cancelled_ &&
         pageCount_ != NSNotFound && currentPage_ < pageCount_ && currentPage_ < kMaximumWalkPages;
}

void KSPaginator::cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
}

bool KSPaginator::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

void KSPaginator::loadNextPage() {
  std::uint64_t page;
  {
    std::lock_guard lock(mutex_);
    page = currentPage_ == NSNotFound ? 1 : currentPage_ + 1;
  }
  loadPage(page);
}

void KSPaginator::loadPreviousPage() {
  std::uint64_t page;
  {
    std::lock_guard lock(mutex_);
    page = currentPage_ == NSNotFound || currentPage_ <= 1 ? 1 : currentPage_ - 1;
  }
  loadPage(page);
}

void KSPaginator::loadPage(std::uint64_t page) {
  platform::Value query;
  std::string path;
  {
    std::lock_guard lock(mutex_);
    currentPage_ = page;
    path = path_;
    query = parameters_.dict() ? parameters_ : platform::Value(platform::Dict{});
    query.set("page", page);
    query.set("perPage", perPage_);
  }
  auto self = shared_from_this();
  client_->GET(
      std::string_view(path), query,
      [self, page](const KSApiClient::Task&, const platform::Value& reply) { self->pageLoaded(page, reply); },
      [self](const KSApiClient::Task&, const platform::Error& error) {
        FailureBlock failure;
        {
          std::lock_guard lock(self->mutex_);
          failure = self->failure_;
        }
        if (failure) failure(self, error);
      });
}

KSPageReply KSPageReplyFromObject(const platform::Value& reply) {
  KSPageReply out;
  if (const platform::Dict* dict = reply.dict()) {
    for (const auto& [key, value] : *dict) {
      if (key != "pagination") out.items = value;
    }
  }
  const platform::Value& pagination = reply["pagination"];
  if (pagination.dict()) {
    out.hasPagination = true;
    out.pageCount = pagination["pageCount"].toUInt64().value_or(0);
    out.objectCount = pagination["objectCount"].toUInt64().value_or(0);
    if (auto perPage = pagination["perPage"].toUInt64(); perPage && *perPage > 0) out.perPage = *perPage;
  }
  return out;
}

void KSPaginator::pageLoaded(std::uint64_t page, const platform::Value& reply) {
  KSPageReply read = KSPageReplyFromObject(reply);
  SuccessBlock success;
  std::uint64_t current;
  {
    std::lock_guard lock(mutex_);
    if (!read.hasPagination) {
      pageCount_ = 0;
      currentPage_ = 0;
      lastReplyWithoutPagination_ = true;
    } else {
      lastReplyWithoutPagination_ = false;
      if (!hasLoadedPage_) {
        pageCount_ = read.pageCount;
        objectCount_ = read.objectCount;
        if (read.perPage) perPage_ = *read.perPage;
        hasLoadedPage_ = true;
      }
    }
    (void)page;
    const platform::Array* list = read.items.array();
    lastPageEmpty_ = !list || list->empty();
    current = currentPage_;
    success = success_;
  }
  if (success) success(shared_from_this(), read.items, current);
}

}  // namespace velmora::kestrine

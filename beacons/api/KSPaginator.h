#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSApiClient;

// What one page reply says: the items (the value under the one key besides "pagination";
// with several, the last in key order) and, when the reply has a "pagination" object, its
// counters (an unreadable counter reads 0; a "perPage" of 0 or none leaves it unset).
struct KSPageReply {
  platform::Value items;
  bool hasPagination = false;
  std::uint64_t pageCount = 0;
  std::uint64_t objectCount = 0;
  std::optional<std::uint64_t> perPage;
};
KSPageReply KSPageReplyFromObject(const platform::Value& reply);

// One walk over one paged list of the cloud API. Each page is a GET of the path with the
// list's parameters plus "page" and "perPage"; the reply holds a "pagination" object
// ("pageCount", "objectCount", "perPage", taken from the first reply, whose "perPage" the
// later pages ask for) and the items under one other key.
//
// A reply without "pagination" ends the walk: there is no next page after it, also when it
// is the first. Questions asked before the answer is known (the current page of a fresh
// paginator, the next page before any reply) are programming errors that are logged and
// answered with the neutral value; they never stop the process.
//
// Pages complete on the client's completion queue; the paginator's fields are guarded, so
// it may be read from any thread.
class KSPaginator : public std::enable_shared_from_this<KSPaginator> {
 public:
  // The value of a counter that is not known.
  static constexpr std::uint64_t NSNotFound = 9223372036854775807ULL;
  static constexpr std::uint64_t kDefaultPerPage = 100;
  // A walk of all pages asks for at most this many pages, whatever page count the server
  // claims (a million objects at the default page size).
  static constexpr std::uint64_t kMaximumWalkPages = 10000;

  using SuccessBlock =
      std::function<void(const std::shared_ptr<KSPaginator>& paginator, const platform::Value& items, std::uint64_t page)>;
  using FailureBlock = std::function<void(const std::shared_ptr<KSPaginator>& paginator, const platform::Error& error)>;
  using WalkSuccess = std::function<void(const platform::Value& items, const std::shared_ptr<KSPaginator>& paginator)>;
  using WalkFailure = std::function<void(const platform::Error& error)>;

  // Every counter unknown, 100 per page, no path. `client` defaults to the shared client.
  static std::shared_ptr<KSPaginator> create(std::shared_ptr<KSApiClient> client = nullptr);
  // A paginator for the path; its counters start at 0.
  static std::shared_ptr<KSPaginator> initWithPath(std::string path, platform::Value parameters = {},
                                                   std::uint64_t preferredPerPage = kDefaultPerPage,
                                                   std::shared_ptr<KSApiClient> client = nullptr);

  // Makes a paginator for the path, installs the blocks, loads page 1 and returns at once.
  // `success` runs once per page, in page order, and only then is the next page asked for;
  // a failed page calls `failure` and ends the walk. The walk also ends after a page with no
  // items, after kMaximumWalkPages pages, and after cancel.
  static std::shared_ptr<KSPaginator> loadAllPagesForPath(std::string path, platform::Value parameters,
                                                          WalkSuccess success, WalkFailure failure,
                                                          std::shared_ptr<KSApiClient> client = nullptr);

  void setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure);

  std::string path() const;
  platform::Value parameters() const;
  std::uint64_t perPage() const;
  std::uint64_t pageCount() const;
  std::uint64_t objectCount() const;
  bool hasLoadedPage() const;
  std::optional<platform::Error> error() const;
  void setError(std::optional<platform::Error> error);

  bool hasCurrentPage() const;
  bool hasOffset() const;
  bool hasPageCount() const;
  bool hasObjectCount() const;
  // The page asked for last (counted from 1); unknown is a programming error (answers 0).
  std::uint64_t currentPage() const;
  // The stored offset; else (currentPage - 1) * perPage when the page is known; else 0.
  std::uint64_t offset() const;
  bool hasNextPage() const;
  bool hasPreviousPage() const;
  // Whether a walk of all pages goes on after the page just delivered.
  bool walkContinues() const;

  void loadNextPage();
  void loadPreviousPage();
  void loadPage(std::uint64_t page);
  // Ends a walk of all pages: a page request already sent still completes and is delivered,
  // but no further page is asked for.
  void cancel();
  bool isCancelled() const;

 private:
  struct Token {};

 public:
  KSPaginator(Token, std::shared_ptr<KSApiClient> client);

 private:
  void pageLoaded(std::uint64_t page, const platform::Value& reply);

  const std::shared_ptr<KSApiClient> client_;
  mutable std::mutex mutex_;
  std::string path_;
  platform::Value parameters_;
  std::uint64_t perPage_ = kDefaultPerPage;
  std::uint64_t pageCount_ = NSNotFound;
  std::uint64_t objectCount_ = NSNotFound;
  std::uint64_t currentPage_ = NSNotFound;
  std::uint64_t offset_ = NSNotFound;
  bool hasLoadedPage_ = false;
  bool lastReplyWithoutPagination_ = false;
  // The last reply carried no items: a walk ends there whatever page count the server claimed.
  bool lastPageEmpty_ = false;
  bool cancelled_ = false;
  std::optional<platform::Error> error_;
  SuccessBlock success_;
  FailureBlock failure_;
};

}  // namespace velmora::kestrine

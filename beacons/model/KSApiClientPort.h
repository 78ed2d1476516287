#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// What the records ask of the cloud API client, which implements it one level up and
// registers itself with setShared. Paths are relative to the configured
// API base; GET sends the parameters as the query, POST as the JSON body. Replies arrive
// decoded, on the client's completion queue. A request starts at once.
//
// loadAllPagesForPath is the paginator: one GET per page with the parameters plus "page"
// (1, 2, ...) and "perPage"; after each page it calls success with that page's items and
// whether a next page follows, then loads the next; a failed page calls failure and stops.
class KSApiClientPort {
 public:
  using Success = std::function<void(const platform::Value& reply)>;
  using PageSuccess = std::function<void(const platform::Array& items, bool hasNextPage)>;
  using Failure = std::function<void(const platform::Error&)>;

  virtual ~KSApiClientPort() = default;

  virtual void GET(std::string path, platform::Value parameters, Success success, Failure failure) = 0;
  virtual void POST(std::string path, platform::Value parameters, Success success, Failure failure) = 0;
  virtual void DELETE(std::string path, platform::Value parameters, Success success, Failure failure) = 0;
  virtual void loadAllPagesForPath(std::string path, platform::Value parameters, PageSuccess success,
                                   Failure failure) = 0;

  // The registered API client; nullptr when none is registered.
  static void setShared(std::shared_ptr<KSApiClientPort> client);
  static std::shared_ptr<KSApiClientPort> shared();
};

}  // namespace velmora::kestrine

#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "beacons/http/KSHTTPRequestSerializer.h"
#include "beacons/http/KSHTTPResponseSerializer.h"
#include "beacons/http/KSMultipartFormData.h"
#include "beacons/http/KSURLSessionManager.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// A session manager with a base URL and a request serializer: a call names a method, a URL
// string relative to the base URL and parameters (Absent for none); the request serializer
// builds the request, the session runs it and the response serializer decodes the reply.
// The caller gets the success block with the decoded object, or the failure block with the
// error, once, on the completion queue.
//
// A request that cannot be built (a URL that does not parse, a missing method, a multipart
// GET or HEAD) fails without a task and without any traffic: failure(nullptr, error) with
// the serializer's error (request-serialization domain, -1000), posted to the completion
// queue; the verb returns nullptr.
class KSHTTPSessionManager : public KSURLSessionManager {
 public:
  using Success = std::function<void(const TaskPtr& task, const platform::Value& responseObject)>;
  using HeadSuccess = std::function<void(const TaskPtr& task)>;
  using Failure = std::function<void(const TaskPtr& task, const platform::Error& error)>;
  using ConstructingBodyBlock = std::function<void(KSMultipartFormData& formData)>;

  // A manager without a base URL.
  static std::shared_ptr<KSHTTPSessionManager> manager();
  // A base URL with a non-empty path that does not end in "/" gets one appended; a text
  // that is no absolute URL leaves the manager without base URL.
  static std::shared_ptr<KSHTTPSessionManager> create(
      std::optional<std::string> baseURL = std::nullopt,
      std::optional<platform::net::URLSessionConfiguration> configuration = std::nullopt);

  const std::optional<std::string>& baseURL() const { return baseURL_; }
  std::shared_ptr<KSHTTPRequestSerializer> requestSerializer() const;
  // A null serializer is refused ("Invalid parameter not satisfying: requestSerializer").
  void setRequestSerializer(std::shared_ptr<KSHTTPRequestSerializer> serializer);

  // --- verbs: each returns its task already resumed, or nullptr when the request could
  // not be built. Parameters go into the query for GET, HEAD and DELETE, else the body. ---
  TaskPtr GET(std::string_view URLString, const platform::Value& parameters, Success success, Failure failure);
  TaskPtr GET(std::string_view URLString, const platform::Value& parameters, ProgressBlock downloadProgress,
              Success success, Failure failure);
  TaskPtr HEAD(std::string_view URLString, const platform::Value& parameters, HeadSuccess success, Failure failure);
  TaskPtr POST(std::string_view URLString, const platform::Value& parameters, Success success, Failure failure);
  TaskPtr POST(std::string_view URLString, const platform::Value& parameters, ProgressBlock uploadProgress,
               Success success, Failure failure);
  // A multipart form: the parameters become fields, then the block adds parts.
  TaskPtr POST(std::string_view URLString, const platform::Value& parameters, ConstructingBodyBlock block,
               Success success, Failure failure);
  TaskPtr POST(std::string_view URLString, const platform::Value& parameters, ConstructingBodyBlock block,
               ProgressBlock uploadProgress, Success success, Failure failure);
  TaskPtr PUT(std::string_view URLString, const platform::Value& parameters, Success success, Failure failure);
  TaskPtr PATCH(std::string_view URLString, const platform::Value& parameters, Success success, Failure failure);
  TaskPtr DELETE(std::string_view URLString, const platform::Value& parameters, Success success, Failure failure);

  // The data task for a call, NOT resumed (the verbs resume it), made through the
  // overridable dataTaskWithRequest factory; nullptr when the request could not be built
  // (the failure block is then called as above).
  virtual TaskPtr dataTaskWithHTTPMethod(std::string_view method, std::string_view URLString,
                                         const platform::Value& parameters, ProgressBlock uploadProgress,
                                         ProgressBlock downloadProgress, Success success, Failure failure);

  // "<KSHTTPSessionManager: 0x..., baseURL: ..., session: ..., operationQueue: ...>"
  std::string description() const override;

  // A new manager with the same base URL and configuration and copies of the serializers and
  // security policy.
  std::shared_ptr<KSHTTPSessionManager> copy() const;

 protected:
  KSHTTPSessionManager(std::optional<std::string> baseURL,
                         std::optional<platform::net::URLSessionConfiguration> configuration);
  // The same on the given scheduler's queues (the shared scheduler when null).
  KSHTTPSessionManager(std::optional<std::string> baseURL,
                         std::optional<platform::net::URLSessionConfiguration> configuration,
                         std::shared_ptr<platform::dispatch::Scheduler> scheduler);

  // Reports a request that could not be built: failure(nullptr, error) on the completion
  // queue inside the completion group.
  void failWithoutTask(Failure failure, platform::Error error) const;

 private:
  std::optional<std::string> fullURL(std::string_view URLString) const;

  std::optional<std::string> baseURL_;
  mutable std::mutex serializerMutex_;
  std::shared_ptr<KSHTTPRequestSerializer> requestSerializer_;
};

}  // namespace velmora::kestrine

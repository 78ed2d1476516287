#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSConfiguratorPorts.h"
#include "beacons/foundation/KSConstants.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/http/KSHTTPRequestSerializer.h"
#include "beacons/http/KSHTTPResponseSerializer.h"
#include "beacons/http/KSHTTPSessionManager.h"
#include "beacons/http/KSURLSessionTask.h"
#include "beacons/model/KSApiClientPort.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/URLSessionConfiguration.h"

namespace velmora::platform::dispatch {
class Queue;
class Scheduler;
}  // namespace velmora::platform::dispatch

namespace velmora::kestrine {

class KSInstanceProvider;

inline constexpr std::string_view KSApiVersionHeader = "X-Api-Version";
inline constexpr std::string_view KSApiVersion = "3";
inline constexpr std::string_view KSApiClientCompletionQueueLabel = "com.kestrine.apiClient";

// Keys of the response details every failed task of the client carries.
inline constexpr std::string_view KSNetworkingTaskResponseStatusCodeKey = "KSNetworkingTaskResponseStatusCodeKey";
inline constexpr std::string_view KSNetworkingTaskResponseRetryAfterKey = "KSNetworkingTaskResponseRetryAfterKey";

// The error the client hands on for a failed exchange: with a response, the same domain and
// code with the status code (integer) and the "Retry-After" text (or 10.0 when the response
// has none) added to the user info; without a response, the error unchanged.
platform::Error KSApiClientEnrichedError(const platform::Error& error,
                                         const std::optional<platform::net::HTTPURLResponse>& response);

// A task of the client is a task of its session manager.
using KSApiDataTask = KSURLSessionTask;

// The REST client of the beacon cloud API: the HTTP session manager with a fixed base URL, a
// JSON request serializer (query parameters for GET, HEAD and DELETE, a JSON body otherwise),
// the JSON response serializer, the platform's headers, and one serial completion queue on
// which every success and failure block runs. Failures carry the status code and Retry-After
// of the response. The client never retries. Thread-safe: headers may be set from any thread.
class KSApiClient : public KSHTTPSessionManager, public KSApiClientPort, public KSApiHeaders {
 public:
  using Task = KSURLSessionManager::TaskPtr;
  using SuccessBlock = KSHTTPSessionManager::Success;
  using FailureBlock = KSHTTPSessionManager::Failure;

  static constexpr std::string_view kSingletonName = "KSApiClient";

  // A client for the base URL (normalised so that relative paths land below its path) on
  // the scheduler's queues. `configuration` tunes the session (time-out, URL cache); every
  // task of it carries "X-Api-Version".
  static std::shared_ptr<KSApiClient> create(std::string baseURL,
                                             std::shared_ptr<platform::dispatch::Scheduler> scheduler = nullptr,
                                             platform::net::URLSessionConfiguration configuration = {});
  // The registry's client, made on first use with the configurator's apiBaseURL, read once,
  // and the SDK's shared URL cache.
  static std::shared_ptr<KSApiClient> sharedApiClient();

  ~KSApiClient() override;

  std::shared_ptr<platform::dispatch::Scheduler> scheduler() const { return managerScheduler(); }
  // The configuration the client's session was made with (its callback queue is the
  // completion queue): sessions of their own, like the firmware downloads, start from it.
  const platform::net::URLSessionConfiguration& sessionConfiguration() const;

  // --- headers ---
  void setAuthorizationHeaderWithAppToken(const std::string& token) override;
  void setAuthorizationHeaderWithAppToken(const std::string& token, const std::string& userName,
                                          const std::string& password) override;
  void clearAuthorizationHeader();
  void setValueForHTTPHeaderField(const std::string& value, const std::string& field) override;

  // A task for the method and URL string (resolved against the base URL; a leading "/"
  // replaces the base's path), not yet resumed. A request that cannot be built calls the
  // failure block, later on the completion queue, with no task and the serializer's error,
  // and answers nullptr; nothing is sent.
  using KSHTTPSessionManager::dataTaskWithHTTPMethod;
  Task dataTaskWithHTTPMethod(std::string_view method, std::string_view URLString, const platform::Value& parameters,
                              SuccessBlock success, FailureBlock failure);

  // Every task of the client, whichever verb made it, passes here: its completion gets the
  // response's status and Retry-After added to a failure.
  using KSURLSessionManager::dataTaskWithRequest;
  Task dataTaskWithRequest(const KSURLRequest& request, ProgressBlock uploadProgress, ProgressBlock downloadProgress,
                           CompletionHandler completionHandler) override;

  // The verbs of the session manager: build, resume at once, complete on the completion queue.
  using KSHTTPSessionManager::DELETE;
  using KSHTTPSessionManager::GET;
  using KSHTTPSessionManager::POST;
  using KSHTTPSessionManager::PUT;

  // --- the port the model records call through ---
  using PortSuccess = KSApiClientPort::Success;
  using PortFailure = KSApiClientPort::Failure;
  void GET(std::string path, platform::Value parameters, PortSuccess success, PortFailure failure) override;
  void POST(std::string path, platform::Value parameters, PortSuccess success, PortFailure failure) override;
  void DELETE(std::string path, platform::Value parameters, PortSuccess success, PortFailure failure) override;
  void loadAllPagesForPath(std::string path, platform::Value parameters, PageSuccess success,
                           PortFailure failure) override;

 private:
  KSApiClient(std::string baseURL, std::shared_ptr<platform::dispatch::Scheduler> scheduler,
              platform::net::URLSessionConfiguration configuration);
  std::shared_ptr<KSApiClient> self();
};

}  // namespace velmora::kestrine

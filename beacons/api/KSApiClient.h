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
#include "beacons/http/KSAFHTTPRequestSerializer.h"
#include "beacons/http/KSAFHTTPResponseSerializer.h"
#include "beacons/model/KSApiClientPort.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/URLSessionConfiguration.h"

namespace platform::dispatch {
class Queue;
class Scheduler;
}  // namespace platform::dispatch
namespace platform::net {
class URLSession;
class URLSessionDataTask;
}  // namespace platform::net

namespace kestrine {

class KSInstanceProvider;

inline constexpr std::string_view KSApiVersionHeader = "X-Api-Version";
inline constexpr std::string_view KSApiVersion = "3";
inline constexpr std::string_view KSApiClientCompletionQueueLabel = "com.kestrine.apiClient";

// Keys of the response details every failed task of the client carries.
inline constexpr std::string_view KSAFNetworkingTaskResponseStatusCodeKey = "KSAFNetworkingTaskResponseStatusCodeKey";
inline constexpr std::string_view KSAFNetworkingTaskResponseRetryAfterKey = "KSAFNetworkingTaskResponseRetryAfterKey";

// The error the client hands on for a failed exchange: with a response, the same domain and
// code with the status code (integer) and the "Retry-After" text (or 10.0 when the response
// has none) added to the user info; without a response, the error unchanged.
platform::Error KSApiClientEnrichedError(const platform::Error& error,
                                         const std::optional<platform::net::HTTPURLResponse>& response);

// One request of the client. Made suspended; resume() sends it. Its completion runs once.
class KSApiDataTask {
 public:
  void resume();
  void cancel();
  bool isSuspended() const;
  // The request as built (method, absolute URL, headers, body).
  const KSAFURLRequest& request() const { return request_; }
  // The reply's status line and headers once it completed with one.
  std::optional<platform::net::HTTPURLResponse> response() const;

 private:
  friend class KSApiClient;
  explicit KSApiDataTask(KSAFURLRequest request) : request_(std::move(request)) {}
  const KSAFURLRequest request_;
  std::shared_ptr<platform::net::URLSessionDataTask> task_;
  mutable std::mutex mutex_;
  std::optional<platform::net::HTTPURLResponse> response_;
};

// The REST client of the beacon cloud API: a fixed base URL, a JSON request serializer
// (query parameters for GET, HEAD and DELETE, a JSON body otherwise), a JSON response
// serializer, the platform's headers, and one serial completion queue on which every success
// and failure block runs. Failures carry the status code and Retry-After of the response.
// The client never retries. Thread-safe: headers may be set from any thread.
class KSApiClient : public KSApiClientPort,
                    public KSApiHeaders,
                    public std::enable_shared_from_this<KSApiClient> {
 public:
  using Task = std::shared_ptr<KSApiDataTask>;
  using SuccessBlock = std::function<void(const Task& task, const platform::Value& responseObject)>;
  using FailureBlock = std::function<void(const Task& task, const platform::Error& error)>;

  static constexpr std::string_view kSingletonName = "KSApiClient";

  // A client for the base URL (normalised so that relative paths land below its path) on
  // the scheduler's queues. `configuration` tunes the session (trust, time-out); its callback
  // queue is always the client's completion queue.
  static std::shared_ptr<KSApiClient> create(std::string baseURL,
                                             std::shared_ptr<platform::dispatch::Scheduler> scheduler = nullptr,
                                             platform::net::URLSessionConfiguration configuration = {});
  // The registry's client, made on first use with the configurator's apiBaseURL, read once.
  static std::shared_ptr<KSApiClient> sharedApiClient();

  ~KSApiClient() override;

  const std::string& baseURL() const { return baseURL_; }
  const std::shared_ptr<platform::dispatch::Queue>& completionQueue() const { return completionQueue_; }
  const std::shared_ptr<KSAFJSONRequestSerializer>& requestSerializer() const { return requestSerializer_; }
  std::shared_ptr<platform::dispatch::Scheduler> scheduler() const { return scheduler_; }
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
  Task dataTaskWithHTTPMethod(std::string_view method, std::string_view URLString, const platform::Value& parameters,
                              SuccessBlock success, FailureBlock failure);

  // The verbs: build, resume at once, complete on the completion queue.
  Task GET(std::string_view URLString, const platform::Value& parameters, SuccessBlock success, FailureBlock failure);
  Task POST(std::string_view URLString, const platform::Value& parameters, SuccessBlock success, FailureBlock failure);
  Task PUT(std::string_view URLString, const platform::Value& parameters, SuccessBlock success, FailureBlock failure);
  Task DELETE(std::string_view URLString, const platform::Value& parameters, SuccessBlock success,
              FailureBlock failure);

  // --- the port the model records call through ---
  void GET(std::string path, platform::Value parameters, Success success, Failure failure) override;
  void POST(std::string path, platform::Value parameters, Success success, Failure failure) override;
  void DELETE(std::string path, platform::Value parameters, Success success, Failure failure) override;
  void loadAllPagesForPath(std::string path, platform::Value parameters, PageSuccess success,
                           Failure failure) override;

 private:
  struct Token {};

 public:
  KSApiClient(Token, std::string baseURL, std::shared_ptr<platform::dispatch::Scheduler> scheduler,
              platform::net::URLSessionConfiguration configuration);

 private:
  Task resumed(const Task& task);
  void failLater(FailureBlock failure, platform::Error error);

  const std::string baseURL_;
  const std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  const std::shared_ptr<platform::dispatch::Queue> completionQueue_;
  const std::shared_ptr<KSAFJSONRequestSerializer> requestSerializer_;
  const std::shared_ptr<KSAFJSONResponseSerializer> responseSerializer_;
  std::shared_ptr<platform::net::URLSession> session_;
};

}  // namespace kestrine

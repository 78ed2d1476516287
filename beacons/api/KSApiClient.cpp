#include "beacons/api/KSApiClient.h"

#include <utility>

#include "beacons/api/KSPaginator.h"
#include "beacons/foundation/KSBase64Utilities.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/http/KSAFURLResolution.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/net/URLSession.h"
#include "platform/net/URLSessionDataTask.h"

namespace kestrine {

namespace {
constexpr std::string_view kLog = "api";
}

platform::Error KSApiClientEnrichedError(const platform::Error& error,
                                         const std::optional<platform::net::HTTPURLResponse>& response) {
  if (!response) return error;
  platform::Error enriched = error;
  platform::Value retryAfter = KSApiRetryAfterDefaultTimeIntervalInSeconds;
  if (auto header = response->headerValue("Retry-After")) retryAfter = *header;
  enriched.userInfo.insert_or_assign(std::string(KSAFNetworkingTaskResponseRetryAfterKey), std::move(retryAfter));
  enriched.userInfo.insert_or_assign(std::string(KSAFNetworkingTaskResponseStatusCodeKey),
                                     static_cast<std::int64_t>(response->statusCode));
  return enriched;
}

// --- tasks ----------------------------------------------------------------------------------

void KSApiDataTask::resume() {
  if (task_) task_->resume();
}

void KSApiDataTask::cancel() {
  if (task_) task_->cancel();
}

bool KSApiDataTask::isSuspended() const {
  return task_ && task_->state() == platform::net::URLSessionDataTask::State::Suspended;
}

std::optional<platform::net::HTTPURLResponse> KSApiDataTask::response() const {
  std::lock_guard lock(mutex_);
  return response_;
}

// --- client ---------------------------------------------------------------------------------

std::shared_ptr<KSApiClient> KSApiClient::create(std::string baseURL,
                                                 std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                                                 platform::net::URLSessionConfiguration configuration) {
  if (!scheduler) scheduler = platform::dispatch::Scheduler::shared();
  return std::make_shared<KSApiClient>(Token{}, std::move(baseURL), std::move(scheduler), std::move(configuration));
}

KSApiClient::KSApiClient(Token, std::string baseURL, std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                         platform::net::URLSessionConfiguration configuration)
    : baseURL_(KSAFNormalizedBaseURL(baseURL).value_or(baseURL)),
      scheduler_(std::move(scheduler)),
      completionQueue_(scheduler_->makeSerialQueue(std::string(KSApiClientCompletionQueueLabel))),
      requestSerializer_(KSAFJSONRequestSerializer::serializer()),
      responseSerializer_(KSAFJSONResponseSerializer::serializer()) {
  configuration.callbackQueue = completionQueue_;
  session_ = platform::net::URLSession::create(std::move(configuration));
}

KSApiClient::~KSApiClient() = default;

const platform::net::URLSessionConfiguration& KSApiClient::sessionConfiguration() const {
  return session_->configuration();
}

std::shared_ptr<KSApiClient> KSApiClient::sharedApiClient() {
  auto provider = KSInstanceProvider::sharedProvider();
  return provider->singleton<KSApiClient>(kSingletonName, [](KSInstanceProvider& p) {
    auto configurator = p.singleton<KSConfigurator>(KSConfigurator::kSingletonName, nullptr);
    std::string base = configurator ? configurator->apiBaseURL() : std::string(KSApiBaseURL);
    auto client = KSApiClient::create(std::move(base), p.platform().scheduler);
    // The records reach the client through their port.
    KSApiClientPort::setShared(client);
    return client;
  });
}

void KSApiClient::setAuthorizationHeaderWithAppToken(const std::string& token) {
  requestSerializer_->setValue("Kestrine " + KSBase64Utilities::base64EncodedString(token), "Authorization");
}

void KSApiClient::setAuthorizationHeaderWithAppToken(const std::string& token, const std::string& userName,
                                                     const std::string& password) {
  const std::string credential = token + ":" + userName + ":" + password;
  requestSerializer_->setValue("Kestrine " + KSBase64Utilities::base64EncodedString(credential), "Authorization");
}

void KSApiClient::clearAuthorizationHeader() { requestSerializer_->clearAuthorizationHeader(); }

void KSApiClient::setValueForHTTPHeaderField(const std::string& value, const std::string& field) {
  requestSerializer_->setValue(value, field);
}

void KSApiClient::failLater(FailureBlock failure, platform::Error error) {
  if (!failure) return;
  completionQueue_->async([failure = std::move(failure), error = std::move(error)] { failure(nullptr, error); });
}

KSApiClient::Task KSApiClient::dataTaskWithHTTPMethod(std::string_view method, std::string_view URLString,
                                                      const platform::Value& parameters, SuccessBlock success,
                                                      FailureBlock failure) {
  auto absolute = KSAFResolveURL(URLString, baseURL_);
  platform::Error error;
  std::optional<KSAFURLRequest> request;
  if (absolute) {
    request = requestSerializer_->requestWithMethod(method, *absolute, parameters, &error);
  } else {
    error = platform::Error(std::string(KSAFURLRequestSerializationErrorDomain), KSAFRequestSerializationErrorCode,
                            "The URL cannot be resolved against the API base.",
                            {{std::string(platform::kFailingURLKey), std::string(URLString)}});
  }
  if (!request) {
    platform::Log::warning(kLog, "request {} {} not built: {}", method, URLString, error.localizedDescription);
    failLater(std::move(failure), std::move(error));
    return nullptr;
  }
  // A serializer without a time-out of its own leaves it to the session's default.
  if (!(requestSerializer_->timeoutInterval() > 0)) request->urlRequest.timeoutSeconds = 0;
  // Every task carries the API version, whatever the serializer's headers hold.
  if (!request->valueForHTTPHeaderField(KSApiVersionHeader)) {
    request->setValue(std::string(KSApiVersion), KSApiVersionHeader);
  }

  auto task = std::shared_ptr<KSApiDataTask>(new KSApiDataTask(*request));
  std::weak_ptr<KSApiDataTask> weakTask = task;
  auto serializer = responseSerializer_;
  task->task_ = session_->dataTask(
      request->urlRequest,
      [weakTask, serializer, success = std::move(success), failure = std::move(failure)](
          std::optional<std::string> data, std::optional<platform::net::HTTPURLResponse> response,
          std::optional<platform::Error> transportError) {
        auto strongTask = weakTask.lock();
        if (strongTask && response) {
          std::lock_guard lock(strongTask->mutex_);
          strongTask->response_ = response;
        }
        std::optional<platform::Error> error = std::move(transportError);
        platform::Value object;
        if (!error) {
          object = serializer->responseObjectForResponse(response ? &*response : nullptr, data, &error);
        }
        if (error) {
          if (failure) failure(strongTask, KSApiClientEnrichedError(*error, response));
          return;
        }
        if (object.isAbsent()) {
          platform::Log::info(kLog, "reply {} with status {} decoded to nothing", response ? response->url : "",
                              response ? response->statusCode : 0);
        }
        if (success) success(strongTask, object);
      });
  return task;
}

KSApiClient::Task KSApiClient::resumed(const Task& task) {
  if (task) task->resume();
  return task;
}

KSApiClient::Task KSApiClient::GET(std::string_view URLString, const platform::Value& parameters,
                                   SuccessBlock success, FailureBlock failure) {
  return resumed(dataTaskWithHTTPMethod("GET", URLString, parameters, std::move(success), std::move(failure)));
}
KSApiClient::Task KSApiClient::POST(std::string_view URLString, const platform::Value& parameters,
                                    SuccessBlock success, FailureBlock failure) {
  return resumed(dataTaskWithHTTPMethod("POST", URLString, parameters, std::move(success), std::move(failure)));
}
KSApiClient::Task KSApiClient::PUT(std::string_view URLString, const platform::Value& parameters,
                                   SuccessBlock success, FailureBlock failure) {
  return resumed(dataTaskWithHTTPMethod("PUT", URLString, parameters, std::move(success), std::move(failure)));
}
KSApiClient::Task KSApiClient::DELETE(std::string_view URLString, const platform::Value& parameters,
                                      SuccessBlock success, FailureBlock failure) {
  return resumed(dataTaskWithHTTPMethod("DELETE", URLString, parameters, std::move(success), std::move(failure)));
}

namespace {
KSApiClient::SuccessBlock portSuccess(KSApiClientPort::Success success) {
  return [success = std::move(success)](const KSApiClient::Task&, const platform::Value& reply) {
    if (success) success(reply);
  };
}
KSApiClient::FailureBlock portFailure(KSApiClientPort::Failure failure) {
  return [failure = std::move(failure)](const KSApiClient::Task&, const platform::Error& error) {
    if (failure) failure(error);
  };
}
}  // namespace

void KSApiClient::GET(std::string path, platform::Value parameters, Success success, Failure failure) {
  GET(std::string_view(path), parameters, portSuccess(std::move(success)), portFailure(std::move(failure)));
}
void KSApiClient::POST(std::string path, platform::Value parameters, Success success, Failure failure) {
  POST(std::string_view(path), parameters, portSuccess(std::move(success)), portFailure(std::move(failure)));
}
void KSApiClient::DELETE(std::string path, platform::Value parameters, Success success, Failure failure) {
  DELETE(std::string_view(path), parameters, portSuccess(std::move(success)), portFailure(std::move(failure)));
}

void KSApiClient::loadAllPagesForPath(std::string path, platform::Value parameters, PageSuccess success,
                                      Failure failure) {
  KSPaginator::loadAllPagesForPath(
      path, std::move(parameters),
      [success = std::move(success)](const platform::Value& items, const std::shared_ptr<KSPaginator>& paginator) {
        if (!success) return;
        const platform::Array* array = items.array();
        success(array ? *array : platform::Array{}, paginator->walkContinues());
      },
      [failure = std::move(failure)](const platform::Error& error) {
        if (failure) failure(error);
      },
      shared_from_this());
}

}  // namespace kestrine

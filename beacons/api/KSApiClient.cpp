#include "beacons/api/KSApiClient.h"

#include <utility>

#include "beacons/api/KSPaginator.h"
#include "beacons/foundation/KSBase64Utilities.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/http/KSCachePolicy.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

namespace {
constexpr std::string_view kLog = "api";
}

platform::Error KSApiClientEnrichedError(const platform::Error& error,
                                         const std::optional<platform::net::HTTPURLResponse>& response) {
  if (!response) return error;
  platform::Error enriched = error;
  platform::Value retryAfter = KSApiRetryAfterDefaultTimeIntervalInSeconds;
  if (auto header = response->headerValue("Retry-After")) retryAfter = *header;
  enriched.userInfo.insert_or_assign(std::string(KSNetworkingTaskResponseRetryAfterKey), std::move(retryAfter));
  enriched.userInfo.insert_or_assign(std::string(KSNetworkingTaskResponseStatusCodeKey),
                                     static_cast<std::int64_t>(response->statusCode));
  return enriched;
}

// --- client ---------------------------------------------------------------------------------

namespace {

platform::net::URLSessionConfiguration withApiVersion(platform::net::URLSessionConfiguration configuration) {
  // Every task of the session carries the API version; a request naming the header itself wins.
  configuration.HTTPAdditionalHeaders.emplace_back(std::string(KSApiVersionHeader), std::string(KSApiVersion));
  return configuration;
}

}  // namespace

std::shared_ptr<KSApiClient> KSApiClient::create(std::string baseURL,
                                                 std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                                                 platform::net::URLSessionConfiguration configuration) {
  if (!scheduler) scheduler = platform::dispatch::Scheduler::shared();
  return std::shared_ptr<KSApiClient>(new KSApiClient(std::move(baseURL), std::move(scheduler), std::move(configuration)));
}

KSApiClient::KSApiClient(std::string baseURL, std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                         platform::net::URLSessionConfiguration configuration)
    : KSHTTPSessionManager(std::move(baseURL), withApiVersion(std::move(configuration)), scheduler) {
  setRequestSerializer(KSJSONRequestSerializer::serializer());
  setCompletionQueue(scheduler->makeSerialQueue(std::string(KSApiClientCompletionQueueLabel)));
}

KSApiClient::~KSApiClient() = default;

const platform::net::URLSessionConfiguration& KSApiClient::sessionConfiguration() const {
  return session()->configuration();
}

std::shared_ptr<KSApiClient> KSApiClient::self() {
  return std::static_pointer_cast<KSApiClient>(KSURLSessionManager::shared_from_this());
}

std::shared_ptr<KSApiClient> KSApiClient::sharedApiClient() {
  auto provider = KSInstanceProvider::sharedProvider();
  return provider->singleton<KSApiClient>(kSingletonName, [](KSInstanceProvider& p) {
    auto configurator = p.singleton<KSConfigurator>(KSConfigurator::kSingletonName, nullptr);
    std::string base = configurator ? configurator->apiBaseURL() : std::string(KSApiBaseURL);
    platform::net::URLSessionConfiguration configuration;
    configuration.urlCache = KSCachePolicy::sharedURLCache();
    auto client = KSApiClient::create(std::move(base), p.platform().scheduler, std::move(configuration));
    // The records reach the client through their port.
    KSApiClientPort::setShared(client);
    return client;
  });
}

void KSApiClient::setAuthorizationHeaderWithAppToken(const std::string& token) {
  requestSerializer()->setValue("Kestrine " + KSBase64Utilities::base64EncodedString(token), "Authorization");
}

void KSApiClient::setAuthorizationHeaderWithAppToken(const std::string& token, const std::string& userName,
                                                     const std::string& password) {
  const std::string credential = token + ":" + userName + ":" + password;
  requestSerializer()->setValue("Kestrine " + KSBase64Utilities::base64EncodedString(credential), "Authorization");
}

void KSApiClient::clearAuthorizationHeader() { requestSerializer()->clearAuthorizationHeader(); }

void KSApiClient::setValueForHTTPHeaderField(const std::string& value, const std::string& field) {
  requestSerializer()->setValue(value, field);
}

KSApiClient::Task KSApiClient::dataTaskWithHTTPMethod(std::string_view method, std::string_view URLString,
                                                      const platform::Value& parameters, SuccessBlock success,
                                                      FailureBlock failure) {
  auto task = dataTaskWithHTTPMethod(method, URLString, parameters, nullptr, nullptr, std::move(success),
                                     std::move(failure));
  if (!task) platform::Log::warning(kLog, "request {} {} not built", method, URLString);
  return task;
}

KSApiClient::Task KSApiClient::dataTaskWithRequest(const KSURLRequest& request, ProgressBlock uploadProgress,
                                                   ProgressBlock downloadProgress,
                                                   CompletionHandler completionHandler) {
  KSURLRequest sent = request;
  // A serializer without a time-out of its own leaves it to the session's default.
  if (!(requestSerializer()->timeoutInterval() > 0)) sent.urlRequest.timeoutSeconds = 0;
  return KSHTTPSessionManager::dataTaskWithRequest(
      sent, std::move(uploadProgress), std::move(downloadProgress),
      [handler = std::move(completionHandler)](const std::optional<platform::net::HTTPURLResponse>& response,
                                               const platform::Value& responseObject,
                                               const std::optional<platform::Error>& error) {
        if (!error && responseObject.isAbsent() && response) {
          platform::Log::info(kLog, "reply {} with status {} decoded to nothing", response->url, response->statusCode);
        }
        if (!handler) return;
        if (error && response) {
          handler(response, responseObject, KSApiClientEnrichedError(*error, response));
        } else {
          handler(response, responseObject, error);
        }
      });
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

void KSApiClient::GET(std::string path, platform::Value parameters, PortSuccess success, PortFailure failure) {
  GET(std::string_view(path), parameters, portSuccess(std::move(success)), portFailure(std::move(failure)));
}
void KSApiClient::POST(std::string path, platform::Value parameters, PortSuccess success, PortFailure failure) {
  POST(std::string_view(path), parameters, portSuccess(std::move(success)), portFailure(std::move(failure)));
}
void KSApiClient::DELETE(std::string path, platform::Value parameters, PortSuccess success, PortFailure failure) {
  DELETE(std::string_view(path), parameters, portSuccess(std::move(success)), portFailure(std::move(failure)));
}

void KSApiClient::loadAllPagesForPath(std::string path, platform::Value parameters, PageSuccess success,
                                      PortFailure failure) {
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
      self());
}

}  // namespace velmora::kestrine

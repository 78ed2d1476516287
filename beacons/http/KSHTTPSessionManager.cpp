#include "beacons/http/KSHTTPSessionManager.h"

#include <fmt/format.h>

#include <utility>

#include "beacons/http/KSURLResolution.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {

std::shared_ptr<KSHTTPSessionManager> KSHTTPSessionManager::manager() { return create(); }

std::shared_ptr<KSHTTPSessionManager> KSHTTPSessionManager::create(
    std::optional<std::string> baseURL, std::optional<platform::net::URLSessionConfiguration> configuration) {
  return std::shared_ptr<KSHTTPSessionManager>(new KSHTTPSessionManager(std::move(baseURL), std::move(configuration)));
}

KSHTTPSessionManager::KSHTTPSessionManager(std::optional<std::string> baseURL,
                                               std::optional<platform::net::URLSessionConfiguration> configuration)
    : KSHTTPSessionManager(std::move(baseURL), std::move(configuration), nullptr) {}

KSHTTPSessionManager::KSHTTPSessionManager(std::optional<std::string> baseURL,
                                               std::optional<platform::net::URLSessionConfiguration> configuration,
                                               std::shared_ptr<platform::dispatch::Scheduler> scheduler)
    : KSURLSessionManager(std::move(configuration), std::move(scheduler)),
      requestSerializer_(KSHTTPRequestSerializer::serializer()) {
  if (baseURL) baseURL_ = KSNormalizedBaseURL(*baseURL);
}

std::shared_ptr<KSHTTPRequestSerializer> KSHTTPSessionManager::requestSerializer() const {
  std::lock_guard lock(serializerMutex_);
  return requestSerializer_;
}

void KSHTTPSessionManager::setRequestSerializer(std::shared_ptr<KSHTTPRequestSerializer> serializer) {
  if (!platform::precondition(serializer != nullptr, "requestSerializer")) return;
  std::lock_guard lock(serializerMutex_);
  requestSerializer_ = std::move(serializer);
}

std::optional<std::string> KSHTTPSessionManager::fullURL(std::string_view URLString) const {
  return KSResolveURL(URLString, baseURL_);
}

void KSHTTPSessionManager::failWithoutTask(Failure failure, platform::Error error) const {
  if (!failure) return;
  effectiveCompletionGroup()->async(effectiveCompletionQueue(), [failure = std::move(failure), error = std::move(error)] {
    failure(nullptr, error);
  });
}

KSURLSessionManager::TaskPtr KSHTTPSessionManager::dataTaskWithHTTPMethod(
    std::string_view method, std::string_view URLString, const platform::Value& parameters, ProgressBlock uploadProgress,
    ProgressBlock downloadProgress, Success success, Failure failure) {
  // A URL that does not resolve goes to the serializer as given, which refuses it.
  const auto url = fullURL(URLString);
  platform::Error error;
  auto request = requestSerializer()->requestWithMethod(method, url ? *url : std::string(URLString), parameters, &error);
  if (!request) {
    failWithoutTask(std::move(failure), std::move(error));
    return nullptr;
  }
  // The completion reports the task it belongs to; the slot is filled once the task exists.
  auto slot = std::make_shared<TaskPtr>();
  auto task = dataTaskWithRequest(
      *request, std::move(uploadProgress), std::move(downloadProgress),
      [slot, success = std::move(success), failure = std::move(failure)](
          const std::optional<platform::net::HTTPURLResponse>&, const platform::Value& responseObject,
          const std::optional<platform::Error>& error) {
        if (error) {
          if (failure) failure(*slot, *error);
        } else if (success) {
          success(*slot, responseObject);
        }
      });
  *slot = task;
  return task;
}

namespace {

KSURLSessionManager::TaskPtr resumed(KSURLSessionManager::TaskPtr task) {
  if (task) task->resume();
  return task;
}

}  // namespace

KSURLSessionManager::TaskPtr KSHTTPSessionManager::GET(std::string_view URLString, const platform::Value& parameters,
                                                           Success success, Failure failure) {
  return GET(URLString, parameters, ProgressBlock(), std::move(success), std::move(failure));
}

KSURLSessionManager::TaskPtr KSHTTPSessionManager::GET(std::string_view URLString, const platform::Value& parameters,
                                                           ProgressBlock downloadProgress, Success success,
                                                           Failure failure) {
  return resumed(dataTaskWithHTTPMethod("GET", URLString, parameters, nullptr, std::move(downloadProgress),
                                        std::move(success), std::move(failure)));
}

KSURLSessionManager::TaskPtr KSHTTPSessionManager::HEAD(std::string_view URLString, const platform::Value& parameters,
                                                            HeadSuccess success, Failure failure) {
  Success dropObject;
  if (success) dropObject = [success = std::move(success)](const TaskPtr& task, const platform::Value&) { success(task); };
  return resumed(dataTaskWithHTTPMethod("HEAD", URLString, parameters, nullptr, nullptr, std::move(dropObject),
                                        std::move(failure)));
}

KSURLSessionManager::TaskPtr KSHTTPSessionManager::POST(std::string_view URLString, const platform::Value& parameters,
                                                            Success success, Failure failure) {
  return POST(URLString, parameters, ProgressBlock(), std::move(success), std::move(failure));
}

KSURLSessionManager::TaskPtr KSHTTPSessionManager::POST(std::string_view URLString, const platform::Value& parameters,
                                                            ProgressBlock uploadProgress, Success success,
                                                            Failure failure) {
  return resumed(dataTaskWithHTTPMethod("POST", URLString, parameters, std::move(uploadProgress), nullptr,
                                        std::move(success), std::move(failure)));
}

KSURLSessionManager::TaskPtr KSHTTPSessionManager::POST(std::string_view URLString, const platform::Value& parameters,
                                                            ConstructingBodyBlock block, Success success,
                                                            Failure failure) {
  return POST(URLString, parameters, std::move(block), ProgressBlock(), std::move(success), std::move(failure));
}

KSURLSessionManager::TaskPtr KSHTTPSessionManager::POST(std::string_view URLString, const platform::Value& parameters,
                                                            ConstructingBodyBlock block, ProgressBlock uploadProgress,
                                                            Success success, Failure failure) {
  const auto url = fullURL(URLString);
  platform::Error error;
  const auto noParts = [](KSMultipartFormData&) {};
  auto request = block ? requestSerializer()->multipartFormRequestWithMethod("POST", url ? *url : std::string(URLString),
                                                                             parameters, block, &error)
                       : requestSerializer()->multipartFormRequestWithMethod("POST", url ? *url : std::string(URLString),
                                                                             parameters, noParts, &error);
  if (!request) {
    failWithoutTask(std::move(failure), std::move(error));
    return nullptr;
  }
  auto slot = std::make_shared<TaskPtr>();
  auto task = uploadTaskWithStreamedRequest(
      *request, std::move(uploadProgress),
      [slot, success = std::move(success), failure = std::move(failure)](
          const std::optional<platform::net::HTTPURLResponse>&, const platform::Value& responseObject,
          const std::optional<platform::Error>& error) {
        if (error) {
          if (failure) failure(*slot, *error);
        } else if (success) {
          success(*slot, responseObject);
        }
      });
  *slot = task;
  return resumed(task);
}

KSURLSessionManager::TaskPtr KSHTTPSessionManager::PUT(std::string_view URLString, const platform::Value& parameters,
                                                           Success success, Failure failure) {
  return resumed(
      dataTaskWithHTTPMethod("PUT", URLString, parameters, nullptr, nullptr, std::move(success), std::move(failure)));
}

KSURLSessionManager::TaskPtr KSHTTPSessionManager::PATCH(std::string_view URLString, const platform::Value& parameters,
                                                             Success success, Failure failure) {
  return resumed(
      dataTaskWithHTTPMethod("PATCH", URLString, parameters, nullptr, nullptr, std::move(success), std::move(failure)));
}

KSURLSessionManager::TaskPtr KSHTTPSessionManager::DELETE(std::string_view URLString,
                                                              const platform::Value& parameters, Success success,
                                                              Failure failure) {
  return resumed(
      dataTaskWithHTTPMethod("DELETE", URLString, parameters, nullptr, nullptr, std::move(success), std::move(failure)));
}

std::string KSHTTPSessionManager::description() const {
  return fmt::format("<KSHTTPSessionManager: {}, baseURL: {}, session: {}, operationQueue: {}>",
                     static_cast<const void*>(this), baseURL_.value_or("(null)"),
                     static_cast<const void*>(madeSession().get()), operationQueue()->label());
}

std::shared_ptr<KSHTTPSessionManager> KSHTTPSessionManager::copy() const {
  auto other = create(baseURL_, sessionConfiguration());
  other->setRequestSerializer(requestSerializer()->copy());
  other->setResponseSerializer(responseSerializer()->copy());
  other->setSecurityPolicy(securityPolicy()->copy());
  return other;
}

}  // namespace velmora::kestrine

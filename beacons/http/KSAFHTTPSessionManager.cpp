#include "beacons/http/KSAFHTTPSessionManager.h"

#include <fmt/format.h>

#include <utility>

#include "beacons/http/KSAFURLResolution.h"
#include "platform/core/Log.h"

namespace kestrine {

std::shared_ptr<KSAFHTTPSessionManager> KSAFHTTPSessionManager::manager() { return create(); }

std::shared_ptr<KSAFHTTPSessionManager> KSAFHTTPSessionManager::create(
    std::optional<std::string> baseURL, std::optional<platform::net::URLSessionConfiguration> configuration) {
  return std::shared_ptr<KSAFHTTPSessionManager>(new KSAFHTTPSessionManager(std::move(baseURL), std::move(configuration)));
}

KSAFHTTPSessionManager::KSAFHTTPSessionManager(std::optional<std::string> baseURL,
                                               std::optional<platform::net::URLSessionConfiguration> configuration)
    : KSAFHTTPSessionManager(std::move(baseURL), std::move(configuration), nullptr) {}

KSAFHTTPSessionManager::KSAFHTTPSessionManager(std::optional<std::string> baseURL,
                                               std::optional<platform::net::URLSessionConfiguration> configuration,
                                               std::shared_ptr<platform::dispatch::Scheduler> scheduler)
    : KSAFURLSessionManager(std::move(configuration), std::move(scheduler)),
      requestSerializer_(KSAFHTTPRequestSerializer::serializer()) {
  if (baseURL) baseURL_ = KSAFNormalizedBaseURL(*baseURL);
}

std::shared_ptr<KSAFHTTPRequestSerializer> KSAFHTTPSessionManager::requestSerializer() const {
  std::lock_guard lock(serializerMutex_);
  return requestSerializer_;
}

void KSAFHTTPSessionManager::setRequestSerializer(std::shared_ptr<KSAFHTTPRequestSerializer> serializer) {
  if (!platform::precondition(serializer != nullptr, "requestSerializer")) return;
  std::lock_guard lock(serializerMutex_);
  requestSerializer_ = std::move(serializer);
}

std::optional<std::string> KSAFHTTPSessionManager::fullURL(std::string_view URLString) const {
  return KSAFResolveURL(URLString, baseURL_);
}

void KSAFHTTPSessionManager::failWithoutTask(Failure failure, platform::Error error) const {
  if (!failure) return;
  effectiveCompletionGroup()->async(effectiveCompletionQueue(), [failure = std::move(failure), error = std::move(error)] {
    failure(nullptr, error);
  });
}

KSAFURLSessionManager::TaskPtr KSAFHTTPSessionManager::dataTaskWithHTTPMethod(
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

KSAFURLSessionManager::TaskPtr resumed(KSAFURLSessionManager::TaskPtr task) {
  if (task) task->resume();
  return task;
}

}  // namespace

KSAFURLSessionManager::TaskPtr KSAFHTTPSessionManager::GET(std::string_view URLString, const platform::Value& parameters,
                                                           Success success, Failure failure) {
  return GET(URLString, parameters, ProgressBlock(), std::move(success), std::move(failure));
}

KSAFURLSessionManager::TaskPtr KSAFHTTPSessionManager::GET(std::string_view URLString, const platform::Value& parameters,
                                                           ProgressBlock downloadProgress, Success success,
                                                           Failure failure) {
  return resumed(dataTaskWithHTTPMethod("GET", URLString, parameters, nullptr, std::move(downloadProgress),
                                        std::move(success), std::move(failure)));
}

KSAFURLSessionManager::TaskPtr KSAFHTTPSessionManager::HEAD(std::string_view URLString, const platform::Value& parameters,
                                                            HeadSuccess success, Failure failure) {
  Success dropObject;
  if (success) dropObject = [success = std::move(success)](const TaskPtr& task, const platform::Value&) { success(task); };
  return resumed(dataTaskWithHTTPMethod("HEAD", URLString, parameters, nullptr, nullptr, std::move(dropObject),
                                        std::move(failure)));
}

KSAFURLSessionManager::TaskPtr KSAFHTTPSessionManager::POST(std::string_view URLString, const platform::Value& parameters,
                                                            Success success, Failure failure) {
  return POST(URLString, parameters, ProgressBlock(), std::move(success), std::move(failure));
}

KSAFURLSessionManager::TaskPtr KSAFHTTPSessionManager::POST(std::string_view URLString, const platform::Value& parameters,
                                                            ProgressBlock uploadProgress, Success success,
                                                            Failure failure) {
  return resumed(dataTaskWithHTTPMethod("POST", URLString, parameters, std::move(uploadProgress), nullptr,
                                        std::move(success), std::move(failure)));
}

KSAFURLSessionManager::TaskPtr KSAFHTTPSessionManager::POST(std::string_view URLString, const platform::Value& parameters,
                                                            ConstructingBodyBlock block, Success success,
                                                            Failure failure) {
  return POST(URLString, parameters, std::move(block), ProgressBlock(), std::move(success), std::move(failure));
}

KSAFURLSessionManager::TaskPtr KSAFHTTPSessionManager::POST(std::string_view URLString, const platform::Value& parameters,
                                                            ConstructingBodyBlock block, ProgressBlock uploadProgress,
                                                            Success success, Failure failure) {
  const auto url = fullURL(URLString);
  platform::Error error;
  const auto noParts = [](KSAFMultipartFormData&) {};
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

KSAFURLSessionManager::TaskPtr KSAFHTTPSessionManager::PUT(std::string_view URLString, const platform::Value& parameters,
                                                           Success success, Failure failure) {
  return resumed(
      dataTaskWithHTTPMethod("PUT", URLString, parameters, nullptr, nullptr, std::move(success), std::move(failure)));
}

KSAFURLSessionManager::TaskPtr KSAFHTTPSessionManager::PATCH(std::string_view URLString, const platform::Value& parameters,
                                                             Success success, Failure failure) {
  return resumed(
      dataTaskWithHTTPMethod("PATCH", URLString, parameters, nullptr, nullptr, std::move(success), std::move(failure)));
}

KSAFURLSessionManager::TaskPtr KSAFHTTPSessionManager::DELETE(std::string_view URLString,
                                                              const platform::Value& parameters, Success success,
                                                              Failure failure) {
  return resumed(
      dataTaskWithHTTPMethod("DELETE", URLString, parameters, nullptr, nullptr, std::move(success), std::move(failure)));
}

std::string KSAFHTTPSessionManager::description() const {
  return fmt::format("<KSAFHTTPSessionManager: {}, baseURL: {}, session: {}, operationQueue: {}>",
                     static_cast<const void*>(this), baseURL_.value_or("(null)"),
                     static_cast<const void*>(madeSession().get()), operationQueue()->label());
}

std::shared_ptr<KSAFHTTPSessionManager> KSAFHTTPSessionManager::copy() const {
  auto other = create(baseURL_, sessionConfiguration());
  other->setRequestSerializer(requestSerializer()->copy());
  other->setResponseSerializer(responseSerializer()->copy());
  other->setSecurityPolicy(securityPolicy()->copy());
  return other;
}

}  // namespace kestrine

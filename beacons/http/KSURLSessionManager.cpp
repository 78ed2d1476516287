#include "beacons/http/KSURLSessionManager.h"

#include <fmt/format.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include "beacons/http/KSMultipartBodyStream.h"
#include "beacons/http/KSNetworkingNotifications.h"
#include "beacons/http/KSCachePolicy.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/net/URLError.h"

namespace velmora::kestrine {

namespace net = platform::net;

namespace {

platform::NotificationCenter& center() { return platform::NotificationCenter::defaultCenter(); }

// Every task of the process announces its real resumes and suspends as raw notifications,
// with the URL session's task as object; managers pick out their own.
void installTaskStateNotifications() {
  static std::once_flag once;
  std::call_once(once, [] {
    net::URLSessionDataTask::setStateChangeObserver(
        [](const std::shared_ptr<net::URLSessionDataTask>& task, net::URLSessionDataTask::StateChange change) {
          const auto name = change == net::URLSessionDataTask::StateChange::Resumed
                                ? KSNSURLSessionTaskDidResumeNotification
                                : KSNSURLSessionTaskDidSuspendNotification;
          center().post(std::string(name), task);
        });
  });
}

// The configuration of a manager made without one: the platform's defaults with the SDK's
// shared URL cache.
net::URLSessionConfiguration defaultConfiguration() {
  net::URLSessionConfiguration configuration;
  configuration.urlCache = KSCachePolicy::sharedURLCache();
  return configuration;
}

// A response serializer as a user-info value.
struct ResponseSerializerBox : platform::Object {
  explicit ResponseSerializerBox(std::shared_ptr<KSHTTPResponseSerializer> s) : serializer(std::move(s)) {}
  std::shared_ptr<KSHTTPResponseSerializer> serializer;
};

platform::Value errorValue(const platform::Error& error) {
  return platform::Value(std::shared_ptr<platform::Object>(std::make_shared<KSErrorBox>(error)));
}

std::string pathFromFileURL(const std::string& fileURL) {
  constexpr std::string_view kFileScheme = "file://";
  if (fileURL.rfind(kFileScheme, 0) == 0) return fileURL.substr(kFileScheme.size());
  if (fileURL.rfind("file:", 0) == 0) return fileURL.substr(5);
  return fileURL;
}

// A multipart body stream as the URL session reads it.
class MultipartBodySource final : public net::BodyStream {
 public:
  explicit MultipartBodySource(std::shared_ptr<KSInputStream> stream) : stream_(std::move(stream)) {}
  void open() override { stream_->open(); }
  void close() override { stream_->close(); }
  std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) override {
    const std::int64_t n = stream_->read(buffer, maxLength);
    return n == KSInputStream::kPaused ? net::BodyStream::kPaused : n;
  }
  std::optional<platform::Error> streamError() const override { return stream_->streamError(); }
  std::chrono::microseconds resumeDelay() const override { return stream_->resumeDelay(); }
  // A multipart body can be built again from its parts; any other stream is read once.
  std::shared_ptr<net::BodyStream> copy() const override {
    auto multipart = std::dynamic_pointer_cast<KSMultipartBodyStream>(stream_);
    if (!multipart) return nullptr;
    return std::make_shared<MultipartBodySource>(multipart->copy());
  }

 private:
  std::shared_ptr<KSInputStream> stream_;
};

}  // namespace

// --- the task delegate ---------------------------------------------------------------

class KSURLSessionManagerTaskDelegate {
 public:
  using DownloadDestination = std::function<std::optional<std::string>(const std::string& location)>;

  KSURLSessionManagerTaskDelegate()
      : uploadProgress(Progress::create(Progress::kUnknownTotal)),
        downloadProgress(Progress::create(Progress::kUnknownTotal)) {}

  // Progress follows the task's counts; its cancel, pause and resume act on the task.
  void setupProgressForTask(const KSURLSessionManager::TaskPtr& task) {
    task_ = task;
    uploadProgress->setTotalUnitCount(task->countOfBytesExpectedToSend());
    downloadProgress->setTotalUnitCount(task->countOfBytesExpectedToReceive());
    std::weak_ptr<KSURLSessionTask> weak = task;
    for (const auto& progress : {uploadProgress, downloadProgress}) {
      progress->setCancellable(true);
      progress->setPausable(true);
      progress->setCancellationHandler([weak] {
        if (auto t = weak.lock()) t->cancel();
      });
      progress->setPausingHandler([weak] {
        if (auto t = weak.lock()) t->suspend();
      });
      progress->setResumingHandler([weak] {
        if (auto t = weak.lock()) t->resume();
      });
    }
    uploadObserver_ = uploadProgress->addFractionObserver([this](const Progress& p) {
      if (uploadProgressBlock) uploadProgressBlock(p);
    });
    downloadObserver_ = downloadProgress->addFractionObserver([this](const Progress& p) {
      if (downloadProgressBlock) downloadProgressBlock(p);
    });
  }

  // The progress objects may outlive this delegate (a caller holds them): their observers,
  // which call into it, go with it.
  ~KSURLSessionManagerTaskDelegate() { cleanUpProgressForTask(); }

  void cleanUpProgressForTask() {
    if (uploadObserver_) uploadProgress->removeFractionObserver(uploadObserver_);
    if (downloadObserver_) downloadProgress->removeFractionObserver(downloadObserver_);
    uploadObserver_ = downloadObserver_ = 0;
  }

  const KSURLSessionManager::TaskPtr& task() const { return task_; }

  void didReceiveResponse(const net::HTTPURLResponse& response) {
    hasResponse_ = true;
    mutableData_.clear();
    std::int64_t expected = Progress::kUnknownTotal;
    if (auto length = response.headerValue("Content-Length")) {
      try {
        expected = std::stoll(*length);
      } catch (...) {
        expected = Progress::kUnknownTotal;
      }
    }
    received_ = 0;
    downloadProgress->setTotalUnitCount(expected);
  }

  void didReceiveData(const std::string& data) {
    mutableData_ += data;
    received_ += static_cast<std::int64_t>(data.size());
    downloadProgress->setCompletedUnitCount(received_);
  }

  void didWriteData(std::int64_t totalWritten, std::int64_t totalExpected) {
    if (totalExpected >= 0) downloadProgress->setTotalUnitCount(totalExpected);
    downloadProgress->setCompletedUnitCount(totalWritten);
  }

  void didSendBodyData(std::int64_t totalSent, std::int64_t totalExpected) {
    uploadProgress->setTotalUnitCount(totalExpected);
    uploadProgress->setCompletedUnitCount(totalSent);
  }

  // Moves the finished download where its destination says; a failed move is told by
  // notification only, and the completion still gets the destination.
  void didFinishDownloading(const std::string& location) {
    downloadFileURL.reset();
    if (!downloadTaskDidFinishDownloading) return;
    auto destination = downloadTaskDidFinishDownloading(location);
    if (!destination) return;
    moveDownload(location, *destination);
  }

  void moveDownload(const std::string& location, const std::string& destination) {
    downloadFileURL = destination;
    const std::filesystem::path target = pathFromFileURL(destination);
    std::error_code ec;
    std::filesystem::rename(location, target, ec);
    if (ec == std::errc::cross_device_link) {
      // The temporary folder is on another file system: copy, so the download is not lost
      // when its temporary file is removed.
      ec.clear();
      std::filesystem::copy_file(location, target, std::filesystem::copy_options::overwrite_existing, ec);
    }
    if (ec) {
      platform::Dict info{{std::string(platform::kDebugDescriptionKey), platform::Value(ec.message())},
                          {std::string(platform::kFailingURLKey), platform::Value(destination)}};
      center().post(std::string(KSURLSessionDownloadTaskDidFailToMoveFileNotification),
                    std::static_pointer_cast<KSNetworkTask>(task_), std::move(info));
    }
  }

  // The task's one completion: serialize (unless it failed), then the completion handler on
  // the completion queue inside the completion group, then the notification.
  void didComplete(const std::shared_ptr<KSURLSessionManager>& manager, const std::optional<platform::Error>& error) {
    auto serializer = manager->responseSerializer();
    platform::Dict userInfo;
    userInfo.emplace(std::string(KSNetworkingTaskDidCompleteResponseSerializerKey),
                     platform::Value(std::shared_ptr<platform::Object>(std::make_shared<ResponseSerializerBox>(serializer))));
    std::optional<std::string> data;
    if (hasResponse_) data = std::move(mutableData_);
    mutableData_ = std::string();
    if (downloadFileURL) {
      userInfo.emplace(std::string(KSNetworkingTaskDidCompleteAssetPathKey), platform::Value(*downloadFileURL));
    } else if (data) {
      userInfo.emplace(std::string(KSNetworkingTaskDidCompleteResponseDataKey),
                       platform::Value(platform::Bytes(data->begin(), data->end())));
    }
    auto task = task_;
    auto response = task->response();
    auto queue = manager->effectiveCompletionQueue();
    auto group = manager->effectiveCompletionGroup();
    auto main = manager->scheduler_->mainQueue();
    auto handler = completionHandler;
    auto downloadHandler = downloadCompletionHandler;
    auto fileURL = downloadFileURL;

    auto deliver = [task, response, handler, downloadHandler, fileURL, queue, group, main](
                       platform::Value object, std::optional<platform::Error> failure, platform::Dict info) {
      group->async(queue, [=, info = std::move(info)]() mutable {
        if (handler) handler(response, object, failure);
        if (downloadHandler) downloadHandler(response, fileURL, failure);
        main->async([task, info = std::move(info)]() mutable {
          center().post(std::string(KSNetworkingTaskDidCompleteNotification), std::static_pointer_cast<KSNetworkTask>(task),
                        std::move(info));
        });
      });
    };

    if (error) {
      userInfo.emplace(std::string(KSNetworkingTaskDidCompleteErrorKey), errorValue(*error));
      deliver(platform::Value(), error, std::move(userInfo));
      return;
    }
    manager->processingQueue_->async([serializer, response, data = std::move(data), fileURL, deliver,
                                      userInfo = std::move(userInfo)]() mutable {
      std::optional<platform::Error> serializationError;
      platform::Value object =
          serializer->responseObjectForResponse(response ? &*response : nullptr, data, &serializationError);
      if (fileURL) object = platform::Value(*fileURL);
      if (!object.isAbsent()) userInfo.emplace(std::string(KSNetworkingTaskDidCompleteSerializedResponseKey), object);
      if (serializationError) {
        userInfo.emplace(std::string(KSNetworkingTaskDidCompleteErrorKey), errorValue(*serializationError));
      }
      deliver(std::move(object), std::move(serializationError), std::move(userInfo));
    });
  }

  std::shared_ptr<Progress> uploadProgress;
  std::shared_ptr<Progress> downloadProgress;
  std::optional<std::string> downloadFileURL;
  DownloadDestination downloadTaskDidFinishDownloading;
  KSURLSessionManager::ProgressBlock uploadProgressBlock;
  KSURLSessionManager::ProgressBlock downloadProgressBlock;
  KSURLSessionManager::CompletionHandler completionHandler;
  KSURLSessionManager::DownloadCompletionHandler downloadCompletionHandler;

 private:
  KSURLSessionManager::TaskPtr task_;
  // Touched on the delegate queue only.
  std::string mutableData_;
  bool hasResponse_ = false;
  std::int64_t received_ = 0;
  std::uint64_t uploadObserver_ = 0;
  std::uint64_t downloadObserver_ = 0;
};

// --- the manager -----------------------------------------------------------------------

struct KSURLSessionManager::Blocks {
  SessionDidBecomeInvalidBlock sessionDidBecomeInvalid;
  SessionDidReceiveAuthenticationChallengeBlock sessionDidReceiveAuthenticationChallenge;
  TaskWillPerformHTTPRedirectionBlock taskWillPerformHTTPRedirection;
  TaskDidSendBodyDataBlock taskDidSendBodyData;
  TaskDidCompleteBlock taskDidComplete;
  DataTaskDidReceiveResponseBlock dataTaskDidReceiveResponse;
  DataTaskDidReceiveDataBlock dataTaskDidReceiveData;
  DataTaskWillCacheResponseBlock dataTaskWillCacheResponse;
  DownloadTaskDidFinishDownloadingBlock downloadTaskDidFinishDownloading;
  DownloadTaskDidWriteDataBlock downloadTaskDidWriteData;
};

std::shared_ptr<KSURLSessionManager> KSURLSessionManager::create(
    std::optional<net::URLSessionConfiguration> configuration) {
  return std::shared_ptr<KSURLSessionManager>(new KSURLSessionManager(std::move(configuration)));
}

KSURLSessionManager::KSURLSessionManager(std::optional<net::URLSessionConfiguration> configuration)
    : KSURLSessionManager(std::move(configuration), nullptr) {}

KSURLSessionManager::KSURLSessionManager(std::optional<net::URLSessionConfiguration> configuration,
                                             std::shared_ptr<platform::dispatch::Scheduler> scheduler)
    : sessionConfiguration_(configuration ? std::move(*configuration) : defaultConfiguration()),
      scheduler_(scheduler ? std::move(scheduler) : platform::dispatch::Scheduler::shared()),
      blocks_(std::make_unique<Blocks>()) {
  installTaskStateNotifications();
  operationQueue_ = scheduler_->makeSerialQueue(std::string(KSURLSessionManagerDelegateQueueLabel));
  processingQueue_ = scheduler_->makeConcurrentQueue(std::string(KSURLSessionManagerProcessingQueueLabel));
  defaultGroup_ = scheduler_->makeGroup();
  taskDescription_ = fmt::format("{}", static_cast<const void*>(this));
  responseSerializer_ = KSJSONResponseSerializer::serializer();
  securityPolicy_ = KSSecurityPolicy::defaultPolicy();
  reachabilityManager_ = KSNetworkReachabilityManager::sharedManager();
  // The trust evaluator runs on the session's I/O thread; the session is invalidated (and
  // its thread joined) before this manager's members go.
  sessionConfiguration_.serverTrustEvaluator = [this](const net::ServerTrust& trust, const std::string& host) {
    return evaluateServerTrust(trust, host);
  };
  for (const auto& [name, resumed] : {std::pair{KSNSURLSessionTaskDidResumeNotification, true},
                                     std::pair{KSNSURLSessionTaskDidSuspendNotification, false}}) {
    // Other managers' tasks are told apart by their description before this manager is
    // touched: one of its own tasks changing state keeps it alive (a started task holds it).
    observers_.push_back(center().addObserver(
        std::string(name), nullptr, nullptr,
        [this, resumed = resumed, description = taskDescription_](const platform::Notification& n) {
          if (!n.object) return;
          auto task = std::static_pointer_cast<net::URLSessionDataTask>(n.object);
          if (task->taskDescription() != description) return;
          taskStateChanged(task, resumed);
        }));
  }
}

KSURLSessionManager::~KSURLSessionManager() {
  for (const auto& token : observers_) center().removeObserver(token);
  if (auto s = madeSession()) s->invalidateAndCancel();
}

std::shared_ptr<net::URLSession> KSURLSessionManager::session() const {
  std::call_once(sessionOnce_, [this] {
    auto self = std::const_pointer_cast<KSURLSessionManager>(shared_from_this());
    auto made = net::URLSession::create(sessionConfiguration_, self, operationQueue_);
    std::lock_guard lock(settingsMutex_);
    session_ = std::move(made);
  });
  return madeSession();
}

std::shared_ptr<net::URLSession> KSURLSessionManager::madeSession() const {
  std::lock_guard lock(settingsMutex_);
  return session_;
}

std::shared_ptr<KSHTTPResponseSerializer> KSURLSessionManager::responseSerializer() const {
  std::lock_guard lock(settingsMutex_);
  return responseSerializer_;
}

void KSURLSessionManager::setResponseSerializer(std::shared_ptr<KSHTTPResponseSerializer> serializer) {
  if (!platform::precondition(serializer != nullptr, "responseSerializer")) return;
  std::lock_guard lock(settingsMutex_);
  responseSerializer_ = std::move(serializer);
}

std::shared_ptr<KSSecurityPolicy> KSURLSessionManager::securityPolicy() const {
  std::lock_guard lock(settingsMutex_);
  return securityPolicy_;
}

void KSURLSessionManager::setSecurityPolicy(std::shared_ptr<KSSecurityPolicy> policy) {
  std::lock_guard lock(settingsMutex_);
  securityPolicy_ = policy ? std::move(policy) : KSSecurityPolicy::defaultPolicy();
}

std::shared_ptr<KSNetworkReachabilityManager> KSURLSessionManager::reachabilityManager() const {
  std::lock_guard lock(settingsMutex_);
  return reachabilityManager_;
}

void KSURLSessionManager::setReachabilityManager(std::shared_ptr<KSNetworkReachabilityManager> manager) {
  std::lock_guard lock(settingsMutex_);
  reachabilityManager_ = std::move(manager);
}

std::shared_ptr<platform::dispatch::Queue> KSURLSessionManager::completionQueue() const {
  std::lock_guard lock(settingsMutex_);
  return completionQueue_;
}

void KSURLSessionManager::setCompletionQueue(std::shared_ptr<platform::dispatch::Queue> queue) {
  std::lock_guard lock(settingsMutex_);
  completionQueue_ = std::move(queue);
}

std::shared_ptr<platform::dispatch::Group> KSURLSessionManager::completionGroup() const {
  std::lock_guard lock(settingsMutex_);
  return completionGroup_;
}

void KSURLSessionManager::setCompletionGroup(std::shared_ptr<platform::dispatch::Group> group) {
  std::lock_guard lock(settingsMutex_);
  completionGroup_ = std::move(group);
}

std::shared_ptr<platform::dispatch::Queue> KSURLSessionManager::effectiveCompletionQueue() const {
  auto queue = completionQueue();
  return queue ? queue : scheduler_->mainQueue();
}

std::shared_ptr<platform::dispatch::Group> KSURLSessionManager::effectiveCompletionGroup() const {
  auto group = completionGroup();
  return group ? group : defaultGroup_;
}

#define KS_BLOCK_SETTER(Name, field)                    \
  void KSURLSessionManager::set##Name(Name block) {    \
    std::lock_guard lock(settingsMutex_);                \
    blocks_->field = std::move(block);                   \
  }
KS_BLOCK_SETTER(SessionDidBecomeInvalidBlock, sessionDidBecomeInvalid)
KS_BLOCK_SETTER(SessionDidReceiveAuthenticationChallengeBlock, sessionDidReceiveAuthenticationChallenge)
KS_BLOCK_SETTER(TaskWillPerformHTTPRedirectionBlock, taskWillPerformHTTPRedirection)
KS_BLOCK_SETTER(TaskDidSendBodyDataBlock, taskDidSendBodyData)
KS_BLOCK_SETTER(TaskDidCompleteBlock, taskDidComplete)
KS_BLOCK_SETTER(DataTaskDidReceiveResponseBlock, dataTaskDidReceiveResponse)
KS_BLOCK_SETTER(DataTaskDidReceiveDataBlock, dataTaskDidReceiveData)
KS_BLOCK_SETTER(DataTaskWillCacheResponseBlock, dataTaskWillCacheResponse)
KS_BLOCK_SETTER(DownloadTaskDidFinishDownloadingBlock, downloadTaskDidFinishDownloading)
KS_BLOCK_SETTER(DownloadTaskDidWriteDataBlock, downloadTaskDidWriteData)
#undef KS_BLOCK_SETTER

KSURLSessionManager::Blocks KSURLSessionManager::blocks() const {
  std::lock_guard lock(settingsMutex_);
  return *blocks_;
}

std::string KSURLSessionManager::description() const {
  return fmt::format("<KSURLSessionManager: {}, session: {}, operationQueue: {}>", static_cast<const void*>(this),
                     static_cast<const void*>(madeSession().get()), operationQueue_->label());
}

// --- tasks -------------------------------------------------------------------------------

KSURLSessionManager::TaskPtr KSURLSessionManager::wrap(const std::shared_ptr<net::URLSessionDataTask>& task,
                                                           const KSURLRequest& request) {
  task->setTaskDescription(taskDescription_);
  return std::make_shared<KSURLSessionTask>(task, request);
}

void KSURLSessionManager::setDelegate(const std::shared_ptr<KSURLSessionManagerTaskDelegate>& delegate,
                                        const TaskPtr& task) {
  if (!platform::precondition(task != nullptr, "task")) return;
  if (!platform::precondition(delegate != nullptr, "delegate")) return;
  std::lock_guard lock(lock_);
  mutableTaskDelegatesKeyedByTaskIdentifier_[task->taskIdentifier()] = delegate;
  delegate->setupProgressForTask(task);
}

std::shared_ptr<KSURLSessionManagerTaskDelegate> KSURLSessionManager::delegateForTask(std::uint64_t identifier) const {
  std::lock_guard lock(lock_);
  auto it = mutableTaskDelegatesKeyedByTaskIdentifier_.find(identifier);
  return it == mutableTaskDelegatesKeyedByTaskIdentifier_.end() ? nullptr : it->second;
}

void KSURLSessionManager::removeDelegateForTask(std::uint64_t identifier) {
  std::shared_ptr<KSURLSessionManagerTaskDelegate> removed;
  {
    std::lock_guard lock(lock_);
    auto it = mutableTaskDelegatesKeyedByTaskIdentifier_.find(identifier);
    if (it == mutableTaskDelegatesKeyedByTaskIdentifier_.end()) return;
    removed = std::move(it->second);
    mutableTaskDelegatesKeyedByTaskIdentifier_.erase(it);
    removed->cleanUpProgressForTask();
  }
}

KSURLSessionManager::TaskPtr KSURLSessionManager::dataTaskWithRequest(const KSURLRequest& request,
                                                                          CompletionHandler completionHandler) {
  return dataTaskWithRequest(request, nullptr, nullptr, std::move(completionHandler));
}

KSURLSessionManager::TaskPtr KSURLSessionManager::dataTaskWithRequest(const KSURLRequest& request,
                                                                          ProgressBlock uploadProgress,
                                                                          ProgressBlock downloadProgress,
                                                                          CompletionHandler completionHandler) {
  auto task = wrap(session()->dataTask(request.urlRequest), request);
  auto delegate = std::make_shared<KSURLSessionManagerTaskDelegate>();
  delegate->completionHandler = std::move(completionHandler);
  delegate->uploadProgressBlock = std::move(uploadProgress);
  delegate->downloadProgressBlock = std::move(downloadProgress);
  setDelegate(delegate, task);
  return task;
}

KSURLSessionManager::TaskPtr KSURLSessionManager::uploadTaskWithRequest(const KSURLRequest& request,
                                                                            const std::string& fileURL,
                                                                            ProgressBlock uploadProgress,
                                                                            CompletionHandler completionHandler) {
  auto task = wrap(session()->uploadTask(request.urlRequest, std::filesystem::path(pathFromFileURL(fileURL))), request);
  auto delegate = std::make_shared<KSURLSessionManagerTaskDelegate>();
  delegate->completionHandler = std::move(completionHandler);
  delegate->uploadProgressBlock = std::move(uploadProgress);
  setDelegate(delegate, task);
  return task;
}

KSURLSessionManager::TaskPtr KSURLSessionManager::uploadTaskWithRequestFromData(const KSURLRequest& request,
                                                                                    std::string bodyData,
                                                                                    ProgressBlock uploadProgress,
                                                                                    CompletionHandler completionHandler) {
  auto task = wrap(session()->uploadTask(request.urlRequest, std::move(bodyData)), request);
  auto delegate = std::make_shared<KSURLSessionManagerTaskDelegate>();
  delegate->completionHandler = std::move(completionHandler);
  delegate->uploadProgressBlock = std::move(uploadProgress);
  setDelegate(delegate, task);
  return task;
}

KSURLSessionManager::TaskPtr KSURLSessionManager::uploadTaskWithStreamedRequest(const KSURLRequest& request,
                                                                                    ProgressBlock uploadProgress,
                                                                                    CompletionHandler completionHandler) {
  net::URLSession::UploadBody body = request.urlRequest.body;
  if (request.HTTPBodyStream) body = std::shared_ptr<net::BodyStream>(std::make_shared<MultipartBodySource>(request.HTTPBodyStream));
  auto task = wrap(session()->uploadTask(request.urlRequest, std::move(body)), request);
  auto delegate = std::make_shared<KSURLSessionManagerTaskDelegate>();
  delegate->completionHandler = std::move(completionHandler);
  delegate->uploadProgressBlock = std::move(uploadProgress);
  setDelegate(delegate, task);
  return task;
}

KSURLSessionManager::TaskPtr KSURLSessionManager::downloadTaskWithRequest(const KSURLRequest& request,
                                                                              ProgressBlock downloadProgress,
                                                                              DestinationBlock destination,
                                                                              DownloadCompletionHandler completionHandler) {
  auto task = wrap(session()->downloadTask(request.urlRequest), request);
  auto delegate = std::make_shared<KSURLSessionManagerTaskDelegate>();
  delegate->downloadCompletionHandler = std::move(completionHandler);
  delegate->downloadProgressBlock = std::move(downloadProgress);
  if (destination) {
    std::weak_ptr<KSURLSessionTask> weak = task;
    delegate->downloadTaskDidFinishDownloading = [destination = std::move(destination),
                                                  weak](const std::string& location) -> std::optional<std::string> {
      auto t = weak.lock();
      return destination(location, t ? t->response() : std::nullopt);
    };
  }
  setDelegate(delegate, task);
  return task;
}

std::shared_ptr<Progress> KSURLSessionManager::uploadProgressForTask(const TaskPtr& task) const {
  if (!task) return nullptr;
  auto delegate = delegateForTask(task->taskIdentifier());
  return delegate && delegate->task() == task ? delegate->uploadProgress : nullptr;
}

std::shared_ptr<Progress> KSURLSessionManager::downloadProgressForTask(const TaskPtr& task) const {
  if (!task) return nullptr;
  auto delegate = delegateForTask(task->taskIdentifier());
  return delegate && delegate->task() == task ? delegate->downloadProgress : nullptr;
}

std::vector<KSURLSessionManager::TaskPtr> KSURLSessionManager::tasksOfKind(
    std::optional<KSURLSessionTask::Kind> kind) const {
  std::vector<TaskPtr> out;
  auto session = madeSession();
  if (!session) return out;
  for (const auto& task : session->tasks()) {
    if (kind && task->kind() != *kind) continue;
    if (auto delegate = delegateForTask(task->taskIdentifier())) out.push_back(delegate->task());
  }
  return out;
}

std::vector<KSURLSessionManager::TaskPtr> KSURLSessionManager::tasks() const { return tasksOfKind(std::nullopt); }
std::vector<KSURLSessionManager::TaskPtr> KSURLSessionManager::dataTasks() const {
  return tasksOfKind(KSURLSessionTask::Kind::Data);
}
std::vector<KSURLSessionManager::TaskPtr> KSURLSessionManager::uploadTasks() const {
  return tasksOfKind(KSURLSessionTask::Kind::Upload);
}
std::vector<KSURLSessionManager::TaskPtr> KSURLSessionManager::downloadTasks() const {
  return tasksOfKind(KSURLSessionTask::Kind::Download);
}

void KSURLSessionManager::invalidateSessionCancelingTasks(bool cancelPendingTasks) {
  auto session = this->session();
  scheduler_->mainQueue()->async([session, cancelPendingTasks] {
    if (cancelPendingTasks) {
      session->invalidateAndCancel();
    } else {
      session->finishTasksAndInvalidate();
    }
  });
}

void KSURLSessionManager::taskStateChanged(const std::shared_ptr<net::URLSessionDataTask>& task, bool resumed) {
  auto delegate = delegateForTask(task->taskIdentifier());
  if (!delegate || delegate->task()->sessionTask() != task) return;
  auto object = std::static_pointer_cast<KSNetworkTask>(delegate->task());
  const auto name = resumed ? KSNetworkingTaskDidResumeNotification : KSNetworkingTaskDidSuspendNotification;
  scheduler_->mainQueue()->async([object, name] { center().post(std::string(name), object); });
}

bool KSURLSessionManager::evaluateServerTrust(const net::ServerTrust& trust, const std::string& host) const {
  auto override = blocks().sessionDidReceiveAuthenticationChallenge;
  KSURLSessionAuthChallengeDisposition disposition;
  if (override) {
    disposition = override(KSServerTrustChallenge{trust, host});
  } else {
    disposition = securityPolicy()->evaluateServerTrust(trust, host) ? KSURLSessionAuthChallengeUseCredential
                                                                     : KSURLSessionAuthChallengeRejectProtectionSpace;
  }
  switch (disposition) {
    case KSURLSessionAuthChallengeUseCredential: return true;
    case KSURLSessionAuthChallengePerformDefaultHandling: {
      net::ServerTrust check = trust;
      check.policyHost = host;
      const auto result = check.evaluate();
      return result == net::TrustResult::Unspecified || result == net::TrustResult::Proceed;
    }
    default: return false;
  }
}

// --- session delegate calls --------------------------------------------------------------

net::URLSessionResponseDisposition KSURLSessionManager::didReceiveResponse(net::URLSessionDataTask& task,
                                                                             const net::HTTPURLResponse& response) {
  auto delegate = delegateForTask(task.taskIdentifier());
  if (delegate) delegate->didReceiveResponse(response);
  if (auto block = blocks().dataTaskDidReceiveResponse; block && delegate) return block(delegate->task(), response);
  return net::URLSessionResponseDisposition::Allow;
}

void KSURLSessionManager::didReceiveData(net::URLSessionDataTask& task, const std::string& data) {
  auto delegate = delegateForTask(task.taskIdentifier());
  if (!delegate) return;
  delegate->didReceiveData(data);
  if (auto block = blocks().dataTaskDidReceiveData) block(delegate->task(), data);
}

void KSURLSessionManager::didSendBodyData(net::URLSessionDataTask& task, std::int64_t bytesSent,
                                            std::int64_t totalSent, std::int64_t totalExpected) {
  auto delegate = delegateForTask(task.taskIdentifier());
  if (!delegate) return;
  if (totalExpected == Progress::kUnknownTotal) {
    if (auto length = delegate->task()->originalRequest()->valueForHTTPHeaderField("Content-Length")) {
      try {
        totalExpected = std::stoll(*length);
      } catch (...) {
      }
    }
  }
  delegate->didSendBodyData(totalSent, totalExpected);
  if (auto block = blocks().taskDidSendBodyData) block(delegate->task(), bytesSent, totalSent, totalExpected);
}

void KSURLSessionManager::didWriteData(net::URLSessionDataTask& task, std::int64_t bytesWritten,
                                         std::int64_t totalWritten, std::int64_t totalExpected) {
  auto delegate = delegateForTask(task.taskIdentifier());
  if (!delegate) return;
  delegate->didWriteData(totalWritten, totalExpected);
  if (auto block = blocks().downloadTaskDidWriteData) block(delegate->task(), bytesWritten, totalWritten, totalExpected);
}

void KSURLSessionManager::didFinishDownloadingToURL(net::URLSessionDataTask& task, const std::string& location) {
  auto delegate = delegateForTask(task.taskIdentifier());
  if (!delegate) return;
  if (auto block = blocks().downloadTaskDidFinishDownloading) {
    if (auto destination = block(delegate->task(), location)) {
      delegate->moveDownload(location, *destination);
      return;
    }
  }
  delegate->didFinishDownloading(location);
}

std::optional<net::URLRequest> KSURLSessionManager::willPerformHTTPRedirection(net::URLSessionDataTask& task,
                                                                                const net::HTTPURLResponse& response,
                                                                                net::URLRequest newRequest) {
  auto block = blocks().taskWillPerformHTTPRedirection;
  auto delegate = delegateForTask(task.taskIdentifier());
  if (block && delegate) return block(delegate->task(), response, newRequest);
  return newRequest;
}

// Without the override the proposed request is followed, so every redirect is answered here.
bool KSURLSessionManager::handlesRedirection() const { return true; }

std::optional<net::CachedURLResponse> KSURLSessionManager::willCacheResponse(net::URLSessionDataTask& task,
                                                                              net::CachedURLResponse proposed) {
  auto block = blocks().dataTaskWillCacheResponse;
  auto delegate = delegateForTask(task.taskIdentifier());
  if (block && delegate) return block(delegate->task(), proposed);
  return proposed;
}

void KSURLSessionManager::didCompleteWithError(net::URLSessionDataTask& task, const std::optional<platform::Error>& error) {
  auto delegate = delegateForTask(task.taskIdentifier());
  if (delegate) {
    delegate->didComplete(shared_from_this(), error);
    removeDelegateForTask(task.taskIdentifier());
  }
  if (auto block = blocks().taskDidComplete; block && delegate) block(delegate->task(), error);
}

void KSURLSessionManager::didBecomeInvalidWithError(const std::optional<platform::Error>& error) {
  if (auto block = blocks().sessionDidBecomeInvalid) block(error);
  center().post(std::string(KSURLSessionDidInvalidateNotification), madeSession());
}

}  // namespace velmora::kestrine

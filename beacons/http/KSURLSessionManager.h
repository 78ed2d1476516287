#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/http/KSHTTPResponseSerializer.h"
#include "beacons/http/KSNetworkReachabilityManager.h"
#include "beacons/http/KSSecurityPolicy.h"
#include "beacons/http/KSURLRequest.h"
#include "beacons/http/KSURLSessionTask.h"
#include "beacons/http/Progress.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/dispatch/Group.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/net/URLSession.h"
#include "platform/net/URLSessionConfiguration.h"
#include "platform/net/URLSessionDelegate.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::kestrine {

class KSURLSessionManagerTaskDelegate;

inline constexpr std::string_view KSURLSessionManagerLockName = "com.kestrine.networking.session.manager.lock";
inline constexpr std::string_view KSURLSessionManagerProcessingQueueLabel =
    "com.kestrine.networking.session.manager.processing";
inline constexpr std::string_view KSURLSessionManagerDelegateQueueLabel =
    "com.kestrine.networking.session.manager.delegate";
// The raw task events every task of the process announces; the managers turn those of their
// own tasks into KSNetworkingTaskDidResumeNotification and ...DidSuspendNotification.
inline constexpr std::string_view KSNSURLSessionTaskDidResumeNotification =
    "com.kestrine.networking.nsurlsessiontask.resume";
inline constexpr std::string_view KSNSURLSessionTaskDidSuspendNotification =
    "com.kestrine.networking.nsurlsessiontask.suspend";

// Answers to an authentication challenge, with the platform's numbers.
enum KSURLSessionAuthChallengeDisposition : int {
  KSURLSessionAuthChallengeUseCredential = 0,
  KSURLSessionAuthChallengePerformDefaultHandling = 1,
  KSURLSessionAuthChallengeCancelAuthenticationChallenge = 2,
  KSURLSessionAuthChallengeRejectProtectionSpace = 3,
};

// A server-trust challenge: what the server presented for the host of the request.
struct KSServerTrustChallenge {
  platform::net::ServerTrust serverTrust;
  std::string host;
};

// Owns one URL session, is its delegate, and turns each task's events into one completion:
// the response, the object the response serializer made of the body, and the error. Each
// task has a task delegate holding its completion and progress. Task resumes, suspends and
// completions are posted as notifications (KSNetworkingNotifications.h) on the main
// queue; completions run on the completion queue (main queue when unset) inside the
// completion group (the manager's own group when unset). Serialization runs on a concurrent
// processing queue. Session events arrive one at a time on the serial delegate queue.
//
// Made by create() (or a subclass's), never on the stack: the session reports back through
// a weak reference. While a task runs, the session keeps its manager alive, so every
// completion runs exactly once even when the caller let go of the manager. All members may
// be called from any thread.
class KSURLSessionManager : public platform::net::URLSessionDelegate,
                              public std::enable_shared_from_this<KSURLSessionManager> {
 public:
  using TaskPtr = std::shared_ptr<KSURLSessionTask>;
  using CompletionHandler = std::function<void(const std::optional<platform::net::HTTPURLResponse>& response,
                                               const platform::Value& responseObject,
                                               const std::optional<platform::Error>& error)>;
  using ProgressBlock = std::function<void(const Progress& progress)>;
  // Where a finished download goes: gets the temporary file's path and the response, gives
  // the final path (nullopt leaves the file where it is, to be removed).
  using DestinationBlock = std::function<std::optional<std::string>(
      const std::string& temporaryPath, const std::optional<platform::net::HTTPURLResponse>& response)>;
  using DownloadCompletionHandler = std::function<void(const std::optional<platform::net::HTTPURLResponse>& response,
                                                       const std::optional<std::string>& filePath,
                                                       const std::optional<platform::Error>& error)>;

  // --- overrides of the session decisions ---
  using SessionDidBecomeInvalidBlock = std::function<void(const std::optional<platform::Error>& error)>;
  // Runs on the session's I/O thread during the TLS handshake: must not block.
  using SessionDidReceiveAuthenticationChallengeBlock =
      std::function<KSURLSessionAuthChallengeDisposition(const KSServerTrustChallenge& challenge)>;
  // Decides on a redirect: the request to follow it with, or nullopt for the redirect reply
  // as the answer. Without it the proposed request is followed (see URLSessionDelegate for
  // its limits: 10 in a row, never from https to http, credentials kept to their host; a
  // multipart body stream is sent again from its copy on 307 and 308).
  using TaskWillPerformHTTPRedirectionBlock = std::function<std::optional<platform::net::URLRequest>(
      const TaskPtr& task, const platform::net::HTTPURLResponse& response, const platform::net::URLRequest& newRequest)>;
  using TaskDidSendBodyDataBlock = std::function<void(const TaskPtr& task, std::int64_t bytesSent,
                                                      std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend)>;
  using TaskDidCompleteBlock = std::function<void(const TaskPtr& task, const std::optional<platform::Error>& error)>;
  using DataTaskDidReceiveResponseBlock = std::function<platform::net::URLSessionResponseDisposition(
      const TaskPtr& task, const platform::net::HTTPURLResponse& response)>;
  using DataTaskDidReceiveDataBlock = std::function<void(const TaskPtr& task, const std::string& data)>;
  using DataTaskWillCacheResponseBlock = std::function<std::optional<platform::net::CachedURLResponse>(
      const TaskPtr& task, const platform::net::CachedURLResponse& proposed)>;
  using DownloadTaskDidFinishDownloadingBlock =
      std::function<std::optional<std::string>(const TaskPtr& task, const std::string& location)>;
  using DownloadTaskDidWriteDataBlock = std::function<void(const TaskPtr& task, std::int64_t bytesWritten,
                                                           std::int64_t totalBytesWritten,
                                                           std::int64_t totalBytesExpectedToWrite)>;

  // A manager with the configuration given; when nullopt, the default configuration with the
  // SDK's shared URL cache (KSCachePolicy). The server-trust evaluator of the configuration is
  // replaced by the manager's security policy.
  static std::shared_ptr<KSURLSessionManager> create(
      std::optional<platform::net::URLSessionConfiguration> configuration = std::nullopt);
  ~KSURLSessionManager() override;
  KSURLSessionManager(const KSURLSessionManager&) = delete;
  KSURLSessionManager& operator=(const KSURLSessionManager&) = delete;

  // Made on first use.
  std::shared_ptr<platform::net::URLSession> session() const;
  const std::shared_ptr<platform::dispatch::Queue>& operationQueue() const { return operationQueue_; }
  const platform::net::URLSessionConfiguration& sessionConfiguration() const { return sessionConfiguration_; }

  std::shared_ptr<KSHTTPResponseSerializer> responseSerializer() const;
  // A null serializer is refused ("Invalid parameter not satisfying: responseSerializer").
  virtual void setResponseSerializer(std::shared_ptr<KSHTTPResponseSerializer> serializer);
  std::shared_ptr<KSSecurityPolicy> securityPolicy() const;
  void setSecurityPolicy(std::shared_ptr<KSSecurityPolicy> policy);
  std::shared_ptr<KSNetworkReachabilityManager> reachabilityManager() const;
  void setReachabilityManager(std::shared_ptr<KSNetworkReachabilityManager> manager);
  std::shared_ptr<platform::dispatch::Queue> completionQueue() const;
  void setCompletionQueue(std::shared_ptr<platform::dispatch::Queue> queue);
  std::shared_ptr<platform::dispatch::Group> completionGroup() const;
  void setCompletionGroup(std::shared_ptr<platform::dispatch::Group> group);
  // The group completions join when no completion group is set.
  const std::shared_ptr<platform::dispatch::Group>& defaultCompletionGroup() const { return defaultGroup_; }

  // The manager's address as "%p" text, written into the description of every task it makes.
  const std::string& taskDescriptionForSessionTasks() const { return taskDescription_; }

  // Tasks of the session that have not completed: snapshots under the session's lock, so
  // they can be asked for anywhere, on the delegate queue too.
  std::vector<TaskPtr> tasks() const;
  std::vector<TaskPtr> dataTasks() const;
  std::vector<TaskPtr> uploadTasks() const;
  std::vector<TaskPtr> downloadTasks() const;

  // Asynchronously on the main queue: cancels the tasks in flight (true) or lets them finish
  // (false), then invalidates the session. Later tasks complete with a cancellation.
  void invalidateSessionCancelingTasks(bool cancelPendingTasks);

  // --- task factories: the task comes back registered and NOT resumed ---
  TaskPtr dataTaskWithRequest(const KSURLRequest& request, CompletionHandler completionHandler);
  // The factory every verb of the HTTP session manager goes through; a subclass may override
  // it to change what all of them report.
  virtual TaskPtr dataTaskWithRequest(const KSURLRequest& request, ProgressBlock uploadProgress,
                                      ProgressBlock downloadProgress, CompletionHandler completionHandler);
  // fileURL: a path or a "file:" URL.
  TaskPtr uploadTaskWithRequest(const KSURLRequest& request, const std::string& fileURL, ProgressBlock uploadProgress,
                                CompletionHandler completionHandler);
  TaskPtr uploadTaskWithRequestFromData(const KSURLRequest& request, std::string bodyData,
                                        ProgressBlock uploadProgress, CompletionHandler completionHandler);
  // The body is the request's body stream (a multipart request's), else its body bytes.
  TaskPtr uploadTaskWithStreamedRequest(const KSURLRequest& request, ProgressBlock uploadProgress,
                                        CompletionHandler completionHandler);
  TaskPtr downloadTaskWithRequest(const KSURLRequest& request, ProgressBlock downloadProgress,
                                  DestinationBlock destination, DownloadCompletionHandler completionHandler);

  // The progress objects of a task the manager holds; nullptr for any other.
  std::shared_ptr<Progress> uploadProgressForTask(const TaskPtr& task) const;
  std::shared_ptr<Progress> downloadProgressForTask(const TaskPtr& task) const;

  void setSessionDidBecomeInvalidBlock(SessionDidBecomeInvalidBlock block);
  void setSessionDidReceiveAuthenticationChallengeBlock(SessionDidReceiveAuthenticationChallengeBlock block);
  void setTaskWillPerformHTTPRedirectionBlock(TaskWillPerformHTTPRedirectionBlock block);
  void setTaskDidSendBodyDataBlock(TaskDidSendBodyDataBlock block);
  void setTaskDidCompleteBlock(TaskDidCompleteBlock block);
  void setDataTaskDidReceiveResponseBlock(DataTaskDidReceiveResponseBlock block);
  void setDataTaskDidReceiveDataBlock(DataTaskDidReceiveDataBlock block);
  void setDataTaskWillCacheResponseBlock(DataTaskWillCacheResponseBlock block);
  void setDownloadTaskDidFinishDownloadingBlock(DownloadTaskDidFinishDownloadingBlock block);
  void setDownloadTaskDidWriteDataBlock(DownloadTaskDidWriteDataBlock block);

  // "<KSURLSessionManager: 0x..., session: ..., operationQueue: ...>"
  virtual std::string description() const;

  // --- the session's delegate calls (on the delegate queue) ---
  platform::net::URLSessionResponseDisposition didReceiveResponse(platform::net::URLSessionDataTask& task,
                                                                  const platform::net::HTTPURLResponse& response) override;
  void didReceiveData(platform::net::URLSessionDataTask& task, const std::string& data) override;
  void didSendBodyData(platform::net::URLSessionDataTask& task, std::int64_t bytesSent, std::int64_t totalSent,
                       std::int64_t totalExpected) override;
  void didWriteData(platform::net::URLSessionDataTask& task, std::int64_t bytesWritten, std::int64_t totalWritten,
                    std::int64_t totalExpected) override;
  void didFinishDownloadingToURL(platform::net::URLSessionDataTask& task, const std::string& location) override;
  std::optional<platform::net::URLRequest> willPerformHTTPRedirection(platform::net::URLSessionDataTask& task,
                                                                      const platform::net::HTTPURLResponse& response,
                                                                      platform::net::URLRequest newRequest) override;
  bool handlesRedirection() const override;
  std::optional<platform::net::CachedURLResponse> willCacheResponse(platform::net::URLSessionDataTask& task,
                                                                    platform::net::CachedURLResponse proposed) override;
  void didCompleteWithError(platform::net::URLSessionDataTask& task, const std::optional<platform::Error>& error) override;
  void didBecomeInvalidWithError(const std::optional<platform::Error>& error) override;

 protected:
  explicit KSURLSessionManager(std::optional<platform::net::URLSessionConfiguration> configuration);
  // The same on the given scheduler's queues (the shared scheduler when null).
  KSURLSessionManager(std::optional<platform::net::URLSessionConfiguration> configuration,
                        std::shared_ptr<platform::dispatch::Scheduler> scheduler);

  // The scheduler whose queues the manager uses.
  const std::shared_ptr<platform::dispatch::Scheduler>& managerScheduler() const { return scheduler_; }

  // The completion queue and group a completion is to use now.
  std::shared_ptr<platform::dispatch::Queue> effectiveCompletionQueue() const;
  std::shared_ptr<platform::dispatch::Group> effectiveCompletionGroup() const;
  // The session if it was made already; null before.
  std::shared_ptr<platform::net::URLSession> madeSession() const;

 private:
  friend class KSURLSessionManagerTaskDelegate;
  struct Blocks;

  TaskPtr wrap(const std::shared_ptr<platform::net::URLSessionDataTask>& task, const KSURLRequest& request);
  void setDelegate(const std::shared_ptr<KSURLSessionManagerTaskDelegate>& delegate, const TaskPtr& task);
  std::shared_ptr<KSURLSessionManagerTaskDelegate> delegateForTask(std::uint64_t identifier) const;
  void removeDelegateForTask(std::uint64_t identifier);
  void taskStateChanged(const std::shared_ptr<platform::net::URLSessionDataTask>& task, bool resumed);
  std::vector<TaskPtr> tasksOfKind(std::optional<KSURLSessionTask::Kind> kind) const;
  bool evaluateServerTrust(const platform::net::ServerTrust& trust, const std::string& host) const;
  Blocks blocks() const;

  platform::net::URLSessionConfiguration sessionConfiguration_;
  std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  std::shared_ptr<platform::dispatch::Queue> operationQueue_;
  std::shared_ptr<platform::dispatch::Queue> processingQueue_;
  std::shared_ptr<platform::dispatch::Group> defaultGroup_;
  std::string taskDescription_;

  mutable std::once_flag sessionOnce_;

  mutable std::mutex settingsMutex_;
  mutable std::shared_ptr<platform::net::URLSession> session_;
  std::shared_ptr<KSHTTPResponseSerializer> responseSerializer_;
  std::shared_ptr<KSSecurityPolicy> securityPolicy_;
  std::shared_ptr<KSNetworkReachabilityManager> reachabilityManager_;
  std::shared_ptr<platform::dispatch::Queue> completionQueue_;
  std::shared_ptr<platform::dispatch::Group> completionGroup_;
  std::unique_ptr<Blocks> blocks_;

  // Guards the task delegates, keyed by task identifier.
  mutable std::mutex lock_;
  std::map<std::uint64_t, std::shared_ptr<KSURLSessionManagerTaskDelegate>> mutableTaskDelegatesKeyedByTaskIdentifier_;
  std::vector<platform::NotificationCenter::ObserverToken> observers_;
};

}  // namespace velmora::kestrine

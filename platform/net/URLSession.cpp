#include "platform/net/URLSession.h"

#include <curl/curl.h>
#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/dispatch/Scheduler.h"
#include "platform/net/URLError.h"

namespace platform::net {

// ---- errors and responses ----

Error makeURLError(URLErrorCode code, std::string_view failingURL, std::string_view detail) {
  std::string text;
  switch (code) {
    case kURLErrorCancelled: text = "cancelled"; break;
    case kURLErrorBadURL: text = "unsupported URL"; break;
    case kURLErrorTimedOut: text = "The request timed out."; break;
    case kURLErrorUnsupportedURL: text = "unsupported URL"; break;
    case kURLErrorCannotFindHost: text = "A server with the specified hostname could not be found."; break;
    case kURLErrorCannotConnectToHost: text = "Could not connect to the server."; break;
    case kURLErrorNetworkConnectionLost: text = "The network connection was lost."; break;
    case kURLErrorNotConnectedToInternet: text = "The Internet connection appears to be offline."; break;
    case kURLErrorBadServerResponse: text = "The server returned a bad response."; break;
    case kURLErrorSecureConnectionFailed:
      text = "An SSL error has occurred and a secure connection to the server cannot be made.";
      break;
    case kURLErrorServerCertificateUntrusted:
      text = "The certificate for this server is invalid. You might be connecting to a server that is pretending "
             "to be the one you want, which could put your confidential information at risk.";
      break;
    default: text = "An unknown error occurred."; break;
  }
  Dict info;
  info.emplace(std::string(kFailingURLKey), Value(failingURL));
  if (!detail.empty()) info.emplace(std::string(kDebugDescriptionKey), Value(detail));
  return Error(std::string(kURLErrorDomain), code, std::move(text), std::move(info));
}

std::optional<std::string> HTTPURLResponse::headerValue(std::string_view name) const {
  for (const auto& [k, v] : headers) {
    if (k.size() == name.size() &&
        std::equal(k.begin(), k.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        })) {
      return v;
    }
  }
  return std::nullopt;
}

namespace {

void curlGlobalInit() {
  static const bool once = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
  (void)once;
}

URLErrorCode codeForCurl(CURLcode rc) {
  switch (rc) {
    case CURLE_OPERATION_TIMEDOUT: return kURLErrorTimedOut;
    case CURLE_COULDNT_CONNECT: return kURLErrorCannotConnectToHost;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return kURLErrorCannotFindHost;
    case CURLE_URL_MALFORMAT: return kURLErrorBadURL;
    case CURLE_UNSUPPORTED_PROTOCOL: return kURLErrorUnsupportedURL;
    case CURLE_PEER_FAILED_VERIFICATION: return kURLErrorServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_ENGINE_INITFAILED: return kURLErrorSecureConnectionFailed;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM: return kURLErrorNetworkConnectionLost;
    default: return kURLErrorUnknown;
  }
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return std::string(s);
}

}  // namespace

// ---- the task's shared state ----

struct URLSessionDataTask::Shared {
  std::mutex mutex;
  State state = State::Suspended;
  Completion completion;
  std::shared_ptr<dispatch::Queue> queue;
  std::shared_ptr<void> externalWork;  // keeps a virtual scheduler waiting for our post

  // Touched by the I/O thread only.
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  std::string requestBody;
  std::string responseBody;
  std::vector<std::pair<std::string, std::string>> responseHeaders;

  // Delivers the outcome once; later calls do nothing. Returns whether it delivered.
  bool finish(std::optional<std::string> data, std::optional<HTTPURLResponse> response, std::optional<Error> error) {
    Completion done;
    std::shared_ptr<dispatch::Queue> q;
    std::shared_ptr<void> token;
    {
      std::lock_guard lock(mutex);
      if (state == State::Completed) return false;
      state = State::Completed;
      done = std::move(completion);
      q = std::move(queue);
      token = std::move(externalWork);
    }
    auto deliver = [done = std::move(done), data = std::move(data), response = std::move(response),
                    error = std::move(error)]() mutable {
      if (done) done(std::move(data), std::move(response), std::move(error));
    };
    if (q) {
      q->async(std::move(deliver));
    } else {
      deliver();
    }
    return true;  // the token goes only after the post is made
  }
};

// ---- the engine: one libcurl multi handle on one I/O thread ----

class URLSessionEngine : public std::enable_shared_from_this<URLSessionEngine> {
 public:
  static constexpr long kMaxConnectionsPerHost = 6;
  using Shared = URLSessionDataTask::Shared;

  explicit URLSessionEngine(URLSessionConfiguration configuration) : configuration_(std::move(configuration)) {
    curlGlobalInit();
    multi_ = curl_multi_init();
    // Like a browser, keep a few connections per host and queue the rest, rather than
    // opening one socket per request when many are made at once.
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, kMaxConnectionsPerHost);
    thread_ = std::thread([this] { run(); });
  }

  ~URLSessionEngine() { shutdown(); }

  void shutdown() {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      stopping_ = true;
    }
    curl_multi_wakeup(multi_);
    if (thread_.joinable()) thread_.join();
    curl_multi_cleanup(multi_);
    multi_ = nullptr;
  }

  void start(const std::shared_ptr<Shared>& task, const URLRequest& request) {
    if (auto error = validate(request)) {
      task->finish(std::nullopt, std::nullopt, std::move(error));
      return;
    }
    CURL* easy = curl_easy_init();
    if (!easy) {
      task->finish(std::nullopt, std::nullopt, makeURLError(kURLErrorUnknown, request.url, "cannot make a transfer"));
      return;
    }
    configure(easy, *task, request);
    {
      std::lock_guard lock(mutex_);
      if (!stopping_) {
        pendingAdds_.push_back(task);
        task->easy = easy;
        easy = nullptr;
      }
    }
    if (easy) {
      cleanupTransfer(*task, easy);
      task->finish(std::nullopt, std::nullopt, makeURLError(kURLErrorCancelled, request.url));
      return;
    }
    curl_multi_wakeup(multi_);
  }

  void cancel(const std::shared_ptr<Shared>& task) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;  // shutdown cancels everything anyway
      pendingCancels_.push_back(task);
    }
    curl_multi_wakeup(multi_);
  }

 private:
  static std::optional<Error> validate(const URLRequest& request) {
    for (const auto& [name, value] : request.headers) {
      if (name.empty() || hasLineBreak(name) || hasLineBreak(value) || name.find(':') != std::string::npos) {
        return makeURLError(kURLErrorBadURL, request.url, fmt::format("refused header \"{}\"", name));
      }
    }
    if (hasLineBreak(request.method) || request.method.empty()) {
      return makeURLError(kURLErrorBadURL, request.url, "refused method");
    }
    CURLU* url = curl_url();
    const CURLUcode rc = curl_url_set(url, CURLUPART_URL, request.url.c_str(), 0);
    std::optional<Error> error;
    if (rc != CURLUE_OK) {
      error = makeURLError(kURLErrorBadURL, request.url, curl_url_strerror(rc));
    } else {
      char* scheme = nullptr;
      curl_url_get(url, CURLUPART_SCHEME, &scheme, 0);
      const std::string s = scheme ? scheme : "";
      curl_free(scheme);
      if (!iequals(s, "http") && !iequals(s, "https")) {
        error = makeURLError(kURLErrorUnsupportedURL, request.url, fmt::format("scheme \"{}\" is not http or https", s));
      }
    }
    curl_url_cleanup(url);
    return error;
  }

  static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* task = static_cast<Shared*>(user);
    task->responseBody.append(data, size * count);
    return size * count;
  }

  static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* task = static_cast<Shared*>(user);
    const std::string_view line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
      task->responseHeaders.clear();  // a new status line (after an interim reply) starts afresh
    } else if (auto colon = line.find(':'); colon != std::string_view::npos) {
      task->responseHeaders.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    return size * count;
  }

  void configure(CURL* easy, Shared& task, const URLRequest& request) {
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &task);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!configuration_.caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, configuration_.caFile.c_str());
    const double timeout = request.timeoutSeconds > 0 && std::isfinite(request.timeoutSeconds) ? request.timeoutSeconds : 60;
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(std::ceil(timeout * 1000)));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &URLSessionEngine::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &task);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &URLSessionEngine::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &task);

    task.requestBody = request.body;
    const bool hasBody = request.method != "GET" && request.method != "HEAD";
    if (request.method == "GET") {
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (request.method == "HEAD") {
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
      if (request.method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
      curl_easy_setopt(easy, CURLOPT_POST, 1L);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(task.requestBody.size()));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, task.requestBody.data());
    }

    bool hasContentType = false, hasAccept = false;
    for (const auto& [name, value] : request.headers) {
      hasContentType = hasContentType || iequals(name, "Content-Type");
      hasAccept = hasAccept || iequals(name, "Accept");
      // libcurl sends "Name;" as a header with an empty value; "Name:" would remove it.
      const std::string line = value.empty() ? name + ";" : name + ": " + value;
      task.headerList = curl_slist_append(task.headerList, line.c_str());
    }
    // Suppress what libcurl would add on its own: "Expect: 100-continue", a form content
    // type on bodies, and "Accept: */*".
    task.headerList = curl_slist_append(task.headerList, "Expect:");
    if (hasBody && !hasContentType) task.headerList = curl_slist_append(task.headerList, "Content-Type:");
    if (!hasAccept) task.headerList = curl_slist_append(task.headerList, "Accept:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, task.headerList);
  }

  static void cleanupTransfer(Shared& task, CURL* easy) {
    curl_easy_cleanup(easy);
    curl_slist_free_all(task.headerList);
    task.headerList = nullptr;
    task.easy = nullptr;
  }

  void complete(const std::shared_ptr<Shared>& task, CURLcode rc) {
    CURL* easy = task->easy;
    const char* effective = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
    const std::string url = effective ? effective : "";
    if (rc != CURLE_OK) {
      const URLErrorCode code = codeForCurl(rc);
      cleanupTransfer(*task, easy);
      task->finish(std::nullopt, std::nullopt, makeURLError(code, url, curl_easy_strerror(rc)));
      return;
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    HTTPURLResponse response;
    response.statusCode = static_cast<int>(status);
    response.url = url;
    response.headers = std::move(task->responseHeaders);
    std::string body = std::move(task->responseBody);
    cleanupTransfer(*task, easy);
    task->finish(std::move(body), std::move(response), std::nullopt);
  }

  void cancelRunning(const std::shared_ptr<Shared>& task) {
    auto it = running_.find(task->easy);
    if (it == running_.end()) return;
    running_.erase(it);
    curl_multi_remove_handle(multi_, task->easy);
    const char* effective = nullptr;
    curl_easy_getinfo(task->easy, CURLINFO_EFFECTIVE_URL, &effective);
    const std::string url = effective ? effective : "";
    cleanupTransfer(*task, task->easy);
    task->finish(std::nullopt, std::nullopt, makeURLError(kURLErrorCancelled, url));
  }

  void run() {
    for (;;) {
      std::deque<std::shared_ptr<Shared>> adds, cancels;
      bool stop = false;
      {
        std::lock_guard lock(mutex_);
        adds.swap(pendingAdds_);
        cancels.swap(pendingCancels_);
        stop = stopping_;
      }
      for (auto& task : adds) {
        running_.emplace(task->easy, task);
        curl_multi_add_handle(multi_, task->easy);
      }
      for (auto& task : cancels) cancelRunning(task);
      if (stop) {
        while (!running_.empty()) {
          auto task = running_.begin()->second;
          cancelRunning(task);
        }
        return;
      }
      int active = 0;
      curl_multi_perform(multi_, &active);
      int left = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
        if (msg->msg != CURLMSG_DONE) continue;
        auto it = running_.find(msg->easy_handle);
        if (it == running_.end()) continue;
        auto task = it->second;
        running_.erase(it);
        curl_multi_remove_handle(multi_, msg->easy_handle);
        complete(task, msg->data.result);
      }
      int events = 0;
      curl_multi_poll(multi_, nullptr, 0, 1000, &events);
    }
  }

  URLSessionConfiguration configuration_;
  CURLM* multi_ = nullptr;
  std::thread thread_;
  std::mutex mutex_;
  bool stopping_ = false;
  std::deque<std::shared_ptr<Shared>> pendingAdds_;
  std::deque<std::shared_ptr<Shared>> pendingCancels_;
  std::unordered_map<CURL*, std::shared_ptr<Shared>> running_;  // I/O thread only
};

// ---- task ----

URLSessionDataTask::URLSessionDataTask(std::weak_ptr<URLSessionEngine> engine, URLRequest request,
                                       Completion completion)
    : engine_(std::move(engine)), request_(std::move(request)), shared_(std::make_shared<Shared>()) {
  shared_->completion = std::move(completion);
}

void URLSessionDataTask::resume() {
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->state != State::Suspended) return;
    shared_->state = State::Running;
    shared_->externalWork = dispatch::Scheduler::shared()->beginExternalWork();
  }
  if (auto engine = engine_.lock()) {
    engine->start(shared_, request_);
  } else {
    shared_->finish(std::nullopt, std::nullopt, makeURLError(kURLErrorCancelled, request_.url, "session invalidated"));
  }
}

void URLSessionDataTask::cancel() {
  bool suspended = false;
  {
    std::lock_guard lock(shared_->mutex);
    suspended = shared_->state == State::Suspended;
  }
  if (suspended) {
    shared_->finish(std::nullopt, std::nullopt, makeURLError(kURLErrorCancelled, request_.url));
    return;
  }
  if (auto engine = engine_.lock()) engine->cancel(shared_);
}

URLSessionDataTask::State URLSessionDataTask::state() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->state;
}

// ---- session ----

URLSession::URLSession(URLSessionConfiguration configuration)
    : configuration_(std::move(configuration)), engine_(std::make_shared<URLSessionEngine>(configuration_)) {}

URLSession::~URLSession() { engine_->shutdown(); }

std::shared_ptr<URLSession> URLSession::shared() {
  // Made on first use and never destroyed: requests may still complete while the process exits.
  static auto* session = new std::shared_ptr<URLSession>(create());
  return *session;
}

std::shared_ptr<URLSession> URLSession::create(URLSessionConfiguration configuration) {
  return std::shared_ptr<URLSession>(new URLSession(std::move(configuration)));
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTask(URLRequest request, URLSessionDataTask::Completion completion) {
  auto task = std::make_shared<URLSessionDataTask>(engine_, std::move(request), std::move(completion));
  task->shared_->queue =
      configuration_.callbackQueue ? configuration_.callbackQueue : dispatch::Scheduler::shared()->globalQueue();
  return task;
}

void URLSession::invalidateAndCancel() { engine_->shutdown(); }

}  // namespace platform::net

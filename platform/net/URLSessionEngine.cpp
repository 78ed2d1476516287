#include "platform/net/URLSessionEngine.h"

#include <curl/curl.h>
#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/core/AsciiText.h"
#include "platform/net/URLError.h"
#include "platform/net/URLSessionTaskCore.h"

namespace platform::net {

namespace {

// The longest time limit handed to libcurl, in milliseconds (about 24 days): beyond it the
// value would not fit the option on every platform.
constexpr double kMaxTimeoutMillis = 2'147'483'647.0;
// How long the I/O thread sleeps at most when libcurl has no timer of its own running.
constexpr int kIdlePollMillis = 1000;

void curlGlobalInit() {
  static const bool once = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
  (void)once;
}

URLErrorCode codeForCurl(CURLcode rc, long osErrno) {
  switch (rc) {
    case CURLE_OPERATION_TIMEDOUT: return kURLErrorTimedOut;
    case CURLE_COULDNT_CONNECT:
      return osErrno == ENETUNREACH || osErrno == ENETDOWN ? kURLErrorNotConnectedToInternet
                                                           : kURLErrorCannotConnectToHost;
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
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_USE_SSL_FAILED: return kURLErrorSecureConnectionFailed;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM: return kURLErrorNetworkConnectionLost;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_TOO_MANY_REDIRECTS: return kURLErrorBadServerResponse;
    case CURLE_ABORTED_BY_CALLBACK: return kURLErrorCancelled;
    default: return kURLErrorUnknown;
  }
}

// A header name or method: one or more token characters, nothing that could end a line or
// change how libcurl reads the header (':' or ';').
bool isToken(std::string_view s) {
  constexpr std::string_view kSymbols = "!#$%&'*+-.^_`|~";
  return !s.empty() && std::all_of(s.begin(), s.end(), [&](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           kSymbols.find(c) != std::string_view::npos;
  });
}

// A header value must stay on its line: no CR, LF or NUL.
bool isSafeValue(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

std::string trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return std::string(s);
}

Error refusedRequest(const URLRequest& request, std::string_view what) {
  Error error = makeURLError(kURLErrorBadURL, request.url, what);
  error.localizedDescription = "The request cannot be sent: " + std::string(what) + ".";
  return error;
}

// One request on its way: the libcurl handles and the buffers they point into. Made on the
// thread that resumes the task; once handed to the I/O thread, touched by that thread only.
// It is never moved: libcurl holds pointers to it and into its strings.
struct Transfer {
  std::shared_ptr<URLSessionTaskCore> task;
  std::string url;
  CURLU* parsedURL = nullptr;
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  std::string requestBody;
  std::string responseBody;
  std::vector<std::pair<std::string, std::string>> responseHeaders;

  Transfer() = default;
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  ~Transfer() {
    if (easy) curl_easy_cleanup(easy);
    curl_slist_free_all(headerList);
    curl_url_cleanup(parsedURL);
  }

  std::string effectiveURL() const {
    const char* effective = nullptr;
    if (easy && curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
      return effective;
    }
    return url;
  }

  static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<Transfer*>(user)->responseBody.append(data, size * count);
    return size * count;
  }

  static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::string_view line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
      transfer->responseHeaders.clear();  // a new status line (after an interim reply) starts afresh
    } else if (auto colon = line.find(':'); colon != std::string_view::npos) {
      transfer->responseHeaders.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    return size * count;
  }
};

}  // namespace

struct URLSessionEngine::Loop {
  static constexpr long kMaxConnectionsPerHost = 6;

  URLSessionConfiguration configuration;
  CURLM* multi = nullptr;
  std::thread thread;

  std::mutex shutdownMutex;  // held for a whole shutdown, so a second caller waits for the first
  bool shutDown = false;

  std::mutex mutex;  // guards what follows; curl_multi_wakeup is called under it
  bool stopping = false;
  std::vector<std::unique_ptr<Transfer>> inbox;
  std::vector<std::shared_ptr<URLSessionTaskCore>> cancels;

  // The I/O thread's own.
  std::unordered_map<CURL*, std::unique_ptr<Transfer>> running;
  std::unordered_map<const URLSessionTaskCore*, CURL*> runningByTask;

  explicit Loop(URLSessionConfiguration c) : configuration(std::move(c)) {
    curlGlobalInit();
    multi = curl_multi_init();
    // Like a browser, keep a few connections per host and queue the rest, rather than
    // opening one socket per request when many are made at once.
    curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, kMaxConnectionsPerHost);
    thread = std::thread([this] { run(); });
  }

  // Checks the request and builds its transfer, or says why it cannot be sent.
  std::unique_ptr<Transfer> prepare(const std::shared_ptr<URLSessionTaskCore>& task, const URLRequest& request,
                                    std::optional<Error>& error) const {
    if (!isToken(request.method)) {
      error = refusedRequest(request, fmt::format("the method \"{}\" is not a valid token", request.method));
      return nullptr;
    }
    for (const auto& [name, value] : request.headers) {
      if (!isToken(name)) {
        error = refusedRequest(request, "a header name holds a character that is not allowed there");
        return nullptr;
      }
      if (!isSafeValue(value)) {
        error = refusedRequest(request, fmt::format("the value of header \"{}\" holds a line break", name));
        return nullptr;
      }
    }

    auto transfer = std::make_unique<Transfer>();
    transfer->task = task;
    transfer->url = request.url;
    transfer->parsedURL = curl_url();
    if (!transfer->parsedURL) {
      error = makeURLError(kURLErrorUnknown, request.url, "out of memory");
      return nullptr;
    }
    if (const CURLUcode rc = curl_url_set(transfer->parsedURL, CURLUPART_URL, request.url.c_str(), 0); rc != CURLUE_OK) {
      error = makeURLError(kURLErrorBadURL, request.url, curl_url_strerror(rc));
      return nullptr;
    }
    char* scheme = nullptr;
    curl_url_get(transfer->parsedURL, CURLUPART_SCHEME, &scheme, 0);
    const std::string schemeText = scheme ? scheme : "";
    curl_free(scheme);
    if (!equalsIgnoringAsciiCase(schemeText, "http") && !equalsIgnoringAsciiCase(schemeText, "https")) {
      error = makeURLError(kURLErrorUnsupportedURL, request.url,
                           fmt::format("the scheme \"{}\" is not http or https", schemeText));
      return nullptr;
    }

    transfer->easy = curl_easy_init();
    if (!transfer->easy) {
      error = makeURLError(kURLErrorUnknown, request.url, "out of memory");
      return nullptr;
    }
    configure(*transfer, request);
    return transfer;
  }

  double timeoutMillis(const URLRequest& request) const {
    const auto usable = [](double s) { return s > 0 && std::isfinite(s); };
    const double seconds = usable(request.timeoutSeconds)              ? request.timeoutSeconds
                           : usable(configuration.defaultTimeoutSeconds) ? configuration.defaultTimeoutSeconds
                                                                         : 60.0;
    return std::clamp(std::ceil(seconds * 1000.0), 1.0, kMaxTimeoutMillis);
  }

  void configure(Transfer& transfer, const URLRequest& request) const {
    CURL* easy = transfer.easy;
    curl_easy_setopt(easy, CURLOPT_CURLU, transfer.parsedURL);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!configuration.caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, configuration.caFile.c_str());
    if (!configuration.caPath.empty()) curl_easy_setopt(easy, CURLOPT_CAPATH, configuration.caPath.c_str());
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMillis(request)));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);

    const bool sendsBody = request.method != "GET" && request.method != "HEAD";
    if (request.method == "GET") {
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (request.method == "HEAD") {
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
      transfer.requestBody = request.body;
      curl_easy_setopt(easy, CURLOPT_POST, 1L);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(transfer.requestBody.size()));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, transfer.requestBody.data());
      if (request.method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    bool hasContentType = false;
    bool hasAccept = false;
    for (const auto& [name, value] : request.headers) {
      hasContentType = hasContentType || equalsIgnoringAsciiCase(name, "Content-Type");
      hasAccept = hasAccept || equalsIgnoringAsciiCase(name, "Accept");
      // libcurl sends "Name;" as a header with an empty value; "Name:" would remove it.
      const std::string line = value.empty() ? name + ";" : name + ": " + value;
      transfer.headerList = curl_slist_append(transfer.headerList, line.c_str());
    }
    // Suppress what libcurl would add on its own: "Expect: 100-continue", a form content
    // type on bodies, and "Accept: */*". The request goes out with the caller's headers only
    // (plus Host and Content-Length).
    transfer.headerList = curl_slist_append(transfer.headerList, "Expect:");
    if (sendsBody && !hasContentType) transfer.headerList = curl_slist_append(transfer.headerList, "Content-Type:");
    if (!hasAccept) transfer.headerList = curl_slist_append(transfer.headerList, "Accept:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headerList);
  }

  // Takes a transfer out of the multi handle; the caller finishes its task.
  std::unique_ptr<Transfer> detach(CURL* easy) {
    auto it = running.find(easy);
    if (it == running.end()) return nullptr;
    std::unique_ptr<Transfer> transfer = std::move(it->second);
    running.erase(it);
    runningByTask.erase(transfer->task.get());
    curl_multi_remove_handle(multi, easy);
    return transfer;
  }

  void cancelRunning(CURL* easy) {
    auto transfer = detach(easy);
    if (!transfer) return;
    const std::string url = transfer->effectiveURL();
    auto task = std::move(transfer->task);
    transfer.reset();  // the connection is gone before the completion can run
    task->finish(std::nullopt, std::nullopt, makeURLError(kURLErrorCancelled, url));
  }

  void completed(CURL* easy, CURLcode rc) {
    auto transfer = detach(easy);
    if (!transfer) return;
    const std::string url = transfer->effectiveURL();
    auto task = std::move(transfer->task);
    if (rc != CURLE_OK) {
      long osErrno = 0;
      curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
      transfer.reset();
      task->finish(std::nullopt, std::nullopt, makeURLError(codeForCurl(rc, osErrno), url, curl_easy_strerror(rc)));
      return;
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    HTTPURLResponse response;
    response.statusCode = static_cast<int>(status);
    response.url = url;
    response.headers = std::move(transfer->responseHeaders);
    std::string body = std::move(transfer->responseBody);
    transfer.reset();
    task->finish(std::move(body), std::move(response), std::nullopt);
  }

  void admit(std::unique_ptr<Transfer> transfer) {
    // A cancel that came before the transfer reached this thread is honoured here; one that
    // comes later finds it in runningByTask.
    if (transfer->task->cancelRequested()) {
      auto task = std::move(transfer->task);
      const std::string url = transfer->url;
      transfer.reset();
      task->finish(std::nullopt, std::nullopt, makeURLError(kURLErrorCancelled, url));
      return;
    }
    CURL* easy = transfer->easy;
    if (const CURLMcode rc = curl_multi_add_handle(multi, easy); rc != CURLM_OK) {
      auto task = std::move(transfer->task);
      const std::string url = transfer->url;
      transfer.reset();
      task->finish(std::nullopt, std::nullopt, makeURLError(kURLErrorUnknown, url, curl_multi_strerror(rc)));
      return;
    }
    runningByTask.emplace(transfer->task.get(), easy);
    running.emplace(easy, std::move(transfer));
  }

  void run() {
    for (;;) {
      std::vector<std::unique_ptr<Transfer>> adds;
      std::vector<std::shared_ptr<URLSessionTaskCore>> cancelled;
      bool stop = false;
      {
        std::lock_guard lock(mutex);
        adds.swap(inbox);
        cancelled.swap(cancels);
        stop = stopping;
      }
      for (auto& transfer : adds) admit(std::move(transfer));
      for (const auto& task : cancelled) {
        if (auto it = runningByTask.find(task.get()); it != runningByTask.end()) cancelRunning(it->second);
      }
      if (stop) {
        while (!running.empty()) cancelRunning(running.begin()->first);
        return;
      }

      int active = 0;
      curl_multi_perform(multi, &active);
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE) completed(message->easy_handle, message->data.result);
      }
      // Returns early for socket activity, libcurl's own timers, or curl_multi_wakeup.
      int events = 0;
      curl_multi_poll(multi, nullptr, 0, kIdlePollMillis, &events);
    }
  }
};

URLSessionEngine::URLSessionEngine(URLSessionConfiguration configuration)
    : loop_(std::make_unique<Loop>(std::move(configuration))) {}

URLSessionEngine::~URLSessionEngine() { shutdown(); }

void URLSessionEngine::start(const std::shared_ptr<URLSessionTaskCore>& task, const URLRequest& request) {
  std::optional<Error> error;
  auto transfer = loop_->prepare(task, request, error);
  if (!transfer) {
    task->finish(std::nullopt, std::nullopt, std::move(error));
    return;
  }
  {
    std::lock_guard lock(loop_->mutex);
    if (!loop_->stopping) {
      loop_->inbox.push_back(std::move(transfer));
      curl_multi_wakeup(loop_->multi);
      return;
    }
  }
  transfer.reset();
  task->finish(std::nullopt, std::nullopt, makeURLError(kURLErrorCancelled, request.url, "the session was invalidated"));
}

void URLSessionEngine::cancel(const std::shared_ptr<URLSessionTaskCore>& task) {
  std::lock_guard lock(loop_->mutex);
  if (loop_->stopping) return;  // shutdown cancels everything anyway
  loop_->cancels.push_back(task);
  curl_multi_wakeup(loop_->multi);
}

void URLSessionEngine::shutdown() {
  std::lock_guard shutdownLock(loop_->shutdownMutex);
  if (loop_->shutDown) return;
  {
    std::lock_guard lock(loop_->mutex);
    loop_->stopping = true;
    curl_multi_wakeup(loop_->multi);
  }
  if (loop_->thread.joinable()) loop_->thread.join();
  curl_multi_cleanup(loop_->multi);
  loop_->multi = nullptr;
  loop_->shutDown = true;
}

}  // namespace platform::net

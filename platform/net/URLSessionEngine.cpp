#include "platform/net/URLSessionEngine.h"

#include <curl/curl.h>
#include <fmt/format.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/core/AsciiText.h"
#include "platform/crypto/OpenSslLifetime.h"
#include "platform/net/URLCache.h"
#include "platform/net/URLError.h"
#include "platform/net/URLSessionTaskCore.h"

namespace velmora::platform::net {

namespace {

// The longest time limit handed to libcurl, in milliseconds (about 24 days): beyond it the
// value would not fit the option on every platform.
constexpr double kMaxTimeoutMillis = 2'147'483'647.0;
// How long a driver sleeps at most when neither libcurl nor an idle deadline wakes it sooner.
constexpr int kIdlePollMillis = 1000;
// Multi handles kept for later synchronous exchanges, each with its kept-alive connections.
constexpr std::size_t kMaxIdleDrivers = 16;

using SteadyClock = std::chrono::steady_clock;

void curlGlobalInit() {
  static const bool once = [] {
    // libcurl starts OpenSSL: start it first, so that it keeps its tables until the process is gone.
    crypto::keepOpenSslUntilExit();
    return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  }();
  (void)once;
}

// The global set-up runs once at load, on the thread that starts the process, as libcurl asks.
// Made lazily by the first session, it would run on whichever worker made it, and OpenSSL's
// per-thread error state set up there during its own start is never freed when that thread ends.
[[maybe_unused]] const bool curlReadyAtLoad = (curlGlobalInit(), true);

URLErrorCode codeForCurl(CURLcode rc, long osErrno) {
  switch (rc) {
    // The scheme was checked before anything was sent and redirects are not followed, so
    // libcurl says this only of a reply that is no HTTP (a garbage status line).
    case CURLE_UNSUPPORTED_PROTOCOL: return kURLErrorBadServerResponse;
    // A receive error with no error of the socket behind it is libcurl refusing what it
    // read (malformed chunked framing, say), not a connection that went away.
    case CURLE_RECV_ERROR: return osErrno == 0 ? kURLErrorBadServerResponse : kURLErrorNetworkConnectionLost;
    case CURLE_FILESIZE_EXCEEDED: return kURLErrorDataLengthExceedsMaximum;
    case CURLE_OPERATION_TIMEDOUT: return kURLErrorTimedOut;
    case CURLE_COULDNT_CONNECT:
      return osErrno == ENETUNREACH || osErrno == ENETDOWN ? kURLErrorNotConnectedToInternet
                                                           : kURLErrorCannotConnectToHost;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return kURLErrorCannotFindHost;
    case CURLE_URL_MALFORMAT: return kURLErrorBadURL;
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

// A Content-Length header's value, when it holds a plain count.
std::optional<curl_off_t> declaredLength(const URLRequest& request) {
  for (const auto& [name, value] : request.headers) {
    if (!equalsIgnoringAsciiCase(name, "Content-Length")) continue;
    const std::string text = trim(value);
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    try {
      return static_cast<curl_off_t>(std::stoll(text));
    } catch (...) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

// One request on its way: the libcurl handles and the buffers they point into. Made on the
// thread that starts the exchange; once added to a driver, touched by that driver's thread
// only. It is never moved: libcurl holds pointers to it and into its strings.
struct Transfer {
  std::shared_ptr<URLSessionTaskCore> task;  // null for a synchronous exchange
  std::string url;
  CURLU* parsedURL = nullptr;
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  std::string requestBody;
  std::string responseBody;
  std::vector<std::pair<std::string, std::string>> responseHeaders;
  char errorText[CURL_ERROR_SIZE] = {};

  // The idle time-out: the transfer fails once no byte moved, either way, for this long.
  SteadyClock::duration idleTimeout{};
  SteadyClock::time_point lastActivity{};
  curl_off_t bytesSent = 0;
  curl_off_t bytesReceived = 0;
  std::size_t maxBodyBytes = 0;
  bool bodyTooLarge = false;

  // Set when the session has a trust evaluator; read on the I/O thread during the handshake.
  const URLSessionConfiguration* trustConfiguration = nullptr;
  bool trustRefused = false;
  // Set when the reply may go to the session's cache: the request it answers.
  std::shared_ptr<URLCache> cache;
  std::optional<URLRequest> cacheableRequest;

  // The request as given, for a redirect built from it.
  URLRequest request;
  // A body read while it is sent (file or stream uploads), and its length (-1: chunked).
  std::shared_ptr<BodyStream> bodyStream;
  curl_off_t uploadLength = -1;
  bool bodyFailed = false;
  std::optional<Error> bodyError;
  // Held by the task's suspend(); a held transfer does not time out.
  bool userPaused = false;
  // The body stream asked for a pause; the transfer's sending goes on at sendResumeAt.
  bool sendThrottled = false;
  SteadyClock::time_point sendResumeAt{};
  // A download's body goes to this file instead of memory.
  bool download = false;
  std::FILE* downloadFile = nullptr;
  std::string downloadPath;
  bool downloadFailed = false;
  curl_off_t downloadWritten = 0;
  // The reply's head was seen (events of a delegate task go out from then on), or is a
  // redirect the delegate decides on, whose events are held back.
  bool headSeen = false;
  bool delegateRedirects = false;
  bool holdEvents = false;
  bool sendsBody = false;

  Transfer() = default;
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  ~Transfer() {
    if (easy) curl_easy_cleanup(easy);
    if (bodyStream) bodyStream->close();
    if (downloadFile) std::fclose(downloadFile);
    if (!downloadPath.empty()) {
      std::error_code ec;
      std::filesystem::remove(downloadPath, ec);
    }
    curl_slist_free_all(headerList);
    curl_url_cleanup(parsedURL);
  }

  void touch() { lastActivity = SteadyClock::now(); }

  // OpenSSL's certificate check for this transfer's connection: hands the certificates the
  // server sent and the request's host to the session's evaluator, and stops the handshake
  // on a refusal. What was sent is only the material a chain is built from; the evaluator
  // builds the chain and judges that (see ServerTrust).
  static int onVerify(X509_STORE_CTX* ctx, void* arg) {
    auto* transfer = static_cast<Transfer*>(arg);
    ServerTrust trust;
    const auto addDer = [&trust](X509* cert) {
      unsigned char* out = nullptr;
      const int length = i2d_X509(cert, &out);
      if (length > 0 && out) trust.chain.emplace_back(out, out + length);
      OPENSSL_free(out);
    };
    X509* leaf = X509_STORE_CTX_get0_cert(ctx);
    if (leaf) addDer(leaf);
    if (STACK_OF(X509)* sent = X509_STORE_CTX_get0_untrusted(ctx)) {
      for (int i = 0; i < sk_X509_num(sent); ++i) {
        X509* cert = sk_X509_value(sent, i);
        if (cert != leaf && X509_cmp(cert, leaf) != 0) addDer(cert);
      }
    }
    trust.caFile = transfer->trustConfiguration->caFile;
    trust.caPath = transfer->trustConfiguration->caPath;
    std::string host;
    char* part = nullptr;
    if (curl_url_get(transfer->parsedURL, CURLUPART_HOST, &part, 0) == CURLUE_OK && part) {
      host = part;
      // A bracketed IPv6 literal is matched without its brackets.
      if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    }
    curl_free(part);
    trust.policyHost = host;
    bool accepted = false;
    try {
      accepted = transfer->trustConfiguration->serverTrustEvaluator(trust, host);
    } catch (...) {
      accepted = false;  // an evaluator that throws refuses
    }
    if (!accepted) {
      transfer->trustRefused = true;
      X509_STORE_CTX_set_error(ctx, X509_V_ERR_APPLICATION_VERIFICATION);
      return 0;
    }
    return 1;
  }

  static CURLcode onSslContext(CURL*, void* sslContext, void* arg) {
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(sslContext), &Transfer::onVerify, arg);
    return CURLE_OK;
  }
  SteadyClock::time_point idleDeadline() const {
    // A held transfer waits for its task's resume however long that takes.
    return userPaused ? SteadyClock::time_point::max() : lastActivity + idleTimeout;
  }

  std::string effectiveURL() const {
    const char* effective = nullptr;
    if (easy && curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
      return effective;
    }
    return url;
  }

  URLSessionReply failure(URLErrorCode code, std::string_view detail = {}) const {
    return URLSessionReply{std::nullopt, std::nullopt, makeURLError(code, effectiveURL(), detail)};
  }

  // The reply of a transfer that libcurl reports done with rc.
  URLSessionReply outcome(CURLcode rc) {
    if (bodyTooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
      return failure(kURLErrorDataLengthExceedsMaximum,
                     fmt::format("the reply body is larger than {} bytes", maxBodyBytes));
    }
    if (trustRefused) {
      return failure(kURLErrorServerCertificateUntrusted, "the server's certificate chain was refused");
    }
    if (bodyFailed) {
      URLSessionReply reply = failure(kURLErrorRequestBodyStreamExhausted, "the request body could not be read");
      if (bodyError) reply.error->userInfo.insert_or_assign(std::string(kUnderlyingErrorKey), Value(bodyError->localizedDescription));
      return reply;
    }
    if (downloadFailed) return failure(kURLErrorUnknown, "the download could not be written to its file");
    if (rc != CURLE_OK) {
      long osErrno = 0;
      curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
      return failure(codeForCurl(rc, osErrno), errorText[0] ? std::string_view(errorText) : curl_easy_strerror(rc));
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    HTTPURLResponse response;
    response.statusCode = static_cast<int>(status);
    response.url = effectiveURL();
    response.headers = std::move(responseHeaders);
    return URLSessionReply{std::move(responseBody), std::move(response), std::nullopt};
  }

  static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (transfer->download) {
      if (std::fwrite(data, 1, n, transfer->downloadFile) != n) {
        transfer->downloadFailed = true;
        return 0;
      }
      transfer->touch();
      transfer->downloadWritten += static_cast<curl_off_t>(n);
      if (transfer->task) {
        transfer->task->bytesReceived = transfer->downloadWritten;
        transfer->task->written(static_cast<std::int64_t>(n), transfer->downloadWritten,
                                transfer->task->bytesExpectedToReceive.load());
      }
      return n;
    }
    // Past the cap the exchange stops here: returning less than given makes libcurl fail it,
    // so no more of the reply is read or kept.
    if (n > transfer->maxBodyBytes - transfer->responseBody.size()) {
      transfer->bodyTooLarge = true;
      return 0;
    }
    transfer->touch();
    transfer->responseBody.append(data, n);
    if (transfer->task) {
      transfer->task->bytesReceived = static_cast<std::int64_t>(transfer->responseBody.size());
      if (!transfer->holdEvents) transfer->task->received(std::string(data, n));
    }
    return n;
  }

  // The head of a reply is complete: a final one (not an interim 1xx) is announced to a
  // delegate task, except a redirect the delegate is to decide on.
  void headEnded() {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || !task) return;
    headSeen = true;
    HTTPURLResponse response;
    response.statusCode = static_cast<int>(status);
    response.url = effectiveURL();
    response.headers = responseHeaders;
    std::int64_t expected = -1;
    if (auto length = response.headerValue("Content-Length")) {
      try {
        expected = std::stoll(*length);
      } catch (...) {
        expected = -1;
      }
    }
    task->bytesExpectedToReceive = expected;
    if (delegateRedirects && status >= 300 && status < 400 && response.headerValue("Location")) {
      holdEvents = true;
      return;
    }
    task->responseHead(response);
  }

  // Feeds a file or stream body to libcurl; a throttled stream pauses this transfer's
  // sending (not the thread) until it wants to go on.
  static std::size_t onRead(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::int64_t n = transfer->bodyStream->read(reinterpret_cast<std::uint8_t*>(buffer), size * count);
    if (n == BodyStream::kPaused) {
      transfer->sendThrottled = true;
      transfer->sendResumeAt = SteadyClock::now() + transfer->bodyStream->resumeDelay();
      return CURL_READFUNC_PAUSE;
    }
    if (n < 0) {
      transfer->bodyFailed = true;
      transfer->bodyError = transfer->bodyStream->streamError();
      return CURL_READFUNC_ABORT;
    }
    transfer->touch();
    return static_cast<std::size_t>(n);
  }

  static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    transfer->touch();
    const std::string_view line(data, size * count);
    if (line == "\r\n" || line == "\n") {
      transfer->headEnded();
    } else if (line.rfind("HTTP/", 0) == 0) {
      transfer->responseHeaders.clear();  // a new status line (after an interim reply) starts afresh
    } else if (auto colon = line.find(':'); colon != std::string_view::npos) {
      transfer->responseHeaders.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    return size * count;
  }

  // Counts the request body going out (and any byte coming in) as activity.
  static int onProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    auto* transfer = static_cast<Transfer*>(user);
    if (received != transfer->bytesReceived || sent != transfer->bytesSent) {
      const curl_off_t step = sent - transfer->bytesSent;
      transfer->bytesReceived = received;
      transfer->bytesSent = sent;
      transfer->touch();
      if (step > 0 && transfer->task && transfer->sendsBody) {
        transfer->task->bytesSent = sent;
        transfer->task->sent(step, sent, transfer->uploadLength);
      }
    }
    return 0;
  }
};

// A libcurl multi handle with the transfers it runs, driven by one thread at a time: the
// session's I/O thread, or a thread making a synchronous exchange. Its connection cache
// keeps connections alive for the transfers it runs later.
class Driver {
 public:
  Driver() : multi_((curlGlobalInit(), curl_multi_init())) {
    // No cap on connections per host: a transfer the server stalls must not keep others to
    // the same host waiting for a connection until it times out.
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, 0L);
  }
  ~Driver() {
    for (auto& [easy, transfer] : running_) curl_multi_remove_handle(multi_, easy);
    running_.clear();
    curl_multi_cleanup(multi_);
  }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Thread-safe: makes a wait() in progress return.
  void wakeup() { curl_multi_wakeup(multi_); }
  bool empty() const { return running_.empty(); }
  Transfer* find(CURL* easy) const {
    auto it = running_.find(easy);
    return it == running_.end() ? nullptr : it->second.get();
  }
  CURL* anyTransfer() const { return running_.empty() ? nullptr : running_.begin()->first; }

  // Takes the transfer on; on failure it stays with the caller and the error says why.
  std::optional<Error> add(std::unique_ptr<Transfer>& transfer) {
    transfer->touch();
    if (const CURLMcode rc = curl_multi_add_handle(multi_, transfer->easy); rc != CURLM_OK) {
      return makeURLError(kURLErrorUnknown, transfer->url, curl_multi_strerror(rc));
    }
    CURL* easy = transfer->easy;
    running_.emplace(easy, std::move(transfer));
    return std::nullopt;
  }

  // Takes a transfer out; libcurl closes its connection unless the exchange was complete.
  std::unique_ptr<Transfer> detach(CURL* easy) {
    auto it = running_.find(easy);
    if (it == running_.end()) return nullptr;
    std::unique_ptr<Transfer> transfer = std::move(it->second);
    running_.erase(it);
    curl_multi_remove_handle(multi_, easy);
    return transfer;
  }

  // Moves every transfer along, then hands each one that ended, done or idle for too long,
  // to ended(transfer, reply).
  template <class Ended>
  void perform(Ended&& ended) {
    // Throttled bodies whose pause is over send again (unless their task holds them).
    const auto start = SteadyClock::now();
    for (const auto& [easy, transfer] : running_) {
      if (transfer->sendThrottled && start >= transfer->sendResumeAt) {
        transfer->sendThrottled = false;
        transfer->touch();
        if (!transfer->userPaused) curl_easy_pause(easy, CURLPAUSE_CONT);
      }
    }
    int active = 0;
    curl_multi_perform(multi_, &active);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      const CURLcode rc = message->data.result;
      if (auto transfer = detach(message->easy_handle)) {
        URLSessionReply reply = transfer->outcome(rc);
        ended(std::move(transfer), std::move(reply));
      }
    }
    const auto now = SteadyClock::now();
    std::vector<CURL*> idle;
    for (const auto& [easy, transfer] : running_) {
      if (now >= transfer->idleDeadline()) idle.push_back(easy);
    }
    for (CURL* easy : idle) {
      auto transfer = detach(easy);
      const auto seconds = std::chrono::duration<double>(transfer->idleTimeout).count();
      URLSessionReply reply = transfer->failure(kURLErrorTimedOut, fmt::format("no data moved for {} s", seconds));
      ended(std::move(transfer), std::move(reply));
    }
  }

  // Sleeps until there is socket activity, libcurl's own timer or the first idle deadline
  // comes due, a wakeup(), or maxMillis pass.
  void wait(int maxMillis) {
    auto timeout = std::chrono::milliseconds(maxMillis);
    const auto now = SteadyClock::now();
    for (const auto& [easy, transfer] : running_) {
      if (!transfer->userPaused) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(transfer->idleDeadline() - now);
        timeout = std::clamp(left, std::chrono::milliseconds(0), timeout);
      }
      if (transfer->sendThrottled) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(transfer->sendResumeAt - now);
        timeout = std::clamp(left, std::chrono::milliseconds(0), timeout);
      }
    }
    int events = 0;
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(timeout.count()), &events);
  }

  std::atomic<bool> cancelled{false};

 private:
  CURLM* multi_;
  std::unordered_map<CURL*, std::unique_ptr<Transfer>> running_;
};

// Hands a reply the server sent to the session's cache, which keeps it when its headers
// allow.
void offerToCache(const Transfer& transfer, const URLSessionReply& reply) {
  if (!transfer.cache || !transfer.cacheableRequest || reply.error || !reply.response) return;
  transfer.cache->storeReply(*transfer.cacheableRequest, *reply.response, reply.data.value_or(std::string()));
}

void finishTask(std::unique_ptr<Transfer> transfer, URLSessionReply reply) {
  auto task = std::move(transfer->task);
  const bool delegated = task && task->reportsToDelegate();
  if (transfer->download && transfer->downloadFile) {
    std::fclose(transfer->downloadFile);
    transfer->downloadFile = nullptr;
    if (!reply.error) {
      // The file now belongs to the task, which hands it on and removes it after.
      std::string path = std::move(transfer->downloadPath);
      transfer->downloadPath.clear();
      if (delegated) {
        task->setDownloadLocation(std::move(path));
      } else {
        reply.data = std::move(path);
      }
    }
  }
  if (delegated) {
    // The delegate may change what goes into the cache, on its queue.
    if (transfer->cache && transfer->cacheableRequest && !reply.error && reply.response) {
      task->offerToCache(transfer->cache, *transfer->cacheableRequest);
    }
  } else {
    offerToCache(*transfer, reply);
  }
  transfer.reset();  // the connection is released before the completion can run
  if (task) task->finish(std::move(reply.data), std::move(reply.response), std::move(reply.error));
}

// The parts of a URL a redirect is judged by: scheme, host and port (the scheme's default
// when none is written), all lowercase.
struct Origin {
  std::string scheme, host, port;
  bool operator==(const Origin&) const = default;
};

std::optional<Origin> originOf(const std::string& text) {
  CURLU* url = curl_url();
  if (!url) return std::nullopt;
  std::optional<Origin> origin;
  if (curl_url_set(url, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK) {
    const auto part = [url](CURLUPart which, unsigned flags) {
      char* value = nullptr;
      std::string out;
      if (curl_url_get(url, which, &value, flags) == CURLUE_OK && value) out = value;
      curl_free(value);
      std::transform(out.begin(), out.end(), out.begin(),
                     [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
      return out;
    };
    origin = Origin{part(CURLUPART_SCHEME, 0), part(CURLUPART_HOST, 0), part(CURLUPART_PORT, CURLU_DEFAULT_PORT)};
  }
  curl_url_cleanup(url);
  return origin;
}

// Headers that carry the caller's credentials: they go only to the host they were meant for.
bool isCredentialHeader(std::string_view name) {
  return equalsIgnoringAsciiCase(name, "Authorization") || equalsIgnoringAsciiCase(name, "Proxy-Authorization") ||
         equalsIgnoringAsciiCase(name, "Cookie");
}

// The request a redirect reply points to: its Location resolved against the URL answered,
// the method turned into GET (body dropped) for 303, and for 301 and 302 after a POST; a
// kept method keeps the body that went out. None for a status that is not a redirect (301,
// 302, 303, 307, 308), a reply without a usable Location, or one that leads from https to
// plain http. The credential headers stay behind when the
// redirect leads to another host or port.
std::optional<URLRequest> redirectRequest(const Transfer& transfer, const HTTPURLResponse& response) {
  switch (response.statusCode) {
    case 301: case 302: case 303: case 307: case 308: break;
    default: return std::nullopt;  // 300, 304, 305: no redirect to follow
  }
  auto location = response.headerValue("Location");
  if (!location) return std::nullopt;
  CURLU* url = curl_url();
  if (!url) return std::nullopt;
  const std::string answered = transfer.effectiveURL();
  std::optional<URLRequest> next;
  if (curl_url_set(url, CURLUPART_URL, answered.c_str(), 0) == CURLUE_OK &&
      curl_url_set(url, CURLUPART_URL, location->c_str(), 0) == CURLUE_OK) {
    char* text = nullptr;
    if (curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK && text) {
      next = transfer.request;
      next->url = text;
      if (!transfer.bodyStream) next->body = transfer.requestBody;
      const int status = response.statusCode;
      if ((status == 303 && next->method != "HEAD") || ((status == 301 || status == 302) && next->method == "POST")) {
        next->method = "GET";
        next->body.clear();
        std::erase_if(next->headers, [](const auto& header) {
          return equalsIgnoringAsciiCase(header.first, "Content-Length") ||
                 equalsIgnoringAsciiCase(header.first, "Content-Type");
        });
      }
    }
    curl_free(text);
  }
  curl_url_cleanup(url);
  if (!next) return next;
  const auto from = originOf(answered);
  const auto to = originOf(next->url);
  if (!from || !to) return std::nullopt;
  if (from->scheme == "https" && to->scheme != "https") return std::nullopt;
  if (from->host != to->host || from->port != to->port) {
    std::erase_if(next->headers, [](const auto& header) { return isCredentialHeader(header.first); });
  }
  return next;
}

}  // namespace

struct URLSessionEngine::Loop {
  URLSessionConfiguration configuration;
  Driver io;  // the I/O thread's
  std::thread thread;

  std::mutex shutdownMutex;  // held for a whole shutdown, so a second caller waits for the first
  bool shutDown = false;

  std::mutex mutex;  // guards what follows; drivers are woken under it
  bool stopping = false;
  std::vector<std::unique_ptr<Transfer>> inbox;
  std::vector<std::shared_ptr<URLSessionTaskCore>> cancels;
  std::vector<std::pair<std::shared_ptr<URLSessionTaskCore>, bool>> pauses;
  bool refusing = false;  // finishTasksAndInvalidate: no new tasks
  URLSessionEngine* owner = nullptr;
  std::vector<std::unique_ptr<Driver>> idleDrivers;  // for synchronous exchanges
  std::vector<Driver*> activeDrivers;               // synchronous exchanges under way

  // The I/O thread's own.
  std::unordered_map<const URLSessionTaskCore*, CURL*> runningByTask;

  explicit Loop(URLSessionConfiguration c) : configuration(std::move(c)) {
    thread = std::thread([this] { run(); });
  }

  // Checks the request and builds its transfer, or says why it cannot be sent.
  std::unique_ptr<Transfer> prepare(const std::shared_ptr<URLSessionTaskCore>& task, const URLRequest& request,
                                    std::optional<Error>& error, const UploadBody* body = nullptr) const {
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
    transfer->request = request;
    if (task) {
      transfer->download = task->kind() == URLSessionTaskCore::Kind::Download;
      if (auto delegate = task->reportsToDelegate() ? task->delegate() : nullptr) {
        transfer->delegateRedirects = delegate->handlesRedirection();
      }
    }
    if (transfer->download) {
      std::error_code ec;
      std::string path = (std::filesystem::temp_directory_path(ec) / "velmora-download-XXXXXX").string();
      const int fd = ::mkstemp(path.data());
      if (fd < 0 || !(transfer->downloadFile = ::fdopen(fd, "wb"))) {
        if (fd >= 0) ::close(fd);
        error = makeURLError(kURLErrorUnknown, request.url, "no temporary file for the download");
        return nullptr;
      }
      transfer->downloadPath = std::move(path);
    }
    if (body) {
      if (const auto* data = std::get_if<std::string>(body)) {
        transfer->requestBody = *data;
      } else if (const auto* file = std::get_if<std::filesystem::path>(body)) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(*file, ec);
        if (ec) {
          error = makeURLError(kURLErrorRequestBodyStreamExhausted, request.url,
                               fmt::format("the file {} cannot be read", file->string()));
          return nullptr;
        }
        transfer->bodyStream = BodyStream::withFile(*file);
        transfer->uploadLength = static_cast<curl_off_t>(size);
      } else if (const auto* stream = std::get_if<std::shared_ptr<BodyStream>>(body); stream && *stream) {
        transfer->bodyStream = *stream;
        transfer->uploadLength = declaredLength(request).value_or(-1);
      }
    } else {
      transfer->requestBody = request.body;
    }
    if (transfer->bodyStream) transfer->bodyStream->open();
    configure(*transfer, request);
    if (configuration.urlCache && request.method == "GET") {
      transfer->cache = configuration.urlCache;
      transfer->cacheableRequest = request;
    }
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
    transfer.idleTimeout = std::chrono::milliseconds(static_cast<std::int64_t>(timeoutMillis(request)));
    transfer.maxBodyBytes = configuration.maximumResponseBytes;
    curl_easy_setopt(easy, CURLOPT_CURLU, transfer.parsedURL);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.errorText);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!configuration.caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, configuration.caFile.c_str());
    if (!configuration.caPath.empty()) curl_easy_setopt(easy, CURLOPT_CAPATH, configuration.caPath.c_str());
    if (configuration.serverTrustEvaluator) {
      // The evaluator decides on the chain and the host name; libcurl's own host check
      // would refuse before it is asked. The chain is still checked (by the evaluator), so
      // peer verification stays on, and a refused chain fails the handshake.
      transfer.trustConfiguration = &configuration;
      curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
      curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &Transfer::onSslContext);
      curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &transfer);
      // A connection checked for another transfer is not reused unchecked.
      curl_easy_setopt(easy, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    }
    // No overall time limit: the idle time-out is the drivers' (see Driver::perform).
    // A declared length past the cap fails before the body is read; 0 would mean no limit.
    if (transfer.maxBodyBytes > 0) {
      curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(transfer.maxBodyBytes));
    }
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);

    const bool sendsBody = request.method != "GET" && request.method != "HEAD";
    transfer.sendsBody = sendsBody;
    const bool streamed = sendsBody && transfer.bodyStream;
    if (request.method == "GET") {
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (request.method == "HEAD") {
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (streamed) {
      curl_easy_setopt(easy, CURLOPT_POST, 1L);
      curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Transfer::onRead);
      curl_easy_setopt(easy, CURLOPT_READDATA, &transfer);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, transfer.uploadLength);
      if (request.method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    } else {
      transfer.uploadLength = static_cast<curl_off_t>(transfer.requestBody.size());
      curl_easy_setopt(easy, CURLOPT_POST, 1L);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(transfer.requestBody.size()));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, transfer.requestBody.data());
      if (request.method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    if (transfer.task) transfer.task->bytesExpectedToSend = sendsBody ? transfer.uploadLength : 0;
    // A download may be larger than a reply kept in memory.
    if (transfer.download) curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(0));

    bool hasContentType = false;
    bool hasAccept = false;
    const auto addHeader = [&](const std::string& name, const std::string& value) {
      hasContentType = hasContentType || equalsIgnoringAsciiCase(name, "Content-Type");
      hasAccept = hasAccept || equalsIgnoringAsciiCase(name, "Accept");
      // libcurl sends "Name;" as a header with an empty value; "Name:" would remove it.
      const std::string line = value.empty() ? name + ";" : name + ": " + value;
      transfer.headerList = curl_slist_append(transfer.headerList, line.c_str());
    };
    for (const auto& [name, value] : request.headers) {
      // A streamed body's length is libcurl's to send (or chunked when not known).
      if (streamed && equalsIgnoringAsciiCase(name, "Content-Length")) continue;
      addHeader(name, value);
    }
    // The session's headers, for those the request does not set itself.
    for (const auto& header : configuration.HTTPAdditionalHeaders) {
      const std::string& name = header.first;
      const bool given = std::any_of(request.headers.begin(), request.headers.end(),
                                     [&](const auto& h) { return equalsIgnoringAsciiCase(h.first, name); });
      if (!given && isToken(name) && isSafeValue(header.second)) addHeader(name, header.second);
    }
    // A streamed body of unknown length goes out in chunks.
    if (streamed && transfer.uploadLength < 0) {
      const bool chunked = std::any_of(request.headers.begin(), request.headers.end(),
                                       [](const auto& h) { return equalsIgnoringAsciiCase(h.first, "Transfer-Encoding"); });
      if (!chunked) addHeader("Transfer-Encoding", "chunked");
    }
    // Suppress what libcurl would add on its own: "Expect: 100-continue", a form content
    // type on bodies, and "Accept: */*". The request goes out with the caller's headers only
    // (plus Host and Content-Length).
    transfer.headerList = curl_slist_append(transfer.headerList, "Expect:");
    if (sendsBody && !hasContentType) transfer.headerList = curl_slist_append(transfer.headerList, "Content-Type:");
    if (!hasAccept) transfer.headerList = curl_slist_append(transfer.headerList, "Accept:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headerList);
  }

  void ended(std::unique_ptr<Transfer> transfer, URLSessionReply reply) {
    runningByTask.erase(transfer->task.get());
    if (transfer->holdEvents && !reply.error && reply.response) {
      redirect(std::move(transfer), std::move(reply));
      return;
    }
    finishTask(std::move(transfer), std::move(reply));
  }

  // Hands a redirect reply to the task's delegate, which either names the request to go on
  // with (started afresh for the same task) or has the task complete with the reply.
  void redirect(std::unique_ptr<Transfer> transfer, URLSessionReply reply) {
    auto task = transfer->task;
    auto next = redirectRequest(*transfer, *reply.response);
    // A streamed body that keeps going (307, 308) is sent again from a fresh copy of its
    // stream; one that cannot be copied ends the task with the redirect reply.
    std::shared_ptr<BodyStream> body;
    if (next && transfer->bodyStream && next->method != "GET" && next->method != "HEAD") {
      body = transfer->bodyStream->copy();
      if (!body) next.reset();
    }
    if (!next || task->redirects.fetch_add(1) >= kMaxRedirects) {
      if (next) reply = transfer->failure(kURLErrorHTTPTooManyRedirects);
      transfer->holdEvents = false;
      finishTask(std::move(transfer), std::move(reply));
      return;
    }
    transfer.reset();
    std::weak_ptr<URLSessionEngine> engine = owner->weak_from_this();
    task->redirect(std::move(*reply.response), reply.data.value_or(std::string()), std::move(*next),
                   [engine, task, body = std::move(body)](URLRequest request) {
                     if (auto e = engine.lock()) {
                       if (body) {
                         const UploadBody upload(body);
                         e->start(task, request, &upload);
                       } else {
                         e->start(task, request);
                       }
                     } else {
                       task->finish(std::nullopt, std::nullopt,
                                    makeURLError(kURLErrorCancelled, request.url, "the session was invalidated"));
                     }
                   });
  }

  // Redirects followed in a row; the next one fails the task.
  static constexpr int kMaxRedirects = 10;

  void setPaused(const std::shared_ptr<URLSessionTaskCore>& task, bool paused) {
    auto it = runningByTask.find(task.get());
    if (it == runningByTask.end()) return;
    Transfer* transfer = io.find(it->second);
    if (!transfer) return;
    transfer->userPaused = paused;
    if (paused) {
      curl_easy_pause(it->second, CURLPAUSE_ALL);
    } else {
      transfer->touch();
      curl_easy_pause(it->second, transfer->sendThrottled ? CURLPAUSE_SEND : CURLPAUSE_CONT);
    }
  }

  void cancelRunning(CURL* easy) {
    auto transfer = io.detach(easy);
    if (!transfer) return;
    URLSessionReply reply = transfer->failure(kURLErrorCancelled);
    ended(std::move(transfer), std::move(reply));
  }

  void admit(std::unique_ptr<Transfer> transfer) {
    // A cancel that came before the transfer reached this thread is honoured here; one that
    // comes later finds it in runningByTask.
    if (transfer->task->cancelRequested()) {
      URLSessionReply reply = transfer->failure(kURLErrorCancelled);
      finishTask(std::move(transfer), std::move(reply));
      return;
    }
    const URLSessionTaskCore* key = transfer->task.get();
    CURL* easy = transfer->easy;
    if (auto error = io.add(transfer)) {
      finishTask(std::move(transfer), URLSessionReply{std::nullopt, std::nullopt, std::move(error)});
      return;
    }
    runningByTask.emplace(key, easy);
  }

  void run() {
    for (;;) {
      std::vector<std::unique_ptr<Transfer>> adds;
      std::vector<std::shared_ptr<URLSessionTaskCore>> cancelled;
      std::vector<std::pair<std::shared_ptr<URLSessionTaskCore>, bool>> paused;
      bool stop = false;
      {
        std::lock_guard lock(mutex);
        adds.swap(inbox);
        cancelled.swap(cancels);
        paused.swap(pauses);
        stop = stopping;
      }
      for (auto& transfer : adds) admit(std::move(transfer));
      for (const auto& [task, hold] : paused) setPaused(task, hold);
      for (const auto& task : cancelled) {
        if (auto it = runningByTask.find(task.get()); it != runningByTask.end()) cancelRunning(it->second);
      }
      if (stop) {
        while (CURL* easy = io.anyTransfer()) cancelRunning(easy);
        return;
      }
      io.perform([this](std::unique_ptr<Transfer> transfer, URLSessionReply reply) {
        ended(std::move(transfer), std::move(reply));
      });
      io.wait(kIdlePollMillis);
    }
  }

  URLSessionReply cancelledReply(const URLRequest& request) const {
    return URLSessionReply{std::nullopt, std::nullopt,
                           makeURLError(kURLErrorCancelled, request.url, "the session was invalidated")};
  }

  URLSessionReply perform(const URLRequest& request) {
    std::optional<Error> error;
    auto transfer = prepare(nullptr, request, error);
    if (!transfer) return URLSessionReply{std::nullopt, std::nullopt, std::move(error)};
    if (transfer->cache) {
      if (auto cached = transfer->cache->cachedReply(request)) return std::move(*cached);
    }

    std::unique_ptr<Driver> driver;
    {
      std::lock_guard lock(mutex);
      if (stopping) return cancelledReply(request);
      if (!idleDrivers.empty()) {
        driver = std::move(idleDrivers.back());
        idleDrivers.pop_back();
      }
    }
    if (!driver) driver = std::make_unique<Driver>();
    {
      std::lock_guard lock(mutex);
      if (stopping) return cancelledReply(request);
      activeDrivers.push_back(driver.get());
    }

    std::optional<URLSessionReply> reply;
    if (auto addError = driver->add(transfer)) {
      reply = URLSessionReply{std::nullopt, std::nullopt, std::move(addError)};
    }
    while (!reply) {
      driver->perform([&](std::unique_ptr<Transfer> done, URLSessionReply r) {
        offerToCache(*done, r);
        done.reset();
        reply = std::move(r);
      });
      if (reply) break;
      if (driver->cancelled.load()) {
        auto stopped = driver->detach(driver->anyTransfer());
        reply = stopped ? stopped->failure(kURLErrorCancelled) : cancelledReply(request);
        break;
      }
      driver->wait(kIdlePollMillis);
    }

    {
      std::lock_guard lock(mutex);
      std::erase(activeDrivers, driver.get());
      if (!stopping && driver->empty() && idleDrivers.size() < kMaxIdleDrivers) {
        idleDrivers.push_back(std::move(driver));
      }
    }
    return std::move(*reply);
  }
};

URLSessionEngine::URLSessionEngine(URLSessionConfiguration configuration)
    : loop_(std::make_unique<Loop>(std::move(configuration))) {
  loop_->owner = this;
}

URLSessionEngine::~URLSessionEngine() { shutdown(); }

void URLSessionEngine::start(const std::shared_ptr<URLSessionTaskCore>& task, const URLRequest& request,
                             const UploadBody* body) {
  bool refused = false;
  {
    std::lock_guard lock(loop_->mutex);
    refused = loop_->refusing && task->redirects.load() == 0;
  }
  if (refused) {
    task->finish(std::nullopt, std::nullopt, makeURLError(kURLErrorCancelled, request.url, "the session was invalidated"));
    return;
  }
  std::optional<Error> error;
  auto transfer = loop_->prepare(task, request, error, body);
  if (!transfer) {
    task->finish(std::nullopt, std::nullopt, std::move(error));
    return;
  }
  if (transfer->cache) {
    if (auto cached = transfer->cache->cachedReply(request)) {
      transfer.reset();
      task->finish(std::move(cached->data), std::move(cached->response), std::nullopt);
      return;
    }
  }
  {
    std::lock_guard lock(loop_->mutex);
    if (!loop_->stopping) {
      loop_->inbox.push_back(std::move(transfer));
      loop_->io.wakeup();
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
  loop_->io.wakeup();
}

void URLSessionEngine::setPaused(const std::shared_ptr<URLSessionTaskCore>& task, bool paused) {
  std::lock_guard lock(loop_->mutex);
  if (loop_->stopping) return;
  loop_->pauses.emplace_back(task, paused);
  loop_->io.wakeup();
}

void URLSessionEngine::refuseNewTasks() {
  std::lock_guard lock(loop_->mutex);
  loop_->refusing = true;
}

URLSessionReply URLSessionEngine::perform(const URLRequest& request) { return loop_->perform(request); }

void URLSessionEngine::shutdown() {
  std::lock_guard shutdownLock(loop_->shutdownMutex);
  if (loop_->shutDown) return;
  std::vector<std::unique_ptr<Driver>> idle;
  {
    std::lock_guard lock(loop_->mutex);
    loop_->stopping = true;
    loop_->io.wakeup();
    for (Driver* driver : loop_->activeDrivers) {
      driver->cancelled.store(true);
      driver->wakeup();
    }
    idle.swap(loop_->idleDrivers);
  }
  idle.clear();
  if (loop_->thread.joinable()) loop_->thread.join();
  loop_->shutDown = true;
}

}  // namespace velmora::platform::net

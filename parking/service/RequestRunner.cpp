#include "parking/service/RequestRunner.h"

#include <fmt/format.h>

#include <atomic>

#include "parking/config/VelmoraSDKConfig.h"
#include "platform/core/Log.h"
#include "platform/net/URLError.h"
#include "platform/net/URLSession.h"

namespace velmora::runner {

namespace {

std::atomic<double> timeoutSeconds{60.0};

}  // namespace

double requestTimeoutSeconds() { return timeoutSeconds.load(); }

void setRequestTimeoutSeconds(double seconds) { timeoutSeconds.store(seconds); }

std::string statusFailureMessage(int statusCode) { return fmt::format("Http Status failed: {}", statusCode); }

void reportMissingInitialRecord(std::string_view path) {
  platform::reportProgrammingError(fmt::format("endpoint \"{}\" has no initial record", path));
}

std::string joinServerAndPath(std::string_view serverName, std::string_view path) {
  while (serverName.ends_with('/')) serverName.remove_suffix(1);
  while (path.starts_with('/')) path.remove_prefix(1);
  std::string url(serverName);
  url += '/';
  url += path;
  return url;
}

namespace {

platform::net::URLRequest makeRequest(std::string_view path, Headers userHeaders, std::string body) {
  platform::net::URLRequest request;
  request.url = joinServerAndPath(VelmoraSDKConfig::getServerName(), path);
  request.method = "POST";
  request.timeoutSeconds = requestTimeoutSeconds();
  request.headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}};
  for (auto& header : userHeaders) request.headers.push_back(std::move(header));
  request.body = std::move(body);
  return request;
}

// The session checks the URL before sending anything. Text that is no URL, or a URL of a
// scheme other than http and https, comes back as the session's "unsupported URL" error,
// like any other transport error: the caller gets one failure report and a blocking call
// returns its starting record marked "Failure".
Reply readSessionReply(const std::string& url, std::optional<std::string> data,
                       std::optional<platform::net::HTTPURLResponse> response, std::optional<platform::Error> error) {
  Reply reply;
  if (error) {
    reply.error = std::move(error);
  } else if (!response) {
    // The session always gives a response when no error came; should it not, the call
    // still reports once, as a bad server response.
    reply.error = platform::net::makeURLError(platform::net::kURLErrorBadServerResponse, url, "no response");
  } else {
    reply.statusCode = response->statusCode;
    // When the server answered, the session gives the body as text, empty included; an
    // empty 200 body then fails to decode as JSON, which reports a decoding error.
    reply.body = data ? std::move(*data) : std::string();
  }
  return reply;
}

}  // namespace

void post(std::string_view path, Headers userHeaders, std::string body, std::function<void(Reply)> done) {
  platform::net::URLRequest request = makeRequest(path, std::move(userHeaders), std::move(body));
  const std::string url = request.url;
  auto task = platform::net::URLSession::shared()->dataTask(
      std::move(request), [done = std::move(done), url](std::optional<std::string> data,
                                                        std::optional<platform::net::HTTPURLResponse> response,
                                                        std::optional<platform::Error> error) {
        done(readSessionReply(url, std::move(data), std::move(response), std::move(error)));
      });
  task->resume();
}

Reply postBlocking(std::string_view path, Headers userHeaders, std::string body) {
  const platform::net::URLRequest request = makeRequest(path, std::move(userHeaders), std::move(body));
  auto reply = platform::net::URLSession::shared()->sendSynchronousRequest(request);
  return readSessionReply(request.url, std::move(reply.data), std::move(reply.response), std::move(reply.error));
}

}  // namespace velmora::runner

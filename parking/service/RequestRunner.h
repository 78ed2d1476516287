#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "parking/service/RecordCodec.h"
#include "platform/core/Error.h"

namespace velmora {

// One call of the parking service: the path, whether the user headers go with it, how the
// reply's dates are read, and the result record a failure report starts from.
template <class Result>
struct Endpoint {
  std::string_view path;                // "/v4.0/user/login"
  bool sendsUserHeaders = true;         // "UserID"/"AuthenticationToken" from request.userId/userToken when present
  const DateRule* dateRule = nullptr;   // reply date decoding (must outlive the call); nullptr = default settings
  Result (*initialRecord)() = nullptr;  // the result record with its initial values (starting record / non-200 record)
};

// What an asynchronous call reports: exactly one of a result record and an error.
template <class Result>
using Completion = std::function<void(std::optional<Result> result, std::optional<platform::Error> error)>;

// Runs one call of the parking service.
//
// POSTs the request, encoded as JSON, to VelmoraSDKConfig::getServerName() joined to the
// endpoint's path with exactly one slash (joinServerAndPath), with a
// 60-second timeout and the headers "Content-Type" and "Accept" ("application/json"), then,
// for endpoints that send them, "UserID" (the request's userId in decimal) and
// "AuthenticationToken" (its userToken unchanged, empty included), each only when the
// request holds it.
//
// The completion runs once, on the URL session's callback queue, with:
//  - no record and the transport error (timeout and unreachable host included);
//  - on a status other than 200, the endpoint's initial record with result "Failure" and
//    message "Http Status failed: <code>"; the body is not read;
//  - on 200, the body decoded by the result's decoder with the endpoint's date rule, or no
//    record and the decoding error. An empty body is not JSON, so it is a decoding error.
// When the request does not encode (a position that is not a finite number), the completion
// runs on the calling thread before runRequest returns, and nothing is sent. A server name
// and path that do not make a usable URL are reported the same way as a transport error
// would be, once, on the callback queue (see RequestRunner.cpp).
//
// The request is read only while runRequest runs; it may change or go away afterwards.
template <class Request, class Result>
void runRequest(const Endpoint<Result>& endpoint, const Request& request,
                std::type_identity_t<Completion<Result>> completion);

// The blocking form: the same steps as runRequest, with the exchange and the decoding done
// on the calling thread, waiting with no time limit of its own (the request's idle time-out
// bounds it). Returns the decoded record or the non-200 record; when the call reports an
// error, the endpoint's initial record with result "Failure" and the error's localized
// description as message. It needs no other thread and no queue to finish, so any number
// of blocking calls made at once, inside completions of other calls included, all return.
template <class Request, class Result>
Result runRequestBlocking(const Endpoint<Result>& endpoint, const Request& request);

// ---- the runner's own pieces, shared by the templates above ----
namespace runner {

using Headers = std::vector<std::pair<std::string, std::string>>;

// How an exchange ended, as the runner reads it: an error, or an HTTP status with its body.
struct Reply {
  std::optional<platform::Error> error;
  int statusCode = 0;
  std::string body;
};

// POSTs body to the server name followed by path with the JSON headers and then the given
// user headers; calls done exactly once, on the URL session's callback queue.
void post(std::string_view path, Headers userHeaders, std::string body, std::function<void(Reply)> done);
// The same exchange, done on the calling thread; returns how it ended.
Reply postBlocking(std::string_view path, Headers userHeaders, std::string body);

// The request timeout, 60 seconds. Only tests change it, to see a timeout without waiting a
// minute; it applies to requests started after the change.
double requestTimeoutSeconds();
void setRequestTimeoutSeconds(double seconds);

// "Http Status failed: " followed by the code.
std::string statusFailureMessage(int statusCode);

// The URL of an endpoint: the server name, one "/", the path. Slashes at the end of the
// server name and at the start of the path are folded into that one, so "https://host/" and
// "https://host" both give "https://host/v4.0/user/login".
std::string joinServerAndPath(std::string_view serverName, std::string_view path);

// Reports an endpoint whose result has no default constructor and no initialRecord.
void reportMissingInitialRecord(std::string_view path);

template <class T>
const T* presentValue(const std::optional<T>& v) {
  return v ? &*v : nullptr;
}
template <class T>
const T* presentValue(const T& v) {
  return &v;
}

template <class Request>
Headers userHeaders(const Request& request) {
  Headers headers;
  if constexpr (requires { request.userId; }) {
    if (const auto* id = presentValue(request.userId)) headers.emplace_back("UserID", std::to_string(*id));
  }
  if constexpr (requires { request.userToken; }) {
    if (const auto* token = presentValue(request.userToken)) headers.emplace_back("AuthenticationToken", *token);
  }
  return headers;
}

template <class Result>
Result initialRecord(Result (*make)(), std::string_view path) {
  if (make) return make();
  if constexpr (std::is_default_constructible_v<Result>) {
    return Result();
  } else {
    // A programming error of the endpoint table. A result record decodes from {} to its
    // defaults, which is the closest record there is.
    reportMissingInitialRecord(path);
    return decodeRecord<Result>(platform::Value(platform::Dict{})).value();
  }
}

// Marks a record as failed: result "Failure" and the given message. With no message, the
// message field is emptied (an optional message becomes nil).
template <class Result>
void markFailure(Result& record, std::optional<std::string> message) {
  record.result = "Failure";
  if (message) {
    record.message = std::move(*message);
  } else {
    record.message = decltype(record.message){};
  }
}

// What a call reports for a reply: exactly one of a record and an error.
template <class Result>
struct Outcome {
  std::optional<Result> result;
  std::optional<platform::Error> error;
};

// Reads a reply as the endpoint's call does: the transport error; the initial record marked
// "Failure" for a status other than 200; otherwise the decoded body or the decoding error.
template <class Result>
Outcome<Result> readReply(Reply reply, const DateRule* dates, Result (*make)(), std::string_view path) {
  if (reply.error) return {std::nullopt, std::move(reply.error)};
  if (reply.statusCode != 200) {
    Result failure = initialRecord(make, path);
    markFailure(failure, statusFailureMessage(reply.statusCode));
    return {std::move(failure), std::nullopt};
  }
  platform::Error decodeError;
  std::optional<Result> decoded = decodeRecordJSON<Result>(reply.body, &decodeError, dates);
  if (decoded) return {std::move(decoded), std::nullopt};
  return {std::nullopt, std::move(decodeError)};
}

}  // namespace runner

template <class Request, class Result>
void runRequest(const Endpoint<Result>& endpoint, const Request& request,
                std::type_identity_t<Completion<Result>> completion) {
  // A caller that wants no report still gets its request sent.
  if (!completion) completion = [](std::optional<Result>, std::optional<platform::Error>) {};
  runner::Headers headers;
  if (endpoint.sendsUserHeaders) headers = runner::userHeaders(request);
  platform::Error encodeError;
  std::optional<std::string> body = encodeRecordJSON(request, &encodeError);
  if (!body) {
    completion(std::nullopt, std::move(encodeError));
    return;
  }
  runner::post(endpoint.path, std::move(headers), std::move(*body),
               [completion = std::move(completion), dates = endpoint.dateRule, make = endpoint.initialRecord,
                path = std::string(endpoint.path)](runner::Reply reply) {
                 auto outcome = runner::readReply<Result>(std::move(reply), dates, make, path);
                 completion(std::move(outcome.result), std::move(outcome.error));
               });
}

template <class Request, class Result>
Result runRequestBlocking(const Endpoint<Result>& endpoint, const Request& request) {
  Result record = runner::initialRecord(endpoint.initialRecord, endpoint.path);
  runner::Headers headers;
  if (endpoint.sendsUserHeaders) headers = runner::userHeaders(request);
  platform::Error encodeError;
  std::optional<std::string> body = encodeRecordJSON(request, &encodeError);
  if (!body) {
    runner::markFailure(record, encodeError.localizedDescription);
    return record;
  }
  auto outcome =
      runner::readReply<Result>(runner::postBlocking(endpoint.path, std::move(headers), std::move(*body)),
                                endpoint.dateRule, endpoint.initialRecord, endpoint.path);
  if (outcome.result) return std::move(*outcome.result);
  runner::markFailure(record, outcome.error ? std::optional<std::string>(outcome.error->localizedDescription)
                                            : std::nullopt);
  return record;
}

}  // namespace velmora

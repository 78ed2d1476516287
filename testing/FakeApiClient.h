#pragma once

#include <deque>
#include <memory>
#include <string>
#include <utility>

#include "beacons/model/KSApiClientPort.h"

namespace velmora::kestrine::testing {

// The cloud API client as the records see it: every call is recorded with its method,
// path and parameters, and waits until the test answers it (in call order, or by index).
// A paged load is answered page by page; the next page is a new pending call.
class FakeApiClient : public KSApiClientPort {
 public:
  struct Call {
    std::string method, path;
    platform::Value parameters;
    Success success;
    PageSuccess pageSuccess;
    Failure failure;
  };

  void GET(std::string path, platform::Value parameters, Success success, Failure failure) override {
    record("GET", std::move(path), std::move(parameters), std::move(success), nullptr, std::move(failure));
  }
  void POST(std::string path, platform::Value parameters, Success success, Failure failure) override {
    record("POST", std::move(path), std::move(parameters), std::move(success), nullptr, std::move(failure));
  }
  void DELETE(std::string path, platform::Value parameters, Success success, Failure failure) override {
    record("DELETE", std::move(path), std::move(parameters), std::move(success), nullptr, std::move(failure));
  }
  void loadAllPagesForPath(std::string path, platform::Value parameters, PageSuccess success,
                           Failure failure) override {
    record("PAGES", std::move(path), std::move(parameters), nullptr, std::move(success), std::move(failure));
  }

  // Answers the oldest pending call with a reply.
  void reply(const platform::Value& value) {
    Call call = take();
    if (call.success) call.success(value);
  }
  // Answers the oldest pending paged load with one page; with `more` the same load stays
  // pending for its next page.
  void page(const platform::Array& items, bool more) {
    Call& call = pending.front();
    PageSuccess success = call.pageSuccess;
    if (!more) pending.pop_front();
    if (success) success(items, more);
  }
  void fail(const platform::Error& error) {
    Call call = take();
    if (call.failure) call.failure(error);
  }

  std::deque<Call> pending;
  std::deque<Call> all;  // every call made, answered or not

 private:
  void record(std::string method, std::string path, platform::Value parameters, Success success,
              PageSuccess pageSuccess, Failure failure) {
    Call call{std::move(method), std::move(path), std::move(parameters), std::move(success), std::move(pageSuccess),
              std::move(failure)};
    all.push_back(Call{call.method, call.path, call.parameters, nullptr, nullptr, nullptr});
    pending.push_back(std::move(call));
  }
  Call take() {
    Call call = std::move(pending.front());
    pending.pop_front();
    return call;
  }
};

}  // namespace velmora::kestrine::testing

#include "platform/net/URLSession.h"

#include <utility>

#include "platform/dispatch/Scheduler.h"
#include "platform/net/URLSessionEngine.h"
#include "platform/net/URLSessionTaskCore.h"

namespace platform::net {

URLSession::URLSession(URLSessionConfiguration configuration)
    : configuration_(std::move(configuration)), engine_(std::make_shared<URLSessionEngine>(configuration_)) {}

URLSession::~URLSession() { engine_->shutdown(); }

std::shared_ptr<URLSession> URLSession::shared() {
  // Never destroyed: requests may still complete while the process exits.
  static auto* session = new std::shared_ptr<URLSession>(create());
  return *session;
}

std::shared_ptr<URLSession> URLSession::create(URLSessionConfiguration configuration) {
  return std::shared_ptr<URLSession>(new URLSession(std::move(configuration)));
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTask(URLRequest request, URLSessionDataTask::Completion completion) {
  auto queue = configuration_.callbackQueue ? configuration_.callbackQueue : dispatch::Scheduler::shared()->globalQueue();
  auto core = std::make_shared<URLSessionTaskCore>(std::move(completion), std::move(queue));
  return std::shared_ptr<URLSessionDataTask>(new URLSessionDataTask(engine_, std::move(request), std::move(core)));
}

URLSessionReply URLSession::sendSynchronousRequest(const URLRequest& request) { return engine_->perform(request); }

void URLSession::invalidateAndCancel() { engine_->shutdown(); }

}  // namespace platform::net
